#include "engine/model/FolderReader.h"

#include <algorithm>
#include <cstdio>

#include "engine/io/ImageFile.h"
#include "engine/model/IdentifierOrigins.h"
#include "engine/model/NameKey.h"
#include "engine/model/PathNames.h"

namespace umbra {

FolderState stateOf(const EntryRecords& records) {
  size_t hidden = 0, clear = 0;
  for (const EntryRecord& r : records) {
    hidden += r.mark == HiddenMark::Hidden ? 1 : 0;
    clear += r.mark == HiddenMark::None ? 1 : 0;
  }
  if (clear == records.size()) return FolderState::Normal;
  return hidden == records.size() ? FolderState::Hidden : FolderState::Mixed;
}

const EntryRecord* EntryRow::recordIn(int tree) const {
  for (const EntryRecord& r : records)
    if (r.tree == tree) return &r;
  return nullptr;
}

uint64_t EntryRow::offsetIn(int tree) const {
  const EntryRecord* r = recordIn(tree);
  return r ? r->offset : 0;
}

FolderReader::FolderReader(const ImageFile& file, const FolderTree& tree) : m_file(&file), m_tree(&tree) {}

FolderReader::FolderReader(std::unique_ptr<ImageFile> file, const FolderTree& tree)
    : m_ownFile(std::move(file)), m_file(m_ownFile.get()), m_tree(&tree) {}

FolderReader::~FolderReader() = default;

namespace {
// Empties a hash table for a listing of about `expected` names. A table grown for a large folder
// keeps its buckets, and clear() wipes them all each time: a fresh one is cheaper then.
template <typename Table>
void clearTable(Table& table, size_t expected) {
  if (table.bucket_count() > 8 * (expected + 16))
    Table().swap(table);
  else
    table.clear();
}

// Adds an entry's records (a file in parts has one per extent) to its row.
void attachRecords(EntryRow& row, const TreeEntry& e, int tree) {
  for (size_t i = 0; i < e.recordOffsets.size(); ++i)
    row.records.push_back({tree, e.recordOffsets[i], i < e.recordMarks.size() ? e.recordMarks[i] : e.mark,
                           i < e.recordNames.size() ? e.recordNames[i] : e.name, e.rockRidgeName, e.entryHandle});
}
}  // namespace

void FolderReader::attachByName(std::vector<EntryRow>& rows, size_t rowCount, std::vector<TreeEntry>& entries, int tree,
                                Error& error) {
  const ImageTrees& trees = m_tree->trees();
  // The file rows by the names the user gave them (Joliet, Rock Ridge): -1 for a name two rows have.
  clearTable(m_rowByName, rowCount);
  clearTable(m_jolietForms, entries.size());
  for (size_t r = 0; r < rowCount; ++r) {
    if (rows[r].isFolder) continue;
    for (const EntryRecord& record : rows[r].records) {
      for (const std::string* name : {&record.name, &record.rockRidgeName}) {
        if (name->empty() || (name == &record.name && !trees.reader(record.tree).keepsGivenNames())) continue;
        if (name == &record.name && trees.reader(record.tree).givenNameLimit() > 0 &&
            utf16Units(*name) >= trees.reader(record.tree).givenNameLimit())
          continue;  // cut short: not the whole name
        const auto [it, fresh] = m_rowByName.try_emplace(*name, static_cast<int>(r));
        if (!fresh && it->second != static_cast<int>(r)) it->second = -1;
      }
    }
  }
  auto attach = [&](EntryRow& row, const TreeEntry& e) {
    for (uint64_t offset : e.recordOffsets)
      row.records.push_back({tree, offset, e.mark, e.name, e.rockRidgeName, e.entryHandle});
  };
  // A name joins a file to its row only where no other name of the folder could be written alike in
  // Joliet, and it is whole (not cut at 64 units).
  m_formOf.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].isFolder) ++m_jolietForms[m_formOf[i] = jolietForm(entries[i].name)];
  for (size_t i = 0; i < entries.size(); ++i) {
    TreeEntry& e = entries[i];
    if (e.isFolder) continue;
    const auto named = m_rowByName.find(e.name);
    const bool whole = utf16Units(e.name) < 64 && m_jolietForms[m_formOf[i]] == 1;
    if (whole && named != m_rowByName.end() && named->second >= 0 &&
        !rows[static_cast<size_t>(named->second)].recordIn(tree)) {
      attach(rows[static_cast<size_t>(named->second)], e);
      m_attached[i] = 1;
      continue;
    }
    if (Error read = trees.reader(tree).completeEntry(*m_file, e); read && !error) error = read;
  }
}

