// ISO 9660 and Joliet records are twins by identity, never by position: the two trees sort
// their names differently.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "TestImages.h"
#include "engine/Workspace.h"

namespace umbra {
namespace {

using namespace test;

class FolderPairing : public ::testing::TestWithParam<Maker> {
 protected:
  void SetUp() override {
    makeMixedTree(dir / "src");
    image = makeImage(GetParam(), dir / "src", dir / "mixed.iso");
  }
  TempDir dir;
  fs::path image;
};

TEST_P(FolderPairing, TreeNamesEveryFolderWithItsJolietTwin) {
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  std::map<std::string, std::string> twins;
  for (int i = 0; i < static_cast<int>(ws.folders().size()); ++i)
    twins[ws.folders().node(i).name] = ws.folders().nameIn(i, 1);
  const std::map<std::string, std::string> expected = {
      {"", ""}, {"ALPHA", "alpha"}, {"BETA", "Beta"}, {"ZETA", "Zeta"}, {"EMPTY", "empty"},
      {"INNER", "inner"}, {"DEEP", "deep"}, {"GAMMA.DIR", "gamma.dir"}};
  EXPECT_EQ(twins, expected);
  EXPECT_EQ(ws.folders().pathOf(ws.folders().node(ws.folders().node(0).children[1]).children[0]), "/BETA/INNER");
  for (const CFolderNode& node : ws.folders().nodes()) EXPECT_TRUE(node.unpairedIn.empty()) << node.name;
}

TEST_P(FolderPairing, HidingBetaHidesTheJolietBetaAndNothingElse) {
  for (const char* folder : {"/Beta", "/alpha", "/Zeta", "/gamma.dir", "/Beta/inner/deep"}) {
    const fs::path copy = dir / "work.iso";
    fs::remove(copy);  // MinGW's copy_file refuses to overwrite
    fs::copy_file(image, copy);
    Workspace ws;
    ASSERT_FALSE(ws.open(copy.string(), OpenMode::Work));
    EntryRow row;
    ASSERT_FALSE(ws.findEntry(folder, row)) << folder;
    ASSERT_TRUE(row.isFolder);
    ASSERT_NE(row.offsetIn(1), 0u) << folder;
    EntryRow* rows[] = {&row};
    const WriteOutcome outcome = ws.setHidden(rows, true);
    ASSERT_FALSE(outcome.error) << outcome.error.message();
    ws.close();

    // Read back with isoinfo: exactly the named folder carries 07 in each tree.
    const std::string name = fs::path(folder).filename().string();
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (bool joliet : {false, true}) {
      int hiddenCount = 0;
      for (const IsoinfoEntry& e : isoinfoList(copy, joliet)) {
        if (e.flags != 7) continue;
        ++hiddenCount;
        EXPECT_EQ(e.name, joliet ? name : upper) << folder << (joliet ? " (Joliet)" : "");
      }
      EXPECT_EQ(hiddenCount, 1) << folder << (joliet ? " (Joliet)" : "");
    }
  }
}

TEST_P(FolderPairing, FilesPairByExtentAndEmptyFilesByName) {
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  EntryRow zeta;
  ASSERT_FALSE(ws.findEntry("/Zeta", zeta));
  FolderListing listing;
  ASSERT_FALSE(ws.listFolder(zeta.folderIndex, listing));
  ASSERT_EQ(listing.rows.size(), 2u);
  ASSERT_NE(listing.rows[0].recordIn(1), nullptr);
  ASSERT_NE(listing.rows[1].recordIn(1), nullptr);
  EXPECT_EQ(listing.rows[0].recordIn(1)->name.substr(0, 6), "empty1");
  EXPECT_EQ(listing.rows[1].recordIn(1)->name.substr(0, 6), "empty2");
  EXPECT_NE(listing.rows[0].offsetIn(1), listing.rows[1].offsetIn(1));
}

INSTANTIATE_TEST_SUITE_P(Makers, FolderPairing, ::testing::Values(Maker::Xorriso, Maker::Genisoimage),
                         [](const auto& param) { return std::string(makerName(param.param)); });

TEST(FolderPairingByContent, TruncatedAndMangledNamesPairByWhatTheyHold) {
  // Level-1 names cut long folder names to eight characters, so two of them collide and the
  // maker mangles one; their files still tell them apart.
  TempDir dir;
  writeFile(dir / "src" / "longfoldername_one" / "x.txt", "one\n");
  writeFile(dir / "src" / "longfoldername_two" / "y.txt", "two\n");
  writeFile(dir / "src" / "reports-2024" / "z.txt", "three\n");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "long.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  for (int child : ws.folders().node(0).children) {
    const CFolderNode& node = ws.folders().node(child);
    const std::string joliet = ws.folders().nameIn(child, 1);
    ASSERT_FALSE(joliet.empty()) << node.name;
    FolderListing listing;
    ASSERT_FALSE(ws.listFolder(child, listing));
    ASSERT_EQ(listing.rows.size(), 1u);
    const std::string expectedFile = joliet == "longfoldername_one" ? "x.txt"
                                     : joliet == "longfoldername_two" ? "y.txt"
                                                                      : "z.txt";
    ASSERT_NE(listing.rows[0].recordIn(1), nullptr);
    EXPECT_EQ(listing.rows[0].recordIn(1)->name.substr(0, 5), expectedFile) << node.name << " ~ " << joliet;
  }
}

TEST(FolderPairingByRockRidge, MangledNamesAndEmptyFilesPairByTheirOriginalNames) {
  // Level-1 names mangle these folders and files beyond recognition, the files are all empty
  // (one shared extent) and the folders hold nothing but them: only Rock Ridge names can tell.
  TempDir dir;
  for (int g = 0; g < 30; ++g) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02d", g);  // not "0" + temporary: GCC 12 -O3 misreads it (-Wrestrict)
    const std::string group = digits;
    for (const char* part : {"a", "b"})
      writeFile(dir / "src" / ("Group00" + group) / ("file_of_group_" + group + "_" + part + ".dat"), "");
  }
  for (Maker maker : {Maker::Xorriso, Maker::Genisoimage}) {
    const fs::path image = makeImage(maker, dir / "src", dir / (std::string(makerName(maker)) + ".iso"), true, "-R");
    Workspace ws;
    ASSERT_FALSE(ws.open(image.string(), OpenMode::Work)) << makerName(maker);
    ASSERT_EQ(ws.folders().size(), 31u);
    for (int child : ws.folders().node(0).children) {
      const CFolderNode& node = ws.folders().node(child);
      const std::string joliet = ws.folders().nameIn(child, 1);
      ASSERT_EQ(joliet.substr(0, 5), "Group") << makerName(maker) << " " << node.name;
      FolderListing listing;
      ASSERT_FALSE(ws.listFolder(child, listing));
      ASSERT_EQ(listing.rows.size(), 2u);
      for (const EntryRow& row : listing.rows) {
        ASSERT_NE(row.recordIn(1), nullptr) << row.name;
        EXPECT_EQ(row.recordIn(1)->name.substr(0, 16), "file_of_group_" + joliet.substr(7, 2))
            << makerName(maker) << " " << node.name << "/" << row.name;
      }
    }
    EntryRow folder;
    ASSERT_FALSE(ws.findEntry("/Group0017", folder));
    EntryRow* rows[] = {&folder};
    const WriteOutcome outcome = ws.setHidden(rows, true);
    EXPECT_FALSE(outcome.error) << outcome.error.message();
    ws.close();
    EXPECT_EQ(isoinfoFlags(image, true, "/", "Group0017"), 7u) << makerName(maker);
  }
}

}  // namespace
}  // namespace umbra

