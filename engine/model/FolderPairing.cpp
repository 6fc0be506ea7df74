#include "engine/model/FolderPairing.h"

#include <algorithm>
#include <iterator>
#include <unordered_set>

#include "engine/io/ImageFile.h"
#include "engine/iso9660/IsoLayout.h"
#include "engine/model/FolderTree.h"
#include "engine/model/IdentifierOrigins.h"
#include "engine/model/NameKey.h"

namespace umbra {

namespace {

uint64_t placeKey(int tree, int folder) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(tree)) << 32) | static_cast<uint32_t>(folder);
}

bool disjoint(const std::vector<FolderPairing::Extent>& a, const std::vector<FolderPairing::Extent>& b) {
  auto i = a.begin(), j = b.begin();
  while (i != a.end() && j != b.end()) {
    if (*i < *j)
      ++i;
    else if (*j < *i)
      ++j;
    else
      return false;
  }
  return true;
}

// Why two folders that should be one hold files that say otherwise; "" when they agree.
std::string filesDisagree(const std::vector<FolderPairing::Extent>& a, const std::vector<FolderPairing::Extent>& b) {
  if (a.empty() != b.empty()) return "one of them holds files and the other none";
  if (!a.empty() && disjoint(a, b)) return "they hold different files";
  return {};
}

// A level's comparisons of subfolders are capped, and so is their sum over the image.
constexpr size_t kMostSubfolderComparisons = 4096;

}  // namespace

FolderPairing::FolderPairing(const ImageFile& file, const ImageTrees& trees, const FolderTree& tree, int pairedTree,
                             LongNames& longNames)
    : m_file(file),
      m_trees(trees),
      m_tree(tree),
      m_pairedTree(pairedTree),
      m_longNames(longNames),
      // Each folder is listed at most once per tree.
      m_entryBudget(trees.entryBudget(file.size())),
      m_tentativeBudget(4 * trees.foldersOf(pairedTree).size() + kMostSubfolderComparisons) {}

const FolderPairing::Facts& FolderPairing::facts(int tree, int folder, bool needFiles) {
  Facts& f = m_facts[placeKey(tree, folder)];
  const TreeReader& reader = m_trees.reader(tree);
  // A tree whose listing costs a read per entry is listed only for its files; its names are known.
  if (f.listed && (f.hasFiles || !needFiles || !f.readable)) return f;
  f.listed = true;
  if (reader.listingReadsEachEntry() && !needFiles) {
    f.readable = true;
    return f;
  }
  std::vector<TreeEntry>& entries = m_entries;  // reused: a listing then allocates little
  f.readable = m_entryBudget > 0 && !reader.listFolder(m_file, folder, entries);
  m_entryBudget -= std::min<uint64_t>(m_entryBudget, entries.size());
  if (!f.readable) return f;
  f.hasFiles = true;
  f.files.clear();
  for (TreeEntry& e : entries) {
    if (e.isFolder) {
      if (e.folder >= 0 && !e.rockRidgeName.empty()) f.longNames[e.folder] = e.rockRidgeName;
    } else if (e.size > 0) {
      f.files.emplace_back(e.dataSector, e.size);
    }
  }
  std::sort(f.files.begin(), f.files.end());
  return f;
}

void FolderPairing::release(int tree, int folder, bool keepNames) {
  const auto it = m_facts.find(placeKey(tree, folder));
  if (it == m_facts.end()) return;
  if (!keepNames) {
    m_facts.erase(it);
  } else if (it->second.hasFiles) {
    it->second.hasFiles = false;  // listed again only if its files are asked for again
    std::vector<Extent>().swap(it->second.files);
  }
}

const FolderPlace& FolderPairing::cheapestPlace(int node) const {
  const std::vector<FolderPlace>& places = m_tree.node(node).places;
  const FolderPlace* cheapest = &places.front();
  for (const FolderPlace& p : places)
    if (m_trees.reader(cheapest->tree).listingReadsEachEntry() && !m_trees.reader(p.tree).listingReadsEachEntry())
      cheapest = &p;
  return *cheapest;
}

const std::vector<FolderPairing::Extent>* FolderPairing::nodeFiles(int node) {
  // The files as the cheapest tree lists them: every tree of a folder holds the same ones.
  const FolderPlace& cheapest = cheapestPlace(node);
  const Facts& f = facts(cheapest.tree, cheapest.folder, true);
  return f.readable && f.hasFiles ? &f.files : nullptr;
}

