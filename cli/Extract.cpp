// extract and cat: copies of what an image holds, hidden folders included, written only inside
// the destination the user names.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

#include "Commands.h"
#include "OutputFolder.h"
#include "Platform.h"
#include "SafeName.h"
#include "engine/Workspace.h"

namespace umbra::cli {

namespace {

#ifdef _WIN32
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif
constexpr size_t kChunk = 1u << 20;
constexpr int kMaxDepth = 256;  // folders nested deeper are refused, as the path table's own cap

void printLine(const std::string& text) { writeText(stderr, "umbradisc-cli: " + text + "\n"); }

std::string plural(uint64_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

// A copy under way: what was written so far, and whether it must stop.
class Copier {
 public:
  Copier(const Workspace& ws, const std::string& image, const std::string& dest, bool force)
      : m_ws(ws), m_image(image), m_dest(dest), m_force(force), m_buffer(std::make_unique<uint8_t[]>(kChunk)) {}

  // Copies the folder `treeFolder` of `tree` into `into`, which stands `depth` folders below DEST.
  void copyFolder(int tree, int treeFolder, const OutputFolder& into, const std::string& imagePath, int depth) {
    std::vector<ContentEntry> entries;
    if (Error e = m_ws.listContent(tree, treeFolder, entries)) {
      skip(imagePath, e.reason);
      if (entries.empty()) return;
    }
    std::set<std::string> written;  // names made in this folder: two entries never share one
    for (const ContentEntry& entry : entries) {
      if (m_stopped) return;
      const std::string path = (imagePath == "/" ? "/" : imagePath + "/") + printableName(entry.name);
      std::string name = safeName(entry.name, kWindowsNames);
      if (name.empty()) {
        skip(path, "the name cannot be used for a file; not written");
        continue;
      }
      // Windows file names ignore letter case: "A.TXT" and "a.txt" would be one file there.
      std::string key = name;
      if (kWindowsNames)
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (!written.insert(key).second) {
        skip(path, "another entry of this folder was written as \"" + printableName(name) + "\"; not written");
        continue;
      }
      if (name != entry.name) skip(path, "written as \"" + printableName(name) + "\"", false);
      switch (entry.kind) {
        case ContentEntry::Kind::Folder: copySubfolder(tree, entry, into, name, path, depth); break;
        case ContentEntry::Kind::Link: copyLink(entry, into, name, path, depth); break;
        case ContentEntry::Kind::File: copyFile(entry, into, name, path); break;
      }
    }
  }

  // The folder itself into DEST under its own name, or (the root) its content into DEST.
  void copyTop(int tree, int treeFolder, const ContentEntry* self, const std::string& imagePath) {
    OutputFolder root;
    if (Outcome o = OutputFolder::openRoot(m_dest, root)) {
      stop(m_dest + ": " + describe(o, "the folder"));
      return;
    }
    if (!self) {
      copyFolder(tree, treeFolder, root, imagePath, 0);
      return;
    }
    const std::string name = safeName(self->name, kWindowsNames);
    if (name.empty()) {
      skip(imagePath, "the name cannot be used for a file; not written");
      return;
    }
    if (name != self->name) skip(imagePath, "written as \"" + printableName(name) + "\"", false);
    m_path.clear();
    copySubfolder(tree, *self, root, name, imagePath, 0);
  }

  int status() const { return m_stopped ? m_stopStatus : m_skipped ? kSkipped : kOk; }

 private:
  void copySubfolder(int tree, const ContentEntry& entry, const OutputFolder& into, const std::string& name,
                     const std::string& path, int depth) {
    if (entry.folder < 0) {
      skip(path, "this folder is missing from its tree's list of folders; not written");
      return;
    }
    if (depth >= kMaxDepth) {
      skip(path, "folders nested this deep are not written");
      return;
    }
    if (!m_visited.insert(entry.folder).second) {  // a crafted image listing a folder inside itself
      skip(path, "this folder was reached before; not written again");
      return;
    }
    OutputFolder child;
    if (Outcome o = into.enter(name, child)) {
      if (o.made == Made::Failed) {
        stop(m_dest + "/" + m_path + name + ": " + describe(o, "the folder"));
      } else {
        skip(path, describe(o, "the folder") + "; not written");
      }
      return;
    }
    ++m_folders;
    const std::string saved = m_path;
    m_path += name + "/";
    copyFolder(tree, entry.folder, child, path, depth + 1);
    m_path = saved;
    if (entry.hasModified) into.setModified(name, entry.modified);
  }

  void copyLink(const ContentEntry& entry, const OutputFolder& into, const std::string& name, const std::string& path,
                int depth) {
    if (!entry.problem.empty()) {
      skip(path, entry.problem + "; not written");
      return;
    }
    if (!linkStaysInside(entry.linkTarget, depth)) {
      skip(path, "a symbolic link to \"" + printableName(entry.linkTarget) +
                     "\", which leads outside the destination; not written");
      return;
    }
    if (Outcome o = into.link(name, entry.linkTarget, m_force)) {
      skip(path, describe(o, "the link") + "; not written");
      return;
    }
    ++m_links;
    if (entry.hasModified) into.setModified(name, entry.modified);
  }

  void copyFile(const ContentEntry& entry, const OutputFolder& into, const std::string& name, const std::string& path) {
    if (!entry.problem.empty()) {
      skip(path, entry.problem + "; not written");
      return;
    }
    OutputFile out;
    if (Outcome o = into.create(name, m_force, out)) {
      if (o.made == Made::Failed)
        stop(m_dest + "/" + m_path + name + ": " + describe(o, "the file"));
      else
        skip(path, describe(o, "the file") + "; not written");
      return;
    }
    std::string reason;
    bool readFailed = false;
    const bool ok = copyRuns(entry, [&](const uint8_t* data, size_t n) { return out.write(data, n, reason); },
                             [&](uint64_t n) { return out.skip(n, reason); }, reason, readFailed) &&
                    out.finish(entry.hasModified, entry.modified, reason);
    if (!ok) {
      into.remove(name);
      const std::string where = readFailed ? m_image + ": " + path + ": " : m_dest + "/" + m_path + name + ": ";
      stop(where + reason + "; the partly written file was removed", readFailed ? kCannotOpen : kWriteFailed);
      return;
    }
    ++m_files;
    m_bytes += entry.size;
  }

 public:
  // Reads the entry's runs in chunks and hands them on; zeros go to `zeros`. False with reason set.
  template <typename Write, typename Zeros>
  bool copyRuns(const ContentEntry& entry, Write write, Zeros zeros, std::string& reason, bool& readFailed) {
    const ImageFile& file = m_ws.image().file();
    for (const DataRun& run : entry.runs) {
      if (run.zeros) {
        if (!zeros(run.length)) return false;
        continue;
      }
      for (uint64_t done = 0; done < run.length;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, run.length - done));
        size_t got = 0;
        if (!file.readAt(run.offset + done, m_buffer.get(), want, got) || got != want) {
          readFailed = true;
          reason = got == want || got == 0 ? "cannot read the image at byte " + std::to_string(run.offset + done) +
                                                 (got == 0 ? " (the image ends before it)" : "")
                                           : "the image ends before byte " + std::to_string(run.offset + done + want);
          return false;
        }
        if (!write(m_buffer.get(), want)) return false;
        done += want;
      }
    }
    return true;
  }

