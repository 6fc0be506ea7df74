// The window's burn against the IMAPI2 doubles (Windows, under wine): a write that fails midway
// leaves the disc in an unknown state; on a rewritable disc the window asks "Erase the disc now?"
// and erases it quickly when the user clicks Yes; a burn that ends has IMAPI2 verify the disc the
// quick way and says its verdict. The answers are real mouse clicks on the boxes while their modal
// loops run.
#include "ImapiDoubles.h"
#include "burn/ui/BurnUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace umbra;

namespace {

constexpr HRESULT kDriveError = static_cast<HRESULT>(0xC0AA0300);

// Clicks `answer` in a box that asks, OK in any other, and records every box and progress window.
class Clicker : public QObject {
 public:
  explicit Clicker(QMessageBox::StandardButton answer) : m_answer(answer) {
    qApp->installEventFilter(this);
    connect(&m_timer, &QTimer::timeout, this, &Clicker::poll);
    m_timer.start(10);
  }
  ~Clicker() override { qApp->removeEventFilter(this); }

  QStringList boxes;
  QList<QMessageBox::Icon> icons;
  QStringList progressLabels;
  int questions = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show)
      if (auto* dialog = qobject_cast<QProgressDialog*>(watched)) progressLabels << dialog->labelText();
    return QObject::eventFilter(watched, event);
  }

 private:
  void poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == m_answered) return;
    m_answered = box;
    boxes << box->text();
    icons << box->icon();
    QAbstractButton* button = box->button(QMessageBox::Ok);
    if (box->button(QMessageBox::Yes)) {
      ++questions;
      button = box->button(m_answer);
    }
    QTest::mouseClick(button, Qt::LeftButton);
  }

  QMessageBox::StandardButton m_answer;
  QPointer<QMessageBox> m_answered;
  QTimer m_timer;
};

}  // namespace

class BurnEraseUiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (!imapi_double::install()) QSKIP("the doubles' type library cannot be loaded");
    QVERIFY(m_tmp.isValid());
    m_image = m_tmp.filePath(QStringLiteral("disc.iso"));
    QFile image(m_image);
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(100 * 2048, 'u'));
    image.close();
    qputenv("UMBRADISC_STAGING_DIR", m_tmp.filePath(QStringLiteral("staging")).toUtf8());
    qputenv("UMBRADISC_BURN_DRIVE", QByteArray());
  }
  void cleanupTestCase() { imapi_double::uninstall(); }

  void failedWriteOffersToEraseOnlyARewritableDisc_data() {
    QTest::addColumn<long>("mediaType");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<HRESULT>("eraseFailure");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("erases");
    QTest::addColumn<QString>("last");
    const QString unknown = QStringLiteral(
        "Burn failed.\n\nThe disc is now in an unknown state: part of the image "
        "may be on it");
    QTest::newRow("CD-RW, Yes") << 3L << QMessageBox::Yes << S_OK << 1 << 1
                                << QStringLiteral("The disc was erased and can be used again.");
    QTest::newRow("BD-RE, No") << 19L << QMessageBox::No << S_OK << 1 << 0
                               << unknown + QStringLiteral(
                                                ". It is rewritable, so it can be erased and used "
                                                "again.\n\nErase the disc now?");
    QTest::newRow("CD-R") << 2L << QMessageBox::Yes << S_OK << 0 << 0
                          << unknown + QStringLiteral(", and it may no longer be usable.");
  }

  void failedWriteOffersToEraseOnlyARewritableDisc() {
    QFETCH(long, mediaType);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(HRESULT, eraseFailure);
    QFETCH(int, questions);
    QFETCH(int, erases);
    QFETCH(QString, last);
    imapi_double::reset();
    imapi_double::World& world = imapi_double::world();
    world.drives = {{L"\\\\?\\scsi#cdrom#a", {L"E:\\"}, L"Writer A"}};
    world.drives[0].mediaType = mediaType;
    world.writeFailure = kDriveError;
    world.eraseFailure = eraseFailure;

    QWidget owner;
    owner.show();
    Clicker clicker(answer);
    QVERIFY(!burnImage(&owner, m_image));

    QCOMPARE(clicker.questions, questions);
    QCOMPARE(static_cast<int>(std::count(world.eraseCalls.begin(), world.eraseCalls.end(), "EraseMedia")), erases);
    QVERIFY(!clicker.boxes.isEmpty());
    QVERIFY2(clicker.boxes.last().startsWith(last), qPrintable(clicker.boxes.join(u'|')));
    // One box for the burn, and one more only when an erase ran.
    QCOMPARE(clicker.boxes.size(), 1 + erases);
    QCOMPARE(clicker.progressLabels.contains(QStringLiteral("Erasing the disc: 0%")), erases == 1);
    if (erases == 1 && eraseFailure == S_OK) QVERIFY(world.drives[0].blank);
    for (QWidget* window : QApplication::topLevelWidgets())
      QVERIFY2(window == &owner || !window->isVisible(), qPrintable(window->windowTitle()));
  }

  void burnIsVerifiedByWindowsTheQuickWay_data() {
    QTest::addColumn<bool>("verificationFails");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::newRow("passes") << false
                            << QStringLiteral(
                                   "Burn succeeded!\n\nThe disc matches the image.\nChecked by Windows' quick "
                                   "verification (the disc's layout and a sample of its sectors against the image).")
                            << QMessageBox::Information;
    QTest::newRow("fails") << true
                           << QStringLiteral(
                                  "Burn succeeded!\n\nThe disc does not match the image: Windows' quick verification "
                                  "(the disc's layout and a sample of its sectors against the image) failed. Windows "
                                  "does not say which block differs.")
                           << QMessageBox::Warning;
  }

  void burnIsVerifiedByWindowsTheQuickWay() {
    QFETCH(bool, verificationFails);
    QFETCH(QString, text);
    QFETCH(QMessageBox::Icon, icon);
    imapi_double::reset();
    imapi_double::World& world = imapi_double::world();
    world.drives = {{L"\\\\?\\scsi#cdrom#a", {L"E:\\"}, L"Writer A"}};
    world.verificationFails = verificationFails;

    QWidget owner;
    owner.show();
    Clicker clicker(QMessageBox::No);
    QVERIFY(burnImage(&owner, m_image));

    QCOMPARE(world.verificationLevel, 1L);  // IMAPI_BURN_VERIFICATION_QUICK, set before Write
    QCOMPARE(clicker.boxes, QStringList{text});
    QCOMPARE(clicker.icons, QList<QMessageBox::Icon>{icon});
    QCOMPARE(clicker.questions, 0);
    QCOMPARE(static_cast<qsizetype>(world.written.size()), QFile(m_image).size());
  }

 private:
  QTemporaryDir m_tmp;
  QString m_image;
};

QTEST_MAIN(BurnEraseUiTest)
#include "BurnEraseUiTest.moc"
