#include "update/UpdateCheck.h"

#include <QCoreApplication>

#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "update/NetworkReachability.h"
#include "update/UpdateSettings.h"
#include "update/VersionPage.h"

namespace umbra {

std::atomic<bool> g_interactiveCheck{false};

namespace {

// "Day" values up to this one only count on; the next automatic start checks and resets it to 0,
// so one automatic start in 47 goes to the network.
constexpr uint32_t kLastCountingDay = 45;

// Set by the user-interface thread, read by workers.
std::mutex g_hooksMutex;
UpdatePrompt g_prompt;
OpenHomePage g_homePageOpener;
ConnectionProbe g_connectionProbe;

template <typename Hook>
Hook currentHook(const Hook& hook) {
  const std::lock_guard lock(g_hooksMutex);
  return hook;
}

bool ask(const QString& text) {
  const UpdatePrompt prompt = currentHook(g_prompt);
  return prompt && prompt(text, PromptKind::Offer);
}

void tell(const QString& text, PromptKind kind) {
  const UpdatePrompt prompt = currentHook(g_prompt);
  if (prompt) prompt(text, kind);
}

void tellFailure(const QString& reason) {
  tell(QString::fromUtf8(umbra::kCheckFailedText).arg(reason), PromptKind::Failure);
}

// Why an answer is not a version page; empty when it is one.
QString notAVersionPage(const umbra::PageResult& page) {
  if (page.status != 0 && (page.status < 200 || page.status > 299)) {
    const QString phrase = page.reason.isEmpty() ? QString() : QLatin1Char(' ') + page.reason;
    return QStringLiteral("the server answered %1%2").arg(page.status).arg(phrase);
  }
  if (!umbra::isVersionLine(page.firstLine)) return QStringLiteral("the server's page holds no version number");
  return {};
}

bool linkPresent() {
  const ConnectionProbe probe = currentHook(g_connectionProbe);
  return probe ? probe() : umbra::networkLinkPresent();
}

void openHomePage(const QUrl& url) {
  const OpenHomePage opener = currentHook(g_homePageOpener);
  if (opener && !url.isEmpty()) opener(url.toString());
}

QString agentName() {
  const QString name = QCoreApplication::applicationName();
  return name.isEmpty() ? QString::fromUtf8(umbra::kSettingsApplication) : name;
}

void startWorker() {
  umbra::watchNetworkReachability();
  try {
    std::thread(runUpdateCheck).detach();
  } catch (const std::system_error&) {
    // A worker that cannot start means no check this time; nothing to tell the user.
  }
}

}  // namespace

void runUpdateCheck() {
  if (QCoreApplication::instance() == nullptr) return;  // the fetch needs an event loop
  umbra::UpdateSettings settings;
  uint32_t installed = umbra::kDefaultVersion;

  if (settings.openedWithFullAccess()) {
    const std::optional<uint32_t> version = settings.version();
    if (!version) return;
    installed = *version;
    if (!g_interactiveCheck) {
      const std::optional<uint32_t> day = settings.day();
      if (!day) {
        settings.setDay(0);
        return;
      }
      if (*day <= kLastCountingDay) {
        settings.setDay(*day + 1);
        return;
      }
      settings.setDay(0);
    }
  }

  if (!linkPresent()) {
    if (g_interactiveCheck.exchange(false)) tell(QString::fromUtf8(umbra::kNoLinkText), PromptKind::Failure);
    return;
  }

  // A check the user asked for always answers; an automatic one speaks only of a newer version.
  const umbra::PageResult page = umbra::fetchFirstLine(settings.pageUrl(), agentName());
  switch (page.outcome) {
    case umbra::PageOutcome::RequestFailed:
      // The system says there is a network, so it is the server that did not answer.
      if (g_interactiveCheck.exchange(false))
        tell(QString::fromUtf8(umbra::kUnreachableText).arg(page.reason), PromptKind::Failure);
      return;
    case umbra::PageOutcome::BadAddress:
      if (g_interactiveCheck.exchange(false)) tellFailure(page.reason);
      return;
    case umbra::PageOutcome::ReadFailed:
      if (g_interactiveCheck.exchange(false)) tellFailure(QStringLiteral("the page broke off (%1)").arg(page.reason));
      return;
    case umbra::PageOutcome::Read:
      break;
  }
  if (const QString why = notAVersionPage(page); !why.isEmpty()) {
    if (g_interactiveCheck.exchange(false)) tellFailure(why);
    return;
  }
  if (const uint32_t published = umbra::parsePublishedVersion(page.firstLine); published > installed) {
    if (ask(QString::fromUtf8(umbra::kUpdateOfferText).arg(published).arg(installed)))
      openHomePage(settings.homePageUrl());
  } else if (g_interactiveCheck) {
    tell(QString::fromUtf8(umbra::kCurrentVersionText), PromptKind::Result);
  }
  g_interactiveCheck = false;
}

void startUpdateWorker() { startWorker(); }

void onCheckUpdateRequested() {
  g_interactiveCheck = true;
  startWorker();
}

void setUpdatePrompt(UpdatePrompt prompt) {
  const std::lock_guard lock(g_hooksMutex);
  g_prompt = std::move(prompt);
}

void setHomePageOpener(OpenHomePage opener) {
  const std::lock_guard lock(g_hooksMutex);
  g_homePageOpener = std::move(opener);
}

void setConnectionProbe(ConnectionProbe probe) {
  const std::lock_guard lock(g_hooksMutex);
  g_connectionProbe = std::move(probe);
}

}  // namespace umbra
