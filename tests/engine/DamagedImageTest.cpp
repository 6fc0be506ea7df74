// Damaged and hostile images: every failure is an error value, nothing is read past a buffer
// and nothing is written.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "TestImages.h"
#include "base/ByteOrder.h"
#include "engine/iso9660/IsoLayout.h"
#include "engine/iso9660/IsoTreeReader.h"
#include "engine/Workspace.h"

namespace umbra {
namespace {

using namespace test;

constexpr uint32_t kSub = 21;

// Root with one folder SUB holding one file.
MiniIso imageWithOneFolder() {
  MiniIso iso;
  iso.basicLayout();
  iso.dirRecord(MiniIso::kRootSector, iso.startDirectory(MiniIso::kRootSector, 2048, MiniIso::kRootSector), "SUB",
                kSub, 2048, 2);
  iso.addPathRecord("SUB", kSub, 1);
  const uint32_t pos = iso.startDirectory(kSub, 2048, MiniIso::kRootSector);
  iso.dirRecord(kSub, pos, "F.TXT;1", 30, 10, 0);
  return iso;
}

void put32(uint8_t* p, uint32_t v) { writeLe32(p, v); }

struct Damage {
  const char* what;
  std::function<void(MiniIso&)> apply;
  ErrorKind openError;     // what opening reports
  ErrorKind listError;     // what listing SUB reports (when the open succeeds)
  size_t folders;          // folders in the tree after the open
};

TEST(DamagedImage, EveryDamageIsAnErrorAndNothingIsWritten) {
  const uint32_t pathRecord2 = 10;  // root record is 10 bytes long
  const Damage cases[] = {
      {"intact", [](MiniIso&) {}, ErrorKind::None, ErrorKind::None, 2},
      {"parent number 0", [&](MiniIso& i) { i.sector(MiniIso::kPathTableSector)[pathRecord2 + 6] = 0; },
       ErrorKind::UnknownFormat, ErrorKind::None, 1},
      {"parent is itself", [&](MiniIso& i) { i.sector(MiniIso::kPathTableSector)[pathRecord2 + 6] = 2; },
       ErrorKind::UnknownFormat, ErrorKind::None, 1},
      {"parent past the table", [&](MiniIso& i) { i.sector(MiniIso::kPathTableSector)[pathRecord2 + 6] = 200; },
       ErrorKind::UnknownFormat, ErrorKind::None, 1},
      {"path table past the end", [](MiniIso& i) { put32(i.sector(16) + 140, 0x7FFFFFF0); }, ErrorKind::Truncated,
       ErrorKind::None, 0},
      {"path table size huge", [](MiniIso& i) { put32(i.sector(16) + 132, 0xFFFFFFF0); }, ErrorKind::Truncated,
       ErrorKind::None, 0},
      {"folder extent past the end",
       [&](MiniIso& i) { put32(i.sector(MiniIso::kPathTableSector) + pathRecord2 + 2, 0x00FFFFFF); }, ErrorKind::None,
       ErrorKind::Truncated, 2},
      {"folder length past the end", [](MiniIso& i) { put32(i.sector(kSub) + 10, 0x7FFFFFFF); }, ErrorKind::None,
       ErrorKind::Truncated, 2},
      {"folder without its own record", [](MiniIso& i) { i.sector(kSub)[0] = 0; }, ErrorKind::None, ErrorKind::Damaged,
       2},
      {"record runs past the folder's end",
       [](MiniIso& i) {
         put32(i.sector(kSub) + 10, 300);
         i.sector(kSub)[68] = 255;
       },
       ErrorKind::None, ErrorKind::Damaged, 2},
      {"name longer than its record", [](MiniIso& i) { i.sector(kSub)[68 + 32] = 200; }, ErrorKind::None,
       ErrorKind::Damaged, 2},
      {"record shorter than a head", [](MiniIso& i) { i.sector(kSub)[68] = 12; }, ErrorKind::None, ErrorKind::Damaged,
       2},
      {"zero-length path record", [&](MiniIso& i) { i.sector(MiniIso::kPathTableSector)[pathRecord2] = 0; },
       ErrorKind::None, ErrorKind::None, 1},
      {"logical block 512",
       [](MiniIso& i) {
         i.sector(16)[128] = 0;
         i.sector(16)[129] = 2;
       },
       ErrorKind::NotIso, ErrorKind::None, 0},
      {"no CD001", [](MiniIso& i) { i.sector(16)[1] = 'X'; }, ErrorKind::NotIso, ErrorKind::None, 0},
  };
  TempDir dir;
  for (const Damage& c : cases) {
    MiniIso iso = imageWithOneFolder();
    c.apply(iso);
    const fs::path path = dir / "damaged.iso";
    iso.save(path);
    Workspace ws;
    const Error opened = ws.open(path.string(), OpenMode::ReadOnly);
    EXPECT_EQ(opened.kind, c.openError) << c.what << ": " << opened.message();
    EXPECT_EQ(ws.folders().size(), c.folders) << c.what;
    if (c.folders == 2) {
      FolderListing listing;
      const Error listed = ws.listFolder(1, listing);
      EXPECT_EQ(listed.kind, c.listError) << c.what << ": " << listed.message();
    }
    if (opened.kind == ErrorKind::UnknownFormat) {
      EXPECT_EQ(opened.reason, kUnknownFormatMessage);
    }
    ws.close();
    EXPECT_EQ(readBytes(path), iso.bytes()) << c.what << ": nothing may be written";
  }
}

// The ISO 9660 reader plans a write only where a record stands, whatever offset it is handed.
TEST(DamagedImage, FlagWriterRefusesPlacesWithoutARecord) {
  TempDir dir;
  MiniIso iso = imageWithOneFolder();
  iso.save(dir / "a.iso");
  CIsoImage image;
  ASSERT_FALSE(image.open((dir / "a.iso").string(), ImageFile::Mode::ReadOnly));
  std::unique_ptr<TreeReader> reader;
  ASSERT_FALSE(IsoTreeReader::open(image, false, reader));
  const uint64_t subRecord = static_cast<uint64_t>(MiniIso::kRootSector) * 2048 + 68;
  const uint64_t refused[] = {0, 0x8000, static_cast<uint64_t>(kSub) * 2048 + 2040, 40 * 2048 + 5,
                              static_cast<uint64_t>(MiniIso::kRootSector) * 2048 + 200};
  std::vector<BytePatch> plan;
  for (uint64_t at : refused) {
    EXPECT_TRUE(reader->planHidden(image.file(), at, true, plan)) << at;
    HiddenMark mark;
    EXPECT_TRUE(reader->readHidden(image.file(), at, mark)) << at;
  }
  plan.clear();
  ASSERT_FALSE(reader->planHidden(image.file(), subRecord, true, plan));
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(plan[0].offset, subRecord + 25);
  EXPECT_EQ(plan[0].bytes, std::vector<uint8_t>{0x07});  // Directory kept, Existence and Associated set
}

}  // namespace
}  // namespace umbra

