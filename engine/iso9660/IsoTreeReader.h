#pragma once
// The ISO 9660 tree and the Joliet tree as tree readers: folders from the path table, each one's
// record and name from its parent's directory, listings from directory walks, and the File Flags
// byte as the hidden mark (5 hides, 2 shows).
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

  // The tree of the primary descriptor (joliet false) or of the Joliet descriptor of an open image.
  IsoTreeReader(const CIsoImage& image, bool joliet);

  const TreeKind& kind() const override { return m_joliet ? kJoliet : kIso9660; }
  bool keepsGivenNames() const override;
  int nameRank() const override { return m_joliet ? 1 : m_rockRidge ? 2 : 0; }
  std::string description() const override;
  Error readFolders(const ImageFile& file, std::vector<TreeFolder>& out) const override;
  Error listFolder(const ImageFile& file, const std::vector<TreeFolder>& folders, int folder,
                   std::vector<TreeEntry>& out) const override;
  Error listContent(const ImageFile& file, const std::vector<TreeFolder>& folders, int folder,
                    std::vector<ContentEntry>& out) const override;
  Error readHidden(const ImageFile& file, uint64_t recordOffset, bool& hidden) const override;
  Error planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                   std::vector<BytePatch>& out) const override;

  // Whether the ISO 9660 tree carries Rock Ridge names (known after readFolders).
  bool rockRidge() const { return m_rockRidge; }

 private:
  std::string nameOf(std::string_view identifier) const;

  std::string m_path;
  bool m_joliet;
  uint32_t m_pathTableSector = 0;
  uint32_t m_pathTableSize = 0;
  uint8_t m_escape = 0;  // Joliet level: '@', 'C' or 'E'
  // Filled once by readFolders, read-only afterwards (listings may run on several threads).
  mutable std::unordered_map<uint32_t, int> m_folderByExtent;
  mutable bool m_rockRidge = false;
};

}  // namespace umbra
