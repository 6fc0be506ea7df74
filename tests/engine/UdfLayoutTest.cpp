// Layouts no maker here writes, made by editing a genisoimage bridge image: allocation
// descriptors continued in an Allocation Extent Descriptor, and a strategy 4096 entry chain. Also
// the notice for images with an HFS tree beside the ISO 9660 one.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "TestImages.h"
#include "UdfFixtures.h"
#include "base/ByteOrder.h"
#include "engine/hfs/AppleTreeNotice.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfTag.h"
#include "engine/udf/UdfTreeReader.h"

namespace umbra {
namespace {

using namespace test;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSector = 2048;

void put16(Bytes& b, size_t at, uint16_t v) { writeLe16(b.data() + at, v); }
void put32(Bytes& b, size_t at, uint32_t v) { writeLe32(b.data() + at, v); }

// A genisoimage bridge image opened for editing: its partition grows by whole blocks at the end.
struct EditedImage {
  Bytes bytes;
  UdfReference ref;
  uint32_t start = 0;
  std::vector<size_t> partitionDescriptors;

  explicit EditedImage(const std::string& fixture = "geniso")
      : bytes(readBytes(udfFixture(fixture).image)), ref(udfReference(udfFixture(fixture).image)) {
    for (size_t s = 32; s < 64; ++s)
      if (readLe16(bytes.data() + s * kSector) == udf::kTagPartition) partitionDescriptors.push_back(s * kSector);
    start = readLe32(bytes.data() + partitionDescriptors.at(0) + 188);
  }
  size_t fid(const std::string& path) const { return static_cast<size_t>(ref.folders.at(path).offsets.at(0)); }
  uint32_t blockOf(size_t offset) const { return static_cast<uint32_t>(offset / kSector - start); }
  size_t offsetOf(uint32_t block) const { return (size_t{start} + block) * kSector; }
  uint32_t appendBlocks(uint32_t n) {
    const uint32_t first = static_cast<uint32_t>(bytes.size() / kSector - start);
    bytes.resize(bytes.size() + n * kSector);
    for (size_t pd : partitionDescriptors) {
      put32(bytes, pd + 192, first + n);
      udf::retag(bytes.data() + pd);
    }
    return first;
  }
  // Writes a tag of this identifier at the offset of `block`, over crcLength body bytes.
  void tag(uint32_t block, uint16_t ident, uint16_t crcLength) {
    const size_t at = offsetOf(block);
    put16(bytes, at, ident);
    put16(bytes, at + 2, 2);
    put16(bytes, at + 10, crcLength);
    put32(bytes, at + 12, block);
    udf::retag(bytes.data() + at);
  }
  fs::path save(const TempDir& dir) const {
    writeFile(dir / "edited.iso", std::string(bytes.begin(), bytes.end()));
    return dir / "edited.iso";
  }
};

std::set<std::string> childNames(const std::vector<TreeEntry>& entries) {
  std::set<std::string> names;
  for (const TreeEntry& e : entries) names.insert(e.name);
  return names;
}

// Opens the edited image, checks /Beta still lists its entries, hides /Beta/Sub and checks
// that only its identifier's tag and flags changed.
void expectBetaReadable(const EditedImage& edited) {
  TempDir dir;
  const fs::path image = edited.save(dir);
  ImageFile file;
  ASSERT_FALSE(file.open(image.string(), ImageFile::Mode::ReadWrite));
  const auto reader = findUdfTree(file);
  ASSERT_TRUE(reader);
  ASSERT_EQ(reader->problem(), "");
  const std::vector<TreeFolder>& folders = reader->folders();
  int beta = -1, sub = -1;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (folders[i].name == "Beta" && folders[i].parent == 0) beta = static_cast<int>(i);
    if (folders[i].name == "Sub") sub = static_cast<int>(i);
  }
  ASSERT_GT(beta, 0);
  ASSERT_GT(sub, 0);
  EXPECT_EQ(folders[static_cast<size_t>(sub)].parent, beta);
  std::vector<TreeEntry> entries;
  ASSERT_FALSE(reader->listFolder(file, beta, entries));
  EXPECT_EQ(childNames(entries), (std::set<std::string>{"Sub", "b1.txt", "b2.bin"}));