const std::vector<FolderPairing::Extent>* FolderPairing::twinFiles(int folder) {
  const Facts& f = facts(m_pairedTree, folder, true);
  return f.readable && f.hasFiles ? &f.files : nullptr;
}

FolderPairing::Level FolderPairing::levelOf(int parentNode, int parentFolder) {
  Level level;
  level.parentNode = parentNode;
  level.parentFolder = parentFolder;
  const CFolderNode& parent = m_tree.node(parentNode);
  // Rock Ridge names stand in the parent's ISO 9660 listing; the pairing of an earlier tree kept them.
  const int isoParent = parent.folderIn(0);
  const bool rockRidgeNames = isoParent >= 0 && m_trees.usable(0) && m_trees.reader(0).storesLongNames();
  if (rockRidgeNames && !m_longNames.known(parentNode)) {
    const Facts& f = facts(0, isoParent, false);
    for (int child : parent.children)
      if (const int iso = m_tree.node(child).folderIn(0); iso >= 0)
        if (const auto rr = f.longNames.find(iso); rr != f.longNames.end()) m_longNames.set(child, rr->second);
    m_longNames.markKnown(parentNode);
  }

  // Names kept whole, with the Joliet form of each long name: a Joliet name proves a twin only when
  // one long name of its side could have given it.
  struct Names {
    std::vector<std::string> whole, joliet;
  };
  std::vector<Names> nodeNames;
  std::unordered_map<std::string, int> nodeJolietForms, twinJolietForms;
  for (int child : parent.children) {
    Candidate& c = level.nodes.emplace_back();
    Names& names = nodeNames.emplace_back();
    c.id = child;
    c.subfolders = static_cast<int>(m_tree.node(child).children.size());
    for (const FolderPlace& p : m_tree.node(child).places) {
      const TreeReader& reader = m_trees.reader(p.tree);
      const std::string& name = m_trees.folder(p.tree, p.folder).name;
      if (!reader.keepsGivenNames()) {
        c.identifier = withoutVersion(name);  // a moved folder's placeholder is a file record: "NAME;1"
        if (p.tree == 0 && rockRidgeNames)
          if (const std::string& rr = m_longNames.of(child); !rr.empty()) names.whole.push_back(rr);
      } else if (reader.givenNameLimit() == 0) {
        if (utf16Units(name) != reader.cutNameLength()) names.whole.push_back(name);
      } else if (utf16Units(name) < reader.givenNameLimit()) {
        names.joliet.push_back(name);
      }
    }
    for (const std::string& whole : names.whole) ++nodeJolietForms[jolietForm(whole)];
  }
  const TreeReader& paired = m_trees.reader(m_pairedTree);
  const std::vector<int>& twinFolders = m_trees.folder(m_pairedTree, parentFolder).children;
  if (paired.keepsGivenNames() && paired.givenNameLimit() == 0)
    for (int folder : twinFolders) ++twinJolietForms[jolietForm(m_trees.folder(m_pairedTree, folder).name)];
  auto wholeKeys = [](const std::string& name, const std::unordered_map<std::string, int>& forms,
                      std::vector<std::string>& keys) {
    keys.push_back("L" + name);
    const std::string form = jolietForm(name);
    if (form == name && forms.at(form) == 1) keys.push_back("J" + name);
  };
  for (size_t i = 0; i < level.nodes.size(); ++i) {
    for (const std::string& whole : nodeNames[i].whole) wholeKeys(whole, nodeJolietForms, level.nodes[i].keys);
    for (const std::string& joliet : nodeNames[i].joliet) level.nodes[i].keys.push_back("J" + joliet);
  }
  for (int folder : twinFolders) {
    Candidate& c = level.twins.emplace_back();
    c.id = folder;
    const TreeFolder& f = m_trees.folder(m_pairedTree, folder);
    c.subfolders = static_cast<int>(f.children.size());
    if (!paired.keepsGivenNames())
      c.identifier = withoutVersion(f.name);
    else if (paired.givenNameLimit() == 0 && utf16Units(f.name) != paired.cutNameLength())
      wholeKeys(f.name, twinJolietForms, c.keys);
    else if (utf16Units(f.name) < paired.givenNameLimit())
      c.keys.push_back("J" + f.name);
  }
  for (size_t i = 0; i < level.nodes.size(); ++i)
    for (const std::string& key : level.nodes[i].keys) level.nodesByKey[key].push_back(i);
  for (size_t j = 0; j < level.twins.size(); ++j)
    for (const std::string& key : level.twins[j].keys) level.twinsByKey[key].push_back(j);
  return level;
}

