#pragma once
// Every tree an open image has, each with its reader and the folders the reader found.
#include <memory>
#include <string>
#include <vector>

#include "engine/model/TreeReader.h"

namespace umbra {

struct ImageTrees {
  std::vector<std::unique_ptr<TreeReader>> readers;  // tree 0 is the ISO 9660 tree
  std::vector<std::vector<TreeFolder>> folders;      // per tree
  std::vector<std::string> problems;                 // per tree: why it cannot be used; "" when it can

  int count() const { return static_cast<int>(readers.size()); }
  bool usable(int tree) const { return problems[static_cast<size_t>(tree)].empty(); }
  const TreeReader& reader(int tree) const { return *readers[static_cast<size_t>(tree)]; }
  const std::vector<TreeFolder>& foldersOf(int tree) const { return folders[static_cast<size_t>(tree)]; }
  const TreeFolder& folder(int tree, int index) const {
    return folders[static_cast<size_t>(tree)][static_cast<size_t>(index)];
  }
  const char* label(int tree) const { return reader(tree).kind().label; }
  void clear() {
    readers.clear();
    folders.clear();
    problems.clear();
  }
};

}  // namespace umbra
