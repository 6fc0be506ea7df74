#pragma once
// What a reader of one kind of file-system tree (ISO 9660, Joliet, UDF, ...) gives the model.
// The model pairs the folders of every tree into one folder each and decides what to write; a
// reader knows its own on-disk format and nothing of the others. A reader parses its tree's
// folders once, when it is made, and is read-only from then on: it does its I/O through the file
// it is handed, so one reader serves several threads that each bring their own file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Error.h"

namespace umbra {

class ImageFile;

// The kind of a tree, as the views name it.
struct TreeKind {
  const char* id;     // "iso9660", "joliet", "udf": the name in JSON output
  const char* label;  // "ISO 9660", "Joliet", "UDF": the name in messages
};

// The hidden mark a record holds in its tree.
enum class HiddenMark : uint8_t {
  None,     // listed by every reader
  Hidden,   // the tree's whole mark: left out of listings by every reader that honours the tree's marks
  Partial,  // part of it (ISO 9660's Existence bit alone: Windows leaves the entry out, Linux lists it)
};

// The fewest bytes one record of any tree takes (an ISO 9660 directory record without a name):
// a listing of every folder sees at most the image's size over this many records per tree.
constexpr uint64_t kSmallestRecordBytes = 34;

// Recording date of an entry, as a listing shows it, with the offset from UTC its record gives.
struct EntryDate {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0;
  uint8_t second = 0;
  bool hasOffset = false;    // the record gives its offset from UTC
  int16_t offsetMinutes = 0;
};

// One folder of one tree, as its reader found it.
struct TreeFolder {
  int parent = -1;                      // index in the same list; -1 for the root, which is index 0
  std::string name;                     // UTF-8 name in this tree; "" for the root
  std::string rockRidgeName;            // an exact long name the tree also stores (Rock Ridge NM), else ""
  uint64_t directory = 0;               // the reader's own handle on the folder's directory
  std::vector<int> children;            // in directory order
  // The folder a maker moved deep folders into (Rock Ridge's RR_MOVED): it has no twin in the
  // other trees, which hold the moved folders where they belong.
  bool holdsRelocated = false;
};

// One entry of a listed folder in one tree.
struct TreeEntry {
  std::string name;                     // ISO 9660: the identifier as stored ("README.TXT;1"); else UTF-8
  std::string rockRidgeName;            // Rock Ridge NM name, else ""
  int folder = -1;                      // for a folder: its index in the tree's folder list, when known
  bool isFolder = false;
  HiddenMark mark = HiddenMark::None;   // what the record holds of this tree's hidden mark
  uint64_t dataSector = 0;              // where a file's data starts (absolute 2048-byte sector)
  uint64_t size = 0;                    // a file's length in bytes
  EntryDate date;
  std::vector<uint64_t> recordOffsets;  // image byte offset of the record, once per stored copy
  uint64_t entryHandle = 0;             // the reader's handle on what completeEntry reads
  // Where the copies' marks differ (a moved folder and its placeholder): one mark per copy, in the
  // order of recordOffsets. Empty when every copy holds `mark`.
  std::vector<HiddenMark> recordMarks;
  // Where the copies' names differ (a moved folder's record in the folder of moved folders): one
  // name per copy. Empty when every copy has `name`.
  std::vector<std::string> recordNames;
};

// A piece of a file's bytes: a run of image bytes, or zeros (an extent the tree leaves unrecorded).
struct DataRun {
  uint64_t offset = 0;  // image byte offset; unused for zeros
  uint64_t length = 0;
  bool zeros = false;
};

// An entry of a listed folder with what a copy of it needs.
struct ContentEntry {
  enum class Kind { File, Folder, Link };
  std::string name;                     // the tree's own name (UTF-8; ISO 9660 identifiers without ";1")
  Kind kind = Kind::File;
  int folder = -1;                      // a folder's index in the tree's folder list; -1 when unknown
  uint64_t size = 0;                    // a file's length; its runs add up to it
  std::vector<DataRun> runs;
  std::string linkTarget;               // a link's target as the tree records it
  bool hasModified = false;
  int64_t modified = 0;                 // seconds since 1970-01-01 UTC
  std::string problem;                  // why this entry's bytes cannot be copied (the others can)
  std::vector<uint64_t> recordOffsets;  // image byte offset of the record, once per stored copy
};

// Seconds since 1970-01-01 of a civil date in UTC (proleptic Gregorian calendar).
int64_t secondsSinceEpoch(int year, int month, int day, int hour, int minute, int second);
// Why a file's runs cannot be copied (one lies past the end of the image, two overlap); "" when
// they can. Runs that never overlap read at most the image's size, whatever a record claims.
std::string runsProblem(const std::vector<DataRun>& runs, uint64_t imageSize);

// Bytes to store at an image offset.
struct BytePatch {
  uint64_t offset = 0;
  std::vector<uint8_t> bytes;
};

// Order-independent fingerprint of a folder's files. Bridge images share file data between
// their trees, so a folder's twins in every tree hold the same (sector, size) pairs.
class ContentPrint {
 public:
  void addFile(uint64_t dataSector, uint64_t size) {
    if (size == 0) return;  // empty files share arbitrary sectors; they prove nothing
    m_value += mix(dataSector * 0x9E3779B97F4A7C15ull ^ mix(size));
  }
  uint64_t value() const { return m_value; }

