#include "engine/hfs/AppleTreeNotice.h"

#include <cstdint>
#include <cstring>

#include "base/ByteOrder.h"

namespace umbra {

namespace {

constexpr uint64_t kVolumeHeaderOffset = 1024;  // HFS master directory block or HFS+ volume header
constexpr uint32_t kMaxMapEntries = 64;
constexpr size_t kMapCountOffset = 4, kPartitionTypeOffset = 48, kPartitionTypeSize = 32;

bool readExact(const ImageFile& file, uint64_t offset, uint8_t* out, size_t n) {
  size_t got = 0;
  return file.readAt(offset, out, n, got) && got == n;
}

bool hasVolumeHeader(const ImageFile& file) {
  uint8_t sig[2];
  if (!readExact(file, kVolumeHeaderOffset, sig, sizeof sig)) return false;
  return (sig[0] == 'B' && sig[1] == 'D') || (sig[0] == 'H' && (sig[1] == '+' || sig[1] == 'X'));
}

// An Apple partition map ("ER" in block 0, "PM" entries from block 1, in blocks of the size
// block 0 gives) with an HFS partition in it.
bool hasHfsPartition(const ImageFile& file) {
  uint8_t ddm[4];
  if (!readExact(file, 0, ddm, sizeof ddm) || ddm[0] != 'E' || ddm[1] != 'R') return false;
  const uint32_t blockSize = readBe16(ddm + 2);
  if (blockSize < 512 || blockSize > 4096) return false;
  uint32_t count = 1;
  for (uint32_t i = 1; i <= count && i <= kMaxMapEntries; ++i) {
    uint8_t entry[kPartitionTypeOffset + kPartitionTypeSize];
    if (!readExact(file, uint64_t{i} * blockSize, entry, sizeof entry) || entry[0] != 'P' || entry[1] != 'M')
      return false;
    count = readBe32(entry + kMapCountOffset);
    if (std::memcmp(entry + kPartitionTypeOffset, "Apple_HFS", 9) == 0) return true;
  }
  return false;
}

}  // namespace

std::string appleTreeNotice(const ImageFile& file) {
  if (!hasHfsPartition(file) && !hasVolumeHeader(file)) return {};
  return "This image also holds an HFS tree for Macs, which Umbradisc does not change: its folders stay visible "
         "to readers of that tree.";
}

}  // namespace umbra
