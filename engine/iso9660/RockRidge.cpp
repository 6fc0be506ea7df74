#include "engine/iso9660/RockRidge.h"

#include <vector>

#include "engine/io/ImageFile.h"
#include "engine/iso9660/IsoLayout.h"

namespace umbra {

namespace {
constexpr size_t kEntryHead = 4;  // signature (2), length, version
constexpr uint8_t kNmContinue = 0x01;
constexpr uint8_t kNmCurrentOrParent = 0x06;
// A record's entries rarely need one continuation area; a chain longer than this is a crafted loop.
constexpr int kMaxContinuations = 8;

bool is(std::string_view entry, char a, char b) { return entry[0] == a && entry[1] == b; }
uint32_t le32(std::string_view entry, size_t at) {
  return iso::readLe32(reinterpret_cast<const uint8_t*>(entry.data() + at));
}
}  // namespace

bool hasSuspMarker(std::string_view systemUse) {
  return systemUse.size() >= 7 && systemUse[0] == 'S' && systemUse[1] == 'P' &&
         static_cast<uint8_t>(systemUse[4]) == 0xBE && static_cast<uint8_t>(systemUse[5]) == 0xEF;
}

RockRidgeEntries readRockRidge(std::string_view systemUse, const ImageFile* file) {
  RockRidgeEntries out;
  bool nameContinues = false, nameBroken = false, nameDone = false;
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
      } else if (is(entry, 'C', 'E') && length >= kEntryHead + 24) {
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
  return out;
}

std::string rockRidgeName(std::string_view systemUse) { return readRockRidge(systemUse).name; }

}  // namespace umbra
