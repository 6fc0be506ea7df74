#pragma once
// A system service that lays out an ISO 9660 + Joliet image from the entries it is given and hands
// the finished image back as a stream. Windows offers one (IMAPI2FS, ImapiFileSystemImage); tests
// put a double in its place.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

namespace cdimage {

class ImageStream {
 public:
  virtual ~ImageStream() = default;
  virtual uint64_t size() const = 0;
  // Reads up to `want` bytes; got == 0 with true means the end.
  virtual bool read(unsigned char* buffer, size_t want, size_t& got, std::string* error) = 0;
};

class FileSystemImage {
 public:
  virtual ~FileSystemImage() = default;
  // isoLevel 1: 8.3 names in the ISO 9660 tree, 2: up to 31 characters. Joliet is always written.
  virtual bool setLayout(const std::string& label, int isoLevel, std::string* error) = 0;
  // imagePath is the entry's place in the image, '/'-separated UTF-8 ("/a/b"); "/" is the root.
  virtual bool addFolder(const std::string& imagePath, std::time_t time, std::string* error) = 0;
  virtual bool addFile(const std::string& imagePath, const std::filesystem::path& source,
                       std::time_t time, std::string* error) = 0;
  // El Torito, no emulation; the service stores the file and its catalog outside the folder trees.
  virtual bool setBootImage(const std::filesystem::path& file, std::string* error) = 0;
  virtual std::unique_ptr<ImageStream> create(std::string* error) = 0;
};

}  // namespace cdimage
