// The UDF tree beside ISO 9660 and Joliet through the workspace: a hide reaches every tree of a
// bridge image and a show restores it, and a damaged UDF tree refuses hides with nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "UdfFixtures.h"
#include "engine/Workspace.h"
#include "engine/io/ImageFile.h"
#include "engine/iso9660/IsoLayout.h"

namespace umbra {
namespace {

using namespace test;

int treeNamed(const Workspace& ws, const char* id) {
  for (int t = 0; t < ws.trees().count(); ++t)
    if (std::string(ws.trees().reader(t).kind().id) == id) return t;
  return -1;
}

TEST(UdfWorkspace, HideReachesEveryTreeAndShowRestoresTheImage) {
  for (const UdfFixture& fixture : udfFixtures()) {
    TempDir dir;
    const fs::path copy = dir / "work.iso";
    fs::copy_file(fixture.image, copy);
    for (const std::string& path : fixture.hideCases) {
      std::vector<uint8_t> shown;
      {
        Workspace ws;
        ASSERT_FALSE(ws.open(copy.string(), OpenMode::Work)) << fixture.name;
        shown = readBytes(copy);  // stamped
        const int udf = treeNamed(ws, "udf");
        ASSERT_GE(udf, 0) << fixture.name;
        EntryRow row;
        ASSERT_FALSE(ws.findEntry(path, row)) << fixture.name << " " << path;
        size_t udfCopies = 0;
        for (const EntryRecord& r : row.records) udfCopies += r.tree == udf ? 1 : 0;
        EXPECT_EQ(udfCopies, fixture.copies) << fixture.name << " " << path;
        ASSERT_NE(row.recordIn(0), nullptr) << fixture.name << " " << path;
        EntryRow* rows[] = {&row};
        const WriteOutcome hidden = ws.setHidden(rows, true);
        ASSERT_FALSE(hidden.error) << fixture.name << " " << path << ": " << hidden.error.message();
        const auto bytes = readBytes(copy);
        EXPECT_EQ(bytes[static_cast<size_t>(row.recordIn(0)->offset + iso::kDrFlags)], 7) << fixture.name << " " << path;
        if (row.recordIn(1)) {
          EXPECT_EQ(bytes[static_cast<size_t>(row.recordIn(1)->offset + iso::kDrFlags)], 7) << fixture.name << " " << path;
        }
      }
      // An independent reader sees the hidden bit, with every tag and CRC still right.
      const UdfReference after = udfReference(copy);
      ASSERT_TRUE(after.folders.count(path)) << fixture.name << " " << path;
      EXPECT_EQ(after.folders.at(path).characteristics & 0x01u, 1u) << fixture.name << " " << path;
      EXPECT_EQ(after.folders.at(path).characteristics & 0x02u, 2u) << "still a directory";
      {
        Workspace ws;
        ASSERT_FALSE(ws.open(copy.string(), OpenMode::Work));
        EntryRow row;
        ASSERT_FALSE(ws.findEntry(path, row));
        EXPECT_EQ(row.state, FolderState::Hidden) << fixture.name << " " << path;
        EntryRow* rows[] = {&row};
        ASSERT_FALSE(ws.setHidden(rows, false).error);
      }
      EXPECT_EQ(readBytes(copy), shown) << fixture.name << " " << path << ": show restores every byte";
    }
  }
}

TEST(UdfWorkspace, ADamagedUdfTreeRefusesHidesAndWritesNothing) {
  const UdfFixture& fixture = udfFixture("geniso");
  TempDir dir;
  const fs::path copy = dir / "damaged.iso";
  auto bytes = readBytes(fixture.image);
  const UdfReference reference = udfReference(fixture.image);
  const uint64_t beta = reference.folders.at("/Beta").offsets.at(0);
  bytes[static_cast<size_t>(beta + 20)] ^= 0x40;  // inside the identifier, so its CRC no longer holds
  { std::ofstream(copy, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())); }
  Workspace ws;
  ASSERT_FALSE(ws.open(copy.string(), OpenMode::WorkUnstamped));
  const int udf = treeNamed(ws, "udf");
  ASSERT_GE(udf, 0);
  EXPECT_FALSE(ws.trees().usable(udf)) << "a damaged UDF tree is reported";
  EntryRow row;
  ASSERT_FALSE(ws.findEntry("/Beta", row)) << "the ISO 9660 side still works";
  EntryRow* rows[] = {&row};
  const WriteOutcome outcome = ws.setHidden(rows, true);
  EXPECT_EQ(outcome.error.kind, ErrorKind::Unpaired) << outcome.error.message();
  EXPECT_NE(outcome.error.reason.find("UDF"), std::string::npos) << outcome.error.reason;
  ws.close();
  EXPECT_EQ(readBytes(copy), bytes);
}

// Opening and listing a folder read the image's metadata about once: a reader that jumps between
// directories and file entries spread over the image must not refill a large read-ahead window at
// every jump (that once read a 100 MB bridge image 15 times over to list its root), and the UDF
// entries of files are read only where no name tells which row they belong to.
class UdfWorkspaceReads : public ::testing::Test {
 protected:
  static constexpr int kFolders = 300, kFiles = 4;
  void SetUp() override {
    for (int f = 0; f < kFolders; ++f)
      for (int i = 0; i < kFiles; ++i)
        writeFile(dir / "src" / ("folder " + std::to_string(1000 + f)) / ("file " + std::to_string(i) + ".txt"), "x");
    image = makeImage(Maker::Genisoimage, dir / "src", dir / "u.iso", true, "-udf -input-charset utf-8");
    // What a look at the folders may need at most: the image without its files' data and their UDF
    // entries (a sector each), every folder of every tree read once.
    folderMetadata = fs::file_size(image) - uint64_t{kFolders} * kFiles * 2 * 2048;
  }
  TempDir dir;
  fs::path image;
  uint64_t folderMetadata = 0;
};

TEST_F(UdfWorkspaceReads, OpeningAndListingTheRootReadTheFolderMetadataAboutOnce) {
  const uint64_t before = ImageFile::bytesRead();
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  FolderListing root;
  ASSERT_FALSE(ws.listFolder(0, root));
  ASSERT_EQ(root.rows.size(), static_cast<size_t>(kFolders));
  EXPECT_LE(ImageFile::bytesRead() - before, folderMetadata);
}

// A listing of every folder on the calling thread (ls -R of a small image) goes through the
// workspace's own file: what opening read is not read again.
TEST_F(UdfWorkspaceReads, OpeningAndListingEveryFolderReadTheFolderMetadataAboutOnce) {
  const uint64_t before = ImageFile::bytesRead();
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  const std::unique_ptr<FolderReader> reader = ws.openSharedReader();
  FolderListing listing;
  size_t rows = 0;
  for (size_t folder = 0; folder < ws.folders().size(); ++folder) {
    ASSERT_FALSE(reader->list(static_cast<int>(folder), listing));
    rows += listing.rows.size();
  }
  EXPECT_EQ(rows, static_cast<size_t>(kFolders) * (kFiles + 1));
  EXPECT_LE(ImageFile::bytesRead() - before, folderMetadata);
}

// Counting states needs the folders' records only; full listings read a file's UDF entry only where
// no name pairs it: both the same states, and neither reads the files' entries.
TEST_F(UdfWorkspaceReads, CountingListingsSkipTheFilesEntriesAndKeepEveryState) {
  const std::string path = "/folder 1007";
  ASSERT_EQ(run(udfScript("udfwalk.py") + " " + quote(image.string()) + " --set " + quote(path) + " 0x01"), 0);
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly));
  auto listEvery = [&](bool marksOnly, std::vector<FolderState>& states) {
    Error error;
    const std::unique_ptr<FolderReader> reader = ws.openReader(error);
    EXPECT_TRUE(reader) << error.message();
    if (!reader) return uint64_t{0};
    reader->marksOnly(marksOnly);
    const uint64_t before = ImageFile::bytesRead();
    FolderListing listing;
    for (size_t folder = 0; folder < ws.folders().size(); ++folder) {
      EXPECT_FALSE(reader->list(static_cast<int>(folder), listing));
      for (const EntryRow& row : listing.rows) states.push_back(row.state);
    }
    return ImageFile::bytesRead() - before;
  };
  std::vector<FolderState> full, counted;
  const uint64_t fullBytes = listEvery(false, full);
  const uint64_t countedBytes = listEvery(true, counted);
  EXPECT_EQ(counted, full);
  EXPECT_EQ(std::count(counted.begin(), counted.end(), FolderState::Mixed), 1) << "hidden in the UDF tree only";
  EXPECT_LE(countedBytes, folderMetadata);
  EXPECT_LE(fullBytes, folderMetadata) << "a file whose Joliet name names its UDF twin needs no UDF entry read";
}

}  // namespace
}  // namespace umbra
