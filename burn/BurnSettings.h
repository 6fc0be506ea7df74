#pragma once

#include <optional>
#include <string>

namespace umbra {

// The one value the burn back end reads from the program's settings (the INI file the window's
// settings live in: KorvantisSoft/Umbradisc.conf in the user's configuration folder; on Windows the
// registry key HKEY_CURRENT_USER\Software\KorvantisSoft\Umbradisc), read without Qt so the command
// line tool finds the same drive as the window.
std::optional<std::string> readBurnDriveSetting();

// A value as the settings file stores it: surrounding spaces dropped, a quoted value unquoted.
std::string settingsValueText(const std::string& stored);

}  // namespace umbra
