// The main window as a user meets it while it runs modally: every key and click goes through the
// window system's input path to the window on screen, so modal blocking, shortcuts and focus act
// as they do for a user. The update box answered for the automatic and the asked-for check, Alt+Space
// with each control focused, Return in the tree and the list, the first drag and the first display.
#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>

#include "TestImages.h"
#include <QTreeWidget>
#include <QtTest>
#include <atomic>
#include <functional>

#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "controls/CSkinButton.h"
#include "tests/update/LocalHttpServer.h"
#include "tests/update/UpdateTestSupport.h"
#include "update/UpdateCheck.h"
#include "update/ui/UpdatePromptUi.h"

using namespace umbra;

using umbra::CMainDlg;
using umbra::CSkinButton;

namespace {

const char* const kButtons[] = {"makeImage", "openImage", "hide",     "save", "burn",
                                "update",    "help",      "minimize", "close"};

CSkinButton* button(CMainDlg& dlg, const char* name) {
  return dlg.findChild<CSkinButton*>(QString::fromLatin1(name));
}

QWindow* windowOf(QWidget* widget) { return widget->window()->windowHandle(); }

// A click where the widget lies, delivered to its window as the window system delivers it.
void click(QWidget* widget, QPoint at = QPoint(-1, -1)) {
  if (at == QPoint(-1, -1)) at = widget->rect().center();
  QTest::mouseClick(windowOf(widget), Qt::LeftButton, {}, widget->mapTo(widget->window(), at));
}

void key(QWidget* inWindow, Qt::Key code, Qt::KeyboardModifiers modifiers = {}) {
  QTest::keyClick(windowOf(inWindow), code, modifiers);
}

QMessageBox* visibleUpdateBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible() && box->windowTitle() == QLatin1String("Umbradisc update")) return box;
  }
  return nullptr;
}

QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the window modally, as the program does, and hands `drive` the running window. The run is
// ended by the close button once `drive` is done, or at once when it failed. A modal dialog that a
// wrongly pressed button opens is named in `opened` and closed, so the run never hangs on it.
int runModally(CMainDlg& dlg, const std::function<void()>& drive, QStringList* opened = nullptr) {
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, &dlg, [&] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (modal == nullptr || modal == &dlg) return;
    if (opened != nullptr) *opened << QString::fromLatin1(modal->metaObject()->className());
    modal->reject();
  });
  watcher.start(20);
  QTimer::singleShot(0, &dlg, [&] {
    drive();
    if (!dlg.isVisible()) return;
    if (QTest::currentTestFailed()) {
      dlg.done(-1);
      return;
    }
    click(button(dlg, "close"));
  });
  QTimer::singleShot(120000, &dlg, [&] { dlg.done(-2); });  // never leave a run waiting
  return dlg.exec();
}

}  // namespace

// Stands in for the browser: receives the http addresses the program asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { urls << url.toString(); }

 public:
  QStringList urls;
};

