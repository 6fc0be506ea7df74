#include "DialogUnits.h"

#include <QFontMetrics>

QRect dialogUnitsToPixels(const QRect& du, const QFont& font) {
  const QFontMetrics metrics(font);
  const int charWidth = metrics.averageCharWidth();
  const int charHeight = metrics.height();
  const auto horizontal = [&](int units) { return units * charWidth / 4; };
  const auto vertical = [&](int units) { return units * charHeight / 8; };
  return QRect(horizontal(du.x()), vertical(du.y()), horizontal(du.width()),
               vertical(du.height()));
}
