#include "engine/model/FolderPairing.h"

#include <algorithm>
#include <iterator>

#include "engine/io/ImageFile.h"
#include "engine/iso9660/IsoLayout.h"
#include "engine/model/FolderTree.h"
#include "engine/model/NameKey.h"

namespace umbra {

namespace {

uint64_t mix(uint64_t x) {  // splitmix64 finaliser
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t placeKey(int tree, int folder) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(tree)) << 32) | static_cast<uint32_t>(folder);
}

std::string printKey(uint64_t print) { return std::string(reinterpret_cast<const char*>(&print), sizeof print); }

}  // namespace

FolderPairing::FolderPairing(const ImageFile& file, const ImageTrees& trees, const FolderTree& tree, int pairedTree)
    : m_file(file),
      m_trees(trees),
      m_tree(tree),
      m_pairedTree(pairedTree),
      // Each folder is listed at most once per tree.
      m_entryBudget(trees.entryBudget(file.size())) {}

void FolderPairing::pairByKeys(std::vector<int>& nodes, std::vector<int>& twins,
                               const std::function<Keys(int)>& nodeKeys, const std::function<Keys(int)>& twinKeys,
                               const std::function<void(int, int)>& pair) {
  if (nodes.empty() || twins.empty()) return;
  auto collect = [](const std::vector<int>& items, const std::function<Keys(int)>& keysOf, std::vector<Keys>& keys,
                    std::unordered_map<std::string, std::pair<int, size_t>>& count) {
    keys.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      keys[i] = keysOf(items[i]);
      std::sort(keys[i].begin(), keys[i].end());
      keys[i].erase(std::unique(keys[i].begin(), keys[i].end()), keys[i].end());
      for (const std::string& k : keys[i]) {
        if (k.empty()) continue;
        auto& c = count[k];
        c = {c.first + 1, i};
      }
    }
  };
  std::vector<Keys> nk, tk;
  std::unordered_map<std::string, std::pair<int, size_t>> nodeCount, twinCount;
  collect(nodes, nodeKeys, nk, nodeCount);
  collect(twins, twinKeys, tk, twinCount);
  // A key held by one node and one twin names them; a node or twin named twice over stays unpaired.
  constexpr long kNone = -1, kConflict = -2;
  std::vector<long> nodeMatch(nodes.size(), kNone), twinMatch(twins.size(), kNone);
  for (size_t i = 0; i < nodes.size(); ++i)
    for (const std::string& k : nk[i]) {
      if (k.empty() || nodeCount[k].first != 1) continue;
      const auto t = twinCount.find(k);
      if (t == twinCount.end() || t->second.first != 1) continue;
      const long j = static_cast<long>(t->second.second);
      nodeMatch[i] = nodeMatch[i] == kNone || nodeMatch[i] == j ? j : kConflict;
      long& back = twinMatch[static_cast<size_t>(j)];
      back = back == kNone || back == static_cast<long>(i) ? static_cast<long>(i) : kConflict;
    }
  std::vector<int> restNodes, restTwins;
  std::vector<char> twinTaken(twins.size(), 0);
  for (size_t i = 0; i < nodes.size(); ++i) {
    const long j = nodeMatch[i];
    if (j >= 0 && twinMatch[static_cast<size_t>(j)] == static_cast<long>(i)) {
      pair(nodes[i], twins[static_cast<size_t>(j)]);
      twinTaken[static_cast<size_t>(j)] = 1;
    } else {
      restNodes.push_back(nodes[i]);
    }
  }
  for (size_t j = 0; j < twins.size(); ++j)
    if (!twinTaken[j]) restTwins.push_back(twins[j]);
  nodes = std::move(restNodes);
  twins = std::move(restTwins);
}

int FolderPairing::treeWithOtherFiles(const ImageFile& file, const ImageTrees& trees, const CFolderNode& node) {
  using FileSet = std::vector<std::pair<uint64_t, uint64_t>>;  // (data sector, size) of each non-empty file
  std::vector<FileSet> files;
  std::vector<TreeEntry> entries;
  for (const FolderPlace& place : node.places) {
    if (trees.reader(place.tree).listFolder(file, place.folder, entries)) continue;
    FileSet& set = files.emplace_back();
    for (const TreeEntry& e : entries)
      if (!e.isFolder && e.size > 0) set.emplace_back(e.dataSector, e.size);
    std::sort(set.begin(), set.end());
    if (set.empty() || files.size() < 2 || files.front().empty()) continue;
    FileSet common;
    std::set_intersection(files.front().begin(), files.front().end(), set.begin(), set.end(), std::back_inserter(common));
    if (common.empty()) return place.tree;
  }
  return -1;
}

