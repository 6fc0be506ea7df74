#include "base/PathText.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "base/WideText.h"
#endif

namespace umbra {

std::filesystem::path pathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string environmentUtf8(const char* name) {
#ifdef _WIN32
  // The process's own wide block: the C library's copies may have been made through the ANSI code page.
  const std::wstring wideName = wideFromUtf8(name);
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};
    if (length < value.size()) {
      value.resize(length);
      return utf8FromWide(value);
    }
    value.resize(length);  // the size it needs, its terminator included
  }
#else
  const char* value = std::getenv(name);
  return value ? value : std::string();
#endif
}

std::FILE* openFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(path.c_str(), wideMode.c_str());
#else
  return std::fopen(path.c_str(), mode);
#endif
}

}  // namespace umbra
