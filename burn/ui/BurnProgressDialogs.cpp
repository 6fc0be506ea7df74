#include "BurnProgressDialogs.h"

#include <QEvent>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QWidget>

namespace umbra {

namespace {

constexpr int kPercentDone = 100;
constexpr char kCopyTitle[] = "Writing the file to the buffer...";
constexpr char kBurnTitle[] = "Umbradisc";

QProgressDialog* makeDialog(QWidget* owner, const char* title) {
  auto* dialog = new QProgressDialog(owner);
  dialog->setWindowTitle(QString::fromLatin1(title));
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->setRange(0, kPercentDone);
  dialog->setMinimumDuration(0);
  dialog->setAutoClose(false);
  dialog->setAutoReset(false);
  return dialog;
}

// Keeps the writing window up until the burn ends: hiding it would free the main window mid-burn.
class IgnoreClose : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close) {
      event->ignore();
      return true;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) return true;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

BurnProgressDialogs::BurnProgressDialogs(QWidget* owner, const QString& imageName)
    : m_anchor(new QWidget), m_owner(owner), m_imageName(imageName) {}

BurnProgressDialogs::~BurnProgressDialogs() {
  closeAll();
  delete m_anchor;
}

void BurnProgressDialogs::start() {
  // Shown at once, so the main window takes no input while the recorder is looked for.
  m_copy = makeDialog(m_owner, kCopyTitle);
  m_copy->setLabelText(QStringLiteral("Looking for a recorder..."));
  QObject::connect(m_copy, &QProgressDialog::canceled, m_anchor, [this] { m_cancel = true; });
  m_copy->show();
}

void BurnProgressDialogs::showCopyPercent(int percent) {
  if (!m_copy) return;
  m_copy->setLabelText(QStringLiteral("Copying %1 to the burn buffer: %2%").arg(m_imageName).arg(percent));
  m_copy->setValue(percent);
}

void BurnProgressDialogs::showBurnPercent(int percent) {
  if (m_copy) {
    m_copy->hide();
    m_copy->deleteLater();
    m_copy = nullptr;
  }
  if (!m_burn) {
    m_burn = makeDialog(m_owner, kBurnTitle);
    // Stopping midway would spoil a write-once disc, so this window offers no way out.
    m_burn->setCancelButton(nullptr);
    m_burn->installEventFilter(new IgnoreClose(m_burn));
  }
  m_burn->setLabelText(QStringLiteral("Writing %1 to the disc: %2%").arg(m_imageName).arg(percent));
  m_burn->show();
  m_burn->setValue(percent);
}

void BurnProgressDialogs::showReadBackPercent(int percent) {
  const QString label =
      QStringLiteral("Reading the disc back to compare it with %1: %2%").arg(m_imageName).arg(percent);
  if (!m_readBack) {
    m_readBack = makeDialog(m_owner, kBurnTitle);
    // Reading harms nothing: the check may be left out, the burn stands.
    QObject::connect(m_readBack, &QProgressDialog::canceled, m_anchor, [this] { m_cancel = true; });
    m_readBack->setLabelText(label);
    // Shown before the writing window goes, so the main window takes no input in between.
    m_readBack->show();
    if (m_burn) {
      m_burn->hide();
      m_burn->deleteLater();
      m_burn = nullptr;
    }
  }
  m_readBack->setLabelText(label);
  m_readBack->setValue(percent);
}

void BurnProgressDialogs::closeAll() {
  for (QProgressDialog** dialog : {&m_copy, &m_burn, &m_readBack}) {
    if (*dialog) {
      (*dialog)->hide();
      delete *dialog;
      *dialog = nullptr;
    }
  }
}

}  // namespace umbra
