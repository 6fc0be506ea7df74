#pragma once
// The commands of umbradisc-cli. Each returns the process exit status.
#include <string>
#include <vector>

namespace umbra::cli {

// When several apply, the lowest wins: every path is resolved before any folder is judged.
enum ExitStatus {
  kOk = 0,
  kUsage = 1,
  kCannotOpen = 2,    // the image cannot be opened or read
  kBadPath = 3,       // a path is missing, could mean two entries, or is not a folder
  kBurnFailed = 4,
  kRefused = 5,       // a folder has no proven twin in a tree of the image; nothing written
  kWriteFailed = 6,   // a write failed part-way; the message lists what was changed (or written)
  kSkipped = 7,       // extract left entries out, each named on a line of its own; the rest was written
};

int infoCommand(const std::string& image, bool json);
int lsCommand(const std::string& image, const std::string& folder, bool recursive, bool json);
// Copies a folder of the image, with everything in it, into dest (made when missing).
int extractCommand(const std::string& image, const std::string& folder, const std::string& dest, bool force);
// Writes one file of the image to standard output.
int catCommand(const std::string& image, const std::string& file);
// hide true: hides the folders at paths; false: shows them again. Every path is checked before anything is written.
int hideOrShowCommand(const std::string& image, const std::vector<std::string>& paths, bool hide);

}  // namespace umbra::cli
