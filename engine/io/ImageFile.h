#pragma once
// The platform's file: positioned reads and writes, one flush to the disk per command, and a lock
// that keeps other writers out while readers may go on. The only place that talks to the
// operating system.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/Error.h"

namespace umbra {

class ImageFile {
 public:
  enum class Mode { ReadOnly, ReadWrite };

  // A file for one walk through the image in order (listing every folder) needs few read-ahead
  // windows; one that finds, checks and writes the same folders again keeps many.
  static constexpr size_t kManyWindows = 32;  // 8 MiB: the metadata of most images, read once
  static constexpr size_t kFewWindows = 4;
  explicit ImageFile(size_t windows = kManyWindows) : m_windows(windows) {}
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile() { close(); }

  Error open(const std::string& path, Mode mode);
  void close();
  bool isOpen() const;
  bool isWritable() const { return isOpen() && m_mode == Mode::ReadWrite; }
  uint64_t size() const { return m_size; }

  // Reads up to n bytes at offset; got is how many arrived (fewer at the end of the file).
  // Small reads are served from a read-ahead window: an image's folders lie side by side, and
  // listing them all would otherwise cost one system call per folder.
  bool readAt(uint64_t offset, void* buffer, size_t n, size_t& got) const;
  // Writes n bytes at offset. The bytes reach the disk with the next sync(); reads see them at once.
  bool writeAt(uint64_t offset, const void* buffer, size_t n);
  // Makes every write so far durable; false when the system could not.
  bool sync();
  // The last system error as text.
  static std::string lastErrorText();

  // Whether path still names the file held open here, as this object last saw it: the same file
  // on the same volume (device and inode, or volume serial and file index), with the size and
  // modification time it had when opened or last written through this object. Another file renamed
  // over the path, or bytes copied into the open file, make it false; why says which.
  bool stillNamedBy(const std::string& path, std::string& why) const;
  // Reads from the file itself, past the read-ahead windows, to see what another program wrote.
  bool readFresh(uint64_t offset, void* buffer, size_t n, size_t& got) const {
    return readDirect(offset, buffer, n, got);
  }

 private:
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
  bool readDirect(uint64_t offset, void* buffer, size_t n, size_t& got) const;

  // Which file, on which volume, with its size and modification time.
  struct Identity {
    uint64_t volume = 0;
    uint64_t file = 0;
    uint64_t size = 0;
    int64_t modified = 0;  // nanoseconds (Windows: 100 ns units)
  };
  bool identifyOpenFile(Identity& id) const;
  static bool identifyPath(const std::string& path, Identity& id);
  Identity m_seen;  // as opened, or as this object's last write left it

  void dropWindows(uint64_t offset, uint64_t n) const;
  // Copies written bytes into the read-ahead windows that hold them, so reads go on from memory.
  void updateWindows(uint64_t offset, const void* buffer, size_t n);

  // Several windows: the trees keep their folders in separate runs of sectors, and a command visits
  // the same folders again (find, check, write), so what was read once stays.
  struct Window {
    uint64_t start = 0;
    uint64_t lastUse = 0;
    size_t size = 0;                  // bytes held; 0 = empty
    std::unique_ptr<uint8_t[]> data;  // kWindowSize bytes once first used, never zero-filled
  };
  static constexpr size_t kWindowSize = 256u << 10;
  static constexpr size_t kSmallRead = 32u << 10;
  Mode m_mode = Mode::ReadOnly;
  uint64_t m_size = 0;
  mutable std::vector<Window> m_windows;
  mutable uint64_t m_uses = 0;  // the least recently used window is refilled
};

}  // namespace umbra
