#pragma once
// A second start of the window hands its image (or nothing) to the running copy through a local
// socket that lives beside the single-instance lock; the running copy opens the image as Open Image
// does and comes to the front. The second start ends at once either way.
#include <QObject>
#include <QString>

class QLocalServer;

namespace umbra {

class ImageHandOver : public QObject {
  Q_OBJECT

 public:
  explicit ImageHandOver(QObject* parent = nullptr);
  // The running copy, which holds the lock: takes hand-overs from now on. False when the socket
  // cannot be set up (a second start then only ends).
  bool listen();
  // A second start: hands over the image path (empty: only bring the window to the front) and
  // waits up to timeoutMs for the running copy to take it.
  static bool send(const QString& imagePath, int timeoutMs = 5000);
  // Where the socket lives: beside the lock in the user's runtime folder, or a pipe of the user's.
  static QString serverName();

 signals:
  void received(const QString& imagePath);

 private:
  QLocalServer* m_server = nullptr;
};

}  // namespace umbra
