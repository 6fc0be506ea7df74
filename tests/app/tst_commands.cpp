// The main window's Make Image and Burn CD buttons from end to end: the dialog filled in, the
// image made by cdimage and opened; an image burned onto libburn's stdio: pseudo-drive. On Windows
// without the system's image maker and recording service (wine), what each button says instead.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTableView>
#include <QTreeWidget>

#include "TestImages.h"

#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "burn/ui/BurnUi.h"
#include "controls/CRoundDlg.h"
#include "controls/CSkinButton.h"
#include "controls/TitleRoom.h"
#include "imaging/RunImageMaker.h"
#include "imaging/ui/MakeImageDialog.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#endif

using namespace umbra;

namespace {

// Whether the system's service behind a button is missing (Windows only; Linux always has both).
[[maybe_unused]] bool serviceMissing([[maybe_unused]] const wchar_t* progId) {
#ifdef _WIN32
  CLSID clsid;
  return FAILED(CLSIDFromProgID(progId, &clsid));
#else
  return false;
#endif
}

constexpr wchar_t kImageMakerService[] = L"IMAPI2FS.MsftFileSystemImage";
constexpr wchar_t kRecorderService[] = L"IMAPI2.MsftDiscMaster2";

}  // namespace

class TestCommands : public QObject {
  Q_OBJECT

  struct Box {
    QString title, text, detail;
    bool titleFits;  // the box is wide enough for its whole caption
  };
  QTemporaryDir m_dir;
  QTimer m_modalWatcher;
  QList<Box> m_boxes;
  QMessageBox::StandardButton m_answer = QMessageBox::No;
  QMessageBox::StandardButton m_replaceAnswer = QMessageBox::Yes;  // to "... already exists. Replace it?"
  std::function<void(MakeImageDialog*)> m_fillMakeDialog;
  bool m_cancelMakeDialog = false;  // once filled in, the dialog is cancelled when it shows again
  std::unique_ptr<umbra::CMainDlg> m_dlg;

