#include "engine/iso9660/IsoTreeReader.h"

#include <algorithm>
#include <cctype>

#include "base/Utf16.h"
#include "engine/io/ImageFile.h"
#include "engine/iso9660/CIsoImage.h"
#include "engine/iso9660/RockRidge.h"

namespace umbra {

using namespace iso;

namespace {
// Joliet identifiers are UCS-2 (UTF-16 on newer makers), big-endian.
std::string jolietName(std::string_view identifier) {
  return utf16ToUtf8(identifier.data(), identifier.size(), ByteOrder::BigEndian);
}
}  // namespace

const TreeKind IsoTreeReader::kIso9660{"iso9660", "ISO 9660"};
const TreeKind IsoTreeReader::kJoliet{"joliet", "Joliet"};

IsoTreeReader::IsoTreeReader(const CIsoImage& image, bool joliet) : m_path(image.path()), m_joliet(joliet) {
  const uint8_t* vd = joliet ? image.jolietDescriptor() : image.primaryDescriptor();
  m_pathTableSize = readLe32(vd + kVdPathTableSize);
  m_pathTableSector = readLe32(vd + kVdPathTableL);
  m_escape = vd[kVdEscapeSequences + 2];
}

std::string IsoTreeReader::description() const {
  if (!m_joliet) return m_rockRidge ? "ISO 9660 with Rock Ridge names" : "ISO 9660";
  return std::string("Joliet (UCS-2 level ") + (m_escape == '@' ? "1" : m_escape == 'C' ? "2" : "3") + ")";
}

bool IsoTreeReader::keepsGivenNames() const { return m_joliet; }

std::string IsoTreeReader::nameOf(std::string_view identifier) const {
  return m_joliet ? jolietName(identifier) : std::string(identifier);
}

Error IsoTreeReader::open(const CIsoImage& image, bool joliet, std::unique_ptr<TreeReader>& out) {
  out.reset();
  if (joliet && !image.hasJoliet()) return {};
  std::unique_ptr<IsoTreeReader> reader(new IsoTreeReader(image, joliet));
  Error e = reader->readFolders(image.file());
  out = std::move(reader);
  return e;
}

Error IsoTreeReader::readFolders(const ImageFile& file) {
  std::vector<TreeFolder>& out = m_folders;
  out.clear();
  m_folderByExtent.clear();
  const uint64_t offset = sectorOffset(m_pathTableSector);
  if (m_pathTableSize > kMaxPathTableSize || offset + m_pathTableSize > file.size())
    return makeError(ErrorKind::Truncated, m_path, "The path table lies outside the image.");
  std::vector<uint8_t> table(m_pathTableSize);
  size_t got = 0;
  if (!file.readAt(offset, table.data(), table.size(), got))
    return makeError(ErrorKind::Io, m_path, "Cannot read the path table: " + ImageFile::lastErrorText());
  if (got != table.size()) return makeError(ErrorKind::Truncated, m_path, "The path table is cut short.");

  out.reserve(table.size() / 12);  // records are 10 to 16 bytes as a rule
  m_folderByExtent.reserve(table.size() / 12);
  std::vector<int> depth;
  size_t pos = 0;
  // Records run until the table ends or a record of zero length pads it out.
  while (pos + kPtHeadLength <= table.size()) {
    const uint8_t* record = table.data() + pos;
    const uint8_t nameLength = record[kPtNameLength];
    if (nameLength == 0 || pos + kPtHeadLength + nameLength > table.size()) break;
    pos += kPtHeadLength + nameLength + (nameLength & 1);
    const uint32_t number = static_cast<uint32_t>(out.size()) + 1;
    const uint32_t extent = readLe32(record + kPtExtent);
    TreeFolder folder;
    folder.directory = extent;
    if (number > 1) {
      const uint32_t parent = readLe16(record + kPtParent);
      if (parent == 0 || parent >= number) return makeError(ErrorKind::UnknownFormat, m_path, kUnknownFormatMessage);
      folder.parent = static_cast<int>(parent - 1);
      if (depth[static_cast<size_t>(folder.parent)] >= static_cast<int>(kMaxFolderDepth))
        return makeError(ErrorKind::UnknownFormat, m_path, kUnknownFormatMessage);
      folder.name = nameOf(std::string_view(reinterpret_cast<const char*>(record + kPtName), nameLength));
    }
    // Two folders on one record list would make every walk read it again: a crafted image.
    if (!m_folderByExtent.emplace(extent, static_cast<int>(out.size())).second)
      return makeError(
          ErrorKind::Damaged, m_path,
          std::string("Two folders of the ") + kind().label + " tree share one record list; the image is damaged.");
    // Only a folder that is kept becomes its parent's child: a refused one leaves no index behind.
    if (folder.parent >= 0) out[static_cast<size_t>(folder.parent)].children.push_back(static_cast<int>(out.size()));
    depth.push_back(folder.parent < 0 ? 0 : depth[static_cast<size_t>(folder.parent)] + 1);
    out.push_back(std::move(folder));
  }
  if (out.empty()) return makeError(ErrorKind::UnknownFormat, m_path, kUnknownFormatMessage);
  m_placeholders.clear();
  m_movedRecords.clear();
  m_unfollowedRelocation = false;
  if (!m_joliet) {
    // Rock Ridge announces itself with the SUSP marker in the root's own record.
    std::vector<uint8_t> buffer;
    DirectoryWalk walk;
    DirRecord self;
    m_rockRidge = !loadDirectory(file, m_path, static_cast<uint32_t>(out[0].directory), buffer, walk) &&
                  walk.next(self) && hasSuspMarker(self.systemUse);
    if (m_rockRidge) return followRelocations(file, out, depth);
  }
  return {};
}

// Makers move a folder that would stand deeper than ISO 9660's eight levels, so placeholders stand
// in folders seven levels below the root (the eighth level), which can hold no folder of their own.
// Only those folders are read; a placeholder elsewhere stays a file, and its moved folder in
// RR_MOVED keeps this tree from proving any folder absent.
struct IsoTreeReader::RelocationScan {
  struct Link {  // a placeholder (Rock Ridge CL) and the folder it leads to
    int parent, folder;
    uint64_t record;
    std::string identifier;
  };
  struct Moved {  // a moved folder's record in the folder that holds moved folders (Rock Ridge RE)
    uint64_t offset = 0;
    uint32_t length = 0;
    bool relocated = false;
  };
  std::vector<Link> links;
  std::unordered_map<int, std::unordered_map<uint32_t, Moved>> holders;  // holder folder -> extent -> record
  std::vector<int> parentOf;          // each folder's parent once the moved ones stand at their placeholders
  std::vector<const Link*> linkOf;    // the link that leads to each folder, if one does
};

Error IsoTreeReader::damaged(const char* why) const {
  return makeError(ErrorKind::Damaged, m_path, std::string(why) + " The image is damaged.");
}

Error IsoTreeReader::followRelocations(const ImageFile& file, std::vector<TreeFolder>& folders,
                                       const std::vector<int>& depth) {
  RelocationScan scan;
  if (Error e = findPlaceholders(file, folders, depth, scan)) return e;
  if (Error e = findMovedRecords(file, folders, scan)) return e;
  if (scan.links.empty()) return {};
  return placeMovedFolders(folders, scan);
}

Error IsoTreeReader::findPlaceholders(const ImageFile& file, const std::vector<TreeFolder>& folders,
                                      const std::vector<int>& depth, RelocationScan& scan) const {
  constexpr int kPlaceholderDepth = 7;
  std::vector<uint8_t> buffer;
  DirectoryWalk walk;
  DirRecord r;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (depth[i] < kPlaceholderDepth) continue;
    // A folder that cannot be read is reported by its listing.
    if (loadDirectory(file, m_path, static_cast<uint32_t>(folders[i].directory), buffer, walk)) continue;
    while (walk.next(r)) {
      if (r.isSelf() || r.isParent() || (r.flags & kFlagDirectory)) continue;
      const RockRidgeEntries rr = readRockRidge(r.systemUse, &file);
      if (!rr.childLink) continue;
      const auto target = m_folderByExtent.find(rr.childSector);
      if (target == m_folderByExtent.end() || target->second == 0)
        return damaged("A Rock Ridge placeholder in the ISO 9660 tree points to no folder of the tree.");
      scan.links.push_back({static_cast<int>(i), target->second, r.offset, std::string(r.identifier)});
    }
  }
  return {};
}

