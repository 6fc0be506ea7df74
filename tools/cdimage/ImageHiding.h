#pragma once
// --hide: entries of the source folder that the image is made with hidden. Each path is checked
// against the source folder before anything is made, so a typo fails fast; the entries are then
// hidden in the finished temporary image by the engine, in every tree and under the same proofs as
// a hide of any other image, and read back hidden before the image takes the target's name.
#include <filesystem>
#include <string>
#include <vector>

namespace cdimage {

// Why `path` (as given to --hide) names no entry the image of `source` will hold; empty when it does.
std::string hidePathProblem(const std::filesystem::path& source, const std::string& path);

// The entry's path in the image as the engine takes it: "Photos/2021" is "/Photos/2021".
std::string imagePathOf(const std::string& path);

// Hides every path in the image file and reads the image back to see each hidden. On failure
// error names the path and why; the file may then be partly written and is the caller's to remove.
// hidFiles says whether any entry hidden is a file.
bool hideInImage(const std::filesystem::path& image, const std::vector<std::string>& paths, std::string* error,
                 bool* hidFiles);

// Said after a run that hid a file: where a hidden file stays within reach and where it does not.
const char* hiddenFileNotice();

}  // namespace cdimage
