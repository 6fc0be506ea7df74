// umbradisc-cli where systems differ: names outside ASCII in arguments and file names, output bytes
// as written, a folder given as the image, a build without a burner.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TestImages.h"

namespace umbra {
namespace {

using namespace test;

class CliPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    // u8 literals: MinGW's path reads plain char strings in the C locale, not as UTF-8.
    writeFile(dir / "src" / u8"Café" / "inner" / "note.txt", "note\n");
    writeFile(dir / "src" / u8"Ωmega" / "o.txt", "omega\n");  // outside every Western code page
    writeFile(dir / "src" / "plain" / "p.txt", "plain\n");
    image = makeImage(Maker::Xorriso, dir / "src", dir.path() / u8"Ünï.iso", true, "-input-charset utf-8");
  }
  // Runs the tool; standard output into out, standard error kept for errors().
  int runCli(const std::string& args, std::string* out = nullptr) {
    const std::string cli = quote(builtProgram("umbradisc-cli"));
    return run(cli + " " + args + " 2>" + quote((dir / "err.txt").string()), out);
  }
  std::string errors() {
    const auto bytes = readBytes(dir / "err.txt");
    return std::string(bytes.begin(), bytes.end());
  }
  TempDir dir;
  fs::path image;
};

TEST_F(CliPlatform, NamesOutsideAsciiReachTheImageIntact) {
  const std::string img = quote(image.string());
  std::string out;
  ASSERT_EQ(runCli("ls " + img + " /Café", &out), 0) << errors();
  EXPECT_NE(out.find("\tinner\n"), std::string::npos) << out;
  ASSERT_EQ(runCli("hide " + img + " /Café/inner /Ωmega"), 0) << errors();
  ASSERT_EQ(runCli("ls " + img, &out), 0) << errors();
  EXPECT_NE(out.find("Hidden\tFolder"), std::string::npos) << out;
  EXPECT_NE(out.find("\tΩmega\n"), std::string::npos) << out;
  ASSERT_EQ(runCli("ls -R --json " + img + " /Café", &out), 0) << errors();
  EXPECT_NE(out.find("\"joliet\":\"inner\",\"folder\":true,\"hidden\":true"), std::string::npos) << out;
  EXPECT_EQ(runCli("show " + img + " /Ωmega /CAF_/INNER"), 0) << errors();
  ASSERT_EQ(runCli("ls " + img, &out), 0);
  EXPECT_EQ(out.find("Hidden"), std::string::npos) << out;
}

// extract and cat with the image, the folder, the file and DEST all named outside ASCII (Greek and
// Chinese are in no single ANSI code page).
TEST_F(CliPlatform, ExtractAndCatTakeNamesOutsideAscii) {
  const fs::path dest = dir.path() / u8"Ζωή 光";
  ASSERT_EQ(runCli("extract " + quote(image.string()) + " /Café " + quote(dest.string())), 0) << errors();
  const auto note = readBytes(dest / u8"Café" / "inner" / "note.txt");
  EXPECT_EQ(std::string(note.begin(), note.end()), "note\n");
  std::string out;
  ASSERT_EQ(runCli("cat " + quote(image.string()) + " /Ωmega/o.txt", &out), 0) << errors();
  EXPECT_EQ(out, "omega\n");
}

// A terminal, which on Windows is a console: there the tool writes UTF-16 and the console shows every
// letter, where UTF-8 bytes would be read in the console's code page ("Café" as "Caf├⌐" in 437).
// Run under script(1), so standard output and error are a pseudo-terminal (under wine a console).
TEST_F(CliPlatform, NamesReachATerminalIntact) {
  if (run("command -v script >/dev/null") != 0) GTEST_SKIP() << "script(1) (util-linux) is not installed";
  const std::string cli = quote(builtProgram("umbradisc-cli"));
  const std::string img = quote(image.string());
  std::string shown;
  ASSERT_EQ(run("script -qec " + quote(cli + " ls " + img + " /Ωx; " + cli + " ls " + img) + " /dev/null", &shown), 0);
  EXPECT_NE(shown.find("Café"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Ωmega"), std::string::npos) << shown;
  EXPECT_NE(shown.find("/Ωx: "), std::string::npos) << "the error line: " << shown;
}

TEST_F(CliPlatform, OutputAndErrorsAreTheBytesWritten) {
  std::string out;
  ASSERT_EQ(runCli("ls -R " + quote(image.string()), &out), 0);
  EXPECT_EQ(out.find('\r'), std::string::npos) << "no CR before LF";
  EXPECT_EQ(runCli("ls " + quote(image.string()) + " /nope"), 3);
  EXPECT_EQ(errors().find('\r'), std::string::npos) << errors();
  EXPECT_EQ(errors().back(), '\n');
}

TEST_F(CliPlatform, AFolderGivenAsTheImageIsCalledAFolder) {
  const std::string folder = quote((dir / "src").string());
  for (const std::string& args : {"info " + folder, "ls " + folder, "hide " + folder + " /plain"}) {
    EXPECT_EQ(runCli(args), 2) << args;
    EXPECT_NE(errors().find("This is a folder, not an image file."), std::string::npos) << args << ": " << errors();
  }
}

TEST_F(CliPlatform, BurnWithoutABurnerSaysSoAndFails) {
  std::string help;
  runCli("--help", &help);
  if (help.find("burn IMAGE") != std::string::npos) GTEST_SKIP() << "built with burning";
  const auto before = readBytes(image);
  EXPECT_EQ(runCli("burn " + quote(image.string())), 4);
  EXPECT_EQ(errors(), "umbradisc-cli: burning is not available in this build\n");
  EXPECT_EQ(readBytes(image), before);
}

#ifdef _WIN32
// burn --verify on Windows takes the level of the recording service's check; wine has no recording
// service, so an accepted option reaches the burner and ends with its "no recorder" (4), while a
// level that does not exist is a usage error (1) before any drive is looked for.
TEST_F(CliPlatform, BurnTakesWindowsVerificationLevels) {
  std::string help;
  runCli("--help", &help);
  if (help.find("burn IMAGE") == std::string::npos) GTEST_SKIP() << "built without burning";
  EXPECT_NE(help.find("[--verify[=quick|full]]"), std::string::npos) << help;
  for (const char* option : {"--verify", "--verify=quick", "--verify=full"}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(runCli(std::string("burn ") + option + " " + quote(image.string())), 4);
    EXPECT_NE(errors().find("Cannot find a recordable drive in this computer."), std::string::npos) << errors();
  }
  for (const char* option : {"--verify=fast", "--verify="}) {
    SCOPED_TRACE(option);
    EXPECT_EQ(runCli(std::string("burn ") + option + " " + quote(image.string())), 1);
    EXPECT_EQ(errors().rfind(std::string("umbradisc-cli: unknown option ") + option + "\n", 0), 0u) << errors();
  }
}
#endif

}  // namespace
}  // namespace umbra
