#include "update/ui/UpdatePromptBridge.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>

#include <condition_variable>
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

  void give(bool isYes) {
    {
      const std::lock_guard lock(mutex);
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
CUpdatePromptBridge* g_bridge = nullptr;

void showQuestion(const QString& text, const std::shared_ptr<PendingAnswer>& answer) {
  auto* box = new QMessageBox(QMessageBox::Question, QString::fromUtf8(kUpdateCaption), text,
                              QMessageBox::Yes | QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // An open question neither blocks the main window nor keeps the program alive after it closes.
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_QuitOnClose, false);
  QObject::connect(box, &QMessageBox::finished, box, [box, answer] {
    answer->give(box->clickedButton() == box->button(QMessageBox::Yes));
  });
  box->show();
}

}  // namespace

CUpdatePromptBridge::CUpdatePromptBridge(QObject* parent) : QObject(parent) {
  const std::lock_guard lock(g_bridgeMutex);
  g_bridge = this;
}

CUpdatePromptBridge::~CUpdatePromptBridge() {
  const std::lock_guard lock(g_bridgeMutex);
  if (g_bridge == this) g_bridge = nullptr;
}

bool CUpdatePromptBridge::installed() {
  const std::lock_guard lock(g_bridgeMutex);
  return g_bridge != nullptr;
}

bool CUpdatePromptBridge::ask(const QString& text) {
  auto answer = std::make_shared<PendingAnswer>();
  bool onBridgeThread = false;
  {
    const std::lock_guard lock(g_bridgeMutex);
    if (g_bridge == nullptr) return false;
    onBridgeThread = QThread::currentThread() == g_bridge->thread();
    if (!onBridgeThread)
      QMetaObject::invokeMethod(g_bridge, [text, answer] { showQuestion(text, answer); },
                                Qt::QueuedConnection);
  }
  if (!onBridgeThread) return answer->wait();

  // A run on the user-interface thread itself cannot block it: it waits in a local loop instead.
  showQuestion(text, answer);
  QEventLoop loop;
  while (!answer->answered) loop.processEvents(QEventLoop::WaitForMoreEvents);
  return answer->yes;
}

void CUpdatePromptBridge::openHomePage(const QString& url) {
  const std::lock_guard lock(g_bridgeMutex);
  if (g_bridge == nullptr) return;
  QMetaObject::invokeMethod(g_bridge, [url] { QDesktopServices::openUrl(QUrl(url)); },
                            Qt::QueuedConnection);
}

}  // namespace umbra
