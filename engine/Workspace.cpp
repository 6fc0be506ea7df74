#include "engine/Workspace.h"

#include <algorithm>
#include <cstring>

#include "engine/TreeKinds.h"
#include "engine/hfs/AppleTreeNotice.h"
#include "engine/io/ImageFile.h"
#include "engine/model/FolderPairing.h"
#include "engine/model/NameKey.h"

namespace umbra {

using namespace iso;

namespace {
std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}
}  // namespace

Error Workspace::open(const std::string& path, OpenMode mode) {
  close();
  if (Error e = m_image.open(path, mode == OpenMode::ReadOnly ? ImageFile::Mode::ReadOnly : ImageFile::Mode::ReadWrite))
    return e;
  m_path = path;
  if (mode == OpenMode::Work)
    if (Error e = stamp(); e || (m_unsynced && !m_image.file().sync())) {
      close();
      return e ? e : makeError(ErrorKind::Io, path, "Cannot write to the image: " + ImageFile::lastErrorText());
    }
  m_unsynced = false;
  m_stampPending = mode == OpenMode::WorkUnstamped;

  // The trees of the image; the ISO 9660 tree comes first and gives the folder nodes.
  Error result;
  for (const TreeFinder find : treeFinders()) {
    ImageTree tree;
    const Error e = find(m_image, tree.reader);
    if (!tree.reader) continue;
    tree.problem = tree.reader->problem();
    if (m_trees.list.empty())
      result = e;  // the ISO 9660 tree's failure is the image's
    else if (tree.problem.empty() && e)
      tree.problem = e.reason;
    m_trees.list.push_back(std::move(tree));
  }
  if (std::string notice = appleTreeNotice(m_image.file()); !notice.empty()) m_notices.push_back(std::move(notice));
  if (m_trees.list.empty() || (result && (!isFormatError(result.kind) || m_trees.foldersOf(0).empty()))) {
    close();
    return result ? result : makeError(ErrorKind::UnknownFormat, path, kUnknownFormatMessage);
  }
  m_tree.build(m_image.file(), m_trees);
  return result;  // an unknown or damaged format keeps the image open with the tree built so far
}

void Workspace::close() {
  m_pathListings.clear();
  m_notices.clear();
  m_tree.clear();
  m_trees.clear();
  m_image.close();
  m_path.clear();
  m_unsynced = false;
  m_stampPending = false;
}

Error Workspace::stampIfPending() {
  if (!m_stampPending) return {};
  if (Error e = checkSameFile()) return e;
  m_stampPending = false;
  return stamp();
}

namespace {
Error replacedError(const std::string& path, const std::string& why) {
  return makeError(ErrorKind::Replaced, path,
                   "The image file was replaced or changed after it was opened (" + why +
                       "); nothing more was written. Open the image again to work on it as it is now.");
}
}  // namespace

Error Workspace::checkSameFile() const {
  std::string why;
  if (!m_image.file().stillNamedBy(m_path, why)) return replacedError(m_path, why);
  return {};
}

Error Workspace::checkRowBytes(const EntryRow& row, bool hidden, std::vector<RecordPlan>& plans) const {
  const ImageFile& file = m_image.file();
  plans.clear();
  for (const EntryRecord& record : row.records) {
    RecordPlan& plan = plans.emplace_back();
    plan.tree = record.tree;
    if (Error e = m_trees.reader(record.tree).planHidden(file, record.offset, hidden, plan.patches)) return e;
    for (const BytePatch& patch : plan.patches) {
      // The plan was made from the read-ahead windows; the file itself must still hold those bytes.
      std::vector<uint8_t> seen(patch.bytes.size()), onDisk(patch.bytes.size());
      size_t gotSeen = 0, gotOnDisk = 0;
      if (!file.readAt(patch.offset, seen.data(), seen.size(), gotSeen) ||
          !file.readFresh(patch.offset, onDisk.data(), onDisk.size(), gotOnDisk))
        return makeError(ErrorKind::Io, m_path, "Cannot read the image: " + ImageFile::lastErrorText());
      if (gotSeen != seen.size() || gotOnDisk != onDisk.size() || seen != onDisk)
        return replacedError(m_path, "the bytes to be changed are not the ones read before");
    }
  }
  return {};
}