void FolderReader::nameKeys(const std::vector<TreeEntry>& list, const std::vector<FileKey>& keys,
                            std::vector<NamedFile>& names, bool rowIndex) const {
  for (size_t k = 0; k < keys.size(); ++k) {
    const bool shared =
        (k > 0 && keys[k - 1].sector == keys[k].sector && keys[k - 1].size == keys[k].size) ||
        (k + 1 < keys.size() && keys[k + 1].sector == keys[k].sector && keys[k + 1].size == keys[k].size);
    if (!shared) continue;
    const TreeEntry& entry =
        list[static_cast<size_t>(rowIndex ? m_baseEntryOfRow[keys[k].index] : static_cast<int>(keys[k].index))];
    names.push_back({nameKeyHash(entry.rockRidgeName.empty() ? entry.name : entry.rockRidgeName), keys[k].sector,
                     keys[k].size, keys[k].index});
  }
  std::sort(names.begin(), names.end());
}

void FolderReader::pairSharedByName(std::vector<EntryRow>& rows, const std::vector<TreeEntry>& baseEntries,
                                    const std::vector<TreeEntry>& entries, int tree, const TreeReader& reader) {
  if (m_baseNames.empty()) nameKeys(baseEntries, m_baseKeys, m_baseNames, true);
  m_otherNames.clear();
  nameKeys(entries, m_otherKeys, m_otherNames, false);
  // Both lists are sorted by (name, data): a name that occurs once on each side pairs.
  auto b = m_baseNames.begin(), o = m_otherNames.begin();
  while (b != m_baseNames.end() && o != m_otherNames.end()) {
    if (*b < *o) {
      ++b;
    } else if (*o < *b) {
      ++o;
    } else {
      auto bEnd = b, oEnd = o;
      while (bEnd != m_baseNames.end() && !(*b < *bEnd)) ++bEnd;
      while (oEnd != m_otherNames.end() && !(*o < *oEnd)) ++oEnd;
      if (bEnd - b == 1 && oEnd - o == 1) {
        attachRecords(rows[b->index], entries[o->index], tree);
        m_attached[o->index] = 1;
        // Names alike prove nothing: a twin sharing its data with others is proven by a
        // whole name equal to its Rock Ridge name, or an identifier only its name could give.
        if (!sameFile(baseEntries, m_baseEntryOfRow[b->index], entries, o->index, reader))
          m_unproven.emplace_back(b->index, tree);
      }
      b = bEnd;
      o = oEnd;
    }
  }
}

bool FolderReader::sameFile(const std::vector<TreeEntry>& base, int baseEntry, const std::vector<TreeEntry>& other,
                            uint32_t otherEntry, const TreeReader& otherReader) const {
  const TreeEntry& b = base[static_cast<size_t>(baseEntry)];
  const TreeEntry& o = other[otherEntry];
  const bool whole = otherReader.keepsGivenNames() &&
                     (otherReader.givenNameLimit() == 0 || utf16Units(o.name) < otherReader.givenNameLimit());
  if (!b.rockRidgeName.empty() && whole && b.rockRidgeName == o.name) return true;
  // An identifier only this name of the folder could have given. The model of the folder's names
  // is made once per tree listed, not once per file asked about.
  if (!otherReader.keepsGivenNames()) return false;
  if (!m_origins) {
    std::vector<std::string> identifiers, names;
    m_identifierOf.assign(base.size(), -1);
    m_nameOf.assign(other.size(), -1);
    for (size_t i = 0; i < base.size(); ++i) {
      if (base[i].isFolder) continue;
      m_identifierOf[i] = static_cast<int>(identifiers.size());
      std::string_view bare = withoutVersion(base[i].name);
      if (bare.size() > 1 && bare.back() == '.') bare.remove_suffix(1);
      identifiers.emplace_back(bare);
    }
    for (size_t i = 0; i < other.size(); ++i) {
      if (other[i].isFolder) continue;
      m_nameOf[i] = static_cast<int>(names.size());
      names.push_back(other[i].name);
    }
    m_origins = std::make_unique<IdentifierOrigins>(names, identifiers);
  }
  const int identifier = m_identifierOf[static_cast<size_t>(baseEntry)], name = m_nameOf[otherEntry];
  if (identifier < 0 || name < 0) return false;
  return m_origins->soleOrigin(static_cast<size_t>(identifier)) == name;
}

