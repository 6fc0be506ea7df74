#pragma once
// Paths in messages, settings and on command lines are UTF-8 on every system; on Windows a path is
// UTF-16 underneath, and each is converted to it once, here, before it reaches the system. No
// narrow form may stand in for that on Windows: MinGW's libstdc++ builds a path from a narrow string
// through the C library's locale (not from UTF-8), and the narrow calls of the C library (fopen,
// _unlink, getenv) read and write the ANSI code page, which lacks most letters.
#include <cstdio>
#include <filesystem>
#include <string>

namespace umbra {

std::filesystem::path pathFromUtf8(const std::string& text);
std::string utf8FromPath(const std::filesystem::path& path);

// A variable of the environment as UTF-8; empty when it is not set.
std::string environmentUtf8(const char* name);

// std::fopen by the path's own form (_wfopen with the wide path on Windows); null with errno set.
std::FILE* openFile(const std::filesystem::path& path, const char* mode);

}  // namespace umbra
