#include "engine/Workspace.h"

#include <algorithm>
#include <cstdio>

#include "engine/model/NameKey.h"

namespace umbra {

using namespace iso;

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
  if (!isOpen()) {
    out = {folderIndex, {}};
    return makeError(ErrorKind::NotOpen, m_path, "No image is open.");
  }
  return m_reader.list(folderIndex, out);
}

std::unique_ptr<FolderReader> Workspace::openReader(Error& error) const {
  auto image = std::make_unique<CIsoImage>();
  error = image->OpenImage(m_path, ImageFile::Mode::ReadOnly);
  if (error) return nullptr;
  return std::make_unique<FolderReader>(std::move(image), m_tree);
}

Error Workspace::writeBoth(EntryRow& row, uint8_t flags, ToggleOutcome& outcome) {
  uint8_t before = 0;
  if (Error e = m_image.ReadFileFlags(row.primaryOffset, before)) return e;
  if (row.jolietOffset != 0) {  // a Joliet record that is not there must stop us before the first write
    uint8_t unused = 0;
    if (Error e = m_image.ReadFileFlags(row.jolietOffset, unused)) return e;
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
  std::string_view path = folderPath;
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (last.empty()) return makeError(ErrorKind::PathNotFound, folderPath, "The root folder cannot be hidden.");
  const int folder = m_tree.findFolder(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash));
  if (folder < 0) return makeError(ErrorKind::PathNotFound, folderPath, "No such folder in the image.");
  FolderListing listing;
  if (Error e = listFolder(folder, listing)) return e;
  for (EntryRow& row : listing.rows)
    if (componentMatches(last, row.name, row.jolietName)) {
      out = std::move(row);
      return {};
    }
  return makeError(ErrorKind::PathNotFound, folderPath, "No such folder in the image.");
}

}  // namespace umbra
