#include "engine/model/IdentifierOrigins.h"

#include <algorithm>

namespace umbra {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBase36(char c) { return isDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

size_t decimalDigits(size_t n) {
  size_t digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

// Identifiers are cut to 8 characters at the shortest: one this long may be the start of a longer name.
constexpr size_t kShortestCut = 8;
// A counter of 3 base-36 characters follows the first 5 characters of the name.
constexpr size_t kBase36Counter = 3, kBase36Prefix = 5;

void addUnique(std::vector<std::string>& keys, std::string key) {
  if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(std::move(key));
}

}  // namespace

std::string IdentifierOrigins::skeleton(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z')
      out += static_cast<char>(c - 'a' + 'A');
    else if ((c >= 'A' && c <= 'Z') || isDigit(ch))
      out += ch;
    else if (!out.empty() && out.back() != '_')
      out += '_';
  }
  if (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

namespace {

// The identifiers makers make from a name before any clash, by their skeletons: each character
// mapped (one '_' per character or per byte), cut to 8 characters (with a dot: 8 and 3), 30, 31
// or 37, or not cut. Two names with one in common may clash, and then take counters.
std::vector<std::string> naturalSkeletons(std::string_view name) {
  std::vector<std::string> out;
  for (bool perByte : {false, true}) {
    std::string mapped;
    for (size_t i = 0; i < name.size(); ++i) {
      const auto c = static_cast<unsigned char>(name[i]);
      if (c >= 0x80) {
        if (perByte || (c & 0xC0) != 0x80) mapped += '_';
      } else {
        mapped += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
      }
    }
    const size_t dot = mapped.rfind('.');
    for (size_t cut : {size_t{8}, size_t{30}, size_t{31}, size_t{37}, std::string::npos}) {
      std::string form;
      if (cut == 8 && dot != std::string::npos)
        form = mapped.substr(0, std::min<size_t>(dot, 8)) + "." + mapped.substr(dot + 1, 3);
      else
        form = mapped.substr(0, cut);
      addUnique(out, IdentifierOrigins::skeleton(form));
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> IdentifierOrigins::longKeys(std::string_view name, bool mayTakeCounter) {
  // The whole name, and the parts before its first and its last dot (where makers split off an extension).
  std::vector<std::string> roots{skeleton(name)};
  if (const size_t first = name.find('.'); first != std::string_view::npos) {
    addUnique(roots, skeleton(name.substr(0, first)));
    addUnique(roots, skeleton(name.substr(0, name.rfind('.'))));
  }
  // N: the identifier is the name; T: it begins the name (cut short); C and D the same with a counter.
  std::vector<std::string> keys;
  for (const std::string& root : roots) {
    addUnique(keys, "N" + root);
    if (mayTakeCounter) addUnique(keys, "C" + root);
    // The empty start too: a name of other characters only, cut, leaves nothing but '_'.
    for (size_t length = 0; length <= root.size(); ++length) {
      addUnique(keys, "T" + root.substr(0, length));
      if (mayTakeCounter) addUnique(keys, "D" + root.substr(0, length));
    }
  }
  return keys;
}

std::vector<std::string> IdentifierOrigins::identifierKeys(std::string_view identifier) const {
  std::vector<std::string> keys;
  const std::string whole = skeleton(identifier);
  addUnique(keys, "N" + whole);
  if (identifier.size() >= kShortestCut) addUnique(keys, "T" + whole);
  std::vector<std::string_view> roots{identifier};
  if (const size_t dot = identifier.rfind('.'); dot != std::string_view::npos) {
    const std::string_view root = identifier.substr(0, dot);
    roots.push_back(root);
    addUnique(keys, (root.size() >= kShortestCut ? "T" : "N") + skeleton(root));
  }
  // A counter: 3 base-36 characters after 5 or more of the name, or digits after the rest of it.
  const size_t shortestPrefix =
      std::max<size_t>(1, std::min<size_t>(kBase36Prefix, kShortestCut - std::min(m_digits, kShortestCut - 1)));
  for (std::string_view root : roots) {
    // Before an extension, makers cut the name as short as the extension's length asks.
    const size_t shortest = root.size() < identifier.size() ? 0 : shortestPrefix;
    // A name that begins with its extension (".hidden") takes the counter before the dot: "0.HIDDEN".
    auto counter = [&](size_t length) {
      if (root.size() < length || (root.size() == length && root.size() == identifier.size())) return;
      const std::string_view prefix = root.substr(0, root.size() - length);
      addUnique(keys, "C" + skeleton(prefix));
      if (prefix.size() >= shortest) addUnique(keys, "D" + skeleton(prefix));
    };
    if (root.size() > kBase36Counter &&
        std::all_of(root.end() - kBase36Counter, root.end(), [](char c) { return isBase36(c); }))
      counter(kBase36Counter);
    for (size_t digits = 1; digits <= m_digits && digits <= root.size() && isDigit(root[root.size() - digits]); ++digits)
      counter(digits);
  }
  return keys;
}

IdentifierOrigins::IdentifierOrigins(const std::vector<std::string>& longNames,
                                     const std::vector<std::string>& identifiers)
    : m_digits(decimalDigits(longNames.size() + identifiers.size())) {
  // A name takes a counter only on a clash: with another name's identifier, or, for a name long
  // enough to be cut, with a file's.
  std::unordered_map<std::string, size_t> clashes;
  std::vector<std::vector<std::string>> natural(longNames.size());
  for (size_t i = 0; i < longNames.size(); ++i) {
    natural[i] = naturalSkeletons(longNames[i]);
    for (const std::string& form : natural[i]) ++clashes[form];
  }
  m_longKeys.resize(longNames.size());
  for (size_t i = 0; i < longNames.size(); ++i) {
    bool mayTakeCounter = longNames[i].size() > kShortestCut;
    for (const std::string& form : natural[i]) mayTakeCounter = mayTakeCounter || clashes[form] > 1;
    m_longKeys[i] = longKeys(longNames[i], mayTakeCounter);
    for (const std::string& key : m_longKeys[i]) m_longsByKey[key].push_back(i);
  }
  m_identifierKeys.resize(identifiers.size());
  for (size_t i = 0; i < identifiers.size(); ++i) {
    m_identifierKeys[i] = identifierKeys(identifiers[i]);
    for (const std::string& key : m_identifierKeys[i]) m_identifiersByKey[key].push_back(i);
  }
}

template <typename Visit>
void IdentifierOrigins::forEachOrigin(size_t identifier, Visit visit) const {
  for (const std::string& key : m_identifierKeys[identifier]) {
    const auto found = m_longsByKey.find(key);
    if (found == m_longsByKey.end()) continue;
    for (size_t origin : found->second)
      if (!visit(origin)) return;
  }
}

std::vector<size_t> IdentifierOrigins::origins(size_t identifier, size_t most) const {
  std::vector<size_t> found;
  if (identifier >= m_identifierKeys.size()) return found;
  forEachOrigin(identifier, [&](size_t origin) {
    if (std::find(found.begin(), found.end(), origin) == found.end()) found.push_back(origin);
    return found.size() < most;
  });
  std::sort(found.begin(), found.end());
  return found;
}

int IdentifierOrigins::soleOrigin(size_t identifier) const {
  const std::vector<size_t> found = origins(identifier, 2);
  if (found.size() != 1) return -1;
  // The origin must give no other identifier of the folder either.
  for (const std::string& key : m_longKeys[found[0]]) {
    const auto given = m_identifiersByKey.find(key);
    if (given == m_identifiersByKey.end()) continue;
    for (size_t other : given->second)
      if (other != identifier) return -1;
  }
  return static_cast<int>(found[0]);
}

}  // namespace umbra