namespace umbra {
namespace {

using namespace test;

TEST(HostileInput, AnythingButARegularFileIsRefusedAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs and /dev/null are Linux files";  // under wine, opening a FIFO blocks
#endif
  TempDir dir;
  const fs::path fifo = dir / "pipe.iso";
  ASSERT_EQ(run("mkfifo " + quote(fifo.string())), 0);
  for (OpenMode mode : {OpenMode::ReadOnly, OpenMode::Work}) {
    Workspace ws;  // with nobody at the other end, a blocking open would never return
    const Error e = ws.open(fifo.string(), mode);
    EXPECT_EQ(e.kind, ErrorKind::NotIso) << e.message();
    EXPECT_NE(e.reason.find("not a regular file"), std::string::npos) << e.reason;
  }
  Workspace ws;
  EXPECT_TRUE(ws.open("/dev/null", OpenMode::ReadOnly));
}

TEST(HostileInput, FoldersSharingOneRecordListAreRefused) {
  // Every folder of the path table points at the root's records: listing them all would read the
  // same records once per folder.
  MiniIso iso;
  iso.basicLayout();
  uint32_t pos = iso.startDirectory(MiniIso::kRootSector, 2048, MiniIso::kRootSector);
  for (int i = 0; i < 40; ++i) {
    const std::string name = std::string("D") + std::to_string(i);
    pos += iso.dirRecord(MiniIso::kRootSector, pos, name, MiniIso::kRootSector, 2048, 2);
    iso.addPathRecord(name, MiniIso::kRootSector, 1);
  }
  TempDir dir;
  iso.save(dir / "shared.iso");
  Workspace ws;
  const Error e = ws.open((dir / "shared.iso").string(), OpenMode::ReadOnly);
  EXPECT_EQ(e.kind, ErrorKind::Damaged) << e.message();
  EXPECT_NE(e.reason.find("share one record list"), std::string::npos) << e.reason;
  // The tree built before the refusal holds only what was kept: a look-up below the refused folder
  // finds nothing instead of reading a child that was never added (a fuzzer's find).
  EXPECT_EQ(ws.folders().size(), 1u);
  EntryRow row;
  EXPECT_EQ(ws.findEntry("/D0/D1", row).kind, ErrorKind::PathNotFound);
  EXPECT_EQ(readBytes(dir / "shared.iso"), iso.bytes());
}

// Inputs the fuzzers once failed on, replayed as the fuzz target runs them: the bytes from sector 16 on.
TEST(HostileInput, FuzzerFindingsStaySafe) {
  struct Finding {
    const char* file;
    ErrorKind open;
    const char* lookUp;
    ErrorKind found;
  } findings[] = {
      // A refused open kept a child index whose folder was never added; the look-up read past the nodes.
      {"open_list_fuzzer/failed-open-findfolder.bin", ErrorKind::Damaged, "/A/B", ErrorKind::PathNotFound},
  };
  for (const Finding& f : findings) {
    TempDir dir;
    std::vector<uint8_t> image(16 * 2048, 0);
    const auto input = readBytes(fs::path(UMBRA_FUZZ_FINDINGS) / f.file);
    image.insert(image.end(), input.begin(), input.end());
    const fs::path path = dir / "finding.iso";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                static_cast<std::streamsize>(image.size()));
    Workspace ws;
    EXPECT_EQ(ws.open(path.string(), OpenMode::ReadOnly).kind, f.open) << f.file;
    FolderListing listing;
    for (size_t i = 0; i < ws.folders().size(); ++i) (void)ws.listFolder(static_cast<int>(i), listing);
    EntryRow row;
    EXPECT_EQ(ws.findEntry(f.lookUp, row).kind, f.found) << f.file;
    EXPECT_EQ(readBytes(path), image) << f.file;
  }
}

}  // namespace
}  // namespace umbra
