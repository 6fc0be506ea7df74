// cdimage's run over an image maker (FileSystemImage), against a double that answers as IMAPI2FS
// would: what reaches the maker, what lands on disk, and that a failure leaves nothing behind. On
// Linux the libisofs maker is also driven directly; on Windows under wine the real cdimage.exe is
// run, where the service is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "FolderImageMaker.h"
#include "Platform.h"
#include "SourceCheck.h"
#include "TempImageName.h"
#ifndef _WIN32
#include "LibisofsFileSystemImage.h"
#endif
#include "TestImages.h"
#include "VolumeLabel.h"

namespace {

using cdimage::FileSystemImage;
using cdimage::FolderImageMaker;
using cdimage::ImageStream;
using cdimage::MakerOptions;
using umbra::test::TempDir;
using umbra::test::writeFile;
namespace fs = std::filesystem;

class BytesStream : public ImageStream {
 public:
  BytesStream(std::string bytes, uint64_t size, size_t failAt) : m_bytes(std::move(bytes)), m_size(size), m_failAt(failAt) {}
  uint64_t size() const override { return m_size; }
  bool read(unsigned char* buffer, size_t want, size_t& got, std::string* error) override {
    if (m_pos >= m_failAt) {
      *error = "the device stopped answering";
      return false;
    }
    got = std::min(want, m_bytes.size() - m_pos);
    std::copy_n(m_bytes.data() + m_pos, got, buffer);
    m_pos += got;
    return true;
  }

 private:
  std::string m_bytes;
  uint64_t m_size;
  size_t m_failAt;
  size_t m_pos = 0;
};

// Records every call; the image it hands back is a byte pattern of the requested size.
class ServiceDouble : public FileSystemImage {
 public:
  cdimage::ImageLimits limits() const override { return limitsGiven; }
  bool setLayout(const std::string& label, int isoLevel, std::string*) override {
    calls.push_back("layout " + label + " " + std::to_string(isoLevel));
    return true;
  }
  bool addFolder(const std::string& imagePath, std::time_t time, std::string*) override {
    calls.push_back("folder " + imagePath);
    times[imagePath] = time;
    return true;
  }
  bool addFile(const std::string& imagePath, const fs::path& source, std::time_t time, std::string* error) override {
    if (imagePath == refuseFile) {
      *error = imagePath + ": refused by the service";
      return false;
    }
    calls.push_back("file " + imagePath + " <- " + umbra::utf8FromPath(source.filename()));
    times[imagePath] = time;
    return true;
  }
  bool setBootImage(const fs::path& file, std::string*) override {
    calls.push_back("boot " + umbra::utf8FromPath(file.filename()));
    return true;
  }
  std::unique_ptr<ImageStream> create(std::string*) override {
    calls.push_back("create");
    if (!image.empty())
      return std::make_unique<BytesStream>(std::string(image.begin(), image.end()), image.size(), failAt);
    std::string bytes(imageBytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return std::make_unique<BytesStream>(bytes, reportedSize ? reportedSize : bytes.size(), failAt);
  }

  cdimage::ImageLimits limitsGiven{"the system's image maker (IMAPI2FS)", false, 8};
  std::vector<std::string> calls;
  std::map<std::string, std::time_t> times;
  std::string refuseFile;
  std::vector<uint8_t> image;  // the image handed back; a byte pattern when empty
  size_t imageBytes = 5 * 65536 + 100;
  uint64_t reportedSize = 0;
  size_t failAt = SIZE_MAX;
};

class FolderImageMakerTest : public ::testing::Test {
 public:
  // Also called once per case by tests that need a fresh folder and service each time.
  void SetUp() override {
    m_tmp = std::make_unique<TempDir>();
    m_dir = m_tmp->path();
    service = ServiceDouble();
    progress.str("");
    options = MakerOptions();
    fs::create_directories(m_dir / "src" / "Docs" / "deep");
    writeFile(m_dir / "src" / "readme.txt", "hello");
    // Names are built from UTF-8 as the maker reads them (a narrow path is ANSI on Windows).
    writeFile(m_dir / "src" / "Docs" / "deep" / umbra::pathFromUtf8("Caf\xC3\xA9.txt"), "x");
    fs::create_directories(m_dir / "src" / "empty");
    options.label = "My Disc";
    options.time = 1114023864;
    options.noSizeLimit = false;
    options.source = umbra::utf8FromPath(m_dir / "src");
    options.target = umbra::utf8FromPath(m_dir / "out.iso");
  }
  bool make(std::string* error) {
    FolderImageMaker maker(options, service, progress);
    return maker.make(error);
  }
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir))
      if (entry.path().filename() != "src") names.push_back(entry.path().filename().string());
    return names;
  }

  std::unique_ptr<TempDir> m_tmp;
  fs::path m_dir;
  MakerOptions options;
  ServiceDouble service;
  std::ostringstream progress;
};

