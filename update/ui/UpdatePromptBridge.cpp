#include "update/ui/UpdatePromptBridge.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <condition_variable>

#include "controls/TitleRoom.h"
#include <memory>
#include <mutex>

#include "update/UpdateCheck.h"

namespace umbra {

namespace {

// One question's answer, handed from the user-interface thread to the waiting worker.
struct PendingAnswer {
  std::mutex mutex;
  std::condition_variable ready;
  bool answered = false;
  bool yes = false;

  // The first answer counts: a box closed with No and then destroyed stays a No.
  void give(bool isYes) {
    {
      const std::lock_guard lock(mutex);
      if (answered) return;
      answered = true;
      yes = isYes;
    }
    ready.notify_all();
  }
  bool wait() {
    std::unique_lock lock(mutex);
    ready.wait(lock, [this] { return answered; });
    return yes;
  }
};

// Held while a worker posts to the bridge, so the bridge cannot go away in between.
std::mutex g_bridgeMutex;
UpdatePromptBridge* g_bridge = nullptr;

// User-interface thread only.
QPointer<QWidget> g_owner;

// The window a box belongs to: the owner, else the modal window that takes input.
QWidget* boxOwner() {
  if (g_owner != nullptr) return g_owner;
  return QApplication::activeModalWidget();
}

void showQuestion(const QString& text, PromptKind kind, const std::shared_ptr<PendingAnswer>& answer) {
  // Owned by the main window, so the box is neither blocked by its modal run nor hidden behind it;
  // not modal itself, so the main window stays usable. A dialog run over the main window holds the
  // box back until it closes, as it does the main window.
  // A message that asks nothing has only an OK button; a failure carries the warning icon.
  const bool question = kind == PromptKind::Offer;
  const QMessageBox::Icon icon = question                      ? QMessageBox::Question
                                 : kind == PromptKind::Failure ? QMessageBox::Warning
                                                               : QMessageBox::Information;
  auto* box = new QMessageBox(icon, QString::fromUtf8(kUpdateCaption), text,
                              question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, boxOwner());
  box->setAttribute(Qt::WA_DeleteOnClose);
  umbra::makeRoomForTitle(*box);
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_QuitOnClose, false);
  QObject::connect(box, &QMessageBox::finished, box, [box, answer] {
    answer->give(box->clickedButton() == box->button(QMessageBox::Yes));
  });
  // A box that goes with its window unanswered counts as No.
  QObject::connect(box, &QObject::destroyed, [answer] { answer->give(false); });
  box->show();
  box->raise();
  box->activateWindow();
}

}  // namespace

UpdatePromptBridge::UpdatePromptBridge(QObject* parent) : QObject(parent) {
  const std::lock_guard lock(g_bridgeMutex);
  g_bridge = this;
}

UpdatePromptBridge::~UpdatePromptBridge() {
  const std::lock_guard lock(g_bridgeMutex);
  if (g_bridge == this) g_bridge = nullptr;
}

void UpdatePromptBridge::setOwner(QWidget* owner) { g_owner = owner; }

bool UpdatePromptBridge::installed() {
  const std::lock_guard lock(g_bridgeMutex);
  return g_bridge != nullptr;
}

bool UpdatePromptBridge::ask(const QString& text, PromptKind kind) {
  auto answer = std::make_shared<PendingAnswer>();
  bool onBridgeThread = false;
  {
    const std::lock_guard lock(g_bridgeMutex);
    if (g_bridge == nullptr) return false;
    onBridgeThread = QThread::currentThread() == g_bridge->thread();
    if (!onBridgeThread)
      QMetaObject::invokeMethod(
          g_bridge, [text, kind, answer] { showQuestion(text, kind, answer); }, Qt::QueuedConnection);
  }
  if (!onBridgeThread) return answer->wait();

  // A run on the user-interface thread itself cannot block it: it waits in a local loop instead.
  showQuestion(text, kind, answer);
  QEventLoop loop;
  while (!answer->answered) loop.processEvents(QEventLoop::WaitForMoreEvents);
  return answer->yes;
}

void UpdatePromptBridge::openHomePage(const QString& url) {
  const std::lock_guard lock(g_bridgeMutex);
  if (g_bridge == nullptr) return;
  QMetaObject::invokeMethod(
      g_bridge,
      [url] {
        if (QDesktopServices::openUrl(QUrl(url))) return;
        // No browser took it: the address, to copy, in a box that asks nothing.
        auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(kUpdateCaption),
                                    QString::fromUtf8(kNoBrowserText).arg(url), QMessageBox::Ok, boxOwner());
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        umbra::makeRoomForTitle(*box);
        box->setWindowModality(Qt::NonModal);
        box->setAttribute(Qt::WA_QuitOnClose, false);
        box->show();
      },
      Qt::QueuedConnection);
}

}  // namespace umbra
