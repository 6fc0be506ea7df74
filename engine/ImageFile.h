#pragma once
// The platform's file: positioned reads and writes, write-through, and a lock that keeps other
// writers out while readers may go on. The only place that talks to the operating system.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Error.h"

namespace umbra {

class ImageFile {
 public:
  enum class Mode { ReadOnly, ReadWrite };

  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile() { close(); }

  Error open(const std::string& path, Mode mode);
  void close();
  bool isOpen() const;
  bool isWritable() const { return isOpen() && m_mode == Mode::ReadWrite; }
  uint64_t size() const { return m_size; }

  // Reads up to n bytes at offset; got is how many arrived (fewer at the end of the file).
  bool readAt(uint64_t offset, void* buffer, size_t n, size_t& got) const;
  // Writes n bytes at offset; returns only once they are on the disk.
  bool writeAt(uint64_t offset, const void* buffer, size_t n);
  // The last system error as text.
  static std::string lastErrorText();

 private:
#ifdef _WIN32
  void* m_handle = nullptr;
#else
  int m_fd = -1;
#endif
  Mode m_mode = Mode::ReadOnly;
  uint64_t m_size = 0;
};

}  // namespace umbra
