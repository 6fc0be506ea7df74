#pragma once
// Byte layouts of the ISO 9660 / Joliet structures this program reads and patches.
// Offsets are relative to the start of the structure; numbers are read from the
// little-endian half of both-endian fields (ECMA-119 7.2.3, 7.3.3), as the Linux kernel does.
// Clauses are those of ECMA-119, 2nd edition (ISO 9660:1988).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/ByteOrder.h"

namespace umbra::iso {

inline constexpr uint32_t kSectorSize = 2048;           // 6.1.2: a logical sector holds 2048 bytes
inline constexpr uint32_t kFirstDescriptorSector = 16;  // 6.2.1: the System Area is sectors 0 to 15
// A real descriptor set holds a handful of descriptors; this caps the scan on hostile files.
inline constexpr uint32_t kMaxDescriptors = 64;

// Volume descriptor (primary, 8.4, and supplementary, 8.5, share these fields).
inline constexpr size_t kVdType = 0;              // 8.1.1
inline constexpr size_t kVdStandardId = 1;        // 8.1.2: "CD001"
inline constexpr size_t kVdEscapeSequences = 88;  // 8.5, Escape Sequences: Joliet's UCS-2 level
inline constexpr size_t kVdVolumeId = 40;         // 8.4.6
inline constexpr size_t kVdVolumeIdLength = 32;
inline constexpr size_t kVdLogicalBlockSize = 128;  // 8.4.12
inline constexpr size_t kVdPathTableSize = 132;     // 8.4.13
inline constexpr size_t kVdPathTableL = 140;        // 8.4.14: the Type L Path Table
inline constexpr size_t kVdRootRecord = 156;        // 8.4.18
inline constexpr size_t kVdDataPreparerId = 446;    // 8.4.21
inline constexpr size_t kVdApplicationId = 574;     // 8.4.22
inline constexpr size_t kVdIdFieldLength = 128;

// 8.1.1: the volume descriptor types (8.2 boot record, 8.4, 8.5 and 8.6, 8.3 terminator).
inline constexpr uint8_t kVdTypeBoot = 0;
inline constexpr uint8_t kVdTypePrimary = 1;
inline constexpr uint8_t kVdTypeSupplementary = 2;
inline constexpr uint8_t kVdTypePartition = 3;
inline constexpr uint8_t kVdTypeTerminator = 255;

// Written into the primary descriptor's Application Identifier each time an image is opened for work.
inline constexpr char kApplicationStamp[] = "Umbradisc, Korvantis Software Inc.";

// Path table record (9.4), type L (little-endian numbers, 9.4.3 and 9.4.4).
inline constexpr size_t kPtNameLength = 0;  // 9.4.1
inline constexpr size_t kPtExtent = 2;      // 9.4.3
inline constexpr size_t kPtParent = 6;      // 9.4.4: the parent's number, counted from 1
inline constexpr size_t kPtName = 8;        // 9.4.5, padded to an even length (9.4.6)
inline constexpr size_t kPtHeadLength = 8;

// Directory record (9.1).
inline constexpr size_t kDrLength = 0;              // 9.1.1
inline constexpr size_t kDrExtendedAttributes = 1;  // 9.1.2
inline constexpr size_t kDrExtent = 2;              // 9.1.3
inline constexpr size_t kDrDataLength = 10;         // 9.1.4
inline constexpr size_t kDrDate = 18;               // 9.1.5
inline constexpr size_t kDrDateLength = 7;
inline constexpr size_t kDrFlags = 25;          // 9.1.6
inline constexpr size_t kDrFileUnitSize = 26;   // 9.1.7
inline constexpr size_t kDrInterleaveGap = 27;  // 9.1.8
inline constexpr size_t kDrNameLength = 32;     // 9.1.10
inline constexpr size_t kDrName = 33;           // 9.1.11; the System Use field (9.1.13) follows it
inline constexpr size_t kDrMinLength = 34;  // head plus a one-byte identifier

// The File Flags bits (9.1.6).
inline constexpr uint8_t kFlagExistence = 0x01;    // bit 0, Existence: "hidden"
inline constexpr uint8_t kFlagDirectory = 0x02;    // bit 1, Directory
inline constexpr uint8_t kFlagAssociated = 0x04;   // bit 2, Associated File
inline constexpr uint8_t kFlagMultiExtent = 0x80;  // bit 7, Multi-Extent: the file goes on in the next record
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
