#include "Workspace.h"

#include <algorithm>
#include <cstdio>

#include "NameKey.h"

namespace umbra {

using namespace iso;

std::string EntryRow::modifiedText() const {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %d:%d", 1900 + date[0], date[1], date[2], date[3], date[4]);
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

namespace {

struct JolietEntry {
  uint32_t extent;
  uint32_t size;
  uint64_t offset;
  bool folder;
  std::string_view name;
  bool taken = false;
};

}  // namespace

Error Workspace::listFolder(int folderIndex, FolderListing& out) const {
  out = {};
  out.folderIndex = folderIndex;
  if (!isOpen()) return makeError(ErrorKind::NotOpen, m_path, "No image is open.");
  if (folderIndex < 0 || static_cast<size_t>(folderIndex) >= m_tree.size())
    return makeError(ErrorKind::PathNotFound, m_path, "No such folder.");
  const CFolderNode& folder = m_tree.node(folderIndex);

  std::vector<uint8_t> primaryBuffer, jolietBuffer;
  DirectoryWalk primaryWalk, jolietWalk;
  if (Error e = m_image.LoadDirectory(folder.primary.extent, primaryBuffer, primaryWalk)) return e;

  std::vector<JolietEntry> joliet;
  if (folder.joliet.extent != 0 && !m_image.LoadDirectory(folder.joliet.extent, jolietBuffer, jolietWalk)) {
    DirRecord r;
    while (jolietWalk.next(r))
      if (!r.isSelf() && !r.isParent())
        joliet.push_back({r.extent, r.dataLength, r.offset, (r.flags & kFlagDirectory) != 0, r.identifier});
  }
  // Files are found by their shared extent; sorting lets each look-up be a binary search.
  std::vector<size_t> byExtent(joliet.size());
  for (size_t i = 0; i < byExtent.size(); ++i) byExtent[i] = i;
  std::sort(byExtent.begin(), byExtent.end(), [&](size_t a, size_t b) {
    return std::tie(joliet[a].extent, joliet[a].size) < std::tie(joliet[b].extent, joliet[b].size);
  });
  auto candidates = [&](uint32_t extent, uint32_t size) {
    return std::equal_range(byExtent.begin(), byExtent.end(), std::pair{extent, size},
                            [&](const auto& x, const auto& y) {
                              auto key = [&](const auto& v) {
                                if constexpr (std::is_same_v<std::decay_t<decltype(v)>, size_t>)
                                  return std::pair{joliet[v].extent, joliet[v].size};
                                else
                                  return v;
                              };
                              return key(x) < key(y);
                            });
  };

  std::vector<DirRecord> primary;
  {
    DirRecord r;
    while (primaryWalk.next(r))
      if (!r.isSelf() && !r.isParent()) primary.push_back(r);
  }
  out.rows.reserve(primary.size());
  for (const DirRecord& r : primary) {
    EntryRow row;
    row.name.assign(r.identifier);
    row.size = r.dataLength;
    row.hidden = r.flags == kHiddenFolderFlags;
    std::copy(r.date, r.date + kDrDateLength, row.date);
    row.primaryOffset = r.offset;
    const int node = m_tree.findByPrimaryExtent(r.extent);
    // A hidden folder has lost its Directory bit; its extent still names a folder of the path table.
    row.isFolder = (r.flags & kFlagDirectory) != 0 || (row.hidden && node >= 0);
    if (row.isFolder) row.folderIndex = node;

    JolietEntry* twin = nullptr;
    if (row.isFolder && node >= 0 && m_tree.node(node).joliet.extent != 0) {
      const uint32_t jolietExtent = m_tree.node(node).joliet.extent;
      for (JolietEntry& j : joliet)
        if (!j.taken && j.extent == jolietExtent) {
          twin = &j;
          break;
        }
    } else if (!row.isFolder) {
      auto [first, last] = candidates(r.extent, r.dataLength);
      // Sharing an extent proves the pair only when no other entry shares it (empty files do).
      size_t sameInPrimary = 0;
      if (last - first == 1)
        for (const DirRecord& q : primary)
          sameInPrimary += (q.extent == r.extent && q.dataLength == r.dataLength) ? 1 : 0;
      if (last - first == 1 && sameInPrimary == 1 && !joliet[*first].taken) {
        twin = &joliet[*first];
      } else if (first != last) {
        const std::string key = nameKey(row.name);
        JolietEntry* match = nullptr;
        int count = 0;
        for (auto it = first; it != last; ++it)
          if (!joliet[*it].taken && nameKey(jolietToUtf8(joliet[*it].name)) == key) {
            match = &joliet[*it];
            ++count;
          }
        if (count == 1) twin = match;
      }
    }
    if (twin) {
      twin->taken = true;
      row.hasJoliet = true;
      row.jolietOffset = twin->offset;
      row.jolietName = jolietToUtf8(twin->name);
    }
    out.rows.push_back(std::move(row));
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
