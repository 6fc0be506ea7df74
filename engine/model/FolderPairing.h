#pragma once
// Proves which folder of a tree is the twin of which folder node, among the subfolders of two
// folders already proven to be one. Two records are one folder only when the image proves it, by
// this evidence, strongest first:
//  1. names kept whole and equal: a Rock Ridge name, a Joliet name too short to have been cut, a
//     UDF name (a name that two names of the level could have given proves nothing);
//  2. the same files: the same data extents of files of one byte or more, held by no other
//     folder of the level on either side;
//  3. the same subfolders: each proven, by this same evidence, the twin of one of the other's;
//  4. an ISO 9660 identifier that only one long name of the level could have given, and that
//     long name no other identifier there (IdentifierOrigins);
//  5. the one folder left on each side of a level whose trees hold as many folders.
// Evidence that conflicts (files against none or against other files, a name that names another
// folder) makes a pair impossible. A folder left without a twin keeps the reason.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/model/ImageTrees.h"

namespace umbra {

class FolderTree;
struct CFolderNode;
class ImageFile;

class FolderPairing {
 public:
  // The Rock Ridge names of the nodes, read once for the pairing of every tree.
  class LongNames {
   public:
    bool known(int parentNode) const { return m_knownParents.count(parentNode) != 0; }
    void markKnown(int parentNode) { m_knownParents.insert(parentNode); }
    void set(int node, std::string name) { m_names[node] = std::move(name); }
    const std::string& of(int node) const {
      static const std::string none;
      const auto found = m_names.find(node);
      return found == m_names.end() ? none : found->second;
    }

   private:
    std::unordered_set<int> m_knownParents;
    std::unordered_map<int, std::string> m_names;
  };

  FolderPairing(const ImageFile& file, const ImageTrees& trees, const FolderTree& tree, int pairedTree,
                LongNames& longNames);

  // Pairs nodes (children of `parent`, not yet placed in the paired tree) with twins (children of
  // `folder` in it); the pairs found leave both lists, and why each node left over stays
  // unpaired is kept for nodeReason.
  void pairLevel(int parent, int folder, std::vector<int>& nodes, std::vector<int>& twins,
                 const std::function<void(int node, int folder)>& pair);
  // Why a node was left without a twin, when something more than a lack of evidence speaks
  // against the folders it could be; "" otherwise.
  std::string nodeReason(int node) const;

  // Twins hold the same files: the first tree (after the node's first) whose folder holds only
  // files the first's does not hold, while both hold some; -1 when none does. A folder that cannot
  // be listed proves nothing here.
  static int treeWithOtherFiles(const ImageFile& file, const ImageTrees& trees, const CFolderNode& node);

  using Extent = std::pair<uint64_t, uint64_t>;  // where a file's data starts (sector) and its size

 private:
  // What one listing of a folder of one tree tells.
  struct Facts {
    bool listed = false;
    bool readable = false;
    bool hasFiles = false;                     // `files` holds every file of one byte or more
    std::vector<Extent> files;                 // sorted
    std::unordered_map<int, std::string> longNames;  // subfolder -> its Rock Ridge name
  };
  const Facts& facts(int tree, int folder, bool needFiles);
  void release(int tree, int folder, bool keepNames);

  // One side of a level: node children, or folders of the paired tree.
  struct Candidate {
    int id = -1;
    std::vector<std::string> keys;   // names kept whole, as comparable keys
    std::string identifier;          // the ISO 9660 identifier (nodes only)
    int subfolders = 0;
  };
  struct Level {
    int parentNode = -1, parentFolder = -1;  // the pair whose children are matched
    std::vector<Candidate> nodes, twins;      // every child on each side
    // Who holds each name key, on each side.
    std::unordered_map<std::string, std::vector<size_t>> nodesByKey, twinsByKey;
  };
  Level levelOf(int parentNode, int parentFolder);
  // Matches the children of a level; `remaining` marks the candidates still open on each side.
  // Tentative: the parents are not proven yet (no elimination, nothing kept).
  std::vector<std::pair<size_t, size_t>> match(const Level& level, std::vector<char>& nodeOpen,
                                               std::vector<char>& twinOpen, bool tentative, int depth);
  const std::vector<Extent>* nodeFiles(int node);
  // The place of a node whose listing costs least (one that reads no entry per file).
  const struct FolderPlace& cheapestPlace(int node) const;
  const std::vector<Extent>* twinFiles(int folder);
  // Why this node and this twin cannot be one folder; "" when nothing speaks against it.
  std::string conflict(const Level& level, size_t node, size_t twin, bool checkFiles);
  bool subfoldersMatch(int node, int folder, int depth);

  const ImageFile& m_file;
  const ImageTrees& m_trees;
  const FolderTree& m_tree;
  int m_pairedTree;
  LongNames& m_longNames;
  uint64_t m_entryBudget;      // entries the listings may still read: a crafted image must not make pairing run long
  uint64_t m_tentativeBudget;  // subfolder comparisons still allowed
  std::unordered_map<uint64_t, Facts> m_facts;  // (tree, folder)
  std::vector<TreeEntry> m_entries;
  std::map<std::pair<int, int>, bool> m_subfolderMatches;
  std::unordered_map<int, std::string> m_nodeReasons;
};

}  // namespace umbra
