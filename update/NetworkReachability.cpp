#include "update/NetworkReachability.h"

#include <QCoreApplication>
#include <QNetworkInformation>
#include <QThread>

#include <atomic>

namespace umbra {

namespace {

using Reachability = QNetworkInformation::Reachability;

std::atomic<Reachability> g_reachability{Reachability::Unknown};
std::atomic<bool> g_watching{false};

}  // namespace

void watchNetworkReachability() {
  const QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread() || g_watching.exchange(true)) return;
  if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) return;
  QNetworkInformation* info = QNetworkInformation::instance();
  g_reachability = info->reachability();
  QObject::connect(info, &QNetworkInformation::reachabilityChanged, info,
                   [](Reachability now) { g_reachability = now; });
}

bool networkLinkPresent() { return g_reachability != Reachability::Disconnected; }

}  // namespace umbra
