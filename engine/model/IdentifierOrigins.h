#pragma once
// Which long names of one folder could have given an ISO 9660 identifier in the same folder.
// Makers derive identifiers from long names: upper case; every other character replaced by '_'
// (one per character or one per byte); cut to 8 characters (folders with a dot: 8 and 3), 30, 31
// or 37; and on a clash a counter put in place of the end (3 base-36 characters after the first 5,
// or a few digits after the first 8 - digits; only names that clash take one). The model here is
// wider than any one maker: names
// are compared by their skeletons (letters and digits, any run of other characters as one '_'), so
// a name counts as an origin whenever some maker could have made the identifier from it. An
// identifier with exactly one origin, which gives no other identifier of the folder, names its folder.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace umbra {

class IdentifierOrigins {
 public:
  IdentifierOrigins(const std::vector<std::string>& longNames, const std::vector<std::string>& identifiers);

  // The long name the identifier comes from when only that one could have given it and it could
  // have given no other identifier of the folder; -1 otherwise.
  int soleOrigin(size_t identifier) const;
  // Up to `most` long names that could have given the identifier (for messages).
  std::vector<size_t> origins(size_t identifier, size_t most) const;

  // Letters upper-cased and digits kept; every run of other characters (bytes of UTF-8 included)
  // one '_'; none at either end.
  static std::string skeleton(std::string_view name);

 private:
  // Keys a long name answers to, and keys an identifier asks for: they are origin and identifier
  // when they share one.
  static std::vector<std::string> longKeys(std::string_view name, bool mayTakeCounter);
  std::vector<std::string> identifierKeys(std::string_view identifier) const;
  template <typename Visit>
  void forEachOrigin(size_t identifier, Visit visit) const;

  size_t m_digits = 1;  // the most digits a counter may take among this many names
  std::vector<std::vector<std::string>> m_identifierKeys;
  std::unordered_map<std::string, std::vector<size_t>> m_longsByKey, m_identifiersByKey;
  std::vector<std::vector<std::string>> m_longKeys;
};

}  // namespace umbra
