// Listing a folder: every record of long directories, folder-or-file from the image itself,
// and the texts of the list's columns.
#include <gtest/gtest.h>

#include <map>

#include "engine/model/NameKey.h"

#include "TestImages.h"
#include "engine/Workspace.h"
#include "views/EntryText.h"

namespace umbra {
namespace {

using namespace test;

TEST(FolderListing, ReadsEverySectorOfALongDirectory) {
  TempDir dir;
  for (int i = 0; i < 400; ++i) writeFile(dir / "src" / "many" / ("file_with_a_long_name_" + std::to_string(i) + ".txt"), std::to_string(i));
  for (int i = 0; i < 30; ++i) fs::create_directories(dir / "src" / "many" / ("sub" + std::to_string(i)));
  for (Maker maker : {Maker::Xorriso, Maker::Genisoimage}) {
    const fs::path image = makeImage(maker, dir / "src", dir / (std::string(makerName(maker)) + ".iso"));
    Workspace ws;
    ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
    EntryRow many;
    ASSERT_FALSE(ws.findEntry("/many", many));
    ASSERT_GT(many.size, 20480u) << "the directory must span more than ten sectors";
    FolderListing listing;
    ASSERT_FALSE(ws.listFolder(many.folderIndex, listing));
    EXPECT_EQ(listing.rows.size(), 430u) << makerName(maker);
    size_t folders = 0, twins = 0;
    for (const EntryRow& row : listing.rows) {
      folders += row.isFolder;
      twins += row.offsetIn(1) != 0;
    }
    EXPECT_EQ(folders, 30u);
    EXPECT_EQ(twins, 430u) << makerName(maker);
    EXPECT_EQ(ws.folders().node(many.folderIndex).children.size(), 30u);
  }
}

TEST(FolderListing, FolderOrFileComesFromTheImage) {
  TempDir dir;
  makeMixedTree(dir / "src");
  for (Maker maker : {Maker::Xorriso, Maker::Genisoimage}) {
    const fs::path image = makeImage(maker, dir / "src", dir / (std::string(makerName(maker)) + ".iso"));
    Workspace ws;
    ASSERT_FALSE(ws.open(image.string(), OpenMode::Work));
    // Hide GAMMA.DIR, then list the root again: the hidden record has no Directory bit left.
    EntryRow gamma;
    ASSERT_FALSE(ws.findEntry("/gamma.dir", gamma));
    EntryRow* rows[] = {&gamma};
    ASSERT_FALSE(ws.setHidden(rows, true).error);
    FolderListing root;
    ASSERT_FALSE(ws.listFolder(0, root));
    std::map<std::string, std::pair<bool, bool>> seen;  // folder, hidden
    for (const EntryRow& row : root.rows) seen[std::string(withoutVersion(row.name))] = {row.isFolder, row.hidden()};
    EXPECT_EQ(seen["GAMMA.DIR"], std::make_pair(true, true)) << makerName(maker);
    EXPECT_EQ(seen["README."], std::make_pair(false, false)) << "a file without extension is a file";
    EXPECT_EQ(seen["EMPTY"], std::make_pair(true, false));
  }
}

TEST(FolderListing, RowTexts) {
  TempDir dir;
  MiniIso iso;
  iso.basicLayout();
  uint32_t pos = iso.startDirectory(MiniIso::kRootSector, 2048, MiniIso::kRootSector);
  const uint8_t date[7] = {105, 3, 7, 9, 5, 30, 8};  // +2:00 in quarter hours
  const uint8_t west[7] = {126, 12, 31, 23, 59, 59, static_cast<uint8_t>(-22)};  // -5:30
  const uint8_t noOffset[7] = {126, 5, 3, 22, 12, 0, 100};  // beyond +13:00: no offset
  pos += iso.dirRecord(MiniIso::kRootSector, pos, "BIG.BIN;1", 30, 3000000000u, 0, date);
  pos += iso.dirRecord(MiniIso::kRootSector, pos, "HIDDEN", 21, 2048, 5, west);
  iso.dirRecord(MiniIso::kRootSector, pos, "ODD", 22, 2048, 1, noOffset);
  iso.save(dir / "mini.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open((dir / "mini.iso").string(), OpenMode::ReadOnly));
  FolderListing listing;
  ASSERT_FALSE(ws.listFolder(0, listing));
  ASSERT_EQ(listing.rows.size(), 3u);
  EXPECT_EQ(listing.rows[0].size, 3000000000u);
  EXPECT_EQ(modifiedText(listing.rows[0].date), "2005-3-7 9:5");
  EXPECT_EQ(isoDateText(listing.rows[0].date), "2005-03-07T09:05:30+02:00");
  EXPECT_EQ(isoDateText(listing.rows[1].date), "2026-12-31T23:59:59-05:30");
  EXPECT_EQ(isoDateText(listing.rows[2].date), "2026-05-03T22:12:00");
  EXPECT_STREQ(stateText(listing.rows[1].state), "Hidden");
  EXPECT_FALSE(listing.rows[1].isFolder) << "flags 5 on an extent that is no folder of the path table";
  EXPECT_STREQ(stateText(listing.rows[2].state), "Partly hidden") << "the Existence bit alone hides from Windows only";
}

TEST(FolderListing, DeepNesting) {
  TempDir dir;
  fs::path deep = dir / "src";
  for (int level = 0; level < 12; ++level) deep /= "level" + std::to_string(level);
  writeFile(deep / "leaf.txt", "leaf");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "deep.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  EXPECT_EQ(ws.folders().size(), 13u);
  const int last = static_cast<int>(ws.folders().size()) - 1;
  EXPECT_EQ(ws.folders().node(last).depth, 12);
  EXPECT_EQ(ws.folders().pathOf(last).substr(0, 15), "/LEVEL0/LEVEL1/");
  EntryRow row;
  EXPECT_FALSE(ws.findEntry("/level0/level1/level2/level3/level4/level5/level6/level7/level8/level9/level10/level11", row));
  EXPECT_TRUE(row.isFolder);
}

}  // namespace
}  // namespace umbra