  std::string written() const {
    return plural(m_files, "file", "files") + " (" + std::to_string(m_bytes) + " bytes), " +
           plural(m_folders, "folder", "folders") + " and " + plural(m_links, "link", "links");
  }

 private:
  std::string describe(const Outcome& o, const char* what) const {
    switch (o.made) {
      case Made::Exists: return std::string("an entry of that name is there already (--force replaces it)");
      case Made::Link: return std::string("a symbolic link stands there, which is never followed");
      case Made::NotAFolder: return std::string("something other than ") + (std::string(what) == "the folder" ? "a folder" : "a file") + " stands there";
      default: return std::string("cannot write ") + what + ": " + o.reason;
    }
  }

  void skip(const std::string& path, const std::string& reason, bool counts = true) {
    printLine(m_image + ": " + path + ": " + reason);
    if (counts) m_skipped = true;
  }
  void stop(const std::string& text, int status = kWriteFailed) {
    printLine(text + ". Written before it: " + written() + ".");
    m_stopped = true;
    m_stopStatus = status;
  }

  const Workspace& m_ws;
  std::string m_image, m_dest;
  bool m_force;
  std::unique_ptr<uint8_t[]> m_buffer;
  std::set<int> m_visited;
  std::string m_path;  // of the folder being written, below DEST, with a trailing "/"
  uint64_t m_files = 0, m_folders = 0, m_links = 0, m_bytes = 0;
  bool m_skipped = false, m_stopped = false;
  int m_stopStatus = kOk;
};

int failed(const Error& e, int status) {
  printLine(e.message());
  return status;
}

}  // namespace

