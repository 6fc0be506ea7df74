// umbradisc-cli as scripts use it: exit statuses, JSON shape, hide/show all-or-nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "TestImages.h"

namespace umbra {
namespace {

using namespace test;

std::string cli() { return quote(builtProgram("umbradisc-cli")); }

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    makeMixedTree(dir / "src");
    image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  }
  int runCli(const std::string& args, std::string* out = nullptr) {
    return run(cli() + " " + args + " 2>" + quote((dir / "err.txt").string()), out);
  }
  std::string errors() {
    const auto bytes = readBytes(dir / "err.txt");
    return std::string(bytes.begin(), bytes.end());
  }
  // Runs a Python expression over the JSON on standard input; returns what it prints.
  std::string python(const std::string& json, const std::string& expression) {
    writeFile(dir / "out.json", json);
    std::string out;
    run("python3 -c " + quote("import json,sys; d=json.load(open(sys.argv[1])); print(" + expression + ")") + " " +
            quote((dir / "out.json").string()),
        &out);
    return out.substr(0, out.find_last_not_of('\n') + 1);
  }
  TempDir dir;
  fs::path image;
};

TEST_F(Cli, ExitStatuses) {
  const std::string img = quote(image.string());
  struct Case {
    std::string args;
    int status;
    std::string message;  // part of standard error
  } cases[] = {
      {"", 1, "no command"},
      {"frobnicate " + img, 1, "unknown command"},
      {"ls --bogus " + img, 1, "unknown option"},
      {"hide " + img, 1, "at least one PATH"},
      {"ls " + quote((dir / "missing.iso").string()), 2, "does not exist"},
      {"info " + quote((dir / "src" / "README").string()), 2, "not an ISO 9660 image"},
      {"ls " + img + " /nope", 3, "No such folder"},
      {"ls " + img + " /alpha/a.txt", 3, "not a folder"},
      {"hide " + img + " /alpha/a.txt /nope", 3, "No such folder"},
      {"show " + img + " /nope", 3, "No such folder"},
      {"ls " + img + " /Beta", 0, ""},
      {"--help", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runCli(c.args), c.status) << c.args;
    EXPECT_NE(errors().find(c.message), std::string::npos) << c.args << ": " << errors();
    if (c.status >= 2) {
      const std::string text = errors();
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << "one line: " << text;
    }
  }
}

TEST_F(Cli, LsJsonHasExactlyTheDocumentedKeys) {
  std::string out;
  ASSERT_EQ(runCli("ls --json " + quote(image.string()) + " /Beta", &out), 0);
  EXPECT_EQ(python(out, "sorted(d[0].keys())"),
            "['folder', 'hidden', 'joliet', 'joliet_offset', 'modified', 'name', 'primary_offset', 'records', 'size', "
            "'state']");
  EXPECT_EQ(python(out, "[(r['tree'], r['name'], r['offset'] == e['joliet_offset'] or r['offset'] == e['primary_offset'])"
                        " for e in d[:1] for r in e['records']], d[0]['state']"),
            "[('iso9660', 'B.TXT;1', True), ('joliet', 'b.txt', True)] normal");
  EXPECT_EQ(python(out, "[(e['name'], e['joliet'], e['folder']) for e in d]"),
            "[('B.TXT;1', 'b.txt', False), ('INNER', 'inner', True)]");
  ASSERT_EQ(runCli("ls -R --json " + quote(image.string()), &out), 0);
  EXPECT_EQ(python(out, "len(d), 'path' in d[0]"), "14 True");
  EXPECT_EQ(python(out, "[e['path'] for e in d if e['name'] == 'DEEP']"), "['/BETA/INNER/DEEP']");
  ASSERT_EQ(runCli("info --json " + quote(image.string()), &out), 0);
  EXPECT_EQ(python(out, "d['joliet'], d['folders'], d['files'], d['hidden_folders'], d['descriptors'][1]['kind'], "
                        "d['trees'], d['mixed_folders']"),
            "True 8 7 0 joliet ['iso9660', 'joliet'] 0");
}

TEST_F(Cli, HideChecksEveryPathFirstThenIsIdempotent) {
  const std::string img = quote(image.string());
  const auto original = readBytes(image);
  EXPECT_EQ(runCli("hide " + img + " /Beta /nope"), 3);
  EXPECT_EQ(readBytes(image), original) << "nothing written, not even the stamp";
  EXPECT_EQ(runCli("hide " + img + " /Beta /ALPHA /gamma.dir/ /BETA/INNER"), 0) << errors();
  const auto hidden = readBytes(image);
  EXPECT_EQ(runCli("hide " + img + " /beta"), 0);
  EXPECT_EQ(readBytes(image), hidden) << "hiding again changes nothing";
  std::string out;
  ASSERT_EQ(runCli("info --json " + img, &out), 0);
  EXPECT_EQ(python(out, "d['hidden_folders']"), "4");
  EXPECT_EQ(isoinfoFlags(image, true, "/", "Beta"), 7u);
  EXPECT_EQ(runCli("show " + img + " /Beta /alpha /GAMMA.DIR /Beta/inner"), 0) << errors();
  EXPECT_EQ(runCli("show " + img + " /Beta"), 0);
  EXPECT_EQ(isoinfoFlags(image, false, "/", "BETA"), 2u);
  EXPECT_EQ(isoinfoFlags(image, true, "/Beta/", "inner"), 2u);
  ASSERT_EQ(runCli("ls " + img + " /", &out), 0);
  EXPECT_EQ(out.find("Hidden"), std::string::npos) << out;
}

