#pragma once
// Rock Ridge names. Makers that write Rock Ridge keep each entry's original name in an "NM" entry
// of the record's system use area; it is the surest way to find an entry's Joliet twin.
#include <string>
#include <string_view>

namespace umbra {

// Whether a folder's own "." record starts its system use area with the SUSP "SP" marker.
bool hasSuspMarker(std::string_view systemUse);
// The name of the NM entries of a record's system use area; empty when there is none, or when it
// continues outside the record.
std::string rockRidgeName(std::string_view systemUse);

}  // namespace umbra
