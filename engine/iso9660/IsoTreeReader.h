#pragma once
// The ISO 9660 tree and the Joliet tree as tree readers: folders from the path table, each one's
// record and name from its parent's directory, listings from directory walks, and the File Flags
// byte as the hidden mark (Existence and Associated File set hide; both clear and Directory set show).
// A Rock Ridge tree's relocated folders stand where their placeholders are, as Rock Ridge readers
// show them: each has two records, the placeholder and its record in the folder of moved folders,
// which listings leave out.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/model/TreeReader.h"

namespace umbra {

class CIsoImage;

class IsoTreeReader : public TreeReader {
 public:
  static const TreeKind kIso9660;
  static const TreeKind kJoliet;

  // The tree of the primary descriptor (joliet false) or of the Joliet descriptor of an open image,
  // its folders read from the path table (out null for Joliet when the image has no Joliet
  // descriptor). An error says why the folders could not all be read; the reader then holds those
  // read before it (UnknownFormat, Damaged) or none.
  static Error open(const CIsoImage& image, bool joliet, std::unique_ptr<TreeReader>& out);

  const TreeKind& kind() const override { return m_joliet ? kJoliet : kIso9660; }
  bool keepsGivenNames() const override;
  // Makers cut Joliet names to 64 characters.
  size_t givenNameLimit() const override { return m_joliet ? 64 : 0; }
  bool placesEveryFolder() const override { return !m_unfollowedRelocation; }
  int nameRank() const override { return m_joliet ? 1 : m_rockRidge ? 2 : 0; }
  bool storesLongNames() const override { return m_rockRidge; }
  std::string description() const override;
  const std::vector<TreeFolder>& folders() const override { return m_folders; }
  Error listFolder(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const override;
  Error listContent(const ImageFile& file, int folder, std::vector<ContentEntry>& out) const override;
  Error readHidden(const ImageFile& file, uint64_t recordOffset, HiddenMark& mark) const override;
  Error planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                   std::vector<BytePatch>& out) const override;

 private:
  IsoTreeReader(const CIsoImage& image, bool joliet);
  Error readFolders(const ImageFile& file);
  std::string nameOf(std::string_view identifier) const;
  // Moves each relocated folder to its placeholder's folder and renumbers the list so that parents
  // still come first; leaves `folders` as it was and returns the error when a link is bad.
  Error followRelocations(const ImageFile& file, std::vector<TreeFolder>& folders, const std::vector<int>& depth);
  // Its three steps: the placeholders (in the folders at the eighth level), the moved folders'
  // records where they were moved to, and the list renumbered with each moved folder at its place.
  struct RelocationScan;
  Error findPlaceholders(const ImageFile& file, const std::vector<TreeFolder>& folders, const std::vector<int>& depth,
                         RelocationScan& scan) const;
  Error findMovedRecords(const ImageFile& file, const std::vector<TreeFolder>& folders, RelocationScan& scan);
  Error placeMovedFolders(std::vector<TreeFolder>& folders, RelocationScan& scan);
  Error damaged(const char* why) const;  // "why The image is damaged."

  // A relocated folder: its placeholder's record (the key of m_placeholders) and its moved record.
  struct Relocation {
    int folder = -1;
    uint64_t movedRecord = 0;
    uint32_t movedLength = 0;
    std::string movedName;  // the moved record's own identifier, which a clash there may have changed
  };
  static HiddenMark markOf(uint8_t flags);

  std::string m_path;
  bool m_joliet;
  uint32_t m_pathTableSector = 0;
  uint32_t m_pathTableSize = 0;
  uint8_t m_escape = 0;  // Joliet level: '@', 'C' or 'E'
  std::vector<TreeFolder> m_folders;
  std::unordered_map<uint32_t, int> m_folderByExtent;
  bool m_rockRidge = false;
  std::unordered_map<uint64_t, Relocation> m_placeholders;  // placeholder record offset -> folder
  std::unordered_map<uint64_t, int> m_movedRecords;         // moved record offset -> folder
  bool m_unfollowedRelocation = false;
};

}  // namespace umbra
