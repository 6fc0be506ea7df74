#pragma once
// Dialog templates give their geometry in dialog units of the template's font: a horizontal unit is
// a quarter of the font's average character width, a vertical unit an eighth of its height. Every
// window laid out from a template converts through this one class.
#include <QFont>
#include <QRect>
#include <QSize>

namespace umbra {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  // The templates' font, "MS Sans Serif" 8 points, or the closest face this system has.
  static QFont templateFont();

  int x(int units) const;
  int y(int units) const;
  QSize size(int width, int height) const;
  QRect rect(int left, int top, int width, int height) const;

  int baseX() const { return m_baseX; }
  int baseY() const { return m_baseY; }

 private:
  int m_baseX = 0;  // average character width in pixels
  int m_baseY = 0;  // character height in pixels
};

}  // namespace umbra