std::string FolderPairing::conflict(const Level& level, size_t node, size_t twin, bool checkFiles) {
  // A name of either that another folder of the other side holds, and this one does not.
  auto namesElsewhere = [](const Candidate& self, size_t other,
                           const std::unordered_map<std::string, std::vector<size_t>>& holders) {
    for (const std::string& key : self.keys) {
      const auto held = holders.find(key);
      if (held == holders.end()) continue;
      if (std::find(held->second.begin(), held->second.end(), other) == held->second.end()) return key.substr(1);
    }
    return std::string();
  };
  const Candidate& n = level.nodes[node];
  const Candidate& t = level.twins[twin];
  if (std::string name = namesElsewhere(n, twin, level.twinsByKey); !name.empty())
    return "its name \"" + name + "\" names another folder of the " + m_trees.label(m_pairedTree) + " tree";
  if (std::string name = namesElsewhere(t, node, level.nodesByKey); !name.empty())
    return "the name \"" + name + "\" names another folder";
  if (!checkFiles) return {};
  const std::vector<Extent>* a = nodeFiles(n.id);
  const std::vector<Extent>* b = twinFiles(t.id);
  if (a && b) return filesDisagree(*a, *b);
  return {};
}

bool FolderPairing::subfoldersMatch(int node, int folder, int depth) {
  const auto key = std::make_pair(node, folder);
  if (const auto known = m_subfolderMatches.find(key); known != m_subfolderMatches.end()) return known->second;
  bool result = false;
  if (depth <= static_cast<int>(iso::kMaxFolderDepth) + 2 && m_tentativeBudget > 0) {
    --m_tentativeBudget;
    const Level level = levelOf(node, folder);
    std::vector<char> nodeOpen(level.nodes.size(), 1), twinOpen(level.twins.size(), 1);
    result = !level.nodes.empty() && level.nodes.size() == level.twins.size() &&
             match(level, nodeOpen, twinOpen, true, depth).size() == level.nodes.size();
  }
  m_subfolderMatches[key] = result;
  return result;
}

