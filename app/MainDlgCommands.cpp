// The main window's commands that hand work to the back ends: Make Image, Burn CD, the burn
// question of Save, and the update button.
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include "app/CMainDlg.h"
#include "burn/DiscBurner.h"
#include "burn/ui/BurnUi.h"
#include "controls/TitleRoom.h"
#include "imaging/ui/MakeImageDialog.h"
#include "update/UpdateCheck.h"

namespace umbra {

namespace {
const char* const kOpenMadeImageQuestion = "The CD image file was made.\r\n\r\nWould you like to open it now?";
const char* const kBurnSavedImageQuestion = "The image is saved.\r\n\r\nWould you like to burn it now?";
}  // namespace

bool CMainDlg::sameFile(const QString& a, const QString& b) {
  const QFileInfo first(a), second(b);
  if (!first.exists() || !second.exists()) return first.absoluteFilePath() == second.absoluteFilePath();
  return first.canonicalFilePath() == second.canonicalFilePath();
}

bool CMainDlg::ask(const QString& question) {
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kTitle), question, QMessageBox::Yes | QMessageBox::No,
                  this);
  makeRoomForTitle(box);
  return box.exec() == QMessageBox::Yes;
}

void CMainDlg::onMakeImage() {
  QString target;
  // The maker replaces its target by renaming a finished file over it: when that is the open
  // image, the window lets go of it first, or its hides would go to the replaced file.
  QString closedImage;
  {
    MakeImageDialog dlg(this);
    dlg.setBeforeMaking([this, &closedImage](const QString& file) {
      if (!m_workspace.isOpen() || !sameFile(file, m_imagePath)) return;
      closedImage = m_imagePath;
      releaseWorkspace();
      showWorkspace(false);
    });
    const bool made = dlg.exec() == QDialog::Accepted;
    target = dlg.targetFile();
    if (!made) {
      if (!closedImage.isEmpty()) openImage(closedImage);  // the failed maker left it as it was
      return;
    }
  }
  if (!ask(QString::fromLatin1(kOpenMadeImageQuestion))) return;
  QThread::msleep(100);  // let the maker's file settle before it is opened for work
  openImage(target);
}

bool CMainDlg::burnCurrentImage() { return burnImage(this, m_imagePath); }

void CMainDlg::onBurnCD() {
  if (!burnAvailable()) {
    warn(QString::fromLatin1(kBurnNotSupportedMessage));
    return;
  }
  // Nothing is closed before a recorder has answered: without one the image stays as it is.
  if (!findRecorder(this)) return;
  const QString path = chooseImageToBurn(this, m_workspace.isOpen() ? m_imagePath : QString());
  if (path.isEmpty()) return;
  // The open image is let go while it is copied for the burn, and opened again afterwards; another
  // image is burned beside it.
  const bool burningTheOpenImage = m_workspace.isOpen() && sameFile(path, m_imagePath);
  if (burningTheOpenImage) {
    releaseWorkspace();
    showWorkspace(false);
  }
  burnImage(this, path);
  if (burningTheOpenImage) openImage(path);
}

void CMainDlg::offerToBurn() {
  if (!burnAvailable()) return;
  if (ask(QString::fromLatin1(kBurnSavedImageQuestion))) burnCurrentImage();
}

void CMainDlg::onCheckUpdate() { onCheckUpdateRequested(); }

}  // namespace umbra
