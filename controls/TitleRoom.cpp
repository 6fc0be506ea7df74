#include "controls/TitleRoom.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace umbra {

namespace {
constexpr int kFrameRoom = 160;  // the frame's icon and its three buttons, with their margins
}

int titleRoomWidth(const QMessageBox& box) {
  const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
  return metrics.horizontalAdvance(box.windowTitle()) + kFrameRoom;
}

void makeRoomForTitle(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  grid->addItem(new QSpacerItem(titleRoomWidth(box), 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(),
                0, 1, grid->columnCount());
}

}  // namespace umbra
