#include "update/ui/UpdatePromptBridge.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
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
CUpdatePromptBridge* g_bridge = nullptr;

// User-interface thread only.
QPointer<QWidget> g_owner;

// The window a box belongs to: the modal window on top, which alone takes input while it runs,
// else the owner. `leaving` is a window that is going away and cannot take the box.
QWidget* boxOwner(const QWidget* leaving) {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != leaving && modal->isVisible()) return modal;
  if (g_owner != nullptr && g_owner != leaving) return g_owner;
  return nullptr;
}

// Moves an open box to the next owner when the window it belongs to is hidden, so that closing a
// dialog over the main window does not take an unanswered question with it.
class BoxRehomer : public QObject {
 public:
  explicit BoxRehomer(QMessageBox* box) : QObject(box), m_box(box) { watch(box->parentWidget()); }

  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == m_watched && e->type() == QEvent::Hide && m_box->isVisible()) {
      QWidget* next = boxOwner(m_watched);
      if (next != nullptr && next != m_watched) {
        m_box->setParent(next, m_box->windowFlags());
        watch(next);
        m_box->show();
      }
    }
    return false;
  }

 private:
  void watch(QWidget* window) {
    if (m_watched != nullptr) m_watched->removeEventFilter(this);
    m_watched = window;
    if (window != nullptr) window->installEventFilter(this);
  }

  QMessageBox* m_box;
  QPointer<QWidget> m_watched;
};

void showQuestion(const QString& text, const std::shared_ptr<PendingAnswer>& answer) {
  // Owned by the window that takes input, so the box is neither blocked by that window's modal run
  // nor hidden behind it; not modal itself, so the main window stays usable.
  auto* box = new QMessageBox(QMessageBox::Question, QString::fromUtf8(kUpdateCaption), text,
                              QMessageBox::Yes | QMessageBox::No, boxOwner(nullptr));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->setAttribute(Qt::WA_QuitOnClose, false);
  new BoxRehomer(box);
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

CUpdatePromptBridge::CUpdatePromptBridge(QObject* parent) : QObject(parent) {
  const std::lock_guard lock(g_bridgeMutex);
  g_bridge = this;
}

CUpdatePromptBridge::~CUpdatePromptBridge() {
  const std::lock_guard lock(g_bridgeMutex);
  if (g_bridge == this) g_bridge = nullptr;
}

void CUpdatePromptBridge::setOwner(QWidget* owner) { g_owner = owner; }

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
