// cdimage end to end: images are read back with xorriso and isoinfo and compared with the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>

#include "TestImages.h"
#include "ToolRun.h"

namespace {

namespace fs = std::filesystem;
using namespace umbra::test;

// 04/20/2005,15:04:24 in EST5EDT (daylight time in April) is 19:04:24 UTC.
const char* const kZone = "TZ=EST5EDT,M3.2.0,M11.1.0";
const char* const kTimeStamp = "-t04/20/2005,15:04:24";
constexpr std::int64_t kTimeStampUtc = 1114023864;
const std::string kLabel = "My \"Label\"";

std::string cdimage() { return umbra::test::builtProgram("cdimage"); }

std::string readFile(const fs::path& path) {
  const std::vector<uint8_t> bytes = readBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

ToolResult makeImage(const std::vector<std::string>& args) { return runTool(cdimage(), args, {kZone}); }

// One entry of a folder tree: "d" for a folder, else the file content.
std::map<std::string, std::string> treeOf(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    tree[relative] = entry.is_directory() ? "d" : "f:" + readFile(entry.path());
  }
  return tree;
}

std::vector<std::string> leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".part") != std::string::npos) names.push_back(name);
  }
  return names;
}

std::string extract(const fs::path& image, const fs::path& into) {
  const ToolResult r = runTool(xorriso(), {"-indev", image.string(), "-osirrox", "on", "-extract", "/", into.string()});
  return r.exitCode == 0 ? std::string() : r.err;
}

// A UTF-8 name as isoinfo prints a Joliet name: in Latin-1, any other character as '_'.
std::string asIsoinfoPrintsJoliet(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
      codePoint = (codePoint << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    out += codePoint < 0x100 ? static_cast<char>(codePoint) : '_';
    i += length;
  }
  return out;
}

class CdImageMaker : public ::testing::Test {
 protected:
  void SetUp() override {
    m_source = m_temp.path() / "source";
    // Mixed case, dotted, long (the 103-character Joliet limit), non-ASCII, deep and empty.
    writeFile(m_source / "ReadMe.TXT", "read me\n");
    writeFile(m_source / "MixedCase Folder" / "lower.txt", "lower");
    writeFile(m_source / "archive.tar.gz", std::string(5000, 'z'));
    writeFile(m_source / ".hidden", "dot file");
    writeFile(m_source / "no extension", "");
    writeFile(m_source / "v1.2.3" / "notes.md", "dotted folder");
    writeFile(m_source / (std::string(99, 'L') + ".txt"), "longest name");
    writeFile(m_source / "Über Ordner" / "日本語ファイル.txt", "non-ASCII");
    writeFile(m_source / "😀 smile.txt", "outside the basic plane");
    fs::path deep = m_source;
    for (char c = 'a'; c <= 'l'; ++c) deep /= std::string(1, c) + " level";
    writeFile(deep / "deep file.bin", std::string("\0\1\2\3", 4) + std::string(70000, 'q'));
    fs::create_directories(m_source / "empty");
    m_image = m_temp.path() / "out.iso";
  }

  TempDir m_temp;
  fs::path m_source;
  fs::path m_image;
};

