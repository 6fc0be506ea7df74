#pragma once
// How a component of a path the user typed names an entry or a folder: by any of its names in any
// tree, exactly first (an ISO 9660 identifier also without its version ";1" and the dot a maker
// adds to a name without extension), else differing only in ASCII case.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace umbra {

// Whether a path component names an entry of the given name: "exact" compares as stored (an ISO
// 9660 identifier without its version or trailing dot), otherwise ASCII letters match either case.
bool nameMatches(std::string_view component, std::string_view name, bool exact);

// The items (entries or folders, by the caller's numbers) of one folder, by every name each has.
class NameIndex {
 public:
  void add(size_t item, std::string_view name);
  // The items a component names, ascending: those it names exactly when there are any, else
  // those whose name differs only in case.
  std::vector<size_t> find(std::string_view component) const;

 private:
  std::unordered_multimap<std::string, size_t> m_exact, m_folded;
};

}  // namespace umbra
