#include "BurnTestSupport.h"
#include "burn/ui/BurnUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace umbra;

using burntest::EnvGuard;

namespace {

// Answers the modal windows of a burn: records every progress window shown and closes the
// result box with OK as soon as it is the active modal widget.
class ModalAnswerer : public QObject {
 public:
  ModalAnswerer() {
    qApp->installEventFilter(this);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(10);
  }
  ~ModalAnswerer() override { qApp->removeEventFilter(this); }

  QStringList progressTitles;
  QStringList progressLabels;
  bool progressModal = true;
  int boxes = 0;
  QString boxText;
  QString boxTitle;
  QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
  QWidget* boxParent = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* dialog = qobject_cast<QProgressDialog*>(watched)) {
        progressTitles << dialog->windowTitle();
        progressLabels << dialog->labelText();
        progressModal = progressModal && dialog->isModal();
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    ++boxes;
    boxText = box->text();
    boxTitle = box->windowTitle();
    boxIcon = box->icon();
    boxParent = box->parentWidget();
    box->button(QMessageBox::Ok)->click();
  }

  QTimer m_timer;
};

}  // namespace

class BurnUiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(m_tmp.isValid());
    m_image = m_tmp.filePath(QStringLiteral("disc.iso"));
    const QString made = burntest::makeImage(m_image, 2 * 1024 * 1024);
    QVERIFY2(made.isEmpty(), qPrintable(made));
    m_staging = m_tmp.filePath(QStringLiteral("staging"));
    QFile plain(m_tmp.filePath(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
  }

  void burnImageShowsOneResult_data() {
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("staging");
    QTest::addColumn<bool>("burned");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<int>("damagedBlock");  // flipped on the disc between the write and the read-back; -1: none
    QTest::newRow("success") << QStringLiteral("stdio:") + m_tmp.filePath(QStringLiteral("out.bin")) << m_staging
                             << true << QStringLiteral("Burn succeeded!\n\nThe disc matches the image.") << true
                             << QMessageBox::Information << -1;
    QTest::newRow("disc differs") << QStringLiteral("stdio:") + m_tmp.filePath(QStringLiteral("damaged.bin"))
                                  << m_staging << true
                                  << QStringLiteral(
                                         "Burn succeeded!\n\nThe disc does not match the image: block 300 is the "
                                         "first that differs (blocks of 2048 bytes, counted from 0).")
                                  << true << QMessageBox::Warning << 300;
    QTest::newRow("no recorder") << QStringLiteral("/dev/umbradisc-no-such-drive") << m_staging << false
                                 << QStringLiteral("Cannot find a recordable drive in this computer.") << false
                                 << QMessageBox::Warning << -1;
    QTest::newRow("copy fails") << QStringLiteral("stdio:") + m_tmp.filePath(QStringLiteral("never.bin"))
                                << m_tmp.filePath(QStringLiteral("plain/staging")) << false
                                << QStringLiteral("Failed to copy the file to the CD recorder's buffer.") << false
                                << QMessageBox::Warning << -1;
    // The write started on the (write-once) pseudo-drive: no erase is offered, only the state.
    QTest::newRow("burn fails") << QStringLiteral("stdio:") + m_tmp.filePath(QStringLiteral("plain/out.bin"))
                                << m_staging << false
                                << QStringLiteral(
                                       "Burn failed.\n\nThe disc is now in an unknown state: part of the "
                                       "image may be on it, and it may no longer be usable.")
                                << true << QMessageBox::Warning << -1;
  }

  void burnImageShowsOneResult() {
    QFETCH(QString, drive);
    QFETCH(QString, staging);
    QFETCH(bool, burned);
    QFETCH(QString, message);
    QFETCH(bool, copied);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(int, damagedBlock);
    EnvGuard driveEnv("UMBRADISC_BURN_DRIVE", drive);
    EnvGuard stagingEnv("UMBRADISC_STAGING_DIR", staging);
    const QByteArray before = burntest::hashOf(m_image);
    bool readBack = false;
    setBeforeReadBack([&] {
      readBack = true;
      if (damagedBlock < 0) return;
      QFile disc(drive.mid(6));
      char byte = 0;
      const qint64 at = qint64{damagedBlock} * 2048 + 7;
      if (disc.open(QIODevice::ReadWrite) && disc.seek(at) && disc.getChar(&byte) && disc.seek(at))
        disc.putChar(static_cast<char>(byte ^ 0x40));
    });

    QWidget owner;
    owner.show();
    ModalAnswerer answerer;
    QCOMPARE(burnImage(&owner, m_image), burned);
    setBeforeReadBack({});
    // Only a disc that was written is read back.
    QCOMPARE(readBack, burned);

    QCOMPARE(answerer.boxes, 1);
    QCOMPARE(answerer.boxText, message);
    QCOMPARE(answerer.boxTitle, QStringLiteral("Umbradisc"));
    QCOMPARE(answerer.boxIcon, icon);
    QCOMPARE(answerer.boxParent, &owner);
    QVERIFY(answerer.progressModal);
    QVERIFY(!answerer.progressTitles.isEmpty());
    QCOMPARE(answerer.progressTitles.first(), QStringLiteral("Writing the file to the buffer..."));
    // Only a burn that got past the copy shows the writing window, and only one that wrote the disc
    // the window reading it back.
    QCOMPARE(answerer.progressTitles.size(), 1 + int{copied} + int{burned});
    const QString labels = answerer.progressLabels.join(u'|');
    if (copied) {
      const QString writing = answerer.progressLabels.value(1);
      QVERIFY2(writing.startsWith(QStringLiteral("Writing disc.iso to the disc: ")) && writing.endsWith(u'%'),
               qPrintable(labels));
    }
    if (burned) {
      const QString reading = answerer.progressLabels.value(2);
      QVERIFY2(reading.startsWith(QStringLiteral("Reading the disc back to compare it with disc.iso: ")) &&
                   reading.endsWith(u'%'),
               qPrintable(labels));
    }
    QCOMPARE(burntest::hashOf(m_image), before);
    QVERIFY(burntest::snapshot(staging).isEmpty());
    for (QWidget* window : QApplication::topLevelWidgets())
      QVERIFY2(window == &owner || !window->isVisible(), qPrintable(window->windowTitle()));
    if (burned && damagedBlock < 0) {
      QString why;
      QVERIFY2(burntest::holdsImage(drive.mid(6), m_image, why), qPrintable(why));
    }
  }

  void chooseImageOffersCdFiles() {
    QWidget owner;
    QStringList filters;
    QString suffix;
    bool accept = true;
    QPointer<QFileDialog> answered;
    QString startFolder, startSelection;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog || dialog == answered) return;  // answer each dialog once, never one that is closing
      answered = dialog;
      filters = dialog->nameFilters();
      suffix = dialog->defaultSuffix();
      startFolder = dialog->directory().absolutePath();
      startSelection = dialog->selectedFiles().value(0);
      // Typed as a user would: selectFile() leaves a focused name field alone.
      if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); accept && name)
        name->setText(m_image);
      static_cast<QDialog*>(dialog)->done(accept ? QDialog::Accepted : QDialog::Rejected);  // public in QDialog
    });
    timer.start(10);
    QCOMPARE(chooseImageToBurn(&owner), m_image);
    QCOMPARE(filters, (QStringList{QStringLiteral("CD Files (*.iso)"), QStringLiteral("All Files (*.*)")}));
    QCOMPARE(suffix, QStringLiteral("iso"));
    accept = false;
    QVERIFY(chooseImageToBurn(&owner).isEmpty());
    // With an image open, the dialog starts beside it, the image selected.
    accept = true;
    QCOMPARE(chooseImageToBurn(&owner, m_image), m_image);
    QCOMPARE(startFolder, QFileInfo(m_image).absolutePath());
    QCOMPARE(startSelection, QFileInfo(m_image).absoluteFilePath());
  }

  void chooserCanBeReplaced() {
    QWidget owner;
    QWidget* askedWith = nullptr;
    setImageChooser([&askedWith](QWidget* o) {
      askedWith = o;
      return QStringLiteral("/chosen.iso");
    });
    QCOMPARE(chooseImageToBurn(&owner), QStringLiteral("/chosen.iso"));
    QCOMPARE(askedWith, &owner);
    setImageChooser({});
  }

 private:
  QTemporaryDir m_tmp;
  QString m_image;
  QString m_staging;
};

QTEST_MAIN(BurnUiTest)
#include "BurnUiTest.moc"
