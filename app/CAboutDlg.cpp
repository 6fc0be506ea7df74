#include "app/CAboutDlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/Resources.h"
#include "controls/DialogUnits.h"
#include "update/UpdateSettings.h"

namespace umbra {

namespace {
constexpr const char* kNoticeText = "Copyright (C) Korvantis Software Inc.";
constexpr int kIconSize = 32;
}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(kCaption));
  setFont(DialogUnits::templateFont());
  const DialogUnits du(font());
  setFixedSize(du.size(235, 55));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setGeometry(du.rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QString::fromLatin1(res::kIconApp)).pixmap(kIconSize, kIconSize));
  icon->setGeometry(QRect(du.rect(11, 10, 0, 0).topLeft(), QSize(kIconSize, kIconSize)));

  const struct {
    const char* text;
    QRect place;
  } lines[] = {{kVersionText, du.rect(40, 10, 134, 8)},
               {kNoticeText, du.rect(40, 25, 130, 8)},
               {kProjectAddress, du.rect(39, 36, 181, 10)}};
  for (const auto& line : lines) {
    auto* label = new QLabel(QString::fromLatin1(line.text), this);
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(line.place);
  }
  ok->setFocus();
}

}  // namespace umbra
