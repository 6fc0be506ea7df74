#pragma once
// The folder hierarchy of an open image: one CFolderNode per folder, holding its place in every
// tree where its twin is proven. A folder of one tree without a proven twin in another tree that
// has folders is "unpaired" there: it keeps a node of its own, and it cannot be hidden. Where every
// folder of that other tree at the same place is paired with another folder already (or the tree
// has no folder there), the folder is proven absent from it instead: it is hidden in the trees
// that hold it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Error.h"
#include "engine/model/FolderPairing.h"
#include "engine/model/ImageTrees.h"
#include "engine/model/PathNames.h"

namespace umbra {

class ImageFile;

// A folder's place in one tree: the tree, and the folder's index in that tree's folder list.
struct FolderPlace {
  int tree = 0;
  int folder = 0;
};

struct CFolderNode {
  std::string name;                // ISO 9660 identifier as stored; else its name in its first tree; "" for the root
  // How a path names it among its siblings when `name` alone could mean another folder too (a
  // name of it no sibling has, or "name;tree"); "" when `name` does.
  std::string address;
  int parent = -1;                 // index of the parent node; -1 for the root
  int depth = 0;
  std::vector<int> children;       // ISO 9660 order, then folders found only in other trees
  std::vector<FolderPlace> places;  // in tree order
  std::vector<int> unpairedIn;     // usable trees in which no twin of this folder could be proven
  std::vector<std::string> unpairedWhy;  // for each of them, why (a clause for a sentence); may be ""
  std::vector<int> absentIn;       // usable trees proven to hold no twin of this folder

  bool absentFrom(int tree) const {
    for (int t : absentIn)
      if (t == tree) return true;
    return false;
  }

  // Index of the folder in that tree's list; -1 when it has none there.
  int folderIn(int tree) const {
    for (const FolderPlace& p : places)
      if (p.tree == tree) return p.folder;
    return -1;
  }
};

class FolderTree {
 public:
  // Pairs the folders of every tree. Listings are read where names do not prove a twin.
  void build(const ImageFile& file, const ImageTrees& trees);
  void clear();

  bool empty() const { return m_nodes.empty(); }
  size_t size() const { return m_nodes.size(); }
  const CFolderNode& node(int index) const { return m_nodes[static_cast<size_t>(index)]; }
  const std::vector<CFolderNode>& nodes() const { return m_nodes; }
  const ImageTrees& trees() const { return *m_trees; }

  // Node of a tree's folder; -1 if none.
  int findByPlace(int tree, int folder) const;
  // The name of a node in a tree ("" when it has no place there).
  const std::string& nameIn(int node, int tree) const;
  // The exact long name the tree also stores for it (Rock Ridge NM); "" when none.
  const std::string& rockRidgeNameIn(int node, int tree) const;
  // Resolves "/Beta/inner" from the root. A component matches a name in any tree as NameIndex
  // says. Errors: PathNotFound, or AmbiguousPath naming both folders.
  Error findFolder(std::string_view path, int& result) const;
  // "/BETA/INNER" built from the nodes' names (or addresses); "/" for the root. findFolder
  // resolves it to the same node.
  std::string pathOf(int index) const;
  // The component that names the node among its siblings.
  const std::string& componentOf(int index) const;

 private:
  void pairTree(const ImageFile& file, int tree, FolderPairing::LongNames& longNames);
  void giveAddresses();
  // Every name of a node's children, for resolving a component.
  void indexChildren(int node, NameIndex& names) const;

  const ImageTrees* m_trees = nullptr;
  std::vector<CFolderNode> m_nodes;
  std::vector<std::vector<int>> m_byPlace;  // per tree: folder index -> node
};

}  // namespace umbra
