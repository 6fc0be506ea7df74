#include "engine/udf/UdfNames.h"

namespace umbra::udf {

namespace {

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool decodeDCharacters(const uint8_t* data, size_t n, std::string& utf8) {
  utf8.clear();
  if (n == 0) return true;
  const uint8_t id = data[0];
  if (id == 8 || id == 254) {
    for (size_t i = 1; i < n; ++i) appendUtf8(utf8, data[i]);
    return true;
  }
  if (id != 16 && id != 255) return false;
  for (size_t i = 1; i + 1 < n; i += 2) {
    uint32_t c = static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < n) {
      const uint32_t low = static_cast<uint32_t>(data[i + 2] << 8 | data[i + 3]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // an unpaired surrogate
    appendUtf8(utf8, c);
  }
  return true;
}

std::string decodeDStringField(const uint8_t* field, size_t size) {
  if (size == 0) return {};
  const size_t used = field[size - 1];
  std::string text;
  if (used == 0 || used >= size || !decodeDCharacters(field, used, text)) return {};
  return text;
}

}  // namespace umbra::udf
