#include "controls/DialogUnits.h"

#include <QFontMetrics>
#include <QPoint>
#include <QStringList>

namespace umbra {

namespace {
constexpr int kTemplatePointSize = 8;
// The 52 letters whose mean width is a font's average character width.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;

int mulDiv(int value, int numerator, int denominator) {
  // Rounds half away from zero, as the platform's dialog layout does.
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabetWidth = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
  m_baseX = (alphabetWidth / (kAlphabetLength / 2) + 1) / 2;
  m_baseY = metrics.height();
  if (m_baseX <= 0) m_baseX = 1;
  if (m_baseY <= 0) m_baseY = 1;
}

QFont DialogUnits::templateFont() {
  QFont font;
  // Faces with the metrics of the classic dialog font first; a condensed sans keeps the layout
  // close where none of them is installed.
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(kTemplatePointSize);
  return font;
}

int DialogUnits::x(int units) const { return mulDiv(units, m_baseX, 4); }
int DialogUnits::y(int units) const { return mulDiv(units, m_baseY, 8); }
QSize DialogUnits::size(int width, int height) const { return {x(width), y(height)}; }
QRect DialogUnits::rect(int left, int top, int width, int height) const {
  // Both corners are converted, as the platform does, so neighbouring controls never overlap.
  return QRect(QPoint(x(left), y(top)), QPoint(x(left + width) - 1, y(top + height) - 1));
}

}  // namespace umbra
