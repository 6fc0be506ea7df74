#include "tests/update/LocalHttpServer.h"

#include <QHostAddress>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>

namespace umbra::test {

namespace {

enum class Mode { Page, NeverAnswer, Endless, Broken, Drip };
constexpr qint64 kEndlessChunk = 64 * 1024;

// The reason phrase a real server sends with the status.
QByteArray phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Test";
  }
}

QByteArray head(int status, const QByteArray& extra) {
  return "HTTP/1.1 " + QByteArray::number(status) + " " + phrase(status) + "\r\nContent-Type: text/html\r\n" + extra +
         "Connection: close\r\n\r\n";
}

}  // namespace

struct LocalServerState {
  mutable QMutex mutex;
  Mode mode = Mode::Page;
  QByteArray body;
  int status = 200;
  char fill = 'x';
  int dripIntervalMs = 0;
  QByteArray lastHead;
  std::atomic<int> connections{0};
  std::atomic<int> requests{0};
  std::atomic<qint64> bytesSent{0};
};

namespace {

void answer(QTcpSocket* socket, const std::shared_ptr<LocalServerState>& state);

}  // namespace

CLocalHttpServer::CLocalHttpServer() : m_state(std::make_shared<LocalServerState>()) {
  m_context = new QObject;
  m_context->moveToThread(&m_thread);
  m_thread.start();
  QMetaObject::invokeMethod(
      m_context,
      [this] {
        auto* server = new QTcpServer(m_context);
        server->listen(QHostAddress::LocalHost, 0);
        m_port = server->serverPort();
        QObject::connect(server, &QTcpServer::newConnection, server, [server, state = m_state] {
          while (QTcpSocket* socket = server->nextPendingConnection()) {
            ++state->connections;
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, received, state] {
              if (received->contains("\r\n\r\n")) {
                socket->readAll();  // already answered (or holding); ignore the rest
                return;
              }
              *received += socket->readAll();
              if (!received->contains("\r\n\r\n")) return;
              {
                const QMutexLocker lock(&state->mutex);
                state->lastHead = received->left(received->indexOf("\r\n\r\n"));
              }
              ++state->requests;
              answer(socket, state);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
          }
        });
      },
      Qt::BlockingQueuedConnection);
}

CLocalHttpServer::~CLocalHttpServer() {
  // Sockets and the listener go on their own thread; the context once that thread has ended.
  QMetaObject::invokeMethod(
      m_context, [context = m_context] { qDeleteAll(context->children()); },
      Qt::BlockingQueuedConnection);
  m_thread.quit();
  m_thread.wait();
  delete m_context;
}

namespace {

void answer(QTcpSocket* socket, const std::shared_ptr<LocalServerState>& state) {
  Mode mode;
  QByteArray body;
  int status;
  char fill;
  int dripIntervalMs;
  {
    const QMutexLocker lock(&state->mutex);
    mode = state->mode;
    body = state->body;
    status = state->status;
    fill = state->fill;
    dripIntervalMs = state->dripIntervalMs;
  }
  const auto send = [socket, state](const QByteArray& bytes) {
    state->bytesSent += socket->write(bytes);
  };
  switch (mode) {
    case Mode::NeverAnswer:
      return;
    case Mode::Page:
      send(head(status, "Content-Length: " + QByteArray::number(body.size()) + "\r\n") + body);
      socket->disconnectFromHost();
      return;
    case Mode::Broken:
      send(head(status, "Content-Length: " + QByteArray::number(body.size() + 1000) + "\r\n") + body);
      socket->disconnectFromHost();
      return;
    case Mode::Drip: {
      send(head(status, {}) + body);
      auto* timer = new QTimer(socket);  // ends with the connection
      QObject::connect(timer, &QTimer::timeout, socket, [socket, fill, send] {
        if (socket->state() == QAbstractSocket::ConnectedState) send(QByteArray(1, fill));
      });
      timer->start(dripIntervalMs);
      return;
    }
    case Mode::Endless: {
      // No length: the body runs until the server closes, which it never does.
      send(head(status, {}) + body);
      const QByteArray chunk(kEndlessChunk, fill);
      QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket, chunk, send] {
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < kEndlessChunk)
          send(chunk);
      });
      send(chunk);
      return;
    }
  }
}

}  // namespace

void CLocalHttpServer::servePage(const QByteArray& body, int status) {
  const QMutexLocker lock(&m_state->mutex);
  m_state->mode = Mode::Page;
  m_state->body = body;
  m_state->status = status;
}

void CLocalHttpServer::neverAnswer() {
  const QMutexLocker lock(&m_state->mutex);
  m_state->mode = Mode::NeverAnswer;
}

void CLocalHttpServer::serveEndless(const QByteArray& head, char fill) {
  const QMutexLocker lock(&m_state->mutex);
  m_state->mode = Mode::Endless;
  m_state->body = head;
  m_state->status = 200;
  m_state->fill = fill;
}

void CLocalHttpServer::serveDrip(const QByteArray& head, char fill, int intervalMs) {
  const QMutexLocker lock(&m_state->mutex);
  m_state->mode = Mode::Drip;
  m_state->body = head;
  m_state->status = 200;
  m_state->fill = fill;
  m_state->dripIntervalMs = intervalMs;
}

void CLocalHttpServer::serveBrokenPage(const QByteArray& part) {
  const QMutexLocker lock(&m_state->mutex);
  m_state->mode = Mode::Broken;
  m_state->body = part;
  m_state->status = 200;
}

QString CLocalHttpServer::rootUrl() const { return QString("http://127.0.0.1:%1/").arg(m_port); }

QString CLocalHttpServer::pageUrl() const { return rootUrl() + "umbradisc/version.htm"; }

int CLocalHttpServer::connections() const { return m_state->connections; }

int CLocalHttpServer::requests() const { return m_state->requests; }

QByteArray CLocalHttpServer::lastRequestHead() const {
  const QMutexLocker lock(&m_state->mutex);
  return m_state->lastHead;
}

qint64 CLocalHttpServer::bytesSent() const { return m_state->bytesSent; }

QString CLocalHttpServer::refusingUrl() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();  // the port is free again, and nobody listens on it
  return QString("http://127.0.0.1:%1/umbradisc/version.htm").arg(port);
}

}  // namespace umbra::test
