#include "Workspace.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "NameKey.h"

namespace umbra {

using namespace iso;

namespace {
void appendNumber(std::string& text, unsigned n) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n);
  while (count) text += digits[--count];
}
}  // namespace

// "%d-%d-%d %d:%d" of year, month, day, hour, minute; written by hand because a listing of a
// large image formats hundreds of thousands of these.
std::string EntryRow::modifiedText() const {
  std::string text;
  text.reserve(16);
  appendNumber(text, 1900u + date[0]);
  text += '-';
  appendNumber(text, date[1]);
  text += '-';
  appendNumber(text, date[2]);
  text += ' ';
  appendNumber(text, date[3]);
  text += ':';
  appendNumber(text, date[4]);
  return text;
}

std::string EntryRow::sizeText() const {
  char text[32];
  std::snprintf(text, sizeof text, "%u bytes", size);
  return text;
}

Error Workspace::open(const std::string& path, OpenMode mode) {
  close();
  if (Error e = m_image.OpenImage(path, mode == OpenMode::ReadOnly ? ImageFile::Mode::ReadOnly : ImageFile::Mode::ReadWrite))
    return e;
  if (Error e = m_image.ReadPrimaryDescriptor(mode == OpenMode::Work)) {
    close();
    return e;
  }
  m_path = path;
  Error e = m_tree.build(m_image);
  if (e && e.kind != ErrorKind::UnknownFormat) close();
  return e;  // an unknown format keeps the image open with the tree built so far
}

void Workspace::close() {
  m_image.CloseImage();
  m_tree.clear();
  m_path.clear();
}

std::string Workspace::volumeIdentifier() const {
  if (!isOpen()) return {};
  const char* id = reinterpret_cast<const char*>(m_image.PrimaryDescriptor() + kVdVolumeId);
  return std::string(id, strnlen(id, kVdVolumeIdLength));
}

Error Workspace::listFolder(int folderIndex, FolderListing& out) const {
  out.folderIndex = folderIndex;
  out.rows.clear();
  if (!isOpen()) return makeError(ErrorKind::NotOpen, m_path, "No image is open.");
  if (folderIndex < 0 || static_cast<size_t>(folderIndex) >= m_tree.size())
    return makeError(ErrorKind::PathNotFound, m_path, "No such folder.");
  const CFolderNode& folder = m_tree.node(folderIndex);
  ListingScratch& scratch = m_scratch;

  DirectoryWalk primaryWalk, jolietWalk;
  if (Error e = m_image.LoadDirectory(folder.primary.extent, scratch.primaryBuffer, primaryWalk)) return e;
  scratch.primary.clear();
  DirRecord r;
  while (primaryWalk.next(r))
    if (!r.isSelf() && !r.isParent()) scratch.primary.push_back(r);

  auto& joliet = scratch.joliet;
  joliet.clear();
  if (folder.joliet.extent != 0 && !m_image.LoadDirectory(folder.joliet.extent, scratch.jolietBuffer, jolietWalk)) {
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
    const int node = m_tree.findByPrimaryExtent(rec.extent);
    // A hidden folder has lost its Directory bit; its extent still names a folder of the path table.
    row.isFolder = (rec.flags & kFlagDirectory) != 0 || (row.hidden && node >= 0);
    if (row.isFolder) row.folderIndex = node;

    JolietEntry* twin = nullptr;
    if (row.isFolder) {
      const uint32_t jolietExtent = node >= 0 ? m_tree.node(node).joliet.extent : 0;
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
        const std::string key = nameKey(row.name);
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
    return makeError(ErrorKind::UnknownFormat, m_path, "A folder's record list is damaged; it is shown only in part.");
  return {};
}

Error Workspace::writeBoth(EntryRow& row, uint8_t flags, ToggleOutcome& outcome) {
  uint8_t before = 0;
  if (Error e = m_image.ReadFileFlags(row.primaryOffset, before)) return e;
  if (row.jolietOffset != 0) {
    uint8_t jolietBefore = 0;
    if (Error e = m_image.ReadFileFlags(row.jolietOffset, jolietBefore)) return e;
  }
  if (Error e = m_image.WriteFileFlags(row.primaryOffset, flags)) return e;
  if (row.jolietOffset != 0) {
    if (Error e = m_image.WriteFileFlags(row.jolietOffset, flags)) {
      // Both trees or neither: put the primary record back as it was.
      (void)m_image.WriteFileFlags(row.primaryOffset, before);
      return e;
    }
  } else if (m_image.HasJoliet()) {
    outcome.notices.push_back(row.name + " has no record in the Joliet tree; it was changed in the ISO 9660 tree only.");
  }
  row.hidden = flags == kHiddenFolderFlags;
  ++outcome.rowsChanged;
  return {};
}

ToggleOutcome Workspace::toggle(std::span<EntryRow* const> rows) {
  ToggleOutcome outcome;
  for (EntryRow* row : rows) {
    if (!row->isFolder) {
      outcome.error = makeError(ErrorKind::NotAFolder, m_path, kCannotHideFilesMessage);
      outcome.error.path.clear();
      break;
    }
    const uint8_t wanted = row->hidden ? kShownFolderFlags : kHiddenFolderFlags;
    if (Error e = writeBoth(*row, wanted, outcome)) {
      outcome.error = e;
      break;
    }
  }
  return outcome;
}

ToggleOutcome Workspace::setHidden(std::span<EntryRow* const> rows, bool hidden) {
  ToggleOutcome outcome;
  for (const EntryRow* row : rows)
    if (!row->isFolder) {
      outcome.error = makeError(ErrorKind::NotAFolder, row->name, kCannotHideFilesMessage);
      return outcome;
    }
  for (EntryRow* row : rows) {
    if (row->hidden == hidden) continue;
    if (Error e = writeBoth(*row, hidden ? kHiddenFolderFlags : kShownFolderFlags, outcome)) {
      outcome.error = e;
      break;
    }
  }
  return outcome;
}

Error Workspace::findEntry(const std::string& folderPath, EntryRow& out) const {
  std::vector<std::string_view> parts;
  std::string_view rest = folderPath;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (!part.empty()) parts.push_back(part);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (parts.empty()) return makeError(ErrorKind::PathNotFound, folderPath, "The root folder cannot be hidden.");
  if (m_tree.empty()) return makeError(ErrorKind::PathNotFound, folderPath, "No such folder in the image.");
  int folder = 0;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    int next = -1;
    for (int child : m_tree.node(folder).children)
      if (componentMatches(parts[i], m_tree.node(child).name, m_tree.node(child).jolietName)) {
        next = child;
        break;
      }
    if (next < 0) return makeError(ErrorKind::PathNotFound, folderPath, "No such folder in the image.");
    folder = next;
  }
  FolderListing listing;
  if (Error e = listFolder(folder, listing)) return e;
  for (EntryRow& row : listing.rows)
    if (componentMatches(parts.back(), row.name, row.jolietName)) {
      out = std::move(row);
      return {};
    }
  return makeError(ErrorKind::PathNotFound, folderPath, "No such folder in the image.");
}

}  // namespace umbra