// Files hide like folders, in every tree, and the command says once where a hidden file stays within
// reach; a file whose twin nothing proves is refused with nothing written.
TEST_F(Cli, FilesHideInEveryTreeOrAreRefused) {
  const std::string img = quote(image.string());
  EXPECT_EQ(runCli("hide " + img + " /alpha/a.txt /Zeta/empty1 /README"), 0) << errors();
  const std::string note = errors();
  EXPECT_NE(note.find("out of reach on Windows"), std::string::npos) << note;
  EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), 1) << "said once: " << note;
  EXPECT_EQ(isoinfoFlags(image, false, "/ALPHA/", "A.TXT;1"), 5u);
  EXPECT_EQ(isoinfoFlags(image, true, "/alpha/", "a.txt"), 5u);
  EXPECT_EQ(isoinfoFlags(image, true, "/Zeta/", "empty1"), 5u);
  EXPECT_EQ(isoinfoFlags(image, true, "/Zeta/", "empty2"), 0u) << "its empty neighbour shares its extent";
  std::string out;
  ASSERT_EQ(runCli("info --json " + img, &out), 0);
  EXPECT_EQ(python(out, "d['hidden_files'], d['hidden_folders']"), "3 0");
  ASSERT_EQ(runCli("ls --json " + img + " /alpha", &out), 0);
  EXPECT_EQ(python(out, "[(e['name'], e['hidden'], e['state']) for e in d]"), "[('A.TXT;1', True, 'hidden')]");
  EXPECT_EQ(runCli("show " + img + " /alpha/a.txt /Zeta/empty1 /README"), 0) << errors();
  EXPECT_EQ(errors(), "") << "showing says nothing";
  EXPECT_EQ(isoinfoFlags(image, false, "/ALPHA/", "A.TXT;1"), 0u);
  EXPECT_EQ(isoinfoFlags(image, true, "/Zeta/", "empty1"), 0u);

  // Without Rock Ridge, xorriso's counters and the one extent of empty files prove no twin.
  writeFile(dir / "empties" / "empty-file-one", "");
  writeFile(dir / "empties" / "empty-file-two", "");
  const fs::path bare = makeImage(Maker::Xorriso, dir / "empties", dir / "bare.iso", true, "--norock");
  const auto original = readBytes(bare);
  ASSERT_EQ(runCli("ls --json " + quote(bare.string()) + " /", &out), 0);
  EXPECT_EQ(python(out, "[(e.get('unproven_in'), 'Rock Ridge name' in e.get('not_hidable', '')) for e in d]"),
            "[(['joliet'], True), (['joliet'], True)]");
  EXPECT_EQ(runCli("hide " + quote(bare.string()) + " /EMPTY_F0"), 5);
  EXPECT_NE(errors().find("No twin of this file could be proven in the Joliet tree"), std::string::npos) << errors();
  EXPECT_EQ(readBytes(bare), original);
}

TEST_F(Cli, ReadingCommandsNeverWrite) {
  const auto original = readBytes(image);
  for (const char* args : {"info", "info --json", "ls", "ls -R --json"}) {
    EXPECT_EQ(runCli(std::string(args) + " " + quote(image.string())), 0) << args;
  }
  EXPECT_EQ(readBytes(image), original);
}

TEST_F(Cli, BurnWritesTheImageOntoTheDriveGiven) {
  std::string help;
  runCli("--help", &help);
  if (help.find("burn IMAGE") == std::string::npos) GTEST_SKIP() << "built without burning";
  const fs::path disc = dir / "disc.bin";
  const std::string env = "UMBRADISC_STAGING_DIR=" + quote((dir / "staging").string()) + " ";
  std::string out;
  EXPECT_EQ(run(env + cli() + " burn " + quote(image.string()) + " --drive " + quote("stdio:" + disc.string()), &out), 0)
      << out;
  EXPECT_NE(out.find("Burn succeeded!"), std::string::npos) << out;
  EXPECT_EQ(readBytes(disc), readBytes(image));
  const fs::path checked = dir / "checked.bin";
  EXPECT_EQ(
      run(env + cli() + " burn --verify " + quote(image.string()) + " --drive " + quote("stdio:" + checked.string()),
          &out),
      0)
      << out;
  EXPECT_NE(out.find("Burn succeeded!\nReading the disc back: 0%"), std::string::npos) << out;
  EXPECT_NE(out.find("The disc matches the image.\nSHA-256: "), std::string::npos) << out;
  EXPECT_EQ(run(env + cli() + " burn " + quote(image.string()) + " --drive " +
                quote("stdio:" + (dir / "no-such-folder" / "disc.bin").string()) + " 2>&1", &out), 4)
      << out;
  EXPECT_NE(out.find("Cannot find a recordable drive in this computer."), std::string::npos) << out;
}

}  // namespace
}  // namespace umbra
