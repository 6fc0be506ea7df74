// One run of the update check against a loopback server, with the prompt hook standing in for the
// message box.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/update/LocalHttpServer.h"
#include "tests/update/UpdateTestSupport.h"
#include "update/UpdateCheck.h"

using namespace umbra;

namespace umbra::test {
namespace {

class UpdateCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    useSettingsFile("Umbradisc.ini");
    qputenv("UMBRADISC_UPDATE_URL", m_server.pageUrl().toUtf8());
    g_interactiveCheck = false;
    setUpdatePrompt([this](const QString& text, PromptKind kind) {
      const std::lock_guard lock(m_mutex);
      m_prompts << text;
      // Only the offer asks; nothing newer is a result; everything else is a check that failed.
      const PromptKind expected = isOffer(text)          ? PromptKind::Offer
                                  : text == kCurrentText ? PromptKind::Result
                                                         : PromptKind::Failure;
      EXPECT_EQ(kind, expected) << text.toStdString();
      m_promptThreads.push_back(std::this_thread::get_id());
      m_changed.notify_all();
      return m_answerYes;
    });
    setHomePageOpener([this](const QString& url) {
      const std::lock_guard lock(m_mutex);
      m_opened << url;
    });
    setConnectionProbe([this] { return m_link.load(); });
  }

  void TearDown() override {
    setUpdatePrompt({});
    setHomePageOpener({});
    setConnectionProbe({});
    qunsetenv("UMBRADISC_SETTINGS");
    qunsetenv("UMBRADISC_UPDATE_URL");
    g_interactiveCheck = false;
  }

  // Each case gets a file of its own, so no reader sees a stale copy.
  void useSettingsFile(const QString& name) {
    m_settings = m_dir.filePath(name);
    qputenv("UMBRADISC_SETTINGS", QFile::encodeName(m_settings));
  }
  void writeSettings(const QString& name, const QByteArray& lines) {
    useSettingsFile(name);
    ASSERT_TRUE(writeSettingsFile(m_settings, lines));
  }

  void runCheck(bool interactive) {
    g_interactiveCheck = interactive;
    runUpdateCheck();
  }

  QStringList takePrompts() {
    const std::lock_guard lock(m_mutex);
    QStringList prompts;
    prompts.swap(m_prompts);
    return prompts;
  }
  QStringList opened() {
    const std::lock_guard lock(m_mutex);
    return m_opened;
  }
  // For detached workers: waits until a prompt arrives (or a generous limit passes).
  bool waitForPrompt() {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return !m_prompts.isEmpty(); });
  }

  static bool waitUntilFlagCleared() {
    for (int i = 0; i < 3000 && g_interactiveCheck; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !g_interactiveCheck;
  }

  CLocalHttpServer m_server;
  QTemporaryDir m_dir;
  QString m_settings;
  std::atomic<bool> m_link{true};
  bool m_answerYes = false;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  QStringList m_prompts;
  QStringList m_opened;
  std::vector<std::thread::id> m_promptThreads;
};

// Installed version 50410 and a "Day" that lets the automatic run through.
constexpr const char* kDueSettings = "Version=50410\nDay=46\n";

