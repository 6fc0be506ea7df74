#pragma once
// Shared pieces of the update tests: the texts as the user must see them and settings files.
#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace umbra::test {

// The offer names the published version and the installed one (50410 when nothing is installed).
inline QString offer(quint32 published, quint32 installed = 50410) {
  return QString(
             "There is a new version or a new patch of Umbradisc: version %1 is published, and this is version "
             "%2.\nOpen the download page?")
      .arg(published)
      .arg(installed);
}
inline const QString kOfferText = offer(50411);
inline bool isOffer(const QString& text) { return text.endsWith("\nOpen the download page?"); }
inline const QString kCurrentText = "The current version is the newest version.";
inline const QString kNoLinkText = "There is no link to the internet.";
inline QString unreachable(const QString& reason) { return "Could not reach the update server: " + reason + "."; }
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
