#include "engine/iso9660/CIsoImage.h"

#include <algorithm>
#include <cstring>

namespace umbra {

using namespace iso;

bool DirectoryWalk::next(DirRecord& out) {
  while (m_pos < m_size) {
    const uint32_t sectorEnd = std::min<uint32_t>((m_pos / kSectorSize + 1) * kSectorSize, m_size);
    const uint8_t length = m_data[m_pos + kDrLength];
    if (length == 0) {  // the rest of this sector is padding
      m_pos = sectorEnd;
      continue;
    }
    // A record never crosses a sector and must hold its own identifier; anything else ends the walk.
    if (length < kDrMinLength || m_pos + length > sectorEnd) {
      m_damaged = true;
      return false;
    }
    const uint8_t* record = m_data + m_pos;
    const uint8_t nameLength = record[kDrNameLength];
    if (nameLength == 0 || kDrName + nameLength > length) {
      m_damaged = true;
      return false;
    }
    out.offset = m_base + m_pos;
    out.extent = readLe32(record + kDrExtent);
    out.dataLength = readLe32(record + kDrDataLength);
    out.flags = record[kDrFlags];
    out.extendedAttributes = record[kDrExtendedAttributes];
    out.interleaved = record[kDrFileUnitSize] != 0 || record[kDrInterleaveGap] != 0;
    out.date = record + kDrDate;
    out.identifier = std::string_view(reinterpret_cast<const char*>(record + kDrName), nameLength);
    const size_t systemUse = kDrName + nameLength + ((nameLength & 1) ? 0 : 1);  // after the padding byte
    out.systemUse = systemUse < length ? std::string_view(reinterpret_cast<const char*>(record + systemUse),
                                                          length - systemUse)
                                       : std::string_view();
    m_pos += length;
    return true;
  }
  return false;
}

Error CIsoImage::open(const std::string& path, ImageFile::Mode mode) {
  close();
  m_path = path;
  if (Error e = m_file.open(path, mode)) return e;
  if (Error e = scanDescriptors()) {
    close();
    return e;
  }
  return {};
}

void CIsoImage::close() {
  m_file.close();
  m_descriptors.clear();
  m_primarySector = 0;
  m_jolietSector = 0;
}

Error CIsoImage::ioError(const char* what) const {
  return makeError(ErrorKind::Io, m_path, std::string(what) + ": " + ImageFile::lastErrorText());
}

Error CIsoImage::scanDescriptors() {
  if (m_file.size() < sectorOffset(kFirstDescriptorSector + 1))
    return makeError(ErrorKind::NotIso, m_path, "This is not an ISO 9660 image (the file is too short).");
  uint8_t sector[kSectorSize];
  for (uint32_t i = 0; i < kMaxDescriptors; ++i) {
    const uint32_t number = kFirstDescriptorSector + i;
    size_t got = 0;
    if (!m_file.readAt(sectorOffset(number), sector, kSectorSize, got)) return ioError("Cannot read");
    if (got < kSectorSize || std::memcmp(sector + kVdStandardId, "CD001", 5) != 0) break;
    const uint8_t type = sector[kVdType];
    VolumeDescriptorInfo info{type, number, false};
    if (type == kVdTypePrimary && m_primarySector == 0) {
      m_primarySector = number;
      std::memcpy(m_primaryVd.data(), sector, kSectorSize);
    } else if (type == kVdTypeSupplementary && sector[kVdEscapeSequences] == '%' &&
               sector[kVdEscapeSequences + 1] == '/' &&
               (sector[kVdEscapeSequences + 2] == '@' || sector[kVdEscapeSequences + 2] == 'C' ||
                sector[kVdEscapeSequences + 2] == 'E')) {
      info.joliet = true;
      if (m_jolietSector == 0) {
        m_jolietSector = number;
        std::memcpy(m_jolietVd.data(), sector, kSectorSize);
      }
    }
    m_descriptors.push_back(info);
    if (type == kVdTypeTerminator) break;
  }
  if (m_primarySector == 0)
    return makeError(ErrorKind::NotIso, m_path, "This is not an ISO 9660 image (no primary volume descriptor).");
  if (readLe16(m_primaryVd.data() + kVdLogicalBlockSize) != kSectorSize)
    return makeError(ErrorKind::NotIso, m_path, "Unsupported logical block size (only 2048 bytes is supported).");
  if (m_jolietSector != 0 && readLe16(m_jolietVd.data() + kVdLogicalBlockSize) != kSectorSize)
    m_jolietSector = 0;  // a Joliet tree we cannot address is treated as absent
  return {};
}

Error CIsoImage::stampPrimaryDescriptor() {
  if (!isOpen()) return notOpenError(m_path);
  if (!isWritable()) return makeError(ErrorKind::ReadOnly, m_path, "The image is open read-only.");
  // Only the two identifier fields change: the preparer is cleared, the application gets the stamp.
  uint8_t fields[2 * kVdIdFieldLength] = {};
  std::memcpy(fields + (kVdApplicationId - kVdDataPreparerId), kApplicationStamp, sizeof kApplicationStamp);
  if (!m_file.writeAt(sectorOffset(m_primarySector) + kVdDataPreparerId, fields, sizeof fields))
    return ioError("Cannot write the volume descriptor");
  std::memcpy(m_primaryVd.data() + kVdDataPreparerId, fields, sizeof fields);
  return {};
}

Error loadDirectory(const ImageFile& file, const std::string& path, uint32_t extent, std::vector<uint8_t>& buffer,
                    DirectoryWalk& walk) {
  walk = {};
  if (!file.isOpen()) return notOpenError(path);
  const uint64_t offset = sectorOffset(extent);
  if (extent == 0 || offset + kSectorSize > file.size())
    return makeError(ErrorKind::Truncated, path, "A folder lies outside the image.");
  if (buffer.size() < kSectorSize) buffer.resize(kSectorSize);
  size_t got = 0;
  if (!file.readAt(offset, buffer.data(), kSectorSize, got) || got != kSectorSize)
    return makeError(ErrorKind::Io, path, std::string("Cannot read a folder: ") + ImageFile::lastErrorText());
  // The directory's length is the Data Length of its own "." record, which comes first.
  const uint8_t* self = buffer.data();
  if (self[kDrLength] < kDrMinLength || self[kDrNameLength] != 1 || self[kDrName] != 0)
    return makeError(ErrorKind::Damaged, path, "A folder's record list is damaged.");
  const uint32_t length = readLe32(self + kDrDataLength);
  if (length < kDrMinLength || length > kMaxDirectorySize || offset + length > file.size())
    return makeError(ErrorKind::Truncated, path, "A folder's record list runs past the end of the image.");
  if (length > kSectorSize) {
    if (buffer.size() < length) buffer.resize(length);
    if (!file.readAt(offset + kSectorSize, buffer.data() + kSectorSize, length - kSectorSize, got) ||
        got != length - kSectorSize)
      return makeError(ErrorKind::Io, path, std::string("Cannot read a folder: ") + ImageFile::lastErrorText());
  }
  walk = DirectoryWalk(buffer.data(), length, offset);
  return {};
}

Error readRecordFlags(const ImageFile& file, const std::string& path, uint64_t recordOffset, uint8_t& flags,
                      uint32_t* extent, uint32_t* dataLength) {
  if (!file.isOpen()) return notOpenError(path);
  uint8_t head[kDrMinLength];
  size_t got = 0;
  const uint64_t inSector = recordOffset % kSectorSize;
  if (recordOffset < sectorOffset(kFirstDescriptorSector + 1) || recordOffset + sizeof head > file.size() ||
      inSector + sizeof head > kSectorSize)
    return makeError(ErrorKind::UnknownFormat, path, "No folder record stands at that place.");
  if (!file.readAt(recordOffset, head, sizeof head, got) || got != sizeof head)
    return makeError(ErrorKind::Io, path, std::string("Cannot read a folder record: ") + ImageFile::lastErrorText());
  if (head[kDrLength] < kDrMinLength || inSector + head[kDrLength] > kSectorSize ||
      kDrName + head[kDrNameLength] > head[kDrLength])
    return makeError(ErrorKind::UnknownFormat, path, "No folder record stands at that place.");
  flags = head[kDrFlags];
  if (extent) *extent = readLe32(head + kDrExtent);
  if (dataLength) *dataLength = readLe32(head + kDrDataLength);
  return {};
}

}  // namespace umbra
