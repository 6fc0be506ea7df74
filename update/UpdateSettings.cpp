#include "update/UpdateSettings.h"

#include <QFileInfo>
#include <QVariant>

namespace umbra {

namespace {

std::unique_ptr<QSettings> openSettings() {
  const QString file = qEnvironmentVariable(kSettingsFileVariable);
  auto settings = file.isEmpty()
                      ? std::make_unique<QSettings>(QSettings::SystemScope, kSettingsOrganization,
                                                    kSettingsApplication)
                      : std::make_unique<QSettings>(file, QSettings::IniFormat);
  // Only the application's own settings count, not an organisation-wide file beside them.
  settings->setFallbacksEnabled(false);
  return settings;
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

CUpdateSettings::CUpdateSettings() : m_settings(openSettings()) {
  // isWritable() creates missing folders, so it is asked only about settings that exist.
  m_fullAccess = present() && m_settings->status() == QSettings::NoError && m_settings->isWritable();
}

CUpdateSettings::~CUpdateSettings() = default;

bool CUpdateSettings::present() const {
#ifdef Q_OS_WIN
  if (m_settings->format() == QSettings::NativeFormat) return !m_settings->allKeys().isEmpty();
#endif
  return QFileInfo(m_settings->fileName()).isFile();
}

std::optional<uint32_t> CUpdateSettings::number(const char* key) const {
  const QVariant value = m_settings->value(key);
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

std::optional<uint32_t> CUpdateSettings::version() const { return number(kVersionKey); }

std::optional<uint32_t> CUpdateSettings::day() const { return number(kDayKey); }

bool CUpdateSettings::setDay(uint32_t day) {
  m_settings->setValue(kDayKey, static_cast<uint>(day));
  m_settings->sync();
  return m_settings->status() == QSettings::NoError;
}

QUrl CUpdateSettings::pageUrl() const {
  const QString override = qEnvironmentVariable(kPageUrlVariable);
  if (!override.isEmpty()) {
    const QUrl page(override, QUrl::StrictMode);
    // A mistyped override must not send the check to the maker's server instead.
    return serverRoot(page).isEmpty() ? QUrl() : page;
  }
  QUrl page = serverRoot(QUrl(m_settings->value(kServerKey).toString(), QUrl::StrictMode));
  if (page.isEmpty()) page = serverRoot(QUrl(kDefaultServer));
  page.setPath(kVersionPagePath);
  return page;
}

QUrl CUpdateSettings::homePageUrl() const { return serverRoot(pageUrl()); }

}  // namespace umbra
