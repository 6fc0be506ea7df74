#pragma once
// The image engine: one ISO 9660 image file, its volume descriptors and stamp, the directory walk
// and record checks the tree readers share, and the reading of a record's flags.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"
#include "engine/iso9660/IsoLayout.h"

namespace umbra {

struct VolumeDescriptorInfo {
  uint8_t type = 0;
  uint32_t sector = 0;
  bool joliet = false;
};

// A directory record as read from a loaded directory (views into the directory buffer, valid
// while that buffer is).
struct DirRecord {
  uint64_t offset = 0;  // image byte offset of the record
  uint32_t extent = 0;
  uint32_t dataLength = 0;
  uint8_t flags = 0;
  uint8_t extendedAttributes = 0;  // blocks of the extent that precede the data
  bool interleaved = false;        // file unit size or gap set
  const uint8_t* date = nullptr;  // 7 bytes
  std::string_view identifier;
  std::string_view systemUse;  // the bytes after the identifier (Rock Ridge entries, if any)
  bool isSelf() const { return identifier.size() == 1 && identifier[0] == '\0'; }
  bool isParent() const { return identifier.size() == 1 && identifier[0] == '\1'; }
};

// One walk over a directory's records. A zero length byte moves to the next sector; the walk is
// bounded by the Data Length the directory was read with, and every record is checked against
// its sector and its own identifier length before a byte of it is used.
class DirectoryWalk {
 public:
  DirectoryWalk() = default;
  DirectoryWalk(const uint8_t* data, uint32_t size, uint64_t baseOffset)
      : m_data(data), m_size(size), m_base(baseOffset) {}
  bool next(DirRecord& out);
  // True when the walk stopped at a malformed record rather than at the end.
  bool damaged() const { return m_damaged; }

 private:
  const uint8_t* m_data = nullptr;
  uint32_t m_size = 0;
  uint32_t m_pos = 0;
  uint64_t m_base = 0;
  bool m_damaged = false;
};

// Reads a directory extent into buffer (its length from its own "." record, capped by the file's
// size) and returns a walk over it. `path` names the image in errors.
Error loadDirectory(const ImageFile& file, const std::string& path, uint32_t extent, std::vector<uint8_t>& buffer,
                    DirectoryWalk& walk);
// Reads the flags byte (and, when asked, the extent and the data length) of the directory record at
// recordOffset, after checking that a plausible record stands there.
Error readRecordFlags(const ImageFile& file, const std::string& path, uint64_t recordOffset, uint8_t& flags,
                      uint32_t* extent = nullptr, uint32_t* dataLength = nullptr);

class CIsoImage {
 public:
  CIsoImage() = default;
  CIsoImage(const CIsoImage&) = delete;
  CIsoImage& operator=(const CIsoImage&) = delete;
  virtual ~CIsoImage() { close(); }

  // Opens the file (read-write with a write lock, or read-only) and finds the volume descriptors.
  Error open(const std::string& path, ImageFile::Mode mode);
  void close();
  bool isOpen() const { return m_file.isOpen(); }
  bool isWritable() const { return m_file.isWritable(); }
  uint64_t fileSize() const { return m_file.size(); }
  const std::string& path() const { return m_path; }
  // The open file, for the tree readers and the writer.
  const ImageFile& file() const { return m_file; }
  ImageFile& file() { return m_file; }

  // Rewrites the primary descriptor's two identifiers in place: the preparer is cleared, the
  // application gets our stamp (a working open does this before its first write).
  Error stampPrimaryDescriptor();
  // The primary descriptor found by the scan, as it now stands.
  const uint8_t* primaryDescriptor() const { return m_primaryVd.data(); }
  // The Joliet supplementary descriptor found by the scan; false when the image has none.
  bool hasJoliet() const { return m_jolietSector != 0; }
  const uint8_t* jolietDescriptor() const { return m_jolietVd.data(); }
  const std::vector<VolumeDescriptorInfo>& descriptors() const { return m_descriptors; }

 private:
  Error scanDescriptors();
  Error ioError(const char* what) const;

  ImageFile m_file;
  std::string m_path;
  std::vector<VolumeDescriptorInfo> m_descriptors;
  std::vector<uint8_t> m_primaryVd = std::vector<uint8_t>(iso::kSectorSize);
  std::vector<uint8_t> m_jolietVd = std::vector<uint8_t>(iso::kSectorSize);
  uint32_t m_primarySector = 0;
  uint32_t m_jolietSector = 0;
};

}  // namespace umbra
