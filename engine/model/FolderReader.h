#pragma once
// Lists one folder of an open image into rows, pairing each ISO 9660 record with its Joliet twin.
// A reader keeps its own buffers; readers with their own file handle may list on several threads.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/iso9660/CIsoImage.h"
#include "engine/Error.h"
#include "engine/model/FolderTree.h"

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

class FolderReader {
 public:
  // Reads through the given image (same thread as its other users).
  FolderReader(const CIsoImage& image, const FolderTree& tree);
  // Reads through an image of its own (another handle on the same file).
  FolderReader(std::unique_ptr<CIsoImage> image, const FolderTree& tree);
  ~FolderReader();
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  Error list(int folderIndex, FolderListing& out);

 private:
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
  struct Scratch {
    std::vector<uint8_t> primaryBuffer, jolietBuffer;
    std::vector<DirRecord> primary;
    std::vector<JolietEntry> joliet;
    std::vector<ExtentKey> primaryKeys, jolietKeys;
    std::vector<std::pair<std::string, uint32_t>> jolietNames;
  };

  std::unique_ptr<CIsoImage> m_ownImage;
  const CIsoImage* m_image;
  const FolderTree* m_tree;
  Scratch m_scratch;
};

}  // namespace umbra
