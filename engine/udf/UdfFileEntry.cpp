#include "engine/udf/UdfFileEntry.h"

#include <string>

#include "engine/udf/UdfTag.h"

namespace umbra::udf {

namespace {

// ICB tag fields (ECMA-167 4/14.6: strategy 4/14.6.2, file type 4/14.6.6, flags 4/14.6.8), counted
// from the start of the entry; then the File Entry (4/14.9) and Extended File Entry (4/14.17) fields.
constexpr size_t kStrategyOffset = 20, kFileTypeOffset = 27, kIcbFlagsOffset = 34;
constexpr size_t kInformationLengthOffset = 56;
constexpr size_t kFileEntryModified = 84, kFileEntryEaLength = 168, kFileEntryHeader = 176;
constexpr size_t kExtendedModified = 92, kExtendedEaLength = 208, kExtendedHeader = 216;
constexpr size_t kIndirectIcbOffset = 36;                 // 4/14.7: Indirect Entry
constexpr size_t kAedLengthOffset = 20, kAedHeader = 24;  // 4/14.5: Allocation Extent Descriptor
constexpr uint16_t kStrategyChained = 4096;               // 4/A: strategy 4096, the ICB chain
constexpr uint8_t kEmbeddedAds = 3;                       // 4/14.6.8: data embedded in the entry
constexpr int kMaxChainLength = 64;
constexpr int kMaxContinuations = 4096;
constexpr size_t kMaxExtents = 65536;

std::string where(uint16_t ref, uint32_t block) {
  return "block " + std::to_string(block) + " of partition " + std::to_string(ref);
}

}  // namespace

Error UdfFileEntry::read(const ImageFile& file, const UdfPartitions& partitions, uint16_t ref, uint32_t block) {
  if (Error e = readOne(file, partitions, ref, block)) return e;
  for (int hop = 0; m_strategy == kStrategyChained; ++hop) {
    uint16_t nextRef = 0;
    uint32_t nextBlock = 0;
    if (!nextInChain(file, partitions, nextRef, nextBlock)) break;
    if (hop >= kMaxChainLength) return damaged("the file entry chain at " + where(ref, block) + " does not end");
    if (Error e = readOne(file, partitions, nextRef, nextBlock)) return e;
  }
  return readDescriptors(file, partitions);
}

Error UdfFileEntry::readOne(const ImageFile& file, const UdfPartitions& partitions, uint16_t ref, uint32_t block) {
  const std::string what = "the file entry at " + where(ref, block);
  if (!partitions.blockCopies(ref, block, m_copies)) return damaged(what + " lies outside the volume");
  m_ref = ref;
  m_block = block;
  m_bytes.assign(kBlockSize, 0);
  if (!readExact(file, m_copies.sector[0] * kBlockSize, m_bytes.data(), kBlockSize))
    return damaged(what + " lies past the end of the image");
  const uint8_t* d = m_bytes.data();
  m_extended = readLe16(d) == kTagExtendedFileEntry;
  std::string why;
  if (!checkTag(d, kBlockSize, m_extended ? kTagExtendedFileEntry : kTagFileEntry, block, what, why))
    return damaged(why);
  m_strategy = readLe16(d + kStrategyOffset);
  m_fileType = d[kFileTypeOffset];
  m_adType = static_cast<uint8_t>(readLe16(d + kIcbFlagsOffset) & 7);
  m_informationLength = readLe64(d + kInformationLengthOffset);
  const uint8_t* date = d + (m_extended ? kExtendedModified : kFileEntryModified);
  m_modified = {readLe16(date + 2), date[4], date[5], date[6], date[7]};
  m_modified.second = date[8];
  // Type 1 is local time, with its offset from UTC in minutes in 12 signed bits (-2047: not given).
  const uint16_t typeAndZone = readLe16(date);
  const int zone = (typeAndZone & 0x800) ? static_cast<int>(typeAndZone & 0xFFF) - 0x1000 : typeAndZone & 0xFFF;
  if ((typeAndZone >> 12) == 1 && zone >= -1440 && zone <= 1440) {
    m_modified.hasOffset = true;
    m_modified.offsetMinutes = static_cast<int16_t>(zone);
  }
  const size_t eaLengthOffset = m_extended ? kExtendedEaLength : kFileEntryEaLength;
  const uint64_t eaLength = readLe32(d + eaLengthOffset), adLength = readLe32(d + eaLengthOffset + 4);
  const uint64_t header = m_extended ? kExtendedHeader : kFileEntryHeader;
  if (header + eaLength + adLength > kBlockSize) return damaged(what + " claims more bytes than its block");
  m_adOffset = static_cast<uint32_t>(header + eaLength);
  m_adLength = static_cast<uint32_t>(adLength);
  m_embedded = m_adType == kEmbeddedAds;
  if (m_adType > kEmbeddedAds) return damaged(what + " has an unknown kind of allocation descriptor");
  if (m_embedded && m_informationLength > m_adLength) return damaged(what + " embeds fewer bytes than its length");
  return {};
}

bool UdfFileEntry::nextInChain(const ImageFile& file, const UdfPartitions& partitions, uint16_t& ref,
                               uint32_t& block) const {
  if (m_block == UINT32_MAX) return false;
  BlockCopies copies;
  if (!partitions.blockCopies(m_ref, m_block + 1, copies)) return false;
  uint8_t indirect[kBlockSize];
  if (!readExact(file, copies.sector[0] * kBlockSize, indirect, sizeof indirect)) return false;
  std::string why;
  if (!checkTag(indirect, sizeof indirect, kTagIndirectEntry, m_block + 1, {}, why)) return false;
  const uint8_t* icb = indirect + kIndirectIcbOffset;
  if ((readLe32(icb) & 0x3FFFFFFF) == 0) return false;
  block = readLe32(icb + 4);
  ref = readLe16(icb + 8);
  return true;
}

Error UdfFileEntry::readDescriptors(const ImageFile& file, const UdfPartitions& partitions) {
  m_extents.clear();
  if (m_embedded) return {};
  const size_t adSize = m_adType == 0 ? 8 : m_adType == 1 ? 16 : 20;
  std::vector<uint8_t> continuation;
  const uint8_t* area = m_bytes.data() + m_adOffset;
  size_t length = m_adLength;
  for (int hops = 0;; ++hops) {
    bool more = false;
    AllocationExtent next;
    for (size_t pos = 0; pos + adSize <= length; pos += adSize) {
      const uint8_t* ad = area + pos;
      const uint32_t raw = readLe32(ad);
      AllocationExtent extent;
      extent.length = raw & 0x3FFFFFFF;
      extent.type = static_cast<uint8_t>(raw >> 30);
      if (extent.length == 0) break;
      if (m_adType == 0) {
        extent.block = readLe32(ad + 4);
        extent.ref = m_ref;
      } else if (m_adType == 1) {
        extent.block = readLe32(ad + 4);
        extent.ref = readLe16(ad + 8);
      } else {
        extent.block = readLe32(ad + 12);
        extent.ref = readLe16(ad + 16);
      }
      if (extent.type == AllocationExtent::kContinuation) {
        next = extent;
        more = true;
        break;
      }
      if (m_extents.size() >= kMaxExtents) return damaged("a file entry has too many extents");
      m_extents.push_back(extent);
    }
    if (!more) return {};
    if (hops >= kMaxContinuations) return damaged("the allocation extents of a file entry do not end");
    const std::string what = "the allocation extent at " + where(next.ref, next.block);
    BlockCopies copies;
    if (!partitions.blockCopies(next.ref, next.block, copies)) return damaged(what + " lies outside the volume");
    continuation.assign(kBlockSize, 0);
    if (!readExact(file, copies.sector[0] * kBlockSize, continuation.data(), kBlockSize))
      return damaged(what + " lies past the end of the image");
    std::string why;
    if (!checkTag(continuation.data(), kBlockSize, kTagAllocationExtent, next.block, what, why)) return damaged(why);
    length = readLe32(continuation.data() + kAedLengthOffset);
    if (kAedHeader + length > kBlockSize) return damaged(what + " claims more bytes than its block");
    area = continuation.data() + kAedHeader;
  }
}

uint64_t UdfFileEntry::firstDataSector(const UdfPartitions& partitions) const {
  for (const AllocationExtent& extent : m_extents) {
    if (extent.type != AllocationExtent::kRecorded) continue;
    BlockCopies copies;
    return partitions.blockCopies(extent.ref, extent.block, copies) ? copies.sector[0] : 0;
  }
  return 0;
}

}  // namespace umbra::udf
