// The makers' own identifiers against the model of where an identifier can come from: for every
// folder a maker named, its long name is among the identifier's origins, and a sole origin is
// always the right one. The truth is each folder's Rock Ridge name beside its identifier.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <random>

#include "TestImages.h"
#include "base/PathText.h"
#include "engine/model/IdentifierOrigins.h"

namespace umbra {
namespace {

using namespace test;

// Sibling names that clash in their first letters, numbers, case twins, dots, spaces, non-ASCII.
std::vector<std::string> clashingNames(std::mt19937& random, size_t count) {
  static const char* const stems[] = {"binutils", "Folder ", "dir 000", "libreadline", "photo.album", "a b",
                                      "Docs",     "docs",    "naïve ",  "日本語",        ".hidden",     "x"};
  std::vector<std::string> names;
  while (names.size() < count) {
    std::string name = stems[random() % std::size(stems)];
    switch (random() % 4) {
      case 0: name += std::to_string(random() % 2000); break;
      case 1: name += "-common-" + std::to_string(random() % 50); break;
      case 2: name += std::string(random() % 40, 'y') + std::to_string(random() % 10); break;
      default: break;
    }
    while (name.back() == ' ') name.pop_back();  // isoinfo does not show a trailing space
    // Windows' file names ignore case: there a case twin would be the same folder.
    const auto twin = [&name](const std::string& other) {
#ifdef _WIN32
      return std::equal(name.begin(), name.end(), other.begin(), other.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
      });
#else
      return other == name;
#endif
    };
    if (std::none_of(names.begin(), names.end(), twin)) names.push_back(name);
  }
  return names;
}

TEST(IdentifierOrigins, EveryMakersIdentifierHasItsNameAmongItsOrigins) {
  const std::pair<std::string, std::string> makers[] = {
      {genisoimage(), "-quiet -input-charset utf-8 -R"},
      {genisoimage(), "-quiet -input-charset utf-8 -R -l"},
      {genisoimage(), "-quiet -input-charset utf-8 -R -iso-level 3"},
      {xorriso() + " -as mkisofs", "-quiet -R"},
      {xorriso() + " -as mkisofs", "-quiet -R -iso-level 3"},
      {xorriso() + " -as mkisofs", "-quiet -R -l"},
  };
  std::mt19937 random(31);
  size_t checked = 0, sole = 0;
  for (int round = 0; round < 6; ++round) {
    TempDir dir;
    const std::vector<std::string> names = clashingNames(random, 20 + random() % 60);
    for (const std::string& name : names) fs::create_directories(dir / "src" / pathFromUtf8(name));  // UTF-8 on Windows too
    for (const auto& [maker, options] : makers) {
      SCOPED_TRACE(maker + " " + options);
      const fs::path image = dir / "i.iso";
      fs::remove(image);
      ASSERT_EQ(run(maker + " " + options + " -o " + quote(image.string()) + " " + quote((dir / "src").string()) +
                    " 2>/dev/null"),
                0);
      const std::vector<IsoinfoEntry> plain = isoinfoList(image, false), named = isoinfoList(image, false, true);
      ASSERT_EQ(plain.size(), named.size());
      std::vector<std::string> identifiers, truth;
      for (size_t i = 0; i < plain.size(); ++i)
        if (plain[i].directory == "/" && plain[i].name != "." && plain[i].name != "..") {
          identifiers.push_back(plain[i].name);
          truth.push_back(named[i].name);
        }
      ASSERT_EQ(identifiers.size(), names.size());
      const IdentifierOrigins origins(names, identifiers);
      for (size_t k = 0; k < identifiers.size(); ++k) {
        const size_t own = static_cast<size_t>(std::find(names.begin(), names.end(), truth[k]) - names.begin());
        ASSERT_LT(own, names.size()) << "[" << truth[k] << "] " << identifiers[k];
        const std::vector<size_t> from = origins.origins(k, names.size());
        EXPECT_NE(std::find(from.begin(), from.end(), own), from.end()) << identifiers[k] << " from " << truth[k];
        if (const int one = origins.soleOrigin(k); one >= 0) {
          EXPECT_EQ(static_cast<size_t>(one), own) << identifiers[k];
          ++sole;
        }
        ++checked;
      }
    }
  }
  // The model proves something: some identifiers name their folder on their own.
  EXPECT_GT(sole, checked / 10) << sole << " of " << checked;
}

}  // namespace
}  // namespace umbra
