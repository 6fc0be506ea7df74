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

size_t utf16Units(std::string_view name) {
  size_t units = 0;
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

std::string jolietForm(std::string_view name) {
  constexpr size_t kJolietUnits = 64;
  std::string out;
  out.reserve(name.size());
  size_t units = 0;
  for (size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    const size_t width = lead >= 0xF0 ? 2 : 1;
    if (units + width > kJolietUnits) break;
    units += width;
    const bool replaced =
        lead < 0x20 || std::string_view("*/:;?\\").find(static_cast<char>(lead)) != std::string_view::npos;
    if (replaced)
      out += '_';
    else
      out.append(name.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace umbra
