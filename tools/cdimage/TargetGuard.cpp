#include "TargetGuard.h"

#include <algorithm>
#include <system_error>

#include "base/PathText.h"

namespace fs = std::filesystem;

namespace cdimage {

void TargetGuard::keepClearOf(const fs::path& target) {
  std::error_code ec;
  // Resolves "..", and symbolic links as far as the path exists.
  m_target = fs::weakly_canonical(fs::absolute(target), ec);
  if (ec) m_target = fs::absolute(target).lexically_normal();
}

std::string TargetGuard::clash(const fs::path& canonical, bool isFolder, bool isSourceRoot) const {
  if (m_target.empty()) return {};
  const std::string target = umbra::utf8FromPath(m_target) + ": ";
  if (m_target == canonical) {
    if (!isFolder) return target + "the target is a file of the source";
    return target + (isSourceRoot ? "the target is the source folder" : "the target is a folder of the source");
  }
  if (!isFolder) return {};
  const auto differ = std::mismatch(canonical.begin(), canonical.end(), m_target.begin(), m_target.end());
  if (differ.first == canonical.end()) {
    return target + "the target lies inside the source folder " + umbra::utf8FromPath(canonical);
  }
  return {};
}

}  // namespace cdimage
