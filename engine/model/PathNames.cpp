#include "engine/model/PathNames.h"

#include <algorithm>

#include "engine/model/NameKey.h"

namespace umbra {

namespace {

std::string folded(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// The forms a component may take to name this name: as stored, without the version, and without
// the dot before a version ("README.;1").
template <typename Visit>
void forEachForm(std::string_view name, Visit visit) {
  visit(name);
  const std::string_view base = withoutVersion(name);
  if (base.size() != name.size()) visit(base);
  if (!base.empty() && base.back() == '.') visit(base.substr(0, base.size() - 1));
}

}  // namespace

bool nameMatches(std::string_view component, std::string_view name, bool exact) {
  if (component.empty()) return false;
  bool match = false;
  const std::string foldedComponent = exact ? std::string() : folded(component);
  forEachForm(name, [&](std::string_view form) {
    match = match || (exact ? form == component : form.size() == component.size() && folded(form) == foldedComponent);
  });
  return match;
}

void NameIndex::add(size_t item, std::string_view name) {
  forEachForm(name, [&](std::string_view form) {
    if (form.empty()) return;
    m_exact.emplace(std::string(form), item);
    m_folded.emplace(folded(form), item);
  });
}

std::vector<size_t> NameIndex::find(std::string_view component) const {
  std::vector<size_t> items;
  if (component.empty()) return items;
  auto collect = [&](const std::unordered_multimap<std::string, size_t>& names, const std::string& key) {
    const auto [first, last] = names.equal_range(key);
    for (auto it = first; it != last; ++it) items.push_back(it->second);
  };
  collect(m_exact, std::string(component));
  if (items.empty()) collect(m_folded, folded(component));
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  return items;
}

}  // namespace umbra
