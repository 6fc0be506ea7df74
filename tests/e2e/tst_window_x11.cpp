// The main window on a real X server (Xvfb under openbox, started by on_xvfb.sh), run modally as the
// program runs it and driven by xdotool: every click, drag and key comes from the X server as a
// user's would, through the window manager. Resizing by the grip and an edge and maximising from the
// window menu (the tree and the list grow with the window), the question before Make Image replaces
// a typed target, Hide and Show named by a mixed selection, the look of Hide on an image that
// cannot be written, and Burn CD without a drive keeping the image open.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

#include "TestImages.h"
#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "app/FileListModel.h"
#include "burn/ui/BurnUi.h"
#include "controls/CSkinButton.h"
#include "imaging/ui/MakeImageDialog.h"

using namespace umbra;

namespace {

// Runs xdotool and waits for it; the window takes the events it caused once control returns.
bool xdo(const QStringList& arguments) { return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0; }

QStringList at(const QPoint& global) {
  return {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(global.x()),
          QString::number(global.y())};
}
bool clickAt(const QPoint& global, int button = 1) {
  return xdo(at(global) << QStringLiteral("click") << QString::number(button));
}
bool click(const QWidget* widget, QPoint local = QPoint(-1, -1)) {
  return clickAt(widget->mapToGlobal(local == QPoint(-1, -1) ? widget->rect().center() : local));
}
bool key(const QString& keys) { return xdo({QStringLiteral("key"), keys}); }
bool type(const QString& text) {
  return xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("10"), text});
}

QMessageBox* visibleBox() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) return box;
  return nullptr;
}

// Steps run one after another from a timer, so each runs inside whatever modal loop is active then
// (a dialog the step before opened). A step returns true when it is done, false to be tried again at
// the next tick (it waits for a window to show, say); one that never gets done fails the script.
class Script : public QObject {
 public:
  using Step = std::function<bool()>;
  Script& then(const QString& what, Step step) {
    m_steps.append({what, std::move(step)});
    return *this;
  }
  // Records why the script failed and ends it.
  bool fail(const QString& why) {
    if (failure.isEmpty()) failure = m_steps.value(m_next).what + QStringLiteral(": ") + why;
    m_next = static_cast<int>(m_steps.size());
    return true;
  }
  void run(std::function<void()> whenDone) {
    m_whenDone = std::move(whenDone);
    connect(&m_timer, &QTimer::timeout, this, &Script::tick);
    m_timer.start(kTick);
  }
  QString failure;

 private:
  static constexpr int kTick = 50;
  static constexpr int kPatience = 600;  // ticks a step may wait for what it waits for
  struct Named {
    QString what;
    Step step;
  };
  void tick() {
    if (m_busy) return;  // a step's own modal loop runs the timer too
    m_busy = true;
    if (m_next < m_steps.size()) {
      if (m_steps[m_next].step()) {
        ++m_next;
        m_tries = 0;
      } else if (++m_tries > kPatience) {
        fail(QStringLiteral("did not happen"));
      }
    }
    m_busy = false;
    if (m_next >= m_steps.size()) {
      m_timer.stop();
      m_whenDone();
    }
  }
  QList<Named> m_steps;
  QTimer m_timer;
  std::function<void()> m_whenDone;
  int m_next = 0;
  int m_tries = 0;
  bool m_busy = false;
};

// Counts the mouse presses the widgets are given: a drag goes on only once its press has arrived
// (a busy machine may take a while), since the press is what starts the window system's resize loop.
class PressCounter : public QObject {
 public:
  PressCounter() { qApp->installEventFilter(this); }
  ~PressCounter() override { qApp->removeEventFilter(this); }
  int presses = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonPress && watched->isWidgetType()) ++presses;
    return false;
  }
};

// Runs the window modally, as the program does, with the script driving it; the run ends when the
// script does (any dialog or box it left open is closed first).
void runModally(CMainDlg& dlg, Script& script) {
  QTimer::singleShot(0, &dlg, [&] {
    script.run([&] {
      while (QWidget* modal = QApplication::activeModalWidget()) {
        if (modal == &dlg) break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
          dialog->reject();
        else
          break;
      }
      if (QMessageBox* box = visibleBox()) box->close();
      QTimer::singleShot(0, &dlg, [&dlg] { dlg.done(QDialog::Accepted); });
    });
  });
  QTimer::singleShot(240000, &dlg, [&] { dlg.done(-2); });  // never leave a run waiting
  dlg.exec();
}

QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

CSkinButton* button(CMainDlg& dlg, const char* name) { return dlg.findChild<CSkinButton*>(QString::fromLatin1(name)); }

}  // namespace

class TestWindowX11 : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/umbra-x11-XXXXXX")};
  QString m_pristine;

  // A copy of the test image, to work on.
  QString freshImage(const QString& name) {
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    QFile::copy(m_pristine, path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
  }
  static int rowNamed(CMainDlg& dlg, const QString& name) {
    for (int row = 0; row < dlg.list()->model()->rowCount(); ++row)
      if (dlg.list()->model()->index(row, 0).data().toString() == name) return row;
    return -1;
  }
  static QPoint rowPoint(CMainDlg& dlg, int row) {
    return dlg.list()->viewport()->mapToGlobal(dlg.list()->visualRect(dlg.list()->model()->index(row, 1)).center());
  }
  static QString state(CMainDlg& dlg, const QString& name) {
    return dlg.list()->model()->index(rowNamed(dlg, name), FileListModel::kProperty).data().toString();
  }
  // Opens the image through Open Image (its file dialog answered at once).
  static void openImage(Script& script, CMainDlg& dlg, const QString& image) {
    dlg.setFileChooser([image](QWidget*) { return image; });
    script
        .then("Open Image",
              [&dlg] { return dlg.isVisible() && dlg.isActiveWindow() && click(button(dlg, "openImage")); })
        .then("the tree shows", [&dlg] { return dlg.tree()->isVisible() && dlg.tree()->topLevelItemCount() == 1; });
  }
  // Opens the image and lists the root folder by a click on it in the tree.
  static void openAndListTheRoot(Script& script, CMainDlg& dlg, const QString& image) {
    openImage(script, dlg, image);
    script
        .then("the root clicked",
              [&dlg] {
                QTreeWidget* tree = dlg.tree();
                return click(tree->viewport(), tree->visualItemRect(tree->topLevelItem(0)).center());
              })
        .then("the root is listed", [&dlg] { return dlg.list()->model()->rowCount() > 0; });
  }

 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      QSKIP("needs an X server: run through tests/e2e/on_xvfb.sh");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) QSKIP("xdotool is missing");
    QVERIFY(m_dir.isValid());
    umbra::CUmbradiscApp::setDialogColours(*qApp);
    const QString source = m_dir.filePath(QStringLiteral("source"));
    for (const char* folder : {"Alpha", "beta", "gamma"}) QVERIFY(QDir(source).mkpath(QLatin1String(folder)));
    for (const char* file : {"Alpha/a.txt", "beta/b.txt", "gamma/g.txt", "README"}) {
      QFile f(source + QLatin1Char('/') + QLatin1String(file));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(QByteArray(file) + "\n");
    }
    m_pristine = m_dir.filePath(QStringLiteral("pristine.iso"));
    try {
      umbra::test::makeImage(umbra::test::Maker::Xorriso, source.toStdString(), m_pristine.toStdString(), true, {},
                             "FIRST");
    } catch (const std::exception& error) {
      QFAIL(error.what());
    }
  }

  // The grip and the left edge resize the window; the window menu maximises it and restores it.
  // What the window gains goes to the tree (a third of the width) and the list.
  void resizingAndMaximisingGrowTheTreeAndTheList() {
    CMainDlg dlg;
    dlg.showWorkspace(true);
    Script script;
    PressCounter counter;
    int pressesBefore = 0;
    QSize first, tree, list, normal;
    QPoint grip;
    const auto press = [&](QPoint global) {
      pressesBefore = counter.presses;
      return xdo(at(global) << QStringLiteral("mousedown") << QStringLiteral("1"));
    };
    const auto pressArrived = [&] { return counter.presses > pressesBefore; };
    const auto letGo = [] { return xdo({QStringLiteral("mouseup"), QStringLiteral("1")}); };
    script
        .then("shown",
              [&] {
                if (!dlg.isVisible() || !dlg.isActiveWindow()) return false;
                first = dlg.size(), tree = dlg.tree()->size(), list = dlg.list()->size();
                QWidget* sizeGrip = dlg.findChild<QWidget*>(QStringLiteral("sizeGrip"));
                grip = sizeGrip->mapToGlobal(sizeGrip->rect().center());
                return press(grip);
              })
        .then("the grip pressed", [&] { return pressArrived() && xdo(at(grip + QPoint(60, 40))); })
        .then("and dragged", [&] { return xdo(at(grip + QPoint(150, 100))); })
        .then("the window grew", [&] { return dlg.size() == first + QSize(150, 100) && letGo(); })
        .then("the tree and the list grew with it",
              [&] {
                if (dlg.tree()->size() != tree + QSize(50, 100)) return script.fail(QStringLiteral("tree"));
                if (dlg.list()->size() != list + QSize(100, 100)) return script.fail(QStringLiteral("list"));
                grip = dlg.mapToGlobal(QPoint(2, dlg.height() / 2));  // the left edge, on the skin
                return press(grip);
              })
        .then("the left edge pressed", [&] { return pressArrived() && xdo(at(grip - QPoint(30, 0))); })
        .then("and dragged", [&] { return xdo(at(grip - QPoint(60, 0))); })
        .then("the window grew to the left", [&] { return dlg.size() == first + QSize(210, 100) && letGo(); })
        .then("the list took two thirds",
              [&] {
                if (dlg.list()->width() != list.width() + 140) return script.fail(QStringLiteral("list"));
                normal = dlg.size();
                return clickAt(dlg.mapToGlobal(QPoint(12, dlg.height() - 12)), 3);  // the window menu
              })
        .then("the menu shows", [&] { return dlg.windowMenu()->isVisible() && key(QStringLiteral("x")); })
        .then("Maximize fills the screen",
              [&] { return dlg.isMaximized() && dlg.size() == dlg.screen()->availableGeometry().size(); })
        .then("the tree and the list fill the window",
              [&] {
                const QSize gained = dlg.size() - first;
                if (dlg.tree()->height() != tree.height() + gained.height())
                  return script.fail(QStringLiteral("height"));
                if (dlg.tree()->width() + dlg.list()->width() != tree.width() + list.width() + gained.width())
                  return script.fail(QStringLiteral("width"));
                if (dlg.findChild<QWidget*>(QStringLiteral("sizeGrip"))->isVisible())
                  return script.fail(QStringLiteral("the grip shows on a maximised window"));
                return clickAt(dlg.mapToGlobal(QPoint(12, dlg.height() - 12)), 3);
              })
        .then("the menu shows", [&] { return dlg.windowMenu()->isVisible() && key(QStringLiteral("r")); })
        .then("Restore gives the window its size back", [&] { return !dlg.isMaximized() && dlg.size() == normal; });
    runModally(dlg, script);
    QVERIFY2(script.failure.isEmpty(), qPrintable(script.failure));
  }

  // The image open in the window is the target typed into Make Image: OK asks first. No leaves
  // the image open and the file as it was; Yes makes the new image in its place, which opens.
  void makeImageAsksBeforeItReplacesATypedTarget() {
    const QString target = freshImage(QStringLiteral("target.iso"));
    const QByteArray before = fileBytes(target);
    const QString source = m_dir.filePath(QStringLiteral("source"));
    CMainDlg dlg;
    Script script;
    openAndListTheRoot(script, dlg, target);
    MakeImageDialog* make = nullptr;
    const auto fillIn = [&](const QString& label) {
      return click(make->findChild<QWidget*>(QStringLiteral("labelEdit"))) && type(label) &&
             click(make->findChild<QWidget*>(QStringLiteral("sourceEdit"))) && type(source) &&
             click(make->findChild<QWidget*>(QStringLiteral("targetEdit"))) && type(target) &&
             key(QStringLiteral("Return"));
    };
    const QString question = QString::fromLatin1(MakeImageDialog::kReplaceQuestion).arg(target);
    script.then("Make Image", [&] { return click(button(dlg, "makeImage")); })
        .then("its dialog shows",
              [&] {
                make = qobject_cast<MakeImageDialog*>(QApplication::activeModalWidget());
                return make != nullptr && make->isActiveWindow();
              })
        .then("filled in by typing, OK", [&] { return fillIn(QStringLiteral("SECOND")); })
        .then("the question comes",
              [&] {
                QMessageBox* box = visibleBox();
                if (box == nullptr || !box->isActiveWindow()) return false;
                if (box->text() != question) return script.fail(box->text());
                return key(QStringLiteral("n"));
              })
        .then("No: the dialog stays, nothing was replaced",
              [&] {
                if (visibleBox() != nullptr) return false;
                if (!make->isVisible() || fileBytes(target) != before || !dlg.workspace().isOpen())
                  return script.fail(QStringLiteral("changed"));
                return key(QStringLiteral("Return"));  // OK again, the fields as they were
              })
        .then("the question again",
              [&] {
                QMessageBox* box = visibleBox();
                if (box == nullptr || !box->isActiveWindow()) return false;
                return box->text() == question ? key(QStringLiteral("y")) : script.fail(box->text());
              })
        .then("made: open it now?",
              [&] {
                QMessageBox* box = visibleBox();
                if (box == nullptr || !box->isActiveWindow() || box->text() == question) return false;
                return key(QStringLiteral("y"));
              })
        .then("the new image is open", [&] {
          return dlg.workspace().isOpen() && dlg.tree()->topLevelItemCount() == 1 &&
                 dlg.tree()->topLevelItem(0)->text(0).startsWith(QStringLiteral("SECOND"));
        });
    runModally(dlg, script);
    QVERIFY2(script.failure.isEmpty(), qPrintable(script.failure));
    QVERIFY(fileBytes(target) != before);
  }

  // The button says what a press does with the selection, and Alt with its underlined letter
  // presses it: a hidden folder alone shows, a file that is seen beside it makes it Hide, which
  // (after the question about hidden files) hides the file and a normal folder added.
  void hideAndShowAreNamedByTheSelection() {
    const QString image = freshImage(QStringLiteral("labels.iso"));
    CMainDlg dlg;
    Script script;
    openAndListTheRoot(script, dlg, image);
    CSkinButton* hide = button(dlg, "hide");
    const auto reads = [hide](const char* caption) { return hide->text() == QString::fromLatin1(caption); };
    const auto ctrlClick = [&](const QString& name) {
      return xdo(at(rowPoint(dlg, rowNamed(dlg, name)))
                 << QStringLiteral("keydown") << QStringLiteral("ctrl") << QStringLiteral("click")
                 << QStringLiteral("1") << QStringLiteral("keyup") << QStringLiteral("ctrl"));
    };
    const auto selected = [&] { return dlg.list()->selectionModel()->selectedRows().size(); };
    script.then("Alpha selected", [&] { return clickAt(rowPoint(dlg, rowNamed(dlg, QStringLiteral("Alpha")))); })
        .then("a normal folder: Hide", [&] { return selected() == 1 && reads(CMainDlg::kHideCaption) && click(hide); })
        .then("Alpha hidden, and now the button says Show",
              [&] {
                return state(dlg, QStringLiteral("Alpha")) == QStringLiteral("Hidden") && reads(CMainDlg::kShowCaption);
              })
        .then("a file added", [&] { return ctrlClick(QStringLiteral("README")); })
        .then("the file selected too", [&] { return selected() == 2; })
        .then("a file that is seen: Hide", [&] { return reads(CMainDlg::kHideCaption) || script.fail(hide->text()); })
        .then("a normal folder added", [&] { return ctrlClick(QStringLiteral("beta")); })
        .then("the folder selected too", [&] { return selected() == 3; })
        .then("Hide, pressed by Alt+H",
              [&] {
                return (reads(CMainDlg::kHideCaption) || script.fail(hide->text())) && key(QStringLiteral("alt+h"));
              })
        .then("the question before the first hidden file, answered Yes by Return",
              [&] {
                QMessageBox* box = visibleBox();
                if (box == nullptr || !box->isActiveWindow()) return false;
                if (!box->text().startsWith(QString::fromLatin1(kHiddenFileReachNotice)))
                  return script.fail(box->text());
                return key(QStringLiteral("Return"));
              })
        .then("beta and README hidden, Alpha still hidden: the button says Show", [&] {
          return visibleBox() == nullptr && state(dlg, QStringLiteral("beta")) == QStringLiteral("Hidden") &&
                 state(dlg, QStringLiteral("README")) == QStringLiteral("Hidden") &&
                 state(dlg, QStringLiteral("Alpha")) == QStringLiteral("Hidden") && reads(CMainDlg::kShowCaption);
        });
    runModally(dlg, script);
    QVERIFY2(script.failure.isEmpty(), qPrintable(script.failure));
    for (bool joliet : {false, true}) {
      QCOMPARE(umbra::test::isoinfoFlags(image.toStdString(), joliet, "/", joliet ? "Alpha" : "ALPHA"), 7u);
      QCOMPARE(umbra::test::isoinfoFlags(image.toStdString(), joliet, "/", joliet ? "beta" : "BETA"), 7u);
      QCOMPARE(umbra::test::isoinfoFlags(image.toStdString(), joliet, "/", joliet ? "gamma" : "GAMMA"), 2u);
    }
  }

  // An image that cannot be written: Hide is off and looks it, and the pointer resting on it shows why.
  void hideLooksOffOnAnImageThatCannotBeWritten() {
    const QString image = freshImage(QStringLiteral("readonly.iso"));
    bool immutable = false;
    if (::geteuid() == 0) {
      if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), image}) != 0)
        QSKIP("the super-user writes through file modes, and chattr +i is not available here");
      immutable = true;
    } else {
      QFile::setPermissions(image, QFile::ReadOwner);
    }
    const auto undo = qScopeGuard([&] {
      if (immutable) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), image});
    });
    CMainDlg dlg;
    CSkinButton* hide = button(dlg, "hide");
    QImage enabledLook;
    Script script;
    script.then("shown", [&] {
      if (!dlg.isVisible() || !dlg.isActiveWindow()) return false;
      enabledLook = hide->grab().toImage();
      return true;
    });
    dlg.setFileChooser([image](QWidget*) { return image; });
    script.then("Open Image", [&] { return click(button(dlg, "openImage")); })
        .then("its note that Hide is off",
              [&] {
                QMessageBox* box = visibleBox();
                return box != nullptr && box->isActiveWindow() && key(QStringLiteral("Return"));
              })
        .then("the tree shows", [&] { return dlg.tree()->isVisible(); })
        .then("the pointer rests on Hide",
              [&] {
                return visibleBox() == nullptr && !hide->isEnabled() &&
                       xdo(at(hide->mapToGlobal(hide->rect().center())));
              })
        .then("its tool tip says why", [&] {
          return QToolTip::isVisible() &&
                 QToolTip::text().startsWith(QStringLiteral("This image cannot be written, so Hide is off: "));
        });
    runModally(dlg, script);
    QVERIFY2(script.failure.isEmpty(), qPrintable(script.failure));
    QVERIFY(!enabledLook.isNull());
    QVERIFY(hide->grab().toImage() != enabledLook);  // the same caption, greyed
  }

  // Burn CD with no drive: it says so before it asks for an image, and the open image stays open.
  void burnWithoutADriveKeepsTheImageOpen() {
    const QString image = freshImage(QStringLiteral("burn.iso"));
    qputenv("UMBRADISC_BURN_DRIVE",
            QFile::encodeName(m_dir.filePath(QStringLiteral("no such folder/disc.bin"))).prepend("stdio:"));
    bool asked = false;
    setImageChooser([&](QWidget*) {
      asked = true;
      return image;
    });
    const auto restore = qScopeGuard([] {
      setImageChooser({});
      qunsetenv("UMBRADISC_BURN_DRIVE");
    });
    CMainDlg dlg;
    Script script;
    openAndListTheRoot(script, dlg, image);
    int rows = 0;
    script
        .then("Burn CD",
              [&] {
                rows = dlg.list()->model()->rowCount();
                return click(button(dlg, "burn"));
              })
        .then("no drive, it says",
              [&] {
                QMessageBox* box = visibleBox();
                if (box == nullptr || !box->isActiveWindow()) return false;
                if (!box->text().startsWith(QStringLiteral("Cannot find a recordable drive in this computer.")))
                  return script.fail(box->text());
                return key(QStringLiteral("Return"));
              })
        .then("the image stays open, listed", [&] {
          return visibleBox() == nullptr && dlg.workspace().isOpen() && dlg.tree()->isVisible() &&
                 dlg.list()->model()->rowCount() == rows;
        });
    runModally(dlg, script);
    QVERIFY2(script.failure.isEmpty(), qPrintable(script.failure));
    QVERIFY(!asked);
    QCOMPARE(dlg.imagePath(), image);
  }
};

QTEST_MAIN(TestWindowX11)
#include "tst_window_x11.moc"
