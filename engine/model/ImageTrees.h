#pragma once
// Every tree an open image has, each with its reader and whether it can be used.
#include <memory>
#include <string>
#include <vector>

#include "engine/model/TreeReader.h"

namespace umbra {

struct ImageTree {
  std::unique_ptr<TreeReader> reader;
  std::string problem;  // why the tree cannot be used; "" when it can
};

struct ImageTrees {
  std::vector<ImageTree> list;  // tree 0 is the ISO 9660 tree

  int count() const { return static_cast<int>(list.size()); }
  bool usable(int tree) const { return at(tree).problem.empty(); }
  const std::string& problem(int tree) const { return at(tree).problem; }
  const TreeReader& reader(int tree) const { return *at(tree).reader; }
  const std::vector<TreeFolder>& foldersOf(int tree) const { return reader(tree).folders(); }
  const TreeFolder& folder(int tree, int index) const { return foldersOf(tree)[static_cast<size_t>(index)]; }
  const char* label(int tree) const { return reader(tree).kind().label; }
  // The most entries listings of every folder can meet, once each, in an image of that size.
  uint64_t entryBudget(uint64_t imageSize) const {
    return static_cast<uint64_t>(count()) * (imageSize / kSmallestRecordBytes + 1);
  }
  void clear() { list.clear(); }

 private:
  const ImageTree& at(int tree) const { return list[static_cast<size_t>(tree)]; }
};

}  // namespace umbra
