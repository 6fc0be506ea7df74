// Hiding and showing: what Hide does to a selection, both trees or neither, and nothing but the asked
// flags bytes (and the stamp) ever changes.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <map>
#include <set>

#include "TestImages.h"
#include "engine/iso9660/IsoLayout.h"
#include "engine/Workspace.h"

namespace umbra {
namespace {

using namespace test;

constexpr uint64_t kStampFirst = 0x8000 + 446, kStampEnd = 0x8000 + 702;

// What one press of Hide does to a selection: hide what is seen anywhere, else show; files (and
// anything else checkRow refuses) are left with their reason, whatever their place in the selection.
TEST(HideShow, TheSelectionDecidesHideOrShow) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  {
    // ALPHA hidden beforehand; GAMMA.DIR hidden in the Joliet tree only (partly hidden).
    Workspace prep;
    ASSERT_FALSE(prep.open(image.string(), OpenMode::WorkUnstamped));
    EntryRow alpha, gamma;
    ASSERT_FALSE(prep.findEntry("/ALPHA", alpha));
    ASSERT_FALSE(prep.findEntry("/GAMMA.DIR", gamma));
    EntryRow* rows[] = {&alpha};
    ASSERT_FALSE(prep.setHidden(rows, true).error);
    const uint64_t jolietFlags = gamma.offsetIn(1) + iso::kDrFlags;
    ASSERT_GT(jolietFlags, iso::kDrFlags);
    prep.close();
    std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(jolietFlags));
    file.put(7);
  }
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::WorkUnstamped));
  FolderListing root;
  ASSERT_FALSE(ws.listFolder(0, root));
  // A copy of a folder's row without its Joliet record: a row that cannot be acted on.
  EntryRow broken;
  auto row = [&](const std::string& name) -> EntryRow* {
    if (name == "BROKEN") return &broken;
    for (EntryRow& r : root.rows)
      if (r.name == name) return &r;
    throw std::runtime_error("no row " + name);
  };
  broken = *row("ZETA");
  broken.name = "BROKEN";
  broken.records.pop_back();
  ASSERT_TRUE(row("ALPHA")->hidden());
  ASSERT_EQ(row("GAMMA.DIR")->state, FolderState::Mixed);

  const struct {
    const char* what;
    std::vector<std::string> selected;
    bool hide;
    std::vector<std::string> acted;
    std::vector<std::string> left;
  } cases[] = {
      {"a hidden folder, a normal one, a file, another normal one",
       {"ALPHA", "BETA", "README.;1", "ZETA"},
       true,
       {"BETA", "README.;1", "ZETA"},
       {}},
      {"a file first, then a hidden folder", {"README.;1", "ALPHA"}, true, {"README.;1"}, {}},
      {"hidden folders only", {"ALPHA"}, false, {"ALPHA"}, {}},
      {"a partly hidden folder beside a hidden one", {"ALPHA", "GAMMA.DIR"}, true, {"GAMMA.DIR"}, {}},
      {"files only", {"README.;1"}, true, {"README.;1"}, {}},
      {"a hidden folder and one whose Joliet record is gone", {"ALPHA", "BROKEN"}, false, {"ALPHA"}, {"BROKEN"}},
      {"nothing", {}, true, {}, {}},
  };
  const auto names = [](const auto& rows) {
    std::vector<std::string> out;
    for (const auto* r : rows) out.push_back(r->name);
    return out;
  };
  for (const auto& c : cases) {
    std::vector<EntryRow*> selected;
    for (const std::string& name : c.selected) selected.push_back(row(name));
    const SelectionAction action = ws.planSelection(selected);
    EXPECT_EQ(action.hide, c.hide) << c.what;
    EXPECT_EQ(ws.selectionHides(selected), c.hide) << c.what << ": the button's quick answer";
    EXPECT_EQ(names(action.rows), c.acted) << c.what;
    std::vector<const EntryRow*> left;
    for (const SelectionAction::Left& l : action.left) {
      left.push_back(l.row);
      EXPECT_EQ(l.why.kind, ErrorKind::Unpaired) << c.what;
    }
    EXPECT_EQ(names(left), c.left) << c.what;
  }

  // The first case written: the rows that were seen are hidden, the hidden one stays.
  std::vector<EntryRow*> mixed = {row("ALPHA"), row("BETA"), row("README.;1"), row("ZETA")};
  const SelectionAction action = ws.planSelection(mixed);
  const WriteOutcome outcome = ws.setHidden(action.rows, action.hide);
  EXPECT_FALSE(outcome.error) << outcome.error.message();
  EXPECT_EQ(outcome.rowsChanged, 3u);
  // Pressed again, the same selection is all hidden: it shows every folder of it.
  const SelectionAction again = ws.planSelection(mixed);
  EXPECT_FALSE(again.hide);
  EXPECT_EQ(names(again.rows), (std::vector<std::string>{"ALPHA", "BETA", "README.;1", "ZETA"}));
  ws.close();
  for (bool joliet : {false, true}) {
    EXPECT_EQ(isoinfoFlags(image, joliet, "/", joliet ? "alpha" : "ALPHA"), 7u);
    EXPECT_EQ(isoinfoFlags(image, joliet, "/", joliet ? "Beta" : "BETA"), 7u);
    EXPECT_EQ(isoinfoFlags(image, joliet, "/", joliet ? "Zeta" : "ZETA"), 7u);
    EXPECT_EQ(isoinfoFlags(image, joliet, "/", joliet ? "README" : "README.;1"), 5u) << "a file keeps no Directory bit";
  }
}

