#pragma once
// Writes a prepared libisofs image to its target through a temporary file beside the target, so
// the target appears only when the whole image was written.
#include <filesystem>
#include <string>

#include "IsoLibrary.h"
#include "MakerOptions.h"

namespace cdimage {

class ImageWriter {
 public:
  explicit ImageWriter(const MakerOptions& options) : m_options(options) {}

  // Prints progress to stdout as whole percentages, one a line. On failure no file is left.
  bool write(IsoImage* image, std::string* error);

 private:
  bool applyOptions(IsoWriteOpts* opts, std::string* error) const;
  bool copyToFile(struct burn_source* source, std::FILE* file, const std::filesystem::path& temp,
                  std::string* error);

  void reportProgress(int percent);

  const MakerOptions& m_options;
  int m_lastPercent = -1;
};

// The first queued libisofs message of severity SORRY or worse; empty if none.
std::string takeLibraryMessage();

}  // namespace cdimage
