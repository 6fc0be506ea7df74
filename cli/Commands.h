#pragma once
// The commands of umbradisc-cli. Each returns the process exit status.
#include <string>
#include <vector>

namespace umbra::cli {

enum ExitStatus { kOk = 0, kUsage = 1, kCannotOpen = 2, kBadPath = 3 };

int infoCommand(const std::string& image, bool json);
int lsCommand(const std::string& image, const std::string& folder, bool recursive, bool json);
int hideCommand(const std::string& image, const std::vector<std::string>& paths, bool hide);

}  // namespace umbra::cli
