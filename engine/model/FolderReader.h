#pragma once
// Lists one folder of an open image into rows: the entries of the folder's first tree, each with
// its records in every other tree (folders by the pairing, files by the data they share), then the
// folders that only other trees hold. A reader keeps its own buffers; readers with their own file
// may list on several threads.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/Error.h"
#include "engine/model/FolderTree.h"

namespace umbra {

class IdentifierOrigins;

class ImageFile;

// A folder's state over all its records: hidden in every tree, in none, or in some only (or in
// part, as ISO 9660's Existence bit alone hides from Windows only).
enum class FolderState { Normal, Hidden, Mixed };

// One stored copy of an entry's record in one tree.
struct EntryRecord {
  int tree = 0;
  uint64_t offset = 0;  // image byte offset where the record starts
  HiddenMark mark = HiddenMark::None;  // what it holds of that tree's hidden mark
  std::string name;     // the entry's name in that tree (UTF-8; ISO 9660 identifiers as stored)
  std::string rockRidgeName;  // the exact long name the tree also stores (Rock Ridge NM), else ""
  uint64_t entryHandle = 0;  // the reader's handle on the entry behind it (TreeEntry::entryHandle)
};
// Where an entry's records stand, in tree order, one element per stored copy.
using EntryRecords = std::vector<EntryRecord>;

// One entry of a listed folder (a row of the file list).
struct EntryRow {
  std::string name;       // the ISO 9660 identifier as stored ("README.TXT;1"); else its name in its first tree
  // How a path names this entry in its folder when `name` could mean another entry too (another
  // name of it, or "name;tree"); "" when `name` does.
  std::string address;
  bool isFolder = false;  // from the image: Directory bit, or a hidden record whose extent is a folder
  int folderIndex = -1;   // for a folder: its node in the FolderTree, when known
  int parentIndex = -1;   // the node of the folder listed
  FolderState state = FolderState::Normal;
  uint64_t size = 0;      // Data Length
  uint64_t dataSector = 0;  // where a file's data starts, as its first tree records it
  EntryDate date;
  EntryRecords records;
  // For a file: trees that hold its folder where no twin of it is proven (none found, or one
  // joined by a name that only looks alike). A folder's are its node's.
  std::vector<int> unprovenIn;

  bool hidden() const { return state == FolderState::Hidden; }
  const std::string& component() const { return address.empty() ? name : address; }
  const EntryRecord* recordIn(int tree) const;
  uint64_t offsetIn(int tree) const;  // first copy's offset; 0 when the entry has no record there
};

// State from the records' marks.
FolderState stateOf(const EntryRecords& records);

struct FolderListing {
  int folderIndex = -1;
  std::vector<EntryRow> rows;  // "." and ".." left out
};

class FolderReader {
 public:
  // Reads through the given file (same thread as its other users).
  FolderReader(const ImageFile& file, const FolderTree& tree);
  // Reads through a file of its own (another handle on the same image).
  FolderReader(std::unique_ptr<ImageFile> file, const FolderTree& tree);
  ~FolderReader();
  FolderReader(const FolderReader&) = delete;
  FolderReader& operator=(const FolderReader&) = delete;

  Error list(int folderIndex, FolderListing& out);
  // Caps the entries this reader lists from now on: a crafted image whose folders share their
  // record lists must not make a listing of every folder run for minutes.
  void limitEntries(uint64_t entries) { m_entryBudget = entries; }
  // Rows for counting: every row with its state, but a file's row holds its first tree's record
  // only, and a row's date and size come from its first tree (other trees' entries are listed
  // without the reads those need).
  void marksOnly(bool on) { m_marksOnly = on; }

