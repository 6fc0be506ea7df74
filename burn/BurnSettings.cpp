#include "BurnSettings.h"

#include <cstdlib>
#include <fstream>

namespace {

constexpr char kSettingsFile[] = "/KorvantisSoft/Umbradisc.conf";
constexpr char kDriveKey[] = "BurnDrive";
constexpr char kGeneralSection[] = "[General]";

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string ConfigFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config)
        return config;
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.config" : std::string();
}

} // namespace

std::string SettingsValueText(const std::string& stored)
{
    const std::string value = Trimmed(stored);
    if (value.size() < 2 || value.front() != '"' || value.back() != '"')
        return value;
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size())
            ++i;
        text += value[i];
    }
    return text;
}

std::optional<std::string> ReadBurnDriveSetting()
{
#ifdef _WIN32
    return std::nullopt; // the window's settings live in the registry there
#else
    const std::string folder = ConfigFolder();
    if (folder.empty())
        return std::nullopt;
    std::ifstream file(folder + kSettingsFile);
    bool general = true; // keys before any section belong to [General]
    for (std::string line; std::getline(file, line);) {
        line = Trimmed(line);
        if (!line.empty() && line.front() == '[') {
            general = line == kGeneralSection;
            continue;
        }
        const size_t equals = line.find('=');
        if (general && equals != std::string::npos && Trimmed(line.substr(0, equals)) == kDriveKey)
            return SettingsValueText(line.substr(equals + 1));
    }
    return std::nullopt;
#endif
}
