#include "update/ui/UpdatePromptUi.h"

#include <QCoreApplication>

#include "update/UpdateCheck.h"
#include "update/ui/UpdatePromptBridge.h"

namespace umbra {

void installUpdateUi() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  if (!umbra::UpdatePromptBridge::installed()) new umbra::UpdatePromptBridge(app);  // owned by the app
  setUpdatePrompt(&umbra::UpdatePromptBridge::ask);
  setHomePageOpener(&umbra::UpdatePromptBridge::openHomePage);
}

void setUpdatePromptOwner(QWidget* owner) { umbra::UpdatePromptBridge::setOwner(owner); }

}  // namespace umbra
