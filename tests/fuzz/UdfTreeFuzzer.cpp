// libFuzzer target for the UDF tree reader: find the tree, read its folders, list them and plan
// a hide and a show of every record (the plans are not applied). The input is written to a file
// after 16 empty sectors, where the volume recognition sequence starts.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzFiles.h"
#include "engine/hfs/AppleTreeNotice.h"
#include "engine/io/ImageFile.h"
#include "engine/udf/UdfTreeReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = umbra::fuzz::writeInput("image.iso", data, size, 16);
  if (path.empty()) return 0;

  umbra::ImageFile file;
  if (file.open(path, umbra::ImageFile::Mode::ReadOnly)) return 0;
  (void)umbra::appleTreeNotice(file);
  const auto reader = umbra::findUdfTree(file);
  if (!reader) return 0;
  (void)reader->description();
  const std::vector<umbra::TreeFolder>& folders = reader->folders();
  for (size_t i = 0; i < folders.size() && i < 64; ++i) {
    std::vector<umbra::TreeEntry> entries;
    (void)reader->listFolder(file, static_cast<int>(i), entries);
    std::vector<umbra::ContentEntry> content;
    (void)reader->listContent(file, static_cast<int>(i), content);
    for (const umbra::ContentEntry& entry : content)
      for (const umbra::DataRun& run : entry.runs)
        if (entry.problem.empty() && !run.zeros && (run.length == 0 || run.offset + run.length > file.size())) __builtin_trap();
    for (const umbra::TreeEntry& entry : entries)
      for (uint64_t offset : entry.isFolder ? entry.recordOffsets : std::vector<uint64_t>{}) {
        umbra::HiddenMark hidden = umbra::HiddenMark::None;
        std::vector<umbra::BytePatch> patches;
        (void)reader->readHidden(file, offset, hidden);
        (void)reader->planHidden(file, offset, hidden != umbra::HiddenMark::Hidden, patches);
      }
  }
  return 0;
}