// Cancelled between two folders: what was written stays written and synced, the rest untouched.
TEST(HideShow, ProgressCanStopBetweenFolders) {
  TempDir dir;
  for (int i = 0; i < 6; ++i) writeFile(dir / "src" / ("Folder" + std::to_string(i)) / "f.txt", std::to_string(i));
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::WorkUnstamped));
  FolderListing root;
  ASSERT_FALSE(ws.listFolder(0, root));
  std::vector<EntryRow*> rows;
  for (EntryRow& r : root.rows) rows.push_back(&r);
  ASSERT_EQ(rows.size(), 6u);
  std::vector<size_t> told;
  const WriteOutcome outcome = ws.setHidden(rows, true, [&](size_t done) {
    told.push_back(done);
    return done < 3;
  });
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.rowsChanged, 3u);
  EXPECT_EQ(told, (std::vector<size_t>{1, 2, 3}));
  ws.close();
  int hidden = 0;
  for (const IsoinfoEntry& e : isoinfoList(image, true))
    if (e.directory == "/") hidden += e.flags == 7;
  EXPECT_EQ(hidden, 3);
}

TEST(HideShow, ARefusedRowWritesNothing) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "a.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::Work));
  const auto stamped = readBytes(image);
  FolderListing root;
  ASSERT_FALSE(ws.listFolder(0, root));
  std::vector<EntryRow*> rows;
  for (EntryRow& r : root.rows) rows.push_back(&r);
  EntryRow broken = *rows.back();
  broken.records.pop_back();  // its Joliet record
  rows.push_back(&broken);
  EXPECT_EQ(ws.setHidden(rows, true).error.kind, ErrorKind::Unpaired) << "checked before any write";
  EXPECT_EQ(readBytes(image), stamped);
}

TEST(HideShow, BothTreesOrNeither) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::Work));
  const auto before = readBytes(image);
  EntryRow beta;
  ASSERT_FALSE(ws.findEntry("/Beta", beta));
  ASSERT_EQ(beta.records.size(), 2u);
  beta.records[1].offset = 0x8000 + 3;  // no record stands there
  EntryRow* rows[] = {&beta};
  EXPECT_TRUE(ws.setHidden(rows, true).error);
  EXPECT_FALSE(ws.planSelection(rows).left.empty()) << "left, with why";
  EXPECT_FALSE(beta.hidden());
  EXPECT_EQ(readBytes(image), before);
}