TEST_F(UpdateCheckTest, PublishedNumberDecidesWhatTheUserSees) {
  struct Case {
    const char* name;
    QByteArray body;
    int status;
    bool interactive;
    QStringList expected;
  };
  const Case cases[] = {
      {"newer at start-up", "50411\r\n", 200, false, {kOfferText}},
      {"newer on request", "50411", 200, true, {kOfferText}},
      {"same at start-up", "50410\n", 200, false, {}},
      {"same on request", "50410\n", 200, true, {kCurrentText}},
      {"older on request", "50409", 200, true, {kCurrentText}},
      {"number then text", " \t+50411 (beta)\n50000\n", 200, false, {kOfferText}},
      // Only a version page answers with a version; anything else is a failed check, told on request.
      {"number only on the second line",
       "<html>\n50411\n",
       200,
       true,
       {failed("the server's page holds no version number")}},
      {"number only on the second line at start-up", "<html>\n50411\n", 200, false, {}},
      {"HTML error page on request",
       "<html><body>Not Found</body></html>",
       404,
       true,
       {failed("the server answered 404 Not Found")}},
      {"HTML error page at start-up", "<html><body>Not Found</body></html>", 404, false, {}},
      {"error page starting with a number", "50411 Internal Error", 500, false, {}},
      {"error page starting with a number on request",
       "50411 Internal Error",
       500,
       true,
       {failed("the server answered 500 Internal Server Error")}},
      {"empty page on request", "", 200, true, {failed("the server's page holds no version number")}},
      {"negative number compared unsigned", "-1\n", 200, false, {offer(4294967295u)}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeSettings(QString("case%1.ini").arg(n++), kDueSettings);
    m_server.servePage(c.body, c.status);
    const int before = m_server.requests();
    runCheck(c.interactive);
    EXPECT_EQ(takePrompts(), c.expected);
    EXPECT_EQ(m_server.requests(), before + 1);
    EXPECT_FALSE(g_interactiveCheck);
    EXPECT_TRUE(opened().isEmpty());  // every answer was No
  }
  EXPECT_TRUE(m_server.lastRequestHead().startsWith("GET /umbradisc/version.htm HTTP/1.1\r\n"));
  EXPECT_TRUE(m_server.lastRequestHead().contains(
      "User-Agent: " + QCoreApplication::applicationName().toUtf8() + "\r\n"));
}

TEST_F(UpdateCheckTest, InstalledVersionComesFromTheSettings) {
  m_server.servePage("50411\n");
  writeSettings("newer-installed.ini", "Version=60000\n");
  runCheck(true);
  EXPECT_EQ(takePrompts(), QStringList{kCurrentText});
  writeSettings("older-installed.ini", "Version=50000\n");
  runCheck(true);
  EXPECT_EQ(takePrompts(), QStringList{offer(50411, 50000)});
}

TEST_F(UpdateCheckTest, YesOpensTheServersRootAndNoOpensNothing) {
  writeSettings("answers.ini", kDueSettings);
  m_server.servePage("50411\n");
  m_answerYes = false;
  runCheck(true);
  EXPECT_EQ(takePrompts(), QStringList{kOfferText});
  EXPECT_TRUE(opened().isEmpty());

  m_answerYes = true;
  runCheck(true);
  EXPECT_EQ(takePrompts(), QStringList{kOfferText});
  EXPECT_EQ(opened(), QStringList{m_server.rootUrl()});
}

// A fresh installation first writes "Day" 0, then counts 1 ... 46; the start after that checks
// and starts counting again from 0, so one automatic start in 47 reaches the network.
TEST_F(UpdateCheckTest, ThrottleChecksEveryFortySeventhAutomaticStart) {
  writeSettings("throttle.ini", "Version=50410\n");
  m_server.servePage("50411\n");
  QStringList days;
  QList<int> checkedAt;
  for (int start = 1; start <= 95; ++start) {
    const int before = m_server.requests();
    runCheck(false);
    const QStringList prompts = takePrompts();
    if (m_server.requests() > before) {
      checkedAt << start;
      EXPECT_EQ(prompts, QStringList{kOfferText}) << "start " << start;
    } else {
      EXPECT_TRUE(prompts.isEmpty()) << "start " << start;
    }
    days << settingsValue(m_settings, "Day");
  }
  EXPECT_EQ(checkedAt, (QList<int>{48, 95}));
  QStringList expectedDays;
  for (int day = 0; day <= 46; ++day) expectedDays << QString::number(day);
  expectedDays << "0";  // start 48 checked
  for (int day = 1; day <= 46; ++day) expectedDays << QString::number(day);
  expectedDays << "0";  // start 95 checked
  EXPECT_EQ(days, expectedDays);

  // A check on request skips the throttle and leaves "Day" alone.
  const int before = m_server.requests();
  runCheck(true);
  EXPECT_EQ(m_server.requests(), before + 1);
  EXPECT_EQ(takePrompts(), QStringList{kOfferText});
  EXPECT_EQ(settingsValue(m_settings, "Day"), "0");
}

TEST_F(UpdateCheckTest, DayValuesAtAnAutomaticStart) {
  struct Case {
    QByteArray day;  // empty: no "Day" line
    const char* after;
    bool checks;
  };
  const Case cases[] = {
      {"", "0", false},           {"0", "1", false},    {"45", "46", false},
      {"46", "0", true},          {"47", "0", true},    {"4294967295", "0", true},
      {"soon", "0", false},       {"-1", "0", false},   {"4294967296", "0", false},
  };
  m_server.servePage("50411\n");
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.day.toStdString());
    writeSettings(QString("day%1.ini").arg(n++),
                  "Version=50410\n" + (c.day.isEmpty() ? QByteArray() : "Day=" + c.day + "\n"));
    const int before = m_server.requests();
    runCheck(false);
    EXPECT_EQ(m_server.requests() > before, c.checks);
    EXPECT_EQ(takePrompts(), c.checks ? QStringList{kOfferText} : QStringList{});
    EXPECT_EQ(settingsValue(m_settings, "Day"), c.after);
  }
}

