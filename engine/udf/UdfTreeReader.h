#pragma once
// The UDF tree of an image as a TreeReader: found through the recognition sequence and the
// anchor, its folders walked once at open (every descriptor on the way checked; the entries of
// files are read only when a folder is listed), and the hidden bit of a folder's File Identifier
// Descriptor read and planned with its CRC and checksum, in every stored copy.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/model/TreeReader.h"
#include "engine/udf/UdfDirectory.h"
#include "engine/udf/UdfFileEntry.h"
#include "engine/udf/UdfPartitions.h"

namespace umbra {

// The image's UDF tree, or null when the image has none. A tree that is there but damaged or
// laid out in a way this reader does not handle gives a reader whose problem() says so.
std::unique_ptr<TreeReader> findUdfTree(const ImageFile& file);

namespace udf {

class UdfTreeReader final : public TreeReader {
 public:
  // Null when the image has no UDF volume recognition sequence.
  static std::unique_ptr<UdfTreeReader> open(const ImageFile& file);

  const TreeKind& kind() const override;
  std::string description() const override { return m_description; }
  std::string problem() const override { return m_problem; }
  int nameRank() const override { return 3; }
  bool listingReadsEachEntry() const override { return true; }
  size_t cutNameLength() const override { return 64; }
  const std::vector<TreeFolder>& folders() const override { return m_folders; }
  Error listFolder(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const override;
  // Leaves the entries' own descriptors unread: no dates, sizes or data.
  Error listMarks(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const override;
  Error completeEntry(const ImageFile& file, TreeEntry& entry) const override;
  Error listContent(const ImageFile& file, int folder, std::vector<ContentEntry>& out) const override;
  Error readHidden(const ImageFile& file, uint64_t recordOffset, HiddenMark& mark) const override;
  Error planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                   std::vector<BytePatch>& out) const override;

 private:
  UdfTreeReader() = default;
  Error load(const ImageFile& file);
  Error list(const ImageFile& file, int folder, bool withEntries, std::vector<TreeEntry>& out) const;
  Error walk(const ImageFile& file);

  // Where a folder's identifier lies in its parent directory, as the walk found it.
  struct FolderRecord {
    uint64_t streamOffset = 0;  // in the parent directory's bytes
    uint32_t length = 0;        // padding included
    uint32_t tagBlock = 0;      // the block its tag must name
    bool inParentEntry = false;  // the parent's identifiers are embedded in its entry, under its CRC
    std::vector<std::vector<ImageRun>> copies;  // the identifier's bytes in each stored copy
  };
  // One copy of a folder's identifier, read as it stands in the file now and checked.
  struct Located {
    int directory = 0;  // the folder whose directory holds the identifier
    int copy = 0;
    FolderRecord record;
    std::vector<uint8_t> bytes;
  };
  // A file's identifier: found in the directory that holds recordOffset.
  Error locateFile(const ImageFile& file, uint64_t recordOffset, Located& out) const;
  // Where the entry's bytes lie (or why they cannot be read), its kind and its modification time.
  void describe(const ImageFile& file, const UdfFileEntry& entry, ContentEntry& out) const;
  Error locate(const ImageFile& file, uint64_t recordOffset, Located& out) const;
  // Reads the located copy's bytes and checks its tag.
  Error readLocated(const ImageFile& file, uint64_t recordOffset, Located& out) const;

  std::string m_description, m_problem;
  UdfPartitions m_partitions;
  uint64_t m_root = 0;
  std::vector<TreeFolder> m_folders;
  std::vector<FolderRecord> m_folderRecords;  // per folder; empty for the root
  std::vector<UdfDirectory> m_directories;    // per folder: where its identifiers lie, as the walk found them
  std::map<uint64_t, int> m_directoryBlocks;  // image sector of a directory block (any copy) -> folder
  std::map<uint64_t, std::pair<int, int>> m_records;  // record offset -> folder index, copy
};

}  // namespace udf
}  // namespace umbra
