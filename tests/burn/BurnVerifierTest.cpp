#include "burn/BlockReader.h"
#include "burn/BurnVerifier.h"
#include "burn/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

using namespace umbra;

namespace {

std::string sha256Of(const std::string& text, size_t piece) {
  Sha256 hash;
  for (size_t at = 0; at < text.size(); at += piece) {
    const std::string part = text.substr(at, piece);
    hash.add(std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size()));
  }
  return Sha256::hex(hash.finish());
}

// Digests from FIPS 180-4's examples and from Python's hashlib; lengths 55, 56 and 64 end the padding
// in the last block, cross into a second one, or fill one exactly.
TEST(Sha256Test, KnownDigestsWhateverThePiecesTheMessageComesIn) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{65}, size_t{100000}}) {
      SCOPED_TRACE(std::to_string(c.message.size()) + " bytes in pieces of " + std::to_string(piece));
      EXPECT_EQ(sha256Of(c.message, piece), c.digest);
    }
  }
}

TEST(Sha256Test, StartsOverAfterFinish) {
  Sha256 hash;
  const std::uint8_t text[] = {'a', 'b', 'c'};
  hash.add(text);
  hash.finish();
  hash.add(text);
  EXPECT_EQ(Sha256::hex(hash.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Bytes in memory standing in for an image or a disc; a read touching failingBlock fails.
class MemoryReader : public BlockReader {
 public:
  explicit MemoryReader(std::vector<std::uint8_t> bytes, std::optional<std::uint64_t> failingBlock = {})
      : m_bytes(std::move(bytes)), m_failingBlock(failingBlock) {}

  std::uint64_t size() const override { return m_bytes.size(); }

  bool read(std::uint64_t offset, std::span<std::uint8_t> into, std::string& reason) override {
    if (offset % kDiscBlockSize != 0 || offset + into.size() > m_bytes.size()) {
      reason = "read out of range";
      return false;
    }
    if (m_failingBlock && *m_failingBlock >= offset / kDiscBlockSize &&
        *m_failingBlock * kDiscBlockSize < offset + into.size()) {
      reason = "block " + std::to_string(*m_failingBlock) + " cannot be read";
      return false;
    }
    std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
    return true;
  }

 private:
  std::vector<std::uint8_t> m_bytes;
  std::optional<std::uint64_t> m_failingBlock;
};

std::vector<std::uint8_t> patterned(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 2048);
  return bytes;
}

std::string sha256Of(const std::vector<std::uint8_t>& bytes) {
  Sha256 hash;
  hash.add(bytes);
  return Sha256::hex(hash.finish());
}

// 100 blocks and a partial one: more than one chunk of reading, and an end off the block grid.
constexpr std::uint64_t kImageBytes = 100 * kDiscBlockSize + 300;

struct DiscCase {
  const char* name;
  std::vector<std::uint8_t> disc;
  std::optional<std::uint64_t> failingBlock;
  VerifyOutcome outcome;
  std::uint64_t firstDifferingBlock;  // with Differs
  const char* messagePart;
};

std::vector<std::uint8_t> withFlips(std::vector<std::uint8_t> bytes, std::initializer_list<std::size_t> offsets) {
  for (const std::size_t offset : offsets) bytes[offset] ^= 0x01;
  return bytes;
}

std::vector<std::uint8_t> resized(std::vector<std::uint8_t> bytes, std::size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

TEST(CompareWithImageTest, OutcomeFirstDifferingBlockAndMessage) {
  const std::vector<std::uint8_t> image = patterned(kImageBytes);
  const DiscCase cases[] = {
      {"identical", image, {}, VerifyOutcome::Matches, 0, "The disc matches the image."},
      {"padded to whole blocks and beyond",
       resized(image, 128 * kDiscBlockSize),
       {},
       VerifyOutcome::Matches,
       0,
       "The disc matches the image."},
      {"first byte", withFlips(image, {0}), {}, VerifyOutcome::Differs, 0, "block 0 is the first that differs"},
      // Block 33 lies in the second chunk read; the later difference does not hide it.
      {"two blocks, the first named",
       withFlips(image, {33 * kDiscBlockSize + 2047, 70 * kDiscBlockSize}),
       {},
       VerifyOutcome::Differs,
       33,
       "block 33 is the first that differs"},
      {"last byte of the image",
       withFlips(image, {kImageBytes - 1}),
       {},
       VerifyOutcome::Differs,
       100,
       "block 100 is the first that differs"},
      {"disc ends early",
       resized(image, 60 * kDiscBlockSize),
       {},
       VerifyOutcome::Differs,
       60,
       "it ends at block 60, before the image's end"},
      {"disc ends early after a difference",
       resized(withFlips(image, {5 * kDiscBlockSize}), 60 * kDiscBlockSize),
       {},
       VerifyOutcome::Differs,
       5,
       "block 5 is the first that differs"},
      {"empty disc", {}, {}, VerifyOutcome::Differs, 0, "it ends at block 0"},
      {"unreadable block", image, 40, VerifyOutcome::DiscUnreadable, 0,
       "The disc could not be read back: block 40 cannot be read."},
  };
  for (const DiscCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryReader imageReader(image);
    MemoryReader discReader(c.disc, c.failingBlock);
    const VerifyResult result = compareWithImage(imageReader, discReader);
    EXPECT_EQ(result.outcome, c.outcome);
    if (c.outcome == VerifyOutcome::Differs) {
      EXPECT_EQ(result.firstDifferingBlock, c.firstDifferingBlock);
      EXPECT_NE(result.imageSha256, result.discSha256);
    }
    if (c.outcome == VerifyOutcome::Matches || c.outcome == VerifyOutcome::Differs) {
      EXPECT_EQ(result.imageSha256, sha256Of(image));
      const auto compared = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(c.disc.size(), kImageBytes));
      EXPECT_EQ(result.discSha256, sha256Of(std::vector(c.disc.begin(), c.disc.begin() + compared)));
    }
    EXPECT_NE(verifyMessage(result).find(c.messagePart), std::string::npos) << verifyMessage(result);
  }
}

TEST(CompareWithImageTest, AnUnreadableImageIsNotBlamedOnTheDisc) {
  const std::vector<std::uint8_t> image = patterned(kImageBytes);
  MemoryReader imageReader(image, 3);
  MemoryReader discReader(image);
  const VerifyResult result = compareWithImage(imageReader, discReader);
  EXPECT_EQ(result.outcome, VerifyOutcome::ImageUnreadable);
  EXPECT_EQ(verifyMessage(result), "The disc could not be compared with the image: block 3 cannot be read.");
}

TEST(CompareWithImageTest, ProgressRisesToOneHundredAndACancelStopsTheReading) {
  const std::vector<std::uint8_t> image = patterned(kImageBytes);
  MemoryReader imageReader(image);
  MemoryReader discReader(image);
  std::vector<int> percents;
  EXPECT_EQ(compareWithImage(imageReader, discReader, [&](int p) { percents.push_back(p); }).outcome,
            VerifyOutcome::Matches);
  ASSERT_GE(percents.size(), 3u);
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));

  int polls = 0;
  const VerifyResult cancelled = compareWithImage(imageReader, discReader, {}, [&] { return ++polls == 2; });
  EXPECT_EQ(cancelled.outcome, VerifyOutcome::Cancelled);
  EXPECT_EQ(polls, 2);
  EXPECT_EQ(verifyMessage(cancelled), "The check of the disc was cancelled.");
}

}  // namespace