  void click(const char* name) {
    QTest::mouseClick(m_dlg->findChild<umbra::CSkinButton*>(QString::fromLatin1(name)), Qt::LeftButton);
  }
  static QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  // Fills in the Make Image dialog and presses its OK.
  static std::function<void(MakeImageDialog*)> fillAndConfirm(const QString& label, const QString& source,
                                                              const QString& target) {
    return [=](MakeImageDialog* make) {
      // Typed, as a user does: select what the field holds, then type over it.
      const auto type = [make](const char* field, const QString& text) {
        auto* edit = make->findChild<QLineEdit*>(QString::fromLatin1(field));
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
      };
      type("labelEdit", label);
      type("sourceEdit", source);
      type("targetEdit", target);
      for (QPushButton* button : make->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("OK")) QTest::mouseClick(button, Qt::LeftButton);
    };
  }
  QString makeSource() {
    const QString source = m_dir.filePath(QStringLiteral("source"));
    QDir().mkpath(source + QStringLiteral("/Private/Inner"));
    QDir().mkpath(source + QStringLiteral("/Public"));
    QFile file(source + QStringLiteral("/Private/Inner/secret.txt"));
    file.open(QIODevice::WriteOnly);
    file.write("secret\n");
    return source;
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    // Every modal window that shows up is handled here: the make dialog is filled in and
    // confirmed once, message boxes are recorded and answered, progress dialogs are left to run.
    connect(&m_modalWatcher, &QTimer::timeout, this, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        m_boxes.append(
            {box->windowTitle(), box->text(), box->informativeText(), box->width() >= umbra::titleRoomWidth(*box)});
        const bool replace = box->text().endsWith(QStringLiteral("Do you want to replace it?"));
        QAbstractButton* button = box->button(replace ? m_replaceAnswer : m_answer);
        if (!button) button = box->buttons().value(0);
        QTest::mouseClick(button, Qt::LeftButton);
      } else if (auto* make = qobject_cast<MakeImageDialog*>(modal); make && m_fillMakeDialog) {
        auto fill = std::move(m_fillMakeDialog);
        m_fillMakeDialog = nullptr;
        // From a timer of its own: a box the dialog shows while OK is handled runs a modal loop
        // in which this watcher must keep firing, and timers do not fire inside their own handler.
        QTimer::singleShot(0, make, [fill, make] { fill(make); });
      } else if (make && m_cancelMakeDialog && !m_boxes.isEmpty()) {
        for (QPushButton* button : make->findChildren<QPushButton*>())
          if (button->text() == QStringLiteral("Cancel")) QTest::mouseClick(button, Qt::LeftButton);
      }
    });
    m_modalWatcher.start(20);
  }

  void init() {
    m_boxes.clear();
    m_cancelMakeDialog = false;
    m_replaceAnswer = QMessageBox::Yes;
    m_dlg = std::make_unique<umbra::CMainDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
  }
  void cleanup() { m_dlg.reset(); }

  void makeImageMakesAndOpensTheImage() {
    if (serviceMissing(kImageMakerService)) QSKIP("the system's image maker (IMAPI2FS) is missing here");
    const QString source = makeSource();
    const QString target = m_dir.filePath(QStringLiteral("made.iso"));
    m_fillMakeDialog = fillAndConfirm(QStringLiteral("MADEVOL"), source, target);
    m_answer = QMessageBox::Yes;
    click("makeImage");
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->workspace().isOpen(), 30000);
    QVERIFY(QFile::exists(target));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("The CD image file was made.\r\n\r\nWould you like to open it now?"));
    QCOMPARE(m_dlg->imagePath(), target);
    QTreeWidget* tree = m_dlg->tree();
    QVERIFY(tree->isVisible());
    QCOMPARE(tree->topLevelItemCount(), 1);
    QVERIFY(tree->topLevelItem(0)->text(0).startsWith(QStringLiteral("MADEVOL")));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 2);  // Private and Public
  }

  void makeImageAnsweredNoLeavesTheWindowAsItWas() {
    if (serviceMissing(kImageMakerService)) QSKIP("the system's image maker (IMAPI2FS) is missing here");
    const QString source = makeSource();
    const QString target = m_dir.filePath(QStringLiteral("kept.iso"));
    m_fillMakeDialog = fillAndConfirm(QString(), source, target);
    m_answer = QMessageBox::No;
    click("makeImage");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 30000);
    QVERIFY(QFile::exists(target));
    QVERIFY(!m_dlg->workspace().isOpen());
    QVERIFY(!m_dlg->tree()->isVisible());
  }

  // Make Image onto the open image, its path typed: the window asks before the file is replaced.
  // No leaves the image open and untouched; Yes lets the old file go before the maker replaces it,
  // and a hide after that lands in the new file, or no image stays open.
  void makeImageOverTheOpenImage_data() {
    QTest::addColumn<bool>("replace");
    QTest::addColumn<bool>("openIt");
    QTest::newRow("not replaced") << false << false;
    QTest::newRow("replaced, opened") << true << true;
    QTest::newRow("replaced, not opened") << true << false;
  }
  void makeImageOverTheOpenImage() {
    if (serviceMissing(kImageMakerService)) QSKIP("the system's image maker (IMAPI2FS) is missing here");
    QFETCH(bool, replace);
    QFETCH(bool, openIt);
    const QString source = makeSource();
    const QString target = m_dir.filePath(QStringLiteral("remade.iso"));
    QFile::remove(target);
    m_fillMakeDialog = fillAndConfirm(QStringLiteral("FIRST"), source, target);
    m_answer = QMessageBox::Yes;
    click("makeImage");
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->workspace().isOpen(), 30000);
    QCOMPARE(m_boxes.size(), 1);  // no question about a file that was not there
    m_boxes.clear();
    const QByteArray first = readFile(target);

    m_fillMakeDialog = fillAndConfirm(QStringLiteral("SECOND"), source, target);
    m_replaceAnswer = replace ? QMessageBox::Yes : QMessageBox::No;
    m_answer = openIt ? QMessageBox::Yes : QMessageBox::No;
    m_cancelMakeDialog = !replace;  // after No the dialog stays open: cancelled then
    click("makeImage");
    QTRY_VERIFY_WITH_TIMEOUT(!m_boxes.isEmpty(), 30000);
    QCOMPARE(m_boxes[0].text,
             QStringLiteral("%1 already exists.\n\nDo you want to replace it?").arg(QDir::toNativeSeparators(target)));
    QTreeWidget* tree = m_dlg->tree();
    if (!replace) {
      QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);  // the dialog, cancelled after No
      QCOMPARE(m_boxes.size(), 1);
      QCOMPARE(readFile(target), first);
      QVERIFY(m_dlg->workspace().isOpen());
      QVERIFY(tree->isVisible());
      QVERIFY(tree->topLevelItem(0)->text(0).startsWith(QStringLiteral("FIRST")));
      return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 2, 30000);
    QCOMPARE(m_boxes[1].text, QStringLiteral("The CD image file was made.\r\n\r\nWould you like to open it now?"));
    if (!openIt) {
      QVERIFY(!m_dlg->workspace().isOpen());
      QVERIFY(!tree->isVisible());
      QVERIFY(m_dlg->howToPage()->isVisible());
      return;
    }
    QTRY_VERIFY(m_dlg->workspace().isOpen());
    QVERIFY(tree->topLevelItem(0)->text(0).startsWith(QStringLiteral("SECOND")));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(0)).center());
    QTableView* list = m_dlg->list();
    int privateRow = -1;
    for (int row = 0; row < list->model()->rowCount(); ++row)
      if (list->model()->index(row, 0).data().toString().compare(QStringLiteral("Private"), Qt::CaseInsensitive) == 0)
        privateRow = row;
    QVERIFY(privateRow >= 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(privateRow, 1)).center());
    click("hide");
    QCOMPARE(m_boxes.size(), 2);
    QCOMPARE(umbra::test::isoinfoFlags(target.toStdString(), false, "/", "Private"), 7u);
    QCOMPARE(umbra::test::isoinfoFlags(target.toStdString(), true, "/", "Private"), 7u);
  }

  void burnCdBurnsTheChosenImageEvenWhenItIsOpen() {
#ifdef _WIN32
    QSKIP("burning into a file through libburn's stdio: drive is for Linux; Windows burns only onto recorders");
#endif
    // An image made by cdimage is opened first, then chosen for burning.
    const QString image = m_dir.filePath(QStringLiteral("burn.iso"));
    QProcess maker;
    maker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/cdimage"),
                {QStringLiteral("-lBURNVOL"), QStringLiteral("-t"), QStringLiteral("-d"), QStringLiteral("-n"),
                 QStringLiteral("-m"), makeSource(), image});
    QVERIFY(maker.waitForFinished(30000));
    QCOMPARE(maker.exitCode(), 0);
    m_dlg->setImagePath(image);
    QVERIFY(m_dlg->loadImagePath());
    const QByteArray original = readFile(image);  // as it stands after the open

    const QString disc = m_dir.filePath(QStringLiteral("disc.bin"));
    const QString staging = m_dir.filePath(QStringLiteral("staging"));
    qputenv("UMBRADISC_BURN_DRIVE", ("stdio:" + disc).toUtf8());
    qputenv("UMBRADISC_STAGING_DIR", staging.toUtf8());
    setImageChooser([&](QWidget*) { return image; });
    m_answer = QMessageBox::Ok;
    click("burn");
    setImageChooser({});
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("Burn succeeded!\n\nThe disc matches the image."));
    QVERIFY(m_boxes[0].titleFits);
    QVERIFY(readFile(disc).startsWith(original));
    QCOMPARE(readFile(image), original);  // the image itself is never changed
    QVERIFY(QDir(staging).entryList(QDir::Files).isEmpty());
    // Let go for the copy, the image is open again afterwards.
    QVERIFY(m_dlg->workspace().isOpen());
    QVERIFY(m_dlg->tree()->isVisible());
    QVERIFY(m_dlg->tree()->topLevelItem(0)->text(0).startsWith(QStringLiteral("BURNVOL")));
    QCOMPARE(m_dlg->imagePath(), image);
  }

  // Without a recorder Burn CD says so before it asks for an image or closes anything: the open
  // image stays open, its folder listed. Another image than the open one is burned beside it.
  void burnCdLooksForADriveBeforeItClosesAnything() {
#ifdef _WIN32
    QSKIP("needs the image the Linux burn test made");
#endif
    const QString image = m_dir.filePath(QStringLiteral("burn.iso"));
    QVERIFY(QFile::exists(image));
    m_dlg->setImagePath(image);
    QVERIFY(m_dlg->loadImagePath());
    QTreeWidget* tree = m_dlg->tree();
    m_dlg->showWorkspace(true);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(tree->topLevelItem(0)).center());
    const int rows = m_dlg->list()->model()->rowCount();
    QVERIFY(rows > 0);

    qputenv("UMBRADISC_BURN_DRIVE",
            QFile::encodeName(m_dir.filePath(QStringLiteral("no such folder/disc.bin"))).prepend("stdio:"));
    bool asked = false;
    setImageChooser([&](QWidget*) {
      asked = true;
      return image;
    });
    m_answer = QMessageBox::Ok;
    click("burn");
    QCOMPARE(m_boxes.size(), 1);
    QVERIFY2(m_boxes[0].text.startsWith(QStringLiteral("Cannot find a recordable drive in this computer.\n\n")) &&
                 m_boxes[0].text.contains(QStringLiteral("no such folder")),
             qPrintable(m_boxes[0].text));
    QVERIFY(!asked);
    QVERIFY(m_dlg->workspace().isOpen());
    QVERIFY(tree->isVisible());
    QCOMPARE(m_dlg->list()->model()->rowCount(), rows);

    // With a drive, another image: the open one is not touched.
    const QString other = m_dir.filePath(QStringLiteral("other.iso"));
    QFile::remove(other);
    QVERIFY(QFile::copy(image, other));
    qputenv("UMBRADISC_BURN_DRIVE", ("stdio:" + m_dir.filePath(QStringLiteral("disc2.bin"))).toUtf8());
    qputenv("UMBRADISC_STAGING_DIR", m_dir.filePath(QStringLiteral("staging")).toUtf8());
    setImageChooser([&](QWidget*) { return other; });
    m_boxes.clear();
    click("burn");
    setImageChooser({});
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QStringLiteral("Burn succeeded!\n\nThe disc matches the image."));
    QVERIFY(m_dlg->workspace().isOpen());
    QCOMPARE(m_dlg->list()->model()->rowCount(), rows);  // the listing stayed
    QCOMPARE(m_dlg->imagePath(), image);
  }

  void burnCdCancelledLeavesTheOpenImage() {
#ifdef _WIN32
    QSKIP("needs the image the Linux burn test made");
#endif
    const QString image = m_dir.filePath(QStringLiteral("burn.iso"));
    QVERIFY(QFile::exists(image));
    m_dlg->setImagePath(image);
    QVERIFY(m_dlg->loadImagePath());
    setImageChooser([](QWidget*) { return QString(); });
    click("burn");
    setImageChooser({});
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(m_dlg->workspace().isOpen());
  }

  // Without the system's image maker the Make Image dialog says the image failed, with the maker's
  // reason, makes nothing, and stays open for another try.
  void makeImageWithoutTheSystemMakerSaysWhy() {
    if (!serviceMissing(kImageMakerService)) QSKIP("the image maker is there");
    const QString target = m_dir.filePath(QStringLiteral("never.iso"));
    m_fillMakeDialog = fillAndConfirm(QStringLiteral("NOVOL"), makeSource(), target);
    m_cancelMakeDialog = true;
    click("makeImage");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, imageMakerResultMessage(ImageMakerResult::Failed));
    QVERIFY2(m_boxes[0].detail.contains(QStringLiteral("the system's image maker (IMAPI2FS) is not available")),
             qPrintable(m_boxes[0].detail));
    QVERIFY(!QFile::exists(target));
    QVERIFY(!m_dlg->workspace().isOpen());
  }

  // Without the recording service Burn CD says that this system cannot burn, and asks for no image.
  void burnWithoutTheRecordingServiceSaysSo() {
    if (!serviceMissing(kRecorderService)) QSKIP("the recording service is there");
    bool asked = false;
    setImageChooser([&](QWidget*) {
      asked = true;
      return QString();
    });
    click("burn");
    setImageChooser({});
    QVERIFY(!asked);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QString::fromLatin1(kBurnNotSupportedMessage));
  }
};

int main(int argc, char** argv) {
  umbra::CUmbradiscApp app(argc, argv);
  TestCommands test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_commands.moc"
