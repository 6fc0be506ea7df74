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

// A name as stored and without its version ("README.;1", "README."), then without the dot before
// the version ("README").
struct Forms {
  std::string_view stored, unversioned, dotless;
};
Forms formsOf(std::string_view name) {
  Forms forms{name, withoutVersion(name), {}};
  if (forms.unversioned.size() > 1 && forms.unversioned.back() == '.')
    forms.dotless = forms.unversioned.substr(0, forms.unversioned.size() - 1);
  return forms;
}

}  // namespace

bool nameMatches(std::string_view component, std::string_view name, bool exact) {
  if (component.empty()) return false;
  const Forms forms = formsOf(name);
  for (std::string_view form : {forms.stored, forms.unversioned, forms.dotless}) {
    if (form.empty()) continue;
    if (exact ? form == component : form.size() == component.size() && folded(form) == folded(component)) return true;
  }
  return false;
}

void NameIndex::add(size_t item, std::string_view name, std::string_view tree) {
  if (name.empty()) return;
  const Forms forms = formsOf(name);
  m_exact.emplace(std::string(forms.stored), item);
  if (forms.unversioned != forms.stored) m_exact.emplace(std::string(forms.unversioned), item);
  if (!forms.dotless.empty()) m_dotless.emplace(std::string(forms.dotless), item);
  for (std::string_view form : {forms.stored, forms.unversioned, forms.dotless})
    if (!form.empty()) m_folded.emplace(folded(form), item);
  if (!tree.empty()) m_qualified.emplace(std::string(forms.stored) + ";" + std::string(tree), item);
}

std::vector<size_t> NameIndex::find(std::string_view component) const {
  std::vector<size_t> items;
  if (component.empty()) return items;
  auto collect = [&](const std::unordered_multimap<std::string, size_t>& names, const std::string& key) {
    const auto [first, last] = names.equal_range(key);
    for (auto it = first; it != last; ++it) items.push_back(it->second);
  };
  const std::string key(component);
  collect(m_exact, key);
  if (items.empty()) collect(m_dotless, key);
  if (items.empty()) collect(m_folded, folded(component));
  if (items.empty()) collect(m_qualified, key);
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  return items;
}

}  // namespace umbra