namespace umbra {
namespace {

using namespace test;

// Folders whose first eight letters collide: what each image proves, and that a hide either hides
// exactly the folder named, in every tree (read back by isoinfo and the UDF reference walker), or
// is refused with nothing written.
struct Hidden {
  std::set<std::string> iso, joliet, udf;  // Rock Ridge (else ISO 9660) names, Joliet names, UDF paths
  bool operator==(const Hidden&) const = default;
};

Hidden hiddenIn(const fs::path& image, bool rockRidge, bool udf) {
  Hidden h;
  for (const IsoinfoEntry& e : isoinfoList(image, false, rockRidge))
    if (e.flags & 1) h.iso.insert(e.directory + e.name);
  for (const IsoinfoEntry& e : isoinfoList(image, true))
    if (e.flags & 1) h.joliet.insert(e.directory + e.name);
  if (udf) {
    std::string out;
    EXPECT_EQ(run("/usr/bin/python3 " + quote(std::string(UMBRA_UDF_SCRIPTS) + "/udfwalk.py") + " " + quote(image.string()), &out), 0);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string path, characteristics;
      fields >> path >> characteristics;
      if (characteristics.rfind("0x", 0) == 0 && (std::stoul(characteristics, nullptr, 16) & 1)) h.udf.insert(path);
    }
  }
  return h;
}

struct Recipe {
  const char* name;
  const char* options;                         // genisoimage's
  bool filesInEach;                            // a file in each folder, or only in binutils-mingw-w64-i686
  std::vector<std::pair<const char*, int>> hides;  // path to hide, status (0 done, 5 refused)
};

TEST(FolderPairingByEvidence, EightLetterClashesHideTheFolderNamedOrNothing) {
  const Recipe recipes[] = {
      {"Rock Ridge names prove every twin", "-R -J -udf", false,
       {{"/binutils", 0}, {"/binutils-common", 0}, {"/binutils-mingw-w64-i686", 0}}},
      {"Rock Ridge, no UDF", "-R -J", false, {{"/binutils", 0}, {"/binutils-mingw-w64-i686", 0}}},
      // Without Rock Ridge, only the folder holding a file is proven: the others' ISO 9660 names
      // could come from any of the three.
      {"files prove one", "-J", false, {{"/binutils-mingw-w64-i686", 0}, {"/binutils", 5}, {"/binutils-common", 5}}},
      {"files prove one, with UDF", "-J -udf", false, {{"/binutils-mingw-w64-i686", 0}, {"/binutils", 5}}},
      {"files prove all", "-J -udf", true,
       {{"/binutils", 0}, {"/binutils-common", 0}, {"/binutils-mingw-w64-i686", 0}}},
  };
  for (const Recipe& r : recipes) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    for (const char* folder : {"binutils", "binutils-common", "binutils-mingw-w64-i686"}) {
      fs::create_directories(dir / "src" / folder);
      if (r.filesInEach || std::string(folder) == "binutils-mingw-w64-i686")
        writeFile(dir / "src" / folder / "m.txt", std::string("m of ") + folder + "\n");
    }
    const bool rockRidge = std::string(r.options).find("-R") != std::string::npos;
    const bool udf = std::string(r.options).find("-udf") != std::string::npos;
    const fs::path image = dir / "p.iso";
    ASSERT_EQ(run(genisoimage() + " -quiet -input-charset utf-8 " + r.options + " -o " + quote(image.string()) + " " +
                  quote((dir / "src").string())),
              0);
    {
      Workspace ws;
      ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
      FolderListing root;
      ASSERT_FALSE(ws.listFolder(0, root));
      size_t proven = 0;
      for (const EntryRow& row : root.rows) proven += ws.folders().node(row.folderIndex).unpairedIn.empty();
      // Every row is one folder in every tree, or one record that could not be paired.
      EXPECT_EQ(root.rows.size(), proven + 2 * (3 - proven)) << "rows";
    }
    for (const auto& [path, status] : r.hides) {
      SCOPED_TRACE(path);
      const fs::path copy = dir / "work.iso";
      fs::remove(copy);
      fs::copy_file(image, copy);
      Workspace ws;
      ASSERT_FALSE(ws.open(copy.string(), OpenMode::WorkUnstamped));
      EntryRow row;
      ASSERT_FALSE(ws.findEntry(path, row));
      EntryRow* rows[] = {&row};
      const WriteOutcome outcome = ws.setHidden(rows, true);
      ws.close();
      if (status == 5) {
        EXPECT_EQ(outcome.error.kind, ErrorKind::Unpaired) << outcome.error.message();
        EXPECT_EQ(readBytes(copy), readBytes(image));
        continue;
      }
      ASSERT_FALSE(outcome.error) << outcome.error.message();
      const std::string name = std::string(path).substr(1);
      Hidden expected;
      expected.iso.insert("/" + (rockRidge ? name : std::string()));
      expected.joliet.insert("/" + name);
      if (udf) expected.udf.insert(path);
      Hidden got = hiddenIn(copy, rockRidge, udf);
      if (!rockRidge) {
        // The ISO 9660 record hidden is the one holding the folder's file (by its data extent).
        ASSERT_EQ(got.iso.size(), 1u);
        uint32_t isoExtent = 0, jolietExtent = 1;
        for (const IsoinfoEntry& e : isoinfoList(copy, false))
          if (e.directory == *got.iso.begin() + "/" && e.name.rfind("M.TXT", 0) == 0) isoExtent = e.extent;
        for (const IsoinfoEntry& e : isoinfoList(copy, true))
          if (e.directory == "/" + name + "/" && e.name == "m.txt") jolietExtent = e.extent;
        EXPECT_EQ(isoExtent, jolietExtent) << *got.iso.begin();
        got.iso = expected.iso;
      }
      EXPECT_EQ(got, expected);
    }
  }
}

}  // namespace
}  // namespace umbra

