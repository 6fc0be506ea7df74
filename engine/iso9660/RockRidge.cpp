#include "engine/iso9660/RockRidge.h"

#include "engine/model/TreeReader.h"

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

namespace umbra {

namespace {
constexpr uint8_t kSlContinue = 0x01;
constexpr uint8_t kSlComponentContinue = 0x01, kSlCurrent = 0x02, kSlParent = 0x04, kSlRoot = 0x08;
constexpr uint8_t kTfModify = 0x02, kTfLongForm = 0x80;

// A 17-byte date of a TF entry: "YYYYMMDDHHMMSScc" and a zone in quarter hours.
int64_t longDateSeconds(std::string_view text) {
  auto number = [&](size_t at, size_t digits) {
    int value = 0;
    for (size_t i = 0; i < digits; ++i) value = value * 10 + (text[at + i] >= '0' && text[at + i] <= '9' ? text[at + i] - '0' : 0);
    return value;
  };
  const int zone = static_cast<int8_t>(text[16]);
  return secondsSinceEpoch(number(0, 4), number(4, 2), number(6, 2), number(8, 2), number(10, 2), number(12, 2)) -
         int64_t{zone} * 15 * 60;
}
}  // namespace

int64_t recordDateSeconds(const uint8_t* date) {
  const int zone = static_cast<int8_t>(date[6]);
  return secondsSinceEpoch(1900 + date[0], date[1], date[2], date[3], date[4], date[5]) - int64_t{zone} * 15 * 60;
}

RockRidgeFacts rockRidgeFacts(std::string_view systemUse) {
  RockRidgeFacts facts;
  bool linkOpen = false;          // the previous SL entry said the target goes on
  bool componentOpen = false;     // the previous component goes on in the next one
  while (systemUse.size() >= kEntryHead) {
    const size_t length = static_cast<uint8_t>(systemUse[2]);
    if (length < kEntryHead || length > systemUse.size()) break;  // padding or a damaged entry
    const std::string_view entry = systemUse.substr(0, length);
    systemUse.remove_prefix(length);
    const std::string_view signature = entry.substr(0, 2);
    if (signature == "SL" && length >= kEntryHead + 1) {
      if (facts.link && !linkOpen) continue;  // a second link record: the first one holds
      facts.link = true;
      linkOpen = (static_cast<uint8_t>(entry[4]) & kSlContinue) != 0;
      std::string_view components = entry.substr(kEntryHead + 1);
      while (components.size() >= 2) {
        const auto flags = static_cast<uint8_t>(components[0]);
        const size_t size = static_cast<uint8_t>(components[1]);
        if (2 + size > components.size()) break;
        if (!componentOpen && !facts.linkTarget.empty() && facts.linkTarget.back() != '/') facts.linkTarget += '/';
        if (flags & kSlRoot)
          facts.linkTarget = "/";
        else if (flags & kSlParent)
          facts.linkTarget += "..";
        else if (flags & kSlCurrent)
          facts.linkTarget += ".";
        else
          facts.linkTarget.append(components.substr(2, size));
        componentOpen = (flags & kSlComponentContinue) != 0;
        components.remove_prefix(2 + size);
      }
    } else if (signature == "TF" && length >= kEntryHead + 1) {
      const auto flags = static_cast<uint8_t>(entry[4]);
      const size_t stamp = (flags & kTfLongForm) ? 17 : 7;
      const size_t at = kEntryHead + 1 + ((flags & 0x01) ? stamp : 0);  // a creation time comes first
      if ((flags & kTfModify) && at + stamp <= length) {
        facts.hasModified = true;
        const std::string_view date = entry.substr(at, stamp);
        facts.modified = stamp == 17 ? longDateSeconds(date) : recordDateSeconds(reinterpret_cast<const uint8_t*>(date.data()));
      }
    } else if (signature == "CL" && length >= kEntryHead + 4) {
      const auto* p = reinterpret_cast<const uint8_t*>(entry.data() + kEntryHead);
      facts.childLink = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                        static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    } else if (signature == "RE") {
      facts.relocated = true;
    }
  }
  if (linkOpen || componentOpen) facts.linkTarget.clear();  // the rest lies in a continuation area
  return facts;
}

}  // namespace umbra