class TestWindowInput : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir{QString::fromStdWString((umbra::test::tempRoot() / "umbra-qt-XXXXXX").wstring())};
  umbra::test::CLocalHttpServer m_server;
  UrlCatcher m_catcher;

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    umbra::CUmbradiscApp::setDialogColours(*qApp);
    // No settings: every start checks, against 50410, without the start-up throttle.
    qputenv("UMBRADISC_SETTINGS", QFile::encodeName(m_dir.filePath(QStringLiteral("missing.ini"))));
    qputenv("UMBRADISC_UPDATE_URL", m_server.pageUrl().toUtf8());
    m_server.servePage("50411\n");
    setConnectionProbe([] { return true; });
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_catcher, "open");
    installUpdateUi();
  }
  void cleanupTestCase() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    setConnectionProbe({});
  }

  void updateBoxIsAnsweredWhileTheWindowRuns_data() {
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("opensHomePage");
    QTest::newRow("automatic, Yes clicked") << false << "click Yes" << true;
    QTest::newRow("automatic, Esc") << false << "Esc" << false;
    QTest::newRow("automatic, y typed") << false << "y" << true;
    QTest::newRow("asked, y typed") << true << "y" << true;
    QTest::newRow("asked, No clicked") << true << "click No" << false;
    QTest::newRow("asked, Return") << true << "Return" << true;
  }

  void updateBoxIsAnsweredWhileTheWindowRuns() {
    QFETCH(bool, asked);
    QFETCH(QString, answer);
    QFETCH(bool, opensHomePage);
    m_catcher.urls.clear();
    g_interactiveCheck = false;

    CMainDlg dlg;
    if (!asked) startUpdateWorker();  // as at start-up: the worker starts before the window runs
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      if (asked) click(button(dlg, "update"));
      QMessageBox* box = nullptr;
      QTRY_VERIFY_WITH_TIMEOUT((box = visibleUpdateBox()) != nullptr, 30000);
      QCOMPARE(box->text(), umbra::test::kOfferText);
      const QWidget* owner = box->parentWidget();

      if (answer == QLatin1String("click Yes")) click(box->button(QMessageBox::Yes));
      if (answer == QLatin1String("click No")) click(box->button(QMessageBox::No));
      if (answer == QLatin1String("y")) key(box, Qt::Key_Y);
      if (answer == QLatin1String("Esc")) key(box, Qt::Key_Escape);
      if (answer == QLatin1String("Return")) key(box, Qt::Key_Return);
      QTRY_COMPARE(visibleUpdateBox(), nullptr);
      // It belonged to the running window: it stands above it and its modal run does not shut it out.
      QCOMPARE(owner, &dlg);
      const QStringList expected = opensHomePage ? QStringList{m_server.rootUrl()} : QStringList{};
      QTRY_COMPARE(m_catcher.urls, expected);
      QVERIFY(dlg.isVisible());  // the answer, Esc included, leaves the window running
    });
    QCOMPARE(result, int(QDialog::Accepted));  // ended by the close button, not by the box's Esc
  }

  // A box that opens while a dialog runs over the window (here the About box) still belongs to the
  // window: it stays when that dialog closes and is answered afterwards.
  void updateBoxOutlivesTheDialogItOpenedOver() {
    m_catcher.urls.clear();
    g_interactiveCheck = false;
    CMainDlg dlg;
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      QPointer<QDialog> about;
      QTimer::singleShot(0, &dlg, [&] {
        QTRY_VERIFY((about = qobject_cast<QDialog*>(QApplication::activeModalWidget())) != &dlg);
        startUpdateWorker();
        QMessageBox* box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = visibleUpdateBox()) != nullptr, 30000);
        QCOMPARE(box->parentWidget(), &dlg);
        key(about, Qt::Key_Escape);
      });
      dlg.windowMenu()->actions().last()->trigger();  // the About box, run modally over the window
      QVERIFY(!about);
      QMessageBox* box = nullptr;
      QTRY_VERIFY((box = visibleUpdateBox()) != nullptr);
      QCOMPARE(box->parentWidget(), &dlg);
      key(box, Qt::Key_Y);
      QTRY_COMPARE(visibleUpdateBox(), nullptr);
      QTRY_COMPARE(m_catcher.urls, QStringList{m_server.rootUrl()});
    });
    QCOMPARE(result, int(QDialog::Accepted));
  }

  // Tab walks the controls as they are laid out, and the focused skinned button shows a dotted
  // rectangle in its caption's colour; before the keyboard is used, none shows.
  void tabShowsTheFocusOnTheSkinnedButtons() {
    CMainDlg dlg;
    dlg.showWorkspace(true);
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      dlg.activateWindow();
      QTRY_VERIFY(dlg.isActiveWindow());
      CSkinButton* make = button(dlg, "makeImage");
      CSkinButton* open = button(dlg, "openImage");
      QTRY_VERIFY(make->hasFocus());
      const QImage unmarked = make->grab().toImage();
      const QImage openBefore = open->grab().toImage();
      // The dotted line along the top, two pixels in: some of its pixels take the caption's colour.
      const auto marked = [](const QImage& image, const QColor& colour) {
        int hits = 0;
        for (int x = 3; x < image.width() - 3; ++x) hits += image.pixelColor(x, 2) == colour;
        return hits > image.width() / 4;
      };
      const QColor caption = make->palette().color(QPalette::ButtonText);
      QVERIFY(!marked(unmarked, caption));
      key(&dlg, Qt::Key_Tab);
      QTRY_VERIFY(open->hasFocus());
      QVERIFY(marked(open->grab().toImage(), caption));
      QVERIFY(open->grab().toImage() != openBefore);
      QVERIFY(!marked(make->grab().toImage(), caption));
      // On through the command row to the tree, the list and the buttons below them.
      QStringList visited;
      for (int i = 0; i < 8; ++i) {
        key(&dlg, Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
      }
      QCOMPARE(visited, QStringList({"hide", "save", "burn", "tree", "list", "update", "help", "minimize"}));
    });
    QCOMPARE(result, int(QDialog::Accepted));
  }

  // Alt+Space asks for the window menu and never presses a button, whichever control has the focus,
  // whether or not the window counts as active, and in whichever order the keys are let go.
  void altSpaceOpensTheMenuAndPressesNothing_data() {
    QTest::addColumn<bool>("active");
    QTest::addColumn<bool>("altReleasedFirst");
    QTest::newRow("active, Space let go first") << true << false;
    QTest::newRow("active, Alt let go first") << true << true;
    QTest::newRow("another window active, Space let go first") << false << false;
    QTest::newRow("another window active, Alt let go first") << false << true;
  }

  void altSpaceOpensTheMenuAndPressesNothing() {
    QFETCH(bool, active);
    QFETCH(bool, altReleasedFirst);
    CMainDlg dlg;
    QList<QSignalSpy*> clicks;
    for (const char* name : kButtons) clicks << new QSignalSpy(button(dlg, name), &QPushButton::clicked);
    dlg.showWorkspace(true);  // the tree and the list take the focus too

    QStringList opened;
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      // The update box is such a window: it belongs to the main window and takes the activation.
      QWidget other(&dlg, Qt::Window);
      other.resize(100, 50);
      if (!active) {
        other.show();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
      } else {
        dlg.activateWindow();
        QTRY_VERIFY(dlg.isActiveWindow());
      }
      QList<QWidget*> focusable;
      for (const char* name : kButtons) focusable << button(dlg, name);
      focusable << dlg.tree() << dlg.list();
      QWindow* window = windowOf(&dlg);
      for (QWidget* target : focusable) {
        target->setFocus(Qt::TabFocusReason);
        QTest::simulateEvent(window, true, Qt::Key_Alt, Qt::NoModifier, QString(), false);
        QTest::simulateEvent(window, true, Qt::Key_Space, Qt::AltModifier, QStringLiteral(" "), false);
        if (altReleasedFirst) {
          QTest::simulateEvent(window, false, Qt::Key_Alt, Qt::NoModifier, QString(), false);
          QTest::simulateEvent(window, false, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), false);
        } else {
          QTest::simulateEvent(window, false, Qt::Key_Space, Qt::AltModifier, QStringLiteral(" "), false);
          QTest::simulateEvent(window, false, Qt::Key_Alt, Qt::NoModifier, QString(), false);
        }
        for (QSignalSpy* spy : clicks) QVERIFY2(spy->isEmpty(), qPrintable(target->objectName()));
        QVERIFY2(dlg.windowMenu()->isVisible(), qPrintable(target->objectName()));
        QTest::keyClick(windowOf(dlg.windowMenu()), Qt::Key_Escape);
        QTRY_VERIFY(!dlg.windowMenu()->isVisible());
        QVERIFY(dlg.isVisible());
      }
    }, &opened);
    QCOMPARE(opened, QStringList());  // no command's dialog opened
    QCOMPARE(result, int(QDialog::Accepted));
    qDeleteAll(clicks);
  }

  // After Open Image, Return in the list or the tree neither opens the file dialog again nor
  // touches the image; Return on a focused button presses that button only.
  void returnInTheTreeAndListDoesNothing() {
    const QString source = m_dir.filePath(QStringLiteral("source"));
    QVERIFY(QDir(source).mkpath(QStringLiteral("Project Files")));
    QVERIFY(QDir(source).mkpath(QStringLiteral("Other")));
    const QString image = m_dir.filePath(QStringLiteral("work.iso"));
    // Under wine the maker runs on the Linux side, which sees only the Z: drive.
    try {
      umbra::test::makeImage(umbra::test::Maker::Xorriso, source.toStdWString(), image.toStdWString(), true, {},
                             "TESTVOL");
    } catch (const std::exception& error) {
      QFAIL(error.what());
    }

    CMainDlg dlg;
    QStringList opened;
    int chooserCalls = 0;
    dlg.setFileChooser([&](QWidget*) {
      ++chooserCalls;
      return image;
    });
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      click(button(dlg, "openImage"));
      QCOMPARE(chooserCalls, 1);
      QTRY_VERIFY(dlg.list()->isVisible());
      const QByteArray before = fileBytes(image);

      QTreeWidget* tree = dlg.tree();
      click(tree->viewport(), tree->visualItemRect(tree->topLevelItem(0)).center());
      QVERIFY(tree->hasFocus());
      key(tree, Qt::Key_Return);
      QTableView* list = dlg.list();
      QCOMPARE(list->model()->rowCount(), 2);  // the two folders of the root
      click(list->viewport(), list->visualRect(list->model()->index(0, 1)).center());
      QVERIFY(list->hasFocus());
      key(list, Qt::Key_Return);
      key(list, Qt::Key_Enter, Qt::KeypadModifier);
      QCoreApplication::processEvents();
      QCOMPARE(chooserCalls, 1);
      QCOMPARE(QApplication::activeModalWidget(), &dlg);
      QCOMPARE(dlg.imagePath(), image);
      QCOMPARE(fileBytes(image), before);
      QCOMPARE(list->model()->rowCount(), 2);
      QCOMPARE(list->selectionModel()->selectedRows().size(), 1);

      button(dlg, "openImage")->setFocus(Qt::TabFocusReason);
      key(&dlg, Qt::Key_Return);
      QCOMPARE(chooserCalls, 2);
    }, &opened);
    QCOMPARE(opened, QStringList());
    QCOMPARE(result, int(QDialog::Accepted));
  }

  void firstDisplayIsCentredAndTheFirstDragFollowsThePointer() {
    CMainDlg dlg;
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      const QRect area = dlg.screen()->availableGeometry();
      QCOMPARE(dlg.pos(), QPoint(area.x() + (area.width() - dlg.width()) / 2,
                                 area.y() + (area.height() - dlg.height()) / 2));
      const QPoint start = dlg.pos();
      const QPoint grip(12, dlg.height() - 12);  // the skin, below the frame, away from the edges
      QVERIFY(dlg.childAt(grip) == nullptr);
      QWindow* window = windowOf(&dlg);
      QTest::mousePress(window, Qt::LeftButton, {}, grip);
      QTest::mouseMove(window, grip + QPoint(40, -25));
      QTest::mouseRelease(window, Qt::LeftButton, {}, grip);  // the window moved with the pointer
      QCOMPARE(dlg.pos(), start + QPoint(40, -25));
    });
    QCOMPARE(result, int(QDialog::Accepted));
  }

  // Dragged by its right edge, its bottom edge or its corner grip, the window grows and the tree
  // and the list grow with it; the window menu (from the skin's right click or Alt+Space)
  // maximises it and restores it.
  void resizingAndMaximisingGrowTheTreeAndTheList() {
    CMainDlg dlg;
    dlg.showWorkspace(true);
    const int result = runModally(dlg, [&] {
      QTRY_VERIFY(dlg.isVisible());
      QWindow* window = windowOf(&dlg);
      // The grip keeps the window on its screen, which may be small here (800 x 600 offscreen).
      dlg.move(dlg.screen()->availableGeometry().topLeft());
      const QSize first = dlg.size();
      const QSize tree = dlg.tree()->size(), list = dlg.list()->size();
      const auto dragBy = [&](QPoint at, QPoint by) {
        QTest::mouseMove(window, at);
        QTest::mousePress(window, Qt::LeftButton, {}, at);
        QTest::mouseMove(window, at + by / 2);
        QTest::mouseMove(window, at + by);
        QTest::mouseRelease(window, Qt::LeftButton, {}, at + by);
      };
      dragBy(QPoint(dlg.width() - 2, dlg.height() / 2), QPoint(20, 0));  // the right edge
      QTRY_COMPARE(dlg.size(), first + QSize(20, 0));
      dragBy(QPoint(dlg.width() / 2, dlg.height() - 2), QPoint(0, 30));  // the bottom edge
      QTRY_COMPARE(dlg.size(), first + QSize(20, 30));
      QWidget* grip = dlg.findChild<QWidget*>(QStringLiteral("sizeGrip"));
      QVERIFY(grip != nullptr && grip->isVisible());
      dragBy(grip->geometry().center(), QPoint(10, 30));
      QTRY_COMPARE(dlg.size(), first + QSize(30, 60));
      QCOMPARE(dlg.tree()->size(), tree + QSize(10, 60));
      QCOMPARE(dlg.list()->size(), list + QSize(20, 60));
      // Never smaller than the first size.
      dragBy(QPoint(dlg.width() - 2, dlg.height() / 2), QPoint(-400, 0));
      QTRY_COMPARE(dlg.size(), first + QSize(0, 60));
      QCOMPARE(dlg.tree()->width(), tree.width());

      // Maximised from the window menu of the skin's right click, and restored from it again.
      const QSize normal = dlg.size();
      QTest::mouseClick(window, Qt::RightButton, {}, QPoint(12, dlg.height() - 12));
      QTRY_VERIFY(dlg.windowMenu()->isVisible());
      QAction* maximize = dlg.windowMenu()->findChild<QAction*>(QStringLiteral("maximize"));
      QVERIFY(maximize != nullptr && maximize->isEnabled());
      click(dlg.windowMenu(), dlg.windowMenu()->actionGeometry(maximize).center());
      QTRY_VERIFY(dlg.isMaximized());
      QTRY_VERIFY(dlg.width() > normal.width() || dlg.height() > normal.height());
      QTRY_COMPARE(dlg.tree()->height() - tree.height(), dlg.height() - first.height());
      QCOMPARE(dlg.list()->width() + dlg.tree()->width() - list.width() - tree.width(), dlg.width() - first.width());
      QVERIFY(!grip->isVisible());
      QTest::mouseClick(window, Qt::RightButton, {}, QPoint(12, dlg.height() - 12));
      QTRY_VERIFY(dlg.windowMenu()->isVisible());
      QVERIFY(!maximize->isEnabled());
      QAction* restore = dlg.windowMenu()->findChild<QAction*>(QStringLiteral("restore"));
      click(dlg.windowMenu(), dlg.windowMenu()->actionGeometry(restore).center());
      QTRY_VERIFY(!dlg.isMaximized());
      QTRY_COMPARE(dlg.size(), normal);
      QVERIFY(grip->isVisible());

      // The window menu, from the keyboard.
      dlg.activateWindow();
      QTRY_VERIFY(dlg.isActiveWindow());
      key(&dlg, Qt::Key_Space, Qt::AltModifier);
      QTRY_VERIFY(dlg.windowMenu()->isVisible());
      QVERIFY(maximize->isEnabled());
      QTest::keyClick(windowOf(dlg.windowMenu()), Qt::Key_X);  // Ma&ximize
      QTRY_VERIFY(dlg.isMaximized());
      key(&dlg, Qt::Key_Space, Qt::AltModifier);
      QTRY_VERIFY(dlg.windowMenu()->isVisible());
      QVERIFY(!maximize->isEnabled());
      QTest::keyClick(windowOf(dlg.windowMenu()), Qt::Key_R);  // &Restore
      QTRY_VERIFY(!dlg.isMaximized());
      QTRY_COMPARE(dlg.size(), normal);
    });
    QCOMPARE(result, int(QDialog::Accepted));
  }
};

QTEST_MAIN(TestWindowInput)
#include "tst_window_input.moc"
