#pragma once
// Rock Ridge entries of a directory record. Makers that write Rock Ridge keep each entry's original
// name in an "NM" entry of the record's system use area; it is the surest way to find an entry's
// Joliet twin. Folders deeper than ISO 9660 allows are moved into a folder of their own (RR_MOVED):
// the moved folder's record there carries "RE", and a placeholder record with a "CL" entry (the
// moved folder's directory sector) stands where the folder belongs.
#include <cstdint>
#include <string>
#include <string_view>

namespace umbra {

class ImageFile;

// Whether a folder's own "." record starts its system use area with the SUSP "SP" marker.
bool hasSuspMarker(std::string_view systemUse);

// What one record's Rock Ridge entries say, continuation areas included.
struct RockRidgeEntries {
  std::string name;          // the NM name; empty when there is none or it is cut short
  bool relocated = false;    // RE: the record of a moved folder in the folder holding moved folders
  bool childLink = false;    // CL: a placeholder for a moved folder
  uint32_t childSector = 0;  // CL: the moved folder's directory sector
  bool link = false;         // SL: a symbolic link
  std::string linkTarget;    // its target, components joined by "/"; empty when cut short
  bool hasModified = false;  // TF with a modification time
  int64_t modified = 0;      // seconds since 1970-01-01 UTC
};

// Reads the entries of a record's system use area. With a file, continuation areas (CE) are
// followed too, a bounded number of them and only inside the image; without one, they are not.
RockRidgeEntries readRockRidge(std::string_view systemUse, const ImageFile* file = nullptr);

// Seconds since 1970-01-01 UTC of a 7-byte directory record date (its own zone applied).
int64_t recordDateSeconds(const uint8_t* date);

}  // namespace umbra