std::vector<std::pair<size_t, size_t>> FolderPairing::match(const Level& level, std::vector<char>& nodeOpen,
                                                            std::vector<char>& twinOpen, bool tentative, int depth) {
  std::vector<std::pair<size_t, size_t>> pairs;
  std::unordered_map<size_t, std::string> why;  // node -> why its best candidate could not be its twin
  auto take = [&](size_t i, size_t j) {
    pairs.emplace_back(i, j);
    nodeOpen[i] = twinOpen[j] = 0;
  };
  // Names kept whole need no look at the files, where the parents are proven: the other evidence does.
  bool checkFiles = tentative;
  auto tryPair = [&](size_t i, size_t j) {
    if (std::string c = conflict(level, i, j, checkFiles); !c.empty()) {
      why[i] = c;
      return false;
    }
    take(i, j);
    return true;
  };
  auto anyOpen = [](const std::vector<char>& open) { return std::find(open.begin(), open.end(), 1) != open.end(); };
  constexpr size_t kNone = SIZE_MAX, kMany = SIZE_MAX - 1;
  // Pairs candidates a relation names one-to-one: wants[i] holds the twins node i could be.
  auto pairOneToOne = [&](const std::vector<std::vector<size_t>>& wants) {
    std::vector<size_t> wantedBy(level.twins.size(), kNone);
    for (size_t i = 0; i < wants.size(); ++i)
      for (size_t j : wants[i]) wantedBy[j] = wantedBy[j] == kNone || wantedBy[j] == i ? i : kMany;
    for (size_t i = 0; i < wants.size(); ++i)
      if (wants[i].size() == 1 && wantedBy[wants[i][0]] == i && nodeOpen[i] && twinOpen[wants[i][0]])
        tryPair(i, wants[i][0]);
  };

  // 1. Names kept whole: a key held by one folder on each side.
  {
    std::unordered_map<std::string, std::pair<size_t, size_t>> twinKeys;  // key -> (count, twin)
    std::unordered_map<std::string, size_t> nodeKeyCount;
    for (size_t j = 0; j < level.twins.size(); ++j)
      for (const std::string& key : level.twins[j].keys) {
        auto& k = twinKeys[key];
        k = {k.first + 1, j};
      }
    for (const Candidate& n : level.nodes)
      for (const std::string& key : n.keys) ++nodeKeyCount[key];
    std::vector<std::vector<size_t>> wants(level.nodes.size());
    for (size_t i = 0; i < level.nodes.size(); ++i) {
      if (!nodeOpen[i]) continue;
      for (const std::string& key : level.nodes[i].keys) {
        const auto t = twinKeys.find(key);
        if (t == twinKeys.end() || t->second.first != 1 || nodeKeyCount[key] != 1) continue;
        if (std::find(wants[i].begin(), wants[i].end(), t->second.second) == wants[i].end())
          wants[i].push_back(t->second.second);
      }
    }
    pairOneToOne(wants);
  }
  if (!anyOpen(nodeOpen) || !anyOpen(twinOpen)) return pairs;
  checkFiles = true;

  // 2. The same files, held by no other open folder of either side.
  {
    std::vector<const std::vector<Extent>*> nodeSets(level.nodes.size()), twinSets(level.twins.size());
    std::vector<std::pair<Extent, size_t>> held;  // extent -> candidate, per side
    auto uniquelyHeld = [&](auto& sets, const std::vector<char>& open, auto filesOf,
                            const std::vector<Candidate>& side) {
      held.clear();
      for (size_t i = 0; i < side.size(); ++i) {
        if (!open[i]) continue;
        sets[i] = filesOf(side[i].id);
        if (sets[i])
          for (const Extent& e : *sets[i]) held.emplace_back(e, i);
      }
      std::sort(held.begin(), held.end());
      for (size_t k = 0; k < held.size(); ++k) {
        const bool shared =
            (k > 0 && held[k - 1].first == held[k].first && held[k - 1].second != held[k].second) ||
            (k + 1 < held.size() && held[k + 1].first == held[k].first && held[k + 1].second != held[k].second);
        if (shared) sets[held[k].second] = nullptr;
      }
    };
    // Listed in the order the folders lie in the image, so that the reads go on from one another.
    std::vector<std::pair<uint64_t, std::pair<int, int>>> order;
    for (size_t i = 0; i < level.nodes.size(); ++i)
      if (nodeOpen[i]) {
        const FolderPlace& p = cheapestPlace(level.nodes[i].id);
        order.push_back({m_trees.folder(p.tree, p.folder).directory, {p.tree, p.folder}});
      }
    for (size_t j = 0; j < level.twins.size(); ++j)
      if (twinOpen[j])
        order.push_back({m_trees.folder(m_pairedTree, level.twins[j].id).directory, {m_pairedTree, level.twins[j].id}});
    std::sort(order.begin(), order.end());
    for (const auto& [at, place] : order) facts(place.first, place.second, true);
    uniquelyHeld(
        nodeSets, nodeOpen, [&](int id) { return nodeFiles(id); }, level.nodes);
    uniquelyHeld(
        twinSets, twinOpen, [&](int id) { return twinFiles(id); }, level.twins);
    std::unordered_map<uint64_t, size_t> twinByFirstExtent;  // keyed by the first extent's sector

    for (size_t j = 0; j < twinSets.size(); ++j)
      if (twinSets[j] && !twinSets[j]->empty()) twinByFirstExtent[twinSets[j]->front().first] = j;
    std::vector<std::vector<size_t>> wants(level.nodes.size());
    for (size_t i = 0; i < nodeSets.size(); ++i) {
      if (!nodeSets[i] || nodeSets[i]->empty()) continue;
      const auto j = twinByFirstExtent.find(nodeSets[i]->front().first);
      if (j != twinByFirstExtent.end() && *twinSets[j->second] == *nodeSets[i]) wants[i].push_back(j->second);
    }
    pairOneToOne(wants);
  }
  if (!anyOpen(nodeOpen) || !anyOpen(twinOpen)) return pairs;

  // 3. The same subfolders, each proven the twin of one of the other's.
  {
    std::vector<size_t> nodesWithFolders, twinsWithFolders;
    for (size_t i = 0; i < level.nodes.size(); ++i)
      if (nodeOpen[i] && level.nodes[i].subfolders > 0) nodesWithFolders.push_back(i);
    for (size_t j = 0; j < level.twins.size(); ++j)
      if (twinOpen[j] && level.twins[j].subfolders > 0) twinsWithFolders.push_back(j);
    if (nodesWithFolders.size() * twinsWithFolders.size() <= kMostSubfolderComparisons) {
      std::vector<std::vector<size_t>> wants(level.nodes.size());
      for (size_t i : nodesWithFolders)
        for (size_t j : twinsWithFolders)
          if (level.nodes[i].subfolders == level.twins[j].subfolders &&
              subfoldersMatch(level.nodes[i].id, level.twins[j].id, depth + 1))
            wants[i].push_back(j);
      pairOneToOne(wants);
    }
  }
  if (!anyOpen(nodeOpen) || !anyOpen(twinOpen)) return pairs;

  // 4. An ISO 9660 identifier only one long name of the level could have given.
  if (m_trees.reader(m_pairedTree).keepsGivenNames()) {
    std::vector<std::string> longNames, identifiers;
    std::vector<size_t> nodeOfIdentifier;
    for (const Candidate& t : level.twins) longNames.push_back(m_trees.folder(m_pairedTree, t.id).name);
    for (size_t i = 0; i < level.nodes.size(); ++i)
      if (!level.nodes[i].identifier.empty()) {
        identifiers.push_back(level.nodes[i].identifier);
        nodeOfIdentifier.push_back(i);
      }
    bool anyOpenIdentifier = false;
    for (size_t i : nodeOfIdentifier) anyOpenIdentifier = anyOpenIdentifier || nodeOpen[i];
    if (anyOpenIdentifier && !longNames.empty()) {
      const IdentifierOrigins origins(longNames, identifiers);
      std::vector<std::vector<size_t>> wants(level.nodes.size());
      for (size_t k = 0; k < identifiers.size(); ++k) {
        const size_t i = nodeOfIdentifier[k];
        if (!nodeOpen[i]) continue;
        if (const int origin = origins.soleOrigin(k); origin >= 0) {
          wants[i].push_back(static_cast<size_t>(origin));
        } else if (!tentative && !why.count(i)) {
          const std::vector<size_t> from = origins.origins(k, 4);
          if (from.size() > 1) {
            std::string text = "its ISO 9660 name " + identifiers[k] + " could have been made from";
            for (size_t f = 0; f < from.size() && f < 3; ++f)
              text += std::string(f ? ", " : " ") + "\"" + longNames[from[f]] + "\"";
            why[i] = text + (from.size() > 3 ? " and more" : "");
          }
        }
      }
      pairOneToOne(wants);
    }
  }
  if (!anyOpen(nodeOpen) || !anyOpen(twinOpen)) return pairs;

  // 5. The one folder left on each side, where both trees hold as many folders here.
  if (!tentative) {
    size_t nodeRecords = 0, twinRecords = 0, nodeLeft = kNone, twinLeft = kNone, openNodes = 0, openTwins = 0;
    for (size_t i = 0; i < level.nodes.size(); ++i) {
      const int iso = m_tree.node(level.nodes[i].id).folderIn(0);
      if (iso >= 0 && m_trees.folder(0, iso).holdsRelocated) continue;
      ++nodeRecords;
      if (nodeOpen[i]) {
        ++openNodes;
        nodeLeft = i;
      }
    }
    for (size_t j = 0; j < level.twins.size(); ++j) {
      if (m_trees.folder(m_pairedTree, level.twins[j].id).holdsRelocated) continue;
      ++twinRecords;
      if (twinOpen[j]) {
        ++openTwins;
        twinLeft = j;
      }
    }
    if (nodeRecords == twinRecords && openNodes == 1 && openTwins == 1) {
      // Trees made with other folders in each (a folder left out of one, another out of the other)
      // also leave one on each side: their names must not say otherwise.
      const Candidate& n = level.nodes[nodeLeft];
      const std::string& twinName = m_trees.folder(m_pairedTree, level.twins[twinLeft].id).name;
      bool sharedKey = n.keys.empty() || level.twins[twinLeft].keys.empty();
      for (const std::string& key : n.keys)
        sharedKey = sharedKey || std::find(level.twins[twinLeft].keys.begin(), level.twins[twinLeft].keys.end(), key) !=
                                     level.twins[twinLeft].keys.end();
      if (!sharedKey)
        why[nodeLeft] = "its names differ from those of the one folder left there, \"" + twinName + "\"";
      else if (!n.identifier.empty() && m_trees.reader(m_pairedTree).keepsGivenNames() &&
               IdentifierOrigins({twinName}, {n.identifier}).origins(0, 1).empty())
        why[nodeLeft] = "its ISO 9660 name " + n.identifier + " could not have been made from \"" + twinName +
                        "\", the one folder left there";
      else
        tryPair(nodeLeft, twinLeft);
    }
  }

  if (!tentative)
    for (size_t i = 0; i < level.nodes.size(); ++i)
      if (nodeOpen[i]) m_nodeReasons[level.nodes[i].id] = why.count(i) ? why[i] : std::string();
  return pairs;
}

