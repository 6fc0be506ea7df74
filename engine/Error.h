#pragma once
// Error values of the engine: every failure carries the file and the reason; views decide how to show it.
#include <string>

namespace umbra {

enum class ErrorKind {
  None,
  Missing,        // the file does not exist
  NoPermission,   // the file cannot be read (or written, when asked to)
  ReadOnly,       // the file or its file system is read-only
  Locked,         // another process holds the file open for writing
  NotIso,         // no ISO 9660 primary volume descriptor
  Truncated,      // a structure points past the end of the file
  UnknownFormat,  // the folder tree cannot be built ("Unknown format. Open Failed.")
  Damaged,        // a structure of the image is damaged (a record list, a UDF tag); what was read before it stands
  Io,             // a read or write failed
  NotOpen,        // no image is open
  PathNotFound,   // a folder path names nothing in the image
  AmbiguousPath,  // a folder path could mean two folders
  Unpaired,       // a folder has no proven twin in a tree of the image; nothing was written
  WriteFailed,    // a write failed part-way; the message says what was changed
  SyncFailed,     // every write was made, but they could not be made durable
  Replaced,       // the path no longer names the open file, or another program changed it; nothing was written
};

// The image is not in a form the readers take whole: an open keeps the folders read before the fault.
inline bool isFormatError(ErrorKind kind) { return kind == ErrorKind::UnknownFormat || kind == ErrorKind::Damaged; }

struct Error {
  ErrorKind kind = ErrorKind::None;
  std::string path;    // the image file (or the folder path inside it)
  std::string reason;  // one line, for a person

  explicit operator bool() const { return kind != ErrorKind::None; }
  // "path: reason", or the reason alone when there is no path.
  std::string message() const { return path.empty() ? reason : path + ": " + reason; }
};

inline Error makeError(ErrorKind kind, std::string path, std::string reason) {
  return Error{kind, std::move(path), std::move(reason)};
}

// Said by every call that needs an open image and has none.
inline Error notOpenError(std::string path) {
  return makeError(ErrorKind::NotOpen, std::move(path), "No image is open.");
}

// Texts the user sees exactly as they stand.
inline constexpr const char* kUnknownFormatMessage = "Unknown format. Open Failed.";
// Said wherever a user hides a file: readers differ more for hidden files than for hidden folders.
inline constexpr const char* kHiddenFileReachNotice =
    "A hidden file is out of reach on Windows: its CD file system neither lists it nor opens it, even by its "
    "full path (on a disc with a UDF tree, Windows reads that tree and marks the file hidden instead). 7-Zip, "
    "isoinfo and Linux mounted with showassoc or unhide still list and open it.";

}  // namespace umbra
