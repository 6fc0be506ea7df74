#pragma once
// Where extract writes: folders and files made one name at a time inside a destination folder,
// never through a symbolic link and never over an existing entry unless asked. The only place of
// the command line tool that writes files.
#include <cstddef>
#include <cstdint>
#include <string>

namespace umbra::cli {

// What became of one request.
enum class Made {
  Done,
  Exists,      // an entry of that name is there (and was not to be replaced)
  Link,        // a symbolic link (or other reparse point) stands there; it is never followed
  NotAFolder,  // something other than a folder stands where a folder was to be entered
  Failed,      // the system refused; the reason says why
};

struct Outcome {
  Made made = Made::Done;
  std::string reason;  // the system's words when Failed
  explicit operator bool() const { return made != Made::Done; }
};

class OutputFile;

class OutputFolder {
 public:
  OutputFolder() = default;
  OutputFolder(OutputFolder&& other) noexcept;
  OutputFolder& operator=(OutputFolder&& other) noexcept;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  ~OutputFolder();

  // Opens the destination folder, making it (not its parents) when it is missing.
  static Outcome openRoot(const std::string& path, OutputFolder& out);
  // Makes the folder `name` here, or enters the plain folder already there.
  Outcome enter(const std::string& name, OutputFolder& out) const;
  // Creates the file `name`; replace removes a file or link already there first (never a folder).
  Outcome create(const std::string& name, bool replace, OutputFile& out) const;
  // Makes a symbolic link `name` holding target, which is never looked at.
  Outcome link(const std::string& name, const std::string& target, bool replace) const;
  // Removes the file `name` (a partly written one).
  void remove(const std::string& name) const;
  // Sets the modification time of the entry `name` here (a link itself, not its target).
  void setModified(const std::string& name, int64_t seconds) const;

 private:
#ifdef _WIN32
  std::wstring m_path;  // with a trailing separator
#else
  int m_fd = -1;
#endif
};

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
  // Writes all n bytes; false (reason set) when the system could not.
  bool write(const void* data, size_t n, std::string& reason);
  // Extends the file by n zero bytes without writing them where the system allows.
  bool skip(uint64_t n, std::string& reason);
  // Sets the size (after a final skip), the modification time, and closes; false when any failed.
  bool finish(bool hasModified, int64_t seconds, std::string& reason);

 private:
  friend class OutputFolder;
  uint64_t m_size = 0;
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
};

// Standard output as the destination of cat: every byte or an error.
bool writeStandardOutput(const void* data, size_t n, std::string& reason);

}  // namespace umbra::cli
