// The Make Image dialog under the offscreen platform: its controls, the boot option, the length
// limit, the browse buttons and whole make runs with the real maker.
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QScopeGuard>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include <QDialogButtonBox>
#include <QTreeView>

#include "imaging/ui/HiddenEntriesDialog.h"
#include "imaging/ui/MakeImageDialog.h"

using namespace umbra;

namespace {

// A dialog whose file dialogs and maker location are set by the test.
class TestDialog : public MakeImageDialog {
 public:
  QString sourceAnswer, bootAnswer, targetAnswer;
  QString makerProgram = findImageMaker();
  int browseCount = 0;

 protected:
  QString chooseSourceFolder() override { return ++browseCount, sourceAnswer; }
  QString chooseBootFile() override { return ++browseCount, bootAnswer; }
  QString chooseTargetFile() override { return ++browseCount, targetAnswer; }
  QString imageMakerProgram() const override { return makerProgram; }
};

struct SeenBox {
  QString title, text, detail;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers every message box that comes up (a question with `answer`, anything else with OK) and
// remembers it; onTick runs on each poll so a test can act on the progress dialog while the maker works.
class ModalWatcher : public QObject {
 public:
  explicit ModalWatcher(std::function<void()> onTick = {}) : m_onTick(std::move(onTick)) {
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(10);
  }
  QList<SeenBox> boxes;
  QMessageBox::StandardButton answer = QMessageBox::Yes;

 private:
  void poll() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes.append({box->windowTitle(), box->text(), box->informativeText(), box->icon()});
      QAbstractButton* button = box->button(answer);
      (button != nullptr ? button : box->button(QMessageBox::Ok))->click();
    }
    if (m_onTick) m_onTick();
  }
  QTimer m_timer;
  std::function<void()> m_onTick;
};

template <typename T>
T* child(QWidget& dialog, const char* name) {
  T* widget = dialog.findChild<T*>(QLatin1String(name));
  if (!widget) qFatal("no control %s", name);
  return widget;
}

void writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(content);
}

}  // namespace

class MakeImageDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setApplicationName("umbradisc"); }

  void opensEmptyWithTheTemplatesControls() {
    TestDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Umbradisc"));
    for (const char* name : {"labelEdit", "sourceEdit", "targetEdit", "bootFileEdit"}) {
      QCOMPARE(child<QLineEdit>(dialog, name)->text(), QString());
    }
    QVERIFY(!child<QCheckBox>(dialog, "bootSectorCheck")->isChecked());
    QVERIFY(!child<QLineEdit>(dialog, "bootFileEdit")->isEnabled());
    QVERIFY(!child<QPushButton>(dialog, "browseBootFileButton")->isEnabled());
    auto* picker = child<QDateEdit>(dialog, "timeStampPicker");
    QCOMPARE(picker->date(), QDate::currentDate());
    QVERIFY(picker->calendarPopup());
    QCOMPARE(child<QLabel>(dialog, "labelText")->text(), QString("CD Volume Label:"));
    QCOMPARE(child<QLabel>(dialog, "timeStampText")->text(), QString("Time stamp:"));
    QCOMPARE(child<QLabel>(dialog, "sourceText")->text(), QString("Source Folder:"));
    QCOMPARE(child<QLabel>(dialog, "targetText")->text(), QString("Target CD Image File:"));
    QCOMPARE(child<QCheckBox>(dialog, "bootSectorCheck")->text(), QString("Boot Sector File"));
    QVERIFY(child<QPushButton>(dialog, "okButton")->isDefault());
    QCOMPARE(dialog.targetFile(), QString());

    // Tab order of the template, starting at OK.
    const QStringList order = {
        "okButton",           "cancelButton",         "labelEdit",          "timeStampPicker",
        "sourceEdit",         "targetEdit",           "bootSectorCheck",    "bootFileEdit",
        "browseSourceButton", "browseBootFileButton", "browseTargetButton", "hiddenEntriesButton"};
    QWidget* widget = child<QWidget>(dialog, "okButton");
    for (qsizetype i = 1; i < order.size(); ++i) {
      widget = widget->nextInFocusChain();
      while (widget->focusPolicy() == Qt::NoFocus || widget->objectName().isEmpty() ||
             widget->objectName().startsWith("qt_")) {
        widget = widget->nextInFocusChain();
      }
      QCOMPARE(widget->objectName(), order[i]);
    }

    // The frame fits the dialog, and the fields sit inside the frame, right of their captions.
    const QRect frame = child<QWidget>(dialog, "frame")->geometry();
    QVERIFY(dialog.rect().contains(frame));
    QVERIFY(frame.contains(child<QWidget>(dialog, "targetEdit")->geometry()));
    QVERIFY(child<QWidget>(dialog, "labelEdit")->x() > child<QWidget>(dialog, "labelText")->geometry().right());
  }

  // Each caption shows its whole text on its line, whatever face this system gives the template's
  // font (a wider face stands in for Arial in the second row), and ends before the field column.
  void captionsShowWhole_data() {
    QTest::addColumn<QString>("face");
    QTest::newRow("the system's face for Arial") << QString();
    QTest::newRow("DejaVu Sans for Arial") << QStringLiteral("DejaVu Sans");
  }

  void captionsShowWhole() {
    QFETCH(QString, face);
    if (!face.isEmpty()) {
      if (!QFontDatabase::families().contains(face)) QSKIP("face not installed");
      QFont::insertSubstitution(QStringLiteral("Arial"), face);
    }
    const auto restore = qScopeGuard([] { QFont::removeSubstitutions(QStringLiteral("Arial")); });
    TestDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (!face.isEmpty()) QCOMPARE(QFontInfo(dialog.font()).family(), face);
    const int fields = child<QWidget>(dialog, "labelEdit")->x();
    for (const char* name : {"labelText", "timeStampText", "sourceText", "targetText"}) {
      auto* label = child<QLabel>(dialog, name);
      const QFontMetrics metrics = label->fontMetrics();
      QVERIFY2(label->contentsRect().width() >= metrics.horizontalAdvance(label->text()), name);
      QVERIFY2(label->contentsRect().height() >= metrics.height(), name);
      QVERIFY2(label->geometry().right() < fields, name);
    }
    auto* check = child<QCheckBox>(dialog, "bootSectorCheck");
    QVERIFY(check->width() >= check->sizeHint().width());
    QVERIFY(check->geometry().right() < fields);
  }

  void bootOptionEnablesItsFieldAndKeepsTheText() {
    TestDialog dialog;
    dialog.show();
    auto* check = child<QCheckBox>(dialog, "bootSectorCheck");
    auto* edit = child<QLineEdit>(dialog, "bootFileEdit");
    auto* browse = child<QPushButton>(dialog, "browseBootFileButton");
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(edit->isEnabled() && browse->isEnabled());
    edit->setText("boot.bin");
    QTest::mouseClick(check, Qt::LeftButton);
    QVERIFY(!edit->isEnabled() && !browse->isEnabled());
    QCOMPARE(edit->text(), QString("boot.bin"));
  }

  void browseButtonsFillTheirFieldsAndCancelChangesNothing() {
    TestDialog dialog;
    dialog.show();
    dialog.sourceAnswer = "/data/source";
    dialog.targetAnswer = "/data/out.iso";
    QTest::mouseClick(child<QPushButton>(dialog, "browseSourceButton"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(dialog, "browseTargetButton"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>(dialog, "sourceEdit")->text(), QString("/data/source"));
    QCOMPARE(child<QLineEdit>(dialog, "targetEdit")->text(), QString("/data/out.iso"));
    QTest::mouseClick(child<QCheckBox>(dialog, "bootSectorCheck"), Qt::LeftButton);
    dialog.bootAnswer = "/data/boot.bin";
    QTest::mouseClick(child<QPushButton>(dialog, "browseBootFileButton"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>(dialog, "bootFileEdit")->text(), QString("/data/boot.bin"));

    dialog.sourceAnswer.clear();
    dialog.targetAnswer.clear();
    dialog.bootAnswer.clear();
    for (const char* button : {"browseSourceButton", "browseTargetButton", "browseBootFileButton"}) {
      QTest::mouseClick(child<QPushButton>(dialog, button), Qt::LeftButton);
    }
    QCOMPARE(dialog.browseCount, 6);
    QCOMPARE(child<QLineEdit>(dialog, "sourceEdit")->text(), QString("/data/source"));
    QCOMPARE(child<QLineEdit>(dialog, "targetEdit")->text(), QString("/data/out.iso"));
    QCOMPARE(child<QLineEdit>(dialog, "bootFileEdit")->text(), QString("/data/boot.bin"));
  }

  void typingStopsAt256AndLongerTextsAreRefusedOnOk() {
    TestDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto* label = child<QLineEdit>(dialog, "labelEdit");
    label->setFocus();
    QTest::keyClicks(label, QString(300, 'a'));
    QCOMPARE(label->text().size(), 256);

    // A browse button can put in a longer path; OK names the first such field (label before
    // target in the exchange order) and moves the focus there.
    dialog.sourceAnswer = "/" + QString(300, 's');
    QTest::mouseClick(child<QPushButton>(dialog, "browseSourceButton"), Qt::LeftButton);
    child<QLineEdit>(dialog, "targetEdit")->setText(QString(257, 't'));
    label->setText(QString(257, 'l'));
    child<QLineEdit>(dialog, "targetEdit")->setFocus();
    ModalWatcher watcher;
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].text, QString("Please enter no more than 256 characters."));
    QCOMPARE(watcher.boxes[0].title, QString("umbradisc"));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(label));

    label->setText("ok");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QCOMPARE(watcher.boxes.size(), 2);
    QCOMPARE(dialog.focusWidget(), child<QWidget>(dialog, "sourceEdit"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }

  void makesTheImageWithProgressAndAccepts() {
    QTemporaryDir temp;
    const QString source = temp.filePath("source");
    writeFile(source + "/Folder/file.txt", QByteArray(200000, 'x'));
    writeFile(temp.filePath("boot.bin"), QByteArray(2048, '\x55'));
    const QString target = temp.filePath("made.iso");

    const qint64 before = QDateTime::currentSecsSinceEpoch();
    TestDialog dialog;
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    dialog.show();
    child<QLineEdit>(dialog, "labelEdit")->setText("New Disc");
    child<QLineEdit>(dialog, "sourceEdit")->setText(source);
    child<QLineEdit>(dialog, "targetEdit")->setText(target);
    QTest::mouseClick(child<QCheckBox>(dialog, "bootSectorCheck"), Qt::LeftButton);
    child<QLineEdit>(dialog, "bootFileEdit")->setText(temp.filePath("boot.bin"));
    child<QDateEdit>(dialog, "timeStampPicker")->setDate(QDate(2005, 4, 20));

    ModalWatcher watcher;
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QVERIFY(watcher.boxes.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.targetFile(), target);
    QVERIFY(QFileInfo(target).isFile());

    QProcess xorriso;
    xorriso.start(qEnvironmentVariable("UMBRA_XORRISO", "xorriso"),
                  {"-indev", target, "-pvd_info", "-report_el_torito", "plain"});
    QVERIFY(xorriso.waitForFinished());
    const QString out = QString::fromUtf8(xorriso.readAllStandardOutput());
    QVERIFY2(out.contains("Volume Id    : New Disc\n"), qPrintable(out));
    // The picked date with the time of day at which the dialog was made (written in UTC).
    bool timeFound = false;
    for (qint64 s = before; s <= after; ++s) {
      const QDateTime stamp(QDate(2005, 4, 20), QDateTime::fromSecsSinceEpoch(s).time());
      timeFound |= out.contains("Creation Time: " + stamp.toUTC().toString("yyyyMMddHHmmss") + "00");
    }
    QVERIFY2(timeFound, qPrintable(out));
    QVERIFY2(out.contains("El Torito boot img"), qPrintable(out));
  }

  // Entries marked in the tree of the source folder (by Space on their rows, while the tree runs
  // modally) come out hidden in every tree of the image; the button counts them, and typing
  // another source folder clears them.
  void markedEntriesAreHiddenOnTheDisc() {
    QTemporaryDir temp;
    const QString source = temp.filePath("source");
    writeFile(source + "/Private/secret.txt", "secret\n");
    writeFile(source + "/Public/readme.txt", "readme\n");
    writeFile(source + "/notes.txt", "notes\n");
    const QString target = temp.filePath("marked.iso");
    TestDialog dialog;
    dialog.show();
    child<QLineEdit>(dialog, "sourceEdit")->setText(source);
    child<QLineEdit>(dialog, "targetEdit")->setText(target);
    auto* hiddenButton = child<QPushButton>(dialog, "hiddenEntriesButton");
    QCOMPARE(hiddenButton->text(), QString::fromLatin1(MakeImageDialog::kHiddenButtonText));

    bool marked = false;
    QString note;
    ModalWatcher watcher([&] {
      auto* marks = qobject_cast<HiddenEntriesDialog*>(QApplication::activeModalWidget());
      if (marks == nullptr || marked) return;
      QTreeView* tree = marks->tree();
      const QModelIndex root = tree->rootIndex();
      if (tree->model()->rowCount(root) < 3) return;  // the folder is read in the background
      for (int row = 0; row < 3; ++row) {
        const QModelIndex index = tree->model()->index(row, 0, root);
        if (index.data().toString() != "Private" && index.data().toString() != "notes.txt") continue;
        tree->setCurrentIndex(index);
        QTest::keyClick(tree, Qt::Key_Space);
      }
      note = child<QLabel>(*marks, "hiddenFilesNote")->text();
      marked = true;
      QTest::mouseClick(marks->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    QTest::mouseClick(hiddenButton, Qt::LeftButton);
    QVERIFY(marked);
    QVERIFY2(note.contains("out of reach on Windows"), qPrintable(note));
    QCOMPARE(dialog.hiddenPaths(), QStringList({"Private", "notes.txt"}));
    QCOMPARE(hiddenButton->text(), QString::fromLatin1(MakeImageDialog::kHiddenButtonCountText).arg(2));

    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QVERIFY(watcher.boxes.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    // isoinfo's flags of every record but . and ..: the folder 07 and the file 05 in both trees.
    for (const QString& tree : {QString("-l"), QString("-J")}) {
      QProcess isoinfo;
      isoinfo.start("isoinfo", tree == "-l" ? QStringList{"-l", "-i", target} : QStringList{"-J", "-l", "-i", target});
      QVERIFY(isoinfo.waitForFinished());
      QStringList flagged;
      for (const QString& line : QString::fromUtf8(isoinfo.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch m = QRegularExpression(R"(\[\s*\d+ (\d\d)\]\s+(\S.*?)\s*$)").match(line);
        // (The maker keeps the letters' case in ISO 9660 names, as -m asks: compared without it.)
        if (m.hasMatch() && m.captured(1) != "00" && m.captured(1) != "02")
          flagged << m.captured(1) + " " + (tree == "-l" ? m.captured(2).toUpper() : m.captured(2));
      }
      flagged.sort();
      const QStringList expected =
          tree == "-l" ? QStringList{"05 NOTES.TXT;1", "07 PRIVATE"} : QStringList{"05 notes.txt;1", "07 Private"};
      QCOMPARE(flagged, expected);
    }

    child<QLineEdit>(dialog, "sourceEdit")->setText(temp.filePath("another"));
    QCOMPARE(dialog.hiddenPaths(), QStringList());
    QCOMPARE(hiddenButton->text(), QString::fromLatin1(MakeImageDialog::kHiddenButtonText));
  }

  void cancelInTheProgressDialogStopsTheMaker() {
    QTemporaryDir temp;
    const QString source = temp.filePath("big");
    writeFile(source + "/large.bin", "");
    QVERIFY(QFile::resize(source + "/large.bin", 700LL * 1024 * 1024));  // sparse
    const QString target = temp.filePath("big.iso");

    TestDialog dialog;
    dialog.show();
    child<QLineEdit>(dialog, "sourceEdit")->setText(source);
    child<QLineEdit>(dialog, "targetEdit")->setText(target);
    int shownValue = -1;
    ModalWatcher watcher([&] {
      auto* progress = dialog.findChild<QProgressDialog*>();
      if (progress && progress->isVisible() && progress->value() > 0 && shownValue < 0) {
        shownValue = progress->value();
        QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
      }
    });
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QVERIFY(shownValue > 0 && shownValue < 100);
    QVERIFY(watcher.boxes.isEmpty());
    QVERIFY(dialog.isVisible());
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QDir(temp.path()).entryList({".cdimage-*"}, QDir::Files | QDir::Hidden), QStringList());
  }

  void aTargetThatWouldReplaceASourceFileIsRefused() {
    QTemporaryDir temp;
    const QString source = temp.filePath("source");
    const QString kept = source + "/notes/p.txt";
    writeFile(kept, "the user's file");

    TestDialog dialog;
    dialog.show();
    child<QLineEdit>(dialog, "sourceEdit")->setText(source);
    child<QLineEdit>(dialog, "targetEdit")->setText(kept);
    ModalWatcher watcher;  // says Yes to replacing the existing file
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);

    QCOMPARE(watcher.boxes.size(), 2);
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Question);
    QCOMPARE(watcher.boxes[1].text,
             QString("Making the CD image file failed. Please check whether there is an invalid file name "
                     "in the source folder."));
    QVERIFY2(watcher.boxes[1].detail.contains("inside the source folder"), qPrintable(watcher.boxes[1].detail));
    QVERIFY(dialog.isVisible());
    QFile file(kept);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("the user's file"));
  }

  // An existing target, typed into its field, is replaced only after the question says Yes; No
  // leaves the file and the dialog as they were, with the keyboard in the target's field.
  void anExistingTargetIsReplacedOnlyWhenTheUserSaysSo() {
    QTemporaryDir temp;
    const QString source = temp.filePath("source");
    writeFile(source + "/Folder/file.txt", "content");
    const QString target = temp.filePath("target.iso");
    writeFile(target, "the old image");

    TestDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClicks(child<QLineEdit>(dialog, "sourceEdit"), source);
    QTest::keyClicks(child<QLineEdit>(dialog, "targetEdit"), target);
    ModalWatcher watcher;
    watcher.answer = QMessageBox::No;
    QTest::keyClick(child<QLineEdit>(dialog, "labelEdit"), Qt::Key_Return);  // OK is the default button
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].text,
             QString::fromLatin1(MakeImageDialog::kReplaceQuestion).arg(QDir::toNativeSeparators(target)));
    QCOMPARE(watcher.boxes[0].icon, QMessageBox::Question);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.focusWidget(), child<QWidget>(dialog, "targetEdit"));
    QFile old(target);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("the old image"));
    old.close();

    watcher.answer = QMessageBox::Yes;
    QTest::keyClick(child<QLineEdit>(dialog, "targetEdit"), Qt::Key_Return);
    QCOMPARE(watcher.boxes.size(), 2);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.read(0x8006).mid(0x8001, 5), QByteArray("CD001"));  // a new image in its place
  }

  // Empty source or target fields are asked for before anything runs.
  void emptyFieldsAreAskedFor() {
    QTemporaryDir temp;
    TestDialog dialog;
    dialog.makerProgram = temp.filePath("no-maker");  // would say so if it were started
    dialog.show();
    ModalWatcher watcher;
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    child<QLineEdit>(dialog, "sourceEdit")->setText(temp.path());
    child<QLineEdit>(dialog, "targetEdit")->setText("   ");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    QCOMPARE(watcher.boxes.size(), 2);
    QCOMPARE(watcher.boxes[0].text, QString::fromLatin1(MakeImageDialog::kNoSourceMessage));
    QCOMPARE(watcher.boxes[1].text, QString::fromLatin1(MakeImageDialog::kNoTargetMessage));
    QCOMPARE(watcher.boxes[1].icon, QMessageBox::Warning);
    QCOMPARE(dialog.focusWidget(), child<QWidget>(dialog, "targetEdit"));
    QVERIFY(dialog.isVisible());
  }

  // A source file that gives fewer bytes than its size says (the shim of the image maker's tests
  // cuts it short) stops the image, and the box shows the maker's message naming it.
  void aSourceFileThatReadsShortIsNamed() {
    const QByteArray shim = qgetenv("UMBRA_SOURCE_FAULTS");
    if (shim.isEmpty()) QSKIP("no source fault shim in this build");
    QTemporaryDir temp;
    const QString source = temp.filePath("source");
    writeFile(source + "/logs/growing.log", QByteArray(4096, 'l'));
    const QString target = temp.filePath("out.iso");

    TestDialog dialog;
    dialog.show();
    child<QLineEdit>(dialog, "sourceEdit")->setText(source);
    child<QLineEdit>(dialog, "targetEdit")->setText(target);
    // The maker inherits these; they are gone again before the test ends.
    qputenv("LD_PRELOAD", shim);
    qputenv("UMBRA_FAULT", "short:23");
    qputenv("UMBRA_FAULT_FILES", "growing.log");
    const auto restore = qScopeGuard([] {
      qunsetenv("LD_PRELOAD");
      qunsetenv("UMBRA_FAULT");
      qunsetenv("UMBRA_FAULT_FILES");
    });
    ModalWatcher watcher;
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);

    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes[0].text, imageMakerResultMessage(ImageMakerResult::Failed));
    const QString expected = QDir(source).filePath("logs/growing.log") + ": read 23 of 4,096 bytes";
    QVERIFY2(watcher.boxes[0].detail.contains(expected), qPrintable(watcher.boxes[0].detail));
    QVERIFY(dialog.isVisible());
    QVERIFY(!QFile::exists(target));
    QCOMPARE(QDir(temp.path()).entryList({".cdimage-*"}, QDir::Files | QDir::Hidden), QStringList());
  }

  void failuresAreReportedAndTheDialogStaysOpen() {
    QTemporaryDir temp;
    const QString target = temp.filePath("out.iso");
    writeFile(target, "old image");  // an existing target does not turn a failure into success

    TestDialog dialog;
    dialog.show();
    child<QLineEdit>(dialog, "labelEdit")->setText("Keep me");
    child<QLineEdit>(dialog, "sourceEdit")->setText(temp.filePath("nosuch"));
    child<QLineEdit>(dialog, "targetEdit")->setText(target);
    ModalWatcher watcher;  // says Yes to replacing the existing file, each time
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    dialog.makerProgram = temp.filePath("no-maker");
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);

    QCOMPARE(watcher.boxes.size(), 4);
    QCOMPARE(watcher.boxes[1].text,
             QString("Making the CD image file failed. Please check whether there is an invalid file name "
                     "in the source folder."));
    QCOMPARE(watcher.boxes[3].text, imageMakerResultMessage(ImageMakerResult::FailedToStart));
    for (int i = 0; i < watcher.boxes.size(); ++i) {
      QCOMPARE(watcher.boxes[i].title, QString("Umbradisc"));
      QCOMPARE(watcher.boxes[i].icon, i % 2 ? QMessageBox::Warning : QMessageBox::Question);  // errors warn
    }
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(child<QLineEdit>(dialog, "labelEdit")->text(), QString("Keep me"));
    QFile old(target);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old image"));
  }
};

QTEST_MAIN(MakeImageDialogTest)
#include "MakeImageDialogTest.moc"
