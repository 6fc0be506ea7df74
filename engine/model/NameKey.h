#pragma once
// Comparable forms of ISO 9660 and Joliet names. Makers derive the ISO 9660 name from the long
// name by upper-casing, replacing characters outside the d-characters and cutting it short, so
// both sides are brought to that form before they are compared.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace umbra {

// Upper case, version suffix (";1") and a trailing dot removed, every character other than A-Z
// and 0-9 (each UTF-8 code point counts once) turned into '_'.
std::string nameKey(std::string_view utf8Name);
// A hash of nameKey(utf8Name), made without building the key. Two names that hash alike count as
// the same name, so a collision can only keep a pair from being made, never make a wrong one.
uint64_t nameKeyHash(std::string_view utf8Name);
// The name without its version suffix (";1").
std::string_view withoutVersion(std::string_view name);
// UTF-16 units of a UTF-8 name: one per code point, two for those beyond the first 65,536.
size_t utf16Units(std::string_view name);
// The Joliet name a maker would write for a long name: * / : ; ? backslash and control characters
// replaced by '_', cut to 64 UTF-16 units.
std::string jolietForm(std::string_view name);
}  // namespace umbra