Error IsoTreeReader::findMovedRecords(const ImageFile& file, const std::vector<TreeFolder>& folders,
                                      RelocationScan& scan) {
  std::vector<uint8_t> buffer;
  DirectoryWalk walk;
  DirRecord r;
  scan.parentOf.resize(folders.size());
  for (size_t i = 0; i < folders.size(); ++i) scan.parentOf[i] = folders[i].parent;
  scan.linkOf.assign(folders.size(), nullptr);
  for (const RelocationScan::Link& link : scan.links) {
    const int holder = folders[static_cast<size_t>(link.folder)].parent;
    auto [records, fresh] = scan.holders.try_emplace(holder);
    if (fresh && !loadDirectory(file, m_path, static_cast<uint32_t>(folders[static_cast<size_t>(holder)].directory),
                                buffer, walk)) {
      while (walk.next(r))
        if (!r.isSelf() && !r.isParent())
          records->second[r.extent] = {r.offset, r.dataLength, readRockRidge(r.systemUse, &file).relocated};
    }
    const auto moved = records->second.find(static_cast<uint32_t>(folders[static_cast<size_t>(link.folder)].directory));
    if (moved == records->second.end())
      return damaged("A relocated folder of the ISO 9660 tree has no record where it was moved to.");
    if (scan.linkOf[static_cast<size_t>(link.folder)])
      return damaged("Two Rock Ridge placeholders in the ISO 9660 tree point to one folder.");
    scan.linkOf[static_cast<size_t>(link.folder)] = &link;
    scan.parentOf[static_cast<size_t>(link.folder)] = link.parent;
  }
  // A moved record no placeholder leads to, or a folder of moved folders whose folders were not all
  // followed, leaves folders this tree cannot place: no folder is then proven absent from it.
  for (const auto& [holder, records] : scan.holders)
    for (const auto& [extent, record] : records) {
      const auto folder = m_folderByExtent.find(extent);
      if (record.relocated && (folder == m_folderByExtent.end() || !scan.linkOf[static_cast<size_t>(folder->second)]))
        m_unfollowedRelocation = true;
    }
  for (int child : folders[0].children) {
    std::string name = folders[static_cast<size_t>(child)].name;
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name != "RR_MOVED" && name != ".RR_MOVED" && name != "_RR_MOVED") continue;
    for (int moved : folders[static_cast<size_t>(child)].children)
      if (!scan.linkOf[static_cast<size_t>(moved)]) m_unfollowedRelocation = true;
  }
  return {};
}

