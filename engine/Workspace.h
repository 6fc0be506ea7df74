#pragma once
// The workspace both views share: open an image into its folder tree, list a folder into rows,
// hide and show folders in every tree of the image. It never shows anything; it returns rows and
// error values.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Error.h"
#include "engine/iso9660/CIsoImage.h"
#include "engine/model/FolderReader.h"
#include "engine/model/FolderTree.h"
#include "engine/model/ImageTrees.h"
#include "engine/model/PathNames.h"

namespace umbra {

// What a hide or show did. Rows passed in are updated to what is on disk.
struct WriteOutcome {
  Error error;                       // why the command stopped; none when every folder got its state
  std::vector<std::string> changed;  // the folders written, as paths
  size_t rowsChanged = 0;
  bool cancelled = false;  // the caller's progress callback asked to stop between two folders
};

// Told before each folder after the first, with how many are done; false stops the command there.
// What was written stays written (and is synced), and the rows show it.
using WriteProgress = std::function<bool(size_t done)>;

// A selection sorted by what Hide does to it (Workspace::planSelection).
struct SelectionAction {
  bool hide = true;             // hide the rows, else show them
  std::vector<EntryRow*> rows;  // the rows the action writes, in the order given
  struct Left {
    const EntryRow* row = nullptr;
    Error why;
  };
  std::vector<Left> left;  // rows that cannot be acted on, in the order given
};

// Work: read-write, locked against other writers, stamped. WorkUnstamped: the same, but the stamp
// is written only before the first hide or show writes, so a refused request leaves the file as it was.
enum class OpenMode { ReadOnly, Work, WorkUnstamped };

class Workspace {
 public:
  // Opens the image and builds its folder tree over every tree it has. In Work mode the file is
  // locked against other writers and the primary descriptor is stamped. An UnknownFormat or Damaged error
  // keeps the image open with the part of the tree built before the bad record.
  Error open(const std::string& path, OpenMode mode);
  void close();
  // Writes the application stamp into the primary volume descriptor.
  Error stamp();
  bool isOpen() const { return m_image.isOpen(); }
  const std::string& path() const { return m_path; }

  const FolderTree& folders() const { return m_tree; }
  const ImageTrees& trees() const { return m_trees; }
  std::string volumeIdentifier() const;  // the 32 bytes as stored, trailing spaces included
  const CIsoImage& image() const { return m_image; }
  // What the user should know about the open image, once: trees it has that are never written.
  const std::vector<std::string>& notices() const { return m_notices; }

  Error listFolder(int folderIndex, FolderListing& out) const;
  // A reader with its own read-only handle on the open image, for listing on another thread
  // while this workspace lists too; it lists at most what the image can hold. Null (and error
  // set) when the file cannot be opened again.
  std::unique_ptr<FolderReader> openReader(Error& error) const;
  // A reader of the workspace's own open file, for the calling thread while no other thread uses
  // this workspace's file: its read-ahead still holds what opening the image read, so the folders
  // that pairing listed are not read again. It lists at most what the image can hold.
  std::unique_ptr<FolderReader> openSharedReader() const;

  // What one press of Hide does to a selection: it hides the rows that can be acted on and are
  // not hidden in every tree, or, when every such row is hidden, shows them all again. Rows that
  // cannot be acted on are left, each with checkRow's reason. Nothing is written.
  SelectionAction planSelection(std::span<EntryRow* const> selected) const;
  // planSelection(selected).hide, found by judging rows only until the answer is certain: for a
  // button that names the command while the selection changes.
  bool selectionHides(std::span<EntryRow* const> selected) const;
  // Sets every record of every row to the wanted state (the window's Hide and Show, the command
  // line's hide and show). Every row is checked before anything is written; running it again
  // repairs a partly hidden folder.
  WriteOutcome setHidden(std::span<EntryRow* const> rows, bool hidden, const WriteProgress& progress = {});
  // Why a row cannot be hidden or shown (no proven twin, a record that is not there).
  Error checkRow(const EntryRow& row) const;
  // Why a file row's twin in some tree is not proven (its own or its folder's), "" when every tree
  // holds a proven twin.
  std::string unprovenFileReason(const EntryRow& row) const;
  // Why a folder node whose twin in some tree could not be proven cannot be hidden; "" for one
  // that can.
  std::string unprovenReason(int folderNode) const;

  // Resolves "/A/B" to the entry's row in its parent folder. A component matches an exact name
  // in any tree first, else one that differs only in case when exactly one does. The root has no
  // row: PathNotFound. A path that could mean two entries: AmbiguousPath.
  Error findEntry(const std::string& entryPath, EntryRow& out) const;
  // The row of a folder node in its parent's listing (the root has none: PathNotFound).
  Error folderRow(int node, EntryRow& out) const;
  // The tree a copy of the folder node takes its names and bytes from: the usable tree with the
  // best names where the folder has a place; -1 when it has none.
  int copyTree(int node) const;
  // The entries of a folder node in that tree, as a copy needs them; a folder's subfolders come
  // with their index in the same tree's folder list.
  Error listContent(int tree, int treeFolder, std::vector<ContentEntry>& out) const;

  // "/BETA/INNER" for a folder row, the parent's path and the row's name for a file.
  std::string pathOf(const EntryRow& row) const;

 private:
  // The patches that give one record of a row the wanted state, planned from the bytes read.
  struct RecordPlan {
    int tree = 0;
    std::vector<BytePatch> patches;
  };
  // Writes the plans checkRowBytes made for the row, putting back what it wrote when one fails.
  Error writeRow(EntryRow& row, bool hidden, const std::vector<RecordPlan>& plans, int& failedTree, bool& restored);
  // Writes one row and adds it to the outcome; false (and the outcome's error set) when it failed.
  bool writeAndCount(EntryRow& row, bool hidden, WriteOutcome& outcome);
  Error finish(WriteOutcome& outcome);
  Error rowError(ErrorKind kind, const EntryRow& row, const std::string& reason) const;
  // Replaced when the path no longer names the open file as it was opened or last written here.
  Error checkSameFile() const;
  // Plans the patches of every record of the row; Replaced when a byte a patch would change differs
  // on disk from what was read. The plans are the ones writeRow writes.
  Error checkRowBytes(const EntryRow& row, bool hidden, std::vector<RecordPlan>& plans) const;
  // checkRow for a file: every tree of its folder holds a proven twin of it (the data of a twin
  // joined by its name read from its entry), or provably none.
  Error checkFileRow(const EntryRow& row) const;

  CIsoImage m_image;
  ImageTrees m_trees;
  FolderTree m_tree;
  std::string m_path;
  std::vector<std::string> m_notices;
  bool m_unsynced = false;      // written since the last sync
  bool m_stampPending = false;  // opened WorkUnstamped and nothing written yet
  Error stampIfPending();
  mutable FolderReader m_reader{m_image.file(), m_tree};
  // Listings made to resolve paths, kept until the next write: the paths of one command, and the
  // window's look-ups on one image, list each parent folder once.
  struct PathListing {
    FolderListing listing;
    NameIndex names;  // row numbers by every record's name
  };
  mutable std::unordered_map<int, PathListing> m_pathListings;
  const PathListing* pathListing(int folder, Error& error) const;
};

}  // namespace umbra
