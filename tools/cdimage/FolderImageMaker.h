#pragma once
// cdimage's run on every system: checks the options and the source folder, hands every entry to an
// image maker (FileSystemImage: libisofs, or IMAPI2FS on Windows) and writes its image through a
// temporary file beside the target, printing whole percentages. Every check and message of the run
// is made here; the maker only says what it cannot write (ImageLimits).
#include <cstdio>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "FileSystemImage.h"
#include "MakerOptions.h"
#include "TargetGuard.h"
#include "base/PathText.h"

namespace cdimage {

class FolderImageMaker {
 public:
  FolderImageMaker(const MakerOptions& options, FileSystemImage& service, std::ostream& progress)
      : m_options(options), m_service(service), m_progress(progress) {}

  // The one-line refusal of an option a maker with these limits cannot honour; empty when all can be.
  static std::string unsupportedOption(const MakerOptions& options, const ImageLimits& limits);

  // On failure error names the file and the reason, and neither the target nor a temporary file
  // is left behind.
  bool make(std::string* error);
  // Whether an entry hidden by --hide is a file, so the run says where a hidden file stays within reach.
  bool hidFiles() const { return m_hidFiles; }

 private:
  bool addFolder(const std::filesystem::path& folder, const std::string& imagePath,
                 std::string* error);
  bool addBootImage(const std::filesystem::path& boot, std::string* error);
  bool writeImage(ImageStream& stream, const std::filesystem::path& target, std::string* error);
  bool copyToFile(ImageStream& stream, std::FILE* file, const std::filesystem::path& temp,
                  std::string* error);
  void reportProgress(int percent);

  const MakerOptions& m_options;
  FileSystemImage& m_service;
  std::ostream& m_progress;
  ImageLimits m_limits;
  std::vector<std::filesystem::path> m_openFolders;  // canonical paths of the folders being walked
  TargetGuard m_guard;
  int m_lastPercent = -1;
  bool m_hidFiles = false;
};

}  // namespace cdimage
