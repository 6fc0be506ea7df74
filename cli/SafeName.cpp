#include "SafeName.h"

#include <cctype>
#include <cstdio>

namespace umbra::cli {

namespace {
constexpr size_t kMaxNameBytes = 255;

bool isDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '0' &&
         stem[3] <= '9';
}
}  // namespace

std::string safeName(const std::string& name, bool windowsRules) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxNameBytes) return {};
  std::string safe = name;
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    const bool bad = c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F ||
                     (windowsRules && std::string_view("<>:\"|?*").find(c) != std::string_view::npos);
    if (bad) c = '_';
  }
  if (windowsRules) {
    for (size_t i = safe.size(); i > 0 && (safe[i - 1] == '.' || safe[i - 1] == ' '); --i) safe[i - 1] = '_';
    if (isDeviceName(safe)) safe.insert(0, "_");
    if (safe.size() > kMaxNameBytes) return {};
  }
  return safe;
}

std::string printableName(const std::string& name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

bool linkStaysInside(const std::string& target, int depth) {
  if (target.empty() || target[0] == '/' || target[0] == '\\') return false;
  if (target.size() > 1 && target[1] == ':') return false;  // a Windows drive
  // ".." only before the first name: a name may itself be a link, and ".." after it would climb
  // from wherever that link leads.
  int level = depth;
  bool named = false;
  size_t start = 0;
  while (start <= target.size()) {
    size_t end = target.find_first_of("/\\", start);
    if (end == std::string::npos) end = target.size();
    const std::string part = target.substr(start, end - start);
    if (part == "..") {
      if (named || --level < 0) return false;
    } else if (!part.empty() && part != ".") {
      named = true;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace umbra::cli
