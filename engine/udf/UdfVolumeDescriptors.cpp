#include "engine/udf/UdfVolumeDescriptors.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "engine/udf/UdfTag.h"

namespace umbra::udf {

namespace {

constexpr uint32_t kMaxSequenceSectors = 256;
constexpr int kMaxPointers = 16;
constexpr size_t kSequenceNumberOffset = 16;
constexpr size_t kPointerExtentOffset = 20;  // ECMA-167 3/10.3: the next extent of the sequence
// Partition descriptor (3/10.5).
constexpr size_t kPartitionNumberOffset = 22, kPartitionStartOffset = 188, kPartitionLengthOffset = 192;
// Logical volume descriptor (3/10.6); its domain identifier is UDF's (UDF 2.1.5.2, 2.2.4).
constexpr size_t kBlockSizeOffset = 212, kDomainIdOffset = 217, kDomainRevisionOffset = 240;
constexpr size_t kFileSetOffset = 248, kMapTableLengthOffset = 264, kMapCountOffset = 268, kMapsOffset = 440;
constexpr char kOstaDomain[] = "*OSTA UDF Compliant";
// Partition maps (3/10.7): type 2 maps (3/10.7.3) hold UDF's virtual, sparable and metadata
// partitions (UDF 2.2.8, 2.2.9, 2.2.10).
constexpr size_t kType2IdentOffset = 5, kType2IdentSize = 23, kType2PartitionOffset = 38;
constexpr size_t kMetadataFileOffset = 40, kMetadataMirrorOffset = 44;

struct Found {
  uint32_t sequence = 0;
  std::vector<uint8_t> bytes;
};

}  // namespace

Error UdfVolumeDescriptors::read(const ImageFile& file, const UdfAnchor& anchor) {
  Error main = readSequence(file, anchor.mainSequence());
  if (!main) return {};
  if (!readSequence(file, anchor.reserveSequence())) return {};
  return main;
}

Error UdfVolumeDescriptors::readSequence(const ImageFile& file, const ExtentAd& first) {
  m_partitions = {};
  m_unsupported.clear();
  std::map<uint16_t, Found> partitions;
  Found logical;
  bool haveLogical = false;
  ExtentAd extent = first;
  std::vector<uint8_t> block(kBlockSize);
  int pointers = 0;
  uint32_t total = 0;
  for (uint32_t i = 0; i < extent.length / kBlockSize; ++i) {
    if (++total > kMaxSequenceSectors) return damaged("the volume descriptor sequence does not end");
    const uint64_t sector = uint64_t{extent.sector} + i;
    const std::string what = "the volume descriptor at sector " + std::to_string(sector);
    if (sector > UINT32_MAX || !readExact(file, sector * kBlockSize, block.data(), kBlockSize))
      return damaged(what + " lies past the end of the image");
    if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; })) break;
    std::string why;
    const uint16_t ident = readLe16(block.data());
    if (!checkTag(block.data(), kBlockSize, ident, static_cast<uint32_t>(sector), what, why)) return damaged(why);
    if (ident == kTagTerminating) break;
    const uint32_t sequence = readLe32(block.data() + kSequenceNumberOffset);
    if (ident == kTagPointer) {
      if (++pointers > kMaxPointers) return damaged("the volume descriptor pointers do not end");
      extent = {readLe32(block.data() + kPointerExtentOffset), readLe32(block.data() + kPointerExtentOffset + 4)};
      i = UINT32_MAX;  // the loop's ++i starts the new extent at 0
      continue;
    }
    if (ident == kTagPartition) {
      Found& p = partitions[readLe16(block.data() + kPartitionNumberOffset)];
      if (p.bytes.empty() || sequence >= p.sequence) p = {sequence, block};
    } else if (ident == kTagLogicalVolume && (!haveLogical || sequence >= logical.sequence)) {
      logical = {sequence, block};
      haveLogical = true;
    }
  }
  if (!haveLogical) return damaged("the volume descriptor sequence has no logical volume descriptor");
  if (partitions.empty()) return damaged("the volume descriptor sequence has no partition descriptor");
  for (const auto& [number, p] : partitions)
    m_partitions.addPartition(number, readLe32(p.bytes.data() + kPartitionStartOffset),
                              readLe32(p.bytes.data() + kPartitionLengthOffset));
  return readLogicalVolume(logical.bytes.data());
}

Error UdfVolumeDescriptors::readLogicalVolume(const uint8_t* lvd) {
  const uint32_t blockSize = readLe32(lvd + kBlockSizeOffset);
  m_revision = std::memcmp(lvd + kDomainIdOffset, kOstaDomain, sizeof kOstaDomain - 1) == 0
                   ? readLe16(lvd + kDomainRevisionOffset)
                   : 0;
  m_fileSet = {readLe32(lvd + kFileSetOffset), readLe32(lvd + kFileSetOffset + 4), readLe16(lvd + kFileSetOffset + 8)};
  if (blockSize != kBlockSize) {
    m_unsupported = "its block size is " + std::to_string(blockSize) + " bytes";
    return {};
  }
  const uint64_t tableLength = readLe32(lvd + kMapTableLengthOffset);
  const uint32_t mapCount = readLe32(lvd + kMapCountOffset);
  const uint64_t described = kTagSize + readLe16(lvd + kTagCrcLengthOffset);
  if (kMapsOffset + tableLength > described) return damaged("the partition maps run past their descriptor");
  uint64_t pos = 0;
  for (uint32_t i = 0; i < mapCount; ++i) {
    if (pos + 2 > tableLength) return damaged("the partition maps run past their table");
    const uint8_t* map = lvd + kMapsOffset + pos;
    const uint8_t type = map[0], length = map[1];
    if (length < 2 || pos + length > tableLength) return damaged("a partition map has a wrong length");
    if (type == 1 && length >= 6) {
      m_partitions.addPhysicalMap(readLe16(map + 4));
    } else if (type == 2 && length >= 64) {
      const std::string ident(reinterpret_cast<const char*>(map + kType2IdentOffset),
                              strnlen(reinterpret_cast<const char*>(map + kType2IdentOffset), kType2IdentSize));
      if (ident == "*UDF Metadata Partition") {
        m_partitions.addMetadataMap(readLe16(map + kType2PartitionOffset), readLe32(map + kMetadataFileOffset),
                                    readLe32(map + kMetadataMirrorOffset));
      } else {
        m_unsupported = ident == "*UDF Virtual Partition"    ? "it uses a virtual partition (VAT)"
                        : ident == "*UDF Sparable Partition" ? "it uses a sparable partition"
                                                             : "it uses a partition map of an unknown kind";
        return {};
      }
    } else {
      return damaged("a partition map has an unknown type");
    }
    pos += length;
  }
  if (m_partitions.mapCount() == 0) return damaged("the logical volume has no partition map");
  return {};
}

}  // namespace umbra::udf
