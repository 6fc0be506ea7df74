#include "RunImageMaker.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include "TempImageName.h"

namespace umbra {

namespace {

constexpr int kGraceBeforeKillMs = 3000;  // time the maker gets to clean up after a stop request

}  // namespace

QString imageMakerResultMessage(ImageMakerResult result) {
  switch (result) {
    case ImageMakerResult::FailedToStart:
#ifdef _WIN32
      return QStringLiteral("Cannot find the image maker cdimage.exe.");
#else
      return QStringLiteral("Cannot find the image maker cdimage.");
#endif
    case ImageMakerResult::Failed:
      return QStringLiteral(
          "Making the CD image file failed. Please check whether there is an invalid file name "
          "in the source folder.");
    case ImageMakerResult::Succeeded:
    case ImageMakerResult::Cancelled:
      break;
  }
  return {};
}

ImageMakerRun::ImageMakerRun(QObject* parent) : QObject(parent), m_program(findImageMaker()) {
  m_process.setProcessChannelMode(QProcess::SeparateChannels);
  m_killTimer.setSingleShot(true);
  m_killTimer.setInterval(kGraceBeforeKillMs);
  connect(&m_killTimer, &QTimer::timeout, &m_process, &QProcess::kill);
  connect(&m_process, &QProcess::readyReadStandardOutput, this, &ImageMakerRun::onOutput);
  connect(&m_process, &QProcess::finished, this, &ImageMakerRun::onProcessFinished);
  connect(&m_process, &QProcess::errorOccurred, this, &ImageMakerRun::onProcessError);
}

ImageMakerRun::~ImageMakerRun() {
  if (m_process.state() != QProcess::NotRunning) {
    m_process.disconnect(this);
    m_process.kill();
    m_process.waitForFinished();
    QFile::remove(QFileInfo(absoluteTarget()).dir().filePath(
        QString::fromStdString(cdimage::tempImageName(m_processId))));
  }
}

void ImageMakerRun::start(const ImageMakerParams& params) {
  if (m_running) return;  // one run at a time
  m_params = params;
  m_pendingOutput.clear();
  m_errorText.clear();
  m_lastPercent = -1;
  m_processId = 0;
  m_cancelRequested = false;
  m_running = true;
  if (m_program.isEmpty()) {
    // Reported from the event loop, like every other outcome.
    QTimer::singleShot(0, this, [this] { finish(ImageMakerResult::FailedToStart); });
    return;
  }
  m_process.setWorkingDirectory(params.workingFolder);
  m_process.start(m_program, imageMakerArguments(params), QIODevice::ReadOnly);
  m_processId = m_process.processId();
}

void ImageMakerRun::cancel() {
  if (!m_running || m_cancelRequested) return;
  m_cancelRequested = true;
  m_process.terminate();
  m_killTimer.start();
}

void ImageMakerRun::onOutput() {
  m_pendingOutput += m_process.readAllStandardOutput();
  qsizetype end;
  while ((end = m_pendingOutput.indexOf('\n')) >= 0) {
    const QByteArray line = m_pendingOutput.left(end).trimmed();
    m_pendingOutput.remove(0, end + 1);
    bool ok = false;
    const int percent = line.toInt(&ok);
    if (ok && percent >= 0 && percent <= 100 && percent != m_lastPercent) {
      m_lastPercent = percent;
      emit progress(percent);
    }
  }
}

void ImageMakerRun::onProcessFinished(int exitCode, QProcess::ExitStatus status) {
  m_killTimer.stop();
  onOutput();
  const QString errors = QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
  m_errorText = errors.section(QLatin1Char('\n'), -1);
  const bool targetPresent = QFileInfo(absoluteTarget()).isFile();
  if (status == QProcess::NormalExit && exitCode == 0 && targetPresent) {
    // A run that completed before the stop request arrived has made its image.
    finish(ImageMakerResult::Succeeded);
    return;
  }
  // A maker stopped hard had no chance to remove its temporary file.
  QFile::remove(QFileInfo(absoluteTarget()).dir().filePath(
      QString::fromStdString(cdimage::tempImageName(m_processId))));
  finish(m_cancelRequested ? ImageMakerResult::Cancelled : ImageMakerResult::Failed);
}

void ImageMakerRun::onProcessError(QProcess::ProcessError error) {
  if (error == QProcess::FailedToStart) {
    m_errorText = m_process.errorString();
    finish(ImageMakerResult::FailedToStart);
  }
  // Crashes and kills arrive through finished() as well.
}

void ImageMakerRun::finish(ImageMakerResult result) {
  if (!m_running) return;
  m_running = false;
  emit finished(result);
}

QString ImageMakerRun::absoluteTarget() const {
  return QDir(m_params.workingFolder).absoluteFilePath(m_params.targetFile);
}

int runImageMakerToEnd(const ImageMakerParams& params) {
  ImageMakerRun run;
  QEventLoop loop;
  bool started = true;
  QObject::connect(&run, &ImageMakerRun::finished, &loop, [&](ImageMakerResult result) {
    started = result != ImageMakerResult::FailedToStart;
    loop.quit();
  });
  run.start(params);
  if (run.isRunning()) loop.exec();
  return started ? 1 : 0;
}

}  // namespace umbra