Error Workspace::stamp() {
  if (Error e = m_image.stampPrimaryDescriptor()) return e;
  m_unsynced = true;
  return {};
}

std::string Workspace::volumeIdentifier() const {
  if (!isOpen()) return {};
  const char* id = reinterpret_cast<const char*>(m_image.primaryDescriptor() + kVdVolumeId);
  return std::string(id, strnlen(id, kVdVolumeIdLength));
}

Error Workspace::listFolder(int folderIndex, FolderListing& out) const {
  if (!isOpen()) {
    out = {folderIndex, {}};
    return notOpenError(m_path);
  }
  Error e = m_reader.list(folderIndex, out);
  if (e && e.path.empty()) e.path = m_path;
  return e;
}

std::unique_ptr<FolderReader> Workspace::openReader(Error& error) const {
  auto file = std::make_unique<ImageFile>(ImageFile::kSmallCache);  // its readers list folders in order
  error = file->open(m_path, ImageFile::Mode::ReadOnly);
  if (error) return nullptr;
  const uint64_t budget = m_trees.entryBudget(file->size());
  auto reader = std::make_unique<FolderReader>(std::move(file), m_tree);
  reader->limitEntries(budget);
  return reader;
}

std::unique_ptr<FolderReader> Workspace::openSharedReader() const {
  auto reader = std::make_unique<FolderReader>(m_image.file(), m_tree);
  reader->limitEntries(m_trees.entryBudget(m_image.file().size()));
  return reader;
}

std::string Workspace::pathOf(const EntryRow& row) const {
  std::string parent = row.parentIndex >= 0 ? m_tree.pathOf(row.parentIndex) : std::string("/");
  if (parent != "/") parent += '/';
  return parent + row.component();
}

Error Workspace::rowError(ErrorKind kind, const EntryRow& row, const std::string& reason) const {
  return makeError(kind, pathOf(row), reason);
}

Error Workspace::checkRow(const EntryRow& row) const {
  if (!isOpen()) return notOpenError(m_path);
  // A file put in the image's place is not judged by what the open one held.
  if (Error e = checkSameFile()) return e;
  if (!row.isFolder) return checkFileRow(row);
  if (row.folderIndex < 0)
    return rowError(ErrorKind::Unpaired, row,
                    "This folder is missing from its tree's list of folders; nothing was written.");
  const CFolderNode& node = m_tree.node(row.folderIndex);
  if (!node.unpairedIn.empty())
    return rowError(ErrorKind::Unpaired, row, unprovenReason(row.folderIndex) + " Nothing was written.");
  // One record in every tree where the folder has a place, each standing where the listing said.
  for (const FolderPlace& place : node.places)
    if (!row.recordIn(place.tree))
      return rowError(ErrorKind::Unpaired, row,
                      std::string("This folder's record in the ") + m_trees.label(place.tree) +
                          " tree could not be found; nothing was written.");
  for (const EntryRecord& record : row.records) {
    HiddenMark mark;
    if (Error e = m_trees.reader(record.tree).readHidden(m_image.file(), record.offset, mark)) return e;
  }
  if (const int other = FolderPairing::treeWithOtherFiles(m_image.file(), m_trees, node); other >= 0)
    return rowError(ErrorKind::Unpaired, row,
                    std::string("This folder's records in the ") + m_trees.label(node.places.front().tree) +
                        " and the " + m_trees.label(other) +
                        " tree hold different files, so they are not proven to be one folder; nothing was written.");
  return {};
}

std::string Workspace::unprovenFileReason(const EntryRow& row) const {
  // Its folder's twin in a tree unproven, its own there is unknown.
  const CFolderNode& folder = m_tree.node(row.parentIndex);
  if (!folder.unpairedIn.empty())
    return "Its folder's twin in the " + std::string(m_trees.label(folder.unpairedIn.front())) +
           " tree could not be proven, so neither can this file's: " + unprovenReason(row.parentIndex);
  if (!row.unprovenIn.empty())
    return std::string("No twin of this file could be proven in the ") + m_trees.label(row.unprovenIn.front()) +
           " tree: a file that shares its data with others (an empty file, a link) is told apart only by a Rock "
           "Ridge name or a name that could give no other identifier, and no file there is proven to be this one. "
           "Hidden in some trees only, it would stay visible in the others.";
  return {};
}

