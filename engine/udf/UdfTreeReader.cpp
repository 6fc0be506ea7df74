#include "engine/udf/UdfTreeReader.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <set>

#include "engine/udf/UdfAnchor.h"
#include "engine/udf/UdfNames.h"
#include "engine/udf/UdfTag.h"
#include "engine/udf/UdfVolumeDescriptors.h"

namespace umbra {

std::unique_ptr<TreeReader> findUdfTree(const ImageFile& file) { return udf::UdfTreeReader::open(file); }

namespace udf {

namespace {

// Caps on the work one image can cause, whatever its descriptors claim.
constexpr size_t kMaxFolders = 1u << 20;
constexpr uint64_t kMaxEntries = 1u << 21;
constexpr uint64_t kMaxDirectoryBytes = 64u << 20;
constexpr uint64_t kMaxTotalDirectoryBytes = 256u << 20;

constexpr size_t kRootIcbOffset = 400;
// The bytes of an identifier a change of its characteristics touches: checksum to characteristics.
constexpr uint32_t kPatchFirst = kTagChecksumOffset;
constexpr uint32_t kPatchEnd = FileIdentifier::kCharacteristicsOffset + 1;

uint64_t handleOf(uint16_t ref, uint32_t block) { return uint64_t{ref} << 32 | block; }
uint16_t refOf(uint64_t handle) { return static_cast<uint16_t>(handle >> 32); }
uint32_t blockOf(uint64_t handle) { return static_cast<uint32_t>(handle); }

std::string revisionText(uint16_t revision) {
  if (revision == 0) return "UDF";
  char text[16];
  std::snprintf(text, sizeof text, "UDF %x.%02x", revision >> 8, revision & 0xFF);
  return text;
}

Error notFound(uint64_t offset) {
  return makeError(ErrorKind::UnknownFormat, {},
                   "No UDF folder record stands at offset " + std::to_string(offset) + ".");
}

}  // namespace

std::unique_ptr<UdfTreeReader> UdfTreeReader::open(const ImageFile& file) {
  if (UdfAnchor::recognitionVersion(file) == 0) return nullptr;
  std::unique_ptr<UdfTreeReader> reader(new UdfTreeReader);
  if (Error e = reader->load(file)) {
    reader->m_problem = e.reason;
    reader->m_folders.clear();
    reader->m_folderRecords.clear();
    reader->m_directories.clear();
    reader->m_records.clear();
  }
  return reader;
}

const TreeKind& UdfTreeReader::kind() const {
  static const TreeKind udfKind{"udf", "UDF"};
  return udfKind;
}

Error UdfTreeReader::load(const ImageFile& file) {
  UdfAnchor anchor;
  if (Error e = anchor.read(file)) return e;
  UdfVolumeDescriptors descriptors;
  if (Error e = descriptors.read(file, anchor)) return e;
  m_description = revisionText(descriptors.revision());
  if (!descriptors.unsupported().empty())
    return makeError(ErrorKind::UnknownFormat, {},
                     "The UDF tree's layout is not supported: " + descriptors.unsupported() + ".");
  m_partitions = descriptors.partitions();
  if (Error e = m_partitions.resolve(file)) return e;

  const LongAd& fileSet = descriptors.fileSet();
  BlockCopies copies;
  uint8_t fsd[512];
  if (!m_partitions.blockCopies(fileSet.ref, fileSet.block, copies)) return damaged("the file set lies outside the volume");
  if (!readExact(file, copies.sector[0] * kBlockSize, fsd, sizeof fsd))
    return damaged("the file set lies past the end of the image");
  std::string why;
  if (!checkTag(fsd, sizeof fsd, kTagFileSet, fileSet.block, "the file set descriptor", why)) return damaged(why);
  m_root = handleOf(readLe16(fsd + kRootIcbOffset + 8), readLe32(fsd + kRootIcbOffset + 4));
  return walk(file);
}

Error UdfTreeReader::walk(const ImageFile& file) {
  m_folders.assign(1, TreeFolder{});
  m_folderRecords.assign(1, FolderRecord{});
  m_directories.clear();
  m_directoryBlocks.clear();
  m_folders[0].directory = m_root;
  std::set<uint64_t> seen{m_root};
  uint64_t entries = 0, directoryBytes = 0;
  std::vector<FileIdentifier> fids;
  // A subfolder found in a directory, numbered once its whole level has been read.
  struct Found {
    std::string name;
    uint64_t handle = 0;
    FolderRecord record;
  };
  std::vector<std::vector<Found>> found;
  std::vector<size_t> order;
  // Level by level: the folders of a level are read in the order they lie, so that each read goes
  // on where the one before ended (the names' order jumps about the disc); their subfolders are
  // then numbered parent by parent, in the order of the identifiers, as a walk in name order would.
  const ImageFile::ReadThroughGaps gaps(file, 2048);
  for (size_t first = 0; first < m_folders.size();) {
    const size_t end = m_folders.size();
    order.resize(end - first);
    std::iota(order.begin(), order.end(), first);
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return m_folders[a].directory < m_folders[b].directory; });
    found.assign(end - first, {});
    m_directories.resize(end);
    for (const size_t i : order) {
      UdfFileEntry entry;
      if (Error e = entry.read(file, m_partitions, refOf(m_folders[i].directory), blockOf(m_folders[i].directory)))
        return e;
      if (!entry.isDirectory())
        return damaged("the folder at block " + std::to_string(entry.block()) + " is not a directory");
      UdfDirectory& directory = m_directories[i];
      if (Error e = directory.read(file, m_partitions, entry, kMaxDirectoryBytes)) return e;
      directoryBytes += entry.informationLength();
      if (directoryBytes > kMaxTotalDirectoryBytes) return damaged("its directories are too large");
      if (Error e = directory.identifiers(fids, true)) return e;
      for (const uint64_t sector : directory.sectors()) m_directoryBlocks[sector] = static_cast<int>(i);
      for (const FileIdentifier& fid : fids) {
        if (!fid.listed()) continue;
        if (++entries > kMaxEntries) return damaged("it holds too many entries");
        if (!fid.isDirectory()) continue;
        Found& child = found[i - first].emplace_back();
        child.name = fid.name;
        child.handle = handleOf(fid.icbRef, fid.icbBlock);
        FolderRecord& record = child.record;
        record.streamOffset = fid.streamOffset;
        record.length = fid.length;
        record.tagBlock = directory.tagBlock(fid.streamOffset);
        record.inParentEntry = entry.embedded();
        std::vector<uint64_t> offsets;
        for (int copy = 0; copy < directory.copyCount(); ++copy) {
          std::vector<ImageRun> runs;
          if (!directory.imageRuns(fid.streamOffset, fid.length, copy, runs))
            return damaged("the identifier of \"" + fid.name + "\" is cut short");
          // Copies that share their bytes are one record.
          if (std::find(offsets.begin(), offsets.end(), runs[0].first) != offsets.end()) continue;
          offsets.push_back(runs[0].first);
          record.copies.push_back(std::move(runs));
        }
      }
      directory.dropBytes();
    }
    for (size_t i = first; i < end; ++i) {
      for (Found& child : found[i - first]) {
        if (!seen.insert(child.handle).second) return damaged("the folder \"" + child.name + "\" is reached twice");
        if (m_folders.size() >= kMaxFolders) return damaged("it holds too many folders");
        const int index = static_cast<int>(m_folders.size());
        for (size_t copy = 0; copy < child.record.copies.size(); ++copy)
          m_records[child.record.copies[copy][0].first] = {index, static_cast<int>(copy)};
        TreeFolder folder;
        folder.parent = static_cast<int>(i);
        folder.name = std::move(child.name);
        folder.directory = child.handle;
        m_folders.push_back(std::move(folder));
        m_folderRecords.push_back(std::move(child.record));
        m_folders[i].children.push_back(index);
      }
    }
    first = end;
  }
  return {};
}

