// Where the check looks: the version page and home page addresses from the settings and the
// environment. Nothing here touches the network.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tests/update/UpdateTestSupport.h"
#include "update/UpdateSettings.h"

using namespace umbra;

namespace umbra::test {
namespace {

class UpdateSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    qputenv("UMBRADISC_SETTINGS", QFile::encodeName(m_dir.filePath("Umbradisc.ini")));
    qunsetenv("UMBRADISC_UPDATE_URL");
  }
  void TearDown() override {
    qunsetenv("UMBRADISC_SETTINGS");
    qunsetenv("UMBRADISC_UPDATE_URL");
  }
  QTemporaryDir m_dir;
};

TEST_F(UpdateSettingsTest, PageAndHomeFollowTheServerSetting) {
  struct Case {
    QByteArray server;  // empty: no "Server" line
    const char* page;
    const char* home;
  };
  const Case cases[] = {
      // Without a usable setting, the project's address: the one the About box and the packages give.
      {"", "https://www.korvantissoft.com/umbradisc/version.htm", "https://www.korvantissoft.com/"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080/umbradisc/version.htm", "http://127.0.0.1:8080/"},
      {"https://mirror.test/some/path?q=1", "https://mirror.test/umbradisc/version.htm", "https://mirror.test/"},
      {"mirror.test", "https://www.korvantissoft.com/umbradisc/version.htm", "https://www.korvantissoft.com/"},
      {"ftp://mirror.test", "https://www.korvantissoft.com/umbradisc/version.htm", "https://www.korvantissoft.com/"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server.toStdString());
    const QString path = m_dir.filePath(QString("server%1.ini").arg(n++));
    ASSERT_TRUE(writeSettingsFile(
        path, "Version=50410\n" + (c.server.isEmpty() ? QByteArray() : "Server=" + c.server + "\n")));
    qputenv("UMBRADISC_SETTINGS", QFile::encodeName(path));
    const UpdateSettings settings;
    EXPECT_EQ(settings.pageUrl().toString(), c.page);
    EXPECT_EQ(settings.homePageUrl().toString(), c.home);
  }
}

TEST_F(UpdateSettingsTest, EnvironmentReplacesTheWholePageAddress) {
  ASSERT_TRUE(writeSettingsFile(m_dir.filePath("Umbradisc.ini"), "Server=http://127.0.0.1:1\n"));
  qputenv("UMBRADISC_UPDATE_URL", "http://127.0.0.1:9/other/page.txt");
  const UpdateSettings settings;
  EXPECT_EQ(settings.pageUrl().toString(), "http://127.0.0.1:9/other/page.txt");
  EXPECT_EQ(settings.homePageUrl().toString(), "http://127.0.0.1:9/");

  qputenv("UMBRADISC_UPDATE_URL", "127.0.0.1/version.htm");
  EXPECT_TRUE(UpdateSettings().pageUrl().isEmpty());
}

TEST_F(UpdateSettingsTest, FullAccessNeedsExistingWritableSettings) {
  const UpdateSettings missing;
  EXPECT_FALSE(missing.openedWithFullAccess());
  EXPECT_FALSE(QFile::exists(m_dir.filePath("Umbradisc.ini")));

  ASSERT_TRUE(writeSettingsFile(m_dir.filePath("Umbradisc.ini"), "Version=50500\nDay=3\n"));
  UpdateSettings present;
  EXPECT_TRUE(present.openedWithFullAccess());
  EXPECT_EQ(present.version(), 50500u);
  EXPECT_EQ(present.day(), 3u);
  EXPECT_TRUE(present.setDay(4));
  EXPECT_EQ(settingsValue(m_dir.filePath("Umbradisc.ini"), "Day"), "4");
  EXPECT_EQ(settingsValue(m_dir.filePath("Umbradisc.ini"), "Version"), "50500");
}

#ifdef _WIN32
// Without UMBRADISC_SETTINGS the check reads "Version" from the machine's registry key, where the
// installer writes it, and keeps "Day" in the user's key, which every user may write; a "Day" left
// in the machine's key by older versions counts until the user's is written.
TEST_F(UpdateSettingsTest, WindowsReadsTheMachineKeyAndWritesTheUsersKey) {
  qunsetenv("UMBRADISC_SETTINGS");
  constexpr wchar_t kKey[] = L"Software\\KorvantisSoft\\Umbradisc";
  HKEY machine = nullptr;
  const LSTATUS created =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machine, nullptr);
  if (created == ERROR_ACCESS_DENIED) GTEST_SKIP() << "this user may not write HKEY_LOCAL_MACHINE";
  ASSERT_EQ(created, ERROR_SUCCESS);
  const DWORD version = 0xFFFFFFFEu;  // read back signed by the registry layer, still this number
  const DWORD oldDay = 7;
  ASSERT_EQ(RegSetValueExW(machine, L"Version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), sizeof version),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(machine, L"Day", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&oldDay), sizeof oldDay),
            ERROR_SUCCESS);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Day");
  {
    UpdateSettings settings;
    EXPECT_TRUE(settings.openedWithFullAccess());
    EXPECT_EQ(settings.version(), std::optional<uint32_t>(0xFFFFFFFEu));
    EXPECT_EQ(settings.day(), std::optional<uint32_t>(7));
    EXPECT_TRUE(settings.setDay(46));
  }
  EXPECT_EQ(UpdateSettings().day(), std::optional<uint32_t>(46));
  DWORD machineDay = 0, size = sizeof machineDay;
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"Day", RRF_RT_REG_DWORD, nullptr, &machineDay, &size), ERROR_SUCCESS);
  EXPECT_EQ(machineDay, 7u);
  DWORD userDay = 0;
  size = sizeof userDay;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Day", RRF_RT_DWORD, nullptr, &userDay, &size), ERROR_SUCCESS);
  EXPECT_EQ(userDay, 46u);
  RegCloseKey(machine);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"Software\\KorvantisSoft");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"Day");
}
#endif

}  // namespace
}  // namespace umbra::test
