// The instructions page: its texts, its rounded clip after every resize, its buttons never shown.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "controls/CRoundDlg.h"
#include "controls/DialogUnits.h"

using umbra::CRoundDlg;

class TestRoundDlg : public QObject {
  Q_OBJECT

 private slots:
  void textsAsWritten() {
    QWidget parent;
    CRoundDlg page(&parent);
    QStringList texts;
    for (const QLabel* label : page.findChildren<QLabel*>()) texts << label->text();
    const QStringList expected = {
        QStringLiteral("Umbradisc: hides the folders that hold your sensitive files on a CD from casual view."),
        QStringLiteral("How to use:"),
        QStringLiteral("1.\tPut the files that you want to record to CD in one folder."),
        QStringLiteral("2.\tUse Make Image or another tool to make a CD image file of that folder."),
        QStringLiteral("3.\tOpen the CD image file, select the sensitive folders and hide them."),
        QStringLiteral("4.\tSave the CD image file and burn it to CD."),
        QStringLiteral("5.\tThe sensitive folders are then hidden on the CD. Hiding is not encryption."),
        QStringLiteral("Remark:"),
        QStringLiteral("Please remember the full paths of the sensitive files: on Windows, you or your programs "
                       "can reach the hidden files by their full paths."),
    };
    QCOMPARE(texts, expected);
    // Every text shows whole: inside its box and inside the page.
    for (const QLabel* label : page.findChildren<QLabel*>()) {
      const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
      QVERIFY2(label->height() >= needed, qPrintable(label->text()));
      if (!label->wordWrap()) QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
      QVERIFY2(page.rect().contains(label->geometry()), qPrintable(label->text()));
    }
  }

  void pageIsAChildAndItsButtonsNeverShow() {
    QWidget parent;
    parent.resize(800, 600);
    auto* page = new CRoundDlg(&parent);
    QVERIFY(!page->isWindow());
    page->setGeometry(10, 10, 500, 300);
    page->show();
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QVERIFY(page->isVisible());
    const auto buttons = page->findChildren<QPushButton*>();
    QCOMPARE(buttons.size(), 2);
    for (const QPushButton* button : buttons) QVERIFY(!button->isVisible());
    QTest::keyClick(page, Qt::Key_Return);  // the hidden default button does not answer
    QVERIFY(page->isVisible());
  }

  void roundedAfterEveryResize_data() {
    QTest::addColumn<QSize>("first");
    QTest::addColumn<QSize>("second");
    QTest::newRow("grow") << QSize(300, 200) << QSize(500, 300);
    QTest::newRow("shrink") << QSize(500, 300) << QSize(200, 120);
  }

  void roundedAfterEveryResize() {
    QFETCH(QSize, first);
    QFETCH(QSize, second);
    QWidget parent;
    parent.resize(800, 600);
    auto* page = new CRoundDlg(&parent);
    page->show();
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    for (const QSize& size : {first, second}) {
      page->resize(size);
      const QRegion mask = page->mask();
      const int w = size.width(), h = size.height();
      QVERIFY(mask.contains(QPoint(w / 2, h / 2)));
      QVERIFY(mask.contains(QPoint(w / 2, 0)));
      QVERIFY(mask.contains(QPoint(0, h / 2)));
      QVERIFY(mask.contains(QPoint(w - 1, h / 2)));
      QVERIFY(mask.contains(QPoint(w / 2, h - 1)));
      // The corners are cut by the same 25 x 25 ellipse whatever the size.
      for (const QPoint& corner : {QPoint(1, 1), QPoint(w - 2, 1), QPoint(1, h - 2), QPoint(w - 2, h - 2)})
        QVERIFY2(!mask.contains(corner), qPrintable(QStringLiteral("%1,%2").arg(corner.x()).arg(corner.y())));
      QVERIFY(mask.contains(QPoint(13, 13)));
    }
  }

  void dialogUnitsMeetWithoutGaps() {
    const umbra::DialogUnits du(umbra::DialogUnits::templateFont());
    QVERIFY(du.baseX() > 0 && du.baseY() > 0);
    for (int x = 0; x < 40; ++x) QCOMPARE(du.rect(x, 0, 7, 5).right() + 1, du.rect(x + 7, 0, 3, 5).left());
    QCOMPARE(du.size(4, 8), QSize(du.baseX(), du.baseY()));
  }
};

QTEST_MAIN(TestRoundDlg)
#include "tst_round_dlg.moc"
