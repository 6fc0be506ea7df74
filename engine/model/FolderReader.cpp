#include "engine/model/FolderReader.h"

#include <algorithm>
#include <cstdio>

#include "engine/model/NameKey.h"
#include "engine/iso9660/RockRidge.h"

namespace umbra {

using namespace iso;

namespace {
// Writes n (below 1000) without leading zeros; returns the position after it.
char* putSmallNumber(char* out, unsigned n) {
  if (n >= 100) *out++ = static_cast<char>('0' + n / 100);
  if (n >= 10) *out++ = static_cast<char>('0' + n / 10 % 10);
  *out++ = static_cast<char>('0' + n % 10);
  return out;
}
}  // namespace

// "%d-%d-%d %d:%d" of year, month, day, hour, minute; written by hand because a listing of a
// large image formats hundreds of thousands of these.
std::string EntryRow::modifiedText() const {
  char text[24];
  const unsigned year = 1900u + date[0];  // 1900 to 2155
  char* out = text;
  *out++ = static_cast<char>('0' + year / 1000);
  *out++ = static_cast<char>('0' + year / 100 % 10);
  *out++ = static_cast<char>('0' + year / 10 % 10);
  *out++ = static_cast<char>('0' + year % 10);
  *out++ = '-';
  out = putSmallNumber(out, date[1]);
  *out++ = '-';
  out = putSmallNumber(out, date[2]);
  *out++ = ' ';
  out = putSmallNumber(out, date[3]);
  *out++ = ':';
  out = putSmallNumber(out, date[4]);
  return std::string(text, out);
}

std::string EntryRow::sizeText() const {
  char text[32];
  std::snprintf(text, sizeof text, "%u bytes", size);
  return text;
}

FolderReader::FolderReader(const CIsoImage& image, const FolderTree& tree) : m_image(&image), m_tree(&tree) {}

FolderReader::FolderReader(std::unique_ptr<CIsoImage> image, const FolderTree& tree)
    : m_ownImage(std::move(image)), m_image(m_ownImage.get()), m_tree(&tree) {}

FolderReader::~FolderReader() = default;

Error FolderReader::list(int folderIndex, FolderListing& out) {
  out.folderIndex = folderIndex;
  out.rows.clear();
  const CIsoImage& image = *m_image;
  const FolderTree& tree = *m_tree;
  if (folderIndex < 0 || static_cast<size_t>(folderIndex) >= tree.size())
    return makeError(ErrorKind::PathNotFound, image.Path(), "No such folder.");
  const CFolderNode& folder = tree.node(folderIndex);
  Scratch& scratch = m_scratch;

  DirectoryWalk primaryWalk, jolietWalk;
  if (Error e = image.LoadDirectory(folder.primary.extent, scratch.primaryBuffer, primaryWalk)) return e;
  scratch.primary.clear();
  DirRecord r;
  while (primaryWalk.next(r))
    if (!r.isSelf() && !r.isParent()) scratch.primary.push_back(r);

  auto& joliet = scratch.joliet;
  joliet.clear();
  if (folder.joliet.extent != 0 && !image.LoadDirectory(folder.joliet.extent, scratch.jolietBuffer, jolietWalk)) {
    while (jolietWalk.next(r))
      if (!r.isSelf() && !r.isParent()) joliet.push_back({r.extent, r.dataLength, r.offset, r.identifier, false, false, {}});
  }
  // Files are found by the extent they share in both trees: sorted (extent, size) keys make each
  // look-up a binary search, on both sides, so that a shared extent can be told from a unique one.
  auto sortedKeys = [](auto& keys) { std::sort(keys.begin(), keys.end()); };
  scratch.jolietKeys.clear();
  for (uint32_t i = 0; i < joliet.size(); ++i) scratch.jolietKeys.push_back({joliet[i].extent, joliet[i].size, i});
  sortedKeys(scratch.jolietKeys);
  scratch.primaryKeys.clear();
  for (uint32_t i = 0; i < scratch.primary.size(); ++i)
    scratch.primaryKeys.push_back({scratch.primary[i].extent, scratch.primary[i].dataLength, i});
  sortedKeys(scratch.primaryKeys);
  auto range = [](const std::vector<ExtentKey>& keys, uint32_t extent, uint32_t size) {
    return std::equal_range(keys.begin(), keys.end(), ExtentKey{extent, size, 0},
                            [](const ExtentKey& a, const ExtentKey& b) {
                              return std::tie(a.extent, a.size) < std::tie(b.extent, b.size);
                            });
  };
  // Names decide among entries sharing an extent (empty files): sorted keys, built once, only
  // when needed.
  auto& jolietByName = scratch.jolietNames;
  jolietByName.clear();
  bool namesBuilt = false;
  auto jolietUtf8 = [&](JolietEntry& j) -> const std::string& {
    if (!j.converted) {
      j.utf8 = jolietToUtf8(j.name);
      j.converted = true;
    }
    return j.utf8;
  };

  out.rows.reserve(scratch.primary.size());
  for (const DirRecord& rec : scratch.primary) {
    EntryRow& row = out.rows.emplace_back();
    row.name.assign(rec.identifier);
    row.size = rec.dataLength;
    row.hidden = rec.flags == kHiddenFolderFlags;
    std::copy(rec.date, rec.date + kDrDateLength, row.date);
    row.primaryOffset = rec.offset;
    const int node = tree.findByPrimaryExtent(rec.extent);
    // A hidden folder has lost its Directory bit; its extent still names a folder of the path table.
    row.isFolder = (rec.flags & kFlagDirectory) != 0 || (row.hidden && node >= 0);
    if (row.isFolder) row.folderIndex = node;

    JolietEntry* twin = nullptr;
    if (row.isFolder) {
      const uint32_t jolietExtent = node >= 0 ? tree.node(node).joliet.extent : 0;
      if (jolietExtent != 0) {
        auto it = std::lower_bound(scratch.jolietKeys.begin(), scratch.jolietKeys.end(), jolietExtent,
                                   [](const ExtentKey& k, uint32_t extent) { return k.extent < extent; });
        if (it != scratch.jolietKeys.end() && it->extent == jolietExtent) twin = &joliet[it->index];
      }
    } else {
      const auto [first, last] = range(scratch.jolietKeys, rec.extent, rec.dataLength);
      const auto [pfirst, plast] = range(scratch.primaryKeys, rec.extent, rec.dataLength);
      if (last - first == 1 && plast - pfirst == 1) {
        twin = &joliet[first->index];
      } else if (first != last) {
        if (!namesBuilt) {
          for (uint32_t i = 0; i < joliet.size(); ++i) jolietByName.emplace_back(nameKey(jolietUtf8(joliet[i])), i);
          std::sort(jolietByName.begin(), jolietByName.end());
          namesBuilt = true;
        }
        int count = 0;
        const std::string longName = rockRidgeName(rec.systemUse);
        const std::string key = nameKey(longName.empty() ? row.name : longName);
        for (auto it = std::lower_bound(jolietByName.begin(), jolietByName.end(), std::pair<std::string, uint32_t>(key, 0));
             it != jolietByName.end() && it->first == key; ++it) {
          JolietEntry& j = joliet[it->second];
          if (!j.taken && j.extent == rec.extent && j.size == rec.dataLength) {
            twin = &j;
            ++count;
          }
        }
        if (count != 1) twin = nullptr;
      }
    }
    if (twin && !twin->taken) {
      twin->taken = true;
      row.hasJoliet = true;
      row.jolietOffset = twin->offset;
      row.jolietName = std::move(jolietUtf8(*twin));
    }
  }
  if (primaryWalk.damaged())
    return makeError(ErrorKind::UnknownFormat, image.Path(), "A folder's record list is damaged; it is shown only in part.");
  return {};
}

}  // namespace umbra
