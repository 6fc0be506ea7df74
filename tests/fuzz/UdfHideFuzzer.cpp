// libFuzzer target for hiding in UDF: the plan of a hide or a show and its write, on a work copy.
// The input lists sectors sparsely (FuzzFiles.h), so that a bridge image of mostly empty sectors
// is a small seed; the UDF anchor is at sector 256, the ISO 9660 descriptors from sector 16.
//
// First the UDF reader alone: each folder record's mark is planned from the bytes on disk and
// written; the record must then read back with the mark asked for, and the tree with the same
// folders. Then the workspace, as the command line hides: each folder of the root is hidden and
// shown again in every tree, and a fresh open must show the state written.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "engine/Workspace.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfTreeReader.h"

namespace {

constexpr size_t kMaxFolders = 32;
constexpr size_t kMaxRecords = 16;
constexpr size_t kMaxRows = 4;
constexpr uint32_t kMinSectors = 257;  // the anchor's sector and the one before it

void writeEveryRecord(const std::string& path) {
  umbra::ImageFile file;
  if (file.open(path, umbra::ImageFile::Mode::ReadWrite)) return;
  const std::unique_ptr<umbra::TreeReader> reader = umbra::findUdfTree(file);
  if (!reader || !reader->problem().empty()) return;
  const size_t folders = reader->folders().size();
  std::vector<uint64_t> offsets;
  for (size_t i = 0; i < folders && i < kMaxFolders && offsets.size() < kMaxRecords; ++i) {
    std::vector<umbra::TreeEntry> entries;
    (void)reader->listFolder(file, static_cast<int>(i), entries);
    for (const umbra::TreeEntry& entry : entries)
      if (entry.isFolder) offsets.insert(offsets.end(), entry.recordOffsets.begin(), entry.recordOffsets.end());
  }
  if (offsets.size() > kMaxRecords) offsets.resize(kMaxRecords);
  for (const uint64_t offset : offsets) {
    umbra::HiddenMark mark = umbra::HiddenMark::None;
    if (reader->readHidden(file, offset, mark)) continue;
    const bool hide = mark != umbra::HiddenMark::Hidden;
    std::vector<umbra::BytePatch> patches;
    if (reader->planHidden(file, offset, hide, patches)) continue;
    for (const umbra::BytePatch& patch : patches) {
      if (patch.bytes.empty() || patch.offset + patch.bytes.size() > file.size()) __builtin_trap();
      if (!file.writeAt(patch.offset, patch.bytes.data(), patch.bytes.size())) return;
    }
    umbra::HiddenMark after = umbra::HiddenMark::None;
    if (reader->readHidden(file, offset, after)) __builtin_trap();  // the write broke the record
    if ((after == umbra::HiddenMark::Hidden) != hide) __builtin_trap();
  }
  // The marks changed, nothing else: the tree reads as before.
  const std::unique_ptr<umbra::TreeReader> again = umbra::findUdfTree(file);
  if (!again || !again->problem().empty() || again->folders().size() != folders) __builtin_trap();
}

// The state of the row whose first record is at `offset`, in a fresh read-only open.
bool stateOnDisk(const std::string& path, int folder, uint64_t offset, umbra::FolderState& state) {
  umbra::Workspace fresh;
  umbra::FolderListing listing;
  if (fresh.open(path, umbra::OpenMode::ReadOnly) || fresh.listFolder(folder, listing)) return false;
  for (const umbra::EntryRow& row : listing.rows)
    if (!row.records.empty() && row.records.front().offset == offset) {
      state = row.state;
      return true;
    }
  return false;
}

void hideAndShowRootFolders(const std::string& path) {
  umbra::Workspace ws;
  umbra::FolderListing listing;
  if (ws.open(path, umbra::OpenMode::WorkUnstamped) || ws.listFolder(0, listing)) return;
  size_t tried = 0;
  for (umbra::EntryRow& row : listing.rows) {
    if (!row.isFolder || row.records.empty() || tried++ == kMaxRows) continue;
    umbra::EntryRow* rows[] = {&row};
    for (const bool hide : {true, false}) {
      if (ws.setHidden(rows, hide).error) break;
      umbra::FolderState state{};
      if (!stateOnDisk(path, 0, row.records.front().offset, state)) __builtin_trap();  // the image no longer opens
      if (state != (hide ? umbra::FolderState::Hidden : umbra::FolderState::Normal)) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = umbra::fuzz::writeSparseInput("work.iso", data, size, kMinSectors);
  if (path.empty()) return 0;
  writeEveryRecord(path);
  if (umbra::fuzz::writeSparseInput("work.iso", data, size, kMinSectors).empty()) return 0;
  hideAndShowRootFolders(path);
  return 0;
}
