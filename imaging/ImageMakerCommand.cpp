#include "ImageMakerCommand.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace umbra {

namespace {

const QString kMakerName = QStringLiteral("cdimage");
const QString kTimeStampFormat = QStringLiteral("MM/dd/yyyy,HH:mm:ss");
#ifdef _WIN32
// Windows' image maker (IMAPI2FS) cannot keep the case of ISO 9660 names, and cdimage refuses -d there.
const QStringList kFixedOptions = {QStringLiteral("-n"), QStringLiteral("-m")};
#else
const QStringList kFixedOptions = {QStringLiteral("-d"), QStringLiteral("-n"), QStringLiteral("-m")};
#endif

QString quoted(const QString& value) { return QLatin1Char('"') + value + QLatin1Char('"'); }

}  // namespace

QString imageMakerTimeStamp(qint64 time) {
  if (time < 0) return {};
  const QDateTime local = QDateTime::fromSecsSinceEpoch(time);
  if (!local.isValid()) return {};
  return local.toString(kTimeStampFormat);
}

QString imageMakerCommandLine(const ImageMakerParams& params) {
  QStringList pieces{kMakerName, QStringLiteral("-l") + quoted(params.label),
                     QStringLiteral("-t") + imageMakerTimeStamp(params.time)};
  if (params.bootFile) pieces << QStringLiteral("-b") + quoted(*params.bootFile);
  for (const QString& path : params.hiddenPaths) pieces << QStringLiteral("--hide=") + quoted(path);
  pieces << kFixedOptions << quoted(params.sourceFolder) << quoted(params.targetFile);
  return pieces.join(QLatin1Char(' '));
}

QStringList imageMakerArguments(const ImageMakerParams& params) {
  QStringList arguments{QStringLiteral("-l") + params.label, QStringLiteral("-t") + imageMakerTimeStamp(params.time)};
  if (params.bootFile) arguments << QStringLiteral("-b") + *params.bootFile;
  for (const QString& path : params.hiddenPaths) arguments << QStringLiteral("--hide=") + path;
  arguments << kFixedOptions << params.sourceFolder << params.targetFile;
  return arguments;
}

QString findImageMaker() {
#ifdef Q_OS_WIN
  const QString fileName = kMakerName + QStringLiteral(".exe");
#else
  const QString& fileName = kMakerName;
#endif
  const QFileInfo maker(QDir(QCoreApplication::applicationDirPath()).filePath(fileName));
  return maker.isFile() && maker.isExecutable() ? maker.absoluteFilePath() : QString();
}

}  // namespace umbra