// Any sequence of hides and shows changes only the stamp and the flags bytes of the folders asked for.
TEST(HideShow, PropertyOnlyAskedFlagsAndTheStampChange) {
  TempDir dir;
  makeMixedTree(dir / "src");
  for (int i = 0; i < 20; ++i) fs::create_directories(dir / "src" / ("Folder" + std::to_string(i)) / "Sub");
  for (Maker maker : {Maker::Xorriso, Maker::Genisoimage}) {
    const fs::path original = makeImage(maker, dir / "src", dir / (std::string(makerName(maker)) + ".iso"));
    const fs::path work = dir / "work.iso";
    std::mt19937 random(12345);
    for (int round = 0; round < 15; ++round) {
      fs::remove(work);  // MinGW's copy_file refuses to overwrite
      fs::copy_file(original, work);
      Workspace ws;
      ASSERT_FALSE(ws.open(work.string(), OpenMode::Work));
      std::vector<std::string> paths;
      for (int f = 1; f < static_cast<int>(ws.folders().size()); ++f) paths.push_back(ws.folders().pathOf(f));
      std::set<uint64_t> allowed;
      std::map<uint64_t, uint8_t> expected;
      for (int step = 0; step < 12; ++step) {
        EntryRow row;
        const std::string& path = paths[random() % paths.size()];
        ASSERT_FALSE(ws.findEntry(path, row)) << path;
        const bool hide = random() % 2;
        EntryRow* rows[] = {&row};
        ASSERT_FALSE(ws.setHidden(rows, hide).error);
        for (uint64_t at : {row.offsetIn(0), row.offsetIn(1)})
          if (at) {
            allowed.insert(at + iso::kDrFlags);
            expected[at + iso::kDrFlags] = hide ? 7 : 2;
          }
      }
      ws.close();
      const auto bytes = readBytes(work);
      for (uint64_t at : differingBytes(original, work))
        EXPECT_TRUE((at >= kStampFirst && at < kStampEnd) || allowed.count(at)) << makerName(maker) << " byte " << at;
      for (const auto& [at, value] : expected) EXPECT_EQ(bytes[static_cast<size_t>(at)], value) << at;
    }
  }
}

// Hide sets the Existence and Associated File bits and keeps every other bit, so a folder stays a
// folder for the readers that honour the Directory bit; show clears both and sets the Directory bit
// that images hidden with 5 lost. What the records hold before decides the state shown.
TEST(HideShow, FlagBitsFromEveryStartingValue) {
  struct Case {
    const char* what;
    uint8_t before;  // 0: as genisoimage -hidden writes it, else poked into the ISO 9660 and Joliet records
    FolderState state;
    unsigned hidden, shown;
  } cases[] = {
      {"plain folder", 0x02, FolderState::Normal, 0x07, 0x02},
      {"hidden with 5, Directory bit lost", 0x05, FolderState::Hidden, 0x07, 0x02},
      {"hidden with 7", 0x07, FolderState::Hidden, 0x07, 0x02},
      {"Existence bit only", 0x03, FolderState::Mixed, 0x07, 0x02},
      {"Associated bit only", 0x06, FolderState::Mixed, 0x07, 0x02},
      {"Protection bit kept", 0x12, FolderState::Normal, 0x17, 0x12},
      {"genisoimage -hidden", 0, FolderState::Mixed, 0x07, 0x02},
  };
  for (const Case& c : cases) {
    TempDir dir;
    writeFile(dir / "src" / "Secret" / "s.txt", "secret\n");
    writeFile(dir / "src" / "Open" / "o.txt", "open\n");
    const fs::path image = c.before ? makeImage(Maker::Xorriso, dir / "src", dir / "a.iso")
                                    : makeImage(Maker::Genisoimage, dir / "src", dir / "a.iso", true, "-hidden Secret");
    auto flagsNow = [&] {
      return std::make_pair(isoinfoFlags(image, false, "/", "SECRET"), isoinfoFlags(image, true, "/", "Secret"));
    };
    if (c.before) {
      Workspace ws;
      EntryRow row;
      ASSERT_TRUE(!ws.open(image.string(), OpenMode::Work) && !ws.findEntry("/Secret", row)) << c.what;
      ws.close();
      std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
      for (const EntryRecord& r : row.records) {
        f.seekp(static_cast<std::streamoff>(r.offset + iso::kDrFlags));
        f.put(static_cast<char>(c.before));
      }
    }
    for (const bool hide : {true, false}) {
      Workspace ws;
      EntryRow row;
      ASSERT_FALSE(ws.open(image.string(), OpenMode::Work)) << c.what;
      ASSERT_FALSE(ws.findEntry("/Secret", row)) << c.what;
      EXPECT_TRUE(row.isFolder) << c.what;
      if (hide) {
        EXPECT_EQ(row.state, c.state) << c.what;
      }
      EntryRow* rows[] = {&row};
      ASSERT_FALSE(ws.setHidden(rows, hide).error) << c.what;
      ws.close();
      const unsigned want = hide ? c.hidden : c.shown;
      EXPECT_EQ(flagsNow(), std::make_pair(want, want)) << c.what << (hide ? ", hidden" : ", shown");
      if (!hide) continue;
      // A reader that ignores the hidden bits still goes into the hidden folder: it is a folder.
      std::string listing;
      run("isoinfo -J -f -i " + quote(image.string()), &listing);
      EXPECT_NE(listing.find("/Secret/s.txt"), std::string::npos) << c.what << ": " << listing;
    }
  }
}

