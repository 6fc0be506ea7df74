#pragma once
// Comparable forms of ISO 9660 and Joliet names. Makers derive the ISO 9660 name from the long
// name by upper-casing, replacing characters outside the d-characters and cutting it short, so
// both sides are brought to that form before they are compared.
#include <string>
#include <string_view>

namespace umbra {

// Upper case, version suffix (";1") and a trailing dot removed, every character other than A-Z
// and 0-9 (each UTF-8 code point counts once) turned into '_'.
std::string nameKey(std::string_view utf8Name);
// The name without its version suffix (";1").
std::string_view withoutVersion(std::string_view name);
// Whether a path component names an entry: the ISO 9660 identifier ignoring case with or
// without its version, or the Joliet name as it stands (with or without its version).
bool componentMatches(std::string_view component, std::string_view isoName, std::string_view jolietName);

}  // namespace umbra
