// UTF-16 bytes as names on a disc hold them, in both byte orders, turned into UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Utf16.h"

namespace umbra {
namespace {

struct Utf16Case {
  const char* what;
  std::vector<char16_t> units;
  std::string utf8;
  bool oddByte = false;  // one more byte after the units
};

const Utf16Case kCases[] = {
    {"empty", {}, ""},
    {"ASCII", {u'F', u'o', u'l', u'd', u'e', u'r'}, "Folder"},
    {"two-byte and three-byte forms", {0x00E9, 0x03B4, 0x5149, 0xFFFD}, "\xC3\xA9\xCE\xB4\xE5\x85\x89\xEF\xBF\xBD"},
    {"boundaries of each form", {0x007F, 0x0080, 0x07FF, 0x0800, 0xFFFF}, "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
    {"surrogate pair", {u'a', 0xD83D, 0xDCC1, u'b'}, "a\xF0\x9F\x93\x81" "b"},
    {"highest pair", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
    {"lone high surrogate before a letter", {0xD800, u'x'}, "\xEF\xBF\xBDx"},
    {"lone high surrogate at the end", {u'x', 0xD800}, "x\xEF\xBF\xBD"},
    {"lone low surrogate", {0xDC00, u'x'}, "\xEF\xBF\xBDx"},
    {"low before high is two lone surrogates", {0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"two highs, then a low: the second pairs", {0xD800, 0xD800, 0xDC00}, "\xEF\xBF\xBD\xF0\x90\x80\x80"},
    {"NUL units are kept", {u'a', 0, u'b', 0}, std::string("a\0b\0", 4)},
    {"odd byte count: the last byte is left out", {u'a', u'b'}, "ab", true},
    {"a single byte", {}, "", true},
    {"a high surrogate, then half a unit", {0xD800}, "\xEF\xBF\xBD", true},
};

std::vector<uint8_t> encode(const Utf16Case& c, ByteOrder order) {
  std::vector<uint8_t> bytes;
  for (char16_t u : c.units) {
    const auto high = static_cast<uint8_t>(u >> 8), low = static_cast<uint8_t>(u & 0xFF);
    if (order == ByteOrder::BigEndian)
      bytes.insert(bytes.end(), {high, low});
    else
      bytes.insert(bytes.end(), {low, high});
  }
  // The stray byte would pair with the next unit's low half if the decoder read past the end.
  if (c.oddByte) bytes.push_back(0xDC);
  return bytes;
}

TEST(Utf16, DecodesEveryCaseInBothByteOrders) {
  for (const ByteOrder order : {ByteOrder::BigEndian, ByteOrder::LittleEndian}) {
    for (const Utf16Case& c : kCases) {
      SCOPED_TRACE(std::string(c.what) + (order == ByteOrder::BigEndian ? " (big-endian)" : " (little-endian)"));
      const std::vector<uint8_t> bytes = encode(c, order);
      EXPECT_EQ(utf16ToUtf8(bytes.data(), bytes.size(), order), c.utf8);
    }
  }
}

TEST(Utf16, ByteOrderDecidesTheUnits) {
  const uint8_t bytes[] = {0x00, 0x41, 0x03, 0xB4};
  EXPECT_EQ(utf16ToUtf8(bytes, sizeof bytes, ByteOrder::BigEndian), "A\xCE\xB4");
  EXPECT_EQ(utf16ToUtf8(bytes, sizeof bytes, ByteOrder::LittleEndian), "\xE4\x84\x80\xEB\x90\x83");
}

TEST(Utf16, ReplacesWhatTheOutputHeldAndReusesIt) {
  std::string out = "a much longer name that was decoded before this one";
  const uint8_t shorter[] = {0x00, 'x', 0x00, 'y'};
  utf16ToUtf8(shorter, sizeof shorter, ByteOrder::BigEndian, out);
  EXPECT_EQ(out, "xy");
  // Worst case for the output's size: three bytes for every unit.
  std::vector<uint8_t> wide;
  for (int i = 0; i < 100; ++i) wide.insert(wide.end(), {0xFF, 0xFF});
  utf16ToUtf8(wide.data(), wide.size(), ByteOrder::BigEndian, out);
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "\xEF\xBF\xBF";
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace umbra
