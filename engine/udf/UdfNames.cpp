#include "engine/udf/UdfNames.h"

#include "base/Utf16.h"

namespace umbra::udf {

bool decodeDCharacters(const uint8_t* data, size_t n, std::string& utf8) {
  utf8.clear();
  if (n == 0) return true;
  const uint8_t id = data[0];
  if (id == 8 || id == 254) {
    for (size_t i = 1; i < n; ++i) appendUtf8(utf8, data[i]);
    return true;
  }
  if (!knownCompression(id)) return false;
  utf16ToUtf8(data + 1, n - 1, ByteOrder::BigEndian, utf8);
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
