// Every folder addressable: Rock Ridge relocated folders at their logical place, folders a tree
// provably lacks, and folders only the Joliet and UDF trees hold. Images are made by genisoimage
// and pycdlib; what was written is judged by isoinfo and pycdlib.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "TestImages.h"
#include "base/ByteOrder.h"

namespace umbra {
namespace {

using namespace test;

std::string cliPath() { return quote(builtProgram("umbradisc-cli")); }

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Bytes where two files differ, outside the primary volume descriptor (sector 16) that hide and show stamp.
std::vector<uint64_t> changedOutsideStamp(const fs::path& a, const fs::path& b) {
  std::vector<uint64_t> changed;
  for (uint64_t at : differingBytes(a, b))
    if (at < 16 * 2048 || at >= 17 * 2048) changed.push_back(at);
  return changed;
}

class Addressable : public ::testing::Test {
 protected:
  int cli(const std::string& args, std::string* out = nullptr) {
    return run(cliPath() + " " + args + " 2>" + quote((dir / "err.txt").string()), out);
  }
  std::string errors() {
    const auto bytes = readBytes(dir / "err.txt");
    return std::string(bytes.begin(), bytes.end());
  }
  // A Python expression over the JSON a command printed.
  std::string json(const std::string& args, const std::string& expression) {
    EXPECT_EQ(cli(args + " > " + quote((dir / "out.json").string())), 0) << errors();
    std::string out;
    run("/usr/bin/python3 -c " + quote("import json,sys; d=json.load(open(sys.argv[1])); print(" + expression + ")") +
            " " + quote((dir / "out.json").string()),
        &out);
    return out.substr(0, out.find_last_not_of('\n') + 1);
  }
  // Whether pycdlib still opens the image and walks its trees.
  bool pycdlibOpens(const fs::path& image) {
    const std::string script =
        "import sys, pycdlib\n"
        "p = pycdlib.PyCdlib(); p.open(sys.argv[1])\n"
        "for kw in ['iso_path', 'rr_path', 'joliet_path', 'udf_path']:\n"
        "    try:\n"
        "        list(p.walk(**{kw: '/'}))\n"
        "    except pycdlib.pycdlibexception.PyCdlibInvalidInput:\n"
        "        pass\n"
        "print('opened')\n";
    writeFile(dir / "open.py", script);
    std::string out;
    return run("/usr/bin/python3 " + quote((dir / "open.py").string()) + " " + quote(image.string()) + " 2>&1", &out) ==
               0 &&
           out.find("opened") != std::string::npos;
  }
  TempDir dir;
};

// A tree ten folders deep, each holding one file: makers relocate the ones below the eighth level.
void makeDeepTree(const fs::path& root) {
  fs::path folder = root;
  for (int level = 1; level <= 10; ++level) {
    folder /= "d" + std::to_string(level);
    writeFile(folder / ("f" + std::to_string(level) + ".txt"), "file " + std::to_string(level) + "\n");
  }
}

// The folders of the Rock Ridge tree at their logical places, from isoinfo -R: a moved folder stands
// where the placeholder of its name (a record isoinfo lists but does not enter) is.
std::set<std::string> isoinfoLogicalFolders(const fs::path& image) {
  const auto entries = isoinfoList(image, false, true);
  std::set<std::string> folders, listed;
  for (const IsoinfoEntry& e : entries) listed.insert(e.directory);
  std::map<std::string, std::string> placeOf;  // "/rr_moved/d8" -> "/d1/.../d7/d8"
  for (const IsoinfoEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    if (e.flags & 2) {
      folders.insert(e.directory + e.name);
      continue;
    }
    std::vector<std::string> moved;  // folders of that name elsewhere whose listing isoinfo shows
    for (const IsoinfoEntry& f : entries)
      if ((f.flags & 2) && f.name == e.name && f.directory != e.directory && listed.count(f.directory + f.name + "/"))
        moved.push_back(f.directory + f.name);
    if (moved.size() == 1) placeOf[moved[0]] = e.directory + e.name;
  }
  std::set<std::string> logical;
  for (std::string folder : folders) {
    for (bool again = true; again;) {  // a moved folder's place may itself lie below a moved folder
      again = false;
      for (const auto& [moved, place] : placeOf)
        if (folder == moved || folder.rfind(moved + "/", 0) == 0) {
          folder = place + folder.substr(moved.size());
          again = true;
        }
    }
    logical.insert(upper(folder));
  }
  return logical;
}

struct RelocationCase {
  const char* what;
  bool joliet;
  std::string extra;      // genisoimage options; empty: xorriso, which moves deep folders to the root
  const char* movedTo;    // the folder holding the moved folders, as isoinfo -l names it
  const char* folders;    // what info counts
};

TEST_F(Addressable, RelocatedFoldersStandAtTheirLogicalPlaceAndHideInEveryRecord) {
  const std::string deep = "/d1/d2/d3/d4/d5/d6/d7/d8";
  const std::string placeholderDir = "/D1/D2/D3/D4/D5/D6/D7/";
  const RelocationCase cases[] = {
      {"genisoimage -J -R", true, "-R", "/RR_MOVED/", "12"},  // the root, d1 to d10 and rr_moved
      {"genisoimage -R", false, "-R", "/RR_MOVED/", "12"},
      {"xorriso -compliance deep_paths_off -joliet on", true, "", "/", "11"},
  };
  for (const RelocationCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work;
    makeDeepTree(work / "src");
    fs::path image = work / "deep.iso";
    if (c.extra.empty())
      ASSERT_EQ(runImageMaker(quote(xorriso()) + " -compliance deep_paths_off -joliet on -outdev " +
                                  quote(image.string()) + " -map " + quote((work / "src").string()) + " /",
                              image),
                0);
    else
      makeImage(Maker::Genisoimage, work / "src", image, c.joliet, c.extra);
    const std::string img = quote(image.string());
    fs::copy_file(image, work / "original.iso");

    // ls -R lists every folder where a Rock Ridge reader shows it, and the moved folders nowhere else.
    const std::string listed =
        json("ls -R --json " + img, "'\\n'.join(sorted(e['path'] for e in d if e['folder']))");
    std::string expected;
    for (const std::string& folder : isoinfoLogicalFolders(image)) expected += (expected.empty() ? "" : "\n") + folder;
    EXPECT_EQ(listed, expected);
    EXPECT_NE(listed.find(upper(deep) + "/D9/D10"), std::string::npos) << listed;
    EXPECT_EQ(json("info --json " + img, "d['folders']"), c.folders);

    // Hidden by its logical path: its moved record, the placeholder (Directory bit kept clear), and
    // its Joliet twin.
    const auto isoBefore = isoinfoList(image, false);
    ASSERT_EQ(cli("hide " + img + " " + deep), 0) << errors();
    unsigned movedFlags = 0, placeholderFlags = 0, placeholderBefore = 99;
    for (const IsoinfoEntry& e : isoinfoList(image, false)) {
      if (e.directory == c.movedTo && e.name == "D8") movedFlags = e.flags;
      if (e.directory == placeholderDir && e.name == "D8") placeholderFlags = e.flags;
    }
    for (const IsoinfoEntry& e : isoBefore)
      if (e.directory == placeholderDir && e.name == "D8") placeholderBefore = e.flags;
    EXPECT_EQ(movedFlags, 7u);  // a folder keeps its Directory bit
    EXPECT_EQ(placeholderBefore, 0u);
    EXPECT_EQ(placeholderFlags, 5u);  // a file record for readers without Rock Ridge stays one
    if (c.joliet) {
      EXPECT_EQ(isoinfoFlags(image, true, deep.substr(0, 21) + "/", "d8"), 7u);
    }
    EXPECT_EQ(changedOutsideStamp(work / "original.iso", image).size(), c.joliet ? 3u : 2u);
    EXPECT_EQ(json("ls --json " + img + " " + deep.substr(0, 21), "[e['state'] for e in d if e['folder']]"),
              "['hidden']");
    EXPECT_TRUE(pycdlibOpens(image));

    ASSERT_EQ(cli("show " + img + " " + upper(deep)), 0) << errors();
    EXPECT_TRUE(changedOutsideStamp(work / "original.iso", image).empty());
    EXPECT_TRUE(pycdlibOpens(image));

    // The moved record alone is no path: Rock Ridge readers do not list it there.
    EXPECT_EQ(cli("hide " + img + " " + c.movedTo + "D8"), 3);
  }
}

// Rewrites the first Rock Ridge CL entry of an image: its signature, or the sector it points to.
void patchChildLink(const fs::path& image, const std::function<void(uint8_t* entry)>& patch) {
  auto bytes = readBytes(image);
  const uint8_t signature[] = {'C', 'L', 12, 1};
  const auto at = std::search(bytes.begin(), bytes.end(), std::begin(signature), std::end(signature));
  ASSERT_NE(at, bytes.end()) << "no CL entry";
  patch(&*at);
  writeFile(image, std::string(bytes.begin(), bytes.end()));
}

TEST_F(Addressable, BadRelocationLinksAreRefusedAndUnfollowedOnesProveNothing) {
  makeDeepTree(dir / "src");
  const fs::path made = makeImage(Maker::Genisoimage, dir / "src", dir / "deep.iso", true, "-R");
  const auto original = readBytes(made);
  auto fresh = [&](const std::string& name) {
    writeFile(dir / name, std::string(original.begin(), original.end()));
    return dir / name;
  };
  auto setSector = [](uint32_t sector) {
    return [sector](uint8_t* entry) {
      writeLe32(entry + 4, sector);
      writeBe32(entry + 8, sector);
    };
  };
  // The placeholder in d7 pointing at d1's directory (a loop), or past the image's end.
  const uint32_t d1Sector = [&] {
    for (const IsoinfoEntry& e : isoinfoList(made, false))
      if (e.directory == "/" && e.name == "D1") return e.extent;
    return 0u;
  }();
  ASSERT_NE(d1Sector, 0u);
  for (const auto& [what, patch] : {std::make_pair("a loop", setSector(d1Sector)),
                                    std::make_pair("outside the image", setSector(0x7FFFFFFF))}) {
    const fs::path image = fresh("bad.iso");
    patchChildLink(image, patch);
    const auto before = readBytes(image);
    std::string out;
    EXPECT_EQ(cli("ls -R " + quote(image.string()), &out), 2) << what;
    EXPECT_NE(errors().find("damaged"), std::string::npos) << what << ": " << errors();
    EXPECT_EQ(cli("hide " + quote(image.string()) + " /D1"), 2) << what;
    EXPECT_EQ(readBytes(image), before) << what;
  }
  // A placeholder whose CL entry is gone: the ISO 9660 tree holds d8 in RR_MOVED only, so its
  // Joliet twin is not proven absent from it.
  const fs::path image = fresh("unfollowed.iso");
  patchChildLink(image, [](uint8_t* entry) { entry[0] = entry[1] = 'X'; });
  const auto before = readBytes(image);
  EXPECT_EQ(cli("hide " + quote(image.string()) + " /d1/d2/d3/d4/d5/d6/d7/d8"), 5) << errors();
  EXPECT_EQ(readBytes(image), before);
}

// The placeholder's CL entry moved into a continuation area (CE), which makers use when a record's
// entries do not fit: the relocation is followed all the same.
TEST_F(Addressable, ChildLinksInContinuationAreasAreFollowed) {
  makeDeepTree(dir / "src");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "deep.iso", false, "-R");
  auto bytes = readBytes(image);
  const uint8_t cl[] = {'C', 'L', 12, 1};
  const uint8_t px[] = {'P', 'X', 36, 1};
  const auto link = std::search(bytes.begin(), bytes.end(), std::begin(cl), std::end(cl));
  ASSERT_NE(link, bytes.end());
  // genisoimage writes RR, NM, PX, TF, CL: PX (36 bytes) makes room for a CE entry (28) and padding (8).
  const auto attributes = std::search(link - 120, link, std::begin(px), std::end(px));
  ASSERT_NE(attributes, link);
  constexpr uint32_t kArea = 2048;  // sector 1, in the unused system area
  std::copy(link, link + 12, bytes.begin() + kArea);
  const uint8_t stop[] = {'S', 'T', 4, 1};
  std::copy(std::begin(stop), std::end(stop), bytes.begin() + kArea + 12);
  auto both = [](uint8_t* at, uint32_t value) {
    writeLe32(at, value);
    writeBe32(at + 4, value);
  };
  uint8_t ce[36] = {'C', 'E', 28, 1};
  both(ce + 4, 1);    // sector
  both(ce + 12, 0);   // offset
  both(ce + 20, 16);  // length
  const uint8_t pad[] = {'P', 'D', 8, 1, 0, 0, 0, 0};
  std::copy(std::begin(pad), std::end(pad), ce + 28);
  std::copy(std::begin(ce), std::end(ce), attributes);
  link[0] = link[1] = 'X';  // the record itself no longer links
  writeFile(image, std::string(bytes.begin(), bytes.end()));

