#include "FolderTree.h"

#include <algorithm>
#include <functional>
#include <map>

#include "CIsoImage.h"
#include "NameKey.h"

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

// Pairs a and b items that are unique matches of each other under `same`.
template <typename Same>
void pairUnique(std::vector<int>& primaries, std::vector<int>& joliets, Same same,
                const std::function<void(int, int)>& pair) {
  std::vector<int> restP, pairedJ;
  for (int p : primaries) {
    int found = -1, count = 0;
    for (int j : joliets)
      if (same(p, j)) {
        found = j;
        ++count;
      }
    if (count != 1) {
      restP.push_back(p);
      continue;
    }
    int back = 0;
    for (int q : primaries)
      if (same(q, found)) ++back;
    if (back != 1) {
      restP.push_back(p);
      continue;
    }
    pair(p, found);
    pairedJ.push_back(found);
  }
  primaries = std::move(restP);
  std::erase_if(joliets, [&](int j) { return std::find(pairedJ.begin(), pairedJ.end(), j) != pairedJ.end(); });
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
  // Parents are paired before their children: walk the primary nodes in table order.
  for (size_t p = 0; p < m_nodes.size(); ++p) {
    const int j = m_nodes[p].joliet.pathNumber ? byNumber[m_nodes[p].joliet.pathNumber - 1] : -1;
    if (j < 0) continue;
    std::vector<int> primaries = m_nodes[p].children;
    std::vector<int> joliets = joliet[static_cast<size_t>(j)].children;
    if (primaries.empty() || joliets.empty()) continue;
    std::map<int, std::string> keys;
    for (int c : primaries) keys[c] = nameKey(m_nodes[static_cast<size_t>(c)].name);
    std::map<int, std::string> jkeys;
    for (int c : joliets) jkeys[c] = nameKey(joliet[static_cast<size_t>(c)].name);

    // 1. The same name once both are brought to the ISO 9660 form.
    pairUnique(primaries, joliets, [&](int a, int b) { return keys[a] == jkeys[b]; }, pair);
    if (primaries.empty() || joliets.empty()) continue;
    // 2. The same content.
    std::map<int, Fingerprint> pprints, jprints;
    for (int c : primaries) pprints[c] = fingerprintOf(image, m_nodes[static_cast<size_t>(c)].primary.extent, buffer);
    for (int c : joliets) jprints[c] = fingerprintOf(image, joliet[static_cast<size_t>(c)].extent, buffer);
    pairUnique(primaries, joliets,
               [&](int a, int b) { return pprints[a].usable() && pprints[a] == jprints[b]; }, pair);
    if (primaries.empty() || joliets.empty()) continue;
    // 3. A name cut short by the maker (the ISO 9660 name begins the long one), when that is unique.
    pairUnique(primaries, joliets,
               [&](int a, int b) {
                 return !keys[a].empty() && jkeys[b].size() > keys[a].size() && jkeys[b].starts_with(keys[a]) &&
                        pprints[a].entries == jprints[b].entries;
               },
               pair);
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
