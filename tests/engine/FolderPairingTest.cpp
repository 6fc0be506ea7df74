// ISO 9660 and Joliet records are twins by identity, never by position: the two trees sort
// their names differently.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>

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
    const ToggleOutcome outcome = ws.setHidden(rows, true);
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
    const ToggleOutcome outcome = ws.setHidden(rows, true);
    EXPECT_FALSE(outcome.error) << outcome.error.message();
    ws.close();
    EXPECT_EQ(isoinfoFlags(image, true, "/", "Group0017"), 7u) << makerName(maker);
  }
}

}  // namespace
}  // namespace umbra
