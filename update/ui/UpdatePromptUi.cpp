#include "update/ui/UpdatePromptUi.h"

#include <QCoreApplication>

#include "update/UpdateCheck.h"
#include "update/ui/UpdatePromptBridge.h"

void InstallUpdateUi() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  if (!umbra::CUpdatePromptBridge::installed()) new umbra::CUpdatePromptBridge(app);  // owned by the app
  SetUpdatePrompt(&umbra::CUpdatePromptBridge::ask);
  SetHomePageOpener(&umbra::CUpdatePromptBridge::openHomePage);
}

void SetUpdatePromptOwner(QWidget* owner) { umbra::CUpdatePromptBridge::setOwner(owner); }