TEST_F(CdImageMaker, JolietTreeHoldsTheSourceExactlyWithLabelAndTimes) {
  const ToolResult r = makeImage({"-l" + kLabel, kTimeStamp, "-d", "-n", "-m", m_source.string(), m_image.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(leftovers(m_temp.path()).empty());

  const fs::path extracted = m_temp.path() / "extracted";
  ASSERT_EQ(extract(m_image, extracted), "");
  EXPECT_EQ(treeOf(extracted), treeOf(m_source));

  // Without Rock Ridge xorriso restores the directory records' times.
  for (const auto& entry : fs::recursive_directory_iterator(extracted)) {
    const auto mtime = std::chrono::file_clock::to_sys(entry.last_write_time());
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(mtime.time_since_epoch()).count(), kTimeStampUtc)
        << entry.path();
  }

  const ToolResult pvd = runTool(xorriso(), {"-indev", m_image.string(), "-pvd_info"});
  EXPECT_NE(pvd.out.find("Volume Id    : " + kLabel + "\n"), std::string::npos) << pvd.out;
  // The volume times are written in UTC.
  EXPECT_NE(pvd.out.find("Creation Time: 2005042019042400"), std::string::npos) << pvd.out;
  EXPECT_NE(pvd.out.find("Modif. Time  : 2005042019042400"), std::string::npos) << pvd.out;
}

TEST_F(CdImageMaker, OptionsDecideTheIso9660Names) {
  const std::string longName = std::string(27, 'L');  // 31 characters with ".TXT"
  struct Case {
    std::vector<std::string> flags;
    std::vector<std::string> isoPaths;  // ReadMe.TXT, MixedCase Folder and the long name
  };
  const Case cases[] = {
      {{"-d", "-n", "-m"}, {"/ReadMe.TXT;1", "/MixedCase_Folder", "/" + longName + ".txt;1"}},
      {{"-n"}, {"/README.TXT;1", "/MIXEDCASE_FOLDER", "/" + longName + ".TXT;1"}},
      {{}, {"/README.TXT;1", "/MIXEDCAS", "/LLLLLLLL.TXT;1"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"-lx", kTimeStamp};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    args.push_back(m_source.string());
    args.push_back(m_image.string());
    const ToolResult r = makeImage(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const ToolResult listing = runTool("isoinfo", {"-f", "-i", m_image.string()});
    for (const std::string& path : c.isoPaths) {
      EXPECT_NE(listing.out.find(path + "\n"), std::string::npos) << path << "\n" << listing.out;
    }
    // Joliet keeps the names whatever the ISO 9660 options are.
    fs::path extracted = m_temp.path() / "x";
    extracted += std::to_string(c.flags.size());  // not "x" + temporary: GCC 12 -O3 misreads it
    ASSERT_EQ(extract(m_image, extracted), "");
    EXPECT_EQ(treeOf(extracted), treeOf(m_source));
  }
}

// --hide gives the image that making it and then hiding the same entries with umbradisc-cli gives:
// the same bytes but the application stamp, with the Existence and Associated File bits (and the
// Directory bit of a folder) on the entry's records in both trees, under either kind of ISO 9660 name.
TEST_F(CdImageMaker, HiddenWhileMadeIsMadeThenHidden) {
  struct Entry {
    const char* path;  // in the source folder
    unsigned flags;    // 7 for a folder, 5 for a file
  };
  const Entry entries[] = {
      {"MixedCase Folder", 7},
      {"a level/b level/c level", 7},  // nested, under folders left in view
      {"ReadMe.TXT", 5},
      {"Über Ordner/日本語ファイル.txt", 5},
  };
  // The primary volume descriptor's data preparer and application fields, where the stamp goes.
  constexpr uint64_t kStampBegin = 0x8000 + 446, kStampEnd = 0x8000 + 702;
  const std::string hideTool = umbra::test::builtProgram("umbradisc-cli");
  for (const std::vector<std::string>& names : {std::vector<std::string>{}, std::vector<std::string>{"-d", "-n"}}) {
    SCOPED_TRACE(names.empty() ? "8.3 names" : "-d -n");
    std::vector<std::string> args{"-lx", kTimeStamp};
    args.insert(args.end(), names.begin(), names.end());
    std::vector<std::string> plainArgs = args;
    std::vector<std::string> hideArgs{"hide", (m_temp.path() / "then-hidden.iso").string()};
    for (const Entry& e : entries) {
      args.insert(args.end(), {"--hide", e.path});
      hideArgs.push_back(std::string("/") + e.path);
    }
    args.insert(args.end(), {"--hide", "ReadMe.TXT/"});  // one entry named twice is hidden once
    args.insert(args.end(), {m_source.string(), m_image.string()});
    const ToolResult r = makeImage(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "100\n");
    EXPECT_NE(r.err.find("cdimage: note: A hidden file is out of reach on Windows"), std::string::npos) << r.err;
    EXPECT_TRUE(leftovers(m_temp.path()).empty());

    // Every record isoinfo finds hidden, in the ISO 9660 tree (by its Rock Ridge names) and in Joliet.
    using Hidden = std::vector<std::pair<std::string, unsigned>>;
    for (const bool joliet : {false, true}) {
      Hidden expected;
      for (const Entry& e : entries) {
        const std::string path = std::string("/") + e.path;
        expected.emplace_back(joliet ? asIsoinfoPrintsJoliet(path) : path, e.flags);
      }
      std::sort(expected.begin(), expected.end());
      Hidden hidden;
      for (const IsoinfoEntry& e : isoinfoList(m_image, joliet, !joliet)) {
        std::string name = e.name;
        if (joliet && name.size() > 2 && name.substr(name.size() - 2) == ";1") name.resize(name.size() - 2);
        if ((e.flags & 1) && !name.empty() && name != "." && name != "..")
          hidden.emplace_back(e.directory + name, e.flags);
      }
      std::sort(hidden.begin(), hidden.end());
      EXPECT_EQ(hidden, expected) << (joliet ? "Joliet" : "ISO 9660");
    }

    const fs::path plain = m_temp.path() / "plain.iso";
    plainArgs.insert(plainArgs.end(), {m_source.string(), plain.string()});
    ASSERT_EQ(makeImage(plainArgs).exitCode, 0);
    fs::copy_file(plain, hideArgs[1], fs::copy_options::overwrite_existing);
    const ToolResult hid = runTool(hideTool, hideArgs);
    ASSERT_EQ(hid.exitCode, 0) << hid.err;
    for (const uint64_t at : differingBytes(m_image, hideArgs[1]))
      EXPECT_TRUE(at >= kStampBegin && at < kStampEnd) << "byte " << at << " differs";
    EXPECT_FALSE(differingBytes(m_image, plain).empty());
  }
}

TEST_F(CdImageMaker, BootImageGetsAnElToritoCatalogAndStaysOutOfTheTrees) {
  const fs::path boot = m_temp.path() / "boot.bin";
  std::string bootBytes(3000, '\0');
  for (size_t i = 0; i < bootBytes.size(); ++i) bootBytes[i] = static_cast<char>(i * 7 + 1);
  writeFile(boot, bootBytes);
  const ToolResult r =
      makeImage({"-lBoot", kTimeStamp, "-b" + boot.string(), "-d", "-n", "-m", m_source.string(), m_image.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;

  const ToolResult report = runTool(xorriso(), {"-indev", m_image.string(), "-report_el_torito", "plain"});
  // Entry 1: BIOS, bootable, no emulation, segment 0, 3000 bytes = 6 sectors of 512, at LBA.
  const std::regex entry(R"(El Torito boot img :\s+1\s+BIOS\s+y\s+none\s+0x0000\s+0x00\s+6\s+(\d+))");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(report.out, match, entry)) << report.out << report.err;
  EXPECT_NE(report.out.find("El Torito catalog"), std::string::npos);
  const std::string image = readFile(m_image);
  const size_t offset = std::stoul(match[1].str()) * 2048;
  ASSERT_LE(offset + bootBytes.size(), image.size());
  EXPECT_EQ(image.substr(offset, bootBytes.size()), bootBytes);

  const fs::path extracted = m_temp.path() / "extracted";
  ASSERT_EQ(extract(m_image, extracted), "");
  EXPECT_EQ(treeOf(extracted), treeOf(m_source));  // no boot image or catalog in the folders
}

TEST_F(CdImageMaker, ProgressIsWholePercentagesUpTo100) {
  const ToolResult r = makeImage({"-lx", kTimeStamp, "-d", "-n", "-m", m_source.string(), m_image.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<int> values;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    ASSERT_TRUE(std::regex_match(line, std::regex("[0-9]{1,3}"))) << line;
    values.push_back(std::stoi(line));
  }
  ASSERT_FALSE(values.empty());
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_EQ(values.front(), 0);
  EXPECT_EQ(values.back(), 100);
}

TEST_F(CdImageMaker, FailuresLeaveNoTargetAndKeepAnOldOne) {
  const fs::path sizable = m_temp.path() / "sizable";
  fs::create_directories(sizable);
  fs::resize_file((writeFile(sizable / "large.bin", ""), sizable / "large.bin"),
                  740'000'000);  // sparse; more than an 80-minute CD
  const fs::path odd = m_temp.path() / "odd";
  writeFile(odd / "a:b.txt", "x");
  const fs::path dotted = m_temp.path() / "dotted";
  writeFile(dotted / "trailing.", "x");
  const fs::path tooLong = m_temp.path() / "toolong";
  writeFile(tooLong / (std::string(100, 'N') + ".txt"), "x");
  const fs::path dangling = m_temp.path() / "dangling";
  fs::create_directories(dangling);
  fs::create_symlink(m_temp.path() / "nowhere", dangling / "link");
  const fs::path empties = m_temp.path() / "empties";
  writeFile(empties / "docs" / "empty-file-one.txt", "");
  writeFile(empties / "docs" / "empty-file-two.txt", "");
  const fs::path folderTarget = m_temp.path() / "folder.iso";
  fs::create_directories(folderTarget);

  struct Case {
    const char* what;
    std::vector<std::string> options;
    fs::path source;
    fs::path target;
    const char* messagePart;
  };
  const fs::path target = m_image;
  const Case cases[] = {
      {"missing source", {}, m_temp.path() / "nosuch", target, "nosuch"},
      {"source is a file", {}, m_source / "ReadMe.TXT", target, "not a folder"},
      {"target folder missing", {}, m_source, m_temp.path() / "no" / "out.iso", "cannot write"},
      {"target is a folder", {}, m_source, folderTarget, "is a folder"},
      {"bad time", {"-t02/30/2005,00:00:00"}, m_source, target, "bad time stamp"},
      {"unreadable entry", {}, dangling, target, "cannot read"},
      {"missing boot file", {"-b" + (m_temp.path() / "noboot.bin").string()}, m_source, target, "noboot.bin"},
      {"name Joliet cannot hold", {}, odd, target, "a:b.txt"},
      {"name ending in a dot", {}, dotted, target, "trailing."},
      {"name too long", {}, tooLong, target, "longer than 103"},
      {"larger than a CD", {"-d", "-n"}, sizable, target, "more than a CD holds"},
      // Each --hide path is checked against the source before the image is made.
      {"hidden path not in the source",
       {"--hide", "Photos/2021"},
       m_source,
       target,
       "--hide Photos/2021: not in the source folder"},
      {"hidden path leaving the source", {"--hide", "../source/ReadMe.TXT"}, m_source, target, "without . or .."},
      {"hidden root", {"--hide", "/"}, m_source, target, "the root folder cannot be hidden"},
      // Refused once the image is made: empty files share their data, and Joliet keeps no Rock
      // Ridge name that could tell them apart.
      {"hidden entry refused",
       {"--hide", "docs/empty-file-two.txt"},
       empties,
       target,
       "--hide docs/empty-file-two.txt: cannot be hidden: No twin of this file could be proven"},
  };
  for (const Case& c : cases) {
    writeFile(target, "old image");
    std::vector<std::string> args{"-lx"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.source.string());
    args.push_back(c.target.string());
    const ToolResult r = makeImage(args);
    EXPECT_EQ(r.exitCode, 1) << c.what;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.messagePart), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(readFile(target), "old image") << c.what;
    EXPECT_TRUE(fs::is_directory(folderTarget)) << c.what;
    EXPECT_TRUE(leftovers(m_temp.path()).empty()) << c.what;
  }
}

TEST_F(CdImageMaker, TargetsThatWouldReplaceTheSourceAreRefused) {
  // A second source whose link leads to a file outside it: that file is read into the image too.
  const fs::path outside = m_temp.path() / "outside.txt";
  writeFile(outside, "reached through a link");
  const fs::path linked = m_temp.path() / "linked";
  writeFile(linked / "plain.txt", "plain");
  fs::create_symlink(outside, linked / "outside link.txt");
  fs::create_directory_symlink(m_source, m_temp.path() / "source link");
  const fs::path boot = m_temp.path() / "boot.bin";
  writeFile(boot, std::string(2048, 'b'));

  struct Case {
    const char* what;
    fs::path source;
    fs::path target;
    std::vector<std::string> options;
    const char* messagePart;  // nullptr: the image is made
  };
  const Case cases[] = {
      {"new file inside the source", m_source, m_source / "v1.2.3" / "out.iso", {}, "inside the source"},
      {"a source file", m_source, m_source / "ReadMe.TXT", {}, "inside the source"},
      {"the source folder", m_source, m_source, {}, "is the source folder"},
      {"a source file through ..", m_source, m_source / "empty" / ".." / "ReadMe.TXT", {}, "inside the source"},
      {"a source file through a linked folder",
       m_source,
       m_temp.path() / "source link" / "MixedCase Folder" / "lower.txt",
       {},
       "inside the source"},
      {"the source through a linked folder", m_temp.path() / "source link", m_source, {}, "is the source folder"},
      {"a file the source links to", linked, outside, {}, "a file of the source"},
      {"the boot file", linked, boot, {"-b" + boot.string()}, "the boot file"},
      {"an existing file outside the source", m_source, m_image, {}, nullptr},
  };
  writeFile(m_image, "old image");
  for (const Case& c : cases) {
    const auto before = treeOf(m_temp.path());
    std::vector<std::string> args{"-lx", kTimeStamp};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(c.source.string());
    args.push_back(c.target.string());
    const ToolResult r = makeImage(args);
    const auto after = treeOf(m_temp.path());
    if (!c.messagePart) {
      EXPECT_EQ(r.exitCode, 0) << c.what << ": " << r.err;
      EXPECT_NE(readFile(m_image), "old image") << c.what;
      EXPECT_EQ(after.size(), before.size()) << c.what;
      continue;
    }
    EXPECT_EQ(r.exitCode, 1) << c.what;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.messagePart), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(after, before) << c.what;  // every file and folder as it was, nothing added
  }
}

// A write that fails while --hide hides the entries in the finished image stops the run: no target,
// no temporary file, and a line that says what failed without the repair advice meant for an image
// that stays.
TEST_F(CdImageMaker, AFailedWriteOfTheHiddenEntriesLeavesNoImage) {
  const char* shim = std::getenv("UMBRA_FAILING_WRITES");
  if (!shim) GTEST_SKIP() << "no write-failure shim in this build (sanitizers or Windows)";
  writeFile(m_source / "docs" / "d.txt", "to be hidden");
  struct Case {
    const char* fault;
    const char* messagePart;
  } cases[] = {
      // Write 1 is the volume descriptor's stamp, 2 the folder's ISO 9660 record, 3 its Joliet record.
      {"UMBRA_FAIL_PWRITE_FROM=1", "Cannot write the volume descriptor: Input/output error"},
      {"UMBRA_FAIL_PWRITE_FROM=2", "Could not write /DOCS in the ISO 9660 tree: Input/output error"},
      {"UMBRA_FAIL_PWRITE_FROM=3", "Could not write /DOCS in the Joliet tree: Input/output error"},
      {"UMBRA_FAIL_FDATASYNC=1", "The image could not be flushed to the disk (Input/output error)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    writeFile(m_image, "old image");
    const ToolResult r = runTool(cdimage(), {"-lx", "--hide", "docs", m_source.string(), m_image.string()},
                                 {std::string("LD_PRELOAD=") + shim, c.fault});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("cdimage: the entries could not be hidden, so no image was made: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.messagePart), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("again"), std::string::npos) << "no advice for a file that is gone: " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(readFile(m_image), "old image");
    EXPECT_TRUE(leftovers(m_temp.path()).empty());
  }
}

// A source file that changes, vanishes or reads short while cdimage reads it stops the image: the
// shim (SourceFaults.c) makes it misbehave from its first read on. The message names each such
// file and what became of it; no target is left and an old one stays as it was.
TEST_F(CdImageMaker, AFileThatChangesWhileItIsReadStopsTheImage) {
  const char* shim = std::getenv("UMBRA_SOURCE_FAULTS");
  if (!shim) GTEST_SKIP() << "no source fault shim in this build (sanitizers or Windows)";
  const std::string content(4096, 'c');
  writeFile(m_source / "first.bin", content);
  writeFile(m_source / "MixedCase Folder" / "second.bin", content);
  // Times well before the run, so that a rewrite of the same size shows in the modification time.
  for (const char* name : {"first.bin", "MixedCase Folder/second.bin"})
    fs::last_write_time(m_source / name, fs::last_write_time(m_source / name) - std::chrono::hours(1));
  const std::string first = (m_source / "first.bin").string();
  const std::string second = (m_source / "MixedCase Folder" / "second.bin").string();

  const fs::path boot = m_temp.path() / "boot.bin";
  writeFile(boot, std::string(3000, 'b'));
  struct Case {
    const char* fault;
    const char* files;
    std::vector<std::string> messageParts;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"short:23", "first.bin", {first + ": read 23 of 4,096 bytes"}, {}},
      {"grow:100", "first.bin", {first + ": grew from 4,096 to 4,196 bytes while it was read"}, {}},
      {"vanish", "first.bin", {first + ": was removed while it was read"}, {}},
      {"rewrite", "first.bin", {first + ": was changed while it was read"}, {}},
      {"short:0", "first.bin/second.bin", {first + ": read 0 of 4,096 bytes", second + ": read 0 of 4,096 bytes"}, {}},
      {"short:100", "boot.bin", {boot.string() + ": read 100 of 3,000 bytes"}, {"-b" + boot.string()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    writeFile(m_source / "first.bin", content);  // as it was before the last case's fault
    fs::last_write_time(m_source / "first.bin", fs::last_write_time(m_source / "first.bin") - std::chrono::hours(1));
    writeFile(m_image, "old image");
    std::vector<std::string> args{"-lx", kTimeStamp, "-d", "-n", "-m"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(m_source.string());
    args.push_back(m_image.string());
    const ToolResult r = runTool(cdimage(), args,
                                 {kZone, std::string("LD_PRELOAD=") + shim, std::string("UMBRA_FAULT=") + c.fault,
                                  std::string("UMBRA_FAULT_FILES=") + c.files});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    for (const std::string& part : c.messageParts) EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the image was not written"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(m_image), "old image");
    EXPECT_TRUE(leftovers(m_temp.path()).empty());
  }

  // The same run without a fault makes the image, with the files whole.
  writeFile(m_source / "first.bin", content);
  const ToolResult r = makeImage({"-lx", kTimeStamp, "-d", "-n", "-m", m_source.string(), m_image.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const fs::path extracted = m_temp.path() / "extracted";
  ASSERT_EQ(extract(m_image, extracted), "");
  EXPECT_EQ(treeOf(extracted), treeOf(m_source));
}

// Files under /sys say 4,096 bytes and give a few: read through a link in the source, such a file
// stops the image instead of being written padded with zeros.
TEST_F(CdImageMaker, AFileThatSaysMoreBytesThanItHoldsStopsTheImage) {
  const fs::path sysfsFile = "/sys/kernel/mm/transparent_hugepage/enabled";
  std::error_code ec;
  if (fs::file_size(sysfsFile, ec) != 4096 || readFile(sysfsFile).size() >= 4096)
    GTEST_SKIP() << sysfsFile << " is not here or is as long as its size says";
  const fs::path link = m_source / "enabled";
  fs::create_symlink(sysfsFile, link);
  const ToolResult r = makeImage({"-lx", kTimeStamp, "-d", "-n", "-m", m_source.string(), m_image.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(link.string() + ": read " + std::to_string(readFile(sysfsFile).size()) + " of 4,096 bytes"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(m_image));
  EXPECT_TRUE(leftovers(m_temp.path()).empty());
}

TEST(CdImageHelp, DescribesEveryOption) {
  const ToolResult r = runTool(cdimage(), {"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* option :
       {"-lLABEL", "-tMM/DD/YYYY,HH:MM:SS", "-bFILE", "-d ", "-n ", "-m ", "--hide PATH", "--version"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
  const ToolResult version = runTool(cdimage(), {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(std::regex_match(version.out, std::regex("cdimage [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

}  // namespace
