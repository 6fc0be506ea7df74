#pragma once
// A directory's bytes and its File Identifier Descriptors. The bytes are read block by block
// from the directory's extents (or from its entry when embedded), and each block remembers the
// image sectors of its copies, so a descriptor that crosses into a block stored elsewhere is
// still read and written at the right bytes.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfFileEntry.h"
#include "engine/udf/UdfPartitions.h"

namespace umbra::udf {

// A File Identifier Descriptor (ECMA-167 4/14.4; UDF 2.3.4).
struct FileIdentifier {
  // File Characteristics (4/14.4.3): bit 0 Existence ("hidden"), Directory, Deleted, Parent, Metadata.
  static constexpr uint8_t kHidden = 0x01, kDirectory = 0x02, kDeleted = 0x04, kParent = 0x08, kStream = 0x10;
  static constexpr size_t kCharacteristicsOffset = 18;  // 4/14.4.3
  static constexpr size_t kIcbOffset = 20;  // 4/14.4.5: the long allocation descriptor (4/14.14.2) of its entry
  static constexpr size_t kMinSize = 38;

  uint64_t streamOffset = 0;  // in the directory's bytes
  uint32_t length = 0;        // padding included
  uint8_t characteristics = 0;
  uint16_t icbRef = 0;
  uint32_t icbBlock = 0;
  std::string name;  // UTF-8

  // Parents, deleted entries and stream entries are not listed.
  bool listed() const { return (characteristics & (kParent | kDeleted | kStream)) == 0; }
  bool isDirectory() const { return characteristics & kDirectory; }
  bool isHidden() const { return characteristics & kHidden; }
};

// A run of image bytes: offset and length.
using ImageRun = std::pair<uint64_t, uint32_t>;

class UdfDirectory {
 public:
  // Reads the directory whose entry is given; refuses directories longer than maxBytes.
  Error read(const ImageFile& file, const UdfPartitions& partitions, const UdfFileEntry& entry, uint64_t maxBytes);
  // Forgets the bytes, keeping where they lie; rereadBytes reads them again from there, without
  // the directory's entry.
  void dropBytes() { std::vector<uint8_t>().swap(m_bytes); }
  Error rereadBytes(const ImageFile& file);
  // Parses and checks every identifier of the directory, in order; with foldersOnlyNamed, only
  // the folders' names are decoded (a walk through folders needs no other).
  Error identifiers(std::vector<FileIdentifier>& out, bool foldersOnlyNamed = false) const;

  // Where the identifier starts in each stored copy, main copy first, without repeats.
  std::vector<uint64_t> recordOffsets(const FileIdentifier& fid) const;
  // The image runs that hold bytes [offset, offset + n) of the stream in one copy.
  bool imageRuns(uint64_t offset, uint32_t n, int copy, std::vector<ImageRun>& runs) const;
  int copyCount() const { return m_copyCount; }
  // Whether the identifiers lie inside the directory's own entry, under its CRC.
  bool embedded() const { return m_embedded; }
  // The image sectors of every block of every copy.
  std::vector<uint64_t> sectors() const;
  // Reads one copy of an identifier as it stands in the file now and checks its tag.
  Error readCopy(const ImageFile& file, const FileIdentifier& fid, int copy, std::vector<uint8_t>& bytes) const;
  // The block an identifier's tag must name: the block holding its first byte.
  uint32_t tagBlock(uint64_t streamOffset) const;

 private:
  struct Piece {
    uint64_t streamOffset = 0;
    uint32_t length = 0;
    uint32_t within = 0;  // where the piece starts inside its block
    uint32_t block = 0;
    BlockCopies copies;
  };
  const Piece* pieceAt(uint64_t streamOffset) const;

  std::vector<uint8_t> m_bytes;
  uint64_t m_size = 0;
  bool m_embedded = false;
  std::vector<Piece> m_pieces;
  int m_copyCount = 1;
};

}  // namespace umbra::udf
