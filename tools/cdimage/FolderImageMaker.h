#pragma once
// cdimage's run on a system whose image maker is a service (FileSystemImage): checks the options and
// the source folder by the same rules as the libisofs maker, hands every entry to the service and
// writes its image through a temporary file beside the target, printing whole percentages.
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "FileSystemImage.h"
#include "MakerOptions.h"
#include "PathText.h"
#include "TargetGuard.h"

namespace cdimage {

class FolderImageMaker {
 public:
  FolderImageMaker(const MakerOptions& options, FileSystemImage& service, std::ostream& progress)
      : m_options(options), m_service(service), m_progress(progress) {}

  // The one-line refusal of an option this maker cannot honour; empty when all can be.
  static std::string unsupportedOption(const MakerOptions& options);

  // On failure error names the file and the reason, and neither the target nor a temporary file
  // is left behind.
  bool make(std::string* error);

 private:
  bool addFolder(const std::filesystem::path& folder, const std::string& imagePath,
                 std::string* error);
  bool writeImage(ImageStream& stream, const std::filesystem::path& target, std::string* error);
  void reportProgress(int percent);

  const MakerOptions& m_options;
  FileSystemImage& m_service;
  std::ostream& m_progress;
  std::vector<std::filesystem::path> m_openFolders;  // canonical paths of the folders being walked
  TargetGuard m_guard;
  int m_lastPercent = -1;
};

}  // namespace cdimage
