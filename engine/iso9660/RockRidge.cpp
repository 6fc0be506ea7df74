#include "engine/iso9660/RockRidge.h"

#include <cstdint>

namespace umbra {

namespace {
constexpr size_t kEntryHead = 4;  // signature (2), length, version
constexpr uint8_t kNmContinue = 0x01;
constexpr uint8_t kNmCurrentOrParent = 0x06;
}  // namespace

bool hasSuspMarker(std::string_view systemUse) {
  return systemUse.size() >= 7 && systemUse[0] == 'S' && systemUse[1] == 'P' &&
         static_cast<uint8_t>(systemUse[4]) == 0xBE && static_cast<uint8_t>(systemUse[5]) == 0xEF;
}

std::string rockRidgeName(std::string_view systemUse) {
  std::string name;
  bool continues = false;
  while (systemUse.size() >= kEntryHead) {
    const size_t length = static_cast<uint8_t>(systemUse[2]);
    if (length < kEntryHead || length > systemUse.size()) break;  // padding or a damaged entry
    const std::string_view entry = systemUse.substr(0, length);
    systemUse.remove_prefix(length);
    if (entry[0] != 'N' || entry[1] != 'M' || length < kEntryHead + 1) continue;
    const auto flags = static_cast<uint8_t>(entry[4]);
    if (flags & kNmCurrentOrParent) return {};
    name.append(entry.substr(kEntryHead + 1));
    continues = (flags & kNmContinue) != 0;
    if (!continues) return name;
  }
  return continues ? std::string() : name;
}

}  // namespace umbra
