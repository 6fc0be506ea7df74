// Our IMAPI2FS image maker (ImapiFileSystemImage under FolderImageMaker, as cdimage.exe runs them)
// against a double that answers IDispatch through a type library of IMAPI2FS's interfaces, as
// Windows does. The double's "image" is a list of what reached it, which the test reads back.
#include <gtest/gtest.h>

#include <algorithm>
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
    options.time = 1114023864;
    options.longNames = true;
    options.source = umbra::utf8FromPath(src());
    options.target = umbra::utf8FromPath(m_dir->path() / "out.iso");
  }
  void TearDown() override { imapi_double::uninstall(); }
  fs::path src() const { return m_dir->path() / "src"; }
  // The lines of the double's image; empty with the error when the run failed.
  std::vector<std::string> make(std::string* error) {
    const std::unique_ptr<cdimage::ImapiFileSystemImage> service = cdimage::ImapiFileSystemImage::open(error);
    if (!service) return {};
    std::ostringstream progress;
    cdimage::FolderImageMaker maker(options, *service, progress);
    if (!maker.make(error)) return {};
    const std::vector<uint8_t> bytes = umbra::test::readBytes(m_dir->path() / "out.iso");
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

TEST_F(ImapiImage, BootImageIsSetAsAPropertyOfTheImage) {
  writeFile(m_dir->path() / "boot.bin", std::string(2048, 'b'));
  options.bootFile = umbra::utf8FromPath(m_dir->path() / "boot.bin");
  std::string error;
  const std::vector<std::string> lines = make(&error);
  ASSERT_FALSE(lines.empty()) << error;
  EXPECT_EQ(field(lines, "boot"), "2048 emulation 0 platform 0");
}
// One VolumeName, in the characters IMAPI2FS documents: the double refuses any other, as
// IMAPI_E_INVALID_VOLUME_NAME ends the run on Windows.
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

TEST_F(ImapiImage, IMAPIsOwnTextIsKeptWithOurWords) {
  HRESULT made = S_OK;
  const com::DispatchObject image = com::DispatchObject::create(L"IMAPI2FS.MsftFileSystemImage", &made);
  ASSERT_TRUE(image);
  const HRESULT result = image.putProperty(L"VolumeName", com::Variant(std::wstring(L"My Disc")));
  EXPECT_EQ(com::describeResult(result),
            "0xc0aab104 (the volume label is not valid: The value specified for parameter 'newVal' is not valid)");
}
}  // namespace
