// The main window's Make Image and Burn CD buttons from end to end: the dialog filled in, the
// image made by cdimage and opened; an image burned onto libburn's stdio: pseudo-drive.
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
#include <QTreeWidget>

#include "app/CMainDlg.h"
#include "app/CUmbradiscApp.h"
#include "burn/ui/BurnUi.h"
#include "controls/CSkinButton.h"
#include "imaging/ui/CMakeImageDlg.h"

class TestCommands : public QObject {
  Q_OBJECT

  struct Box {
    QString title, text;
  };
  QTemporaryDir m_dir;
  QTimer m_modalWatcher;
  QList<Box> m_boxes;
  QMessageBox::StandardButton m_answer = QMessageBox::No;
  std::function<void(CMakeImageDlg*)> m_fillMakeDialog;
  std::unique_ptr<umbra::CMainDlg> m_dlg;

  void click(const char* name) {
    QTest::mouseClick(m_dlg->findChild<umbra::CSkinButton*>(QString::fromLatin1(name)), Qt::LeftButton);
  }
  static QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  // Fills in the Make Image dialog and presses its OK.
  static std::function<void(CMakeImageDlg*)> fillAndConfirm(const QString& label, const QString& source,
                                                            const QString& target) {
    return [=](CMakeImageDlg* make) {
      make->findChild<QLineEdit*>(QStringLiteral("labelEdit"))->setText(label);
      make->findChild<QLineEdit*>(QStringLiteral("sourceEdit"))->setText(source);
      make->findChild<QLineEdit*>(QStringLiteral("targetEdit"))->setText(target);
      for (QPushButton* button : make->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("OK")) button->click();
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
        m_boxes.append({box->windowTitle(), box->text()});
        QAbstractButton* button = box->button(m_answer);
        if (!button) button = box->buttons().value(0);
        button->click();
      } else if (auto* make = qobject_cast<CMakeImageDlg*>(modal); make && m_fillMakeDialog) {
        auto fill = std::move(m_fillMakeDialog);
        m_fillMakeDialog = nullptr;
        fill(make);
      }
    });
    m_modalWatcher.start(20);
  }

  void init() {
    m_boxes.clear();
    m_dlg = std::make_unique<umbra::CMainDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
  }
  void cleanup() { m_dlg.reset(); }

  void makeImageMakesAndOpensTheImage() {
    const QString source = makeSource();
    const QString target = m_dir.filePath(QStringLiteral("made.iso"));
    m_fillMakeDialog = fillAndConfirm(QStringLiteral("MADEVOL"), source, target);
    m_answer = QMessageBox::Yes;
    click("makeImage");
    QTRY_VERIFY_WITH_TIMEOUT(m_dlg->GetWorkspace().isOpen(), 30000);
    QVERIFY(QFile::exists(target));
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("Make CD Image file success! \r\n\r\nWould you like to open it now ?"));
    QCOMPARE(m_dlg->ImagePath(), target);
    QTreeWidget* tree = m_dlg->Tree();
    QVERIFY(tree->isVisible());
    QCOMPARE(tree->topLevelItemCount(), 1);
    QVERIFY(tree->topLevelItem(0)->text(0).startsWith(QStringLiteral("MADEVOL")));
    QCOMPARE(tree->topLevelItem(0)->childCount(), 2);  // Private and Public
  }

  void makeImageAnsweredNoLeavesTheWindowAsItWas() {
    const QString source = makeSource();
    const QString target = m_dir.filePath(QStringLiteral("kept.iso"));
    m_fillMakeDialog = fillAndConfirm(QString(), source, target);
    m_answer = QMessageBox::No;
    click("makeImage");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes.size(), 1, 30000);
    QVERIFY(QFile::exists(target));
    QVERIFY(!m_dlg->GetWorkspace().isOpen());
    QVERIFY(!m_dlg->Tree()->isVisible());
  }

  void burnCdBurnsTheChosenImageEvenWhenItIsOpen() {
    // An image made by cdimage is opened first, then chosen for burning.
    const QString image = m_dir.filePath(QStringLiteral("burn.iso"));
    QProcess maker;
    maker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/cdimage"),
                {QStringLiteral("-lBURNVOL"), QStringLiteral("-t"), QStringLiteral("-d"), QStringLiteral("-n"),
                 QStringLiteral("-m"), makeSource(), image});
    QVERIFY(maker.waitForFinished(30000));
    QCOMPARE(maker.exitCode(), 0);
    m_dlg->SetImagePath(image);
    QVERIFY(m_dlg->OpenImageFile());
    const QByteArray original = readFile(image);  // as stamped by the open

    const QString disc = m_dir.filePath(QStringLiteral("disc.bin"));
    const QString staging = m_dir.filePath(QStringLiteral("staging"));
    qputenv("UMBRADISC_BURN_DRIVE", ("stdio:" + disc).toUtf8());
    qputenv("UMBRADISC_STAGING_DIR", staging.toUtf8());
    SetImageChooser([&](QWidget*) { return image; });
    m_answer = QMessageBox::Ok;
    click("burn");
    SetImageChooser({});
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].title, QStringLiteral("Umbradisc"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("Brun Success! "));
    QVERIFY(readFile(disc).startsWith(original));
    QCOMPARE(readFile(image), original);  // the image itself is never changed
    QVERIFY(QDir(staging).entryList(QDir::Files).isEmpty());
    QVERIFY(!m_dlg->GetWorkspace().isOpen());
    QCOMPARE(m_dlg->Tree()->topLevelItemCount(), 0);
    QCOMPARE(m_dlg->ImagePath(), image);
  }

  void burnCdCancelledLeavesTheOpenImage() {
    const QString image = m_dir.filePath(QStringLiteral("burn.iso"));
    QVERIFY(QFile::exists(image));
    m_dlg->SetImagePath(image);
    QVERIFY(m_dlg->OpenImageFile());
    SetImageChooser([](QWidget*) { return QString(); });
    click("burn");
    SetImageChooser({});
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(m_dlg->GetWorkspace().isOpen());
  }
};

int main(int argc, char** argv) {
  umbra::CUmbradiscApp app(argc, argv);
  TestCommands test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_commands.moc"
