#pragma once
// Comparable forms of ISO 9660 and Joliet names. Makers derive the ISO 9660 name from the long
// name by upper-casing, replacing characters outside the d-characters and cutting it short, so
// both sides are brought to that form before they are compared.
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
}  // namespace umbra
