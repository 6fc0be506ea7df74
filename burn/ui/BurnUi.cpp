#include "BurnUi.h"

#include "BurnProgressDialogs.h"
#include "burn/DiscBurner.h"
#include "controls/TitleRoom.h"

#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>

#include <filesystem>
#include <optional>

namespace umbra {

namespace {

constexpr char kCaption[] = "Umbradisc";
constexpr char kImageFilter[] = "CD Files (*.iso);;All Files (*.*)";
constexpr char kImageSuffix[] = "iso";
constexpr int kPercentDone = 100;

std::function<QString(QWidget*)>& installedChooser() {
  static std::function<QString(QWidget*)> chooser;
  return chooser;
}

void showMessage(QWidget* owner, QMessageBox::Icon icon, const QString& text) {
  QMessageBox box(icon, QString::fromLatin1(kCaption), text, QMessageBox::Ok, owner);
  umbra::makeRoomForTitle(box);
  box.exec();
}

// Runs work on a worker thread while this thread keeps serving the (modal) windows.
void runOffThread(const std::function<void()>& work) {
  QThread* worker = QThread::create(work);
  QEventLoop loop;
  QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
  worker->start();
  loop.exec();  // the progress windows are modal, so only they take input meanwhile
  worker->wait();
  delete worker;
}

std::function<void()>& installedBeforeReadBack() {
  static std::function<void()> hook;
  return hook;
}

// Reads the disc just burned back on a worker, its progress in the dialogs.
VerifyResult readBack(DiscBurner& burner, const std::filesystem::path& image, BurnProgressDialogs& dialogs) {
  QWidget* anchor = dialogs.anchor();
  const auto percent = [&dialogs, anchor](int value) {
    QMetaObject::invokeMethod(
        anchor, [&dialogs, value] { dialogs.showReadBackPercent(value); }, Qt::QueuedConnection);
  };
  VerifyResult result;
  runOffThread([&] {
    if (installedBeforeReadBack()) installedBeforeReadBack()();
    result = burner.verifyDisc(image, percent, [&dialogs] { return dialogs.cancelRequested(); });
  });
  return result;
}

// Quickly erases the disc the burner kept, with a modal progress window that offers no way out
// (a half-erased disc is no better than a half-written one), then says how it went.
void eraseDisc(QWidget* owner, DiscBurner& burner) {
  QProgressDialog dialog(owner);
  dialog.setWindowTitle(QString::fromLatin1(kCaption));
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setCancelButton(nullptr);
  dialog.setRange(0, kPercentDone);
  dialog.setMinimumDuration(0);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  dialog.setLabelText(QStringLiteral("Erasing the disc: 0%"));
  dialog.show();
  QPointer<QProgressDialog> shown(&dialog);
  bool erased = false;
  runOffThread([&] {
    erased = burner.eraseDisc([&shown](int percent) {
      QMetaObject::invokeMethod(
          shown.data(),
          [&shown, percent] {
            if (!shown) return;
            shown->setLabelText(QStringLiteral("Erasing the disc: %1%").arg(percent));
            shown->setValue(percent);
          },
          Qt::QueuedConnection);
    });
  });
  dialog.hide();
  if (erased)
    showMessage(owner, QMessageBox::Information, QStringLiteral("The disc was erased and can be used again."));
  else
    showMessage(owner, QMessageBox::Warning,
                QStringLiteral("Erasing the disc failed: %1").arg(QString::fromStdString(burner.lastError())));
}

}  // namespace

const char* const kBurnNotSupportedMessage =
    "This system does not support burning CDs. You can use another tool to burn the CD image file to a CD.";

void setImageChooser(std::function<QString(QWidget*)> chooser) { installedChooser() = std::move(chooser); }

void setBeforeReadBack(std::function<void()> hook) { installedBeforeReadBack() = std::move(hook); }

QString chooseImageToBurn(QWidget* owner, const QString& current) {
  if (installedChooser()) return installedChooser()(owner);
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilter(QString::fromLatin1(kImageFilter));
  dialog.setDefaultSuffix(QString::fromLatin1(kImageSuffix));
  if (!current.isEmpty()) {
    dialog.setDirectory(QFileInfo(current).absolutePath());
    dialog.selectFile(QFileInfo(current).fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

bool findRecorder(QWidget* owner) {
  QProgressDialog looking(QStringLiteral("Looking for a recordable drive..."), QString(), 0, 0, owner);
  looking.setWindowTitle(QString::fromLatin1(kCaption));
  looking.setWindowModality(Qt::ApplicationModal);
  looking.setCancelButton(nullptr);
  looking.setMinimumDuration(0);
  looking.show();
  DiscBurner burner;
  bool found = false;
  runOffThread([&] { found = burner.findRecorder(); });
  looking.hide();
  if (!found)
    showMessage(owner, QMessageBox::Warning,
                QString::fromStdString(burnResultMessage(BurnResult::NoRecorder)) + QStringLiteral("\n\n") +
                    QString::fromStdString(burner.lastError()));
  return found;
}

bool burnImage(QWidget* owner, const QString& imagePath) {
  BurnProgressDialogs dialogs(owner, QFileInfo(imagePath).fileName());
  QWidget* anchor = dialogs.anchor();
  BurnProgress progress;
  // The worker only posts; every widget is touched on this thread.
  progress.copyPercent = [&dialogs, anchor](int percent) {
    QMetaObject::invokeMethod(
        anchor, [&dialogs, percent] { dialogs.showCopyPercent(percent); }, Qt::QueuedConnection);
  };
  progress.burnPercent = [&dialogs, anchor](int percent) {
    QMetaObject::invokeMethod(
        anchor, [&dialogs, percent] { dialogs.showBurnPercent(percent); }, Qt::QueuedConnection);
  };
  progress.cancelRequested = [&dialogs] { return dialogs.cancelRequested(); };

  DiscBurner burner;
  // On Windows the recording service checks the disc as part of the write, the quick way (a full
  // check reads the whole disc again); readBack then reports its verdict.
  burner.setVerifyLevel(VerifyLevel::Quick);
  BurnResult code = BurnResult::Succeeded;
  bool burned = false;
  // The path in the system's own form: on Windows its wide characters (encodeName would go
  // through the ANSI code page and lose any character outside it), elsewhere the file name bytes.
#ifdef Q_OS_WIN
  const std::filesystem::path image = imagePath.toStdWString();
#else
  const std::filesystem::path image = QFile::encodeName(imagePath).toStdString();
#endif
  dialogs.start();
  runOffThread([&] { burned = burner.burnFile(image, code, progress); });
  std::optional<VerifyResult> check;
  if (burned) check = readBack(burner, image, dialogs);
  dialogs.closeAll();

  const DiscState state = burned ? DiscState::Untouched : burner.discStateAfterBurn();
  QString text = QString::fromStdString(burnResultMessage(code));
  if (state != DiscState::Untouched) text += QStringLiteral("\n\n") + QString::fromStdString(discStateMessage(state));
  if (check) text += QStringLiteral("\n\n") + QString::fromStdString(verifyMessage(*check));
  if (state != DiscState::UnknownRewritable) {
    // A failure warns, and so does a disc that does not hold the image or could not be read back.
    const bool good =
        burned && (!check || check->outcome == VerifyOutcome::Matches || check->outcome == VerifyOutcome::Cancelled);
    showMessage(owner, good ? QMessageBox::Information : QMessageBox::Warning, text);
    return burned;
  }
  QMessageBox question(QMessageBox::Question, QString::fromLatin1(kCaption),
                       text + QStringLiteral("\n\nErase the disc now?"), QMessageBox::Yes | QMessageBox::No, owner);
  question.setDefaultButton(QMessageBox::No);
  umbra::makeRoomForTitle(question);
  if (question.exec() == QMessageBox::Yes) eraseDisc(owner, burner);
  return burned;
}

}  // namespace umbra
