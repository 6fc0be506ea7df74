#include "JolietNames.h"

#include <cstring>

namespace cdimage {
namespace {

constexpr size_t kJolietMaxNameUnits = 103;  // the long-name limit the makers offer for Joliet

// Decodes one UTF-8 sequence at name[pos]; returns the code point or -1 when malformed.
long decodeUtf8(const std::string& name, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(name[i]); };
  const unsigned char lead = byte(pos);
  int extra = 0;
  long code = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    code = lead & 0x07;
  } else {
    return -1;
  }
  if (pos + static_cast<size_t>(extra) >= name.size()) return -1;
  for (int i = 1; i <= extra; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return -1;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr long kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  pos += static_cast<size_t>(extra) + 1;
  return code;
}

}  // namespace

std::string jolietNameProblem(const std::string& utf8Name) {
  size_t units = 0;
  for (size_t pos = 0; pos < utf8Name.size();) {
    const long code = decodeUtf8(utf8Name, pos);
    if (code < 0) return "name is not valid UTF-8";
    if (code < 0x20 || (code < 0x80 && std::strchr("*/:;?\\", static_cast<int>(code)) != nullptr)) {
      return "name holds a character Joliet cannot store (* / : ; ? \\ or a control)";
    }
    units += code >= 0x10000 ? 2 : 1;
  }
  if (!utf8Name.empty() && utf8Name.back() == '.') {
    return "name ends with a dot, which readers of Joliet drop";
  }
  if (units > kJolietMaxNameUnits) {
    return "name is longer than " + std::to_string(kJolietMaxNameUnits) + " characters";
  }
  return {};
}

}  // namespace cdimage
