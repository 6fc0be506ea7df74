#include "Commands.h"

#include <cstdio>

#include "OutputBuffer.h"
#include "ParallelListing.h"
#include "engine/Workspace.h"

namespace umbra::cli {

namespace {

void printError(const std::string& text) { std::fprintf(stderr, "umbradisc-cli: %s\n", text.c_str()); }

int openFailed(const Error& e) {
  printError(e.message());
  return e.kind == ErrorKind::PathNotFound || e.kind == ErrorKind::NotAFolder ? kBadPath : kCannotOpen;
}

// Opens for reading; a damaged folder tree is an error here, although the window would show its start.
int openForReading(Workspace& ws, const std::string& image) {
  if (Error e = ws.open(image, OpenMode::ReadOnly)) return openFailed(e);
  return kOk;
}

void writeRowText(OutputBuffer& out, const EntryRow& row, const std::string& prefix) {
  out << row.property() << '\t' << (row.isFolder ? "Folder" : "File") << '\t' << uint64_t{row.size} << '\t'
      << row.modifiedText() << '\t' << prefix << row.name;
  if (row.hasJoliet) out << '\t' << row.jolietName;
  out << '\n';
}

void writeRowJson(OutputBuffer& out, const EntryRow& row, const std::string* path) {
  out << "{\"name\":";
  out.jsonString(row.name);
  out << ",\"joliet\":";
  if (row.hasJoliet)
    out.jsonString(row.jolietName);
  else
    out << "null";
  out << ",\"folder\":" << (row.isFolder ? "true" : "false") << ",\"hidden\":" << (row.hidden ? "true" : "false")
      << ",\"size\":" << uint64_t{row.size} << ",\"modified\":";
  out.jsonString(row.modifiedText());
  out << ",\"primary_offset\":" << row.primaryOffset << ",\"joliet_offset\":";
  if (row.jolietOffset)
    out << row.jolietOffset;
  else
    out << "null";
  if (path) {
    out << ",\"path\":";
    out.jsonString(*path);
  }
  out << '}';
}

}  // namespace

int infoCommand(const std::string& image, bool json) {
  Workspace ws;
  if (int status = openForReading(ws, image)) return status;
  std::vector<int> everyFolder(ws.folders().size());
  for (size_t i = 0; i < everyFolder.size(); ++i) everyFolder[i] = static_cast<int>(i);
  std::vector<std::pair<size_t, size_t>> counts(chunkCount(everyFolder.size()));  // files, hidden folders
  const Error e = listForEach(ws, everyFolder, [&](size_t chunk, int, const FolderListing& listing) {
    for (const EntryRow& row : listing.rows) {
      counts[chunk].first += row.isFolder ? 0 : 1;
      counts[chunk].second += row.isFolder && row.hidden ? 1 : 0;
    }
  });
  if (e) return openFailed(e);
  size_t files = 0, hiddenFolders = 0;
  for (const auto& [f, h] : counts) {
    files += f;
    hiddenFolders += h;
  }
  OutputBuffer out(stdout);
  const auto& descriptors = ws.image().Descriptors();
  auto typeName = [](const VolumeDescriptorInfo& d) {
    switch (d.type) {
      case iso::kVdTypeBoot: return "boot";
      case iso::kVdTypePrimary: return "primary";
      case iso::kVdTypeSupplementary: return d.joliet ? "joliet" : "supplementary";
      case iso::kVdTypePartition: return "partition";
      case iso::kVdTypeTerminator: return "terminator";
      default: return "unknown";
    }
  };
  const uint64_t folders = ws.folders().size();
  if (json) {
    out << "{\"volume_id\":";
    out.jsonString(ws.volumeIdentifier());
    out << ",\"descriptors\":[";
    for (size_t i = 0; i < descriptors.size(); ++i) {
      out << (i ? "," : "") << "{\"type\":" << uint64_t{descriptors[i].type} << ",\"kind\":\""
          << typeName(descriptors[i]) << "\",\"sector\":" << uint64_t{descriptors[i].sector} << '}';
    }
    out << "],\"joliet\":" << (ws.image().HasJoliet() ? "true" : "false") << ",\"folders\":" << folders
        << ",\"files\":" << uint64_t{files} << ",\"hidden_folders\":" << uint64_t{hiddenFolders} << "}\n";
  } else {
    out << "Volume identifier: " << ws.volumeIdentifier() << "\nVolume descriptors:";
    for (const auto& d : descriptors)
      out << "\n  sector " << uint64_t{d.sector} << ": type " << uint64_t{d.type} << " (" << typeName(d) << ')';
    out << "\nJoliet tree: " << (ws.image().HasJoliet() ? "yes" : "no") << "\nFolders: " << folders
        << "\nFiles: " << uint64_t{files} << "\nHidden folders: " << uint64_t{hiddenFolders} << '\n';
  }
  return kOk;
}

int lsCommand(const std::string& image, const std::string& folderPath, bool recursive, bool json) {
  Workspace ws;
  if (int status = openForReading(ws, image)) return status;
  const FolderTree& tree = ws.folders();
  const int start = tree.findFolder(folderPath);
  if (start < 0) {
    EntryRow row;
    const bool isFile = !ws.findEntry(folderPath, row) && !row.isFolder;
    printError(image + ": " + folderPath + (isFile ? ": not a folder." : ": no such folder in the image."));
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
  const Error e = listForEach(ws, order, [&](size_t chunk, int folder, const FolderListing& listing) {
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
        if (recursive) path = prefix + row.name;
        writeRowJson(sink, row, recursive ? &path : nullptr);
      } else {
        writeRowText(sink, row, prefix);
      }
      chunkStarted[chunk] = 1;
    }
  });
  if (e) {
    out.flush();
    return openFailed(e);
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

int hideCommand(const std::string& image, const std::vector<std::string>& paths, bool hide) {
  Workspace ws;
  if (Error e = ws.open(image, OpenMode::WorkUnstamped)) return openFailed(e);
  // Every path is checked before anything is written.
  std::vector<EntryRow> rows(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    if (Error e = ws.findEntry(paths[i], rows[i])) {
      printError(image + ": " + paths[i] + ": " + e.reason);
      return kBadPath;
    }
    if (!rows[i].isFolder) {
      printError(image + ": " + paths[i] + ": " + kCannotHideFilesMessage);
      return kBadPath;
    }
  }
  if (Error e = ws.stamp()) return openFailed(e);
  std::vector<EntryRow*> targets;
  for (EntryRow& row : rows) targets.push_back(&row);
  const ToggleOutcome outcome = ws.setHidden(targets, hide);
  for (const std::string& notice : outcome.notices) std::fprintf(stderr, "umbradisc-cli: note: %s\n", notice.c_str());
  if (outcome.error) {
    printError(outcome.error.message());
    return kCannotOpen;
  }
  return kOk;
}

}  // namespace umbra::cli