namespace umbra {
namespace {

using namespace test;

// pycdlib names every tree as it is told: ISO 9660 /AAA is Joliet /zzz and UDF /Mmm (holding a
// file), ISO 9660 /BBB is Joliet and UDF /aaa (empty). A name that merely looks alike proves
// nothing: /AAA pairs by its file, and /BBB, whose identifier no name of its level could have
// given, stays unpaired.
TEST(FolderPairingByEvidence, LookAlikeNamesLoseToFilesAndProveNothingAlone) {
  TempDir dir;
  const fs::path image = dir / "p.iso";
  ASSERT_EQ(run("/usr/bin/python3 - " + quote(image.string()) + " <<'PY'\n"
                "import io, sys, pycdlib\n"
                "iso = pycdlib.PyCdlib()\n"
                "iso.new(interchange_level=3, joliet=3, udf='2.60')\n"
                "iso.add_directory('/AAA', joliet_path='/zzz', udf_path='/Mmm')\n"
                "iso.add_fp(io.BytesIO(b'data\\n'), 5, '/AAA/F.TXT;1', joliet_path='/zzz/f.txt', udf_path='/Mmm/f.txt')\n"
                "iso.add_directory('/BBB', joliet_path='/aaa', udf_path='/aaa')\n"
                "iso.write(sys.argv[1])\n"
                "PY"),
            0);
  const auto original = readBytes(image);
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::WorkUnstamped));
  EntryRow aaa, bbb;
  ASSERT_FALSE(ws.findEntry("/AAA", aaa));
  ASSERT_FALSE(ws.findEntry("/BBB", bbb));
  std::map<std::string, std::string> twins;
  for (const EntryRecord& r : aaa.records) twins[ws.trees().reader(r.tree).kind().id] = r.name;
  EXPECT_EQ(twins, (std::map<std::string, std::string>{{"iso9660", "AAA"}, {"joliet", "zzz"}, {"udf", "Mmm"}}));
  EXPECT_EQ(bbb.records.size(), 1u) << "BBB is shown on its own";
  EntryRow* refused[] = {&bbb};
  EXPECT_EQ(ws.setHidden(refused, true).error.kind, ErrorKind::Unpaired);
  EXPECT_EQ(readBytes(image), original);
  EntryRow* hidden[] = {&aaa};
  ASSERT_FALSE(ws.setHidden(hidden, true).error);
  ws.close();
  EXPECT_EQ(isoinfoFlags(image, false, "/", "AAA"), 7u);
  EXPECT_EQ(isoinfoFlags(image, true, "/", "zzz"), 7u);
  EXPECT_EQ(isoinfoFlags(image, false, "/", "BBB"), 2u);
  EXPECT_EQ(isoinfoFlags(image, true, "/", "aaa"), 2u);
}

