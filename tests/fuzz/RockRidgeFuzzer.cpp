// libFuzzer target for Rock Ridge: the ISO 9660 tree of an image with its System Use areas read
// (NM, SL, TF, CE continuations) and its relocated folders followed (CL placeholders, RE records,
// PL), then the whole image opened as the views open it. The input is the image from sector 16 on.
//
// Besides crashes it checks what the reader promises: parents come before their children, every
// folder index points into the list, every file's runs lie inside the image, and a hide or show of
// any folder record writes only inside that record.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "engine/Workspace.h"
#include "engine/iso9660/CIsoImage.h"
#include "engine/iso9660/IsoTreeReader.h"
#include "engine/iso9660/RockRidge.h"

namespace {

constexpr size_t kMaxFolders = 64;
constexpr uint64_t kLongestRecord = 255;

void checkFolders(const std::vector<umbra::TreeFolder>& folders) {
  for (size_t i = 0; i < folders.size(); ++i) {
    const umbra::TreeFolder& folder = folders[i];
    if ((i == 0) != (folder.parent < 0)) __builtin_trap();
    if (folder.parent >= static_cast<int>(i)) __builtin_trap();  // parents first
    for (const int child : folder.children)
      if (child <= static_cast<int>(i) || child >= static_cast<int>(folders.size()) ||
          folders[static_cast<size_t>(child)].parent != static_cast<int>(i))
        __builtin_trap();
  }
}

void checkListing(const umbra::TreeReader& reader, const umbra::ImageFile& file, int folder) {
  std::vector<umbra::TreeEntry> entries;
  (void)reader.listFolder(file, folder, entries);
  const int folders = static_cast<int>(reader.folders().size());
  for (const umbra::TreeEntry& entry : entries) {
    if (entry.folder >= folders) __builtin_trap();
    if (!entry.isFolder) continue;
    for (const uint64_t offset : entry.recordOffsets) {
      umbra::HiddenMark mark = umbra::HiddenMark::None;
      if (reader.readHidden(file, offset, mark)) continue;
      std::vector<umbra::BytePatch> patches;
      if (reader.planHidden(file, offset, mark != umbra::HiddenMark::Hidden, patches)) continue;
      for (const umbra::BytePatch& patch : patches)
        if (patch.offset < offset || patch.offset + patch.bytes.size() > offset + kLongestRecord ||
            patch.offset + patch.bytes.size() > file.size())
          __builtin_trap();
    }
  }
  std::vector<umbra::ContentEntry> content;
  (void)reader.listContent(file, folder, content);
  for (const umbra::ContentEntry& entry : content) {
    if (entry.folder >= folders) __builtin_trap();
    for (const umbra::DataRun& run : entry.runs)
      if (entry.problem.empty() && !run.zeros && run.offset + run.length > file.size()) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = umbra::fuzz::writeInput("image.iso", data, size, 16);
  if (path.empty()) return 0;

  umbra::CIsoImage image;
  if (image.open(path, umbra::ImageFile::Mode::ReadOnly)) return 0;
  std::unique_ptr<umbra::TreeReader> reader;
  (void)umbra::IsoTreeReader::open(image, false, reader);
  if (reader) {
    (void)reader->description();
    (void)reader->placesEveryFolder();
    checkFolders(reader->folders());
    for (size_t i = 0; i < reader->folders().size() && i < kMaxFolders; ++i)
      checkListing(*reader, image.file(), static_cast<int>(i));
  }
  // The System Use parser on its own, with continuation areas read from the image: the input's
  // first bytes as one record's area.
  (void)umbra::readRockRidge(std::string_view(reinterpret_cast<const char*>(data), size < 255 ? size : 255),
                             &image.file());
  image.close();

  // The views' open: the trees paired into one folder tree, relocated folders where they belong.
  umbra::Workspace ws;
  if (ws.open(path, umbra::OpenMode::ReadOnly) && !ws.isOpen()) return 0;
  umbra::FolderListing listing;
  for (size_t i = 0; i < ws.folders().size() && i < kMaxFolders; ++i) {
    (void)ws.listFolder(static_cast<int>(i), listing);
    (void)ws.folders().pathOf(static_cast<int>(i));
  }
  return 0;
}
