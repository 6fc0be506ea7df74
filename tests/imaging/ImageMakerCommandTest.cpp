// The image maker's command text and argument list, and the time stamp in local time.
#include <gtest/gtest.h>

#include "imaging/ImageMakerCommand.h"

using namespace umbra;

namespace {

// 20 April 2005 15:04:24 in the tests' zone EST5EDT (daylight time): 19:04:24 UTC.
constexpr qint64 kApril2005 = 1114023864;

ImageMakerParams params(const QString& label, qint64 time, std::optional<QString> boot, const QString& source,
                        const QString& target, const QStringList& hidden = {}) {
  return ImageMakerParams{label, time, std::move(boot), source, target, QStringLiteral("/opt/umbra"), hidden};
}

TEST(ImageMakerTimeStamp, LocalCalendarTimeOrEmpty) {
  EXPECT_EQ(imageMakerTimeStamp(kApril2005), QStringLiteral("04/20/2005,15:04:24"));
  EXPECT_EQ(imageMakerTimeStamp(0), QStringLiteral("12/31/1969,19:00:00"));
  EXPECT_EQ(imageMakerTimeStamp(2147483647), QStringLiteral("01/18/2038,22:14:07"));
  EXPECT_EQ(imageMakerTimeStamp(-1), QString());
  EXPECT_EQ(imageMakerTimeStamp(-86400), QString());
}

TEST(ImageMakerCommandLine, PiecesInOrderWithOneSpace) {
  struct Case {
    ImageMakerParams params;
    const char* text;
  };
  const Case cases[] = {
      {params("My Disc", kApril2005, std::nullopt, "C:\\Data", "C:\\out.iso"),
       R"(cdimage -l"My Disc" -t04/20/2005,15:04:24 -d -n -m "C:\Data" "C:\out.iso")"},
      {params("Boot", kApril2005, QString("C:\\boot.bin"), "src", "out.iso"),
       R"(cdimage -l"Boot" -t04/20/2005,15:04:24 -b"C:\boot.bin" -d -n -m "src" "out.iso")"},
      {params("", kApril2005, QString(""), "", ""), R"(cdimage -l"" -t04/20/2005,15:04:24 -b"" -d -n -m "" "")"},
      {params("Kept", kApril2005, std::nullopt, "src", "out.iso", {"Private", "Docs/key file.txt"}),
       R"(cdimage -l"Kept" -t04/20/2005,15:04:24 --hide="Private" --hide="Docs/key file.txt" -d -n -m "src" "out.iso")"},
      // Values go in as they are; an invalid time leaves -t bare.
      {params("a\"b", -1, std::nullopt, "D:\\", " spaced "), R"(cdimage -l"a"b" -t -d -n -m "D:\" " spaced ")"},
  };
  for (const Case& c : cases) EXPECT_EQ(imageMakerCommandLine(c.params), QString(c.text));
}

TEST(ImageMakerArguments, SamePiecesUnquotedForADirectStart) {
  EXPECT_EQ(imageMakerArguments(params("My \"Disc\"", kApril2005, QString("b.bin"), "D:\\", "x y")),
            (QStringList{"-lMy \"Disc\"", "-t04/20/2005,15:04:24", "-bb.bin", "-d", "-n", "-m", "D:\\", "x y"}));
  EXPECT_EQ(imageMakerArguments(params("", -1, std::nullopt, "", "")),
            (QStringList{"-l", "-t", "-d", "-n", "-m", "", ""}));
  // A path to hide is glued to its option, so one that starts with '-' is no option of its own.
  EXPECT_EQ(imageMakerArguments(params("L", -1, std::nullopt, "s", "t", {"-odd name", "a/b"})),
            (QStringList{"-lL", "-t", "--hide=-odd name", "--hide=a/b", "-d", "-n", "-m", "s", "t"}));
}

}  // namespace
