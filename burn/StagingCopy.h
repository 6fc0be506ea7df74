#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace umbra {

// Copies the image into the staging folder. The copy is written to partialCopyPath(stagedCopy)
// and renamed into place only when complete, so a failed or cancelled copy leaves neither a
// partial file nor a damaged file of the same name behind.
bool copyIntoStaging(const std::filesystem::path& image, const std::filesystem::path& stagedCopy,
                     const std::function<void(int)>& percent, const std::function<bool()>& cancelRequested,
                     std::string& reason);

}  // namespace umbra