TEST_F(FolderImageMakerTest, EveryEntryReachesTheServiceAndTheImageIsWrittenWhole) {
  for (const bool longNames : {false, true}) {
    SCOPED_TRACE(longNames);
    SetUp();
    options.longNames = longNames;
    std::string error;
    ASSERT_TRUE(make(&error)) << error;
    std::vector<std::string> calls = service.calls;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], std::string("layout My Disc ") + (longNames ? "2" : "1"));
    EXPECT_EQ(calls[1], "folder /");
    EXPECT_EQ(calls.back(), "create");
    std::sort(calls.begin() + 2, calls.end() - 1);  // directory order is the system's
    const std::vector<std::string> entries(calls.begin() + 2, calls.end() - 1);
    EXPECT_EQ(entries, (std::vector<std::string>{"file /Docs/deep/Caf\xC3\xA9.txt <- Caf\xC3\xA9.txt",
                                                 "file /readme.txt <- readme.txt", "folder /Docs",
                                                 "folder /Docs/deep", "folder /empty"}));
    for (const auto& [path, time] : service.times) EXPECT_EQ(time, options.time) << path;
    const std::vector<uint8_t> bytes = umbra::test::readBytes(m_dir / "out.iso");
    ASSERT_EQ(bytes.size(), service.imageBytes);
    for (size_t i = 0; i < bytes.size(); i += 4099) ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 7 + 3)) << i;
    EXPECT_EQ(progress.str().substr(0, 2), "0\n");
    EXPECT_EQ(progress.str().substr(progress.str().size() - 4), "100\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>{"out.iso"});
  }
}

TEST_F(FolderImageMakerTest, BootImageGoesToTheService) {
  writeFile(m_dir / "boot.bin", std::string(2048, 'b'));
  options.bootFile = (m_dir / "boot.bin").string();
  std::string error;
  ASSERT_TRUE(make(&error)) << error;
  EXPECT_EQ(service.calls[service.calls.size() - 2], "boot boot.bin");
}