// A path component names what ls printed: an identifier as stored before one that matches only
// without the dot of a file without extension, and a folder both trees hold is one row with both
// records, however like its siblings' its names are.
TEST(FolderPairingByEvidence, ExactIdentifiersAndSubfoldersNameTheirFolder) {
  TempDir dir;
  writeFile(dir / "a" / "libreadline8" / "f", "x\n");
  writeFile(dir / "a" / "libreadline", "y\n");
  const fs::path a = makeImage(Maker::Genisoimage, dir / "a", dir / "a.iso", true, "-R");
  fs::create_directories(dir / "b" / "binutils" / "inner");
  fs::create_directories(dir / "b" / "binutils 20");
  fs::create_directories(dir / "b" / "binutils 27");
  const fs::path b = makeImage(Maker::Genisoimage, dir / "b", dir / "b.iso");
  {
    Workspace ws;
    ASSERT_FALSE(ws.open(a.string(), OpenMode::Work));
    EntryRow row;
    ASSERT_FALSE(ws.findEntry("/LIBREADL", row));
    EXPECT_TRUE(row.isFolder);
    EntryRow* rows[] = {&row};
    ASSERT_FALSE(ws.setHidden(rows, true).error);
    ws.close();
    EXPECT_EQ(isoinfoFlags(a, false, "/", "LIBREADL"), 7u);
    EXPECT_EQ(isoinfoFlags(a, true, "/", "libreadline8"), 7u);
  }
  Workspace ws;
  ASSERT_FALSE(ws.open(b.string(), OpenMode::Work));
  EntryRow inner;
  ASSERT_FALSE(ws.findEntry("/binutils/inner", inner));
  ASSERT_EQ(inner.records.size(), 2u) << "the folder both trees hold is one row";
  EXPECT_TRUE(ws.folders().node(inner.folderIndex).absentIn.empty());
  EntryRow* rows[] = {&inner};
  ASSERT_FALSE(ws.setHidden(rows, true).error);
  ws.close();
  unsigned isoHidden = 0;
  for (const IsoinfoEntry& e : isoinfoList(b, false))
    if (e.name == "INNER") isoHidden = e.flags;
  EXPECT_EQ(isoHidden, 7u);
  EXPECT_EQ(isoinfoFlags(b, true, "/binutils/", "inner"), 7u);
}

}  // namespace
}  // namespace umbra
