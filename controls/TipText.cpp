#include "controls/TipText.h"

#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

namespace umbra {

QString wrapTipText(const QString& text, const QFont& font, int maxWidth) {
  QStringList lines;
  for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
    QTextLayout layout(paragraph, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(maxWidth);
      lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (paragraph.isEmpty()) lines << QString();
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace umbra
