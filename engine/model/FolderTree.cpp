#include "engine/model/FolderTree.h"

#include <unordered_map>

#include "engine/io/ImageFile.h"
#include "engine/model/FolderPairing.h"
#include "engine/model/NameKey.h"
#include "engine/model/PathNames.h"

namespace umbra {

void FolderTree::clear() {
  m_trees = nullptr;
  m_nodes.clear();
  m_byPlace.clear();
}

void FolderTree::build(const ImageFile& file, const ImageTrees& trees) {
  clear();
  m_trees = &trees;
  if (trees.count() == 0 || trees.foldersOf(0).empty()) return;
  // Pairing lists a level's folders in the order they lie; makers put each folder's subfolders
  // between them, which the next level lists.
  const ImageFile::ReadThroughGaps gaps(file, 2 * 2048);
  m_byPlace.assign(static_cast<size_t>(trees.count()), {});
  // The ISO 9660 tree gives the nodes; every other tree is paired with them.
  const std::vector<TreeFolder>& base = trees.foldersOf(0);
  m_nodes.resize(base.size());
  m_byPlace[0].resize(base.size());
  for (size_t i = 0; i < base.size(); ++i) {
    CFolderNode& node = m_nodes[i];
    node.name = base[i].name;
    node.parent = base[i].parent;
    node.depth = node.parent < 0 ? 0 : m_nodes[static_cast<size_t>(node.parent)].depth + 1;
    node.children = base[i].children;
    node.places.push_back({0, static_cast<int>(i)});
    m_byPlace[0][i] = static_cast<int>(i);
  }
  FolderPairing::LongNames longNames;
  for (int tree = 1; tree < trees.count(); ++tree) {
    if (trees.usable(tree) && !trees.foldersOf(tree).empty()) {
      pairTree(file, tree, longNames);
    } else {
      for (CFolderNode& node : m_nodes) {
        node.unpairedIn.push_back(tree);
        node.unpairedWhy.emplace_back();
      }
    }
  }
  giveAddresses();
}

void FolderTree::pairTree(const ImageFile& file, int tree, FolderPairing::LongNames& longNames) {
  const std::vector<TreeFolder>& folders = m_trees->foldersOf(tree);
  std::vector<int>& byPlace = m_byPlace[static_cast<size_t>(tree)];
  byPlace.assign(folders.size(), -1);
  auto place = [&](int node, int folder) {
    m_nodes[static_cast<size_t>(node)].places.push_back({tree, folder});
    byPlace[static_cast<size_t>(folder)] = node;
  };
  place(0, 0);
  FolderPairing pairing(file, *m_trees, *this, tree, longNames);
  // Per node: every folder of this tree below it is paired (so a node left over is absent here).
  std::vector<char> complete(m_nodes.size(), 0);
  // A tree that could not place some of its folders proves nothing absent, in it or from it: its
  // folders left over may be the twins of folders it seems to lack.
  bool treePlacesAll = true;
  for (int t = 0; t < m_trees->count(); ++t)
    treePlacesAll = treePlacesAll && (!m_trees->usable(t) || m_trees->reader(t).placesEveryFolder());
  // Parents are paired before their children; nodes added on the way are visited too.
  for (size_t n = 0; n < m_nodes.size(); ++n) {
    const int folder = m_nodes[n].folderIn(tree);
    if (folder < 0) continue;
    std::vector<int> nodes;
    for (int child : m_nodes[n].children)
      if (m_nodes[static_cast<size_t>(child)].folderIn(tree) < 0) nodes.push_back(child);
    std::vector<int> twins = folders[static_cast<size_t>(folder)].children;
    if (!nodes.empty() && !twins.empty()) pairing.pairLevel(static_cast<int>(n), folder, nodes, twins, place);
    std::vector<int> unplaced;  // this tree's folders still without a node
    for (int twin : twins)
      if (byPlace[static_cast<size_t>(twin)] < 0) unplaced.push_back(twin);
    if (complete.size() < m_nodes.size()) complete.resize(m_nodes.size(), 0);
    complete[n] = unplaced.empty() && treePlacesAll;
    // A folder of this tree without a proven twin becomes a node of its own. It is absent from an
    // earlier tree when no node left over here has a place there, or when its parent is absent there.
    for (int unpaired : unplaced) {
      CFolderNode added;
      added.name = folders[static_cast<size_t>(unpaired)].name;
      added.parent = static_cast<int>(n);
      added.depth = m_nodes[n].depth + 1;
      for (int earlier = 0; earlier < tree; ++earlier) {
        if (!m_trees->usable(earlier) || m_trees->foldersOf(earlier).empty()) continue;
        bool absent = false;
        if (m_nodes[n].folderIn(earlier) >= 0) {
          absent = treePlacesAll;
          for (int left : nodes) absent = absent && m_nodes[static_cast<size_t>(left)].folderIn(earlier) < 0;
        } else {
          absent = m_nodes[n].absentFrom(earlier);
        }
        if (absent) {
          added.absentIn.push_back(earlier);
        } else {
          added.unpairedIn.push_back(earlier);
          added.unpairedWhy.emplace_back();
        }
      }
      const int index = static_cast<int>(m_nodes.size());
      m_nodes.push_back(std::move(added));
      m_nodes[n].children.push_back(index);
      place(index, unpaired);
    }
  }
  if (complete.size() < m_nodes.size()) complete.resize(m_nodes.size(), 0);
  // Parents come before their children, so a parent's verdict is known when its child is judged.
  for (CFolderNode& node : m_nodes) {
    if (node.folderIn(tree) >= 0) continue;
    const CFolderNode& parent = m_nodes[static_cast<size_t>(node.parent)];
    const bool absent = parent.folderIn(tree) >= 0 ? complete[static_cast<size_t>(node.parent)] != 0
                                                   : parent.absentFrom(tree);
    if (absent) {
      node.absentIn.push_back(tree);
    } else {
      node.unpairedIn.push_back(tree);
      node.unpairedWhy.push_back(pairing.nodeReason(static_cast<int>(&node - m_nodes.data())));
    }
  }
}

void FolderTree::giveAddresses() {
  std::unordered_map<std::string_view, int> stored;  // every name of the children as stored, counted
  for (CFolderNode& parent : m_nodes) {
    if (parent.children.size() < 2) continue;
    // Most folders have names none of their siblings has: only where one is shared is more needed.
    stored.clear();
    for (int child : parent.children) {
      const std::vector<FolderPlace>& places = m_nodes[static_cast<size_t>(child)].places;
      for (size_t k = 0; k < places.size(); ++k) {
        const std::string& name = m_trees->folder(places[k].tree, places[k].folder).name;
        bool again = false;  // a name the folder has in an earlier tree too
        for (size_t e = 0; e < k; ++e) again = again || m_trees->folder(places[e].tree, places[e].folder).name == name;
        if (again) continue;
        ++stored[name];
        if (const std::string_view bare = withoutVersion(name); bare.size() != name.size()) ++stored[bare];
      }
    }
    bool shared = false;
    for (const auto& [name, count] : stored) shared = shared || count > 1;
    if (!shared) continue;
    NameIndex names;
    indexChildren(static_cast<int>(&parent - m_nodes.data()), names);
    for (int child : parent.children) {
      CFolderNode& node = m_nodes[static_cast<size_t>(child)];
      auto names1 = [&](const std::string& name) {
        const std::vector<size_t> items = names.find(name);
        return items.size() == 1 && items[0] == static_cast<size_t>(child);
      };
      if (names1(node.name)) continue;
      for (const FolderPlace& p : node.places)
        if (names1(m_trees->folder(p.tree, p.folder).name)) {
          node.address = m_trees->folder(p.tree, p.folder).name;
          break;
        }
      if (node.address.empty() && !node.places.empty()) {
        const FolderPlace& p = node.places.front();
        node.address = m_trees->folder(p.tree, p.folder).name + ";" + m_trees->reader(p.tree).kind().id;
      }
    }
  }
}

void FolderTree::indexChildren(int node, NameIndex& names) const {
  for (int child : m_nodes[static_cast<size_t>(node)].children)
    for (const FolderPlace& p : m_nodes[static_cast<size_t>(child)].places)
      names.add(static_cast<size_t>(child), m_trees->folder(p.tree, p.folder).name, m_trees->reader(p.tree).kind().id);
}

const std::string& FolderTree::componentOf(int index) const {
  const CFolderNode& node = m_nodes[static_cast<size_t>(index)];
  return node.address.empty() ? node.name : node.address;
}

int FolderTree::findByPlace(int tree, int folder) const {
  if (tree < 0 || static_cast<size_t>(tree) >= m_byPlace.size()) return -1;
  const std::vector<int>& byPlace = m_byPlace[static_cast<size_t>(tree)];
  if (folder < 0 || static_cast<size_t>(folder) >= byPlace.size()) return -1;
  return byPlace[static_cast<size_t>(folder)];
}

const std::string& FolderTree::nameIn(int node, int tree) const {
  static const std::string none;
  const int folder = m_nodes[static_cast<size_t>(node)].folderIn(tree);
  return folder < 0 ? none : m_trees->folder(tree, folder).name;
}

const std::string& FolderTree::rockRidgeNameIn(int node, int tree) const {
  static const std::string none;
  const int folder = m_nodes[static_cast<size_t>(node)].folderIn(tree);
  return folder < 0 ? none : m_trees->folder(tree, folder).rockRidgeName;
}

Error FolderTree::findFolder(std::string_view path, int& result) const {
  result = -1;
  if (m_nodes.empty()) return makeError(ErrorKind::PathNotFound, std::string(path), "No such folder in the image.");
  int folder = 0;
  std::string_view rest = path;
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    if (part.empty() || part == ".") continue;
    int found = -1;
    {
      NameIndex names;
      indexChildren(folder, names);
      std::vector<int> matches;
      for (size_t child : names.find(part)) matches.push_back(static_cast<int>(child));
      if (matches.size() > 1) {
        // Each folder with its names per tree, and a name that only it has, if any, to address it by.
        std::string text = "The path could mean " + std::to_string(matches.size()) + " folders:";
        for (size_t k = 0; k < matches.size(); ++k) {
          std::string own;
          text += std::string(k ? ";" : "") + " one named";
          const auto& places = node(matches[k]).places;
          for (size_t i = 0; i < places.size(); ++i) {
            const std::string& name = m_trees->folder(places[i].tree, places[i].folder).name;
            text += std::string(i ? "," : "") + " \"" + name + "\" in the " + m_trees->label(places[i].tree) + " tree";
            bool shared = false;
            for (size_t other = 0; other < matches.size(); ++other)
              for (const FolderPlace& p : node(matches[other]).places)
                shared = shared || (other != k && nameMatches(name, m_trees->folder(p.tree, p.folder).name, true));
            if (own.empty() && !shared) own = name;
          }
          std::string parent = pathOf(folder);
          if (parent != "/") parent += '/';
          text += own.empty() ? " (no name of it tells it from the others)" : " (address it as " + parent + own + ")";
        }
        return makeError(ErrorKind::AmbiguousPath, std::string(path), text + ".");
      }
      if (matches.size() == 1) found = matches[0];
    }
    if (found < 0) return makeError(ErrorKind::PathNotFound, std::string(path), "No such folder in the image.");
    folder = found;
  }
  result = folder;
  return {};
}

std::string FolderTree::pathOf(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_nodes.size()) return {};
  std::vector<const std::string*> parts;
  for (int i = index; i > 0; i = m_nodes[static_cast<size_t>(i)].parent) parts.push_back(&componentOf(i));
  if (parts.empty()) return "/";
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) path += "/" + **it;
  return path;
}

}  // namespace umbra