// Offsets are 64-bit: a folder whose record lies past 4 GiB is hidden at the right place.
TEST(HideShow, ImagesLargerThanFourGiB) {
  TempDir dir;
  const uint32_t root = 2400000;  // ~4.6 GiB into the file
  MiniIso iso;
  iso.basicLayout();
  uint8_t* pvdRoot = iso.sector(16) + 156;
  for (int i = 0; i < 4; ++i) pvdRoot[2 + i] = pvdRoot[9 - i] = static_cast<uint8_t>(root >> (8 * i));
  uint8_t* pathRoot = iso.sector(MiniIso::kPathTableSector);
  for (int i = 0; i < 4; ++i) pathRoot[2 + i] = static_cast<uint8_t>(root >> (8 * i));
  iso.addPathRecord("SUB", root + 1, 1);
  iso.save(dir / "big.iso");

  MiniIso far(2);  // the two directories, built at sectors 0 and 1 and copied to root, root + 1
  far.dirRecord(0, far.startDirectory(0, 2048, 0), "SUB", root + 1, 2048, 2);
  for (int s : {0, 1}) {  // the self and parent records must name the real extents
    for (uint32_t pos : {0u, 34u})
      for (int i = 0; i < 4; ++i) far.sector(s)[pos + 2 + i] = static_cast<uint8_t>((pos == 0 ? root + s : root) >> (8 * i));
  }
  far.startDirectory(1, 2048, 0);
  for (uint32_t pos : {0u, 34u})
    for (int i = 0; i < 4; ++i) far.sector(1)[pos + 2 + i] = static_cast<uint8_t>((pos == 0 ? root + 1 : root) >> (8 * i));
  {
    std::fstream out(dir / "big.iso", std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(root) * 2048);
    out.write(reinterpret_cast<const char*>(far.bytes().data()), 4096);
  }
  Workspace ws;
  ASSERT_FALSE(ws.open((dir / "big.iso").string(), OpenMode::Work));
  EntryRow sub;
  ASSERT_FALSE(ws.findEntry("/SUB", sub));
  EXPECT_EQ(sub.offsetIn(0), static_cast<uint64_t>(root) * 2048 + 68);
  EntryRow* rows[] = {&sub};
  ASSERT_FALSE(ws.setHidden(rows, true).error);
  ws.close();
  std::ifstream in(dir / "big.iso", std::ios::binary);
  in.seekg(static_cast<std::streamoff>(sub.offsetIn(0) + iso::kDrFlags));
  EXPECT_EQ(in.get(), 7);
  in.seekg(static_cast<std::streamoff>(sub.offsetIn(0) % (1ull << 32)) + iso::kDrFlags);
  EXPECT_EQ(in.get(), 0) << "nothing written at the offset a 32-bit wrap would give";
}

}  // namespace
}  // namespace umbra