void FolderPairing::pairLevel(int parent, int folder, std::vector<int>& nodes, std::vector<int>& twins,
                              const std::function<void(int, int)>& pair) {
  const Level level = levelOf(parent, folder);
  std::vector<char> nodeOpen(level.nodes.size(), 0), twinOpen(level.twins.size(), 0);
  const std::unordered_set<int> openNodes(nodes.begin(), nodes.end()), openTwins(twins.begin(), twins.end());
  for (size_t i = 0; i < level.nodes.size(); ++i) nodeOpen[i] = openNodes.count(level.nodes[i].id) != 0;
  for (size_t j = 0; j < level.twins.size(); ++j) twinOpen[j] = openTwins.count(level.twins[j].id) != 0;
  for (const auto& [i, j] : match(level, nodeOpen, twinOpen, false, 0)) pair(level.nodes[i].id, level.twins[j].id);
  std::vector<int> restNodes, restTwins;
  for (size_t i = 0; i < level.nodes.size(); ++i)
    if (nodeOpen[i]) restNodes.push_back(level.nodes[i].id);
  for (size_t j = 0; j < level.twins.size(); ++j)
    if (twinOpen[j]) restTwins.push_back(level.twins[j].id);
  nodes = std::move(restNodes);
  twins = std::move(restTwins);
  // What the level's listings told is not needed again, but for the subfolders' Rock Ridge names.
  for (const FolderPlace& p : m_tree.node(parent).places) release(p.tree, p.folder, false);
  for (const Candidate& n : level.nodes)
    for (const FolderPlace& p : m_tree.node(n.id).places) release(p.tree, p.folder, true);
  for (const Candidate& t : level.twins) release(m_pairedTree, t.id, true);
}

