// The UDF tree reader on bridge images made by real makers: the folders and their identifier
// offsets as an independent reader sees them, hide and show changing only the identifier's
// flags, CRC and checksum (and an embedding entry's tag) in every copy, other readers still
// accepting the result, and damaged descriptors reported without a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestImages.h"
#include "UdfFixtures.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfTag.h"
#include "engine/udf/UdfTreeReader.h"

namespace umbra {
namespace {

using namespace test;

struct OpenTree {
  ImageFile file;
  std::unique_ptr<TreeReader> reader;
  std::vector<TreeFolder> folders;
};

void openTree(const fs::path& image, OpenTree& tree, ImageFile::Mode mode = ImageFile::Mode::ReadOnly) {
  ASSERT_FALSE(tree.file.open(image.string(), mode));
  tree.reader = findUdfTree(tree.file);
  ASSERT_TRUE(tree.reader);
  ASSERT_EQ(tree.reader->problem(), "");
  tree.folders = tree.reader->folders();
}

std::string pathOf(const std::vector<TreeFolder>& folders, int index) {
  std::string path;
  for (; index > 0; index = folders[static_cast<size_t>(index)].parent)
    path = "/" + folders[static_cast<size_t>(index)].name + path;
  return path.empty() ? "/" : path;
}

int findFolder(const std::vector<TreeFolder>& folders, const std::string& path) {
  for (size_t i = 0; i < folders.size(); ++i)
    if (pathOf(folders, static_cast<int>(i)) == path) return static_cast<int>(i);
  return -1;
}

fs::path copyOf(const fs::path& image, const TempDir& dir, const std::string& name = "work.iso") {
  const fs::path copy = dir / name;
  fs::copy_file(image, copy, fs::copy_options::overwrite_existing);
  return copy;
}

// Plans and applies every copy of a folder's record, record by record, then syncs.
void setHidden(const fs::path& image, const std::string& path, bool hidden) {
  OpenTree tree;
  openTree(image, tree, ImageFile::Mode::ReadWrite);
  const int index = findFolder(tree.folders, path);
  ASSERT_GT(index, 0) << path;
  const std::vector<uint64_t> offsets = folderEntry(*tree.reader, tree.file, index).recordOffsets;
  ASSERT_FALSE(offsets.empty()) << path;
  for (uint64_t offset : offsets) {
    std::vector<BytePatch> patches;
    ASSERT_FALSE(tree.reader->planHidden(tree.file, offset, hidden, patches)) << path;
    for (const BytePatch& patch : patches)
      ASSERT_TRUE(tree.file.writeAt(patch.offset, patch.bytes.data(), patch.bytes.size()));
    HiddenMark now = HiddenMark::Partial;
    ASSERT_FALSE(tree.reader->readHidden(tree.file, offset, now));
    EXPECT_EQ(now, hidden ? HiddenMark::Hidden : HiddenMark::None) << path;
  }
  ASSERT_TRUE(tree.file.sync());
  // The same reader lists the new mark.
  EXPECT_EQ(folderEntry(*tree.reader, tree.file, index).mark, hidden ? HiddenMark::Hidden : HiddenMark::None);
}

class UdfFixtureTest : public ::testing::TestWithParam<std::string> {
 protected:
  const UdfFixture& fixture() const { return udfFixture(GetParam()); }
};

TEST_P(UdfFixtureTest, FoldersAndOffsetsMatchAnIndependentReader) {
  const UdfFixture& f = fixture();
  OpenTree tree;
  ASSERT_NO_FATAL_FAILURE(openTree(f.image, tree));
  EXPECT_EQ(tree.reader->description(), f.description);
  EXPECT_STREQ(tree.reader->kind().id, "udf");
  const UdfReference ref = udfReference(f.image);
  ASSERT_FALSE(tree.folders.empty());
  EXPECT_EQ(tree.folders[0].parent, -1);
  std::set<std::string> found;
  for (size_t i = 1; i < tree.folders.size(); ++i) {
    const TreeFolder& folder = tree.folders[i];
    ASSERT_GE(folder.parent, 0);
    ASSERT_LT(static_cast<size_t>(folder.parent), i) << "parents come before their children";
    const std::string path = pathOf(tree.folders, static_cast<int>(i));
    found.insert(path);
    ASSERT_TRUE(ref.folders.count(path)) << path;
    const TreeEntry entry = folderEntry(*tree.reader, tree.file, static_cast<int>(i));
    EXPECT_EQ(entry.name, folder.name) << path;
    EXPECT_EQ(entry.recordOffsets, ref.folders.at(path).offsets) << path;
    EXPECT_EQ(entry.recordOffsets.size(), f.copies) << path;
    EXPECT_EQ(entry.mark, HiddenMark::None) << path;
    const auto& siblings = tree.folders[static_cast<size_t>(folder.parent)].children;
    EXPECT_NE(std::find(siblings.begin(), siblings.end(), static_cast<int>(i)), siblings.end());
  }
  std::set<std::string> expected;
  for (const auto& [path, folder] : ref.folders) expected.insert(path);
  EXPECT_EQ(found, expected);
  for (const std::string& path : f.hideCases) EXPECT_TRUE(found.count(path)) << path;
}

// File data is shared with the Joliet tree, so each folder's files are its Joliet twin's.
TEST_P(UdfFixtureTest, ListingsMatchTheJolietFiles) {
  const UdfFixture& f = fixture();
  OpenTree tree;
  ASSERT_NO_FATAL_FAILURE(openTree(f.image, tree));
  const UdfReference ref = udfReference(f.image);
  for (size_t i = 0; i < tree.folders.size(); ++i) {
    const std::string path = pathOf(tree.folders, static_cast<int>(i));
    std::set<std::pair<uint64_t, uint64_t>> jolietFiles;
    if (ref.jolietFiles.count(path))
      for (const auto& [extent, size] : ref.jolietFiles.at(path)) jolietFiles.insert({extent, size});
    std::vector<TreeEntry> entries;
    ASSERT_FALSE(tree.reader->listFolder(tree.file, static_cast<int>(i), entries)) << path;
    std::set<std::pair<uint64_t, uint64_t>> listed;
    size_t subfolders = 0;
    for (const TreeEntry& entry : entries) {
      EXPECT_GT(entry.date.year, 2000) << entry.name;
      if (!entry.isFolder) {
        listed.insert({entry.dataSector, entry.size});
        continue;
      }
      ++subfolders;
      ASSERT_GT(entry.folder, 0) << entry.name;
      EXPECT_EQ(tree.folders[static_cast<size_t>(entry.folder)].name, entry.name);
      EXPECT_EQ(entry.recordOffsets, ref.folders.at(pathOf(tree.folders, entry.folder)).offsets);
    }
    EXPECT_EQ(listed, jolietFiles) << path;
    EXPECT_EQ(subfolders, tree.folders[i].children.size()) << path;
  }
}

// Hiding changes the flags byte, the CRC and the checksum of the identifier in each copy (and
// the tag of the entry that embeds it), exactly as the reference patcher does; showing restores
// every byte.
TEST_P(UdfFixtureTest, HideChangesOnlyTheIdentifierAndShowRestoresTheImage) {
  const UdfFixture& f = fixture();
  const UdfReference before = udfReference(f.image);
  const auto original = readBytes(f.image);
  for (const std::string& path : f.hideCases) {
    SCOPED_TRACE(path);
    TempDir dir;
    const fs::path image = copyOf(f.image, dir);
    ASSERT_NO_FATAL_FAILURE(setHidden(image, path, true));

    std::set<uint64_t> allowed, flags;
    for (uint64_t offset : before.folders.at(path).offsets) {
      flags.insert(offset + 18);
      for (uint64_t k : {4, 8, 9, 18}) allowed.insert(offset + k);
      if (f.embedded)  // the parent's entry starts the block that holds its identifiers
        for (uint64_t k : {4, 8, 9}) allowed.insert(offset / 2048 * 2048 + k);
    }
    const std::vector<uint64_t> changed = differingBytes(f.image, image);
    for (uint64_t at : changed) EXPECT_TRUE(allowed.count(at)) << "unexpected change at " << at;
    for (uint64_t at : flags) EXPECT_NE(std::find(changed.begin(), changed.end(), at), changed.end()) << at;
    EXPECT_EQ(readBytes(image)[static_cast<size_t>(*flags.begin())], 0x03);

    // The independent reader verifies every tag and CRC and sees the hidden bit.
    const UdfReference after = udfReference(image);
    EXPECT_EQ(after.folders.at(path).characteristics, 0x03u);
    // The reference patcher gives the same bytes.
    const fs::path reference = copyOf(f.image, dir, "reference.iso");
    ASSERT_EQ(run(udfScript("udfwalk.py") + " " + quote(reference.string()) + " --set " + quote(path) + " 0x01"), 0);
    EXPECT_EQ(readBytes(reference), readBytes(image));

    OpenTree reopened;
    ASSERT_NO_FATAL_FAILURE(openTree(image, reopened));
    EXPECT_EQ(folderEntry(*reopened.reader, reopened.file, findFolder(reopened.folders, path)).mark,
              HiddenMark::Hidden);

    ASSERT_NO_FATAL_FAILURE(setHidden(image, path, true));  // a second hide changes nothing
    EXPECT_EQ(readBytes(reference), readBytes(image));
    ASSERT_NO_FATAL_FAILURE(setHidden(image, path, false));
    EXPECT_TRUE(readBytes(image) == original) << "show restores the image byte for byte";
  }
}

// Other readers check every CRC: 7-Zip falls back to its ISO view on a bad one, pycdlib refuses.
TEST_P(UdfFixtureTest, OtherReadersStillReadTheTreeAfterAHide) {
  const UdfFixture& f = fixture();
  TempDir dir;
  const fs::path image = copyOf(f.image, dir);
  for (const std::string& path : f.hideCases) ASSERT_NO_FATAL_FAILURE(setHidden(image, path, true));
  std::string listing;
  ASSERT_EQ(run("7z l " + quote(image.string()) + " 2>&1", &listing), 0) << listing;
  EXPECT_NE(listing.find("Type = Udf"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("Error"), std::string::npos) << listing;
  for (const std::string& path : f.hideCases)
    EXPECT_NE(listing.find(" " + path.substr(1) + "\n"), std::string::npos) << path;  // 7-Zip ignores the bit
  if (!f.pycdlibReads) return;
  std::string pyc;
  ASSERT_EQ(run(udfScript("pyc_open.py") + " " + quote(image.string()) + " 2>&1", &pyc), 0) << pyc;
  for (const std::string& path : f.hideCases)
    EXPECT_NE(pyc.find(path + " ", 0), std::string::npos) << pyc;
  size_t hiddenSeen = 0;
  for (size_t at = pyc.find("file_characteristics=0x03"); at != std::string::npos;
       at = pyc.find("file_characteristics=0x03", at + 1))
    ++hiddenSeen;
  EXPECT_EQ(hiddenSeen, f.hideCases.size()) << pyc;
}

INSTANTIATE_TEST_SUITE_P(Images, UdfFixtureTest,
                         ::testing::Values("geniso", "straddle", "pycdlib", "meta", "meta_embedded"));

TEST(UdfTree, StraddleFixtureHasIdentifiersAcrossSectors) {
  const UdfFixture& f = udfFixture("straddle");
  ASSERT_GE(f.hideCases.size(), 2u) << "no identifier crosses a sector boundary";
  // At least one has its flags byte in the next sector, where a patch must be split.
  const UdfReference ref = udfReference(f.image);
  bool flagsInNextSector = false;
  for (const std::string& path : f.hideCases)
    flagsInNextSector |= ref.folders.at(path).offsets[0] % 2048 + 18 >= 2048;
  EXPECT_TRUE(flagsInNextSector);
}

TEST(UdfTree, CrcMatchesTheTestVectors) {
  const struct {
    std::string bytes;
    uint16_t crc;
  } cases[] = {{"123456789", 0x31C3}, {"\x70\x6A\x77", 0x3299}, {"", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(udf::descriptorCrc(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.crc) << c.bytes;
}

TEST(UdfTree, ImagesWithoutUdfHaveNoUdfTree) {
  TempDir dir;
  writeFile(dir / "src" / "a" / "f.txt", "f\n");
  for (Maker maker : {Maker::Xorriso, Maker::Genisoimage}) {
    const fs::path image = makeImage(maker, dir / "src", dir / (std::string(makerName(maker)) + ".iso"));
    ImageFile file;
    ASSERT_FALSE(file.open(image.string(), ImageFile::Mode::ReadOnly));
    EXPECT_FALSE(findUdfTree(file)) << makerName(maker);
  }
}

}  // namespace
}  // namespace umbra
