#include "app/WindowPlacement.h"

#include <QSettings>
#include <QWidget>

#include "update/UpdateSettings.h"

namespace umbra {

namespace {
constexpr char kPlacementKey[] = "WindowPlacement";
}  // namespace

bool restorePlacement(QWidget& window) {
  const QSettings settings(QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
  const QByteArray kept = settings.value(kPlacementKey).toByteArray();
  return !kept.isEmpty() && window.restoreGeometry(kept);
}

void savePlacement(const QWidget& window) {
  QSettings settings(QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
  settings.setValue(kPlacementKey, window.saveGeometry());
}

}  // namespace umbra
