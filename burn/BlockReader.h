#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace umbra {

// One side of the comparison after a burn: the bytes of an image file or of the medium in a drive.
class BlockReader {
 public:
  virtual ~BlockReader() = default;

  // How many bytes can be read from the start.
  virtual std::uint64_t size() const = 0;

  // Fills into with the bytes from offset on; offset is a multiple of 2048 and the range lies within
  // size(). False with a reason naming the file or drive when they cannot all be read.
  virtual bool read(std::uint64_t offset, std::span<std::uint8_t> into, std::string& reason) = 0;
};

// Reads a file, such as the image that was burned.
class FileBlockReader : public BlockReader {
 public:
  // Null with a reason when the file cannot be opened.
  static std::unique_ptr<FileBlockReader> open(const std::filesystem::path& path, std::string& reason);

  ~FileBlockReader() override;
  FileBlockReader(const FileBlockReader&) = delete;
  FileBlockReader& operator=(const FileBlockReader&) = delete;

  std::uint64_t size() const override { return m_size; }
  bool read(std::uint64_t offset, std::span<std::uint8_t> into, std::string& reason) override;

 private:
  FileBlockReader(std::FILE* file, std::string name, std::uint64_t size);

  std::FILE* m_file;
  std::string m_name;
  std::uint64_t m_size;
};

}  // namespace umbra
