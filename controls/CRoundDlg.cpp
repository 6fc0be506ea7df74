#include "controls/CRoundDlg.h"

#include <QLabel>
#include <QPainterPath>
#include <QPolygon>
#include <QPushButton>
#include <QRegion>
#include <QResizeEvent>

#include "controls/DialogUnits.h"

namespace umbra {

namespace {
constexpr int kOneLineUnits = 11;  // the tallest one-line text of the page

struct StaticText {
  const char* text;
  int x, y, width, height;
};

// The page's texts as the user reads them, with their places in dialog units.
constexpr StaticText kTexts[] = {
    {"Umbradisc: hides the folders that hold your sensitive files on a CD from casual view.", 49, 29, 358, 11},
    {"How to use:", 49, 45, 39, 8},
    {"1.\tPut the files that you want to record to CD in one folder.", 49, 61, 351, 8},
    {"2.\tUse Make Image or another tool to make a CD image file of that folder.", 49, 81, 351, 8},
    {"3.\tOpen the CD image file, select the sensitive folders and hide them.", 49, 101, 351, 8},
    {"4.\tSave the CD image file and burn it to CD.", 49, 121, 351, 8},
    {"5.\tThe sensitive folders are then hidden on the CD. Hiding is not encryption.", 49, 141, 351, 8},
    {"Remark:", 47, 165, 30, 8},
    {"Please remember the full paths of the sensitive files: on Windows, you or your programs can reach "
     "the hidden files by their full paths.",
     46, 179, 350, 20},
};
}  // namespace

CRoundDlg::CRoundDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Widget);  // a page inside its parent, not a window of its own
  setFont(DialogUnits::templateFont());
  setAutoFillBackground(true);  // the page paints the dialog colour over the window's skin
  buildTemplate();
  setMask(roundRegion(size()));
  setVisible(false);
}

void CRoundDlg::buildTemplate() {
  const DialogUnits du(font());
  resize(du.size(kWidthUnits, kHeightUnits));

  // The template's confirm and cancel buttons exist for the dialog's keyboard handling only.
  m_okButton = new QPushButton(QStringLiteral("OK"), this);
  m_okButton->setGeometry(du.rect(400, 212, 50, 14));
  m_okButton->setDefault(true);
  m_okButton->setVisible(false);
  m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  m_cancelButton->setGeometry(du.rect(51, 200, 50, 14));
  m_cancelButton->setVisible(false);

  for (const StaticText& item : kTexts) {
    auto* label = new QLabel(QString::fromLatin1(item.text), this);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QRect place = du.rect(item.x, item.y, item.width, item.height);
    if (item.height > kOneLineUnits) {
      label->setWordWrap(true);
    } else {
      // A one-line text stays on its line even where this system's face runs wider than the
      // template's.
      place.setWidth(qMax(place.width(), label->sizeHint().width()));
    }
    label->setGeometry(place);
  }
}

QRegion CRoundDlg::roundRegion(const QSize& size) {
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), kCornerEllipse / 2.0,
                      kCornerEllipse / 2.0);
  return QRegion(path.toFillPolygon().toPolygon());
}

void CRoundDlg::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  setMask(roundRegion(e->size()));
}

}  // namespace umbra
