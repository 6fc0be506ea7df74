// The burner over a system recording service (IMAPI2 on Windows), against a double of the service:
// which recorder a burn picks, and on Windows the whole burn through DiscBurner, including the real
// service where it is missing (under wine).
#include "TestImages.h"
#include "burn/DiscRecorderService.h"
#include "burn/RecorderChoice.h"

#ifdef _WIN32
#include "burn/DiscBurner.h"

#include <windows.h>

#include <objbase.h>

#include <cstdlib>
#endif

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace umbra;

#ifdef _WIN32
constexpr BurnResult kNotSet = static_cast<BurnResult>(-1);  // no result written yet
#endif

namespace fs = std::filesystem;

namespace {

struct Recorder {
  std::vector<std::string> names;
  std::string notWritable;  // empty: holds a blank medium
};

class ServiceDouble : public DiscRecorderService {
 public:
  bool isInstalled() override { return missing.empty(); }
  bool listRecorders(std::vector<std::string>& ids, std::string& reason) override {
    if (!missing.empty()) {
      reason = missing;
      return false;
    }
    ids = order;
    return true;
  }
  std::vector<std::string> recorderNames(const std::string& id) override { return recorders[id].names; }
  bool hasWritableMedium(const std::string& id, std::string& reason) override {
    reason = recorders[id].notWritable;
    return reason.empty();
  }
  bool canEraseMedium(const std::string&, std::string& reason) override {
    reason = "not rewritable";
    return false;
  }
  bool eraseMedium(const std::string&, const std::function<void(int)>&, std::string& reason) override {
    reason = "not rewritable";
    return false;
  }
  bool writeImage(const std::string& id, const fs::path& imagePath, WriteCheck&,
                  const std::function<void(int)>& percent, const std::function<bool()>&, std::string& reason) override {
    written = {id, umbra::test::readBytes(imagePath)};
    if (writtenTo) *writtenTo = written;
    if (!writeFailure.empty()) {
      reason = writeFailure;
      return false;
    }
    if (percent) percent(100);
    return true;
  }

  void add(const std::string& id, const std::vector<std::string>& names, const std::string& notWritable = {}) {
    order.push_back(id);
    recorders[id] = {names, notWritable};
  }

