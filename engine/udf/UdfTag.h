#pragma once
// The 16-byte tag that starts every UDF descriptor: its checksum, its CRC over the body and the
// block it claims to stand at. Its fields, like every UDF number, are little-endian (base/ByteOrder.h).
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ByteOrder.h"
#include "engine/Error.h"
#include "engine/io/ImageFile.h"

namespace umbra::udf {

// Clauses are those of ECMA-167, 3rd edition ("3/7.2": part 3, clause 7.2), and of OSTA UDF 2.60.
inline constexpr uint32_t kBlockSize = 2048;
inline constexpr size_t kTagSize = 16;  // the descriptor tag, 3/7.2 and 4/7.2

// Tag identifiers: 1 to 8 are volume structures (3/7.2.1), 256 and up file structures (4/7.2.1).
// The descriptors: 3/10.1 primary volume, 3/10.2 anchor pointer, 3/10.3 volume descriptor pointer,
// 3/10.4 implementation use, 3/10.5 partition, 3/10.6 logical volume, 3/10.8 unallocated space,
// 3/10.9 terminating; 4/14.1 file set, 4/14.4 file identifier, 4/14.5 allocation extent,
// 4/14.7 indirect entry, 4/14.9 file entry, 4/14.17 extended file entry.
enum TagId : uint16_t {
  kTagPrimaryVolume = 1,
  kTagAnchor = 2,
  kTagPointer = 3,
  kTagImplementationUse = 4,
  kTagPartition = 5,
  kTagLogicalVolume = 6,
  kTagUnallocatedSpace = 7,
  kTagTerminating = 8,
  kTagFileSet = 256,
  kTagFileIdentifier = 257,
  kTagAllocationExtent = 258,
  kTagIndirectEntry = 259,
  kTagFileEntry = 261,
  kTagExtendedFileEntry = 266,
};

inline constexpr size_t kTagChecksumOffset = 4;    // 3/7.2.3
inline constexpr size_t kTagCrcOffset = 8;         // 3/7.2.6
inline constexpr size_t kTagCrcLengthOffset = 10;  // 3/7.2.7
inline constexpr size_t kTagLocationOffset = 12;   // 3/7.2.8

// CRC-ITU-T as ECMA-167 defines it (1/7.2.6, 3/7.2.6): polynomial 0x1021, start 0, no reflection, no final xor.
uint16_t descriptorCrc(const uint8_t* data, size_t n);
// Sum of the tag bytes 0-15 except the checksum byte itself, modulo 256.
uint8_t tagChecksum(const uint8_t* tag);

// Checks the tag at the start of `data` (`available` bytes readable there): its checksum, its
// version, its identifier, that its CRC length stays inside `available`, its CRC and its location.
// On failure `why` says what is wrong, naming the descriptor as `what`.
bool checkTag(const uint8_t* data, size_t available, uint16_t ident, uint32_t location, const std::string& what,
              std::string& why);
// Recomputes the CRC over the stored CRC length, then the checksum. The caller has checked
// that the CRC length fits in the bytes at `data`.
void retag(uint8_t* data);

// Reads exactly n bytes at offset; false at the end of the file or on a read error.
bool readExact(const ImageFile& file, uint64_t offset, void* buffer, size_t n);

// The error every damaged UDF structure gives.
Error damaged(const std::string& why);

}  // namespace umbra::udf
