#include "engine/udf/UdfAnchor.h"

#include <cstring>
#include <string>
#include <vector>

#include "engine/udf/UdfTag.h"

namespace umbra::udf {

namespace {

// The volume recognition sequence (ECMA-167 part 2): BEA01 (2/9.2), NSR02 or NSR03 (3/9.1), TEA01 (2/9.3).
constexpr uint32_t kFirstStructureSector = 16;
constexpr uint32_t kMaxStructureSectors = 64;  // more than any real mix of ISO and UDF descriptors
constexpr uint32_t kAnchorSector = 256;        // UDF 2.2.3: the anchor stands at 256 (and at the last sector)
// The Anchor Volume Descriptor Pointer (3/10.2): the main and reserve sequence extents.
constexpr size_t kMainSequenceOffset = 16, kReserveSequenceOffset = 24;

bool isKnownStructure(const char* id) {
  static const char* const known[] = {"CD001", "BEA01", "NSR02", "NSR03", "TEA01", "BOOT2", "CDW02"};
  for (const char* k : known)
    if (std::memcmp(id, k, 5) == 0) return true;
  return false;
}

}  // namespace

int UdfAnchor::recognitionVersion(const ImageFile& file) {
  bool extended = false;
  int version = 0;
  for (uint32_t i = 0; i < kMaxStructureSectors; ++i) {
    char head[7];
    if (!readExact(file, uint64_t{kFirstStructureSector + i} * kBlockSize, head, sizeof head)) break;
    const char* id = head + 1;
    if (!isKnownStructure(id)) break;
    if (std::memcmp(id, "BEA01", 5) == 0) extended = true;
    if (std::memcmp(id, "TEA01", 5) == 0) {
      if (version) return version;
      extended = false;
    }
    if (extended && std::memcmp(id, "NSR0", 4) == 0 && (id[4] == '2' || id[4] == '3')) version = id[4] - '0';
  }
  return 0;
}

Error UdfAnchor::read(const ImageFile& file) {
  const uint64_t sectors = file.size() / kBlockSize;
  std::vector<uint64_t> places{kAnchorSector};
  if (sectors > 0) places.push_back(sectors - 1);
  if (sectors > kAnchorSector + 1) places.push_back(sectors - 1 - kAnchorSector);
  std::string why = "no anchor at sector 256 or at the end of the image";
  uint8_t block[512];
  for (const uint64_t place : places) {
    if (place > UINT32_MAX || (place != kAnchorSector && place <= kAnchorSector)) continue;
    if (!readExact(file, place * kBlockSize, block, sizeof block)) continue;
    std::string bad;
    if (!checkTag(block, sizeof block, kTagAnchor, static_cast<uint32_t>(place), "anchor", bad)) continue;
    m_sector = static_cast<uint32_t>(place);
    m_main = {readLe32(block + kMainSequenceOffset), readLe32(block + kMainSequenceOffset + 4)};
    m_reserve = {readLe32(block + kReserveSequenceOffset), readLe32(block + kReserveSequenceOffset + 4)};
    return {};
  }
  return damaged(why);
}

}  // namespace umbra::udf