Error Workspace::checkFileRow(const EntryRow& row) const {
  if (const std::string why = unprovenFileReason(row); !why.empty())
    return rowError(ErrorKind::Unpaired, row, why + " Nothing was written.");
  const ImageFile& file = m_image.file();
  for (const EntryRecord& record : row.records) {
    HiddenMark mark;
    if (Error e = m_trees.reader(record.tree).readHidden(file, record.offset, mark)) return e;
    // A twin joined by its name in a tree that reads an entry per file: its data must be the file's.
    const TreeReader& reader = m_trees.reader(record.tree);
    if (record.tree == row.records.front().tree || !reader.listingReadsEachEntry() || row.size == 0) continue;
    TreeEntry entry;
    entry.entryHandle = record.entryHandle;
    if (Error e = reader.completeEntry(file, entry)) return e;
    if (entry.size != row.size || entry.dataSector != row.dataSector)
      return rowError(ErrorKind::Unpaired, row,
                      std::string("This file's records in the ") + m_trees.label(row.records.front().tree) +
                          " and the " + reader.kind().label +
                          " tree hold different data, so they are not proven to be one file; nothing was written.");
  }
  return {};
}

std::string Workspace::unprovenReason(int folderNode) const {
  const CFolderNode& node = m_tree.node(folderNode);
  if (node.unpairedIn.empty()) return {};
  const int tree = node.unpairedIn.front();
  const std::string& problem = m_trees.problem(tree);
  if (!problem.empty())
    return std::string("The ") + m_trees.label(tree) + " tree of this image cannot be used (" + problem +
           "), so this folder cannot be hidden there.";
  const std::string& why = node.unpairedWhy.empty() ? std::string() : node.unpairedWhy.front();
  return std::string("No twin of this folder could be proven in the ") + m_trees.label(tree) + " tree: " +
         (why.empty() ? "no name kept whole, no file and no subfolder tells which folder there it is" : why) +
         ". Hidden in some trees only, it would stay visible in the others.";
}

Error Workspace::writeRow(EntryRow& row, bool hidden, const std::vector<RecordPlan>& plans, int& failedTree,
                          bool& restored) {
  m_pathListings.clear();  // their rows' marks change now
  ImageFile& file = m_image.file();
  std::vector<BytePatch> undo;
  restored = true;
  auto putBack = [&] {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it)
      if (!file.writeAt(it->offset, it->bytes.data(), it->bytes.size())) restored = false;
  };
  for (const RecordPlan& plan : plans) {
    failedTree = plan.tree;
    Error e;
    for (const BytePatch& patch : plan.patches) {
      BytePatch before{patch.offset, std::vector<uint8_t>(patch.bytes.size())};
      size_t got = 0;
      if (!file.readAt(patch.offset, before.bytes.data(), before.bytes.size(), got) || got != before.bytes.size()) {
        e = makeError(ErrorKind::Io, m_path, "Cannot read the image: " + ImageFile::lastErrorText());
        break;
      }
      if (before.bytes == patch.bytes) continue;  // already so
      m_unsynced = true;
      if (!file.writeAt(patch.offset, patch.bytes.data(), patch.bytes.size())) {
        e = makeError(ErrorKind::Io, m_path, ImageFile::lastErrorText());
        undo.push_back(std::move(before));  // part of it may have reached the file
        break;
      }
      undo.push_back(std::move(before));
    }
    if (e) {
      putBack();
      return e;
    }
  }
  for (EntryRecord& record : row.records) record.mark = hidden ? HiddenMark::Hidden : HiddenMark::None;
  row.state = hidden ? FolderState::Hidden : FolderState::Normal;
  return {};
}

