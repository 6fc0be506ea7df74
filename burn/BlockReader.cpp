#include "BlockReader.h"

#include "base/PathText.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace umbra {

std::unique_ptr<FileBlockReader> FileBlockReader::open(const std::filesystem::path& path, std::string& reason) {
  const std::string name = utf8FromPath(path);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    reason = "Cannot open " + name + ": " + error.message();
    return nullptr;
  }
  std::FILE* file = openFile(path, "rb");
  if (!file) {
    reason = "Cannot open " + name + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<FileBlockReader>(new FileBlockReader(file, name, size));
}

FileBlockReader::FileBlockReader(std::FILE* file, std::string name, std::uint64_t size)
    : m_file(file), m_name(std::move(name)), m_size(size) {}

FileBlockReader::~FileBlockReader() { std::fclose(m_file); }

bool FileBlockReader::read(std::uint64_t offset, std::span<std::uint8_t> into, std::string& reason) {
#ifdef _WIN32
  const bool placed = _fseeki64(m_file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  const bool placed = fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
  if (placed && std::fread(into.data(), 1, into.size(), m_file) == into.size()) return true;
  reason = "Cannot read " + m_name + " at byte " + std::to_string(offset) + ": " +
           (std::ferror(m_file) ? std::strerror(errno) : "the file ends early");
  return false;
}

}  // namespace umbra
