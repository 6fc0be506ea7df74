#pragma once
// The workspace both views share: open an image into its folder tree, list a folder into rows,
// hide and show folders. It never shows anything; it returns rows and error values.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/iso9660/CIsoImage.h"
#include "engine/Error.h"
#include "engine/model/FolderReader.h"
#include "engine/model/FolderTree.h"

namespace umbra {

// What a hide/show command did. Rows passed in are updated to what is on disk.
struct ToggleOutcome {
  Error error;                        // set when the command stopped (a file, a failed write)
  std::vector<std::string> notices;   // e.g. a folder hidden in the ISO 9660 tree only
  size_t rowsChanged = 0;
};

// Work: read-write, locked against other writers, stamped. WorkUnstamped: the same without the
// stamp, for callers that check their request before they write anything (then call stamp()).
enum class OpenMode { ReadOnly, Work, WorkUnstamped };

class Workspace {
 public:
  // Opens the image and builds its folder tree. In Work mode the file is locked against other
  // writers and the primary descriptor is stamped. An UnknownFormat error keeps the image open
  // with the part of the tree built before the bad record.
  Error open(const std::string& path, OpenMode mode);
  void close();
  // Writes the application stamp into the primary volume descriptor.
  Error stamp() { return m_image.ReadPrimaryDescriptor(true); }
  bool isOpen() const { return m_image.IsOpen(); }
  const std::string& path() const { return m_path; }

  const FolderTree& folders() const { return m_tree; }
  std::string volumeIdentifier() const;  // the 32 bytes as stored, trailing spaces included
  const CIsoImage& image() const { return m_image; }

  Error listFolder(int folderIndex, FolderListing& out) const;
  // A reader with its own read-only handle on the open image, for listing on another thread
  // while this workspace lists too. Null (and error set) when the file cannot be opened again.
  std::unique_ptr<FolderReader> openReader(Error& error) const;

  // Hide/show rows in the given order, following the Hide button's rules: a hidden row is
  // shown again (folders only), a normal folder is hidden, a file stops the command with
  // kCannotHideFilesMessage. Each folder changes in both trees or in neither.
  ToggleOutcome toggle(std::span<EntryRow* const> rows);
  // Sets rows to a wanted state (command line hide/show); idempotent.
  ToggleOutcome setHidden(std::span<EntryRow* const> rows, bool hidden);

  // Resolves "/A/B" (components match the ISO identifier ignoring case, ";1" optional, or the
  // Joliet name) to the entry's row in its parent folder. The root has no row: PathNotFound.
  Error findEntry(const std::string& folderPath, EntryRow& out) const;

 private:
  Error writeBoth(EntryRow& row, uint8_t flags, ToggleOutcome& outcome);

  CIsoImage m_image;
  FolderTree m_tree;
  std::string m_path;
  mutable FolderReader m_reader{m_image, m_tree};
};

}  // namespace umbra
