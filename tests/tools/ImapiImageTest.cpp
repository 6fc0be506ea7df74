// Our IMAPI2FS image maker (ImapiFileSystemImage under FolderImageMaker, as cdimage.exe runs them)
// against a double that answers IDispatch through a type library of IMAPI2FS's interfaces, as
// Windows does. The double's "image" is a list of what reached it, which the test reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>

#include "FolderImageMaker.h"
#include "ImapiDoubles.h"
#include "ImapiFileSystemImage.h"
#include "TestImages.h"
#include "VolumeLabel.h"
#include "base/PathText.h"

namespace {

namespace fs = std::filesystem;
using umbra::test::writeFile;

class ImapiImage : public testing::Test {
 public:
  void SetUp() override {
    imapi_double::reset();
    if (!imapi_double::install()) GTEST_SKIP() << "the doubles' type library cannot be loaded";
    m_dir = std::make_unique<umbra::test::TempDir>();
    fs::create_directories(src() / "Docs" / "deep");
    writeFile(src() / "readme.txt", "hello");
    writeFile(src() / "Docs" / "deep" / umbra::pathFromUtf8("Caf\xC3\xA9.txt"), "xy");
    options.label = "Disc";
    options.time = 1114023864;  // 2005-04-20 19:04:24 UTC
    options.longNames = true;
    options.source = umbra::utf8FromPath(src());
    options.target = umbra::utf8FromPath(target());
  }
  void TearDown() override { imapi_double::uninstall(); }
  // Source and target named in letters outside every ANSI code page (Greek, Chinese), as a user's
  // folders may be: they reach the service only as wide paths.
  fs::path src() const { return m_dir->path() / umbra::pathFromUtf8("\xCE\xA0\xCE\xB7\xCE\xB3\xCE\xAE \xE5\x85\x89"); }
  fs::path target() const {
    return m_dir->path() / umbra::pathFromUtf8("\xCE\xB4\xCE\xAF\xCF\x83\xCE\xBA\xCE\xBF\xCF\x82.iso");
  }
  // The lines of the double's image; empty with the error when the run failed.
  std::vector<std::string> make(std::string* error) {
    const std::unique_ptr<cdimage::ImapiFileSystemImage> service = cdimage::ImapiFileSystemImage::open(error);
    if (!service) return {};
    std::ostringstream progress;
    cdimage::FolderImageMaker maker(options, *service, progress);
    if (!maker.make(error)) return {};
    const std::vector<uint8_t> bytes = umbra::test::readBytes(target());
    EXPECT_EQ(bytes.size() % 2048, 0u);
    std::vector<std::string> lines;
    std::istringstream text(std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\0')));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
  static std::string field(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines)
      if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    return "(none)";
  }

  std::unique_ptr<umbra::test::TempDir> m_dir;
  cdimage::MakerOptions options;
};

TEST_F(ImapiImage, EveryEntryReachesTheServiceWithItsTimes) {
  std::string error;
  const std::vector<std::string> lines = make(&error);
  ASSERT_FALSE(lines.empty()) << error;
  EXPECT_EQ(field(lines, "label"), "Disc");
  EXPECT_EQ(field(lines, "filesystems"), "3");  // ISO 9660 and Joliet
  EXPECT_EQ(field(lines, "level"), "2");
  const std::string root = field(lines, "root");
  const std::string time = root.substr(0, root.find(' '));
  EXPECT_EQ(root, time + " " + time + " " + time);
  EXPECT_NE(time, "0.000000");
  std::vector<std::string> items;
  for (const std::string& line : lines)
    if (line.rfind("dir ", 0) == 0 || line.rfind("file ", 0) == 0) items.push_back(line);
  std::sort(items.begin(), items.end());
  const std::string times = " " + root;
  EXPECT_EQ(items, (std::vector<std::string>{"dir \\Docs" + times, "dir \\Docs\\deep" + times,
                                             "file \\Docs\\deep\\Caf\xC3\xA9.txt 2" + times,
                                             "file \\readme.txt 5" + times}));
}

// IMAPI2FS takes its item times in UTC; handed local times, every entry of the image would be off
// by the zone's offset. The test runs in a zone away from UTC (TZ, set by the build) to see it.
TEST_F(ImapiImage, ItemTimesReachTheServiceInUtc) {
  const SYSTEMTIME utcFields{2005, 4, 0, 20, 19, 4, 24, 0};
  double utc = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(const_cast<SYSTEMTIME*>(&utcFields), &utc));
  FILETIME utcTime, localTime;
  SYSTEMTIME localFields;
  double local = 0;
  ASSERT_TRUE(SystemTimeToFileTime(&utcFields, &utcTime) && FileTimeToLocalFileTime(&utcTime, &localTime) &&
              FileTimeToSystemTime(&localTime, &localFields) && SystemTimeToVariantTime(&localFields, &local));
  ASSERT_NE(utc, local) << "this test needs a time zone other than UTC (TZ)";

