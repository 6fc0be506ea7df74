#pragma once
// Runs cdimage for one image: progress from its output, a way to stop it, and a sound verdict
// (exit status 0 and the target present).
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include "ImageMakerCommand.h"

namespace umbra {

enum class ImageMakerResult {
  Succeeded,      // exit status 0 and the target exists
  FailedToStart,  // the maker is missing or could not be started
  Failed,         // the maker ran but reported an error, crashed, or left no target
  Cancelled,      // stopped by cancel(); no target is left
};

// The user's message for a result; empty for Succeeded and Cancelled.
QString imageMakerResultMessage(ImageMakerResult result);

class ImageMakerRun : public QObject {
  Q_OBJECT

 public:
  explicit ImageMakerRun(QObject* parent = nullptr);
  ~ImageMakerRun() override;

  // The maker to start; findImageMaker() unless set.
  void setProgram(const QString& program) { m_program = program; }

  // Starts the maker; finished() follows on every path, also when it cannot be started. Ignored
  // while a run is going on.
  void start(const ImageMakerParams& params);
  bool isRunning() const { return m_running; }
  // The maker's own one-line message of the last failed run.
  QString errorText() const { return m_errorText; }

 public slots:
  // Asks the maker to stop (it removes its temporary file); stops it hard if it does not end soon.
  void cancel();

 signals:
  void progress(int percent);
  void finished(ImageMakerResult result);

 private slots:
  void onOutput();
  void onProcessFinished(int exitCode, QProcess::ExitStatus status);
  void onProcessError(QProcess::ProcessError error);

 private:
  void finish(ImageMakerResult result);
  QString absoluteTarget() const;

  QString m_program;
  QProcess m_process;
  QTimer m_killTimer;
  ImageMakerParams m_params;
  QByteArray m_pendingOutput;
  QString m_errorText;
  qint64 m_processId = 0;
  int m_lastPercent = -1;
  bool m_running = false;
  bool m_cancelRequested = false;
};

// Runs the maker and waits for it: 1 when it was started (and has ended), 0 when it could not be.
// Whether an image was made is for the caller to judge (ImageMakerRun gives the full verdict).
int runImageMakerToEnd(const ImageMakerParams& params);

}  // namespace umbra
