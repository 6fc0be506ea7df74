#pragma once
// Windows takes text as UTF-16 (wchar_t); everything else in the program is UTF-8. Windows only.
#ifdef _WIN32
#include <string>
#include <string_view>

namespace umbra {

// Converted by the system's calls without flags, which turn what is not valid (bytes that are not
// UTF-8, lone surrogates) into U+FFFD.
std::wstring wideFromUtf8(std::string_view text);
std::string utf8FromWide(std::wstring_view text);

}  // namespace umbra
#endif
