#include "BurnVerifier.h"

#include "BlockReader.h"
#include "Sha256.h"

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

namespace umbra {

namespace {

// 32 blocks a read: large enough for a drive to stream, small enough to answer a cancel promptly.
constexpr std::uint64_t kChunkBytes = 32 * kDiscBlockSize;
constexpr int kPercentDone = 100;

// The offset of the first byte where the two differ; size when they are equal.
std::uint64_t firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                              std::uint64_t size) {
  const auto end = a.begin() + static_cast<std::ptrdiff_t>(size);
  return static_cast<std::uint64_t>(std::mismatch(a.begin(), end, b.begin()).first - a.begin());
}

}  // namespace

VerifyResult compareWithImage(BlockReader& image, BlockReader& disc, const std::function<void(int)>& percent,
                              const std::function<bool()>& cancelRequested) {
  VerifyResult result;
  result.imageBytes = image.size();
  result.discBytes = disc.size();
  const std::uint64_t common = std::min(result.imageBytes, result.discBytes);
  std::optional<std::uint64_t> firstDiffering;
  Sha256 imageHash;
  Sha256 discHash;
  std::vector<std::uint8_t> imageChunk(kChunkBytes);
  std::vector<std::uint8_t> discChunk(kChunkBytes);
  int shown = 0;
  if (percent) percent(shown);
  for (std::uint64_t offset = 0; offset < common; offset += kChunkBytes) {
    if (cancelRequested && cancelRequested()) {
      result.outcome = VerifyOutcome::Cancelled;
      return result;
    }
    if (percent) {
      const int now = static_cast<int>(offset * kPercentDone / common);
      if (now > shown) percent(shown = now);
    }
    const auto size = static_cast<std::size_t>(std::min(kChunkBytes, common - offset));  // at most a chunk
    if (!image.read(offset, std::span(imageChunk.data(), size), result.reason)) {
      result.outcome = VerifyOutcome::ImageUnreadable;
      return result;
    }
    if (!disc.read(offset, std::span(discChunk.data(), size), result.reason)) {
      result.outcome = VerifyOutcome::DiscUnreadable;
      return result;
    }
    imageHash.add(std::span(imageChunk.data(), size));
    discHash.add(std::span(discChunk.data(), size));
    const std::uint64_t at = firstDifference(imageChunk, discChunk, size);
    if (!firstDiffering && at < size) firstDiffering = (offset + at) / kDiscBlockSize;
  }
  // The disc lacks the image's end: its hash would be of a shorter message, so the image's is read on.
  std::vector<std::uint8_t>& chunk = imageChunk;
  for (std::uint64_t offset = common; offset < result.imageBytes; offset += kChunkBytes) {
    const auto size = static_cast<std::size_t>(std::min(kChunkBytes, result.imageBytes - offset));
    if (!image.read(offset, std::span(chunk.data(), size), result.reason)) {
      result.outcome = VerifyOutcome::ImageUnreadable;
      return result;
    }
    imageHash.add(std::span(chunk.data(), size));
  }
  if (!firstDiffering && result.discBytes < result.imageBytes) firstDiffering = result.discBytes / kDiscBlockSize;

  result.imageSha256 = Sha256::hex(imageHash.finish());
  result.discSha256 = Sha256::hex(discHash.finish());
  if (firstDiffering) {
    result.outcome = VerifyOutcome::Differs;
    result.firstDifferingBlock = *firstDiffering;
  } else {
    result.outcome = VerifyOutcome::Matches;
  }
  if (percent && shown < kPercentDone) percent(kPercentDone);
  return result;
}

namespace {

// What Windows' own check at this level looked at, as Microsoft describes its levels.
std::string windowsCheck(VerifyLevel level) {
  return level == VerifyLevel::Full ? "Windows' full verification (the whole session read back against the image)"
                                    : "Windows' quick verification (the disc's layout and a sample of its sectors "
                                      "against the image)";
}

}  // namespace

std::string verifyMessage(const VerifyResult& result) {
  const VerifyLevel windows = result.checkedByWindows;
  switch (result.outcome) {
    case VerifyOutcome::Matches:
      if (windows != VerifyLevel::None) return "The disc matches the image.\nChecked by " + windowsCheck(windows) + ".";
      return "The disc matches the image.";
    case VerifyOutcome::Differs:
      if (windows != VerifyLevel::None)
        return "The disc does not match the image: " + windowsCheck(windows) +
               " failed. Windows does not say which block differs.";
      if (result.discBytes < result.imageBytes && result.firstDifferingBlock == result.discBytes / kDiscBlockSize)
        return "The disc does not match the image: it ends at block " + std::to_string(result.firstDifferingBlock) +
               ", before the image's end (blocks of 2048 bytes, counted from 0).";
      return "The disc does not match the image: block " + std::to_string(result.firstDifferingBlock) +
             " is the first that differs (blocks of 2048 bytes, counted from 0).";
    case VerifyOutcome::ImageUnreadable:
      return "The disc could not be compared with the image: " + result.reason + ".";
    case VerifyOutcome::DiscUnreadable:
      return "The disc could not be read back: " + result.reason + ".";
    case VerifyOutcome::Cancelled:
      break;
  }
  return "The check of the disc was cancelled.";
}

}  // namespace umbra
