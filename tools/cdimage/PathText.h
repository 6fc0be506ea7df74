#pragma once
// Paths on the command line and in messages are UTF-8 on every system; Windows paths are UTF-16.
#include <filesystem>
#include <string>

namespace cdimage {

std::filesystem::path pathFromUtf8(const std::string& text);
std::string utf8FromPath(const std::filesystem::path& path);

}  // namespace cdimage
