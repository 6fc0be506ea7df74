#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by the burn tests: images made by xorriso at test time, hashes, folder listings.
namespace burntest {

// Makes an ISO image at imagePath from a few small files plus one of payloadBytes random bytes.
// Returns an empty string on success, else what went wrong.
QString makeImage(const QString& imagePath, qint64 payloadBytes);

// SHA-256 of a file's contents; empty when it cannot be read.
QByteArray hashOf(const QString& path);

// Every entry of a folder (hidden ones too) with the hash of each file: "name=hash".
QStringList snapshot(const QString& folder);

// True when the first bytes of target are exactly the image and whatever follows is zeros.
bool holdsImage(const QString& targetPath, const QString& imagePath, QString& why);

// Sets (or with a null value unsets) an environment variable for one scope.
class EnvGuard {
 public:
  EnvGuard(const char* name, const QString& value);
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  const char* m_name;
  QByteArray m_oldValue;
  bool m_hadValue;
};

}  // namespace burntest
