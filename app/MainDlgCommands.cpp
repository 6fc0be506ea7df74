// The main window's commands that hand work to the back ends: Make Image, Burn CD, the burn
// question of Save, and the update button.
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include "app/CMainDlg.h"
#include "burn/ui/BurnUi.h"
#include "imaging/ui/CMakeImageDlg.h"
#include "update/UpdateCheck.h"

namespace umbra {

namespace {
const char* const kOpenMadeImageQuestion = "Make CD Image file success! \r\n\r\nWould you like to open it now ?";
const char* const kBurnSavedImageQuestion = "Process success! \r\n\r\nWould you like to burn it now ?";
}  // namespace

bool CMainDlg::Ask(const QString& question) {
  return QMessageBox::question(this, QString::fromLatin1(kTitle), question, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

void CMainDlg::OnMakeImage() {
  QString target;
  {
    CMakeImageDlg dlg(this);
    if (dlg.exec() != QDialog::Accepted) return;
    target = dlg.targetFile();
  }
  if (!Ask(QString::fromLatin1(kOpenMadeImageQuestion))) return;
  QThread::msleep(100);  // let the maker's file settle before it is opened for work
  ClearImage();
  m_strImagePath = target;
  if (OpenImageFile()) ShowWorkspace(true);
}

bool CMainDlg::IsBurnSupported() const { return ::IsBurnSupported(); }

bool CMainDlg::BurnImage() { return ::BurnImage(this, m_strImagePath); }

void CMainDlg::OnBurnCD() {
  if (!IsBurnSupported()) {
    Inform(QString::fromLatin1(kBurnNotSupportedMessage));
    return;
  }
  const QString path = ChooseImageToBurn(this);
  if (path.isEmpty()) return;
  m_strImagePath = path;
  // The chosen file may be the open image: release it before it is copied.
  ClearImage();
  ClearFileList();
  ClearFolderTree();
  BurnImage();
}

void CMainDlg::OfferToBurn() {
  if (!IsBurnSupported()) return;
  if (Ask(QString::fromLatin1(kBurnSavedImageQuestion))) BurnImage();
}

void CMainDlg::OnCheckUpdate() { OnCheckUpdateRequested(); }

}  // namespace umbra