std::string FolderPairing::nodeReason(int node) const {
  const auto found = m_nodeReasons.find(node);
  return found == m_nodeReasons.end() ? std::string() : found->second;
}

namespace {
// Whether the folder's record in place's tree carries a whole name that a record of another tree
// of the same folder carries too: a name the maker kept as the user gave it.
bool wholeNameShared(const ImageTrees& trees, const CFolderNode& node, const FolderPlace& place) {
  auto whole = [&](const FolderPlace& p) {
    const TreeReader& reader = trees.reader(p.tree);
    const size_t units = utf16Units(trees.folder(p.tree, p.folder).name);
    return reader.keepsGivenNames() && (reader.givenNameLimit() == 0 || units < reader.givenNameLimit()) &&
           units != reader.cutNameLength();
  };
  if (!whole(place)) return false;
  const std::string& name = trees.folder(place.tree, place.folder).name;
  for (const FolderPlace& other : node.places)
    if (other.tree != place.tree && whole(other) && trees.folder(other.tree, other.folder).name == name) return true;
  return false;
}
}  // namespace

int FolderPairing::treeWithOtherFiles(const ImageFile& file, const ImageTrees& trees, const CFolderNode& node) {
  std::vector<Extent> first, other;
  std::vector<TreeEntry> entries;
  bool haveFirst = false;
  for (const FolderPlace& place : node.places) {
    // A tree that reads an entry of its own per file (UDF) is asked for its files only where names
    // do not already prove its record this folder's.
    if (trees.reader(place.tree).listingReadsEachEntry() && wholeNameShared(trees, node, place)) continue;
    if (trees.reader(place.tree).listFolder(file, place.folder, entries)) continue;
    std::vector<Extent>& set = haveFirst ? other : first;
    set.clear();
    for (const TreeEntry& e : entries)
      if (!e.isFolder && e.size > 0) set.emplace_back(e.dataSector, e.size);
    std::sort(set.begin(), set.end());
    if (!haveFirst) {
      haveFirst = true;
      continue;
    }
    // A tree may leave files out (a Joliet path grown too long): only files none of which the
    // other holds speak against a pair here.
    if (!first.empty() && !other.empty() && disjoint(first, other)) return place.tree;
  }
  return -1;
}

}  // namespace umbra