const FolderPairing::Summary& FolderPairing::summary(int tree, int folder) {
  Summary& s = m_summaries[placeKey(tree, folder)];
  if (s.read) return s;
  s.read = true;
  std::vector<TreeEntry> entries;
  if (m_entryBudget == 0 || m_trees.reader(tree).listFolder(m_file, folder, entries)) return s;
  m_entryBudget -= std::min<uint64_t>(m_entryBudget, entries.size());
  ContentPrint files;
  for (const TreeEntry& e : entries) {
    if (!e.isFolder)
      files.addFile(e.dataSector, e.size);
    else if (e.folder >= 0)
      s.childKeys.push_back(nameKey(e.originalName.empty() ? e.name : e.originalName));
  }
  s.files = files.value();
  std::sort(s.childKeys.begin(), s.childKeys.end());
  return s;
}

uint64_t FolderPairing::contentPrint(int tree, int folder, int depth) {
  if (depth > static_cast<int>(iso::kMaxFolderDepth)) return 0;
  const uint64_t key = placeKey(tree, folder);
  if (const auto it = m_contentPrints.find(key); it != m_contentPrints.end()) return it->second;
  uint64_t print = summary(tree, folder).files;
  for (int child : m_trees.folder(tree, folder).children)
    if (const uint64_t sub = contentPrint(tree, child, depth + 1)) print += mix(sub ^ 0x5851F42D4C957F2Dull);
  m_contentPrints[key] = print;
  return print;
}

uint64_t FolderPairing::shapePrint(int tree, int folder, int depth) {
  if (depth > static_cast<int>(iso::kMaxFolderDepth)) return 0;
  const uint64_t key = placeKey(tree, folder);
  if (const auto it = m_shapePrints.find(key); it != m_shapePrints.end()) return it->second;
  uint64_t print = 0;
  for (const std::string& name : summary(tree, folder).childKeys) print += mix(std::hash<std::string>{}(name));
  for (int child : m_trees.folder(tree, folder).children) print += mix(shapePrint(tree, child, depth + 1) + 1);
  m_shapePrints[key] = print;
  return print;
}

const std::string& FolderPairing::originalName(int tree, int parentFolder, int folder) {
  static const std::string none;
  if (parentFolder < 0) return none;
  const uint64_t key = placeKey(tree, parentFolder);
  auto it = m_originals.find(key);
  if (it == m_originals.end()) {
    it = m_originals.emplace(key, std::unordered_map<int, std::string>{}).first;
    std::vector<TreeEntry> entries;
    if (m_entryBudget > 0) m_trees.reader(tree).listFolder(m_file, parentFolder, entries);
    m_entryBudget -= std::min<uint64_t>(m_entryBudget, entries.size());
    for (TreeEntry& e : entries)
      if (e.isFolder && e.folder >= 0 && !e.originalName.empty()) it->second[e.folder] = std::move(e.originalName);
  }
  const auto found = it->second.find(folder);
  return found == it->second.end() ? none : found->second;
}

