#include "controls/SkinPainting.h"

#include <QIcon>
#include <QPainter>

namespace umbra {

QPixmap skinPicture(const QString& resource, const QSize& size, qreal ratio) {
  // An icon renders a drawing for the size asked, and gives a bitmap (a Qt without its SVG module
  // gets the drawings as pictures) at no more than its own size, with the matching pixel ratio.
  return QIcon(resource).pixmap(size, ratio);
}

namespace {
// Logical position and length of the three parts along one side, and the picture's own.
struct Slices {
  qreal from[3], length[3];
};

Slices slices(qreal start, qreal target, qreal keptLow, qreal keptHigh) {
  const qreal middle = target - keptLow - keptHigh;
  return {{start, start + keptLow, start + target - keptHigh}, {keptLow, middle, keptHigh}};
}
}  // namespace

void drawKeepingEdges(QPainter& painter, const QRect& target, const QPixmap& picture, const QMargins& kept) {
  if (picture.isNull() || target.isEmpty()) return;
  const qreal ratio = picture.devicePixelRatio();
  const QSizeF own = picture.deviceIndependentSize();
  // Never smaller than the picture itself: a narrow target cuts it instead of squeezing it.
  const QSizeF size(qMax<qreal>(target.width(), own.width()), qMax<qreal>(target.height(), own.height()));
  const Slices to[2] = {slices(target.x(), size.width(), kept.left(), kept.right()),
                        slices(target.y(), size.height(), kept.top(), kept.bottom())};
  const Slices from[2] = {slices(0, own.width(), kept.left(), kept.right()),
                          slices(0, own.height(), kept.top(), kept.bottom())};
  painter.save();
  painter.setClipRect(target, Qt::IntersectClip);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) {
      const QRectF place(to[0].from[column], to[1].from[row], to[0].length[column], to[1].length[row]);
      const QRectF source(from[0].from[column] * ratio, from[1].from[row] * ratio, from[0].length[column] * ratio,
                          from[1].length[row] * ratio);
      if (place.isEmpty() || source.isEmpty()) continue;
      painter.drawPixmap(place, picture, source);
    }
  painter.restore();
}

void drawCovering(QPainter& painter, const QRect& target, const QPixmap& picture) {
  if (picture.isNull() || target.isEmpty()) return;
  const QSizeF cover = picture.deviceIndependentSize().scaled(QSizeF(target.size()), Qt::KeepAspectRatioByExpanding);
  painter.save();
  painter.setClipRect(target, Qt::IntersectClip);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(QRectF(target.topLeft(), cover), picture, QRectF(picture.rect()));
  painter.restore();
}

}  // namespace umbra
