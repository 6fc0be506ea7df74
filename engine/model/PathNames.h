#pragma once
// How a component of a path the user typed names an entry or a folder: by any of its names in any
// tree. An identifier as stored (also without its version ";1") wins over one that matches only
// without the dot a maker adds to a name without extension ("README.;1"), which wins over a name
// that differs only in ASCII case. A name followed by ";" and a tree's id ("DOCS;joliet") names
// only an entry with that name in that tree, for entries no name of which tells them apart.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace umbra {

// Whether a path component names an entry of the given name: "exact" compares as stored (an ISO
// 9660 identifier also without its version or trailing dot), otherwise ASCII letters match either case.
bool nameMatches(std::string_view component, std::string_view name, bool exact);

// The items (entries or folders, by the caller's numbers) of one folder, by every name each has.
class NameIndex {
 public:
  // `tree` is the id of the tree the name is from ("iso9660", "joliet", "udf"), for qualified components.
  void add(size_t item, std::string_view name, std::string_view tree = {});
  // The items a component names, ascending: those it names as stored when there are any, else
  // those it names without a trailing dot, else those whose name differs only in case, else
  // those a qualified component names.
  std::vector<size_t> find(std::string_view component) const;
  // How many items a component names as stored.
  size_t countExact(std::string_view component) const { return m_exact.count(std::string(component)); }

 private:
  std::unordered_multimap<std::string, size_t> m_exact, m_dotless, m_folded, m_qualified;
};

}  // namespace umbra
