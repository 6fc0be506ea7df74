#include "update/UpdateSettings.h"

#include <QFileInfo>
#include <QVariant>

namespace umbra {

namespace {

std::unique_ptr<QSettings> openSettings(QSettings::Scope scope) {
  const QString file = qEnvironmentVariable(kSettingsFileVariable);
  auto settings = file.isEmpty()
                      ? std::make_unique<QSettings>(scope, kSettingsOrganization, kSettingsApplication)
                      : std::make_unique<QSettings>(file, QSettings::IniFormat);
  // Only the application's own settings count, not an organisation-wide file beside them.
  settings->setFallbacksEnabled(false);
  return settings;
}

bool present(QSettings& settings) {
#ifdef Q_OS_WIN
  if (settings.format() == QSettings::NativeFormat) return !settings.allKeys().isEmpty();
#endif
  return QFileInfo(settings.fileName()).isFile();
}

}  // namespace

QUrl serverRoot(const QUrl& address) {
  const QString scheme = address.scheme().toLower();
  if (!address.isValid() || address.host().isEmpty() || (scheme != "http" && scheme != "https"))
    return {};
  QUrl root;
  root.setScheme(scheme);
  root.setHost(address.host());
  root.setPort(address.port());
  root.setPath("/");
  return root;
}

UpdateSettings::UpdateSettings() : m_settings(openSettings(QSettings::SystemScope)) {
  if (qEnvironmentVariable(kSettingsFileVariable).isEmpty()) m_user = openSettings(QSettings::UserScope);
  QSettings& writable = m_user ? *m_user : *m_settings;
  // isWritable() creates missing folders, so it is asked only once some settings exist.
  // The user's settings hold other values too (the burner's drive); only the check's own count.
  const bool userHasCheck = m_user && (m_user->contains(kVersionKey) || m_user->contains(kDayKey));
  m_fullAccess = (present(*m_settings) || userHasCheck) && writable.status() == QSettings::NoError &&
                 writable.isWritable();
}

UpdateSettings::~UpdateSettings() = default;

std::optional<uint32_t> UpdateSettings::number(const QSettings& settings, const char* key) {
  if (!settings.contains(key)) return std::nullopt;
  const QVariant value = settings.value(key);
  switch (value.typeId()) {
    case QMetaType::Int:  // a 32-bit registry number read back signed: the same four bytes
      return static_cast<uint32_t>(value.toInt());
    case QMetaType::UInt:
      return static_cast<uint32_t>(value.toUInt());
    case QMetaType::LongLong:  // wider than four bytes
    case QMetaType::ULongLong:
      return std::nullopt;
    default: {
      // Text, as INI files hold it. QVariant's own conversion would wrap numbers past 32 bits.
      bool ok = false;
      const uint n = value.toString().trimmed().toUInt(&ok, 10);
      if (!ok) return std::nullopt;
      return static_cast<uint32_t>(n);
    }
  }
}

std::optional<uint32_t> UpdateSettings::version() const {
  // The installer's value for the machine first; a user's own only where the machine has none.
  if (m_settings->contains(kVersionKey) || !m_user) return number(*m_settings, kVersionKey);
  return number(*m_user, kVersionKey);
}

std::optional<uint32_t> UpdateSettings::day() const {
  // Written to the user's settings; a machine-wide value left from older versions counts until then.
  if (m_user && m_user->contains(kDayKey)) return number(*m_user, kDayKey);
  return number(*m_settings, kDayKey);
}

bool UpdateSettings::setDay(uint32_t day) {
  QSettings& writable = m_user ? *m_user : *m_settings;
  writable.setValue(kDayKey, static_cast<uint>(day));
  writable.sync();
  return writable.status() == QSettings::NoError;
}

QUrl UpdateSettings::pageUrl() const {
  const QString override = qEnvironmentVariable(kPageUrlVariable);
  if (!override.isEmpty()) {
    const QUrl page(override, QUrl::StrictMode);
    // A mistyped override must not send the check to the maker's server instead.
    return serverRoot(page).isEmpty() ? QUrl() : page;
  }
  QUrl page = serverRoot(QUrl(m_settings->value(kServerKey).toString(), QUrl::StrictMode));
  if (page.isEmpty()) page = serverRoot(QUrl(kProjectAddress));
  page.setPath(kVersionPagePath);
  return page;
}

QUrl UpdateSettings::homePageUrl() const { return serverRoot(pageUrl()); }

}  // namespace umbra
