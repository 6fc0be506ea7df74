#pragma once
// Windows takes text as UTF-16 (wchar_t); everything else in the program is UTF-8. Windows only.
#ifdef _WIN32
#include <string>
#include <string_view>

namespace umbra {

// Bytes that are not UTF-8, and lone surrogates, become U+FFFD, as the system converts them.
std::wstring wideFromUtf8(std::string_view text);
std::string utf8FromWide(std::wstring_view text);

}  // namespace umbra
#endif
