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

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}
}  // namespace

bool componentMatches(std::string_view component, std::string_view isoName, std::string_view jolietName) {
  if (component.empty()) return false;
  std::string_view isoBase = withoutVersion(isoName);
  if (equalsIgnoringCase(component, isoName) || equalsIgnoringCase(component, isoBase)) return true;
  if (!isoBase.empty() && isoBase.back() == '.' && equalsIgnoringCase(component, isoBase.substr(0, isoBase.size() - 1)))
    return true;  // "README.;1", a file without extension
  return !jolietName.empty() && (component == jolietName || component == withoutVersion(jolietName));
}

}  // namespace umbra
