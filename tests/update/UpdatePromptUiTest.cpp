// The update check's message box: a worker's question shows on the user-interface thread with the
// caption, text, icon and buttons of the check, does not block the main window, and the answer
// reaches the worker (Yes opens the home page through the desktop's URL handling).
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

#include "tests/update/LocalHttpServer.h"
#include "tests/update/UpdateTestSupport.h"
#include "update/UpdateCheck.h"
#include "update/ui/UpdatePromptUi.h"

using namespace umbra;

using umbra::test::CLocalHttpServer;

// Stands in for the browser: receives the http addresses QDesktopServices would open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { urls << url.toString(); }

 public:
  QStringList urls;
};

class UpdatePromptUiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    // No settings file: the check compares against 50410 and is never throttled.
    qputenv("UMBRADISC_SETTINGS", QFile::encodeName(m_dir.filePath("missing.ini")));
    qputenv("UMBRADISC_UPDATE_URL", m_server.pageUrl().toUtf8());
    QDesktopServices::setUrlHandler("http", &m_catcher, "open");
    installUpdateUi();
  }
  void cleanupTestCase() { QDesktopServices::unsetUrlHandler("http"); }
  void init() {
    m_catcher.urls.clear();
    m_link = true;
    g_interactiveCheck = false;
  }

  void questionShowsAndTheAnswerReachesTheWorker_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<bool>("link");
    QTest::addColumn<bool>("closedPort");  // the page's address has nobody listening
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("answerYes");
    QTest::addColumn<QStringList>("opened");
    const QStringList home{m_server.rootUrl()};
    QTest::newRow("offer, Yes") << QByteArray("50411\n") << 200 << false << true << false << umbra::test::kOfferText
                                << true << home;
    QTest::newRow("offer, No") << QByteArray("50411\n") << 200 << true << true << false << umbra::test::kOfferText
                               << false << QStringList{};
    // Messages that ask nothing: an OK button alone.
    QTest::newRow("current") << QByteArray("50410\n") << 200 << true << true << false << umbra::test::kCurrentText
                             << false << QStringList{};
    QTest::newRow("no link") << QByteArray("50411\n") << 200 << true << false << false << umbra::test::kNoLinkText
                             << false << QStringList{};
    QTest::newRow("closed port") << QByteArray("50411\n") << 200 << true << true << true
                                 << umbra::test::unreachable("Connection refused") << false << QStringList{};
    QTest::newRow("404") << QByteArray("<html>Not Found</html>") << 404 << true << true << false
                         << umbra::test::failed("the server answered 404 Not Found") << false << QStringList{};
  }

  void questionShowsAndTheAnswerReachesTheWorker() {
    QFETCH(QByteArray, page);
    QFETCH(int, status);
    QFETCH(bool, interactive);
    QFETCH(bool, link);
    QFETCH(bool, closedPort);
    QFETCH(QString, text);
    QFETCH(bool, answerYes);
    QFETCH(QStringList, opened);
    m_server.servePage(page, status);
    qputenv("UMBRADISC_UPDATE_URL", (closedPort ? CLocalHttpServer::refusingUrl() : m_server.pageUrl()).toUtf8());
    m_link = link;
    setConnectionProbe([this] { return m_link.load(); });
    const bool question = umbra::test::isOffer(text);

    QPushButton mainWindow("Check");
    QSignalSpy clicks(&mainWindow, &QPushButton::clicked);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));

    g_interactiveCheck = interactive;
    std::atomic<bool> done{false};
    std::thread worker([&done] {
      runUpdateCheck();
      done = true;
    });

    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = visibleBox()) != nullptr, 30000);
    QCOMPARE(box->windowTitle(), QString("Umbradisc update"));
    QCOMPARE(box->text(), text);
    const QMessageBox::Icon icon = question                            ? QMessageBox::Question
                                   : text == umbra::test::kCurrentText ? QMessageBox::Information
                                                                       : QMessageBox::Warning;  // a failed check
    QCOMPARE(box->icon(), icon);
    QCOMPARE(box->standardButtons(), question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    QCOMPARE(box->parentWidget(), nullptr);
    QCOMPARE(box->windowModality(), Qt::NonModal);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(!done);  // the worker waits for the answer

    // The main window still takes input while the question is open.
    QTest::mouseClick(&mainWindow, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);

    QTest::mouseClick(box->button(!question ? QMessageBox::Ok : answerYes ? QMessageBox::Yes : QMessageBox::No),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 30000);
    worker.join();
    QTRY_COMPARE(m_catcher.urls, opened);
    QCOMPARE(visibleBox(), nullptr);
    setConnectionProbe({});
    qputenv("UMBRADISC_UPDATE_URL", m_server.pageUrl().toUtf8());
  }

  // Yes with no browser to take the page: a box gives the download page's address to copy.
  void withoutABrowserTheAddressIsGiven() {
    QDesktopServices::unsetUrlHandler("http");  // the offscreen platform opens nothing itself
    const auto restore = qScopeGuard([this] { QDesktopServices::setUrlHandler("http", &m_catcher, "open"); });
    m_server.servePage("50411\n");
    g_interactiveCheck = true;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [] {
      QMessageBox* box = visibleBox();
      if (box != nullptr && box->button(QMessageBox::Yes) != nullptr) box->button(QMessageBox::Yes)->click();
    });
    answerer.start(20);
    std::atomic<bool> done{false};
    std::thread worker([&done] {
      runUpdateCheck();
      done = true;
    });
    QMessageBox* box = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((box = visibleBox()) != nullptr && box->button(QMessageBox::Ok) != nullptr, 30000);
    answerer.stop();
    QTRY_VERIFY(done.load());
    worker.join();
    QCOMPARE(box->windowTitle(), QString("Umbradisc update"));
    QCOMPARE(box->text(), QString::fromUtf8(kNoBrowserText).arg(m_server.rootUrl()));
    QVERIFY(box->textInteractionFlags() & Qt::TextSelectableByMouse);  // to copy
    QVERIFY(box->text().endsWith(m_server.rootUrl()));
    box->button(QMessageBox::Ok)->click();
    QTRY_COMPARE(visibleBox(), nullptr);
    QVERIFY(m_catcher.urls.isEmpty());
  }

  // A run started on the user-interface thread itself waits for its answer without blocking it.
  void runOnTheUserInterfaceThreadStillGetsItsAnswer() {
    m_server.servePage("50411\n");
    g_interactiveCheck = true;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [] {
      if (QMessageBox* box = visibleBox()) box->button(QMessageBox::Yes)->click();
    });
    answerer.start(20);
    runUpdateCheck();
    QTRY_COMPARE(m_catcher.urls, QStringList{m_server.rootUrl()});
    QVERIFY(!g_interactiveCheck);
  }

 private:
  static QMessageBox* visibleBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      if (box != nullptr && box->isVisible()) return box;
    }
    return nullptr;
  }

  CLocalHttpServer m_server;
  QTemporaryDir m_dir;
  UrlCatcher m_catcher;
  std::atomic<bool> m_link{true};
};

QTEST_MAIN(UpdatePromptUiTest)
#include "UpdatePromptUiTest.moc"