void FolderReader::giveAddresses(std::vector<EntryRow>& rows) {
  // Most entries have a name no other entry of the folder has: only where one is shared is more needed.
  // (A row's records often share a name, as its Joliet and UDF names do: that is no clash.) Sorted,
  // not hashed: most folders are small, and a table kept from a large one costs its size to clear.
  m_nameRows.clear();
  for (size_t r = 0; r < rows.size(); ++r)
    for (const EntryRecord& record : rows[r].records) {
      m_nameRows.emplace_back(record.name, r);
      if (const std::string_view bare = withoutVersion(record.name); bare.size() != record.name.size())
        m_nameRows.emplace_back(bare, r);
    }
  std::sort(m_nameRows.begin(), m_nameRows.end());
  bool shared = false;
  for (size_t k = 1; k < m_nameRows.size() && !shared; ++k)
    shared = m_nameRows[k].first == m_nameRows[k - 1].first && m_nameRows[k].second != m_nameRows[k - 1].second;
  for (EntryRow& row : rows) row.address.clear();
  if (!shared) return;
  const ImageTrees& trees = m_tree->trees();
  NameIndex names;
  for (size_t i = 0; i < rows.size(); ++i)
    for (const EntryRecord& record : rows[i].records) names.add(i, record.name, trees.reader(record.tree).kind().id);
  for (size_t i = 0; i < rows.size(); ++i) {
    EntryRow& row = rows[i];
    auto names1 = [&](const std::string& name) {
      const std::vector<size_t> items = names.find(name);
      return items.size() == 1 && items[0] == i;
    };
    if (names1(row.name) || row.records.empty()) continue;
    for (const EntryRecord& record : row.records)
      if (names1(record.name)) {
        row.address = record.name;
        break;
      }
    if (row.address.empty())
      row.address = row.records.front().name + ";" + trees.reader(row.records.front().tree).kind().id;
  }
}

EntryRow& FolderReader::newRow(FolderListing& out, size_t& rowCount, const TreeEntry& e, int tree) const {
  if (rowCount == out.rows.size()) out.rows.emplace_back();
  EntryRow& row = out.rows[rowCount++];
  row.name = e.name;
  row.isFolder = e.isFolder;
  row.folderIndex = e.isFolder && e.folder >= 0 ? m_tree->findByPlace(tree, e.folder) : -1;
  row.parentIndex = out.folderIndex;
  row.size = e.size;
  row.dataSector = e.dataSector;
  row.date = e.date;
  row.records.clear();
  row.unprovenIn.clear();
  return row;
}

void FolderReader::rowsOfFirstTree(const std::vector<TreeEntry>& baseEntries, int tree, FolderListing& out,
                                   size_t& rowCount) {
  m_folderRows.clear();
  m_baseKeys.clear();
  m_baseEntryOfRow.clear();
  for (size_t i = 0; i < baseEntries.size(); ++i) {
    const TreeEntry& e = baseEntries[i];
    EntryRow& row = newRow(out, rowCount, e, tree);
    attachRecords(row, e, tree);
    const uint32_t index = static_cast<uint32_t>(rowCount - 1);
    if (row.isFolder) {
      if (row.folderIndex >= 0) m_folderRows.emplace_back(row.folderIndex, index);
    } else {
      m_baseKeys.push_back({e.dataSector, e.size, index});
    }
    m_baseEntryOfRow.push_back(static_cast<int>(i));
  }
  std::sort(m_folderRows.begin(), m_folderRows.end());
  std::sort(m_baseKeys.begin(), m_baseKeys.end());
  m_baseNames.clear();
  m_unproven.clear();
}

void FolderReader::addTree(const FolderPlace& place, const std::vector<TreeEntry>& baseEntries, FolderListing& out,
                           size_t& rowCount, Error& error, uint64_t& listed) {
  const ImageTrees& trees = m_tree->trees();
  m_origins.reset();  // sameFile's model, of this tree's names
  std::vector<TreeEntry>& entries = m_entries[static_cast<size_t>(place.tree)];
  const TreeReader& reader = trees.reader(place.tree);
  // A tree that reads an entry of its own per file (UDF) is listed without them: its files join
  // the rows that name them alike, and only the others are read, to be matched by their data.
  const bool readOnDemand = !m_marksOnly && reader.listingReadsEachEntry();
  if (Error e = m_marksOnly || readOnDemand ? reader.listMarks(*m_file, place.folder, entries)
                                            : reader.listFolder(*m_file, place.folder, entries);
      e && !error)
    error = e;
  listed += entries.size();
  m_attached.assign(entries.size(), 0);
  if (readOnDemand) attachByName(out.rows, rowCount, entries, place.tree, error);
  m_otherKeys.clear();
  for (uint32_t i = 0; i < entries.size(); ++i)
    if (!entries[i].isFolder && !m_attached[i]) m_otherKeys.push_back({entries[i].dataSector, entries[i].size, i});
  std::sort(m_otherKeys.begin(), m_otherKeys.end());
  bool sharedData = false;
  for (uint32_t i = 0; i < entries.size(); ++i) {
    if (m_attached[i]) continue;
    if (entries[i].isFolder) {
      attachFolder(entries[i], place.tree, readOnDemand, out, rowCount);
    } else if (!m_marksOnly) {
      sharedData |= !attachFileByData(baseEntries, entries, i, reader, place.tree, out);
    }
  }
  if (sharedData) pairSharedByName(out.rows, baseEntries, entries, place.tree, reader);
  if (!m_marksOnly) {
    // A file this tree lacks is proven absent only when each of its files here has a row.
    const bool leftOver = std::any_of(entries.begin(), entries.end(), [&](const TreeEntry& e) {
      return !e.isFolder && !m_attached[static_cast<size_t>(&e - entries.data())];
    });
    for (uint32_t r = 0; r < rowCount; ++r)
      if (!out.rows[r].isFolder && !out.rows[r].recordIn(place.tree) && leftOver)
        m_unproven.emplace_back(r, place.tree);
  }
}

