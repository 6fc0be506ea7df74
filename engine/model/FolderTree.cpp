#include "engine/model/FolderTree.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

#include "engine/iso9660/CIsoImage.h"
#include "engine/model/NameKey.h"
#include "engine/iso9660/RockRidge.h"

namespace umbra {

namespace {

struct JolietFolder {
  uint32_t extent = 0;
  uint32_t number = 0;
  int parent = -1;  // index into the Joliet folder list
  std::string name;
  std::vector<int> children;
  int twin = -1;  // primary node index
};

// A folder's content fingerprint: the extents and sizes of the files it holds and the number of
// entries. Files share their extent between the trees, so twins have equal fingerprints.
struct Fingerprint {
  std::vector<std::pair<uint32_t, uint32_t>> files;
  size_t entries = 0;
  bool usable() const { return !files.empty(); }
  bool operator==(const Fingerprint&) const = default;
};

Fingerprint fingerprintOf(const CIsoImage& image, uint32_t extent, std::vector<uint8_t>& buffer) {
  Fingerprint print;
  DirectoryWalk walk;
  if (image.LoadDirectory(extent, buffer, walk)) return print;
  DirRecord record;
  while (walk.next(record)) {
    if (record.isSelf() || record.isParent()) continue;
    ++print.entries;
    if (!(record.flags & iso::kFlagDirectory) && record.dataLength > 0)
      print.files.emplace_back(record.extent, record.dataLength);
  }
  std::sort(print.files.begin(), print.files.end());
  return print;
}

// Pairs the primary and Joliet folders whose keys occur exactly once on each side; the rest stay.
template <typename Key>
void pairByUniqueKey(std::vector<int>& primaries, std::vector<int>& joliets, const std::vector<Key>& primaryKeys,
                     const std::vector<Key>& jolietKeys, const std::function<void(int, int)>& pair) {
  std::unordered_map<Key, std::pair<int, int>> seen;  // key -> (count, position) on each side
  std::unordered_map<Key, std::pair<int, int>> seenJ;
  for (size_t i = 0; i < primaries.size(); ++i) {
    auto& entry = seen[primaryKeys[i]];
    entry = {entry.first + 1, static_cast<int>(i)};
  }
  for (size_t i = 0; i < joliets.size(); ++i) {
    auto& entry = seenJ[jolietKeys[i]];
    entry = {entry.first + 1, static_cast<int>(i)};
  }
  std::vector<char> usedJ(joliets.size(), 0);
  std::vector<int> restP;
  for (size_t i = 0; i < primaries.size(); ++i) {
    const auto p = seen.find(primaryKeys[i]);
    const auto j = seenJ.find(primaryKeys[i]);
    if (p->second.first == 1 && j != seenJ.end() && j->second.first == 1) {
      pair(primaries[i], joliets[static_cast<size_t>(j->second.second)]);
      usedJ[static_cast<size_t>(j->second.second)] = 1;
    } else {
      restP.push_back(primaries[i]);
    }
  }
  std::vector<int> restJ;
  for (size_t i = 0; i < joliets.size(); ++i)
    if (!usedJ[i]) restJ.push_back(joliets[i]);
  primaries = std::move(restP);
  joliets = std::move(restJ);
}

uint64_t hashOf(const Fingerprint& print) {
  uint64_t h = 1469598103934665603ull ^ print.entries;
  for (const auto& [extent, size] : print.files) {
    h = (h ^ extent) * 1099511628211ull;
    h = (h ^ size) * 1099511628211ull;
  }
  return h;
}

}  // namespace

void FolderTree::clear() {
  m_nodes.clear();
  m_byPrimaryExtent.clear();
  m_byJolietExtent.clear();
}

Error FolderTree::build(CIsoImage& image) {
  clear();
  if (Error e = image.ReadPrimaryPathTable()) return e;
  // Path-table record number -> node index; parents always come before their children.
  std::vector<int> byNumber;
  const size_t expected = image.PrimaryPathTableSize() / 12;  // records are 10 to 16 bytes as a rule
  byNumber.reserve(expected);
  m_nodes.reserve(expected);
  m_byPrimaryExtent.reserve(expected);
  PathRecord record;
  Error failure;
  while (image.NextPrimaryPathRecord(record)) {
    const int index = static_cast<int>(m_nodes.size());
    CFolderNode node;
    node.primary = {record.extent, record.number};
    if (record.number == 1) {
      node.name.clear();  // the root; its identifier is a single 0x00 byte
    } else {
      const uint32_t parent = record.parent;
      if (parent == 0 || parent >= record.number || byNumber[parent - 1] < 0) {
        failure = makeError(ErrorKind::UnknownFormat, image.Path(), kUnknownFormatMessage);
        break;
      }
      node.parent = byNumber[parent - 1];
      node.depth = m_nodes[static_cast<size_t>(node.parent)].depth + 1;
      if (node.depth > static_cast<int>(iso::kMaxFolderDepth)) {
        failure = makeError(ErrorKind::UnknownFormat, image.Path(), kUnknownFormatMessage);
        break;
      }
      node.name.assign(record.identifier);
      m_nodes[static_cast<size_t>(node.parent)].children.push_back(index);
    }
    byNumber.push_back(index);
    m_byPrimaryExtent.emplace(record.extent, index);
    m_nodes.push_back(std::move(node));
  }
  if (m_nodes.empty() && !failure)
    failure = makeError(ErrorKind::UnknownFormat, image.Path(), kUnknownFormatMessage);
  if (!m_nodes.empty()) pairJoliet(image);
  image.FreePathTables();
  return failure;
}

void FolderTree::setTwin(int node, uint32_t jolietExtent, uint32_t jolietNumber, std::string jolietName) {
  CFolderNode& n = m_nodes[static_cast<size_t>(node)];
  n.joliet = {jolietExtent, jolietNumber};
  n.jolietName = std::move(jolietName);
  m_byJolietExtent.emplace(jolietExtent, node);
}

void FolderTree::pairJoliet(CIsoImage& image) {
  if (!image.HasJoliet() || image.ReadJolietPathTable()) return;
  std::vector<JolietFolder> joliet;
  std::vector<int> byNumber;
  PathRecord record;
  while (image.NextJolietPathRecord(record)) {
    const int index = static_cast<int>(joliet.size());
    JolietFolder folder{record.extent, record.number, -1, {}, {}, -1};
    if (record.number > 1) {
      const uint32_t parent = record.parent;
      if (parent == 0 || parent >= record.number || byNumber[parent - 1] < 0) break;  // pair what came before
      folder.parent = byNumber[parent - 1];
      folder.name = jolietToUtf8(record.identifier);
      joliet[static_cast<size_t>(folder.parent)].children.push_back(index);
    }
    byNumber.push_back(index);
    joliet.push_back(std::move(folder));
  }
  if (joliet.empty()) return;

  auto pair = [&](int p, int j) {
    joliet[static_cast<size_t>(j)].twin = p;
    setTwin(p, joliet[static_cast<size_t>(j)].extent, joliet[static_cast<size_t>(j)].number,
            joliet[static_cast<size_t>(j)].name);
  };
  pair(0, 0);
  std::vector<uint8_t> buffer;
  bool rockRidge = false;
  {
    DirectoryWalk walk;
    DirRecord self;
    if (!image.LoadDirectory(m_nodes[0].primary.extent, buffer, walk) && walk.next(self))
      rockRidge = hasSuspMarker(self.systemUse);
  }
  // Parents are paired before their children: walk the primary nodes in table order.
  for (size_t p = 0; p < m_nodes.size(); ++p) {
    const int j = m_nodes[p].joliet.pathNumber ? byNumber[m_nodes[p].joliet.pathNumber - 1] : -1;
    if (j < 0) continue;
    std::vector<int> primaries = m_nodes[p].children;
    std::vector<int> joliets = joliet[static_cast<size_t>(j)].children;
    if (primaries.empty() || joliets.empty()) continue;
    std::unordered_map<uint32_t, std::string> longNames;
    auto primaryKeys = [&] {
      std::vector<std::string> keys;
      for (int c : primaries) {
        const CFolderNode& child = m_nodes[static_cast<size_t>(c)];
        const auto longName = longNames.find(child.primary.extent);
        keys.push_back(nameKey(longName != longNames.end() ? longName->second : child.name));
      }
      return keys;
    };
    auto jolietKeys = [&] {
      std::vector<std::string> keys;
      for (int c : joliets) keys.push_back(nameKey(joliet[static_cast<size_t>(c)].name));
      return keys;
    };
    // 1. The same name once both are brought to the ISO 9660 form.
    pairByUniqueKey(primaries, joliets, primaryKeys(), jolietKeys(), pair);
    if (primaries.empty() || joliets.empty()) continue;
    // 1b. With Rock Ridge the parent's records carry each subfolder's original name; read them only
    // when the ISO 9660 names left folders unpaired.
    if (rockRidge) {
      DirectoryWalk walk;
      DirRecord r;
      if (!image.LoadDirectory(m_nodes[p].primary.extent, buffer, walk))
        while (walk.next(r))
          if (!r.isSelf() && !r.isParent())
            if (std::string name = rockRidgeName(r.systemUse); !name.empty()) longNames[r.extent] = std::move(name);
      if (!longNames.empty()) pairByUniqueKey(primaries, joliets, primaryKeys(), jolietKeys(), pair);
      if (primaries.empty() || joliets.empty()) continue;
    }
    // 2. The same content: folders holding files (files share their extents between the trees).
    std::vector<uint64_t> pprints, jprints;
    for (int c : primaries) {
      const Fingerprint f = fingerprintOf(image, m_nodes[static_cast<size_t>(c)].primary.extent, buffer);
      pprints.push_back(f.usable() ? hashOf(f) : 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(c + 1));
    }
    for (int c : joliets) {
      const Fingerprint f = fingerprintOf(image, joliet[static_cast<size_t>(c)].extent, buffer);
      jprints.push_back(f.usable() ? hashOf(f) : ~0x9E3779B97F4A7C15ull * static_cast<uint64_t>(c + 1));
    }
    pairByUniqueKey(primaries, joliets, pprints, jprints, pair);
    if (primaries.empty() || joliets.empty()) continue;
    // 3. A name the maker cut short: the ISO 9660 name begins exactly one long name, and that long
    // name begins with no other remaining ISO 9660 name.
    std::vector<std::string> pkeys = primaryKeys(), jkeys = jolietKeys();
    std::unordered_map<std::string, int> primaryByKey;
    for (size_t i = 0; i < pkeys.size(); ++i) primaryByKey[pkeys[i]] = primaryByKey.count(pkeys[i]) ? -1 : static_cast<int>(i);
    std::vector<int> claims(pkeys.size(), 0), claimedBy(pkeys.size(), -1);
    std::vector<int> owner(jkeys.size(), -1);
    for (size_t jj = 0; jj < jkeys.size(); ++jj) {
      int owners = 0;
      for (size_t len = 1; len < jkeys[jj].size(); ++len) {
        const auto it = primaryByKey.find(jkeys[jj].substr(0, len));
        if (it == primaryByKey.end()) continue;
        ++owners;
        if (it->second >= 0) owner[jj] = it->second;
      }
      if (owners != 1 || owner[jj] < 0) {
        owner[jj] = -1;
        continue;
      }
      ++claims[static_cast<size_t>(owner[jj])];
      claimedBy[static_cast<size_t>(owner[jj])] = static_cast<int>(jj);
    }
    for (size_t i = 0; i < pkeys.size(); ++i)
      if (claims[i] == 1) pair(primaries[i], joliets[static_cast<size_t>(claimedBy[i])]);
  }
}

int FolderTree::findByPrimaryExtent(uint32_t extent) const {
  const auto it = m_byPrimaryExtent.find(extent);
  return it == m_byPrimaryExtent.end() ? -1 : it->second;
}

int FolderTree::findByJolietExtent(uint32_t extent) const {
  const auto it = m_byJolietExtent.find(extent);
  return it == m_byJolietExtent.end() ? -1 : it->second;
}

int FolderTree::findChild(int folder, std::string_view component) const {
  for (int child : node(folder).children)
    if (componentMatches(component, node(child).name, node(child).jolietName)) return child;
  return -1;
}

int FolderTree::findFolder(std::string_view path) const {
  if (m_nodes.empty()) return -1;
  int folder = 0;
  while (!path.empty() && folder >= 0) {
    const size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) folder = findChild(folder, part);
    path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
  }
  return folder;
}

std::string FolderTree::pathOf(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_nodes.size()) return {};
  std::vector<const std::string*> parts;
  for (int i = index; i > 0; i = m_nodes[static_cast<size_t>(i)].parent) parts.push_back(&m_nodes[static_cast<size_t>(i)].name);
  if (parts.empty()) return "/";
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) path += "/" + **it;
  return path;
}

}  // namespace umbra