 private:
  std::unique_ptr<ImageFile> m_ownFile;
  const ImageFile* m_file;
  const FolderTree* m_tree;
  uint64_t m_entryBudget = UINT64_MAX;
  bool m_marksOnly = false;
  // Buffers reused from one listing to the next.
  std::vector<std::vector<TreeEntry>> m_entries;  // per tree
  struct FileKey {
    uint64_t sector, size;
    uint32_t index;
    bool operator<(const FileKey& o) const {
      return sector != o.sector ? sector < o.sector : size != o.size ? size < o.size : index < o.index;
    }
  };
  std::vector<FileKey> m_baseKeys, m_otherKeys;
  // Entries sharing their data (empty files) are told apart by name: keys built once per listing.
  struct NamedFile {
    uint64_t key;  // nameKeyHash
    uint64_t sector, size;
    uint32_t index;
    bool operator<(const NamedFile& o) const {
      return key != o.key ? key < o.key : sector != o.sector ? sector < o.sector : size < o.size;
    }
  };
  std::vector<NamedFile> m_baseNames, m_otherNames;
  std::vector<std::pair<int, uint32_t>> m_folderRows;  // node -> row
  std::vector<int> m_baseEntryOfRow;
  std::vector<std::pair<std::string_view, size_t>> m_nameRows;  // each name of a listing, with its row
  std::unordered_map<std::string, int> m_rowByName, m_jolietForms;
  std::vector<std::string> m_formOf;  // each listed entry's Joliet form
  std::vector<char> m_attached;  // per entry of the tree being added: already joined to a row
  std::vector<std::pair<uint32_t, int>> m_unproven;  // (row, tree): a file's record there not proven
  // sameFile's model of where the identifiers of the listed folder come from, for one other tree,
  // and each entry's place in it (-1 for a folder).
  mutable std::unique_ptr<IdentifierOrigins> m_origins;
  mutable std::vector<int> m_identifierOf, m_nameOf;
  void giveAddresses(std::vector<EntryRow>& rows);
  // The steps of list(): a row made for an entry, the rows of the folder's first tree, and each
  // other tree's records joined to them (rows of their own for folders the first tree lacks).
  EntryRow& newRow(FolderListing& out, size_t& rowCount, const TreeEntry& e, int tree) const;
  void rowsOfFirstTree(const std::vector<TreeEntry>& baseEntries, int tree, FolderListing& out, size_t& rowCount);
  void addTree(const FolderPlace& place, const std::vector<TreeEntry>& baseEntries, FolderListing& out,
               size_t& rowCount, Error& error, uint64_t& listed);
  void attachFolder(TreeEntry& e, int tree, bool readOnDemand, FolderListing& out, size_t& rowCount);
  // Joins a file to the row of the one file of the first tree that holds the same data; false when
  // other files share that data too, so that names must decide.
  bool attachFileByData(const std::vector<TreeEntry>& baseEntries, const std::vector<TreeEntry>& entries, uint32_t i,
                        const TreeReader& reader, int tree, FolderListing& out);
  // Whether a file joined to its twin by names alike is proven the same file.
  bool sameFile(const std::vector<TreeEntry>& base, int baseEntry, const std::vector<TreeEntry>& other,
                uint32_t otherEntry, const TreeReader& otherReader) const;
  // Name keys of the files that share their data with another file of the same list; rowIndex: the
  // keys index rows of the first tree, else entries.
  void nameKeys(const std::vector<TreeEntry>& list, const std::vector<FileKey>& keys, std::vector<NamedFile>& names,
                bool rowIndex) const;
  // Pairs the files of a tree that share their data with others (empty files) to the rows by a name
  // that occurs once on each side, and notes the twins that names alone do not prove.
  void pairSharedByName(std::vector<EntryRow>& rows, const std::vector<TreeEntry>& baseEntries,
                        const std::vector<TreeEntry>& entries, int tree, const TreeReader& reader);
  // Joins a tree's files to the rows that name them alike; reads the others' entries.
  void attachByName(std::vector<EntryRow>& rows, size_t rowCount, std::vector<TreeEntry>& entries, int tree,
                    Error& error);
};

}  // namespace umbra