void FolderReader::attachFolder(TreeEntry& e, int tree, bool readOnDemand, FolderListing& out, size_t& rowCount) {
  const int folderNode = e.folder >= 0 ? m_tree->findByPlace(tree, e.folder) : -1;
  if (folderNode < 0) return;  // a folder record its own tree does not know: damaged, left out
  const auto it = std::lower_bound(m_folderRows.begin(), m_folderRows.end(), std::pair<int, uint32_t>(folderNode, 0));
  if (it != m_folderRows.end() && it->first == folderNode) {
    attachRecords(out.rows[it->second], e, tree);
    return;
  }
  // A folder the first tree lacks: its records in later trees join this row.
  if (readOnDemand) m_tree->trees().reader(tree).completeEntry(*m_file, e);  // its date
  EntryRow& row = newRow(out, rowCount, e, tree);
  attachRecords(row, e, tree);
  m_folderRows.insert(it, {folderNode, static_cast<uint32_t>(rowCount - 1)});
}

bool FolderReader::attachFileByData(const std::vector<TreeEntry>& baseEntries, const std::vector<TreeEntry>& entries,
                                    uint32_t i, const TreeReader& reader, int tree, FolderListing& out) {
  auto keyRange = [](const std::vector<FileKey>& keys, uint64_t sector, uint64_t size) {
    return std::equal_range(keys.begin(), keys.end(), FileKey{sector, size, 0}, [](const FileKey& a, const FileKey& b) {
      return a.sector != b.sector ? a.sector < b.sector : a.size < b.size;
    });
  };
  const TreeEntry& e = entries[i];
  // A file's twin holds the same data; entries sharing it (empty files) are matched by name.
  const auto [first, last] = keyRange(m_baseKeys, e.dataSector, e.size);
  if (first == last) return true;
  const auto [ofirst, olast] = keyRange(m_otherKeys, e.dataSector, e.size);
  if (last - first != 1 || olast - ofirst != 1) return false;
  attachRecords(out.rows[first->index], e, tree);
  m_attached[i] = 1;
  // An empty file's extent is any the maker chose: it proves nothing.
  if (e.size == 0 && !sameFile(baseEntries, m_baseEntryOfRow[first->index], entries, i, reader))
    m_unproven.emplace_back(first->index, tree);
  return true;
}

Error FolderReader::list(int folderIndex, FolderListing& out) {
  out.folderIndex = folderIndex;
  const FolderTree& tree = *m_tree;
  if (folderIndex < 0 || static_cast<size_t>(folderIndex) >= tree.size()) {
    out.rows.clear();
    return makeError(ErrorKind::PathNotFound, {}, "No such folder.");
  }
  const ImageTrees& trees = tree.trees();
  const CFolderNode& node = tree.node(folderIndex);
  m_entries.resize(static_cast<size_t>(trees.count()));

  // The folder's first tree gives the rows.
  const FolderPlace base = node.places.front();
  std::vector<TreeEntry>& baseEntries = m_entries[static_cast<size_t>(base.tree)];
  Error error = trees.reader(base.tree).listFolder(*m_file, base.folder, baseEntries);
  if (error && baseEntries.empty()) {
    out.rows.clear();
    return error;
  }
  size_t rowCount = 0;
  uint64_t listed = baseEntries.size();
  rowsOfFirstTree(baseEntries, base.tree, out, rowCount);
  // Every other tree adds its records to the rows, and rows for the folders only it holds.
  for (const FolderPlace& place : node.places)
    if (place.tree != base.tree) addTree(place, baseEntries, out, rowCount, error, listed);

  for (const auto& [r, t] : m_unproven) {
    std::vector<int>& unproven = out.rows[r].unprovenIn;
    if (std::find(unproven.begin(), unproven.end(), t) == unproven.end()) unproven.push_back(t);
  }
  out.rows.resize(rowCount);
  for (EntryRow& row : out.rows) row.state = stateOf(row.records);
  if (!m_marksOnly) giveAddresses(out.rows);
  if (listed > m_entryBudget)
    return makeError(ErrorKind::Damaged, {},
                     "The image's folders hold more entries than it has room for; it is damaged.");
  m_entryBudget -= std::min(m_entryBudget, listed);
  return error;
}

}  // namespace umbra
