#include "engine/model/NameKey.h"

namespace umbra {

std::string_view withoutVersion(std::string_view name) {
  const size_t semicolon = name.rfind(';');
  if (semicolon == std::string_view::npos) return name;
  for (size_t i = semicolon + 1; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return name;
  return name.substr(0, semicolon);
}

std::string nameKey(std::string_view utf8Name) {
  std::string_view name = withoutVersion(utf8Name);
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  std::string key(name.size(), '\0');
  char* out = key.data();
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) == 0x80) continue;  // continuation byte of a code point already counted
    if (c >= 'a' && c <= 'z')
      *out++ = static_cast<char>(c - 'a' + 'A');
    else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
      *out++ = static_cast<char>(c);
    else
      *out++ = '_';
  }
  key.resize(static_cast<size_t>(out - key.data()));
  return key;
}

uint64_t nameKeyHash(std::string_view utf8Name) {
  std::string_view name = withoutVersion(utf8Name);
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the key's characters
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) == 0x80) continue;
    unsigned char k = '_';
    if (c >= 'a' && c <= 'z')
      k = static_cast<unsigned char>(c - 'a' + 'A');
    else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
      k = c;
    hash = (hash ^ k) * 1099511628211ull;
  }
  return hash;
}

}  // namespace umbra
