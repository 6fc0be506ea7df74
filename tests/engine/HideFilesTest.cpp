// Files hide and show in every tree like folders: the Existence and Associated File bits on each
// record (a file keeps its Directory bit clear), UDF's hidden bit with its CRC; showing puts every
// byte back. A file that shares its data with others (an empty file) is hidden only where a Rock
// Ridge name or a name only it could give proves its twins.
#include <gtest/gtest.h>

#include <sstream>

#include "TestImages.h"
#include "engine/Workspace.h"

namespace umbra {
namespace {

using namespace test;

bool udfHidden(const fs::path& image, const std::string& path) {
  std::string out;
  EXPECT_EQ(
      run("/usr/bin/python3 " + quote(std::string(UMBRA_UDF_SCRIPTS) + "/udfwalk.py") + " " + quote(image.string()),
          &out),
      0);
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(path + " ", 0) != 0) continue;
    std::istringstream fields(line.substr(path.size()));
    std::string characteristics;
    fields >> characteristics;
    return std::stoul(characteristics, nullptr, 16) & 1;
  }
  ADD_FAILURE() << path << " is not in the UDF tree";
  return false;
}

struct FileCase {
  Maker maker;
  const char* options;
  const char* path;        // the file, by its Joliet path
  const char* identifier;  // its ISO 9660 identifier as isoinfo prints it (where no Rock Ridge name says)
  bool hides;              // proven in every tree, or refused with nothing written
};

TEST(HideFiles, EveryTreeOrNothingAndShowPutsEveryByteBack) {
  const FileCase cases[] = {
      {Maker::Genisoimage, "", "/docs/report.txt", "REPORT.TXT;1", true},
      {Maker::Genisoimage, "-R -udf", "/docs/report.txt", "", true},
      {Maker::Xorriso, "", "/docs/report.txt", "", true},
      // Empty files: their extents prove nothing (xorriso gives them all one).
      {Maker::Genisoimage, "-R", "/docs/empty-file-one.txt", "", true},
      {Maker::Xorriso, "", "/docs/empty-file-one.txt", "", true},
      {Maker::Genisoimage, "-udf", "/docs/lonely.txt", "LONELY.TXT;1", true},  // no other name gives LONELY
      // Nothing joins genisoimage's cut names of empty files to their Joliet names: the row, known by
      // its ISO 9660 name, is refused.
      {Maker::Genisoimage, "", "/docs/EMPTY000.TXT", "EMPTY000.TXT;1", false},
      {Maker::Xorriso, "--norock", "/docs/EMPTY_F0.TXT", "EMPTY_F0.TXT;1", false},  // a counter either name could get
  };
  TempDir dir;
  writeFile(dir / "src" / "docs" / "report.txt", "the report\n");
  writeFile(dir / "src" / "docs" / "empty-file-one.txt", "");
  writeFile(dir / "src" / "docs" / "empty-file-two.txt", "");
  writeFile(dir / "src" / "docs" / "lonely.txt", "");
  for (const FileCase& c : cases) {
    SCOPED_TRACE(std::string(makerName(c.maker)) + " " + c.options + " " + c.path);
    const fs::path image = makeImage(c.maker, dir / "src", dir / "f.iso", true, c.options);
    const bool udf = std::string(c.options).find("-udf") != std::string::npos;
    const auto original = readBytes(image);
    {
      Workspace ws;
      ASSERT_FALSE(ws.open(image.string(), OpenMode::WorkUnstamped));
      EntryRow row;
      ASSERT_FALSE(ws.findEntry(c.path, row));
      ASSERT_FALSE(row.isFolder);
      EntryRow* rows[] = {&row};
      const WriteOutcome hidden = ws.setHidden(rows, true);
      if (!c.hides) {
        EXPECT_EQ(hidden.error.kind, ErrorKind::Unpaired) << hidden.error.message();
        ws.close();
        EXPECT_EQ(readBytes(image), original);
        continue;
      }
      ASSERT_FALSE(hidden.error) << hidden.error.message();
    }
    // Exactly the file's records carry the bits (5: Existence and Associated File, Directory clear):
    // found by the Rock Ridge name where the maker wrote one, else by the identifier it gave.
    // xorriso writes Rock Ridge unless told not to.
    const bool rockRidge = std::string(c.options).find("-R") != std::string::npos ||
                           (c.maker == Maker::Xorriso && std::string(c.options).find("--norock") == std::string::npos);
    const std::string name = fs::path(c.path).filename().string();
    const auto hiddenRecords = [&](bool joliet, bool names) {
      std::vector<std::pair<std::string, unsigned>> hidden;
      for (const IsoinfoEntry& e : isoinfoList(image, joliet, names)) {
        if ((e.flags & 1) && e.name != "." && e.name != "..") hidden.emplace_back(e.directory + e.name, e.flags);
      }
      return hidden;
    };
    using Hidden = std::vector<std::pair<std::string, unsigned>>;
    EXPECT_EQ(hiddenRecords(false, rockRidge),
              (Hidden{{rockRidge ? std::string(c.path) : "/DOCS/" + std::string(c.identifier), 5u}}));
    EXPECT_EQ(hiddenRecords(true, false), (Hidden{{c.path, 5u}}));
    if (udf) {
      EXPECT_TRUE(udfHidden(image, c.path));
    }
    {
      Workspace ws;
      ASSERT_FALSE(ws.open(image.string(), OpenMode::WorkUnstamped));
      EntryRow row;
      ASSERT_FALSE(ws.findEntry(c.path, row));
      EXPECT_TRUE(row.hidden());
      EntryRow* rows[] = {&row};
      ASSERT_FALSE(ws.setHidden(rows, false).error);
    }
    const auto shown = readBytes(image);
    ASSERT_EQ(shown.size(), original.size());
    for (size_t at = 0; at < shown.size(); ++at) {
      // The primary descriptor's preparer and application fields carry our stamp from the first write on.
      const bool stamp = at >= 0x8000 + 446 && at < 0x8000 + 702;
      if (shown[at] != original[at] && !stamp)
        ADD_FAILURE() << "byte " << at << " (sector " << at / 2048 << ") left changed";
    }
  }
}

}  // namespace
}  // namespace umbra