int extractCommand(const std::string& image, const std::string& folderPath, const std::string& dest, bool force) {
  Workspace ws;
  if (Error e = ws.open(image, OpenMode::ReadOnly)) return failed(e, kCannotOpen);
  int node = -1;
  if (Error e = ws.folders().findFolder(folderPath, node)) {
    EntryRow row;
    const bool isFile = e.kind == ErrorKind::PathNotFound && !ws.findEntry(folderPath, row) && !row.isFolder;
    printLine(image + ": " + folderPath + ": " + (isFile ? "not a folder (cat writes one file)." : e.reason));
    return kBadPath;
  }
  const int tree = ws.copyTree(node);
  const CFolderNode& folder = ws.folders().node(node);
  if (tree < 0) return failed(makeError(ErrorKind::UnknownFormat, image, "No usable tree holds " + folderPath + "."), kCannotOpen);
  Copier copier(ws, image, dest, force);
  const int treeFolder = folder.folderIn(tree);
  if (folder.parent < 0) {
    copier.copyTop(tree, treeFolder, nullptr, "/");
  } else {
    // The folder's own name and date come from its record in the parent.
    std::vector<ContentEntry> siblings;
    const int parent = ws.folders().node(folder.parent).folderIn(tree);
    if (Error e = ws.listContent(tree, parent, siblings); e && siblings.empty()) return failed(e, kCannotOpen);
    const ContentEntry* self = nullptr;
    for (const ContentEntry& entry : siblings)
      if (entry.kind == ContentEntry::Kind::Folder && entry.folder == treeFolder) self = &entry;
    if (!self) return failed(makeError(ErrorKind::UnknownFormat, image, "The record of " + folderPath + " could not be found."), kCannotOpen);
    std::string shown = folderPath;  // as the user named it
    while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    if (shown.front() != '/') shown.insert(0, "/");
    copier.copyTop(tree, treeFolder, self, shown);
  }
  return copier.status();
}

int catCommand(const std::string& image, const std::string& filePath) {
  Workspace ws;
  if (Error e = ws.open(image, OpenMode::ReadOnly)) return failed(e, kCannotOpen);
  EntryRow row;
  if (Error e = ws.findEntry(filePath, row)) {
    if (e.kind == ErrorKind::PathNotFound) e.reason = "No such file in the image.";
    printLine(image + ": " + filePath + ": " + e.reason);
    return e.kind == ErrorKind::PathNotFound || e.kind == ErrorKind::AmbiguousPath ? kBadPath : kCannotOpen;
  }
  if (row.isFolder) {
    printLine(image + ": " + filePath + ": a folder, not a file (extract copies folders).");
    return kBadPath;
  }
  // The record in the tree with the best names; its listing says where the bytes lie.
  const ImageTrees& trees = ws.trees();
  const CFolderNode& parent = ws.folders().node(row.parentIndex);
  const EntryRecord* chosen = nullptr;
  for (const EntryRecord& record : row.records)
    if (trees.usable(record.tree) && parent.folderIn(record.tree) >= 0 &&
        (!chosen || trees.reader(record.tree).nameRank() > trees.reader(chosen->tree).nameRank()))
      chosen = &record;
  std::vector<ContentEntry> entries;
  const ContentEntry* entry = nullptr;
  if (chosen) {
    if (Error e = ws.listContent(chosen->tree, parent.folderIn(chosen->tree), entries); e && entries.empty())
      return failed(e, kCannotOpen);
    for (const ContentEntry& candidate : entries)
      for (uint64_t offset : candidate.recordOffsets)
        if (offset == chosen->offset) entry = &candidate;
  }
  if (!entry) return failed(makeError(ErrorKind::UnknownFormat, image, filePath + ": the file's record could not be found."), kCannotOpen);
  if (entry->kind == ContentEntry::Kind::Link) {
    printLine(image + ": " + filePath + ": a symbolic link to \"" + printableName(entry->linkTarget) + "\", not a file.");
    return kBadPath;
  }
  if (!entry->problem.empty()) {
    printLine(image + ": " + filePath + ": " + entry->problem + ".");
    return kCannotOpen;
  }
  Copier copier(ws, image, {}, false);
  std::string reason;
  bool readFailed = false;
  uint64_t written = 0;
  const auto zeros = std::make_unique<uint8_t[]>(kChunk);
  const bool ok = copier.copyRuns(
      *entry,
      [&](const uint8_t* data, size_t n) {
        if (!writeStandardOutput(data, n, reason)) return false;
        written += n;
        return true;
      },
      [&](uint64_t n) {
        for (uint64_t done = 0; done < n;) {
          const size_t piece = static_cast<size_t>(std::min<uint64_t>(kChunk, n - done));
          if (!writeStandardOutput(zeros.get(), piece, reason)) return false;
          done += piece;
          written += piece;
        }
        return true;
      },
      reason, readFailed);
  if (ok && std::fflush(stdout) == 0) return kOk;
  if (ok) reason = "the output could not be flushed";
  printLine((readFailed ? image + ": " + filePath + ": " : std::string("standard output: ")) + reason + "; " +
            std::to_string(written) + " of " + std::to_string(entry->size) + " bytes were written.");
  return readFailed ? kCannotOpen : kWriteFailed;
}

}  // namespace umbra::cli
