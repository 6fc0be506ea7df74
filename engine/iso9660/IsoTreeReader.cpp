#include "engine/iso9660/IsoTreeReader.h"

#include <algorithm>

#include "engine/io/ImageFile.h"
#include "engine/iso9660/CIsoImage.h"
#include "engine/iso9660/RockRidge.h"

namespace umbra {

using namespace iso;

const TreeKind IsoTreeReader::kIso9660{"iso9660", "ISO 9660"};
const TreeKind IsoTreeReader::kJoliet{"joliet", "Joliet"};

IsoTreeReader::IsoTreeReader(const CIsoImage& image, bool joliet) : m_path(image.Path()), m_joliet(joliet) {
  const uint8_t* vd = joliet ? image.JolietDescriptor() : image.PrimaryDescriptor();
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
  return m_joliet ? jolietToUtf8(identifier) : std::string(identifier);
}

Error IsoTreeReader::readFolders(const ImageFile& file, std::vector<TreeFolder>& out) const {
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
      out[static_cast<size_t>(folder.parent)].children.push_back(static_cast<int>(out.size()));
    }
    // Two folders on one record list would make every walk read it again: a crafted image.
    if (!m_folderByExtent.emplace(extent, static_cast<int>(out.size())).second)
      return makeError(ErrorKind::UnknownFormat, m_path,
                       std::string("Two folders of the ") + kind().label +
                           " tree share one record list; the image is damaged.");
    depth.push_back(folder.parent < 0 ? 0 : depth[static_cast<size_t>(folder.parent)] + 1);
    out.push_back(std::move(folder));
  }
  if (out.empty()) return makeError(ErrorKind::UnknownFormat, m_path, kUnknownFormatMessage);
  if (!m_joliet) {
    // Rock Ridge announces itself with the SUSP marker in the root's own record.
    std::vector<uint8_t> buffer;
    DirectoryWalk walk;
    DirRecord self;
    m_rockRidge = !loadDirectory(file, m_path, static_cast<uint32_t>(out[0].directory), buffer, walk) &&
                  walk.next(self) && hasSuspMarker(self.systemUse);
  }
  return {};
}

Error IsoTreeReader::listFolder(const ImageFile& file, const std::vector<TreeFolder>& folders, int folder,
                                std::vector<TreeEntry>& out) const {
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
    if (continues && count > 0 && r.identifier == lastIdentifier) {  // one file over several extents: one entry
      out[count - 1].size += r.dataLength;
      continues = (r.flags & kFlagMultiExtent) != 0;
      continue;
    }
    continues = (r.flags & kFlagMultiExtent) != 0 && (r.flags & kFlagDirectory) == 0;
    lastIdentifier = r.identifier;
    if (count == out.size()) out.emplace_back();
    TreeEntry& e = out[count++];
    if (m_joliet)
      jolietToUtf8(r.identifier, e.name);
    else
      e.name.assign(r.identifier);
    e.originalName.clear();
    if (m_rockRidge) e.originalName = rockRidgeName(r.systemUse);
    const auto known = m_folderByExtent.find(r.extent);
    e.hidden = r.flags == kHiddenFolderFlags;
    // A hidden folder has lost its Directory bit; its extent still names a folder of the path table.
    e.isFolder = (r.flags & kFlagDirectory) != 0 || (e.hidden && known != m_folderByExtent.end());
    e.folder = e.isFolder && known != m_folderByExtent.end() ? known->second : -1;
    e.dataSector = r.extent;
    e.size = r.dataLength;
    e.date = {static_cast<uint16_t>(1900 + r.date[0]), r.date[1], r.date[2], r.date[3], r.date[4]};
    e.recordOffsets.assign(1, r.offset);
  }
  out.resize(count);
  if (!error && walk.damaged())
    error = makeError(ErrorKind::UnknownFormat, m_path, "A folder's record list is damaged; it is shown only in part.");
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

Error IsoTreeReader::listContent(const ImageFile& file, const std::vector<TreeFolder>& folders, int folder,
                                 std::vector<ContentEntry>& out) const {
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
    const RockRidgeFacts facts = m_rockRidge ? rockRidgeFacts(r.systemUse) : RockRidgeFacts{};
    if (facts.relocated) continue;  // listed where its placeholder stands
    ContentEntry& e = out.emplace_back();
    e.recordOffsets.assign(1, r.offset);
    if (m_rockRidge) e.name = rockRidgeName(r.systemUse);
    if (e.name.empty()) e.name = withoutVersion(m_joliet ? jolietToUtf8(r.identifier) : std::string(r.identifier), m_joliet);
    e.hasModified = true;
    e.modified = facts.hasModified ? facts.modified : recordDateSeconds(r.date);
    const auto known = m_folderByExtent.find(facts.childLink ? facts.childLink : r.extent);
    // A hidden folder may have lost its Directory bit; its extent still names a folder of the path table.
    const bool hiddenMark = (r.flags & kHiddenFolderFlags) == kHiddenFolderFlags;
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
    return makeError(ErrorKind::UnknownFormat, m_path, "A folder's record list is damaged; it is shown only in part.");
  return {};
}

Error IsoTreeReader::readHidden(const ImageFile& file, uint64_t recordOffset, bool& hidden) const {
  uint8_t flags = 0;
  if (Error e = readRecordFlags(file, m_path, recordOffset, flags)) return e;
  hidden = flags == kHiddenFolderFlags;
  return {};
}

Error IsoTreeReader::planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                                std::vector<BytePatch>& out) const {
  uint8_t flags = 0;
  if (Error e = readRecordFlags(file, m_path, recordOffset, flags)) return e;
  // Whole values, never single bits: a hidden folder is 5, a shown one a plain directory, 2.
  out.push_back({recordOffset + kDrFlags, {hidden ? kHiddenFolderFlags : kShownFolderFlags}});
  return {};
}

}  // namespace umbra
