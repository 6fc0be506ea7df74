#pragma once
// The folder hierarchy of an open image: one CFolderNode per directory of the primary path table,
// each paired with its Joliet twin where the twin can be proven (by name, else by content).
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/Error.h"

namespace umbra {

class CIsoImage;

struct FolderRecord {
  uint32_t extent = 0;   // Location of Extent; 0 = no such record
  uint32_t pathNumber = 0;  // 1-based number in its path table; 0 = none
};

struct CFolderNode {
  FolderRecord primary;
  FolderRecord joliet;
  std::string name;        // ISO 9660 directory identifier as stored ("" for the root)
  std::string jolietName;  // UTF-8; empty when there is no Joliet twin
  int parent = -1;         // index of the parent node; -1 for the root
  int depth = 0;
  std::vector<int> children;  // in path-table order
};

class FolderTree {
 public:
  // Builds the tree from the image's path tables. On a bad parent number it stops and returns
  // UnknownFormat, keeping the nodes built so far.
  Error build(CIsoImage& image);
  void clear();

  bool empty() const { return m_nodes.empty(); }
  size_t size() const { return m_nodes.size(); }
  const CFolderNode& node(int index) const { return m_nodes[static_cast<size_t>(index)]; }
  const std::vector<CFolderNode>& nodes() const { return m_nodes; }

  // Node index of the folder whose primary (or Joliet) extent this is; -1 if none.
  int findByPrimaryExtent(uint32_t extent) const;
  int findByJolietExtent(uint32_t extent) const;
  // The subfolder of `folder` that a path component names (ISO 9660 identifier ignoring case, or
  // the Joliet name); -1 if none.
  int findChild(int folder, std::string_view component) const;
  // The folder a path such as "/Beta/inner" names, from the root; -1 if none.
  int findFolder(std::string_view path) const;
  // "/BETA/INNER" built from ISO identifiers; "/" for the root.
  std::string pathOf(int index) const;

 private:
  void pairJoliet(CIsoImage& image);
  void setTwin(int node, uint32_t jolietExtent, uint32_t jolietNumber, std::string jolietName);

  std::vector<CFolderNode> m_nodes;
  std::unordered_map<uint32_t, int> m_byPrimaryExtent;
  std::unordered_map<uint32_t, int> m_byJolietExtent;
};

}  // namespace umbra
