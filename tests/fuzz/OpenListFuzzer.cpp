// libFuzzer target: open an arbitrary image, build its tree, list every folder (also as extract
// lists it) and look up a path. The input is written to a file, since the engine reads files.
#include <cstdint>
#include <string>

#include "FuzzFiles.h"
#include "engine/Workspace.h"
#include "views/EntryText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Inputs describe the first sectors; the descriptors start at sector 16, so the input is placed there.
  const std::string path = umbra::fuzz::writeInput("image.iso", data, size, 16);
  if (path.empty()) return 0;

  umbra::Workspace ws;
  (void)ws.open(path, umbra::OpenMode::ReadOnly);
  umbra::FolderListing listing;
  for (size_t i = 0; i < ws.folders().size() && i < 64; ++i) {
    (void)ws.listFolder(static_cast<int>(i), listing);
    for (const umbra::EntryRow& row : listing.rows) {
      (void)umbra::modifiedText(row.date);
      (void)umbra::isoDateText(row.date);
    }
    (void)ws.folders().pathOf(static_cast<int>(i));
    // What extract copies: every tree's content listing, each run within the image.
    std::vector<umbra::ContentEntry> content;
    for (const umbra::FolderPlace& place : ws.folders().node(static_cast<int>(i)).places) {
      (void)ws.listContent(place.tree, place.folder, content);
      for (const umbra::ContentEntry& entry : content)
        for (const umbra::DataRun& run : entry.runs)
          if (entry.problem.empty() && !run.zeros &&
              (run.length == 0 || run.offset + run.length > ws.image().fileSize()))
            __builtin_trap();
    }
  }
  umbra::EntryRow row;
  (void)ws.findEntry("/A/B", row);
  (void)ws.volumeIdentifier();
  // Judge and write a few folders: checks, write plans and the put-back of a crafted image.
  umbra::Workspace work;
  if (!work.open(path, umbra::OpenMode::WorkUnstamped) && work.listFolder(0, listing).kind == umbra::ErrorKind::None) {
    for (size_t i = 0; i < listing.rows.size() && i < 8; ++i) {
      umbra::EntryRow* rows[] = {&listing.rows[i]};
      (void)work.checkRow(listing.rows[i]);
      const umbra::SelectionAction action = work.planSelection(rows);
      (void)work.setHidden(action.rows, action.hide);
    }
  }
  return 0;
}