// Settings that do not exist (or cannot exist) mean the default version 50410 and no throttle:
// every automatic start checks, and nothing is written.
TEST_F(UpdateCheckTest, UnopenableSettingsCheckEveryStartAgainstTheDefaultVersion) {
  QFile blocker(m_dir.filePath("not-a-folder"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString cases[] = {"missing.ini", "not-a-folder/Umbradisc.ini"};
  for (const QString& name : cases) {
    SCOPED_TRACE(name.toStdString());
    useSettingsFile(name);
    for (int start = 0; start < 3; ++start) {
      m_server.servePage("50411\n");
      const int before = m_server.requests();
      runCheck(false);
      EXPECT_EQ(m_server.requests(), before + 1);
      EXPECT_EQ(takePrompts(), QStringList{kOfferText});
    }
    m_server.servePage("50410\n");
    runCheck(false);
    EXPECT_TRUE(takePrompts().isEmpty());
    runCheck(true);
    EXPECT_EQ(takePrompts(), QStringList{kCurrentText});
    EXPECT_FALSE(QFile::exists(m_settings));
  }
  EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList{"not-a-folder"});
}

TEST_F(UpdateCheckTest, PresentSettingsWithoutAUsableVersionDoNothing) {
  const QByteArray cases[] = {"Day=46\n", "Version=\nDay=46\n", "Version=new\nDay=46\n",
                              "Version=-5\nDay=46\n", "Version=4294967296\nDay=46\n"};
  m_server.servePage("50411\n");
  int n = 0;
  for (const QByteArray& lines : cases) {
    SCOPED_TRACE(lines.toStdString());
    writeSettings(QString("version%1.ini").arg(n++), lines);
    const QByteArray before = fileBytes(m_settings);
    for (const bool interactive : {true, false}) {
      runCheck(interactive);
      EXPECT_TRUE(takePrompts().isEmpty());
    }
    EXPECT_EQ(m_server.requests(), 0);
    EXPECT_EQ(fileBytes(m_settings), before);
  }
}

TEST_F(UpdateCheckTest, NoLinkIsReportedOnlyOnRequest) {
  m_link = false;
  m_server.servePage("50411\n");
  writeSettings("nolink.ini", kDueSettings);
  runCheck(true);
  EXPECT_EQ(takePrompts(), QStringList{kNoLinkText});
  writeSettings("nolink-auto.ini", kDueSettings);
  runCheck(false);
  EXPECT_TRUE(takePrompts().isEmpty());
  EXPECT_EQ(m_server.requests(), 0);
}

// A server that cannot be reached, or answers with no version page: a check on request says so
// (what could not be reached, or why it failed), an automatic one stays silent.
TEST_F(UpdateCheckTest, FailingServersAnswerOnlyOnRequest) {
  writeSettings("failing.ini", kDueSettings);
  qputenv("UMBRADISC_UPDATE_URL", CLocalHttpServer::refusingUrl().toUtf8());  // a closed port
  runCheck(true);
  // The system says it has a network: the server is what could not be reached, and why is told.
  EXPECT_EQ(takePrompts(), QStringList{unreachable("Connection refused")});
  EXPECT_FALSE(g_interactiveCheck);
  runCheck(false);
  EXPECT_TRUE(takePrompts().isEmpty());

  // The answer breaks off before its first line is complete, and the request is over.
  qputenv("UMBRADISC_UPDATE_URL", m_server.pageUrl().toUtf8());
  m_server.serveBrokenPage("5041");
  runCheck(true);
  const QStringList broken = takePrompts();
  ASSERT_EQ(broken.size(), 1);
  EXPECT_TRUE(broken[0].startsWith("The check for a new version failed: the page broke off (")) << broken[0].toStdString();
  EXPECT_FALSE(g_interactiveCheck);
  EXPECT_EQ(m_server.requests(), 1);

  // An address override that is no web address is never replaced by the maker's server.
  for (const char* bad : {"not an address", "ftp://127.0.0.1/umbradisc/version.htm", "http://"}) {
    qputenv("UMBRADISC_UPDATE_URL", bad);
    runCheck(true);
    EXPECT_EQ(takePrompts(), QStringList{failed("the address of the version page is not a web address")}) << bad;
  }
  EXPECT_EQ(m_server.requests(), 1);
}

TEST_F(UpdateCheckTest, HugeAndEndlessPagesAreCutAfterTheFirstLine) {
  writeSettings("endless.ini", kDueSettings);
  // An endless first line of digits saturates like atol: far above any installed version.
  m_server.serveEndless("", '7');
  runCheck(false);
  EXPECT_EQ(takePrompts(), QStringList{offer(2147483647)});

  m_server.serveEndless("50410\n", 'x');
  runCheck(true);
  EXPECT_EQ(takePrompts(), QStringList{kCurrentText});
}

TEST_F(UpdateCheckTest, WorkersRunOnTheirOwnThreads) {
  writeSettings("workers.ini", kDueSettings);
  m_server.servePage("50410\n");
  onCheckUpdateRequested();
  ASSERT_TRUE(waitForPrompt());
  EXPECT_EQ(takePrompts(), QStringList{kCurrentText});
  ASSERT_TRUE(waitUntilFlagCleared());  // else the next worker would count as asked for

  writeSettings("workers-startup.ini", kDueSettings);
  m_server.servePage("50411\n");
  startUpdateWorker();
  ASSERT_TRUE(waitForPrompt());
  EXPECT_EQ(takePrompts(), QStringList{kOfferText});
  EXPECT_EQ(settingsValue(m_settings, "Day"), "0");
  {
    const std::lock_guard lock(m_mutex);
    for (const std::thread::id id : m_promptThreads) EXPECT_NE(id, std::this_thread::get_id());
  }
}

}  // namespace
}  // namespace umbra::test