 private:
  static uint64_t mix(uint64_t x) {  // splitmix64 finaliser
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
  }
  uint64_t m_value = 0;
};

class TreeReader {
 public:
  virtual ~TreeReader() = default;

  virtual const TreeKind& kind() const = 0;
  // More about the tree for `info`, e.g. "UDF 1.02"; may be empty.
  virtual std::string description() const { return {}; }
  // Non-empty when the tree is there but cannot be used (damaged, or a layout not supported):
  // no folder then has a proven record in it, so no folder of the image can be hidden.
  virtual std::string problem() const { return {}; }

  // Whether readFolders found every folder the tree holds at its place, so that a folder of another
  // tree missing here is proven absent. False when the tree holds folders it could not place (Rock
  // Ridge relocations it could not follow).
  virtual bool placesEveryFolder() const { return true; }

  // Whether names in this tree are the names the user gave (Joliet, UDF), rather than names a maker
  // derived from them (ISO 9660 identifiers, upper-cased and cut short).
  virtual bool keepsGivenNames() const { return true; }
  // Where names this tree keeps may have been cut short or had characters replaced by the maker
  // (Joliet: 64 UTF-16 units, and * / : ; ? and backslash replaced): a name this long or longer is not the
  // whole name. 0 when names are kept whole (UDF).
  virtual size_t givenNameLimit() const { return 0; }
  // Whether a listing of this tree's folders gives long names beside its own (Rock Ridge NM names
  // in the ISO 9660 tree) as TreeEntry::rockRidgeName.
  virtual bool storesLongNames() const { return false; }
  // A length (UTF-16 units) some makers cut this tree's otherwise whole names to: a name of exactly
  // this length may not be whole (genisoimage cuts UDF names as it cuts Joliet names). 0: none.
  virtual size_t cutNameLength() const { return 0; }
  // Whether listFolder reads a descriptor of its own for every entry (UDF's file entries), so that
  // the files of a folder cost a read each; the model then reads them only where names leave a question.
  virtual bool listingReadsEachEntry() const { return false; }
  // How close this tree's names come to the ones the files had before the image was made: a
  // copy takes its names from the tree that ranks highest (UDF, Rock Ridge, Joliet, ISO 9660).
  virtual int nameRank() const = 0;

  // Every folder of the tree, found once when the reader was made: the root first, parents before
  // their children. Records, marks and files come from listings, which read only the folders asked
  // for. Empty when the tree cannot be used.
  virtual const std::vector<TreeFolder>& folders() const = 0;
  // The entries of one folder (an index into folders()), without "." and "..", in directory order.
  virtual Error listFolder(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const = 0;
  // The same entries with no more than their records hold: names, kinds, records, marks and each
  // folder's index. Where a date, a size or a file's data costs reads of its own, it is left out.
  virtual Error listMarks(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const {
    return listFolder(file, folder, out);
  }
  // Reads what listMarks left out of one of its entries (date, size, where a file's data starts).
  virtual Error completeEntry(const ImageFile& file, TreeEntry& entry) const {
    (void)file;
    (void)entry;
    return {};
  }
  // The entries of one folder as a copy needs them: names, kinds, where each file's bytes lie and
  // when it was changed. Every run lies inside the image and no file's runs overlap: an entry
  // whose extents say otherwise carries a problem instead.
  virtual Error listContent(const ImageFile& file, int folder, std::vector<ContentEntry>& out) const = 0;
  // Checks that a record of this tree stands at recordOffset and tells what it holds of the
  // hidden mark.
  virtual Error readHidden(const ImageFile& file, uint64_t recordOffset, HiddenMark& mark) const = 0;
  // The writes that give the record at recordOffset the whole hidden mark (hidden) or no part of
  // it (!hidden), computed from the bytes in the file now; every other bit of the record stays as
  // it is. Checks like readHidden.
  virtual Error planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                           std::vector<BytePatch>& out) const = 0;
};

}  // namespace umbra
