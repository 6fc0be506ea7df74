#pragma once

#include <filesystem>
#include <string>

namespace umbra {

// Our copies in the staging folder carry our name, the process id and the image's file name, so
// they are told apart from anything else lying there and two programs never share one.
std::filesystem::path stagedCopyPath(const std::filesystem::path& folder, const std::filesystem::path& imageFileName);

// The staged copy while it is being written.
std::filesystem::path partialCopyPath(const std::filesystem::path& stagedCopy);

// Removes from folder (not below it) the regular files of our naming that are older than a day:
// copies left by a burn that crashed. Anything else, and fresh copies, stay. Returns the count.
int removeStaleStagedCopies(const std::filesystem::path& folder);

}  // namespace umbra
