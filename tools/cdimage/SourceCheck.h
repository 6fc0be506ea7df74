#pragma once
// The files of an image are read after the folder was walked (by libisofs' writer thread, or by
// IMAPI2FS when its image stream is read), so a file can change, vanish or give fewer bytes than
// its size said in between. Each file's state is taken when it is added to the image and compared
// once it has been read; an image that would hold a file other than it is, is not written, and
// the message names every such file and what became of it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace cdimage {

// What a file is at one moment, enough to tell that it changed.
struct FileState {
  uint64_t size = 0;
  int64_t modified = 0;                     // modification time, nanoseconds since 1970 (Windows: 100 ns steps)
  int64_t changed = 0;                      // status change time, the same way
  uint64_t volume = 0, index = 0;           // which file: device and inode, or volume serial and file index
  uint32_t mode = 0, owner = 0, group = 0;  // POSIX permissions and owner (Rock Ridge); 0 on Windows
};

// When a difference was seen: between the walk and the file's read, or over the read.
enum class Moment { BeforeRead, WhileRead };

// How `after` differs from `before`, as "grew from 4,096 to 4,196 bytes while it was read"; empty
// when it does not.
std::string describeChange(const FileState& before, const FileState& after, Moment moment);
// "was removed before it was read", "… while it was read"
std::string describeRemoval(Moment moment);
// "read 23 of 4,096 bytes"
std::string describeShortRead(uint64_t got, uint64_t size);
// A count with thousands separated: "4,096".
std::string countText(uint64_t n);

// The files that did not stay as they were, gathered from whichever thread reads them.
class SourceProblems {
 public:
  // At most this many files are named in the message; the rest are counted.
  static constexpr size_t kNamedFiles = 10;

  void add(const std::filesystem::path& file, const std::string& what);
  bool empty() const;
  // One line: each file and what happened to it, and that the image was not written.
  std::string message() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_named;
  size_t m_count = 0;
};

}  // namespace cdimage
