// How a typed path component picks entries by their names in every tree.
#include <gtest/gtest.h>

#include "engine/model/PathNames.h"

namespace umbra {
namespace {

TEST(PathNames, ExactNamesWinOverCaseAndIdentifiersMatchWithoutTheirVersion) {
  NameIndex names;
  names.add(0, "README.;1");  // ISO 9660 identifier of a name without extension
  names.add(1, "Beta");       // Joliet
  names.add(1, "BETA");       // the same entry's ISO 9660 identifier
  names.add(2, "beta");       // another entry
  names.add(3, "NOTES.TXT;1");
  names.add(3, "notes.txt");
  names.add(4, "LOG;X");      // not a version: the name as it is
  struct Case {
    const char* component;
    std::vector<size_t> items;
  };
  const Case cases[] = {
      {"README", {0}},          {"README.", {0}},   {"README.;1", {0}}, {"readme", {0}},
      {"Beta", {1}},            {"BETA", {1}},      {"beta", {2}},      {"bEtA", {1, 2}},
      {"NOTES.TXT", {3}},       {"Notes.Txt", {3}}, {"LOG;X", {4}},     {"LOG", {}},
      {"", {}},                 {"missing", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(names.find(c.component), c.items) << c.component;
  EXPECT_TRUE(nameMatches("README", "README.;1", true));
  EXPECT_FALSE(nameMatches("readme", "README.;1", true));
  EXPECT_TRUE(nameMatches("readme", "README.;1", false));
  EXPECT_FALSE(nameMatches("", "", false));
}

}  // namespace
}  // namespace umbra