void FolderPairing::pairSiblings(int parent, int folder, std::vector<int>& nodes, std::vector<int>& twins,
                                 const std::function<void(int, int)>& pair) {
  const int t = m_pairedTree;
  const TreeReader& reader = m_trees.reader(t);
  auto twinName = [&](int j) -> const std::string& { return m_trees.folder(t, j).name; };
  auto forPlaces = [&](int node, const std::function<void(int tree, int f)>& visit) {
    for (const FolderPlace& p : m_tree.node(node).places) visit(p.tree, p.folder);
  };
  auto parentIn = [&](int tree) { return m_tree.node(parent).folderIn(tree); };
  auto givenNames = [&](int n, Keys& keys) {
    forPlaces(n, [&](int tree, int f) {
      if (m_trees.reader(tree).keepsGivenNames()) keys.push_back(m_trees.folder(tree, f).name);
    });
  };

  // 1. Names the user gave, compared exactly (Joliet beside UDF), where both trees keep them.
  bool givenOnBothSides = false;
  for (int earlier = 0; earlier < t; ++earlier) givenOnBothSides |= m_trees.reader(earlier).keepsGivenNames();
  if (givenOnBothSides && reader.keepsGivenNames())
    pairByKeys(
      nodes, twins,
      [&](int n) {
        Keys keys;
        givenNames(n, keys);
        return keys;
      },
      [&](int j) { return Keys{twinName(j)}; }, pair);
  // 2. Names brought to the ISO 9660 form.
  pairByKeys(
      nodes, twins,
      [&](int n) {
        Keys keys;
        forPlaces(n, [&](int tree, int f) { keys.push_back(nameKey(m_trees.folder(tree, f).name)); });
        return keys;
      },
      [&](int j) { return Keys{nameKey(twinName(j))}; }, pair);
  // 3. Exact long names (Rock Ridge), read from the parents' listings.
  pairByKeys(
      nodes, twins,
      [&](int n) {
        Keys keys;
        givenNames(n, keys);
        forPlaces(n, [&](int tree, int f) { keys.push_back(originalName(tree, parentIn(tree), f)); });
        return keys;
      },
      [&](int j) {
        Keys keys{originalName(t, folder, j)};
        if (reader.keepsGivenNames()) keys.push_back(twinName(j));
        return keys;
      },
      pair);
  // 4. The files the whole subtree holds: file data is shared between the trees.
  auto nodeContent = [&](int n) {
    const FolderPlace& first = m_tree.node(n).places.front();
    return contentPrint(first.tree, first.folder);
  };
  pairByKeys(
      nodes, twins,
      [&](int n) {
        const uint64_t print = nodeContent(n);
        return print ? Keys{printKey(print)} : Keys{};
      },
      [&](int j) {
        const uint64_t print = contentPrint(t, j);
        return print ? Keys{printKey(print)} : Keys{};
      },
      pair);
  // 5. The names of the subfolders, all the way down, for subtrees without files.
  pairByKeys(
      nodes, twins,
      [&](int n) {
        const FolderPlace& first = m_tree.node(n).places.front();
        const uint64_t shape = shapePrint(first.tree, first.folder);
        return shape ? Keys{printKey(shape ^ mix(nodeContent(n)))} : Keys{};
      },
      [&](int j) {
        const uint64_t shape = shapePrint(t, j);
        return shape ? Keys{printKey(shape ^ mix(contentPrint(t, j)))} : Keys{};
      },
      pair);
  if (nodes.empty() || twins.empty()) return;
  // 6. A name the maker cut short: one node's name begins exactly one twin's name, and that twin's
  // name begins with no other node's name.
  std::vector<Keys> nodeKeys(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i)
    forPlaces(nodes[i], [&](int tree, int f) { nodeKeys[i].push_back(nameKey(m_trees.folder(tree, f).name)); });
  std::vector<int> claims(nodes.size(), 0), claimedBy(nodes.size(), -1);
  for (size_t j = 0; j < twins.size(); ++j) {
    const std::string key = nameKey(twinName(twins[j]));
    int owner = -1, owners = 0;
    for (size_t i = 0; i < nodes.size(); ++i)
      for (const std::string& k : nodeKeys[i])
        if (!k.empty() && k.size() < key.size() && key.compare(0, k.size(), k) == 0) {
          if (owner != static_cast<int>(i)) ++owners;
          owner = static_cast<int>(i);
          break;
        }
    if (owners != 1) continue;
    ++claims[static_cast<size_t>(owner)];
    claimedBy[static_cast<size_t>(owner)] = static_cast<int>(j);
  }
  std::vector<int> restNodes;
  std::vector<char> taken(twins.size(), 0);
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (claims[i] == 1) {
      pair(nodes[i], twins[static_cast<size_t>(claimedBy[i])]);
      taken[static_cast<size_t>(claimedBy[i])] = 1;
    } else {
      restNodes.push_back(nodes[i]);
    }
  }
  std::vector<int> restTwins;
  for (size_t j = 0; j < twins.size(); ++j)
    if (!taken[j]) restTwins.push_back(twins[j]);
  nodes = std::move(restNodes);
  twins = std::move(restTwins);
}

}  // namespace umbra
