#include "update/VersionPage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "update/UpdateSettings.h"

namespace umbra {

namespace {

bool isLoopback(const QString& host) {
  const QHostAddress address(host);
  return host.compare("localhost", Qt::CaseInsensitive) == 0 ||
         (!address.isNull() && address.isLoopback());
}

// The system's own proxy settings for this address; a proxy cannot reach this machine's loopback.
QNetworkProxy proxyFor(const QUrl& page) {
  if (isLoopback(page.host())) return QNetworkProxy(QNetworkProxy::NoProxy);
  const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(page));
  return proxies.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxies.first();
}

// Errors below 100 are the transport's (refused, closed, timed out); the others come with an
// HTTP answer whose body is still the page.
bool transportFailed(QNetworkReply::NetworkError error) {
  return error != QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError;
}

}  // namespace

PageResult fetchFirstLine(const QUrl& page, const QString& agent, const PageLimits& limits) {
  if (serverRoot(page).isEmpty()) return {PageOutcome::BadAddress, {}, 0, QStringLiteral("the address of the version page is not a web address")};
  if (QCoreApplication::instance() == nullptr || limits.maxBytes <= 0) return {};

  QElapsedTimer elapsed;
  elapsed.start();
  QNetworkAccessManager manager;
  const QNetworkProxy proxy = proxyFor(page);
  manager.setProxy(proxy);
  // A name lookup left to Qt's shared lookup pool would hold up the application's exit until it
  // ends; looking the name up here keeps that wait on this worker, and the answer lands in Qt's
  // host cache where the request finds it.
  if (proxy.type() == QNetworkProxy::NoProxy && QHostAddress(page.host()).isNull())
    QHostInfo::fromName(page.host());

  QNetworkRequest request(page);
  request.setHeader(QNetworkRequest::UserAgentHeader, agent);
  const std::unique_ptr<QNetworkReply> reply(manager.get(request));
  // Keeps Qt from buffering more of a huge page than the line may take.
  reply->setReadBufferSize(limits.maxBytes);

  QByteArray line;
  bool lineComplete = false;
  QEventLoop loop;
  const auto take = [&] {
    while (!lineComplete && reply->bytesAvailable() > 0) {
      const QByteArray chunk = reply->read(limits.maxBytes - line.size());
      const qsizetype feed = chunk.indexOf('\n');
      line += feed < 0 ? chunk : chunk.left(feed);
      lineComplete = feed >= 0 || line.size() >= limits.maxBytes;
    }
    if (lineComplete) loop.quit();
  };
  QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, take);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QTimer deadline;
  deadline.setSingleShot(true);
  bool pastDeadline = false;
  QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
    pastDeadline = true;
    loop.quit();
  });
  deadline.start(static_cast<int>(std::max<qint64>(0, limits.deadlineMs - elapsed.elapsed())));
  if (!reply->isFinished()) loop.exec();
  if (pastDeadline) {
    reply->abort();
    // counted as a failed request, whatever part of the line had come
    return {PageOutcome::RequestFailed, {}, 0, QStringLiteral("the server did not answer in time")};
  }
  take();

  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  const QString phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
  if (lineComplete) {
    reply->abort();  // the rest of the page is never read
    return {PageOutcome::Read, line, status.toInt(), phrase};
  }
  if (!status.isValid()) return {PageOutcome::RequestFailed, {}, 0, reply->errorString()};
  if (transportFailed(reply->error())) return {PageOutcome::ReadFailed, {}, status.toInt(), reply->errorString()};
  return {PageOutcome::Read, line, status.toInt(), phrase};
}

bool isVersionLine(const QByteArray& line) {
  qsizetype i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\v' || line[i] == '\f' || line[i] == '\r')) ++i;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) ++i;
  return i < line.size() && line[i] >= '0' && line[i] <= '9';
}

uint32_t parsePublishedVersion(const QByteArray& line) {
  // A page's number is read as a signed 32-bit value that saturates at its range.
  constexpr int64_t kLongMax = INT32_MAX;
  constexpr int64_t kLongMin = INT32_MIN;
  const auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  qsizetype i = 0;
  while (i < line.size() && isSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  int64_t magnitude = 0;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    magnitude = std::min(magnitude * 10 + (line[i] - '0'), kLongMax + 1);
  const int64_t value = std::clamp(negative ? -magnitude : magnitude, kLongMin, kLongMax);
  return static_cast<uint32_t>(static_cast<int32_t>(value));
}

}  // namespace umbra
