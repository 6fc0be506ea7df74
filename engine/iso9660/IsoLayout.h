#pragma once
// Byte layouts of the ISO 9660 / Joliet structures this program reads and patches.
// Offsets are relative to the start of the structure; numbers are read from the
// little-endian half of both-endian fields, as the Linux kernel does.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/ByteOrder.h"

namespace umbra::iso {

inline constexpr uint32_t kSectorSize = 2048;
inline constexpr uint32_t kFirstDescriptorSector = 16;
// A real descriptor set holds a handful of descriptors; this caps the scan on hostile files.
inline constexpr uint32_t kMaxDescriptors = 64;

// Volume descriptor (primary and supplementary share these fields).
inline constexpr size_t kVdType = 0;
inline constexpr size_t kVdStandardId = 1;  // "CD001"
inline constexpr size_t kVdEscapeSequences = 88;
inline constexpr size_t kVdVolumeId = 40;
inline constexpr size_t kVdVolumeIdLength = 32;
inline constexpr size_t kVdLogicalBlockSize = 128;
inline constexpr size_t kVdPathTableSize = 132;
inline constexpr size_t kVdPathTableL = 140;
inline constexpr size_t kVdRootRecord = 156;
inline constexpr size_t kVdDataPreparerId = 446;
inline constexpr size_t kVdApplicationId = 574;
inline constexpr size_t kVdIdFieldLength = 128;

inline constexpr uint8_t kVdTypeBoot = 0;
inline constexpr uint8_t kVdTypePrimary = 1;
inline constexpr uint8_t kVdTypeSupplementary = 2;
inline constexpr uint8_t kVdTypePartition = 3;
inline constexpr uint8_t kVdTypeTerminator = 255;

// Written into the primary descriptor's Application Identifier each time an image is opened for work.
inline constexpr char kApplicationStamp[] = "Umbradisc, Korvantis Software Inc.";

// Path table record (type L).
inline constexpr size_t kPtNameLength = 0;
inline constexpr size_t kPtExtent = 2;
inline constexpr size_t kPtParent = 6;
inline constexpr size_t kPtName = 8;
inline constexpr size_t kPtHeadLength = 8;

// Directory record.
inline constexpr size_t kDrLength = 0;
inline constexpr size_t kDrExtendedAttributes = 1;
inline constexpr size_t kDrExtent = 2;
inline constexpr size_t kDrDataLength = 10;
inline constexpr size_t kDrDate = 18;
inline constexpr size_t kDrDateLength = 7;
inline constexpr size_t kDrFlags = 25;
inline constexpr size_t kDrFileUnitSize = 26;
inline constexpr size_t kDrInterleaveGap = 27;
inline constexpr size_t kDrNameLength = 32;
inline constexpr size_t kDrName = 33;
inline constexpr size_t kDrMinLength = 34;  // head plus a one-byte identifier

inline constexpr uint8_t kFlagExistence = 0x01;  // "hidden"
inline constexpr uint8_t kFlagDirectory = 0x02;
inline constexpr uint8_t kFlagAssociated = 0x04;
inline constexpr uint8_t kFlagMultiExtent = 0x80;  // the file goes on in the next record
// The hidden mark: Existence ("hidden" to Windows) and Associated File (left out by Linux, and by
// Windows whatever the Directory bit). Hiding sets both and showing clears both; every other bit
// stays, so a folder stays a folder (2 becomes 7) and a Rock Ridge placeholder, a record without
// the Directory bit, keeps it clear. A folder hidden with 5 lost its Directory bit: `folder` (its
// extent is a folder of the path table) gives it back.
inline constexpr uint8_t kHiddenMarkBits = kFlagExistence | kFlagAssociated;
inline constexpr uint8_t withHiddenMark(uint8_t flags, bool folder) {
  return static_cast<uint8_t>(flags | kHiddenMarkBits | (folder ? kFlagDirectory : 0));
}
inline constexpr uint8_t withoutHiddenMark(uint8_t flags, bool folder) {
  return static_cast<uint8_t>((flags & ~kHiddenMarkBits) | (folder ? kFlagDirectory : 0));
}

// Caps on what one image may make us read; real images stay far below them.
inline constexpr uint32_t kMaxPathTableSize = 64u << 20;
inline constexpr uint32_t kMaxDirectorySize = 64u << 20;
inline constexpr uint32_t kMaxFolderDepth = 256;

inline uint64_t sectorOffset(uint32_t sector) { return static_cast<uint64_t>(sector) * kSectorSize; }

}  // namespace umbra::iso
