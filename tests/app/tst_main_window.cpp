// The main window's frame: start state, layout, tool tips, ending the run, the skin, the window
// menu and About box, help, dragging, and the application's dialog colours.
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>

#include "app/CAboutDlg.h"
#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "app/FileListModel.h"
#include "controls/CRoundDlg.h"
#include "controls/CSkinButton.h"
#include "controls/DialogUnits.h"

using umbra::CMainDlg;
using umbra::CSkinButton;

namespace {

QImage iconImage(const QIcon& icon) { return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32); }

QImage shot(QWidget* widget) { return widget->grab().toImage().convertToFormat(QImage::Format_RGB32); }

bool near(QRgb a, QRgb b, int tolerance) {
  return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
         qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// The banner as the window draws it at this scale.
QImage bannerPicture(qreal ratio) {
  return QIcon(QStringLiteral(":/res/skin/banner.svg"))
      .pixmap(QSize(760, 92), ratio)
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

CSkinButton* button(CMainDlg& dlg, const char* name) {
  return dlg.findChild<CSkinButton*>(QString::fromLatin1(name));
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { umbra::CUmbradiscApp::setDialogColours(*qApp); }

  void startState() {
    CMainDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Umbradisc"));
    QVERIFY(dlg.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(dlg.howToPage()->isVisible());
    QVERIFY(!dlg.tree()->isVisible());
    QVERIFY(!dlg.list()->isVisible());
    QCOMPARE(dlg.tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* placeholder = dlg.tree()->topLevelItem(0);
    QCOMPARE(placeholder->text(0), QStringLiteral("Not selected"));
    QCOMPARE(placeholder->childCount(), 0);
    QCOMPARE(iconImage(placeholder->icon(0)), iconImage(QIcon(QStringLiteral(":/res/icons/disc_unknown.svg"))));
    QVERIFY(!iconImage(placeholder->icon(0)).isNull());

    const QStringList headings = {QStringLiteral("Name"), QStringLiteral("Property"), QStringLiteral("Size"),
                                  QStringLiteral("Type"), QStringLiteral("Modify Time")};
    const int widths[] = {110, 55, 60, 60, 85};
    QHeaderView* header = dlg.list()->horizontalHeader();
    QCOMPARE(dlg.list()->model()->columnCount(), 5);
    dlg.showWorkspace(true);
    // The Name column takes the width the others leave.
    QTRY_COMPARE(header->length(), dlg.list()->viewport()->width());
    QVERIFY(header->sectionSize(0) > widths[0]);
    for (int column = 0; column < 5; ++column) {
      QCOMPARE(dlg.list()->model()->headerData(column, Qt::Horizontal).toString(), headings[column]);
      if (column > 0) QCOMPARE(header->sectionSize(column), widths[column]);
      // Headings stand over their values: sizes on the right, the rest on the left.
      QCOMPARE(dlg.list()->model()->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                   Qt::AlignHorizontal_Mask,
               int(column == 2 ? Qt::AlignRight : Qt::AlignLeft));
    }
    QVERIFY(dlg.list()->showGrid());
    QCOMPARE(dlg.list()->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(dlg.list()->selectionMode(), QAbstractItemView::ExtendedSelection);
  }

  void layoutInDialogUnitsAndTabOrder() {
    CMainDlg dlg;
    const umbra::DialogUnits du(dlg.font());
    QCOMPARE(dlg.size(), du.size(502, 326));
    QCOMPARE(button(dlg, "openImage")->geometry(), du.rect(258, 24, 54, 29));
    QCOMPARE(button(dlg, "close")->geometry(), du.rect(482, 1, 19, 18));
    QCOMPARE(dlg.tree()->geometry(), du.rect(37, 85, 179, 209));
    QCOMPARE(dlg.list()->geometry(), du.rect(220, 85, 251, 210));
    QCOMPARE(dlg.frameRect(), du.rect(22, 73, 457, 233));
    QCOMPARE(dlg.howToPage()->geometry(), dlg.frameRect());

    // As the window is laid out: top to bottom, left to right.
    const QStringList order = {QStringLiteral("makeImage"), QStringLiteral("openImage"), QStringLiteral("hide"),
                               QStringLiteral("save"),      QStringLiteral("burn"),      QStringLiteral("tree"),
                               QStringLiteral("list"),      QStringLiteral("update"),    QStringLiteral("help"),
                               QStringLiteral("minimize"),  QStringLiteral("close")};
    QStringList chain;
    QWidget* widget = button(dlg, "makeImage");
    do {
      if (widget->focusPolicy() & Qt::TabFocus && order.contains(widget->objectName())) chain << widget->objectName();
      widget = widget->nextInFocusChain();
    } while (widget != button(dlg, "makeImage"));
    QCOMPARE(chain, order);
  }

  void toolTips_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");
    QTest::newRow("update") << "update" << "Check the server for a new version.";
    QTest::newRow("close") << "close" << "Close the window and exit.";
    QTest::newRow("minimize") << "minimize" << "Minimize the window.";
    QTest::newRow("help") << "help" << "See the help document.";
    // The command buttons name their own commands.
    QTest::newRow("makeImage") << "makeImage" << "Make a CD image from a folder.";
    QTest::newRow("openImage") << "openImage" << "Open a CD image file.";
    QTest::newRow("hide") << "hide"
                          << "Hide the selected folders and files.";
    QTest::newRow("save") << "save" << "Save the image and close it.";
    QTest::newRow("burn") << "burn" << "Burn a CD image to a disc.";
  }

  void toolTips() {
    QFETCH(QString, name);
    QFETCH(QString, tip);
    CMainDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    CSkinButton* target = dlg.findChild<CSkinButton*>(name);
    QVERIFY(target);
    const QPoint inside = target->rect().center();
    QHelpEvent help(QEvent::ToolTip, inside, target->mapToGlobal(inside));
    QApplication::sendEvent(target, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), tip);
    QToolTip::hideText();
  }

  void runEnds_data() {
    QTest::addColumn<int>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("Esc") << 0 << int(QDialog::Rejected);
    QTest::newRow("close button") << 1 << int(QDialog::Accepted);
    QTest::newRow("close request") << 2 << int(QDialog::Rejected);
  }

  void runEnds() {
    QFETCH(int, how);
    QFETCH(int, result);
    CMainDlg dlg;
    QTimer::singleShot(0, &dlg, [&] {
      QVERIFY(QApplication::activeModalWidget() == &dlg);
      if (how == 0) QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dlg, Qt::Key_Escape);
      if (how == 1) QTest::mouseClick(button(dlg, "close"), Qt::LeftButton);
      if (how == 2) dlg.close();
    });
    QTimer::singleShot(5000, &dlg, [&] { dlg.done(-1); });  // never leave the run waiting
    QCOMPARE(dlg.exec(), result);
    QVERIFY(!dlg.isVisible());
  }

  void skinFrameAndBanner() {
    CMainDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QImage banner = bannerPicture(dlg.devicePixelRatioF());
    const QImage body = QIcon(QStringLiteral(":/res/skin/body.svg")).pixmap(QSize(224, 114)).toImage();
    QVERIFY(!banner.isNull() && !body.isNull());
    QImage image = shot(&dlg);
    const QRect frame = dlg.frameRect();
    const QRgb frameColour = qRgb(204, 204, 255);
    // The page covers the frame's inside; its outer ring shows round it.
    QCOMPARE(image.pixel(frame.left() - 1, frame.center().y()), frameColour);
    QCOMPARE(image.pixel(frame.center().x(), frame.top() - 1), frameColour);
    QCOMPARE(image.pixel(frame.right() + 1, frame.center().y()), frameColour);
    // The banner is copied at its own size: cut at the right, not squeezed into the window.
    QVERIFY2(dlg.width() < banner.width(), qPrintable(QStringLiteral("window %1 px wide, banner %2 px, font %3")
                                                          .arg(dlg.width())
                                                          .arg(banner.width())
                                                          .arg(dlg.font().toString())));
    QCOMPARE(image.pixel(5, 5), banner.pixel(5, 5));
    QCOMPARE(image.pixel(dlg.width() - 1, 50), banner.pixel(dlg.width() - 1, 50));
    // The body covers the whole window.
    QVERIFY(near(image.pixel(dlg.width() - 1, dlg.height() - 1), body.pixel(body.width() - 1, body.height() - 1), 24));

    // With an image shown, the tree and list stand on the frame's white face.
    dlg.showWorkspace(true);
    image = shot(&dlg);
    const QRect tree = dlg.tree()->geometry();
    QCOMPARE(image.pixel(tree.right() + 2, tree.center().y()), qRgb(255, 255, 255));
    QCOMPARE(image.pixel(frame.left() + 3, frame.center().y()), qRgb(255, 255, 255));
    QCOMPARE(image.pixel(frame.left(), frame.center().y()), frameColour);
  }

  // A wider and taller window keeps the banner's name and its right end as they are and stretches
  // the band between them; the frame follows the window's size. The skin is drawn at the screen's
  // scale from its drawing: at QT_SCALE_FACTOR 1.5 or 2 (ctest runs this case at both too) its
  // pixels are the drawing's own at that scale, not a smaller picture blown up.
  void skinStretchesBetweenItsEdges() {
    CMainDlg dlg;
    dlg.resize(1300, 800);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.size(), QSize(1300, 800));
    const qreal ratio = dlg.devicePixelRatioF();
    const QImage banner = bannerPicture(ratio);
    QCOMPARE(banner.size(), (QSizeF(760, 92) * ratio).toSize());
    // The skin alone, without the buttons standing on it, in the screen's pixels.
    QPixmap skin(dlg.size() * ratio);
    skin.setDevicePixelRatio(ratio);
    dlg.render(&skin, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QImage image = skin.toImage().convertToFormat(QImage::Format_RGB32);
    const auto px = [ratio](int logical) { return qRound(logical * ratio); };
    const QRect name(0, 0, px(260), px(92)), end(px(720), 0, px(40), px(92));
    QCOMPARE(image.copy(name), banner.copy(name));
    QCOMPARE(image.copy(end.translated(px(dlg.width()) - px(760), 0)), banner.copy(end));
    // Between them the band runs on, stretched: where it meets either end it matches that end.
    for (int y = 0; y < px(92); ++y) {
      QVERIFY2(near(image.pixel(px(260), y), banner.pixel(px(260), y), 24), qPrintable(QString::number(y)));
      QVERIFY2(near(image.pixel(px(dlg.width() - 40) - 1, y), banner.pixel(px(720) - 1, y), 24),
               qPrintable(QString::number(y)));
    }
    const QRect frame = dlg.frameRect();
    QCOMPARE(image.pixel(px(frame.right() + 1), px(frame.center().y())), qRgb(204, 204, 255));
    QCOMPARE(image.pixel(px(frame.center().x()), px(frame.bottom() + 1)), qRgb(204, 204, 255));
  }

  // What the window gains goes to the frame, the tree and the list (a third to the tree); the
  // buttons keep their distance from the right and the bottom. The window is never smaller than
  // its first size.
  void resizingGivesTheRoomToTheTreeAndTheList() {
    CMainDlg first;
    CMainDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.showWorkspace(true);
    const QSize gained(300, 200);
    dlg.resize(dlg.size() + gained);
    QCOMPARE(dlg.frameRect(), first.frameRect().adjusted(0, 0, gained.width(), gained.height()));
    QCOMPARE(dlg.howToPage()->geometry(), dlg.frameRect());
    QCOMPARE(dlg.tree()->geometry(), first.tree()->geometry().adjusted(0, 0, 100, gained.height()));
    QCOMPARE(dlg.list()->geometry(), first.list()->geometry().adjusted(100, 0, gained.width(), gained.height()));
    for (const char* name : {"makeImage", "openImage", "hide", "save", "burn", "minimize", "close"})
      QCOMPARE(button(dlg, name)->geometry(), button(first, name)->geometry().translated(gained.width(), 0));
    for (const char* name : {"update", "help"})
      QCOMPARE(button(dlg, name)->geometry(),
               button(first, name)->geometry().translated(gained.width(), gained.height()));
    dlg.resize(100, 100);
    QCOMPARE(dlg.size(), first.size());
    QCOMPARE(dlg.tree()->geometry(), first.tree()->geometry());
  }

  void buttonsDrawOverTheSkin() {
    CMainDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    CSkinButton* close = button(dlg, "close");
    const QImage window = shot(&dlg);
    const QImage normal = shot(close);
    // At rest a corner of the button shows the skin under it.
    QCOMPARE(normal.pixel(0, close->height() - 1), window.pixel(close->x(), close->y() + close->height() - 1));
    close->setDown(true);
    const QImage pressed = shot(close);
    QCOMPARE(pressed.pixel(0, 0), close->palette().color(QPalette::Dark).rgb());
    QCOMPARE(pressed.pixel(close->width() - 1, close->height() - 1), close->palette().color(QPalette::Light).rgb());
    // The icon moves one pixel right and down; the skin behind it stays.
    QPixmap behind(close->size());
    dlg.render(&behind, QPoint(), QRegion(close->geometry()), QWidget::DrawWindowBackground);
    const QImage skin = behind.toImage().convertToFormat(QImage::Format_RGB32);
    const auto iconBox = [&](const QImage& image) {
      QRect box;
      for (int y = 2; y < close->height() - 2; ++y)  // inside the one-pixel frame
        for (int x = 2; x < close->width() - 2; ++x)
          if (image.pixel(x, y) != skin.pixel(x, y)) box |= QRect(x, y, 1, 1);
      return box;
    };
    const QRect atRest = iconBox(normal);
    QVERIFY(!atRest.isEmpty());
    QVERIFY(atRest.left() > 2 && atRest.top() > 2);
    QCOMPARE(iconBox(pressed), atRest.translated(1, 1));
    close->setDown(false);
  }

  void windowMenuAndAbout() {
    CMainDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QMenu* menu = dlg.windowMenu();

    QTest::keyClick(&dlg, Qt::Key_Space, Qt::AltModifier);
    QTRY_VERIFY(menu->isVisible());
    QStringList texts;
    for (const QAction* action : menu->actions())
      if (!action->isSeparator()) texts << action->text();
    QCOMPARE(texts.last(), QStringLiteral("&About Umbradisc..."));
    QVERIFY(texts.size() >= 5);  // restore, move, minimize, close, about
    menu->hide();

    // A right click on the skin offers the same menu; on a control it does not.
    QContextMenuEvent onButton(QContextMenuEvent::Mouse, QPoint(2, 2), button(dlg, "openImage")->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(button(dlg, "openImage"), &onButton);
    QVERIFY(!menu->isVisible());
    const QPoint skin(5, dlg.height() - 5);
    QContextMenuEvent onSkin(QContextMenuEvent::Mouse, skin, dlg.mapToGlobal(skin));
    QApplication::sendEvent(&dlg, &onSkin);
    QTRY_VERIFY(menu->isVisible());
    menu->hide();

    QString title;
    QStringList labels;
    QTimer::singleShot(0, &dlg, [&] {
      auto* about = qobject_cast<umbra::CAboutDlg*>(QApplication::activeModalWidget());
      if (!about) return;
      title = about->windowTitle();
      for (const QLabel* label : about->findChildren<QLabel*>()) labels << label->text();
      about->accept();
    });
    menu->actions().last()->trigger();
    QCOMPARE(title, QStringLiteral("About Umbradisc "));
    QVERIFY(labels.contains(QStringLiteral("Umbradisc Version 2.0")));
    // The project's address, as the packages and the update check's server have it.
    QVERIFY2(labels.contains(QStringLiteral("https://www.korvantissoft.com/")),
             qPrintable(labels.join(QLatin1Char('|'))));
  }

  // F1 and the light bulb open the help page named after the program; a missing page, or one no
  // browser takes, is told in a box that gives its path to copy.
  void helpOpensThePageNamedAfterTheProgram() {
    QList<QUrl> opened;
    bool browser = true;
    umbra::CUmbradiscApp::setUrlOpener([&](const QUrl& url) {
      if (browser) opened << url;
      return browser;
    });
    const QString page = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                         QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".html");
    QCOMPARE(umbra::CUmbradiscApp::helpFilePath(), page);
    QFile::remove(page);
    QStringList boxes;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes << box->text();
        QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);
        box->accept();
      }
    });
    watcher.start(10);

    CMainDlg dlg;
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_F1);
    QTest::mouseClick(button(dlg, "help"), Qt::LeftButton);
    QVERIFY2(opened.isEmpty(), "a missing page opens nothing");
    const QString missing =
        QString::fromLatin1(umbra::CUmbradiscApp::kHelpMissingText).arg(QDir::toNativeSeparators(page));
    QCOMPARE(boxes, QStringList({missing, missing}));
    boxes.clear();

    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<html></html>");
    file.close();
    dlg.activateWindow();  // back from the boxes
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_F1);
    QTest::mouseClick(button(dlg, "help"), Qt::LeftButton);
    QCOMPARE(opened, QList<QUrl>({QUrl::fromLocalFile(page), QUrl::fromLocalFile(page)}));
    QVERIFY(boxes.isEmpty());

    browser = false;  // no browser takes the page: its path, to open by hand
    QTest::mouseClick(button(dlg, "help"), Qt::LeftButton);
    QFile::remove(page);
    QCOMPARE(
        boxes,
        QStringList{QString::fromLatin1(umbra::CUmbradiscApp::kHelpNoBrowserText).arg(QDir::toNativeSeparators(page))});
  }

  void dragByTheSkinOnly() {
    CMainDlg dlg;
    dlg.move(100, 100);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const auto drag = [&](QWidget* target, QPoint at, QPoint by) {
      const QPoint global = target->mapToGlobal(at);
      QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(target, &press);
      QMouseEvent move(QEvent::MouseMove, at + by, global + by, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(target, &move);
      QMouseEvent release(QEvent::MouseButtonRelease, at + by, global + by, Qt::LeftButton, Qt::NoButton,
                          Qt::NoModifier);
      QApplication::sendEvent(target, &release);
    };
    const QPoint start = dlg.pos();
    // Let go beside the button, so the press makes no click.
    drag(button(dlg, "hide"), QPoint(5, 5), QPoint(button(dlg, "hide")->width() + 10, 20));
    QCOMPARE(dlg.pos(), start);
    drag(&dlg, QPoint(12, dlg.height() - 12), QPoint(30, 20));
    QCOMPARE(dlg.pos(), start + QPoint(30, 20));
    QCOMPARE(dlg.size(), dlg.minimumSize());
  }

  void dialogColoursButNotEditFields() {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Umbradisc"), QStringLiteral("Text"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(shot(&box).pixel(2, 2), qRgb(221, 255, 255));
    QLabel label;
    QCOMPARE(label.palette().color(QPalette::WindowText).rgb(), qRgb(51, 51, 102));
    QLineEdit edit;
    QVERIFY(edit.palette().color(QPalette::Base).rgb() != qRgb(221, 255, 255));
    QVERIFY(edit.palette().color(QPalette::Text).rgb() != qRgb(51, 51, 102));
  }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