// Each case fails with a one-line message naming the cause, leaves an existing target as it was
// and leaves no temporary file.
TEST_F(FolderImageMakerTest, FailuresLoseNothing) {
  struct Case {
    const char* name;
    std::function<void(FolderImageMakerTest&)> arrange;
    const char* messagePart;
    bool serviceUntouched;
  };
  const std::vector<Case> cases = {
      {"case kept", [](FolderImageMakerTest& t) { t.options.keepCase = true; }, "-d is not available here", true},
      {"source missing", [](FolderImageMakerTest& t) { t.options.source = (t.m_dir / "nothing").string(); }, "nothing",
       true},
      {"source is a file",
       [](FolderImageMakerTest& t) { t.options.source = (t.m_dir / "src" / "readme.txt").string(); }, "not a folder",
       true},
      {"target is a folder",
       [](FolderImageMakerTest& t) {
         fs::create_directories(t.m_dir / "folder.iso");
         t.options.target = (t.m_dir / "folder.iso").string();
       },
       "folder.iso: is a folder", false},
      {"target is the source folder", [](FolderImageMakerTest& t) { t.options.target = (t.m_dir / "src").string(); },
       "the target is the source folder", false},
      {"target inside the source",
       [](FolderImageMakerTest& t) { t.options.target = (t.m_dir / "src" / "in.iso").string(); },
       "the target lies inside the source folder", false},
      {"target is the boot file", [](FolderImageMakerTest& t) { t.options.bootFile = (t.m_dir / "out.iso").string(); },
       "the target is the boot file", false},
      {"name Joliet cannot hold",
       [](FolderImageMakerTest& t) { writeFile(t.m_dir / "src" / (std::string(104, 'n') + ".txt"), "x"); },
       "longer than 103 characters", false},
      {"boot file missing", [](FolderImageMakerTest& t) { t.options.bootFile = (t.m_dir / "no.bin").string(); },
       "no.bin", false},
      {"service refuses a file", [](FolderImageMakerTest& t) { t.service.refuseFile = "/readme.txt"; },
       "refused by the service", false},
      {"larger than a CD", [](FolderImageMakerTest& t) { t.service.reportedSize = 737280001; }, "more than a CD holds",
       false},
      {"stream breaks midway", [](FolderImageMakerTest& t) { t.service.failAt = 3 * 65536; },
       "the device stopped answering", false},
      {"hidden path not in the source",
       [](FolderImageMakerTest& t) {
         t.options.hide = {"readme.txt", "Docs/deep/nothere"};
       },
       "--hide Docs/deep/nothere: not in the source folder", true},
      // The double's bytes are no image, so the entries cannot be hidden once it is written.
      {"hidden in what is no image", [](FolderImageMakerTest& t) { t.options.hide = {"Docs"}; },
       "the image cannot be opened to hide entries in it", false},
      {"stream ends early", [](FolderImageMakerTest& t) { t.service.reportedSize = t.service.imageBytes + 2048; },
       "the image ended after", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    writeFile(m_dir / "out.iso", "old image");
    c.arrange(*this);
    std::string error;
    EXPECT_FALSE(make(&error));
    EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(service.calls.empty(), c.serviceUntouched);
    const std::vector<uint8_t> old = umbra::test::readBytes(m_dir / "out.iso");
    EXPECT_EQ(std::string(old.begin(), old.end()), "old image");
    std::vector<std::string> names = leftovers();
    std::erase(names, "no.bin");
    std::erase(names, "folder.iso");
    EXPECT_EQ(names, std::vector<std::string>{"out.iso"});
  }
}

// --hide on every system: the entries are hidden in the image the maker hands back, before it takes
// the target's name. Here the maker hands back a plain ISO 9660 image of the source's folders and
// its file, upper-case names as IMAPI2FS writes them.
TEST_F(FolderImageMakerTest, HiddenEntriesAreHiddenInTheImageTheMakerHandsBack) {
  using umbra::test::MiniIso;
  constexpr uint32_t kDocs = 21, kDeep = 22;
  MiniIso iso;
  iso.basicLayout();
  const uint32_t docsAt = iso.startDirectory(MiniIso::kRootSector, 2048, MiniIso::kRootSector);
  const uint32_t readmeAt = docsAt + iso.dirRecord(MiniIso::kRootSector, docsAt, "DOCS", kDocs, 2048, 2);
  iso.dirRecord(MiniIso::kRootSector, readmeAt, "README.TXT;1", 30, 5, 0);
  const uint32_t deepAt = iso.startDirectory(kDocs, 2048, MiniIso::kRootSector);
  iso.dirRecord(kDocs, deepAt, "DEEP", kDeep, 2048, 2);
  iso.startDirectory(kDeep, 2048, kDocs);
  iso.addPathRecord("DOCS", kDocs, 1);
  iso.addPathRecord("DEEP", kDeep, 2);
  // The flags byte of each record.
  const size_t readmeFlags = MiniIso::kRootSector * 2048 + readmeAt + 25, deepFlags = kDocs * 2048 + deepAt + 25;
  std::memcpy(iso.sector(30), "hello", 5);
  service.image = iso.bytes();
  options.hide = {"Docs/deep", "readme.txt"};

  std::string error;
  FolderImageMaker maker(options, service, progress);
  ASSERT_TRUE(maker.make(&error)) << error;
  EXPECT_TRUE(maker.hidFiles());
  EXPECT_EQ(leftovers(), std::vector<std::string>{"out.iso"});
  const std::vector<uint8_t> made = umbra::test::readBytes(m_dir / "out.iso");
  ASSERT_EQ(made.size(), service.image.size());
  EXPECT_EQ(made[deepFlags], 7);    // Existence, Directory, Associated File
  EXPECT_EQ(made[readmeFlags], 5);  // Existence, Associated File
  // Nothing else changed but the application stamp in the primary descriptor.
  for (size_t i = 0; i < made.size(); ++i) {
    if (made[i] != service.image[i] && i != deepFlags && i != readmeFlags) {
      EXPECT_TRUE(i >= 0x8000 + 446 && i < 0x8000 + 702) << "byte " << i << " differs";
    }
  }
}

// ISO 9660 holds 8 levels of folders, the root included. A maker that keeps to that (IMAPI2FS, which
// has no setting that lifts it) takes a folder 7 names below the root and has one more refused by
// name before the image is made; a maker without the limit (libisofs) takes the deeper tree.
TEST_F(FolderImageMakerTest, FolderLevelsAreLimitedOnlyWhereTheMakerLimitsThem) {
  const auto deepest = [this] {
    fs::path folder = m_dir / "src";
    for (const char* name : {"1", "2", "3", "4", "5", "6", "7"}) folder /= name;
    return folder;
  };
  fs::create_directories(deepest());
  std::string error;
  EXPECT_TRUE(make(&error)) << error;
  SetUp();
  fs::create_directories(deepest() / "8");
  EXPECT_FALSE(make(&error));
  EXPECT_EQ(error, umbra::utf8FromPath(deepest() / "8") +
                       ": the folder would be level 9 of the image; ISO 9660 as the system's image maker "
                       "(IMAPI2FS) writes it holds at most 8 levels");
  EXPECT_EQ(std::count(service.calls.begin(), service.calls.end(), "create"), 0);
  SetUp();
  fs::create_directories(deepest() / "8");
  service.limitsGiven = {"libisofs", true, 0};
  EXPECT_TRUE(make(&error)) << error;
  EXPECT_EQ(std::count(service.calls.begin(), service.calls.end(), "folder /1/2/3/4/5/6/7/8"), 1);
}

// The temporary image is created only where no file is: one already there (another run's) is
// neither truncated nor removed, and the run stops with the system's reason.
TEST_F(FolderImageMakerTest, AFileWhereTheTemporaryImageGoesIsLeftAlone) {
  const fs::path temp = m_dir / cdimage::tempImageName(cdimage::currentProcessId());
  writeFile(temp, "another run");
  std::string error;
  EXPECT_FALSE(make(&error));
  EXPECT_EQ(error.rfind(umbra::utf8FromPath(m_dir / "out.iso") + ": cannot write: ", 0), 0u) << error;
  const std::vector<uint8_t> kept = umbra::test::readBytes(temp);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "another run");
  EXPECT_FALSE(fs::exists(m_dir / "out.iso"));
}

