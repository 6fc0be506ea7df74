// The read-ahead windows and the memory they live in.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "TestImages.h"
#include "engine/io/ImageFile.h"
#include "engine/io/WindowMemory.h"

using umbra::ImageFile;
using umbra::WindowMemory;

namespace {

constexpr size_t kUnit = WindowMemory::kUnit;

TEST(WindowMemory, HandsOutRunsOfFreeSectorsAndTakesThemBack) {
  WindowMemory memory(8 * kUnit);
  uint8_t* a = memory.take(3 * kUnit);
  uint8_t* b = memory.take(2 * kUnit);
  uint8_t* c = memory.take(3 * kUnit);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  // Pieces never overlap, and each lies wholly inside the region.
  EXPECT_GE(b, a + 3 * kUnit);
  EXPECT_GE(c, b + 2 * kUnit);
  EXPECT_TRUE(memory.holds(c + 3 * kUnit - 1));
  EXPECT_EQ(memory.take(1), nullptr) << "full";
  memory.give(b, 2 * kUnit);
  EXPECT_EQ(memory.take(3 * kUnit), nullptr) << "two free sectors between used ones hold no run of three";
  EXPECT_EQ(memory.take(kUnit + 1), b) << "a piece of a sector and a byte needs two sectors: b's";
  memory.give(a, 3 * kUnit);
  memory.give(c, 3 * kUnit);
  EXPECT_EQ(memory.take(9 * kUnit), nullptr) << "larger than the region";
  for (const size_t sectors : {3, 3}) {
    uint8_t* d = memory.take(sectors * kUnit);
    ASSERT_NE(d, nullptr);
    std::memset(d, 0xA5, sectors * kUnit);  // the memory is there to be written
  }
  uint8_t local = 0;
  EXPECT_FALSE(memory.holds(&local));
  memory.give(&local, 1);  // not the region's: ignored
  EXPECT_EQ(memory.take(kUnit), nullptr) << "still full: the piece given back was not the region's";
}

// Reads of every size at random places through a cache far smaller than what is read, so that
// windows are evicted, the region fragments and some windows live on the heap: every read gives the
// file's own bytes.
TEST(ImageFileReadAhead, ReadsTheFilesBytesThroughEvictionsAndFragmentedMemory) {
  umbra::test::TempDir dir;
  std::mt19937 random(7);
  std::string content(3 << 20, '\0');
  for (char& c : content) c = static_cast<char>(random());
  const auto path = dir.path() / "image.bin";
  umbra::test::writeFile(path, content);

  for (const uint64_t budget : {uint64_t{64} << 10, uint64_t{1} << 20}) {
    SCOPED_TRACE(budget);
    ImageFile file(budget);
    ASSERT_FALSE(file.open(path.string(), ImageFile::Mode::ReadOnly));
    std::vector<uint8_t> buffer(40 << 10);
    for (int i = 0; i < 4000; ++i) {
      // Walks in order (which grow windows) and jumps, small reads and large.
      const uint64_t offset = i % 3 == 0 ? (i * 2048u) % content.size() : random() % content.size();
      const size_t n = 1 + random() % (i % 5 == 0 ? buffer.size() : 4096);
      size_t got = 0;
      ASSERT_TRUE(file.readAt(offset, buffer.data(), n, got));
      ASSERT_EQ(got, std::min<uint64_t>(n, content.size() - offset));
      ASSERT_EQ(std::memcmp(buffer.data(), content.data() + offset, got), 0) << "offset " << offset << " n " << n;
    }
  }
}

}  // namespace
