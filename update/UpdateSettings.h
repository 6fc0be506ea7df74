#pragma once
// Where the update check keeps its state: settings of organisation "KorvantisSoft", application
// "Umbradisc". "Version" is read from the machine's settings (on Windows the key
// HKEY_LOCAL_MACHINE\Software\KorvantisSoft\Umbradisc, written by the installer; on Linux
// /etc/xdg/KorvantisSoft/Umbradisc.conf), else from the user's; "Day" is written to the user's
// settings (the same key under HKEY_CURRENT_USER; ~/.config/KorvantisSoft/Umbradisc.conf), which
// every user may write, and read from there first. UMBRADISC_SETTINGS names one INI file that
// replaces both.
#include <QSettings>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

namespace umbra {

inline constexpr const char* kSettingsOrganization = "KorvantisSoft";
inline constexpr const char* kSettingsApplication = "Umbradisc";
inline constexpr const char* kSettingsFileVariable = "UMBRADISC_SETTINGS";
inline constexpr const char* kPageUrlVariable = "UMBRADISC_UPDATE_URL";
inline constexpr const char* kVersionKey = "Version";
inline constexpr const char* kDayKey = "Day";
inline constexpr const char* kServerKey = "Server";
// The project's web address (set once, in the build); its server is the maker's web server when
// the "Server" setting holds no usable address.
inline constexpr const char* kProjectAddress = UMBRA_PROJECT_ADDRESS;
inline constexpr const char* kVersionPagePath = "/umbradisc/version.htm";
// The installed version assumed when the settings cannot be opened with full access.
inline constexpr uint32_t kDefaultVersion = 50410;

class UpdateSettings {
 public:
  UpdateSettings();
  ~UpdateSettings();
  UpdateSettings(const UpdateSettings&) = delete;
  UpdateSettings& operator=(const UpdateSettings&) = delete;

  // True when the machine's settings exist or the user's hold "Version" or "Day", and this user
  // may write the user's; only then do "Version" and the start-up throttle apply.
  bool openedWithFullAccess() const { return m_fullAccess; }
  // Empty when the value is missing or not a number from 0 to 4294967295.
  std::optional<uint32_t> version() const;
  std::optional<uint32_t> day() const;
  // False when the value could not be stored.
  bool setDay(uint32_t day);

  // The version page: UMBRADISC_UPDATE_URL when set (invalid when that is no http or https
  // address), else the page path on the server of the "Server" setting.
  QUrl pageUrl() const;
  // The root of the server the version page comes from.
  QUrl homePageUrl() const;

 private:
  static std::optional<uint32_t> number(const QSettings& settings, const char* key);

  std::unique_ptr<QSettings> m_settings;  // the machine's, or the UMBRADISC_SETTINGS file
  std::unique_ptr<QSettings> m_user;      // the user's; none with UMBRADISC_SETTINGS
  bool m_fullAccess = false;
};

// The server part (scheme, host, port) of an http or https address; empty when there is none.
QUrl serverRoot(const QUrl& address);

}  // namespace umbra