  std::string error;
  const std::vector<std::string> lines = make(&error);
  ASSERT_FALSE(lines.empty()) << error;
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", utc);
  const std::string times = std::string(text) + " " + text + " " + text;
  EXPECT_EQ(field(lines, "root"), times);
  EXPECT_EQ(field(lines, "file \\readme.txt"), "5 " + times);
}

TEST_F(ImapiImage, BootImageIsSetAsAPropertyOfTheImage) {
  writeFile(m_dir->path() / "boot.bin", std::string(2048, 'b'));
  options.bootFile = umbra::utf8FromPath(m_dir->path() / "boot.bin");
  std::string error;
  const std::vector<std::string> lines = make(&error);
  ASSERT_FALSE(lines.empty()) << error;
  EXPECT_EQ(field(lines, "boot"), "2048 emulation 0 platform 0");
}
// One VolumeName, in the characters IMAPI2FS documents: the double refuses any other, as an
// invalid volume name ends the run on Windows.
TEST_F(ImapiImage, TheLabelIsOneVolumeNameIMAPI2FSAccepts) {
  for (const std::string label : {"My Disc", "Photos 2005 from the trip", "v1.0_final"}) {
    SCOPED_TRACE(label);
    SetUp();
    options.label = label;
    std::string error;
    const std::vector<std::string> lines = make(&error);
    ASSERT_FALSE(lines.empty()) << error;
    EXPECT_EQ(field(lines, "label"), cdimage::imapiVolumeName(label));
  }
}

// Hands every call on to the IMAPI2FS maker and changes a source file just before the image is
// made, after the file was added: IMAPI2FS reads the files only while its image stream is read.
class ChangesAFileBeforeCreate : public cdimage::FileSystemImage {
 public:
  ChangesAFileBeforeCreate(cdimage::FileSystemImage& inner, std::function<void()> change)
      : m_inner(inner), m_change(std::move(change)) {}
  cdimage::ImageLimits limits() const override { return m_inner.limits(); }
  bool setLayout(const std::string& label, int isoLevel, std::string* error) override {
    return m_inner.setLayout(label, isoLevel, error);
  }
  bool addFolder(const std::string& imagePath, std::time_t time, std::string* error) override {
    return m_inner.addFolder(imagePath, time, error);
  }
  bool addFile(const std::string& imagePath, const fs::path& source, std::time_t time, std::string* error) override {
    return m_inner.addFile(imagePath, source, time, error);
  }
  bool setBootImage(const fs::path& file, std::string* error) override { return m_inner.setBootImage(file, error); }
  std::unique_ptr<cdimage::ImageStream> create(std::string* error) override {
    m_change();
    return m_inner.create(error);
  }

 private:
  cdimage::FileSystemImage& m_inner;
  std::function<void()> m_change;
};

// A file that changed or vanished after it was added is found once the image stream has been read:
// the run fails naming it, and no image is left.
TEST_F(ImapiImage, AFileThatChangedAfterItWasAddedStopsTheImage) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& file)> change;
    const char* happened;
  };
  const Case cases[] = {
      {"grown", [](const fs::path& file) { writeFile(file, "hello, world"); },
       "grew from 5 to 12 bytes while it was read"},
      {"removed", [](const fs::path& file) { fs::remove(file); }, "was removed while it was read"},
      {"rewritten",
       [](const fs::path& file) { fs::last_write_time(file, fs::last_write_time(file) + std::chrono::hours(1)); },
       "was changed while it was read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const fs::path file = src() / "readme.txt";
    std::string error;
    const std::unique_ptr<cdimage::ImapiFileSystemImage> service = cdimage::ImapiFileSystemImage::open(&error);
    ASSERT_TRUE(service) << error;
    ChangesAFileBeforeCreate maker(*service, [&] { c.change(file); });
    std::ostringstream progress;
    cdimage::FolderImageMaker run(options, maker, progress);
    EXPECT_FALSE(run.make(&error));
    EXPECT_EQ(error, umbra::utf8FromPath(file) + ": " + c.happened +
                         "; the image was not written, since it would not hold this file as it is");
    EXPECT_FALSE(fs::exists(m_dir->path() / "out.iso"));
    for (const auto& entry : fs::directory_iterator(m_dir->path()))
      EXPECT_EQ(entry.path().filename(), src().filename()) << "left behind";
  }
}

TEST_F(ImapiImage, IMAPIsOwnTextIsKeptWithOurWords) {
  HRESULT made = S_OK;
  const com::DispatchObject image = com::DispatchObject::create(L"IMAPI2FS.MsftFileSystemImage", &made);
  ASSERT_TRUE(image);
  const HRESULT result = image.putProperty(L"VolumeName", com::Variant(std::wstring(L"My Disc")));
  EXPECT_EQ(com::describeResult(result),
            "0xc0aab101 (a value given is not valid: The value specified for parameter 'newVal' is not valid)");
}

// Our words for IMAPI's codes say what Microsoft documents for each. An invalid volume name comes
// as either code: put_VolumeName's page gives B101, the table of IMAPI's return values B104.
TEST(ImapiWords, TheCodesOfAnInvalidLabelAndOfRefusedMediaAndStreams) {
  const struct {
    unsigned long code;
    const char* text;
  } cases[] = {
      {0xC0AAB101, "0xc0aab101 (a value given is not valid"},
      {0xC0AAB104, "0xc0aab104 (the volume label is not valid"},
      {0xC0AA0203, "0xc0aa0203 (the disc is not compatible or of an unknown physical format"},
      {0xC0AA0403, "0xc0aa0403 (the image's data is not supported for writing"},
  };
  // The service's own text may follow ours, after a colon.
  for (const auto& c : cases) {
    const std::string text = com::describeResult(static_cast<HRESULT>(c.code));
    EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
  }
}
}  // namespace