// What a file became, as the message says it: another file in its place says more than its size,
// and a size that moved says more than its times.
TEST(SourceCheck, OneLineNamesEachFileAndWhatBecameOfIt) {
  const cdimage::FileState before{4096, 100, 100, 1, 7};
  const auto with = [&](auto change) {
    cdimage::FileState after = before;
    change(after);
    return cdimage::describeChange(before, after, cdimage::Moment::WhileRead);
  };
  EXPECT_EQ(with([](auto&) {}), "");
  EXPECT_EQ(with([](auto& s) { s.size = 1234567; }), "grew from 4,096 to 1,234,567 bytes while it was read");
  EXPECT_EQ(with([](auto& s) { s.size = 23; }), "shrank from 4,096 to 23 bytes while it was read");
  EXPECT_EQ(with([](auto& s) { s.modified = 101; }), "was changed while it was read");
  EXPECT_EQ(with([](auto& s) { s.changed = 101; }), "was changed while it was read");
  EXPECT_EQ(with([](auto& s) {
              s.index = 8;
              s.size = 1;
            }),
            "was replaced by another file while it was read");
  EXPECT_EQ(cdimage::describeShortRead(23, 4096), "read 23 of 4,096 bytes");

  cdimage::SourceProblems problems;
  EXPECT_TRUE(problems.empty());
  const size_t files = cdimage::SourceProblems::kNamedFiles + 2;
  for (size_t i = 0; i < files; ++i) problems.add("f" + std::to_string(i), "read 0 of 1 bytes");
  const std::string message = problems.message();
  EXPECT_EQ(message.find('\n'), std::string::npos);
  EXPECT_NE(message.find("f0: read 0 of 1 bytes; f1: read 0 of 1 bytes; "), std::string::npos) << message;
  EXPECT_NE(message.find("f9: read 0 of 1 bytes; and 2 more files like these; the image was not written, since it "
                         "would not hold these files as they are"),
            std::string::npos)
      << message;
  EXPECT_EQ(message.find("f10"), std::string::npos) << message;
}

TEST(ImapiVolumeName, AtMostFifteenLettersDigitsDotsAndUnderscores) {
  struct Case {
    const char* label;
    const char* name;
  };
  for (const Case& c : {Case{"My Disc", "My_Disc"}, Case{"BACKUP_2005.v1", "BACKUP_2005.v1"},
                        Case{"A label longer than 15", "A_label_longer_"}, Case{"Caf\xC3\xA9 \xE5\x85\x89", "Caf___"},
                        Case{"", ""}, Case{"a/b\\c:d*e", "a_b_c_d_e"}}) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(cdimage::imapiVolumeName(c.label), c.name);
    EXPECT_EQ(cdimage::imapiVolumeNameNote(c.label).empty(), std::string(c.label) == c.name);
  }
  EXPECT_EQ(cdimage::imapiVolumeNameNote("My Disc"),
            "the volume label \"My Disc\" is written as \"My_Disc\" (at most 15 letters, digits, '.' and '_'; "
            "other characters become '_')");
}