Error IsoTreeReader::placeMovedFolders(std::vector<TreeFolder>& folders, RelocationScan& scan) {
  // The logical tree, walked from the root: a folder it does not reach stands in a loop.
  std::vector<std::vector<int>> children(folders.size());
  for (size_t i = 1; i < folders.size(); ++i)
    children[static_cast<size_t>(scan.parentOf[i])].push_back(static_cast<int>(i));
  std::vector<int> order{0}, newIndex(folders.size(), -1), level(folders.size(), 0);
  newIndex[0] = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    const int folder = order[k];
    for (int child : children[static_cast<size_t>(folder)]) {
      if (newIndex[static_cast<size_t>(child)] >= 0) continue;
      level[static_cast<size_t>(child)] = level[static_cast<size_t>(folder)] + 1;
      if (level[static_cast<size_t>(child)] > static_cast<int>(kMaxFolderDepth))
        return damaged("Rock Ridge relocations in the ISO 9660 tree nest too deep.");
      newIndex[static_cast<size_t>(child)] = static_cast<int>(order.size());
      order.push_back(child);
    }
  }
  if (order.size() != folders.size()) return damaged("Rock Ridge relocations in the ISO 9660 tree form a loop.");

  // Every link holds: the placeholders and moved records are known by their new numbers.
  for (const RelocationScan::Link& link : scan.links) {
    const TreeFolder& target = folders[static_cast<size_t>(link.folder)];
    const RelocationScan::Moved& moved = scan.holders[target.parent][static_cast<uint32_t>(target.directory)];
    const int folder = newIndex[static_cast<size_t>(link.folder)];
    m_placeholders[link.record] = {folder, moved.offset, moved.length, target.name};
    m_movedRecords[moved.offset] = folder;
  }
  std::vector<TreeFolder> placed(folders.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const auto old = static_cast<size_t>(order[k]);
    TreeFolder& f = placed[k];
    f = std::move(folders[old]);
    f.parent = scan.parentOf[old] < 0 ? -1 : newIndex[static_cast<size_t>(scan.parentOf[old])];
    f.children.clear();
    for (int child : children[old]) f.children.push_back(newIndex[static_cast<size_t>(child)]);
    if (const RelocationScan::Link* link = scan.linkOf[old]) f.name = nameOf(link->identifier);
    m_folderByExtent[static_cast<uint32_t>(f.directory)] = static_cast<int>(k);
  }
  for (const auto& [holder, records] : scan.holders)
    placed[static_cast<size_t>(newIndex[static_cast<size_t>(holder)])].holdsRelocated = true;
  folders = std::move(placed);
  return {};
}

