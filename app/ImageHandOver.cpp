#include "app/ImageHandOver.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include "app/CUmbradiscApp.h"
#include "app/InstanceLock.h"

namespace umbra {

namespace {
constexpr qint64 kMaxMessage = 64 * 1024;  // a path and its line feed; anything longer is no hand-over
const QByteArray kTaken = "taken\n";
}  // namespace

ImageHandOver::ImageHandOver(QObject* parent) : QObject(parent) {}

QString ImageHandOver::serverName() {
  const QString name = QString::fromLatin1(CUmbradiscApp::kInstanceName);
#ifdef _WIN32
  // Pipe names are seen by every session: the user's name keeps each user's copy to itself.
  return name + QLatin1Char('-') + qEnvironmentVariable("USERNAME");
#else
  return QDir(InstanceLock::folder()).filePath(name + QStringLiteral(".socket"));
#endif
}

bool ImageHandOver::listen() {
  m_server = new QLocalServer(this);
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  // This copy holds the lock, so a socket left by a copy that died is nobody's.
  QLocalServer::removeServer(serverName());
  if (!m_server->listen(serverName())) return false;
  connect(m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
          if (socket->bytesAvailable() > kMaxMessage) socket->abort();
          return;
        }
        const QString path = QString::fromUtf8(socket->readLine(kMaxMessage)).chopped(1);
        socket->write(kTaken);
        socket->disconnectFromServer();
        emit received(path);
      });
    }
  });
  return true;
}

bool ImageHandOver::send(const QString& imagePath, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(serverName());
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(imagePath.toUtf8() + '\n');
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (!socket.canReadLine())
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  return socket.readLine() == kTaken;
}

}  // namespace umbra
