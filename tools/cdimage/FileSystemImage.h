#pragma once
// An image maker that lays out an ISO 9660 + Joliet image from the entries it is given and hands
// the finished image back as a stream: libisofs (LibisofsFileSystemImage) or, on Windows, the
// system's service IMAPI2FS (ImapiFileSystemImage). FolderImageMaker walks the source folder and
// feeds one of them; tests put a double in their place.
#include <cstddef>
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
  // Called once every byte has been read: false with the reason when the image turned out
  // incomplete after all (a source file that failed to read while the image was produced).
  virtual bool finish(std::string* /*error*/) { return true; }
};

// What a maker cannot write, for FolderImageMaker to refuse by name before anything is made.
struct ImageLimits {
  std::string maker;           // how messages name the maker: "the system's image maker (IMAPI2FS)"
  bool keepsCase = true;       // can write ISO 9660 names in lower case (-d)
  size_t maxFolderLevels = 0;  // levels of folders it writes, the root being the first; 0: no limit
};

class FileSystemImage {
 public:
  virtual ~FileSystemImage() = default;
  virtual ImageLimits limits() const = 0;
  // isoLevel 1: 8.3 names in the ISO 9660 tree, 2: up to 31 characters. Joliet is always written.
  // Called once, before any entry is added.
  virtual bool setLayout(const std::string& label, int isoLevel, std::string* error) = 0;
  // imagePath is the entry's place in the image, '/'-separated UTF-8 ("/a/b"); "/" is the root.
  virtual bool addFolder(const std::string& imagePath, std::time_t time, std::string* error) = 0;
  virtual bool addFile(const std::string& imagePath, const std::filesystem::path& source,
                       std::time_t time, std::string* error) = 0;
  // El Torito, no emulation; the file and its catalog are stored outside the folder trees.
  virtual bool setBootImage(const std::filesystem::path& file, std::string* error) = 0;
  virtual std::unique_ptr<ImageStream> create(std::string* error) = 0;
};

}  // namespace cdimage
