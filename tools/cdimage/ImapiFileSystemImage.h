#pragma once
// FileSystemImage on Windows' own image maker, IMAPI2FS, reached late-bound by ProgID and IDispatch
// (the MinGW headers have no IMAPI declarations). IMAPI2FS reads the files itself, while its image
// stream is read: each file's state is taken before it is added and compared once the stream has
// been read to its end, and an image holding a file that changed is refused (SourceCheck.h).
#ifdef _WIN32
#include <memory>
#include <utility>
#include <vector>

#include "FileSystemImage.h"
#include "SourceCheck.h"
#include "com/DispatchObject.h"

namespace cdimage {

class ImapiFileSystemImage : public FileSystemImage {
 public:
  // Null with a one-line reason when the service is missing (as under wine) or will not start.
  static std::unique_ptr<ImapiFileSystemImage> open(std::string* error);
  // Known without starting the service, so an option it cannot honour is refused the same way on
  // every machine: ISO 9660 names in upper case only, and at most 8 levels of folders (it enforces
  // ISO 9660's limit and has no setting that lifts it).
  static ImageLimits serviceLimits() { return {"the system's image maker (IMAPI2FS)", false, 8}; }

  ImageLimits limits() const override { return serviceLimits(); }
  bool setLayout(const std::string& label, int isoLevel, std::string* error) override;
  bool addFolder(const std::string& imagePath, std::time_t time, std::string* error) override;
  bool addFile(const std::string& imagePath, const std::filesystem::path& source, std::time_t time,
               std::string* error) override;
  bool setBootImage(const std::filesystem::path& file, std::string* error) override;
  std::unique_ptr<ImageStream> create(std::string* error) override;

 private:
  explicit ImapiFileSystemImage(com::DispatchObject image) : m_image(std::move(image)) {}
  bool stamp(const std::wstring& itemPath, std::time_t time, std::string* error);
  bool recordState(const std::filesystem::path& source, std::string* error);

  com::DispatchObject m_image;
  com::DispatchObject m_root;
  com::DispatchObject m_bootOptions;  // kept alive while the image refers to it
  std::vector<std::pair<std::filesystem::path, FileState>> m_files;  // as each was when added
};

}  // namespace cdimage
#endif
