#pragma once
// Dialog layouts are given in dialog units: a quarter of the font's average character width
// horizontally, an eighth of its height vertically.
#include <QFont>
#include <QRect>

QRect dialogUnitsToPixels(const QRect& du, const QFont& font);
