#pragma once
// A tiny HTTP server on 127.0.0.1 for the update check's tests. It runs on its own thread, so the
// code under test may block the test's thread while the server answers.
#include <QByteArray>
#include <QString>
#include <QThread>

#include <memory>

class QObject;

namespace umbra::test {

struct LocalServerState;  // what the server's thread and the test share

class CLocalHttpServer {
 public:
  CLocalHttpServer();
  ~CLocalHttpServer();
  CLocalHttpServer(const CLocalHttpServer&) = delete;
  CLocalHttpServer& operator=(const CLocalHttpServer&) = delete;

  // Answers every request with this status and body, then closes the connection.
  void servePage(const QByteArray& body, int status = 200);
  // Accepts connections and reads requests but never answers.
  void neverAnswer();
  // Sends `head`, then `fill` bytes for as long as the client keeps reading.
  void serveEndless(const QByteArray& head, char fill);
  // Sends `head`, then one `fill` byte every `intervalMs` for as long as the client stays.
  void serveDrip(const QByteArray& head, char fill, int intervalMs);
  // Promises a longer body, sends `part` of it and closes the connection.
  void serveBrokenPage(const QByteArray& part);

  QString pageUrl() const;  // http://127.0.0.1:<port>/umbradisc/version.htm
  QString rootUrl() const;  // http://127.0.0.1:<port>/
  int connections() const;
  int requests() const;  // complete request heads received
  QByteArray lastRequestHead() const;
  qint64 bytesSent() const;

  // An address on the loopback with nobody listening: connections to it are refused.
  static QString refusingUrl();

 private:
  std::shared_ptr<LocalServerState> m_state;
  QThread m_thread;
  QObject* m_context = nullptr;  // lives on m_thread and owns the listening socket
  quint16 m_port = 0;
};

}  // namespace umbra::test
