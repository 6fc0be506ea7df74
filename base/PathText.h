#pragma once
// Paths in messages, settings and on command lines are UTF-8 on every system; Windows paths are
// UTF-16 underneath, so a path's own narrow string() would give the ANSI code page there.
#include <filesystem>
#include <string>

namespace umbra {

std::filesystem::path pathFromUtf8(const std::string& text);
std::string utf8FromPath(const std::filesystem::path& path);

}  // namespace umbra
