#include "base/Utf16.h"

namespace umbra {

namespace {

// Writes c at p and returns the end; p has room for four bytes.
char* putUtf8(char* p, char32_t c) {
  if (c < 0x80) {
    *p++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *p++ = static_cast<char>(0xC0 | c >> 6);
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *p++ = static_cast<char>(0xE0 | c >> 12);
    *p++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | c >> 18);
    *p++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *p++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *p++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return p;
}

bool isHighSurrogate(char32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c < 0xE000; }

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, static_cast<size_t>(putUtf8(bytes, c) - bytes));
}

void utf16ToUtf8(const void* data, size_t n, ByteOrder order, std::string& out) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t units = n / 2;
  const auto unit = [&](size_t k) -> char32_t {
    return order == ByteOrder::BigEndian ? readBe16(bytes + 2 * k) : readLe16(bytes + 2 * k);
  };
  // Names are decoded by the thousand while a tree is read: one allocation at the most a unit takes
  // (three bytes; a pair takes four for two units), then written in place.
  out.resize(units * 3);
  char* p = out.data();
  for (size_t i = 0; i < units; ++i) {
    char32_t c = unit(i);
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
      continue;
    }
    if (isHighSurrogate(c) && i + 1 < units && isLowSurrogate(unit(i + 1))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
      ++i;
    } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
      c = 0xFFFD;
    }
    p = putUtf8(p, c);
  }
  out.resize(static_cast<size_t>(p - out.data()));
}

std::string utf16ToUtf8(const void* data, size_t n, ByteOrder order) {
  std::string out;
  utf16ToUtf8(data, n, order, out);
  return out;
}

}  // namespace umbra
