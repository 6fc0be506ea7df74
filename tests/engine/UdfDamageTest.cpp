// Damaged and unusual UDF trees: the reader says what is wrong (or falls back to the anchor's
// and the descriptor sequence's other copies), never crashes, loops or plans a write on a
// record it cannot prove.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <random>

#include "TestImages.h"
#include "UdfFixtures.h"
#include "base/ByteOrder.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfTag.h"
#include "engine/udf/UdfTreeReader.h"

namespace umbra {
namespace {

using namespace test;
using Bytes = std::vector<uint8_t>;

constexpr size_t kSector = 2048;

uint32_t get32(const Bytes& b, size_t at) { return readLe32(b.data() + at); }
void put32(Bytes& b, size_t at, uint32_t v) { writeLe32(b.data() + at, v); }
void retagAt(Bytes& b, size_t at) { udf::retag(b.data() + at); }

// Sectors of the volume descriptors with this tag, in the main and the reserve sequence.
std::vector<size_t> descriptors(const Bytes& b, uint16_t ident) {
  std::vector<size_t> found;
  for (size_t s = 32; s < 64; ++s)
    if (readLe16(b.data() + s * kSector) == ident) found.push_back(s);
  return found;
}

uint32_t partitionStart(const Bytes& b) { return get32(b, descriptors(b, udf::kTagPartition).at(0) * kSector + 188); }

// The image offset of a file entry an identifier points at (type 1 partition only).
size_t entryOf(const Bytes& b, size_t fid) { return (partitionStart(b) + size_t{get32(b, fid + 24)}) * kSector; }

struct Image {
  Bytes bytes;
  UdfReference ref;
  size_t fid(const std::string& path) const { return static_cast<size_t>(ref.folders.at(path).offsets.at(0)); }
};

struct DamageCase {
  const char* name;
  const char* fixture;
  std::function<void(Image&)> damage;
  const char* problem;  // expected part of problem(), "" when the reader copes
};

const DamageCase kCases[] = {
    {"identifier checksum", "geniso", [](Image& i) { i.bytes[i.fid("/Beta") + 4] ^= 0x5A; }, "wrong tag checksum"},
    {"identifier CRC", "geniso", [](Image& i) { i.bytes[i.fid("/Beta") + 39] = 'C'; }, "wrong CRC"},
    {"identifier location", "geniso",
     [](Image& i) {
       put32(i.bytes, i.fid("/Beta") + 12, 7);
       retagAt(i.bytes, i.fid("/Beta"));
     },
     "names another block"},
    {"folder outside the partition", "geniso",
     [](Image& i) {
       put32(i.bytes, i.fid("/Beta") + 24, 0x00FFFFFF);
       retagAt(i.bytes, i.fid("/Beta"));
     },
     "outside the volume"},
    {"folder past the end of the image", "geniso",
     [](Image& i) {
       for (size_t s : descriptors(i.bytes, udf::kTagPartition)) {
         put32(i.bytes, s * kSector + 192, 0x7FFFFFFF);
         retagAt(i.bytes, s * kSector);
       }
       put32(i.bytes, i.fid("/Beta") + 24, 0x00FFFFFF);
       retagAt(i.bytes, i.fid("/Beta"));
     },
     "past the end of the image"},
    {"directory entry CRC", "geniso", [](Image& i) { i.bytes[entryOf(i.bytes, i.fid("/Beta")) + 100] ^= 1; },
     "wrong CRC"},
    {"directory longer than allowed", "geniso",
     [](Image& i) {
       const size_t fe = entryOf(i.bytes, i.fid("/Beta"));
       put32(i.bytes, fe + 60, 0x100);  // information length 2^40
       retagAt(i.bytes, fe);
     },
     "is too large"},
    {"folder loop", "geniso",
     [](Image& i) {
       const size_t fsd = size_t{partitionStart(i.bytes)} * kSector;
       put32(i.bytes, i.fid("/Beta/Sub") + 24, get32(i.bytes, fsd + 404));  // Sub -> root
       retagAt(i.bytes, i.fid("/Beta/Sub"));
     },
     "reached twice"},
    {"continuation extent that is not one", "geniso",
     [](Image& i) {
       const size_t fe = entryOf(i.bytes, i.fid("/Beta"));
       const size_t ad = fe + 176 + get32(i.bytes, fe + 168);
       put32(i.bytes, ad, get32(i.bytes, ad) | 0xC0000000u);  // its extent, now a continuation
       retagAt(i.bytes, fe);
     },
     "allocation extent"},
    {"anchor missing at 256", "geniso", [](Image& i) { std::fill_n(i.bytes.begin() + 256 * kSector, kSector, 0); },
     ""},
    {"no anchor at all", "geniso",
     [](Image& i) {
       std::fill_n(i.bytes.begin() + 256 * kSector, kSector, 0);
       std::fill_n(i.bytes.end() - static_cast<long>(kSector), kSector, 0);
     },
     "no anchor"},
    {"main descriptor sequence damaged", "geniso",
     [](Image& i) { i.bytes[descriptors(i.bytes, udf::kTagLogicalVolume).at(0) * kSector + 100] ^= 1; }, ""},
    {"both descriptor sequences damaged", "geniso",
     [](Image& i) {
       for (size_t s : descriptors(i.bytes, udf::kTagLogicalVolume)) i.bytes[s * kSector + 100] ^= 1;
     },
     "wrong CRC"},
    {"image cut short", "geniso", [](Image& i) { i.bytes.resize(270 * kSector); }, "past the end of the image"},
    {"block size 4096", "geniso",
     [](Image& i) {
       for (size_t s : descriptors(i.bytes, udf::kTagLogicalVolume)) {
         put32(i.bytes, s * kSector + 212, 4096);
         retagAt(i.bytes, s * kSector);
       }
     },
     "not supported"},
    {"virtual partition", "meta",
     [](Image& i) {
       for (size_t s : descriptors(i.bytes, udf::kTagLogicalVolume)) {
         const size_t map = s * kSector + 440 + 6;  // the second map
         const char ident[] = "*UDF Virtual Partition";
         std::fill_n(i.bytes.begin() + static_cast<long>(map + 5), 23, 0);
         std::copy(ident, ident + sizeof ident - 1, i.bytes.begin() + static_cast<long>(map + 5));
         retagAt(i.bytes, s * kSector);
       }
     },
     "not supported"},
    {"metadata mirror file damaged", "meta",
     [](Image& i) {
       // The mirror's file entry sits right after the metadata file's entry.
       for (size_t s = 257; s < i.bytes.size() / kSector; ++s)
         if (readLe16(i.bytes.data() + s * kSector) == udf::kTagExtendedFileEntry && i.bytes[s * kSector + 27] == 251)
           i.bytes[s * kSector + 200] ^= 1;
     },
     "wrong CRC"},
};

void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class UdfDamage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(UdfDamage, IsReportedOrOvercome) {
  const DamageCase& c = GetParam();
  const UdfFixture& f = udfFixture(c.fixture);
  Image image{readBytes(f.image), udfReference(f.image)};
  c.damage(image);
  TempDir dir;
  writeFile(dir / "d.iso", std::string(image.bytes.begin(), image.bytes.end()));
  ImageFile file;
  ASSERT_FALSE(file.open((dir / "d.iso").string(), ImageFile::Mode::ReadOnly));
  const auto reader = findUdfTree(file);
  ASSERT_TRUE(reader);
  const std::vector<TreeFolder>& folders = reader->folders();
  if (*c.problem == '\0') {
    EXPECT_EQ(reader->problem(), "");
    EXPECT_EQ(folders.size(), image.ref.folders.size() + 1);
    return;
  }
  EXPECT_NE(reader->problem().find(c.problem), std::string::npos) << reader->problem();
  EXPECT_TRUE(folders.empty());
  HiddenMark hidden = HiddenMark::None;
  std::vector<BytePatch> patches;
  EXPECT_TRUE(reader->readHidden(file, image.fid("/Beta"), hidden));
  EXPECT_TRUE(reader->planHidden(file, image.fid("/Beta"), true, patches));
  EXPECT_TRUE(patches.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, UdfDamage, ::testing::ValuesIn(kCases), [](const ::testing::TestParamInfo<DamageCase>& param) {
  std::string name;
  for (const char* p = param.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
});

// A record damaged after the tree was read is not planned on; the other copy still is.
TEST(UdfDamageAfterOpen, OnlyTheDamagedCopyIsRefused) {
  TempDir dir;
  const fs::path image = dir / "m.iso";
  fs::copy_file(udfFixture("meta").image, image);
  ImageFile file;
  ASSERT_FALSE(file.open(image.string(), ImageFile::Mode::ReadWrite));
  const auto reader = findUdfTree(file);
  ASSERT_TRUE(reader);
  ASSERT_EQ(reader->problem(), "");
  const std::vector<uint64_t> offsets = udfReference(image).folders.at("/Beta").offsets;
  ASSERT_EQ(offsets.size(), 2u);
  const uint8_t bad = 0x77;
  ASSERT_TRUE(file.writeAt(offsets[1] + 39, &bad, 1));  // the mirror copy's name, CRC now wrong
  std::vector<BytePatch> patches;
  HiddenMark hidden = HiddenMark::None;
  EXPECT_FALSE(reader->planHidden(file, offsets[0], true, patches));
  EXPECT_FALSE(patches.empty());
  const Error error = reader->planHidden(file, offsets[1], true, patches);
  EXPECT_NE(error.reason.find("wrong CRC"), std::string::npos) << error.message();
  EXPECT_TRUE(patches.empty());
  EXPECT_TRUE(reader->readHidden(file, offsets[1], hidden));
  EXPECT_TRUE(reader->readHidden(file, offsets[0] + 4, hidden)) << "not the start of a record";
}

// Random damage anywhere in the UDF structures: a reader without a problem must then be able to
// list every folder and read every record it reported.
TEST(UdfRandomDamage, ReaderStaysConsistent) {
  for (const char* name : {"geniso", "meta_embedded"}) {
    const Bytes original = readBytes(udfFixture(name).image);
    std::mt19937 random(12);
    TempDir dir;
    const fs::path path = dir / "r.iso";
    int usable = 0;
    for (int round = 0; round < 150; ++round) {
      Bytes bytes = original;
      std::uniform_int_distribution<size_t> where(19 * kSector, bytes.size() - 1);
      for (int k = 0; k < 4; ++k) bytes[where(random)] ^= static_cast<uint8_t>(1u << (random() % 8));
      writeFile(path, std::string(bytes.begin(), bytes.end()));
      ImageFile file;
      ASSERT_FALSE(file.open(path.string(), ImageFile::Mode::ReadOnly));
      const auto reader = findUdfTree(file);
      if (!reader || !reader->problem().empty()) continue;
      ++usable;
      const std::vector<TreeFolder>& folders = reader->folders();
      for (size_t i = 0; i < folders.size(); ++i) {
        std::vector<TreeEntry> entries;
        if (reader->listFolder(file, static_cast<int>(i), entries)) continue;  // entries' own FEs may be hit
        for (const TreeEntry& entry : entries)
          for (uint64_t offset : entry.isFolder ? entry.recordOffsets : std::vector<uint64_t>{}) {
            HiddenMark hidden = HiddenMark::Hidden;
            EXPECT_FALSE(reader->readHidden(file, offset, hidden)) << name << " round " << round;
            EXPECT_EQ(hidden, HiddenMark::None);
          }
      }
    }
    EXPECT_GT(usable, 0) << name << ": damage outside the tree leaves it usable";
  }
}

}  // namespace
}  // namespace umbra
