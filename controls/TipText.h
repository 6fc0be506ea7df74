#pragma once
// Tool tips wrap at a fixed width; the platform's tool tip has no such setting, so the text is
// broken into lines before it is shown.
#include <QFont>
#include <QString>

namespace umbra {

// Breaks text at word boundaries into lines no wider than maxWidth pixels in font (a single word
// wider than that stays whole, as a tool tip would show it). Existing line breaks are kept.
QString wrapTipText(const QString& text, const QFont& font, int maxWidth);

}  // namespace umbra
