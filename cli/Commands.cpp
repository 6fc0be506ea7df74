#include "Commands.h"

#include <cstdio>

#include "OutputBuffer.h"
#include "ParallelListing.h"
#include "Platform.h"
#include "engine/Workspace.h"
#include "views/EntryText.h"

namespace umbra::cli {

namespace {

void printError(const std::string& text) { writeText(stderr, "umbradisc-cli: " + text + "\n"); }

int statusOf(const Error& e) {
  switch (e.kind) {
    case ErrorKind::None: return kOk;
    case ErrorKind::PathNotFound:
    case ErrorKind::AmbiguousPath:
    case ErrorKind::Unpaired: return kRefused;
    case ErrorKind::WriteFailed:
    case ErrorKind::SyncFailed: return kWriteFailed;
    default: return kCannotOpen;
  }
}

// Prints any error of a command (open, refusal, write, sync) and returns its exit status.
int reportError(const Error& e) {
  printError(e.message());
  return statusOf(e);
}

// Opens for reading; a damaged folder tree is an error here, although the window would show its start.
int openForReading(Workspace& ws, const std::string& image) {
  if (Error e = ws.open(image, OpenMode::ReadOnly)) return reportError(e);
  return kOk;
}

// Whether a folder is proven absent from some trees and paired in all the others.
bool provenPartial(const Workspace& ws, const EntryRow& row) {
  if (!row.isFolder || row.folderIndex < 0) return false;
  const CFolderNode& node = ws.folders().node(row.folderIndex);
  return !node.absentIn.empty() && node.unpairedIn.empty();
}

// The trees that hold a folder proven absent from the others ("" for a folder every tree holds).
std::string heldOnly(const Workspace& ws, const EntryRow& row) {
  if (!provenPartial(ws, row)) return {};
  std::string trees;
  for (const FolderPlace& place : ws.folders().node(row.folderIndex).places)
    trees += (trees.empty() ? "" : ", ") + std::string(ws.trees().label(place.tree));
  return trees;
}

// The trees in which an entry's twin could not be proven, so that it cannot be hidden: a folder's,
// or a file's own or its folder's ("" when none).
std::vector<int> unprovenTrees(const Workspace& ws, const EntryRow& row) {
  if (row.isFolder) return row.folderIndex < 0 ? std::vector<int>{} : ws.folders().node(row.folderIndex).unpairedIn;
  if (row.parentIndex >= 0 && !ws.folders().node(row.parentIndex).unpairedIn.empty())
    return ws.folders().node(row.parentIndex).unpairedIn;
  return row.unprovenIn;
}

std::string unprovenIn(const Workspace& ws, const EntryRow& row) {
  std::string trees;
  for (int tree : unprovenTrees(ws, row)) trees += (trees.empty() ? "" : ", ") + std::string(ws.trees().label(tree));
  return trees;
}

void writeRowText(OutputBuffer& out, const Workspace& ws, const EntryRow& row, const std::string& prefix) {
  out << stateText(row.state) << '\t' << (row.isFolder ? "Folder" : "File") << '\t' << row.size << '\t'
      << modifiedText(row.date) << '\t' << prefix << row.name;
  // The entry's names in the other trees, once each.
  const std::string* last = &row.name;
  for (const EntryRecord& record : row.records) {
    if (record.tree == row.records.front().tree || record.name == *last) continue;
    out << '\t' << record.name;
    last = &record.name;
  }
  if (const std::string trees = heldOnly(ws, row); !trees.empty()) out << "\t(only in " << trees << ')';
  if (const std::string trees = unprovenIn(ws, row); !trees.empty())
    out << "\t(no twin proven in " << trees << ": cannot be hidden)";
  out << '\n';
}

void writeRowJson(OutputBuffer& out, const Workspace& ws, const EntryRow& row, const std::string* path) {
  const int joliet = [&] {
    for (int t = 0; t < ws.trees().count(); ++t)
      if (std::string_view(ws.trees().reader(t).kind().id) == "joliet") return t;
    return -1;
  }();
  const EntryRecord* primary = row.recordIn(0);
  const EntryRecord* twin = joliet >= 0 ? row.recordIn(joliet) : nullptr;
  out << "{\"name\":";
  out.jsonString(row.name);
  out << ",\"joliet\":";
  if (twin)
    out.jsonString(twin->name);
  else
    out << "null";
  out << ",\"folder\":" << (row.isFolder ? "true" : "false") << ",\"hidden\":" << (row.hidden() ? "true" : "false")
      << ",\"size\":" << row.size << ",\"modified\":";
  out.jsonString(isoDateText(row.date));
  out << ",\"primary_offset\":";
  if (primary)
    out << primary->offset;
  else
    out << "null";
  out << ",\"joliet_offset\":";
  if (twin)
    out << twin->offset;
  else
    out << "null";
  if (path) {
    out << ",\"path\":";
    out.jsonString(*path);
  }
  out << ",\"state\":\"" << stateName(row.state) << "\",\"records\":[";
  for (size_t i = 0; i < row.records.size(); ++i) {
    const EntryRecord& record = row.records[i];
    out << (i ? "," : "") << "{\"tree\":\"" << ws.trees().reader(record.tree).kind().id << "\",\"name\":";
    out.jsonString(record.name);
    out << ",\"offset\":" << record.offset << '}';
  }
  out << ']';
  auto treeList = [&](const char* key, const std::vector<int>& trees) {
    out << ",\"" << key << "\":[";
    for (size_t i = 0; i < trees.size(); ++i) out << (i ? "," : "") << '"' << ws.trees().reader(trees[i]).kind().id << '"';
    out << ']';
  };
  // An entry whose twin in some trees could not be proven: those trees, and why it cannot be hidden.
  if (const std::vector<int> unproven = unprovenTrees(ws, row); !unproven.empty()) {
    treeList("unproven_in", unproven);
    out << ",\"not_hidable\":";
    out.jsonString(row.isFolder ? ws.unprovenReason(row.folderIndex) : ws.unprovenFileReason(row));
  }
  if (row.isFolder && row.folderIndex >= 0) {
    const CFolderNode& node = ws.folders().node(row.folderIndex);
    // A folder proven absent from some trees: the trees that hold it.
    if (provenPartial(ws, row)) {
      std::vector<int> holding;
      for (const FolderPlace& place : node.places) holding.push_back(place.tree);
      treeList("only_in", holding);
    }
  }
  out << '}';
}

}  // namespace

namespace {

// What info counts over every folder of the image.
struct ImageCounts {
  uint64_t folders = 0, unproven = 0;  // unproven: without a proven twin in every tree, so never hidden
  uint64_t files = 0, hiddenFolders = 0, mixedFolders = 0, hiddenFiles = 0;
};

Error countEntries(const Workspace& ws, ImageCounts& c) {
  std::vector<int> everyFolder(ws.folders().size());
  for (size_t i = 0; i < everyFolder.size(); ++i) everyFolder[i] = static_cast<int>(i);
  std::vector<ImageCounts> chunks(chunkCount(everyFolder.size()));
  const Error e = listForEach(ws, everyFolder, Rows::MarksOnly, [&](size_t chunk, int, const FolderListing& listing) {
    for (const EntryRow& row : listing.rows) {
      chunks[chunk].files += row.isFolder ? 0 : 1;
      chunks[chunk].hiddenFolders += row.isFolder && row.state == FolderState::Hidden ? 1 : 0;
      chunks[chunk].mixedFolders += row.isFolder && row.state == FolderState::Mixed ? 1 : 0;
      chunks[chunk].hiddenFiles += !row.isFolder && row.state == FolderState::Hidden ? 1 : 0;
    }
  });
  if (e) return e;
  for (const ImageCounts& chunk : chunks) {
    c.hiddenFiles += chunk.hiddenFiles;
    c.files += chunk.files;
    c.hiddenFolders += chunk.hiddenFolders;
    c.mixedFolders += chunk.mixedFolders;
  }
  c.folders = ws.folders().size();
  for (const CFolderNode& node : ws.folders().nodes()) c.unproven += node.unpairedIn.empty() ? 0 : 1;
  return {};
}

const char* descriptorKind(const VolumeDescriptorInfo& d) {
  switch (d.type) {
    case iso::kVdTypeBoot:
      return "boot";
    case iso::kVdTypePrimary:
      return "primary";
    case iso::kVdTypeSupplementary:
      return d.joliet ? "joliet" : "supplementary";
    case iso::kVdTypePartition:
      return "partition";
    case iso::kVdTypeTerminator:
      return "terminator";
    default:
      return "unknown";
  }
}

void writeInfoJson(OutputBuffer& out, const Workspace& ws, const ImageCounts& c) {
  const ImageTrees& trees = ws.trees();
  const auto& descriptors = ws.image().descriptors();
  out << "{\"volume_id\":";
  out.jsonString(ws.volumeIdentifier());
  out << ",\"descriptors\":[";
  for (size_t i = 0; i < descriptors.size(); ++i) {
    out << (i ? "," : "") << "{\"type\":" << uint64_t{descriptors[i].type} << ",\"kind\":\""
        << descriptorKind(descriptors[i]) << "\",\"sector\":" << uint64_t{descriptors[i].sector} << '}';
  }
  out << "],\"joliet\":" << (ws.image().hasJoliet() ? "true" : "false") << ",\"trees\":[";
  for (int t = 0; t < trees.count(); ++t) {
    out << (t ? "," : "") << '"' << trees.reader(t).kind().id << '"';
  }
  out << "],\"tree_details\":[";
  for (int t = 0; t < trees.count(); ++t) {
    out << (t ? "," : "") << "{\"tree\":\"" << trees.reader(t).kind().id << "\",\"description\":";
    out.jsonString(trees.reader(t).description());
    out << ",\"problem\":";
    if (trees.usable(t))
      out << "null";
    else
      out.jsonString(trees.problem(t));
    out << '}';
  }
  out << "],\"folders\":" << c.folders << ",\"unproven_folders\":" << c.unproven << ",\"files\":" << c.files
      << ",\"hidden_folders\":" << c.hiddenFolders << ",\"hidden_files\":" << c.hiddenFiles
      << ",\"mixed_folders\":" << c.mixedFolders << ",\"notices\":[";
  for (size_t i = 0; i < ws.notices().size(); ++i) {
    out << (i ? "," : "");
    out.jsonString(ws.notices()[i]);
  }
  out << "]}\n";
}

void writeInfoText(OutputBuffer& out, const Workspace& ws, const ImageCounts& c) {
  const ImageTrees& trees = ws.trees();
  const auto& descriptors = ws.image().descriptors();
  out << "Volume identifier: " << ws.volumeIdentifier() << "\nVolume descriptors:";
  for (const auto& d : descriptors)
    out << "\n  sector " << uint64_t{d.sector} << ": type " << uint64_t{d.type} << " (" << descriptorKind(d) << ')';
  out << "\nJoliet tree: " << (ws.image().hasJoliet() ? "yes" : "no") << "\nTrees:";
  for (int t = 0; t < trees.count(); ++t) {
    out << "\n  " << trees.reader(t).kind().label;
    if (const std::string d = trees.reader(t).description(); !d.empty() && d != trees.reader(t).kind().label)
      out << ": " << d;
    if (!trees.usable(t)) out << " (cannot be used: " << trees.problem(t) << ")";
  }
  out << "\nFolders: " << c.folders;
  if (c.unproven) out << " (" << c.unproven << " without a proven twin in every tree, which cannot be hidden)";
  out << "\nFiles: " << c.files << "\nHidden folders: " << c.hiddenFolders << "\nHidden files: " << c.hiddenFiles
      << "\nPartly hidden folders: " << c.mixedFolders << '\n';
  for (const std::string& notice : ws.notices()) out << "Note: " << notice << '\n';
}

}  // namespace

int infoCommand(const std::string& image, bool json) {
  Workspace ws;
  if (int status = openForReading(ws, image)) return status;
  ImageCounts counts;
  if (Error e = countEntries(ws, counts)) return reportError(e);
  OutputBuffer out(stdout);
  if (json)
    writeInfoJson(out, ws, counts);
  else
    writeInfoText(out, ws, counts);
  return kOk;
}

int lsCommand(const std::string& image, const std::string& folderPath, bool recursive, bool json) {
  Workspace ws;
  if (int status = openForReading(ws, image)) return status;
  const FolderTree& tree = ws.folders();
  int start = -1;
  if (Error e = tree.findFolder(folderPath, start)) {
    EntryRow row;
    const bool isFile = e.kind == ErrorKind::PathNotFound && !ws.findEntry(folderPath, row) && !row.isFolder;
    printError(image + ": " + folderPath + ": " + (isFile ? "not a folder." : e.reason));
    return kBadPath;
  }
  // Depth first, each folder's entries before its subfolders', like ls -R.
  std::vector<int> order;
  std::vector<int> pending{start};
  while (!pending.empty()) {
    const int folder = pending.back();
    pending.pop_back();
    order.push_back(folder);
    if (!recursive) break;
    const auto& children = tree.node(folder).children;
    for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(*it);
  }
  // Chunk 0 streams to standard output; later chunks are kept and written after it, in order.
  // Within a chunk, JSON entries are joined by ",\n"; chunks are joined the same way.
  OutputBuffer out(stdout);
  std::vector<OutputBuffer> later(chunkCount(order.size()));
  std::vector<char> chunkStarted(later.size(), 0);
  if (json) out << '[';
  const Error e = listForEach(ws, order, Rows::Full, [&](size_t chunk, int folder, const FolderListing& listing) {
    OutputBuffer& sink = chunk == 0 ? out : later[chunk];
    std::string prefix;
    if (recursive) {
      prefix = tree.pathOf(folder);
      if (prefix != "/") prefix += '/';
    }
    std::string path;
    for (const EntryRow& row : listing.rows) {
      if (json) {
        sink << (chunkStarted[chunk] ? ",\n" : chunk == 0 ? "\n" : "");
        if (recursive) path = prefix + row.component();
        writeRowJson(sink, ws, row, recursive ? &path : nullptr);
      } else {
        writeRowText(sink, ws, row, prefix);
      }
      chunkStarted[chunk] = 1;
    }
  });
  if (e) {
    out.flush();
    return reportError(e);
  }
  bool any = chunkStarted[0] != 0;
  for (size_t chunk = 1; chunk < later.size(); ++chunk) {
    if (!chunkStarted[chunk]) continue;
    if (json) out << (any ? ",\n" : "\n");
    out << later[chunk].take();
    any = true;
  }
  if (json) out << (any ? "\n]\n" : "]\n");
  return kOk;
}

int hideOrShowCommand(const std::string& image, const std::vector<std::string>& paths, bool hide) {
  Workspace ws;
  if (Error e = ws.open(image, OpenMode::WorkUnstamped)) return reportError(e);
  // Every path is resolved first, then every entry judged, before anything is written.
  std::vector<EntryRow> rows(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    if (Error e = ws.findEntry(paths[i], rows[i])) {
      printError(image + ": " + paths[i] + ": " + e.reason);
      return statusOf(e) == kCannotOpen ? kCannotOpen : kBadPath;
    }
  }
  // Every entry is judged before anything is written, the stamp included.
  std::vector<EntryRow*> targets;
  for (EntryRow& row : rows) targets.push_back(&row);
  const WriteOutcome outcome = ws.setHidden(targets, hide);
  if (outcome.error) return reportError(outcome.error);
  if (hide && std::any_of(rows.begin(), rows.end(), [](const EntryRow& row) { return !row.isFolder; }))
    printError(std::string("note: ") + kHiddenFileReachNotice);
  return kOk;
}

}  // namespace umbra::cli
