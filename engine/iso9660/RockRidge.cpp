#include "engine/iso9660/RockRidge.h"

#include <cstdint>
#include <vector>

#include "engine/io/ImageFile.h"
#include "engine/iso9660/IsoLayout.h"
#include "engine/model/TreeReader.h"

namespace umbra {

// Entries of the System Use Sharing Protocol (SUSP 1.12: SP 5.3, CE 5.1, ST 5.4) and of the Rock
// Ridge Interchange Protocol (RRIP 1.12: SL 4.1.3, NM 4.1.4, CL 4.1.5.1, RE 4.1.5.3, TF 4.1.6).
namespace {
constexpr size_t kEntryHead = 4;              // SUSP 4.1: signature (2), length, version
constexpr uint8_t kNmContinue = 0x01;         // RRIP 4.1.4: the name goes on in the next NM entry
constexpr uint8_t kNmCurrentOrParent = 0x06;  // RRIP 4.1.4: the entry names "." or "..", not the file
// A record's entries rarely need one continuation area; a chain longer than this is a crafted loop.
constexpr int kMaxContinuations = 8;

bool is(std::string_view entry, char a, char b) { return entry[0] == a && entry[1] == b; }
uint32_t le32(std::string_view entry, size_t at) {
  return readLe32(reinterpret_cast<const uint8_t*>(entry.data() + at));
}
}  // namespace

// SUSP 5.3: the SP entry of a folder's "." record, with its check bytes 0xBE 0xEF.
bool hasSuspMarker(std::string_view systemUse) {
  return systemUse.size() >= 7 && systemUse[0] == 'S' && systemUse[1] == 'P' &&
         static_cast<uint8_t>(systemUse[4]) == 0xBE && static_cast<uint8_t>(systemUse[5]) == 0xEF;
}

namespace {
// RRIP 4.1.3: SL entry flags, then each component record's flags (4.1.3.1).
constexpr uint8_t kSlContinue = 0x01;
constexpr uint8_t kSlComponentContinue = 0x01, kSlCurrent = 0x02, kSlParent = 0x04, kSlRoot = 0x08;
// RRIP 4.1.6: which time stamps a TF entry records, and whether in the long form.
constexpr uint8_t kTfCreation = 0x01, kTfModify = 0x02, kTfLongForm = 0x80;

// A 17-byte date of a TF entry (ECMA-119 8.4.26.1): "YYYYMMDDHHMMSScc" and a zone in quarter hours.
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

// ECMA-119 9.1.5: years since 1900, month, day, hour, minute, second, zone in quarter hours.
int64_t recordDateSeconds(const uint8_t* date) {
  const int zone = static_cast<int8_t>(date[6]);
  return secondsSinceEpoch(1900 + date[0], date[1], date[2], date[3], date[4], date[5]) - int64_t{zone} * 15 * 60;
}

namespace {
// An SL entry: its component records added to the link's target. linkOpen: the target goes on in
// the next SL entry; componentOpen: the last component goes on in the next component record.
void readLinkEntry(std::string_view entry, RockRidgeEntries& out, bool& linkOpen, bool& componentOpen) {
  if (out.link && !linkOpen) return;  // a second link record: the first one holds
  out.link = true;
  linkOpen = (static_cast<uint8_t>(entry[4]) & kSlContinue) != 0;
  std::string_view components = entry.substr(kEntryHead + 1);
  while (components.size() >= 2) {
    const auto flags = static_cast<uint8_t>(components[0]);
    const size_t size = static_cast<uint8_t>(components[1]);
    if (2 + size > components.size()) break;
    if (!componentOpen && !out.linkTarget.empty() && out.linkTarget.back() != '/') out.linkTarget += '/';
    if (flags & kSlRoot)
      out.linkTarget = "/";
    else if (flags & kSlParent)
      out.linkTarget += "..";
    else if (flags & kSlCurrent)
      out.linkTarget += ".";
    else
      out.linkTarget.append(components.substr(2, size));
    componentOpen = (flags & kSlComponentContinue) != 0;
    components.remove_prefix(2 + size);
  }
}

// A TF entry: its modification time, when it records one.
void readTimeEntry(std::string_view entry, RockRidgeEntries& out) {
  const auto flags = static_cast<uint8_t>(entry[4]);
  const size_t stamp = (flags & kTfLongForm) ? 17 : 7;
  const size_t at = kEntryHead + 1 + ((flags & kTfCreation) ? stamp : 0);  // a creation time comes first
  if ((flags & kTfModify) && at + stamp <= entry.size()) {
    out.hasModified = true;
    const std::string_view date = entry.substr(at, stamp);
    out.modified =
        stamp == 17 ? longDateSeconds(date) : recordDateSeconds(reinterpret_cast<const uint8_t*>(date.data()));
  }
}
}  // namespace

RockRidgeEntries readRockRidge(std::string_view systemUse, const ImageFile* file) {
  RockRidgeEntries out;
  bool nameContinues = false, nameBroken = false, nameDone = false;
  bool linkOpen = false;       // the previous SL entry said the target goes on
  bool componentOpen = false;  // the previous component goes on in the next one
  std::vector<char> area;
  for (int continuation = 0;; ++continuation) {
    uint32_t ceSector = 0, ceOffset = 0, ceLength = 0;
    while (systemUse.size() >= kEntryHead) {
      const size_t length = static_cast<uint8_t>(systemUse[2]);
      if (length < kEntryHead || length > systemUse.size()) break;  // padding or a damaged entry
      const std::string_view entry = systemUse.substr(0, length);
      systemUse.remove_prefix(length);
      if (is(entry, 'S', 'T')) break;  // the area ends here
      if (is(entry, 'R', 'E')) {
        out.relocated = true;
      } else if (is(entry, 'C', 'L') && length >= kEntryHead + 8) {
        out.childLink = true;
        out.childSector = le32(entry, kEntryHead);
      } else if (is(entry, 'C', 'E') && length >= kEntryHead + 24) {  // SUSP 5.1: sector, offset, length
        ceSector = le32(entry, kEntryHead);
        ceOffset = le32(entry, kEntryHead + 8);
        ceLength = le32(entry, kEntryHead + 16);
      } else if (is(entry, 'N', 'M') && length >= kEntryHead + 1 && !nameBroken && !nameDone) {
        const auto flags = static_cast<uint8_t>(entry[4]);
        if (flags & kNmCurrentOrParent) {
          nameBroken = true;
          continue;
        }
        out.name.append(entry.substr(kEntryHead + 1));
        nameContinues = (flags & kNmContinue) != 0;
        nameDone = !nameContinues;
      } else if (is(entry, 'S', 'L') && length >= kEntryHead + 1) {
        readLinkEntry(entry, out, linkOpen, componentOpen);
      } else if (is(entry, 'T', 'F') && length >= kEntryHead + 1) {
        readTimeEntry(entry, out);
      }
    }
    if (!file || ceLength == 0 || continuation == kMaxContinuations) break;
    // A continuation area lies inside one sector of the image.
    const uint64_t at = iso::sectorOffset(ceSector) + ceOffset;
    if (ceSector == 0 || ceOffset >= iso::kSectorSize || ceLength > iso::kSectorSize - ceOffset ||
        at + ceLength > file->size())
      break;
    area.resize(ceLength);
    size_t got = 0;
    if (!file->readAt(at, area.data(), area.size(), got) || got != area.size()) break;
    systemUse = std::string_view(area.data(), area.size());
  }
  if (nameContinues || nameBroken) out.name.clear();
  if (linkOpen || componentOpen) out.linkTarget.clear();  // the rest was never found
  return out;
}

}  // namespace umbra