  std::vector<std::string> order;
  std::map<std::string, Recorder> recorders;
  std::string missing;
  std::string writeFailure;
  std::pair<std::string, std::vector<uint8_t>> written;
  // Where a copy of `written` also goes, for callers that do not own the double.
  std::shared_ptr<std::pair<std::string, std::vector<uint8_t>>> writtenTo;
};

TEST(RecorderChoice, PicksByAddressOrTheFirstWritable) {
  ServiceDouble service;
  service.add("\\\\?\\scsi#a", {"D:\\", "DVD-ROM A"}, "the medium in the drive is not blank");
  service.add("\\\\?\\scsi#b", {"E:\\", "BD-RE B"});
  struct Case {
    const char* address;
    const char* id;      // empty: refused
    const char* reason;  // part of the reason when refused
  };
  const Case cases[] = {
      {"", "\\\\?\\scsi#b", ""},
      {"e:", "\\\\?\\scsi#b", ""},
      {"E:\\", "\\\\?\\scsi#b", ""},
      {"bd-re b", "\\\\?\\scsi#b", ""},
      {"\\\\?\\SCSI#B", "\\\\?\\scsi#b", ""},
      {"D:", "", "D:: the medium in the drive is not blank"},
      {"F:", "", "F:: no such recorder"},
      {"E", "", "E: no such recorder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    std::string reason;
    const std::string id = chooseRecorder(service, c.address, reason);
    EXPECT_EQ(id, c.id);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
  }
}

TEST(RecorderChoice, SaysWhyNoRecorderCanBeUsed) {
  ServiceDouble none;
  ServiceDouble missing;
  missing.missing = "the system's recording service (IMAPI2) is not available: 0x800401f3";
  ServiceDouble full;
  full.add("a", {}, "the medium in the drive is not blank");
  full.add("b", {}, "the medium in the drive cannot be written (or there is none)");
  const std::pair<ServiceDouble*, const char*> cases[] = {
      {&none, "no recorder found"},
      {&missing, "(IMAPI2) is not available: 0x800401f3"},
      {&full,
       "no recorder holds a writable medium (the medium in the drive is not blank; the medium in the drive "
       "cannot be written (or there is none))"},
  };
  for (const auto& [service, reason] : cases) {
    std::string why;
    EXPECT_TRUE(chooseRecorder(*service, {}, why).empty());
    EXPECT_NE(why.find(reason), std::string::npos) << why;
  }
}

#ifdef _WIN32
void setVariable(const char* name, const std::string& value) {
  _putenv_s(name, value.c_str());  // an empty value removes the variable
}

// A burn through DiscBurner on Windows: the service writes the staged copy of the image, and the copy
// is gone afterwards whatever happened.
class WindowsBurn : public testing::Test {
 protected:
  void SetUp() override {
    m_image = m_tmp / "disc.iso";
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes += std::string(1024, static_cast<char>(i));
    umbra::test::writeFile(m_image, bytes);
    m_staging = m_tmp / "staging";
    setVariable("UMBRADISC_STAGING_DIR", m_staging.string());
    setVariable("UMBRADISC_BURN_DRIVE", "");
  }
  void TearDown() override {
    setRecorderServiceFactory(nullptr);
    setVariable("UMBRADISC_STAGING_DIR", "");
  }
  // Every burn gets a fresh copy of `service`; the burner owns it, so what it wrote is reported
  // through m_written, which outlives it.
  void useDouble() {
    m_written = std::make_shared<std::pair<std::string, std::vector<uint8_t>>>();
    setRecorderServiceFactory([this] {
      auto fresh = std::make_unique<ServiceDouble>(service);
      fresh->writtenTo = m_written;
      return fresh;
    });
  }
  bool stagingEmpty() const {
    std::error_code ignored;
    return !fs::exists(m_staging) || fs::is_empty(m_staging, ignored);
  }

  umbra::test::TempDir m_tmp;
  fs::path m_image;
  fs::path m_staging;
  ServiceDouble service;
  std::shared_ptr<std::pair<std::string, std::vector<uint8_t>>> m_written;
};

TEST_F(WindowsBurn, WritesTheStagedCopyAndRemovesIt) {
  service.add("rec", {"E:\\"});
  useDouble();
  EXPECT_TRUE(burnAvailable());
  DiscBurner burner;
  BurnResult code = kNotSet;
  std::vector<int> burned;
  BurnProgress progress;
  progress.burnPercent = [&burned](int p) { burned.push_back(p); };
  EXPECT_TRUE(burner.burnFile(m_image, code, progress)) << burner.lastError();
  EXPECT_EQ(code, BurnResult::Succeeded);
  EXPECT_EQ(m_written->first, "rec");
  EXPECT_EQ(m_written->second, umbra::test::readBytes(m_image));
  ASSERT_FALSE(burned.empty());
  EXPECT_EQ(burned.back(), 100);
  EXPECT_TRUE(stagingEmpty());
}

TEST_F(WindowsBurn, FailuresGiveTheLinuxCodes) {
  struct Case {
    const char* name;
    std::function<void(ServiceDouble&)> arrange;
    BurnResult code;
    const char* reason;
  };
  const Case cases[] = {
      {"service missing", [](ServiceDouble& s) { s.missing = "IMAPI2 missing"; }, BurnResult::NoRecorder,
       "IMAPI2 missing"},
      {"medium not blank", [](ServiceDouble& s) { s.add("r", {}, "the medium in the drive is not blank"); },
       BurnResult::NoRecorder, "not blank"},
      {"write fails",
       [](ServiceDouble& s) {
         s.add("r", {});
         s.writeFailure = "writing the disc failed: 0xc0aa0205";
       },
       BurnResult::Failed, "0xc0aa0205"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service = ServiceDouble();
    c.arrange(service);
    useDouble();
    DiscBurner burner;
    BurnResult code = kNotSet;
    EXPECT_FALSE(burner.burnFile(m_image, code));
    EXPECT_EQ(code, c.code);
    EXPECT_NE(burner.lastError().find(c.reason), std::string::npos) << burner.lastError();
    EXPECT_TRUE(stagingEmpty());
  }
}

// The drive named in the settings (the registry key the window's settings live in) is the one used.
TEST_F(WindowsBurn, DriveComesFromTheRegistry) {
  service.add("first", {"D:\\"});
  service.add("second", {"E:\\"});
  useDouble();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KorvantisSoft\\Umbradisc", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring drive = L"e:";
  ASSERT_EQ(RegSetValueExW(key, L"BurnDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(drive.c_str()),
                           static_cast<DWORD>((drive.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  DiscBurner burner;
  BurnResult code = kNotSet;
  const bool burned = burner.burnFile(m_image, code);
  RegDeleteValueW(key, L"BurnDrive");
  RegCloseKey(key);
  EXPECT_TRUE(burned) << burner.lastError();
  EXPECT_EQ(m_written->first, "second");
}

// The real service: wine has no IMAPI2, which the window reports as a system that cannot burn and a
// burn as a missing recorder, with the reason.
TEST_F(WindowsBurn, MissingSystemServiceIsReportedAsNoRecorder) {
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(L"IMAPI2.MsftDiscMaster2", &clsid))) GTEST_SKIP() << "IMAPI2 is installed here";
  EXPECT_FALSE(burnAvailable());
  DiscBurner burner;
  BurnResult code = kNotSet;
  EXPECT_FALSE(burner.burnFile(m_image, code));
  EXPECT_EQ(code, BurnResult::NoRecorder);
  EXPECT_EQ(burner.lastError().rfind("the system's recording service (IMAPI2) is not available", 0), 0u)
      << burner.lastError();
  EXPECT_EQ(burnResultMessage(code), "Cannot find a recordable drive in this computer.");
}
#endif

}  // namespace
