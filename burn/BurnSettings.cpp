#include "BurnSettings.h"

#include <cstdlib>
#include <fstream>

#ifdef _WIN32
#include "base/WideText.h"
#include "com/DispatchObject.h"

#include <cwchar>
#endif

namespace umbra {

namespace {

constexpr char kSettingsFile[] = "/KorvantisSoft/Umbradisc.conf";
constexpr char kDriveKey[] = "BurnDrive";
constexpr char kGeneralSection[] = "[General]";
#ifdef _WIN32
constexpr wchar_t kRegistryKey[] = L"Software\\KorvantisSoft\\Umbradisc";
constexpr wchar_t kRegistryValue[] = L"BurnDrive";
#endif

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

#ifndef _WIN32
std::string configFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && *config) return config;
  const char* home = std::getenv("HOME");
  return home && *home ? std::string(home) + "/.config" : std::string();
}
#endif

}  // namespace

std::string settingsValueText(const std::string& stored) {
  const std::string value = trimmed(stored);
  if (value.size() < 2 || value.front() != '"' || value.back() != '"') return value;
  std::string text;
  for (size_t i = 1; i + 1 < value.size(); ++i) {
    if (value[i] == '\\' && i + 2 < value.size()) ++i;
    text += value[i];
  }
  return text;
}

std::optional<std::string> readBurnDriveSetting() {
#ifdef _WIN32
  // Where the window's settings live on Windows: the user's key of the registry.
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
          ERROR_SUCCESS ||
      bytes < sizeof(wchar_t))
    return std::nullopt;
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS)
    return std::nullopt;
  value.resize(wcsnlen(value.c_str(), value.size()));
  return umbra::utf8FromWide(value);
#else
  const std::string folder = configFolder();
  if (folder.empty()) return std::nullopt;
  std::ifstream file(folder + kSettingsFile);
  bool general = true;  // keys before any section belong to [General]
  for (std::string line; std::getline(file, line);) {
    line = trimmed(line);
    if (!line.empty() && line.front() == '[') {
      general = line == kGeneralSection;
      continue;
    }
    const size_t equals = line.find('=');
    if (general && equals != std::string::npos && trimmed(line.substr(0, equals)) == kDriveKey)
      return settingsValueText(line.substr(equals + 1));
  }
  return std::nullopt;
#endif
}

}  // namespace umbra
