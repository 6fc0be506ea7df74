#pragma once
// Proves which folder of a tree is the twin of which folder node, among the subfolders of two
// folders already paired. Evidence, strongest first, each used only where it names exactly one
// folder on each side: the names the user gave, names brought to the ISO 9660 form, Rock Ridge
// names, the files a subtree holds, the names of its subfolders, a name the maker cut short.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/model/ImageTrees.h"

namespace umbra {

class FolderTree;
struct CFolderNode;
class ImageFile;

class FolderPairing {
 public:
  FolderPairing(const ImageFile& file, const ImageTrees& trees, const FolderTree& tree, int pairedTree);

  // Twins share their files' data: the first tree (after the node's first) whose folder holds files
  // none of which the first tree's folder holds, or -1. Such folders are not one folder, whatever
  // paired them; a folder without files, or one that cannot be listed, proves nothing here.
  static int treeWithOtherFiles(const ImageFile& file, const ImageTrees& trees, const CFolderNode& node);

  // Pairs nodes (children of `parent`, not yet placed in the tree) with twins (children of
  // `folder` in the tree); the pairs found leave both lists.
  void pairSiblings(int parent, int folder, std::vector<int>& nodes, std::vector<int>& twins,
                    const std::function<void(int node, int folder)>& pair);

 private:
  using Keys = std::vector<std::string>;
  void pairByKeys(std::vector<int>& nodes, std::vector<int>& twins, const std::function<Keys(int)>& nodeKeys,
                  const std::function<Keys(int)>& twinKeys, const std::function<void(int, int)>& pair);
  // Rock Ridge (or other exact) name of a folder, read from its parent's listing.
  const std::string& originalName(int tree, int parentFolder, int folder);
  // Prints of a folder's whole subtree: its files (0 when it holds none), and its subfolders' names.
  uint64_t contentPrint(int tree, int folder, int depth = 0);
  uint64_t shapePrint(int tree, int folder, int depth = 0);
  struct Summary {
    uint64_t files = 0;                  // ContentPrint of the files it holds directly
    std::vector<std::string> childKeys;  // name keys of its subfolders, in folder-list order
    bool read = false;
  };
  const Summary& summary(int tree, int folder);

  const ImageFile& m_file;
  const ImageTrees& m_trees;
  const FolderTree& m_tree;
  int m_pairedTree;
  uint64_t m_entryBudget;  // entries the listings may still read: a crafted image must not make pairing run long
  std::unordered_map<uint64_t, std::unordered_map<int, std::string>> m_originals;  // (tree, parent) -> names
  std::unordered_map<uint64_t, Summary> m_summaries;
  std::unordered_map<uint64_t, uint64_t> m_contentPrints, m_shapePrints;
};

}  // namespace umbra
