#pragma once
// A File Entry or Extended File Entry: the file's type, length, date and where its data lies,
// from short, long or extended allocation descriptors (following continuation extents) or
// embedded in the entry itself. Strategy 4096 entries are followed to their latest entry.
#include <cstdint>
#include <vector>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"
#include "engine/model/TreeReader.h"
#include "engine/udf/UdfPartitions.h"

namespace umbra::udf {

struct AllocationExtent {
  enum Type : uint8_t { kRecorded = 0, kAllocated = 1, kUnallocated = 2, kContinuation = 3 };
  uint32_t length = 0;  // bytes
  uint32_t block = 0;
  uint16_t ref = 0;
  uint8_t type = kRecorded;
};

class UdfFileEntry {
 public:
  static constexpr uint8_t kDirectoryType = 4;  // ECMA-167 4/14.6.6, File Type

  // Reads and checks the entry at (ref, block).
  Error read(const ImageFile& file, const UdfPartitions& partitions, uint16_t ref, uint32_t block);

  // Where the entry itself stands (after following a strategy 4096 chain).
  uint16_t ref() const { return m_ref; }
  uint32_t block() const { return m_block; }
  const BlockCopies& copies() const { return m_copies; }
  const std::vector<uint8_t>& bytes() const { return m_bytes; }

  bool extended() const { return m_extended; }
  uint8_t fileType() const { return m_fileType; }
  bool isDirectory() const { return m_fileType == kDirectoryType; }
  uint64_t informationLength() const { return m_informationLength; }
  const EntryDate& modified() const { return m_modified; }
  // Data embedded in the entry: bytes [embeddedOffset, embeddedOffset + embeddedLength) of bytes().
  bool embedded() const { return m_embedded; }
  uint32_t embeddedOffset() const { return m_adOffset; }
  uint32_t embeddedLength() const { return m_adLength; }
  // The data extents, continuations resolved; empty for embedded data.
  const std::vector<AllocationExtent>& extents() const { return m_extents; }
  // The absolute sector of the first recorded extent, 0 when there is none.
  uint64_t firstDataSector(const UdfPartitions& partitions) const;

 private:
  Error readOne(const ImageFile& file, const UdfPartitions& partitions, uint16_t ref, uint32_t block);
  Error readDescriptors(const ImageFile& file, const UdfPartitions& partitions);
  bool nextInChain(const ImageFile& file, const UdfPartitions& partitions, uint16_t& ref, uint32_t& block) const;

  uint16_t m_ref = 0;
  uint32_t m_block = 0;
  BlockCopies m_copies;
  std::vector<uint8_t> m_bytes;
  bool m_extended = false;
  uint16_t m_strategy = 0;
  uint8_t m_fileType = 0;
  uint8_t m_adType = 0;
  uint64_t m_informationLength = 0;
  EntryDate m_modified;
  bool m_embedded = false;
  uint32_t m_adOffset = 0, m_adLength = 0;
  std::vector<AllocationExtent> m_extents;
};

}  // namespace umbra::udf
