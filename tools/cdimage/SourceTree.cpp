#include "SourceTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "Platform.h"

namespace fs = std::filesystem;

namespace cdimage {
namespace {

constexpr const char* kBootImageName = "boot.img";
constexpr const char* kBootCatalogName = "boot.cat";

std::string describe(const fs::path& path, const std::string& reason) {
  return path.string() + ": " + reason;
}

std::string libraryReason(int code) { return iso_error_to_msg(code); }

// Opens and closes the file, so an unreadable file stops the run here rather than being written
// as zeros later.
bool canRead(const fs::path& path, std::string* error) {
  std::FILE* file = std::fopen(path.string().c_str(), "rb");
  if (!file) {
    *error = describe(path, std::string("cannot read: ") + std::strerror(errno));
    return false;
  }
  std::fclose(file);
  return true;
}

// The firmware loads the whole boot file, counted in 512-byte sectors (the field holds 16 bits).
short loadSizeOf(const fs::path& file) {
  std::error_code ec;
  const uintmax_t bytes = fs::file_size(file, ec);
  const uintmax_t sectors = ec ? 0 : std::min<uintmax_t>((bytes + 511) / 512, 0xFFFF);
  return static_cast<short>(static_cast<uint16_t>(sectors));
}

}  // namespace

void SourceTree::keepClearOf(const fs::path& target) { m_guard.keepClearOf(target); }

std::string SourceTree::targetClash(const fs::path& canonical, bool isFolder) const {
  return m_guard.clash(canonical, isFolder, m_openFolders.empty());
}

void SourceTree::stamp(IsoNode* node) const {
  iso_node_set_mtime(node, m_time);
  iso_node_set_atime(node, m_time);
  iso_node_set_ctime(node, m_time);
}

bool SourceTree::addFolderContent(const fs::path& folder, std::string* error) {
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (ec || !fs::is_directory(status)) {
    *error = describe(folder, ec ? ec.message() : "not a folder");
    return false;
  }
  IsoDir* root = iso_image_get_root(m_image);
  stamp(reinterpret_cast<IsoNode*>(root));
  iso_tree_set_follow_symlinks(m_image, 1);
  // libisofs reads files by absolute path.
  return addFolder(root, fs::absolute(folder), error);
}

bool SourceTree::addFolder(IsoDir* parent, const fs::path& folder, std::string* error) {
  std::error_code ec;
  fs::path canonical = fs::canonical(folder, ec);
  if (ec) {
    *error = describe(folder, ec.message());
    return false;
  }
  if (std::find(m_openFolders.begin(), m_openFolders.end(), canonical) != m_openFolders.end()) {
    *error = describe(folder, "symbolic link loop");
    return false;
  }
  if (std::string clash = targetClash(canonical, true); !clash.empty()) {
    *error = std::move(clash);
    return false;
  }
  m_openFolders.push_back(canonical);

  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(*it);
  }
  if (ec) {
    *error = describe(folder, "cannot list: " + ec.message());
    return false;
  }
  for (const fs::directory_entry& entry : entries) {
    if (stopRequested()) {
      *error = "stopped";
      return false;
    }
    const fs::path& path = entry.path();
    const std::string name = path.filename().string();
    if (const std::string problem = jolietNameProblem(name); !problem.empty()) {
      *error = describe(path, problem);
      return false;
    }
    const fs::file_status status = fs::status(path, ec);  // follows symbolic links
    if (ec) {
      *error = describe(path, "cannot read: " + ec.message());
      return false;
    }
    int result = 0;
    if (fs::is_directory(status)) {
      IsoDir* dir = nullptr;
      result = iso_tree_add_new_dir(parent, name.c_str(), &dir);
      if (result >= 0) {
        stamp(reinterpret_cast<IsoNode*>(dir));
        if (!addFolder(dir, path, error)) return false;
      }
    } else if (fs::is_regular_file(status)) {
      if (std::string clash = targetClash(fs::canonical(path, ec), false); !clash.empty()) {
        *error = std::move(clash);
        return false;
      }
      if (!canRead(path, error)) return false;
      IsoNode* node = nullptr;
      result = iso_tree_add_new_node(m_image, parent, name.c_str(), path.string().c_str(), &node);
      if (result >= 0) stamp(node);
    } else {
      *error = describe(path, "neither a file nor a folder");
      return false;
    }
    if (result < 0) {
      *error = describe(path, libraryReason(result));
      return false;
    }
  }
  m_openFolders.pop_back();
  return true;
}

std::string SourceTree::unusedRootName(const std::string& wanted) const {
  IsoDir* root = iso_image_get_root(m_image);
  std::string name = wanted;
  for (int n = 1; iso_dir_get_node(root, name.c_str(), nullptr) == 1; ++n) {
    name = std::to_string(n) + "_" + wanted;
  }
  return name;
}

bool SourceTree::addBootImage(const fs::path& file, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::status(file, ec))) {
    *error = describe(file, ec ? ec.message() : "the boot image is not a file");
    return false;
  }
  if (std::string clash = targetClash(fs::canonical(file, ec), false); !clash.empty()) {
    *error = describe(m_guard.target(), "the target is the boot file");
    return false;
  }
  if (!canRead(file, error)) return false;
  IsoDir* root = iso_image_get_root(m_image);
  const std::string imageName = unusedRootName(kBootImageName);
  IsoNode* node = nullptr;
  int result = iso_tree_add_new_node(m_image, root, imageName.c_str(),
                                     fs::absolute(file).string().c_str(), &node);
  if (result >= 0) {
    stamp(node);
    // Written into the image for the firmware, but listed in neither folder tree.
    iso_node_set_hidden(node, LIBISO_HIDE_ON_RR | LIBISO_HIDE_ON_JOLIET | LIBISO_HIDE_ON_1999 |
                                  LIBISO_HIDE_BUT_WRITE);
    const std::string imagePath = "/" + imageName;
    std::string catalogPath = "/";  // appended, not "/" + temporary, which GCC 12 -O3 misreads (-Wrestrict)
    catalogPath += unusedRootName(kBootCatalogName);
    ElToritoBootImage* boot = nullptr;
    result = iso_image_set_boot_image(m_image, imagePath.c_str(), ELTORITO_NO_EMUL,
                                      catalogPath.c_str(), &boot);
    if (result >= 0) el_torito_set_load_size(boot, loadSizeOf(file));
  }
  if (result >= 0) {
    iso_image_set_boot_catalog_hidden(m_image, LIBISO_HIDE_ON_RR | LIBISO_HIDE_ON_JOLIET |
                                                   LIBISO_HIDE_ON_1999);
    return true;
  }
  *error = describe(file, libraryReason(result));
  return false;
}

}  // namespace cdimage