#ifndef _WIN32
// Hands every call on to the libisofs maker, and changes one source file once the walk has checked
// it, just before the image is produced.
class ChangesAFileBeforeCreate : public FileSystemImage {
 public:
  ChangesAFileBeforeCreate(FileSystemImage& inner, std::function<void()> change)
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
  std::unique_ptr<ImageStream> create(std::string* error) override {
    m_change();
    return m_inner.create(error);
  }

 private:
  FileSystemImage& m_inner;
  std::function<void()> m_change;
};

// libisofs reads the source files only while it produces the image: a file that is removed,
// replaced or changed after the walk took its state fails the run with the file's name and what
// became of it, and no image is left with zeros or other bytes in the file's place.
TEST_F(FolderImageMakerTest, LibisofsMakerRefusesAFileThatChangedBeforeItWasRead) {
  struct Case {
    const char* what;
    std::function<void(const fs::path& file)> change;
    const char* happened;
  };
  const Case cases[] = {
      {"removed", [](const fs::path& file) { fs::remove(file); }, "was removed before it was read"},
      {"grown", [](const fs::path& file) { fs::resize_file(file, 300010); },
       "grew from 300,000 to 300,010 bytes before it was read"},
      {"cut", [](const fs::path& file) { fs::resize_file(file, 0); },
       "shrank from 300,000 to 0 bytes before it was read"},
      {"replaced",
       [](const fs::path& file) {
         writeFile(file.parent_path() / "other.bin", std::string(300000, 'q'));
         fs::rename(file.parent_path() / "other.bin", file);
       },
       "was replaced by another file before it was read"},
      {"rewritten",
       [](const fs::path& file) { fs::last_write_time(file, fs::last_write_time(file) + std::chrono::hours(1)); },
       "was changed before it was read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const fs::path file = m_dir / "src" / "Docs" / "large.bin";
    writeFile(file, std::string(300000, 'q'));
    writeFile(m_dir / "out.iso", "old image");
    std::string error;
    const auto libisofs = cdimage::LibisofsFileSystemImage::open(false, options.time, &error);
    ASSERT_TRUE(libisofs) << error;
    ChangesAFileBeforeCreate maker(*libisofs, [&] { c.change(file); });
    FolderImageMaker run(options, maker, progress);
    EXPECT_FALSE(run.make(&error));
    EXPECT_EQ(error, umbra::utf8FromPath(file) + ": " + c.happened +
                         "; the image was not written, since it would not hold this file as it is");
    EXPECT_EQ(umbra::test::readBytes(m_dir / "out.iso").size(), 9u);  // "old image", as it was
    EXPECT_EQ(leftovers(), std::vector<std::string>{"out.iso"});
  }
}
#endif

#ifdef _WIN32
// Under wine there is no IMAPI2FS: cdimage.exe says so on one line and exits 1, and an option it
// cannot honour is refused first, the same way on every machine.
TEST(CdImageWithoutService, SaysSoOnOneLineAndExitsOne) {
  const std::string program = umbra::test::builtProgram("cdimage");
  if (!std::getenv("UMBRA_BIN_DIR") || !fs::exists(program)) GTEST_SKIP() << "runs only under wine";
  TempDir dir;
  fs::create_directories(dir / "src");
  writeFile(dir / "src" / "a.txt", "a");
  const std::string cdimage = umbra::test::quote(program);
  const std::string src = umbra::test::quote((dir / "src").string());
  const std::string out = umbra::test::quote((dir / "out.iso").string());
  const std::string err = umbra::test::quote((dir / "err.txt").string());
  struct Case {
    std::string options;
    const char* message;
    int lines;
  };
  for (const Case& c : {Case{"-lX -t -n -m", "cdimage: the system's image maker (IMAPI2FS) is not available: 0x", 1},
                        Case{"-lX -d -n -m", "cdimage: -d is not available here", 1},
                        // A label the system's maker cannot take is noted first, on its own line.
                        Case{"'-lMy Disc' -t -n -m", "cdimage: note: the volume label \"My Disc\" is written as \"My_Disc\"", 2}}) {
    SCOPED_TRACE(c.options);
    EXPECT_EQ(umbra::test::run(cdimage + " " + c.options + " " + src + " " + out + " 2>" + err), 1);
    const std::vector<uint8_t> bytes = umbra::test::readBytes(dir / "err.txt");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind(c.message, 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.lines) << text;
    EXPECT_FALSE(fs::exists(dir / "out.iso"));
  }
}
#endif

}  // namespace