Error IsoTreeReader::listFolder(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const {
  const std::vector<TreeFolder>& folders = m_folders;
  // Entries are reused from one listing to the next: a listing of every folder then allocates little.
  size_t count = 0;
  thread_local std::vector<uint8_t> buffer;
  DirectoryWalk walk;
  Error error;
  if (folder < 0 || static_cast<size_t>(folder) >= folders.size())
    error = makeError(ErrorKind::PathNotFound, m_path, "No such folder.");
  else
    error = loadDirectory(file, m_path, static_cast<uint32_t>(folders[static_cast<size_t>(folder)].directory), buffer,
                          walk);
  DirRecord r;
  bool continues = false;  // the last file goes on in the next record of the same name
  std::string_view lastIdentifier;
  while (!error && walk.next(r)) {
    if (r.isSelf() || r.isParent()) continue;
    // A moved folder is listed where its placeholder stands, as Rock Ridge readers list it.
    if (!m_movedRecords.empty() && m_movedRecords.count(r.offset)) continue;
    if (continues && count > 0 && r.identifier == lastIdentifier) {  // one file over several extents: one entry
      TreeEntry& whole = out[count - 1];
      whole.size += r.dataLength;
      // Each extent's record carries the flags: hiding the file marks every one.
      if (whole.recordMarks.empty()) whole.recordMarks.assign(whole.recordOffsets.size(), whole.mark);
      whole.recordOffsets.push_back(r.offset);
      whole.recordMarks.push_back(markOf(r.flags));
      continues = (r.flags & kFlagMultiExtent) != 0;
      continue;
    }
    continues = (r.flags & kFlagMultiExtent) != 0 && (r.flags & kFlagDirectory) == 0;
    lastIdentifier = r.identifier;
    if (count == out.size()) out.emplace_back();
    TreeEntry& e = out[count++];
    if (m_joliet)
      utf16ToUtf8(r.identifier.data(), r.identifier.size(), ByteOrder::BigEndian, e.name);
    else
      e.name.assign(r.identifier);
    e.rockRidgeName.clear();
    if (m_rockRidge) e.rockRidgeName = readRockRidge(r.systemUse, &file).name;
    const auto known = m_folderByExtent.find(r.extent);
    e.mark = markOf(r.flags);
    // A folder hidden with 5 has lost its Directory bit; its extent still names a folder of the path
    // table (a hidden file's may name any extent, but a file of no bytes is no folder).
    e.isFolder = (r.flags & kFlagDirectory) != 0 ||
                 (e.mark == HiddenMark::Hidden && r.dataLength > 0 && known != m_folderByExtent.end());
    e.folder = e.isFolder && known != m_folderByExtent.end() ? known->second : -1;
    e.dataSector = r.extent;
    e.size = r.dataLength;
    e.date = {static_cast<uint16_t>(1900 + r.date[0]), r.date[1], r.date[2], r.date[3], r.date[4]};
    e.date.second = r.date[5];
    // The offset from UTC in 15-minute steps, from -48 (west) to +52 (east).
    const auto quarters = static_cast<int8_t>(r.date[6]);
    e.date.hasOffset = quarters >= -48 && quarters <= 52;
    e.date.offsetMinutes = static_cast<int16_t>(e.date.hasOffset ? quarters * 15 : 0);
    e.recordOffsets.assign(1, r.offset);
    e.recordMarks.clear();
    e.recordNames.clear();
    if (!m_placeholders.empty())
      if (const auto placeholder = m_placeholders.find(r.offset); placeholder != m_placeholders.end()) {
        // The placeholder is a file record whose Directory bit stays clear; its moved record is the
        // folder's other copy.
        const Relocation& moved = placeholder->second;
        uint8_t movedFlags = 0;
        if (Error bad = readRecordFlags(file, m_path, moved.movedRecord, movedFlags)) {
          error = bad;
          --count;
          break;
        }
        e.isFolder = true;
        e.folder = moved.folder;
        e.size = moved.movedLength;
        e.dataSector = 0;
        e.recordOffsets.push_back(moved.movedRecord);
        e.recordNames = {e.name, moved.movedName};
        e.recordMarks = {e.mark, markOf(movedFlags)};
        if (e.recordMarks[1] != e.mark) e.mark = HiddenMark::Partial;
      }
  }
  out.resize(count);
  if (!error && walk.damaged())
    error = makeError(ErrorKind::Damaged, m_path, "A folder's record list is damaged; it is shown only in part.");
  return error;
}

namespace {
// An identifier as a file name: without its version (";1") and, in the ISO 9660 tree, the dot a
// maker adds to a name without extension ("README.;1").
std::string withoutVersion(std::string name, bool joliet) {
  if (const size_t semicolon = name.rfind(';'); semicolon != std::string::npos) name.resize(semicolon);
  if (!joliet && name.size() > 1 && name.back() == '.' && name.find_first_not_of('.') != std::string::npos)
    name.pop_back();
  return name;
}
}  // namespace

Error IsoTreeReader::listContent(const ImageFile& file, int folder, std::vector<ContentEntry>& out) const {
  const std::vector<TreeFolder>& folders = m_folders;
  out.clear();
  if (folder < 0 || static_cast<size_t>(folder) >= folders.size())
    return makeError(ErrorKind::PathNotFound, m_path, "No such folder.");
  std::vector<uint8_t> buffer;
  DirectoryWalk walk;
  if (Error e = loadDirectory(file, m_path, static_cast<uint32_t>(folders[static_cast<size_t>(folder)].directory),
                              buffer, walk))
    return e;
  DirRecord r;
  bool continues = false;  // the last entry's final record is still to come
  std::string lastIdentifier;
  while (walk.next(r)) {
    if (r.isSelf() || r.isParent()) continue;
    const uint64_t start = sectorOffset(r.extent) + uint64_t{r.extendedAttributes} * kSectorSize;
    if (continues && r.identifier == lastIdentifier) {  // the next part of a file over several extents
      ContentEntry& e = out.back();
      if (r.dataLength > 0) e.runs.push_back({start, r.dataLength, false});
      e.size += r.dataLength;
      e.recordOffsets.push_back(r.offset);
      continues = (r.flags & kFlagMultiExtent) != 0;
      continue;
    }
    if (continues) out.back().problem = "its last extent is missing";
    const RockRidgeEntries facts = m_rockRidge ? readRockRidge(r.systemUse, &file) : RockRidgeEntries{};
    if (facts.relocated) continue;  // listed where its placeholder stands
    ContentEntry& e = out.emplace_back();
    e.recordOffsets.assign(1, r.offset);
    e.name = facts.name;
    if (e.name.empty()) e.name = withoutVersion(m_joliet ? jolietName(r.identifier) : std::string(r.identifier), m_joliet);
    e.hasModified = true;
    e.modified = facts.hasModified ? facts.modified : recordDateSeconds(r.date);
    const auto known = m_folderByExtent.find(facts.childLink ? facts.childSector : r.extent);
    // A hidden folder may have lost its Directory bit; its extent still names a folder of the path table.
    const bool hiddenMark = (r.flags & kHiddenMarkBits) == kHiddenMarkBits;
    if ((r.flags & kFlagDirectory) || facts.childLink || (hiddenMark && known != m_folderByExtent.end())) {
      e.kind = ContentEntry::Kind::Folder;
      e.folder = known != m_folderByExtent.end() ? known->second : -1;
      continues = false;
      continue;
    }
    if (facts.link) {
      e.kind = ContentEntry::Kind::Link;
      e.linkTarget = facts.linkTarget;
      if (e.linkTarget.empty()) e.problem = "its link target is cut short";
      continues = false;
      continue;
    }
    e.size = r.dataLength;
    if (r.dataLength > 0) e.runs.push_back({start, r.dataLength, false});  // an empty file may name any extent
    if (r.interleaved) e.problem = "it is recorded interleaved, which is not supported";
    continues = (r.flags & kFlagMultiExtent) != 0;
    lastIdentifier.assign(r.identifier);
  }
  if (continues) out.back().problem = "its last extent is missing";
  for (ContentEntry& e : out)
    if (e.kind == ContentEntry::Kind::File && e.problem.empty()) e.problem = runsProblem(e.runs, file.size());
  if (walk.damaged())
    return makeError(ErrorKind::Damaged, m_path, "A folder's record list is damaged; it is shown only in part.");
  return {};
}

HiddenMark IsoTreeReader::markOf(uint8_t flags) {
  const uint8_t mark = flags & kHiddenMarkBits;
  if (mark == kHiddenMarkBits) return HiddenMark::Hidden;
  return mark ? HiddenMark::Partial : HiddenMark::None;
}

Error IsoTreeReader::readHidden(const ImageFile& file, uint64_t recordOffset, HiddenMark& mark) const {
  uint8_t flags = 0;
  if (Error e = readRecordFlags(file, m_path, recordOffset, flags)) return e;
  mark = markOf(flags);
  return {};
}

Error IsoTreeReader::planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                                std::vector<BytePatch>& out) const {
  uint8_t flags = 0;
  uint32_t extent = 0, dataLength = 0;
  if (Error e = readRecordFlags(file, m_path, recordOffset, flags, &extent, &dataLength)) return e;
  // A placeholder is a file record for readers without Rock Ridge: its Directory bit stays clear. A
  // folder hidden with 5 lost its Directory bit: its extent names a folder, and it holds bytes.
  const bool folder = !m_placeholders.count(recordOffset) &&
                      ((flags & kFlagDirectory) || ((flags & kHiddenMarkBits) == kHiddenMarkBits && dataLength > 0 &&
                                                    m_folderByExtent.count(extent)));
  out.push_back({recordOffset + kDrFlags, {hidden ? withHiddenMark(flags, folder) : withoutHiddenMark(flags, folder)}});
  return {};
}

}  // namespace umbra
