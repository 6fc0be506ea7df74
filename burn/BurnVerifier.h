#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace umbra {

class BlockReader;

// Blocks as discs count them: the unit a differing spot is named in.
constexpr std::uint64_t kDiscBlockSize = 2048;

// How thoroughly Windows' recording service (IMAPI2) checks a disc as part of the write; the values
// are IMAPI_BURN_VERIFICATION_LEVEL's. libburn's read-back always compares every byte.
enum class VerifyLevel { None = 0, Quick = 1, Full = 2 };

enum class VerifyOutcome {
  Matches,          // the disc holds the image's bytes from its start on
  Differs,          // a block differs, or the disc ends before the image
  ImageUnreadable,  // the image could not be read (reason)
  DiscUnreadable,   // the disc could not be read back (reason)
  Cancelled
};

struct VerifyResult {
  VerifyOutcome outcome = VerifyOutcome::Matches;
  std::uint64_t imageBytes = 0;
  std::uint64_t discBytes = 0;            // what the disc lets be read
  std::uint64_t firstDifferingBlock = 0;  // with Differs: the first block that differs or that the disc lacks
  std::string imageSha256;                // of the image, with Matches and Differs (hexadecimal)
  std::string discSha256;                 // of as many bytes of the disc, as far as it reaches
  std::string reason;                     // with the unreadable outcomes: why, naming the file or drive
  // Quick or Full when Windows' recording service checked the disc during the write instead: it gives
  // a verdict only, with no hashes and no block (firstDifferingBlock then means nothing).
  VerifyLevel checkedByWindows = VerifyLevel::None;
};

// Reads the image and the disc side by side in chunks and compares them: the disc matches when it
// holds at least the image's length and those bytes have the image's SHA-256; what follows on the
// disc (a drive's padding, the rest of a rewritable medium) is not the image's and is not read.
// percent runs from 0 to 100; cancelRequested, when set, is polled between chunks.
VerifyResult compareWithImage(BlockReader& image, BlockReader& disc, const std::function<void(int)>& percent = {},
                              const std::function<bool()>& cancelRequested = {});

// The sentence the user sees for a result.
std::string verifyMessage(const VerifyResult& result);

}  // namespace umbra
