#include "BurnTestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

namespace burntest {

QString makeImage(const QString& imagePath, qint64 payloadBytes) {
  const QString source = imagePath + QStringLiteral(".src");
  if (!QDir().mkpath(source + QStringLiteral("/Private/Deeper")) || !QDir().mkpath(source + QStringLiteral("/Public")))
    return QStringLiteral("cannot create ") + source;
  const QList<QPair<QString, QByteArray>> files = {
      {QStringLiteral("/readme.txt"), "A small disc for burning tests.\n"},
      {QStringLiteral("/Private/Deeper/secret.txt"), "kept out of sight\n"},
      {QStringLiteral("/Public/notes.txt"), "nothing to hide\n"},
  };
  for (const auto& [name, text] : files) {
    QFile file(source + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
      return QStringLiteral("cannot write ") + file.fileName();
  }
  QFile payload(source + QStringLiteral("/Private/payload.bin"));
  if (!payload.open(QIODevice::WriteOnly)) return QStringLiteral("cannot write ") + payload.fileName();
  QByteArray block(1 << 16, Qt::Uninitialized);
  for (qint64 left = payloadBytes; left > 0; left -= block.size()) {
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    payload.write(block.constData(), std::min<qint64>(left, block.size()));
  }
  payload.close();

  const QString xorriso = qEnvironmentVariable("UMBRA_XORRISO", QStringLiteral("xorriso"));
  QProcess maker;
  maker.start(xorriso,
              {QStringLiteral("-as"), QStringLiteral("mkisofs"), QStringLiteral("-quiet"), QStringLiteral("-J"),
               QStringLiteral("-V"), QStringLiteral("BURNTEST"), QStringLiteral("-o"), imagePath, source});
  if (!maker.waitForFinished(120000) || maker.exitStatus() != QProcess::NormalExit || maker.exitCode() != 0)
    return QStringLiteral("xorriso failed: ") + QString::fromLocal8Bit(maker.readAllStandardError());
  QDir(source).removeRecursively();
  return {};
}

QByteArray hashOf(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return hash.result().toHex();
}

QStringList snapshot(const QString& folder) {
  QStringList entries;
  const QDir dir(folder);
  for (const QFileInfo& info :
       dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
    entries << info.fileName() + QLatin1Char('=') +
                   (info.isFile() ? QString::fromLatin1(hashOf(info.filePath())) : QStringLiteral("<dir>"));
  return entries;
}

bool holdsImage(const QString& targetPath, const QString& imagePath, QString& why) {
  QFile target(targetPath);
  QFile image(imagePath);
  if (!target.open(QIODevice::ReadOnly) || !image.open(QIODevice::ReadOnly)) {
    why = QStringLiteral("cannot read ") + targetPath;
    return false;
  }
  const QByteArray expected = image.readAll();
  const QByteArray written = target.readAll();
  if (written.size() < expected.size()) {
    why = QStringLiteral("only %1 of %2 bytes written").arg(written.size()).arg(expected.size());
    return false;
  }
  if (written.left(expected.size()) != expected) {
    why = QStringLiteral("the written bytes differ from the image");
    return false;
  }
  if (written.mid(expected.size()).count('\0') != written.size() - expected.size()) {
    why = QStringLiteral("non-zero bytes follow the image");
    return false;
  }
  return true;
}

EnvGuard::EnvGuard(const char* name, const QString& value)
    : m_name(name), m_oldValue(qgetenv(name)), m_hadValue(qEnvironmentVariableIsSet(name)) {
  if (value.isNull())
    qunsetenv(name);
  else
    qputenv(name, value.toLocal8Bit());
}

EnvGuard::~EnvGuard() {
  if (m_hadValue)
    qputenv(m_name, m_oldValue);
  else
    qunsetenv(m_name);
}

}  // namespace burntest
