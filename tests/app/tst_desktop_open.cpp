// An image handed over by the desktop: named on the command line or dropped on the window, it is
// opened exactly as Open Image opens a chosen file. A second copy given an image leaves the running
// one and that image alone.
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "TestImages.h"
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "controls/CRoundDlg.h"

using umbra::CMainDlg;
using umbra::CUmbradiscApp;

namespace {

constexpr char kStamp[] = "Umbradisc, Korvantis Software Inc.";

// Every item of the tree, depth first, with its depth: what the user sees of an open image.
QStringList treeOf(QTreeWidget* tree) {
  QStringList lines;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
    lines << QString(depth, QLatin1Char(' ')) + item->text(0);
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), depth + 1);
  };
  for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), 0);
  return lines;
}

bool isStamped(const QString& image) {
  QFile file(image);
  return file.open(QIODevice::ReadOnly) && file.read(64 * 1024).contains(kStamp);
}

// Whether another program holds the image open for work: its write lock (on Windows, its refusal
// to share writing) keeps this one from writing.
bool heldForWork(const QString& image) {
#ifdef _WIN32
  QFile file(image);
  return !file.open(QIODevice::ReadWrite);
#else
  const int fd = ::open(QFile::encodeName(image).constData(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const bool held = fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
  ::close(fd);
  return held;
#endif
}

}  // namespace

class TestDesktopOpen : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir{QString::fromStdWString((umbra::test::tempRoot() / "umbra-qt-XXXXXX").wstring())};
  QString m_pristine;

  QString freshImage(const QString& name) {
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    if (!QFile::copy(m_pristine, path)) return {};
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return path;
  }

  // Sends a drag of mimeData onto the window and, if it was accepted, the drop; true when accepted.
  static bool drop(CMainDlg& dlg, QMimeData* mimeData) {
    const QPoint centre = dlg.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(centre), Qt::CopyAction, mimeData, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &dropped);
    return dropped.isAccepted();
  }

  void startProgram(QProcess& process, const QString& runtime, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);  // a single-instance lock of our own
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    // The program is built beside the tests.
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/umbradisc"), arguments);
    QVERIFY(process.waitForStarted());
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    const QString source = m_dir.filePath(QStringLiteral("source"));
    QDir(source).mkpath(QStringLiteral("Alpha/Inner"));
    QDir(source).mkpath(QStringLiteral("beta"));
    QFile file(source + QStringLiteral("/Alpha/readme.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("read me\n");
    file.close();
    m_pristine = m_dir.filePath(QStringLiteral("pristine.iso"));
    // Under wine the maker runs on the Linux side, which sees only the Z: drive.
    try {
      umbra::test::makeImage(umbra::test::Maker::Xorriso, source.toStdWString(), m_pristine.toStdWString(), true, {},
                             "DESKTOP");
    } catch (const std::exception& error) {
      QFAIL(error.what());
    }
  }

  void aDroppedImageOpensAsOpenImageOpensIt() {
    const QString chosen = freshImage(QStringLiteral("chosen.iso"));
    const QString dropped = freshImage(QStringLiteral("dropped.iso"));
    QVERIFY(!chosen.isEmpty() && !dropped.isEmpty());

    CMainDlg byDialog;
    byDialog.setFileChooser([&](QWidget*) { return chosen; });
    byDialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&byDialog));
    byDialog.onOpenImage();

    CMainDlg byDrop;
    byDrop.show();
    QVERIFY(QTest::qWaitForWindowExposed(&byDrop));
    // A drop without a local file is turned away and changes nothing.
    QMimeData text;
    text.setText(QStringLiteral("not a file"));
    QVERIFY(!drop(byDrop, &text));
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://example.invalid/disc.iso"))});
    QVERIFY(!drop(byDrop, &remote));
    QVERIFY(byDrop.howToPage()->isVisible());
    QVERIFY(!isStamped(dropped));

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(dropped)});
    QVERIFY(drop(byDrop, &files));

    QCOMPARE(byDrop.imagePath(), dropped);
    QVERIFY(!byDrop.howToPage()->isVisible());
    QVERIFY(byDrop.tree()->isVisible());
    QCOMPARE(treeOf(byDrop.tree()), treeOf(byDialog.tree()));
    QVERIFY(treeOf(byDrop.tree()).value(0).startsWith(QStringLiteral("DESKTOP")));
    QVERIFY(byDrop.workspace().isOpen());
    QVERIFY(!isStamped(dropped));  // opening writes nothing; the stamp waits for the first Hide
  }

  void theCommandLineImageArgument_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");
    const QString absolute = m_dir.filePath(QStringLiteral("a b.iso"));
    QTest::newRow("none") << QStringList{QStringLiteral("umbradisc")} << QString();
    QTest::newRow("path") << QStringList{QStringLiteral("umbradisc"), absolute} << absolute;
    QTest::newRow("file address") << QStringList{QStringLiteral("umbradisc"), QUrl::fromLocalFile(absolute).toString()}
                                  << absolute;
    QTest::newRow("relative path") << QStringList{QStringLiteral("umbradisc"), QStringLiteral("x/disc.iso")}
                                   << QDir::current().absoluteFilePath(QStringLiteral("x/disc.iso"));
  }

  void theCommandLineImageArgument() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    QCOMPARE(CUmbradiscApp::imageArgument(arguments), expected);
  }

  void theHelpPageBesideTheProgramComesFirstThenTheInstalledOne() {
    const QString bin = QCoreApplication::applicationDirPath();
    const QString beside = bin + QLatin1Char('/') +
                           QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + QStringLiteral(".html");
    const QString docFolder = QDir::cleanPath(bin + QStringLiteral("/../share/doc/umbradisc"));
    const QString installed = docFolder + QStringLiteral("/umbradisc.html");
    QVERIFY(!QFile::exists(beside) && !QFile::exists(installed));
    QVERIFY(QDir().mkpath(docFolder));
    // Also when a check below fails, so the next run starts clean.
    const auto cleanUp = qScopeGuard([&] {
      QFile::remove(beside);
      QFile::remove(installed);
      QDir().rmpath(docFolder);  // only the folders made here, and only while empty
    });
    const auto write = [](const QString& path) {
      QFile file(path);
      return file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0;
    };

    QVERIFY(write(installed));
    QCOMPARE(CUmbradiscApp::helpFilePath(), installed);
    QVERIFY(write(beside));
    QCOMPARE(CUmbradiscApp::helpFilePath(), beside);
  }

  // A second copy ends at once, silently; its image goes to the running copy, which opens it.
  void anImageOnTheCommandLineIsOpenedAndASecondCopyHandsItsImageOver() {
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString first = freshImage(QStringLiteral("first.iso"));
    const QString second = freshImage(QStringLiteral("second.iso"));
    QVERIFY(!isStamped(first) && !isStamped(second));

    QProcess running;
    startProgram(running, runtime.path(), {first});
    // The write lock is the sign, seen from outside, that the window opened it for work; opening
    // itself writes nothing.
    QTRY_VERIFY_WITH_TIMEOUT(heldForWork(first), 20000);
    QVERIFY(!isStamped(first));

    for (const QStringList& arguments : {QStringList{second}, QStringList{}}) {
      QProcess again;
      startProgram(again, runtime.path(), arguments);
      QVERIFY(again.waitForFinished(10000));
      QCOMPARE(again.exitStatus(), QProcess::NormalExit);
      QCOMPARE(again.exitCode(), 0);
      QCOMPARE(again.readAllStandardOutput(), QByteArray());
      QCOMPARE(again.readAllStandardError(), QByteArray());
      if (!arguments.isEmpty()) QTRY_VERIFY_WITH_TIMEOUT(heldForWork(second), 20000);  // the running copy opened it
    }
    QCOMPARE(running.state(), QProcess::Running);

    running.kill();
    QVERIFY(running.waitForFinished(10000));
  }
};

QTEST_MAIN(TestDesktopOpen)
#include "tst_desktop_open.moc"
