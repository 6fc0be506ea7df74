#include "ImageHiding.h"

#include <system_error>
#include <utility>

#include "base/PathText.h"
#include "engine/Workspace.h"

namespace fs = std::filesystem;

namespace cdimage {
namespace {

// The names of the path, '/'-separated ('\' too on Windows, where it cannot be part of a name).
std::vector<std::string> componentsOf(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (const char c : path) {
#ifdef _WIN32
    const bool separator = c == '/' || c == '\\';
#else
    const bool separator = c == '/';
#endif
    if (!separator) {
      part += c;
    } else if (!part.empty()) {
      parts.push_back(std::move(part));
      part.clear();
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

}  // namespace

std::string hidePathProblem(const fs::path& source, const std::string& path) {
  const std::vector<std::string> parts = componentsOf(path);
  const std::string named = "--hide " + path + ": ";
  if (parts.empty()) return named + "the root folder cannot be hidden";
  fs::path entry = source;
  for (const std::string& part : parts) {
    if (part == "." || part == "..")
      return named + "name an entry by its path inside the source folder, without . or ..";
    entry /= umbra::pathFromUtf8(part);
  }
  std::error_code ec;
  const fs::file_status status = fs::status(entry, ec);  // the walk follows symbolic links too
  if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) return named + ec.message();
  if (!fs::exists(status)) return named + "not in the source folder " + umbra::utf8FromPath(source);
  if (!fs::is_directory(status) && !fs::is_regular_file(status)) return named + "neither a file nor a folder";
  return {};
}

std::string imagePathOf(const std::string& path) {
  std::string imagePath;
  for (const std::string& part : componentsOf(path)) imagePath += "/" + part;
  return imagePath;
}

bool hideInImage(const fs::path& image, const std::vector<std::string>& paths, std::string* error, bool* hidFiles) {
  using umbra::EntryRow;
  using umbra::Error;
  const std::string imageName = umbra::utf8FromPath(image);
  *hidFiles = false;
  {
    umbra::Workspace ws;
    if (Error e = ws.open(imageName, umbra::OpenMode::WorkUnstamped)) {
      *error = "the image cannot be opened to hide entries in it: " + e.message();
      return false;
    }
    // A tree the engine leaves alone would keep every entry in view.
    if (!ws.notices().empty()) {
      *error = "the entries cannot be hidden in every tree: " + ws.notices().front();
      return false;
    }
    std::vector<EntryRow> rows;
    for (const std::string& path : paths) {
      EntryRow row;
      if (Error e = ws.findEntry(imagePathOf(path), row)) {
        *error = "--hide " + path + ": not found in the image: " + e.reason;
        return false;
      }
      // Judged here, so a refusal names the path as it was given.
      if (Error e = ws.checkRow(row)) {
        *error = "--hide " + path + ": cannot be hidden: " + e.reason;
        return false;
      }
      *hidFiles = *hidFiles || !row.isFolder;
      rows.push_back(std::move(row));
    }
    std::vector<EntryRow*> targets;
    for (EntryRow& row : rows) targets.push_back(&row);
    const umbra::WriteOutcome outcome = ws.setHidden(targets, true);
    if (outcome.error) {
      // The engine's advice is for an image that stays (what changed, how to repair it); this one is
      // the maker's temporary file, removed with the failure: only what failed is said.
      const std::string& reason = outcome.error.reason;
      *error = "the entries could not be hidden, so no image was made: " + reason.substr(0, reason.find(". "));
      return false;
    }
  }
  // Read back from the closed file, as a reader of the image will find it.
  umbra::Workspace check;
  if (Error e = check.open(imageName, umbra::OpenMode::ReadOnly)) {
    *error = "the image cannot be read back after hiding: " + e.message();
    return false;
  }
  for (const std::string& path : paths) {
    EntryRow row;
    if (Error e = check.findEntry(imagePathOf(path), row)) {
      *error = "--hide " + path + ": not found when the image was read back: " + e.reason;
      return false;
    }
    if (!row.hidden()) {
      *error = "--hide " + path + ": read back, it is not hidden in every tree of the image";
      return false;
    }
  }
  return true;
}

const char* hiddenFileNotice() { return umbra::kHiddenFileReachNotice; }

}  // namespace cdimage