  const uint64_t offset = folderEntry(*reader, file, sub).recordOffsets.at(0);
  std::vector<BytePatch> patches;
  ASSERT_FALSE(reader->planHidden(file, offset, true, patches));
  for (const BytePatch& p : patches) ASSERT_TRUE(file.writeAt(p.offset, p.bytes.data(), p.bytes.size()));
  ASSERT_TRUE(file.sync());
  const Bytes after = readBytes(image);
  for (size_t i = 0; i < after.size(); ++i)
    if (after[i] != edited.bytes[i]) {
      const uint64_t k = i - offset;
      EXPECT_TRUE(i >= offset && (k == 4 || k == 8 || k == 9 || k == 18)) << "unexpected change at " << i;
    }
  EXPECT_EQ(after[static_cast<size_t>(offset + 18)], 0x03);
}

TEST(UdfLayout, AllocationDescriptorsContinuedInAnExtent) {
  EditedImage edited;
  const uint32_t aed = edited.appendBlocks(1);
  // /Beta's entry holds one short_ad: move it into the continuation block and point there.
  const size_t fe = edited.offsetOf(readLe32(edited.bytes.data() + edited.fid("/Beta") + 24));
  const size_t ad = fe + 176 + readLe32(edited.bytes.data() + fe + 168);
  ASSERT_EQ(readLe32(edited.bytes.data() + fe + 172), 8u);
  std::copy_n(edited.bytes.begin() + static_cast<long>(ad), 8, edited.bytes.begin() + static_cast<long>(edited.offsetOf(aed) + 24));
  put32(edited.bytes, edited.offsetOf(aed) + 20, 8);
  edited.tag(aed, udf::kTagAllocationExtent, 16);
  put32(edited.bytes, ad, 2048u | 3u << 30);
  put32(edited.bytes, ad + 4, aed);
  udf::retag(edited.bytes.data() + fe);
  expectBetaReadable(edited);
}

TEST(UdfLayout, Strategy4096ChainIsFollowedToItsLatestEntry) {
  EditedImage edited;
  const uint32_t first = edited.appendBlocks(4);  // old entry, indirect entry, new entry, nothing
  const size_t fe = edited.offsetOf(readLe32(edited.bytes.data() + edited.fid("/Beta") + 24));
  const uint16_t crcLength = readLe16(edited.bytes.data() + fe + 10);
  for (uint32_t block : {first, first + 2}) {
    std::copy_n(edited.bytes.begin() + static_cast<long>(fe), kSector, edited.bytes.begin() + static_cast<long>(edited.offsetOf(block)));
    put16(edited.bytes, edited.offsetOf(block) + 20, 4096);
  }
  // The old entry describes an empty directory: a reader that stops there loses Beta's children.
  for (int i = 0; i < 8; ++i) edited.bytes[edited.offsetOf(first) + 56 + static_cast<size_t>(i)] = 0;
  edited.tag(first, udf::kTagFileEntry, crcLength);
  edited.tag(first + 2, udf::kTagFileEntry, crcLength);
  const size_t indirect = edited.offsetOf(first + 1);
  put16(edited.bytes, indirect + 16 + 4, 4096);
  put32(edited.bytes, indirect + 36, 2048);
  put32(edited.bytes, indirect + 40, first + 2);
  edited.tag(first + 1, udf::kTagIndirectEntry, 36);
  put32(edited.bytes, edited.fid("/Beta") + 24, first);
  udf::retag(edited.bytes.data() + edited.fid("/Beta"));
  expectBetaReadable(edited);
}

// A directory in two extents far apart, split inside an identifier whose flags byte then lies in
// the second extent: the patch is split and lands at both places.
TEST(UdfLayout, IdentifierSplitBetweenExtentsIsPatchedAtBothPlaces) {
  EditedImage edited("straddle");
  std::string path;
  uint64_t offset = 0;
  for (const std::string& p : udfFixture("straddle").hideCases) {
    const uint64_t o = edited.ref.folders.at(p).offsets.at(0);
    if (p != "/Many" && o % kSector + 18 >= kSector) {
      path = p;
      offset = o;
    }
  }
  ASSERT_FALSE(path.empty());
  const size_t fe = edited.offsetOf(readLe32(edited.bytes.data() + edited.fid("/Many") + 24));
  const size_t ad = fe + 176 + readLe32(edited.bytes.data() + fe + 168);
  ASSERT_EQ(readLe32(edited.bytes.data() + fe + 172), 8u);
  const uint32_t length = readLe32(edited.bytes.data() + ad), first = readLe32(edited.bytes.data() + ad + 4);
  const uint32_t split = static_cast<uint32_t>(offset / kSector - edited.offsetOf(first) / kSector + 1);  // blocks kept
  const uint32_t rest = length - split * 2048, restBlocks = (rest + 2047) / 2048;
  const uint32_t moved = edited.appendBlocks(restBlocks);
  // Identifiers that start in the moved blocks name their new block.
  const size_t stream = edited.offsetOf(first);
  for (size_t pos = 0; pos < length;) {
    const uint8_t* d = edited.bytes.data() + stream + pos;
    const size_t size = (38 + readLe16(d + 36) + d[19] + 3) & ~size_t{3};
    if (pos >= split * kSector) {
      put32(edited.bytes, stream + pos + 12, moved + static_cast<uint32_t>((pos - split * kSector) / kSector));
      udf::retag(edited.bytes.data() + stream + pos);
    }
    pos += size;
  }
  const auto from = edited.bytes.begin() + static_cast<long>(edited.offsetOf(first + split));
  std::copy_n(from, restBlocks * kSector, edited.bytes.begin() + static_cast<long>(edited.offsetOf(moved)));
  std::fill_n(from, restBlocks * kSector, 0);
  put32(edited.bytes, ad, split * 2048);
  put32(edited.bytes, ad + 8, rest);
  put32(edited.bytes, ad + 12, moved);
  put32(edited.bytes, fe + 172, 16);
  put16(edited.bytes, fe + 10, static_cast<uint16_t>(readLe16(edited.bytes.data() + fe + 10) + 8));
  udf::retag(edited.bytes.data() + fe);

  TempDir dir;
  const fs::path image = edited.save(dir);
  ASSERT_EQ(udfReference(image).folders.at(path).offsets.at(0), offset);
  {
    ImageFile file;
    ASSERT_FALSE(file.open(image.string(), ImageFile::Mode::ReadWrite));
    const auto reader = findUdfTree(file);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->problem(), "");
    std::vector<BytePatch> patches;
    ASSERT_FALSE(reader->planHidden(file, offset, true, patches));
    EXPECT_GE(patches.size(), 2u);
    for (const BytePatch& p : patches) ASSERT_TRUE(file.writeAt(p.offset, p.bytes.data(), p.bytes.size()));
    ASSERT_TRUE(file.sync());
  }
  // Byte k of the identifier: in the kept block, or moved along with the next one.
  const uint64_t splitAt = edited.offsetOf(first + split);
  auto at = [&](uint64_t k) { return offset + k < splitAt ? offset + k : edited.offsetOf(moved) + (offset + k - splitAt); };
  const uint64_t flags = at(18);
  const std::set<uint64_t> allowed{at(4), at(8), at(9), flags};
  const Bytes after = readBytes(image);
  for (size_t i = 0; i < after.size(); ++i)
    if (after[i] != edited.bytes[i]) {
      EXPECT_TRUE(allowed.count(i)) << "unexpected change at " << i;
    }
  EXPECT_EQ(after[static_cast<size_t>(flags)], 0x03);
  EXPECT_EQ(udfReference(image).folders.at(path).characteristics, 0x03u) << "the reference reader checks the CRC";
}

TEST(AppleTree, HybridImagesGetANotice) {
  TempDir dir;
  writeFile(dir / "src" / "a" / "f.txt", "f\n");
  const struct {
    const char* name;
    std::string command;
    bool notice;
  } cases[] = {
      {"genisoimage -hfs", genisoimage() + " -quiet -hfs -J", true},
      {"xorriso -hfsplus", xorriso() + " -as mkisofs -quiet -hfsplus -J", true},
      {"genisoimage -udf", genisoimage() + " -quiet -udf -J", false},
      {"xorriso", xorriso() + " -as mkisofs -quiet -J", false},
  };
  for (const auto& c : cases) {
    const fs::path image = dir / "x.iso";
    ASSERT_EQ(runImageMaker(c.command + " -o " + quote(image.string()) + " " + quote((dir / "src").string()), image), 0)
        << c.name;
    ImageFile file;
    ASSERT_FALSE(file.open(image.string(), ImageFile::Mode::ReadOnly));
    const std::string notice = appleTreeNotice(file);
    EXPECT_EQ(!notice.empty(), c.notice) << c.name << ": " << notice;
    if (c.notice) {
      EXPECT_NE(notice.find("HFS"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace umbra
