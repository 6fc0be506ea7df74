#pragma once
// Fills a libisofs image tree from a folder on disk, stamping every node with one time.
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "IsoLibrary.h"
#include "JolietNames.h"
#include "TargetGuard.h"

namespace cdimage {

class SourceTree {
 public:
  SourceTree(IsoImage* image, std::time_t time) : m_image(image), m_time(time) {}

  // The file the image will be written to. A folder or file the walk reaches that is, or holds,
  // this path stops the run, so the image never replaces what it is made from.
  void keepClearOf(const std::filesystem::path& target);

  // Adds the whole content of `folder` under the image root. Stops at the first entry that cannot
  // be read or cannot be named exactly in Joliet; error then holds the path and the reason.
  bool addFolderContent(const std::filesystem::path& folder, std::string* error);

  // Stores `file` as the El Torito boot image (no emulation) with its catalog, both hidden from
  // the folder trees.
  bool addBootImage(const std::filesystem::path& file, std::string* error);

 private:
  bool addFolder(IsoDir* parent, const std::filesystem::path& folder, std::string* error);
  void stamp(IsoNode* node) const;
  std::string unusedRootName(const std::string& wanted) const;
  std::string targetClash(const std::filesystem::path& canonical, bool isFolder) const;

  IsoImage* m_image;
  std::time_t m_time;
  std::vector<std::filesystem::path> m_openFolders;  // canonical paths of the folders being walked
  TargetGuard m_guard;
};

}  // namespace cdimage