Error Workspace::finish(WriteOutcome& outcome) {
  if (!m_unsynced) return {};
  if (m_image.file().sync()) {
    m_unsynced = false;
    return {};
  }
  std::string reason = ImageFile::lastErrorText();
  std::string text = "The image could not be flushed to the disk (" + reason + ")";
  text += outcome.changed.empty() ? "." : ", so these folders may not be on disk: " + joined(outcome.changed) + ".";
  text += " Running the same command again completes it.";
  return makeError(ErrorKind::SyncFailed, m_path, text);
}

namespace {
void reportFailure(WriteOutcome& outcome, const std::string& image, const std::string& folder, const char* tree,
                   const Error& cause, bool restored) {
  std::string text = "Could not write " + folder + " in the " + tree + " tree: " + cause.reason + ".";
  text += outcome.changed.empty() ? " No folder was changed before it."
                                  : " Changed before it: " + joined(outcome.changed) + ".";
  text += restored ? " " + folder + " was left as it was."
                   : " " + folder + " could not be put back and may be partly hidden.";
  text += " Running the same command again completes it.";
  outcome.error = makeError(ErrorKind::WriteFailed, image, text);
}
}  // namespace

bool Workspace::writeAndCount(EntryRow& row, bool hidden, WriteOutcome& outcome) {
  // Every write goes to the file the user sees, as it was read: checked again before each folder.
  std::vector<RecordPlan> plans;
  Error same = checkSameFile();
  if (!same) same = checkRowBytes(row, hidden, plans);
  if (same) {
    outcome.error = same;
    if (same.kind == ErrorKind::Replaced && !outcome.changed.empty())
      outcome.error.reason += " Written before the change was seen: " + joined(outcome.changed) + ".";
    return false;
  }
  int failedTree = 0;
  bool restored = true;
  if (Error e = writeRow(row, hidden, plans, failedTree, restored)) {
    reportFailure(outcome, m_path, pathOf(row), m_trees.label(failedTree), e, restored);
    return false;
  }
  outcome.changed.push_back(pathOf(row));
  ++outcome.rowsChanged;
  return true;
}

SelectionAction Workspace::planSelection(std::span<EntryRow* const> selected) const {
  SelectionAction action;
  std::vector<EntryRow*> usable;
  for (EntryRow* row : selected) {
    if (Error e = checkRow(*row))
      action.left.push_back({row, std::move(e)});
    else
      usable.push_back(row);
  }
  // Show only when every row that can be acted on is hidden in every tree: a partly hidden folder
  // is still seen somewhere, so it counts as one to hide. With no such row the command is Hide.
  action.hide =
      usable.empty() || std::any_of(usable.begin(), usable.end(), [](const EntryRow* row) { return !row->hidden(); });
  for (EntryRow* row : usable)
    if (!action.hide || !row->hidden()) action.rows.push_back(row);
  return action;
}

bool Workspace::selectionHides(std::span<EntryRow* const> selected) const {
  for (const EntryRow* row : selected)
    if (!row->hidden() && !checkRow(*row)) return true;
  for (const EntryRow* row : selected)
    if (row->hidden() && !checkRow(*row)) return false;
  return true;
}

WriteOutcome Workspace::setHidden(std::span<EntryRow* const> rows, bool hidden, const WriteProgress& progress) {
  WriteOutcome outcome;
  // Everything is checked first: a refused folder means nothing is written.
  for (const EntryRow* row : rows)
    if (Error e = checkRow(*row)) {
      outcome.error = e;
      return outcome;
    }
  if (!rows.empty())
    if (Error e = stampIfPending()) {
      outcome.error = e;
      return outcome;
    }
  for (size_t done = 0; done < rows.size(); ++done) {
    if (done > 0 && progress && !progress(done)) {
      outcome.cancelled = true;
      break;
    }
    if (!writeAndCount(*rows[done], hidden, outcome)) break;
  }
  if (Error e = finish(outcome); e && !outcome.error) outcome.error = e;
  return outcome;
}

int Workspace::copyTree(int node) const {
  if (!isOpen() || node < 0 || static_cast<size_t>(node) >= m_tree.size()) return -1;
  int best = -1;
  for (const FolderPlace& place : m_tree.node(node).places)
    if (m_trees.usable(place.tree) &&
        (best < 0 || m_trees.reader(place.tree).nameRank() > m_trees.reader(best).nameRank()))
      best = place.tree;
  return best;
}