  const std::string img = quote(image.string());
  EXPECT_EQ(json("ls -R --json " + img, "[e['path'] for e in d if e['folder'] and e['path'].endswith('/D10')]"),
            "['/D1/D2/D3/D4/D5/D6/D7/D8/D9/D10']");
  EXPECT_EQ(json("ls --json " + img + " /RR_MOVED", "len(d)"), "0");

  // The placeholder's own extent names the moved folder's directory: hiding still leaves it a file record.
  const uint64_t placeholder = std::stoull(json("ls --json " + img + " /D1/D2/D3/D4/D5/D6/D7",
                                                "[e['primary_offset'] for e in d if e['name'] == 'D8'][0]"));
  uint32_t movedExtent = 0;
  for (const IsoinfoEntry& e : isoinfoList(image, false))
    if (e.directory == "/RR_MOVED/" && e.name == "D8") movedExtent = e.extent;
  ASSERT_NE(movedExtent, 0u);
  bytes = readBytes(image);
  both(bytes.data() + placeholder + 2, movedExtent);
  writeFile(image, std::string(bytes.begin(), bytes.end()));

  ASSERT_EQ(cli("hide " + img + " /D1/D2/D3/D4/D5/D6/D7/D8"), 0) << errors();
  EXPECT_EQ(isoinfoFlags(image, false, "/RR_MOVED/", "D8"), 7u);
  EXPECT_EQ(isoinfoFlags(image, false, "/D1/D2/D3/D4/D5/D6/D7/", "D8"), 5u);
}

struct PartialCase {
  const char* kind;
  const char* path;
  int status;
  const char* onlyIn;             // the trees `ls` names, "" when no tree is proven to lack it
  std::vector<const char*> trees;  // trees whose record must carry the hidden mark
};

TEST_F(Addressable, FoldersATreeProvablyLacksHideInTheTreesThatHoldThem) {
  const PartialCase cases[] = {
      {"joliet-only", "/JolietOnly", 0, "Joliet", {"joliet"}},
      {"udf-only", "/UdfOnly", 0, "UDF", {"udf"}},
      {"same-name", "/alpha", 0, "Joliet, UDF", {"joliet", "udf"}},
      {"unprovable", "/JolietOnly", 5, "", {}},
  };
  for (const PartialCase& c : cases) {
    SCOPED_TRACE(c.kind);
    const fs::path image = dir / (std::string(c.kind) + ".iso");
    ASSERT_EQ(run("/usr/bin/python3 " + quote(std::string(UMBRA_CLI_SCRIPTS) + "/mk_partial_trees.py") + " " + c.kind +
                  " " + quote(image.string())),
              0);
    const std::string img = quote(image.string());
    const auto original = readBytes(image);
    fs::copy_file(image, dir / (std::string(c.kind) + "-original.iso"));
    std::string text;
    ASSERT_EQ(cli("ls " + img, &text), 0) << errors();
    const std::string name = std::string(c.path).substr(1);
    const auto rows = std::count_if(text.begin(), text.end(), [](char ch) { return ch == '\n'; });
    EXPECT_EQ(rows, std::string(c.kind) == "unprovable" ? 3 : 2) << text;  // one row per folder
    const bool marked = text.find("\t" + name + "\t(only in " + c.onlyIn + ")\n") != std::string::npos;
    EXPECT_EQ(marked, *c.onlyIn != 0) << text;
    EXPECT_EQ(text.find("only in") != std::string::npos, *c.onlyIn != 0) << text;

    const int status = cli("hide " + img + " " + c.path);
    EXPECT_EQ(status, c.status) << errors();
    if (status != 0) {
      EXPECT_NE(errors().find("No twin of this folder could be proven"), std::string::npos) << errors();
      EXPECT_EQ(readBytes(image), original);
      continue;
    }
    EXPECT_EQ(json("ls --json " + img,
                   "[(e['state'], sorted(r['tree'] for r in e['records']), e['only_in']) for e in d if e['name'] == '" +
                       name + "']"),
              "[('hidden', " +
                  std::string(c.trees.size() == 1 ? "['" + std::string(c.trees[0]) + "'], ['" + c.trees[0] + "']"
                                                   : "['joliet', 'udf'], ['joliet', 'udf']") +
                  ")]");
    for (const char* tree : c.trees) {
      if (std::string(tree) == "joliet") {
        EXPECT_EQ(isoinfoFlags(image, true, "/", name), 7u);
      }
      if (std::string(tree) == "udf") {
        std::string walk;
        run("/usr/bin/python3 " + quote(std::string(UMBRA_UDF_SCRIPTS) + "/pyc_open.py") + " " + img, &walk);
        EXPECT_TRUE(std::regex_search(walk, std::regex("udf dir +/" + name + " +file_characteristics=0x03"))) << walk;
      }
    }
    EXPECT_TRUE(pycdlibOpens(image));
    ASSERT_EQ(cli("show " + img + " " + c.path), 0) << errors();
    EXPECT_TRUE(changedOutsideStamp(dir / (std::string(c.kind) + "-original.iso"), image).empty());
    EXPECT_TRUE(pycdlibOpens(image));
  }
}

// Two folders a path could mean: the message names each one's records and a name only it has, and
// that name hides just that folder.
TEST_F(Addressable, AnAmbiguousPathSaysHowToAddressEachFolder) {
  makeFolder(dir / "src" / "Docs");
  makeFolder(dir / "src" / "DOCS");
  writeFile(dir / "src" / "Docs" / "a.txt", "a");
  writeFile(dir / "src" / "DOCS" / "b.txt", "b");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "docs.iso");
  const std::string img = quote(image.string());
  const auto before = readBytes(image);
  ASSERT_EQ(cli("hide " + img + " /docs"), 3);
  const std::string message = errors();
  EXPECT_EQ(readBytes(image), before);
  for (const char* part : {"the ISO 9660 record \"DOCS\" at byte", "the Joliet record \"Docs\" at byte",
                           "the Joliet record \"DOCS\" at byte", "(address it as /Docs)", "(address it as /DOCS000)"})
    EXPECT_NE(message.find(part), std::string::npos) << part << " in " << message;
  ASSERT_EQ(cli("hide " + img + " /DOCS000"), 0) << errors();
  EXPECT_EQ(isoinfoFlags(image, true, "/", "DOCS"), 7u);
  EXPECT_EQ(isoinfoFlags(image, true, "/", "Docs"), 2u);
  EXPECT_EQ(isoinfoFlags(image, false, "/", "DOCS000"), 7u);
}

}  // namespace
}  // namespace umbra
