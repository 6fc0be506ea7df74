#pragma once
// The workspace both views share: open an image into its folder tree, list a folder into rows,
// hide and show folders. It never shows anything; it returns rows and error values.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "CIsoImage.h"
#include "Error.h"
#include "FolderTree.h"

namespace umbra {

// One entry of a listed folder (a row of the file list).
struct EntryRow {
  std::string name;         // ISO 9660 identifier as stored, e.g. "README.TXT;1"
  std::string jolietName;   // UTF-8 Joliet name; empty when the entry has no Joliet twin
  bool hasJoliet = false;
  bool isFolder = false;    // from the image: Directory bit, or a hidden record whose extent is a folder
  bool hidden = false;      // the primary record's flags byte is exactly 5
  uint32_t size = 0;        // Data Length, unsigned
  uint8_t date[7] = {};     // recording date as stored
  uint64_t primaryOffset = 0;  // image byte offset of the primary directory record
  uint64_t jolietOffset = 0;   // image byte offset of the Joliet record; 0 = none
  int folderIndex = -1;        // for a folder: its index in the FolderTree, when known

  const char* property() const { return hidden ? "Hidden" : "Normal"; }
  std::string modifiedText() const;  // "%d-%d-%d %d:%d"
  std::string sizeText() const;      // "%u bytes"
};

struct FolderListing {
  int folderIndex = -1;
  std::vector<EntryRow> rows;  // in primary directory order, "." and ".." left out
};

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

  // Buffers reused from one listing to the next, so that listing every folder allocates little.
  struct JolietEntry {
    uint32_t extent;
    uint32_t size;
    uint64_t offset;
    std::string_view name;
    bool taken;
    bool converted;    // utf8 holds the name
    std::string utf8;
  };
  struct ExtentKey {
    uint32_t extent;
    uint32_t size;
    uint32_t index;
    bool operator<(const ExtentKey& o) const {
      return extent != o.extent ? extent < o.extent : size != o.size ? size < o.size : index < o.index;
    }
  };
  struct ListingScratch {
    std::vector<uint8_t> primaryBuffer, jolietBuffer;
    std::vector<DirRecord> primary;
    std::vector<JolietEntry> joliet;
    std::vector<ExtentKey> primaryKeys, jolietKeys;
    std::vector<std::pair<std::string, uint32_t>> jolietNames;
  };

  CIsoImage m_image;
  FolderTree m_tree;
  std::string m_path;
  mutable ListingScratch m_scratch;
};

}  // namespace umbra
