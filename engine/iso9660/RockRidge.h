#pragma once
// Rock Ridge names. Makers that write Rock Ridge keep each entry's original name in an "NM" entry
// of the record's system use area; it is the surest way to find an entry's Joliet twin.
#include <cstdint>
#include <string>
#include <string_view>

namespace umbra {

// Whether a folder's own "." record starts its system use area with the SUSP "SP" marker.
bool hasSuspMarker(std::string_view systemUse);
// The name of the NM entries of a record's system use area; empty when there is none, or when it
// continues outside the record.
std::string rockRidgeName(std::string_view systemUse);

// What a copy of an entry needs from its Rock Ridge entries (within the record; continuation
// areas are not followed).
struct RockRidgeFacts {
  bool link = false;         // SL: a symbolic link
  std::string linkTarget;    // its target, components joined by "/"; empty when cut short
  bool hasModified = false;  // TF with a modification time
  int64_t modified = 0;      // seconds since 1970-01-01 UTC
  uint32_t childLink = 0;    // CL: the extent of the folder relocated from here; 0 when none
  bool relocated = false;    // RE: this folder stands in for one that lives elsewhere in the tree
};
RockRidgeFacts rockRidgeFacts(std::string_view systemUse);

// Seconds since 1970-01-01 UTC of a 7-byte directory record date (its own zone applied).
int64_t recordDateSeconds(const uint8_t* date);

}  // namespace umbra
