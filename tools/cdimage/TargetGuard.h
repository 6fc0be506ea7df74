#pragma once
// Keeps an image from being written over what it is made from: the target may be neither the
// source folder, nor inside it, nor one of its files (symbolic links resolved as far as they exist).
#include <filesystem>
#include <string>

namespace cdimage {

class TargetGuard {
 public:
  // The file the image will be written to; without it nothing clashes.
  void keepClearOf(const std::filesystem::path& target);

  // Why writing the image would harm the source entry at `canonical`; empty when it would not.
  // `isSourceRoot` names the folder the run started from.
  std::string clash(const std::filesystem::path& canonical, bool isFolder, bool isSourceRoot) const;

  const std::filesystem::path& target() const { return m_target; }

 private:
  std::filesystem::path m_target;  // resolved; empty when not set
};

}  // namespace cdimage