Error Workspace::listContent(int tree, int treeFolder, std::vector<ContentEntry>& out) const {
  out.clear();
  if (!isOpen()) return notOpenError(m_path);
  if (tree < 0 || tree >= m_trees.count() || !m_trees.usable(tree))
    return makeError(ErrorKind::PathNotFound, m_path, "No such tree.");
  Error e = m_trees.reader(tree).listContent(m_image.file(), treeFolder, out);
  if (e && e.path.empty()) e.path = m_path;
  return e;
}

Error Workspace::folderRow(int node, EntryRow& out) const {
  if (node <= 0 || static_cast<size_t>(node) >= m_tree.size())
    return makeError(ErrorKind::PathNotFound, m_path, "The root folder has no row.");
  FolderListing listing;
  if (Error e = listFolder(m_tree.node(node).parent, listing); e && listing.rows.empty()) return e;
  for (EntryRow& row : listing.rows)
    if (row.folderIndex == node) {
      out = std::move(row);
      return {};
    }
  return makeError(ErrorKind::PathNotFound, m_tree.pathOf(node), "The folder's record could not be found.");
}

const Workspace::PathListing* Workspace::pathListing(int folder, Error& error) const {
  if (const auto kept = m_pathListings.find(folder); kept != m_pathListings.end()) return &kept->second;
  PathListing made;
  error = listFolder(folder, made.listing);
  if (error) return nullptr;
  for (size_t i = 0; i < made.listing.rows.size(); ++i)
    for (const EntryRecord& record : made.listing.rows[i].records)
      made.names.add(i, record.name, m_trees.reader(record.tree).kind().id);
  return &m_pathListings.emplace(folder, std::move(made)).first->second;
}

Error Workspace::findEntry(const std::string& entryPath, EntryRow& out) const {
  std::string_view path = entryPath;
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (last.empty()) return makeError(ErrorKind::PathNotFound, entryPath, "The root folder cannot be hidden.");
  int folder = -1;
  if (Error e =
          m_tree.findFolder(slash == std::string_view::npos ? std::string_view() : path.substr(0, slash), folder)) {
    e.path = entryPath;
    return e;
  }
  Error listed;
  const PathListing* cached = pathListing(folder, listed);
  if (listed) return listed;
  const FolderListing& listing = cached->listing;
  {
    const std::vector<size_t> matches = cached->names.find(last);
    if (matches.size() > 1) {
      // Each entry with its records, and a name that only it has, if any, to address it by.
      std::string text = "The path could mean " + std::to_string(matches.size()) + " entries:";
      for (size_t k = 0; k < matches.size(); ++k) {
        const EntryRow& row = listing.rows[matches[k]];
        text += std::string(k ? ";" : "") + " " + (row.isFolder ? "a folder" : "a file") + " with";
        std::string own;
        for (size_t i = 0; i < row.records.size(); ++i) {
          const EntryRecord& record = row.records[i];
          text += std::string(i ? "," : "") + " the " + m_trees.label(record.tree) + " record \"" + record.name +
                  "\" at byte " + std::to_string(record.offset);
          bool shared = false;
          for (size_t other = 0; other < matches.size(); ++other)
            for (const EntryRecord& r : listing.rows[matches[other]].records)
              shared = shared || (other != k && nameMatches(record.name, r.name, true));
          if (own.empty() && !shared) own = record.name;
        }
        std::string parent = row.parentIndex >= 0 ? m_tree.pathOf(row.parentIndex) : std::string("/");
        if (parent != "/") parent += '/';
        text += own.empty() ? " (no name of it tells it from the others)" : " (address it as " + parent + own + ")";
      }
      return makeError(ErrorKind::AmbiguousPath, entryPath, text + ".");
    }
    if (matches.size() == 1) {
      out = listing.rows[matches[0]];
      return {};
    }
  }
  return makeError(ErrorKind::PathNotFound, entryPath, "No such folder in the image.");
}

}  // namespace umbra
