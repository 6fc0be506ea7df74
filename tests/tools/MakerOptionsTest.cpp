// The maker's command line: glued option values, the time stamp text, the last two arguments.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "MakerOptions.h"

namespace {

using cdimage::parseCommandLine;
using cdimage::parseTimeStamp;

class LocalZone : public ::testing::Test {
 protected:
  // A zone with daylight saving, written out so no zone database is needed.
  void SetUp() override {
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
  }
  void TearDown() override {
    unsetenv("TZ");
    tzset();
  }
};

TEST_F(LocalZone, TimeStampIsReadAsLocalTime) {
  // 15:04:24 EDT is 19:04:24 UTC.
  EXPECT_EQ(parseTimeStamp("04/20/2005,15:04:24"), std::optional<std::time_t>(1114023864));
  // Winter: EST, five hours behind.
  EXPECT_EQ(parseTimeStamp("01/01/2000,00:00:00"), std::optional<std::time_t>(946702800));
}

TEST_F(LocalZone, MalformedOrImpossibleTimeStampsAreRefused) {
  for (const char* text : {"4/20/2005,15:04:24", "04/20/05,15:04:24", "04/20/2005 15:04:24",
                           "04/20/2005,15:04", "04/20/2005,15:04:24 ", "13/01/2005,00:00:00",
                           "00/10/2005,00:00:00", "02/30/2005,00:00:00", "02/29/2005,00:00:00",
                           "04/20/2005,24:00:00", "04/20/2005,23:60:00", "04/20/1899,00:00:00",
                           "01/01/2156,00:00:00", "ab/cd/efgh,ij:kl:mn", ""}) {
    EXPECT_FALSE(parseTimeStamp(text).has_value()) << text;
  }
  EXPECT_TRUE(parseTimeStamp("02/29/2004,00:00:00").has_value());
}

TEST(MakerCommandLine, ValuesAreGluedAndTheLastTwoArgumentsArePaths) {
  const auto parsed = parseCommandLine(
      {"-lMy \"Label\"", "-t", "-bboot dir\\", "-d", "-n", "-m", "-d", "target dir\\"}, 42);
  ASSERT_EQ(parsed.error, "");
  const auto& o = parsed.options;
  EXPECT_EQ(o.label, "My \"Label\"");
  EXPECT_EQ(o.time, 42);  // an empty -t stands for now
  ASSERT_TRUE(o.bootFile.has_value());
  EXPECT_EQ(*o.bootFile, "boot dir\\");
  EXPECT_TRUE(o.keepCase && o.longNames && o.noSizeLimit);
  EXPECT_EQ(o.source, "-d");  // a source path that looks like an option is still the source
  EXPECT_EQ(o.target, "target dir\\");

  const auto plain = parseCommandLine({"-l", "src", "out.iso"}, 7);
  ASSERT_EQ(plain.error, "");
  EXPECT_EQ(plain.options.label, "");
  EXPECT_FALSE(plain.options.bootFile.has_value());
  EXPECT_FALSE(plain.options.keepCase || plain.options.longNames || plain.options.noSizeLimit);

  const auto emptyBoot = parseCommandLine({"-b", "src", "out.iso"}, 7);
  ASSERT_TRUE(emptyBoot.options.bootFile.has_value());
  EXPECT_EQ(*emptyBoot.options.bootFile, "");
}

TEST(MakerCommandLine, HideTakesThePathAfterItAndRepeats) {
  const auto parsed =
      parseCommandLine({"--hide", "Photos/2021", "-d", "--hide=notes.txt", "--hide", "-n", "src", "out.iso"}, 0);
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.hide, (std::vector<std::string>{"Photos/2021", "notes.txt", "-n"}));
  EXPECT_TRUE(parsed.options.keepCase);
  EXPECT_FALSE(parsed.options.longNames);  // "-n" was the path hidden
  EXPECT_EQ(parsed.options.source, "src");
}

TEST(MakerCommandLine, ErrorsAndHelp) {
  struct Case {
    std::vector<std::string> args;
    const char* errorPart;
  };
  const Case cases[] = {
      {{}, "source folder and a target"},
      {{"only"}, "source folder and a target"},
      {{"-x", "src", "out.iso"}, "unknown option"},
      {{"loose", "src", "out.iso"}, "unexpected argument"},
      {{"-dx", "src", "out.iso"}, "takes no value"},
      {{"-t99/99/2005,00:00:00", "src", "out.iso"}, "bad time stamp"},
      {{"-lx", "", "out.iso"}, "source folder is empty"},
      {{"-lx", "src", ""}, "target file is empty"},
      {{"--hide", "src", "out.iso"}, "--hide needs a path of the source folder before SOURCE"},
      {{"--hide=", "src", "out.iso"}, "not an empty one"},
      {{"--hidden=x", "src", "out.iso"}, "unknown option"},
  };
  for (const Case& c : cases) {
    const auto parsed = parseCommandLine(c.args, 0);
    EXPECT_NE(parsed.error.find(c.errorPart), std::string::npos) << parsed.error;
  }
  EXPECT_TRUE(parseCommandLine({"--help"}, 0).showHelp);
  EXPECT_TRUE(parseCommandLine({"-lx", "--help", "a", "b"}, 0).showHelp);
  EXPECT_TRUE(parseCommandLine({"--version"}, 0).showVersion);
}

}  // namespace
