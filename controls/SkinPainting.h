#pragma once
// Skin pictures drawn at any window size and any screen scale without blur: drawings rendered at
// the resolution they are shown at, edges and corners kept at their own size, middles stretched.
#include <QMargins>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

class QPainter;

namespace umbra {

// The picture at resource for size logical pixels at ratio device pixels each. A drawing (SVG)
// is rendered at exactly that resolution, keeping its shape inside size; a bitmap comes at its
// own resolution, no larger than asked. The pixmap carries its device pixel ratio.
QPixmap skinPicture(const QString& resource, const QSize& size, qreal ratio);

// Draws picture over target: the parts within kept (logical pixels of the picture) of each edge
// keep their size, the corners too, and the parts between are stretched to fill the rest. A target
// smaller than the kept parts shows the picture at its own size, cut at the right and the bottom.
void drawKeepingEdges(QPainter& painter, const QRect& target, const QPixmap& picture, const QMargins& kept);

// Draws picture scaled evenly so that it covers target, its top left corner at the target's;
// what lies beyond the target is cut off.
void drawCovering(QPainter& painter, const QRect& target, const QPixmap& picture);

}  // namespace umbra
