#pragma once
// FileSystemImage on libisofs: ISO 9660 with Rock Ridge, and Joliet, written by the library into a
// stream. Holds libisofs initialised and the image referenced for as long as it lives; one a process.
// libisofs reads the files while it produces the image, through streams of ours that check each
// file (LibisofsSourceStream); the image stream refuses an image that holds a file which changed.
#include <memory>

#include "FileSystemImage.h"
#include "IsoLibrary.h"
#include "SourceCheck.h"

namespace cdimage {

class LibisofsFileSystemImage : public FileSystemImage {
 public:
  // keepCase keeps lower case in ISO 9660 names (-d); time stamps the volume descriptor and every
  // record the library writes itself. Null with a one-line reason when libisofs will not start.
  static std::unique_ptr<LibisofsFileSystemImage> open(bool keepCase, std::time_t time, std::string* error);
  ~LibisofsFileSystemImage() override;
  LibisofsFileSystemImage(const LibisofsFileSystemImage&) = delete;
  LibisofsFileSystemImage& operator=(const LibisofsFileSystemImage&) = delete;

  ImageLimits limits() const override { return {"libisofs", true, 0}; }
  bool setLayout(const std::string& label, int isoLevel, std::string* error) override;
  bool addFolder(const std::string& imagePath, std::time_t time, std::string* error) override;
  bool addFile(const std::string& imagePath, const std::filesystem::path& source, std::time_t time,
               std::string* error) override;
  bool setBootImage(const std::filesystem::path& file, std::string* error) override;
  std::unique_ptr<ImageStream> create(std::string* error) override;

 private:
  LibisofsFileSystemImage(bool keepCase, std::time_t time) : m_keepCase(keepCase), m_time(time) {}
  bool applyOptions(IsoWriteOpts* opts, std::string* error) const;
  // The folder of the image that is to hold imagePath's last name, which is put in `name`.
  IsoDir* parentOf(const std::string& imagePath, std::string* name, std::string* error) const;
  std::string unusedRootName(const std::string& wanted) const;
  // A file read through a stream of ours, which checks it (LibisofsSourceStream); null with the reason.
  IsoNode* addSourceFile(IsoDir* parent, const std::string& name, const std::filesystem::path& source,
                         std::string* error);

  bool m_keepCase;
  std::time_t m_time;
  int m_isoLevel = 1;
  IsoImage* m_image = nullptr;
  std::shared_ptr<SourceProblems> m_problems = std::make_shared<SourceProblems>();
};

}  // namespace cdimage