Error UdfTreeReader::listFolder(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const {
  return list(file, folder, true, out);
}

Error UdfTreeReader::listMarks(const ImageFile& file, int folder, std::vector<TreeEntry>& out) const {
  return list(file, folder, false, out);
}

Error UdfTreeReader::list(const ImageFile& file, int folder, bool withEntries, std::vector<TreeEntry>& out) const {
  const std::vector<TreeFolder>& folders = m_folders;
  out.clear();
  if (!m_problem.empty()) return makeError(ErrorKind::UnknownFormat, {}, m_problem);
  if (folder < 0 || static_cast<size_t>(folder) >= folders.size())
    return makeError(ErrorKind::PathNotFound, {}, "No such UDF folder.");
  // Where the folder's identifiers lie is known from the walk: its entry is not read again.
  UdfDirectory directory = m_directories[static_cast<size_t>(folder)];
  if (Error e = directory.rereadBytes(file)) return e;
  std::vector<FileIdentifier> fids;
  if (Error e = directory.identifiers(fids)) return e;
  UdfFileEntry child;  // one for every entry: its buffers are reused
  for (const FileIdentifier& fid : fids) {
    if (!fid.listed()) continue;
    TreeEntry row;
    row.name = fid.name;
    row.isFolder = fid.isDirectory();
    row.mark = fid.isHidden() ? HiddenMark::Hidden : HiddenMark::None;
    row.recordOffsets = directory.recordOffsets(fid);
    row.entryHandle = handleOf(fid.icbRef, fid.icbBlock);
    if (withEntries) {
      if (Error e = child.read(file, m_partitions, fid.icbRef, fid.icbBlock)) return e;
      row.date = child.modified();
    }
    if (row.isFolder) {
      // The folder the walk found at this record, when it still leads to the same entry.
      if (const auto found = row.recordOffsets.empty() ? m_records.end() : m_records.find(row.recordOffsets[0]);
          found != m_records.end() && found->second.second == 0) {
        const TreeFolder& walked = folders[static_cast<size_t>(found->second.first)];
        if (walked.parent == folder && walked.directory == handleOf(fid.icbRef, fid.icbBlock)) row.folder = found->second.first;
      }
    } else if (withEntries) {
      row.dataSector = child.embedded() ? 0 : child.firstDataSector(m_partitions);
      row.size = child.informationLength();
    }
    out.push_back(std::move(row));
  }
  return {};
}

Error UdfTreeReader::completeEntry(const ImageFile& file, TreeEntry& entry) const {
  UdfFileEntry child;
  if (Error e = child.read(file, m_partitions, refOf(entry.entryHandle), blockOf(entry.entryHandle))) return e;
  entry.date = child.modified();
  if (!entry.isFolder) {
    entry.dataSector = child.embedded() ? 0 : child.firstDataSector(m_partitions);
    entry.size = child.informationLength();
  }
  return {};
}

namespace {
constexpr uint8_t kSymlinkType = 12;
constexpr size_t kFileEntryModified = 84, kExtendedModified = 92;
constexpr int kUnspecifiedZone = -2047;
// Path component types of a symbolic link's data.
constexpr uint8_t kComponentRoot = 1, kComponentRootAlias = 2, kComponentParent = 3, kComponentCurrent = 4,
                  kComponentNamed = 5;

// A 12-byte timestamp: its zone in minutes (12 bits, signed) and the civil time.
int64_t timestampSeconds(const uint8_t* t) {
  const uint16_t typeAndZone = readLe16(t);
  int zone = typeAndZone & 0x0FFF;
  if (zone & 0x0800) zone -= 0x1000;
  if ((typeAndZone >> 12) != 1 || zone == kUnspecifiedZone) zone = 0;
  return secondsSinceEpoch(readLe16(t + 2), t[4], t[5], t[6], t[7], t[8]) - int64_t{zone} * 60;
}

// A symbolic link's data as a path; empty when a component is damaged.
std::string linkTarget(const std::vector<uint8_t>& data) {
  std::string target;
  size_t pos = 0;
  while (pos + 4 <= data.size()) {
    const uint8_t type = data[pos];
    const size_t length = data[pos + 1];
    if (pos + 4 + length > data.size()) return {};
    if (!target.empty() && target.back() != '/') target += '/';
    if (type == kComponentRoot || type == kComponentRootAlias)
      target = "/";
    else if (type == kComponentParent)
      target += "..";
    else if (type == kComponentCurrent)
      target += ".";
    else if (type == kComponentNamed && length > 1) {
      std::string name;
      if (!decodeDCharacters(data.data() + pos + 4, length, name)) return {};
      target += name;
    } else {
      return {};
    }
    pos += 4 + length;
  }
  return target;
}
}  // namespace

void UdfTreeReader::describe(const ImageFile& file, const UdfFileEntry& entry, ContentEntry& out) const {
  out.hasModified = true;
  out.modified = timestampSeconds(entry.bytes().data() + (entry.extended() ? kExtendedModified : kFileEntryModified));
  out.size = entry.informationLength();
  if (entry.embedded()) {
    if (out.size > 0) out.runs.push_back({entry.copies().sector[0] * kBlockSize + entry.embeddedOffset(), out.size, false});
  } else {
    uint64_t placed = 0, recorded = 0;
    for (const AllocationExtent& extent : entry.extents()) {
      if (placed >= out.size) break;
      const uint64_t length = std::min<uint64_t>(extent.length, out.size - placed);
      placed += length;
      if (extent.type != AllocationExtent::kRecorded) {
        out.runs.push_back({0, length, true});
        continue;
      }
      recorded += length;
      if (recorded > file.size()) {  // more than the image holds: extents past its end, or repeated
        out.problem = "its data lies past the end of the image";
        return;
      }
      // Block by block, joining neighbours: a partition maps blocks to sectors one at a time.
      const uint64_t blocks = (length + kBlockSize - 1) / kBlockSize;
      uint64_t left = length;
      for (uint64_t b = 0; b < blocks; ++b) {
        BlockCopies copies;
        if (extent.block + b > UINT32_MAX ||
            !m_partitions.blockCopies(extent.ref, static_cast<uint32_t>(extent.block + b), copies)) {
          out.problem = "its data lies outside the volume";
          return;
        }
        const uint64_t piece = std::min<uint64_t>(left, kBlockSize);
        left -= piece;
        const uint64_t at = copies.sector[0] * kBlockSize;
        if (!out.runs.empty() && !out.runs.back().zeros && out.runs.back().offset + out.runs.back().length == at)
          out.runs.back().length += piece;
        else
          out.runs.push_back({at, piece, false});
      }
    }
    if (placed < out.size) {
      out.problem = "its extents hold fewer bytes than its length";
      return;
    }
  }
  out.problem = runsProblem(out.runs, file.size());
  if (out.problem.empty() && entry.fileType() == kSymlinkType) {
    out.kind = ContentEntry::Kind::Link;
    std::vector<uint8_t> data;
    if (out.size > kBlockSize) {
      out.problem = "its link target is too long";
      return;
    }
    for (const DataRun& run : out.runs) {  // at most one block in all, checked above
      const size_t at = data.size(), length = static_cast<size_t>(run.length);
      data.resize(at + length);
      if (!run.zeros && !readExact(file, run.offset, data.data() + at, length)) {
        out.problem = "its link target cannot be read";
        return;
      }
    }
    out.linkTarget = linkTarget(data);
    if (out.linkTarget.empty()) out.problem = "its link target is damaged";
    out.runs.clear();
    out.size = 0;
  }
}

Error UdfTreeReader::listContent(const ImageFile& file, int folder, std::vector<ContentEntry>& out) const {
  out.clear();
  std::vector<TreeEntry> entries;
  if (Error e = listFolder(file, folder, entries)) return e;
  const TreeFolder& listed = m_folders[static_cast<size_t>(folder)];
  UdfFileEntry entry;
  if (Error e = entry.read(file, m_partitions, refOf(listed.directory), blockOf(listed.directory))) return e;
  UdfDirectory directory;
  if (Error e = directory.read(file, m_partitions, entry, kMaxDirectoryBytes)) return e;
  std::vector<FileIdentifier> fids;
  if (Error e = directory.identifiers(fids)) return e;
  size_t row = 0;
  for (const FileIdentifier& fid : fids) {
    if (!fid.listed()) continue;
    if (row >= entries.size()) break;
    const TreeEntry& listedEntry = entries[row++];
    ContentEntry& e = out.emplace_back();
    e.name = fid.name;
    e.recordOffsets = listedEntry.recordOffsets;
    UdfFileEntry child;
    if (Error err = child.read(file, m_partitions, fid.icbRef, fid.icbBlock)) {
      e.problem = err.reason;
      continue;
    }
    if (listedEntry.isFolder) {
      e.kind = ContentEntry::Kind::Folder;
      e.folder = listedEntry.folder;
      e.hasModified = true;
      e.modified = timestampSeconds(child.bytes().data() + (child.extended() ? kExtendedModified : kFileEntryModified));
      continue;
    }
    describe(file, child, e);
  }
  return {};
}

Error UdfTreeReader::locate(const ImageFile& file, uint64_t recordOffset, Located& out) const {
  if (!m_problem.empty()) return makeError(ErrorKind::UnknownFormat, {}, m_problem);
  const auto found = m_records.find(recordOffset);
  if (found == m_records.end()) return locateFile(file, recordOffset, out);
  const int folder = found->second.first;
  out.directory = m_folders[static_cast<size_t>(folder)].parent;
  out.copy = found->second.second;
  out.record = m_folderRecords[static_cast<size_t>(folder)];
  if (Error e = readLocated(file, recordOffset, out)) return e;
  // Still the identifier of the same folder: a directory's, pointing at the entry the walk followed.
  const uint8_t* d = out.bytes.data();
  const uint8_t characteristics = d[FileIdentifier::kCharacteristicsOffset];
  if (!(characteristics & FileIdentifier::kDirectory) ||
      (characteristics & (FileIdentifier::kParent | FileIdentifier::kDeleted | FileIdentifier::kStream)) ||
      handleOf(readLe16(d + FileIdentifier::kIcbOffset + 8), readLe32(d + FileIdentifier::kIcbOffset + 4)) !=
          m_folders[static_cast<size_t>(folder)].directory)
    return notFound(recordOffset);
  return {};
}

Error UdfTreeReader::locateFile(const ImageFile& file, uint64_t recordOffset, Located& out) const {
  const auto block = m_directoryBlocks.find(recordOffset / kBlockSize);
  if (block == m_directoryBlocks.end()) return notFound(recordOffset);
  out.directory = block->second;
  UdfDirectory directory = m_directories[static_cast<size_t>(out.directory)];
  if (Error e = directory.rereadBytes(file)) return e;
  std::vector<FileIdentifier> fids;
  if (Error e = directory.identifiers(fids, true)) return e;
  for (const FileIdentifier& fid : fids) {
    const std::vector<uint64_t> offsets = directory.recordOffsets(fid);
    const auto copy = std::find(offsets.begin(), offsets.end(), recordOffset);
    if (copy == offsets.end()) continue;
    // A file's identifier, still listed: a folder's is found through the walk.
    if (!fid.listed() || fid.isDirectory()) return notFound(recordOffset);
    out.copy = static_cast<int>(copy - offsets.begin());
    out.record = FolderRecord{};
    out.record.streamOffset = fid.streamOffset;
    out.record.length = fid.length;
    out.record.tagBlock = directory.tagBlock(fid.streamOffset);
    out.record.inParentEntry = directory.embedded();
    // The copies as recordOffsets counts them: those that share their bytes are one.
    std::vector<uint64_t> starts;
    for (int c = 0; c < directory.copyCount(); ++c) {
      std::vector<ImageRun> runs;
      if (!directory.imageRuns(fid.streamOffset, fid.length, c, runs))
        return damaged("a file identifier lies outside its directory");
      if (std::find(starts.begin(), starts.end(), runs[0].first) != starts.end()) continue;
      starts.push_back(runs[0].first);
      out.record.copies.push_back(std::move(runs));
    }
    return readLocated(file, recordOffset, out);
  }
  return notFound(recordOffset);
}

Error UdfTreeReader::readLocated(const ImageFile& file, uint64_t recordOffset, Located& out) const {
  out.bytes.assign(out.record.length, 0);
  size_t at = 0;
  for (const ImageRun& run : out.record.copies[static_cast<size_t>(out.copy)]) {
    if (!readExact(file, run.first, out.bytes.data() + at, run.second))
      return damaged("a file identifier lies past the end of the image");
    at += run.second;
  }
  std::string why;
  if (!checkTag(out.bytes.data(), out.bytes.size(), kTagFileIdentifier, out.record.tagBlock,
                "the file identifier at offset " + std::to_string(recordOffset), why))
    return damaged(why);
  return {};
}

Error UdfTreeReader::readHidden(const ImageFile& file, uint64_t recordOffset, HiddenMark& mark) const {
  Located at;
  if (Error e = locate(file, recordOffset, at)) return e;
  mark = at.bytes[FileIdentifier::kCharacteristicsOffset] & FileIdentifier::kHidden ? HiddenMark::Hidden
                                                                                   : HiddenMark::None;
  return {};
}

Error UdfTreeReader::planHidden(const ImageFile& file, uint64_t recordOffset, bool hidden,
                                std::vector<BytePatch>& out) const {
  out.clear();
  Located at;
  if (Error e = locate(file, recordOffset, at)) return e;
  uint8_t& characteristics = at.bytes[FileIdentifier::kCharacteristicsOffset];
  const uint8_t wanted = static_cast<uint8_t>(hidden ? characteristics | FileIdentifier::kHidden
                                                     : characteristics & ~FileIdentifier::kHidden);
  if (wanted == characteristics) return {};
  characteristics = wanted;
  retag(at.bytes.data());

  // The runs of bytes [kPatchFirst, kPatchEnd) of the identifier in this copy.
  const FolderRecord& record = at.record;
  uint32_t start = 0;
  for (const ImageRun& run : record.copies[static_cast<size_t>(at.copy)]) {
    const uint32_t from = std::max(start, kPatchFirst), to = std::min(start + run.second, kPatchEnd);
    if (from < to)
      out.push_back({run.first + (from - start), std::vector<uint8_t>(at.bytes.begin() + from, at.bytes.begin() + to)});
    start += run.second;
  }

  if (!record.inParentEntry) return {};

  // The identifiers lie inside the parent's entry, whose CRC covers them.
  const TreeFolder& parentFolder = m_folders[static_cast<size_t>(at.directory)];
  UdfFileEntry parent;
  if (Error e = parent.read(file, m_partitions, refOf(parentFolder.directory), blockOf(parentFolder.directory))) return e;
  if (!parent.embedded()) return notFound(recordOffset);
  const BlockCopies& copies = parent.copies();
  const uint64_t entryOffset = copies.sector[std::min(at.copy, copies.count - 1)] * kBlockSize;
  std::vector<uint8_t> entry(kBlockSize);
  if (!readExact(file, entryOffset, entry.data(), kBlockSize)) return damaged("a file entry lies past the end of the image");
  std::string why;
  if (!checkTag(entry.data(), kBlockSize, readLe16(entry.data()), parent.block(),
                "the file entry at offset " + std::to_string(entryOffset), why) ||
      (readLe16(entry.data()) != kTagFileEntry && readLe16(entry.data()) != kTagExtendedFileEntry))
    return damaged(why.empty() ? "the file entry at offset " + std::to_string(entryOffset) + " is missing" : why);
  const uint64_t fidInEntry = parent.embeddedOffset() + record.streamOffset;
  if (fidInEntry + at.bytes.size() > kBlockSize) return notFound(recordOffset);
  std::copy(at.bytes.begin(), at.bytes.end(), entry.begin() + static_cast<std::ptrdiff_t>(fidInEntry));
  retag(entry.data());
  out.push_back({entryOffset + kTagChecksumOffset,
                 std::vector<uint8_t>(entry.begin() + kTagChecksumOffset, entry.begin() + kTagCrcLengthOffset)});
  return {};
}

}  // namespace udf
}  // namespace umbra
