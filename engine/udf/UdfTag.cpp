#include "engine/udf/UdfTag.h"

namespace umbra::udf {

namespace {
// CRC-CCITT (polynomial 0x1021, initial 0) a byte at a time: every file entry read is checked, so a
// listing of a large UDF tree runs thousands of kilobytes through it.
struct CrcTable {
  uint16_t value[256];
  constexpr CrcTable() : value() {
    for (unsigned byte = 0; byte < 256; ++byte) {
      uint16_t crc = static_cast<uint16_t>(byte << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x8000) ? static_cast<uint16_t>(crc << 1 ^ 0x1021) : static_cast<uint16_t>(crc << 1);
      value[byte] = crc;
    }
  }
};
constexpr CrcTable kCrcTable;
}  // namespace

uint16_t descriptorCrc(const uint8_t* data, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = static_cast<uint16_t>(crc << 8 ^ kCrcTable.value[(crc >> 8 ^ data[i]) & 0xFF]);
  return crc;
}

uint8_t tagChecksum(const uint8_t* tag) {
  unsigned sum = 0;
  for (size_t i = 0; i < kTagSize; ++i)
    if (i != kTagChecksumOffset) sum += tag[i];
  return static_cast<uint8_t>(sum);
}

bool checkTag(const uint8_t* data, size_t available, uint16_t ident, uint32_t location, const std::string& what,
              std::string& why) {
  if (available < kTagSize) {
    why = what + " is cut short";
    return false;
  }
  if (tagChecksum(data) != data[kTagChecksumOffset]) {
    why = what + " has a wrong tag checksum";
    return false;
  }
  const uint16_t version = readLe16(data + 2);
  if (readLe16(data) != ident || (version != 2 && version != 3)) {
    why = what + " is missing (found tag " + std::to_string(readLe16(data)) + ")";
    return false;
  }
  const size_t crcLength = readLe16(data + kTagCrcLengthOffset);
  if (kTagSize + crcLength > available) {
    why = what + " claims more bytes than it has";
    return false;
  }
  if (descriptorCrc(data + kTagSize, crcLength) != readLe16(data + kTagCrcOffset)) {
    why = what + " has a wrong CRC";
    return false;
  }
  if (readLe32(data + kTagLocationOffset) != location) {
    why = what + " names another block as its location";
    return false;
  }
  return true;
}

void retag(uint8_t* data) {
  const uint16_t crc = descriptorCrc(data + kTagSize, readLe16(data + kTagCrcLengthOffset));
  writeLe16(data + kTagCrcOffset, crc);
  data[kTagChecksumOffset] = tagChecksum(data);
}

bool readExact(const ImageFile& file, uint64_t offset, void* buffer, size_t n) {
  size_t got = 0;
  return file.readAt(offset, buffer, n, got) && got == n;
}

Error damaged(const std::string& why) {
  return makeError(ErrorKind::Damaged, {}, "The UDF tree is damaged: " + why + ".");
}

}  // namespace umbra::udf
