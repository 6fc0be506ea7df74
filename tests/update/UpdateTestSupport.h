#pragma once
// Shared pieces of the update tests: the texts as the user must see them and settings files.
#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace umbra::test {

inline const QString kOfferText =
    "There is a new version or a new patch of Umbradisc.\nWould you like to update it?";
inline const QString kCurrentText = "The current version is the newest version.";
inline const QString kNoLinkText = "There is no link to the internet.";
inline QString failed(const QString& reason) { return "The check for a new version failed: " + reason + "."; }

// Writes an INI settings file the way an administrator would.
inline bool writeSettingsFile(const QString& path, const QByteArray& lines) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         file.write("[General]\n" + lines) == qint64(lines.size() + 10);
}

inline QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A value as another reader of the settings file sees it; "" when it is missing.
inline QString settingsValue(const QString& path, const char* key) {
  QSettings settings(path, QSettings::IniFormat);
  return settings.value(key).toString();
}

}  // namespace umbra::test
