#include "BurnTestSupport.h"
#include "burn/BurnCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

using namespace umbra;

using burntest::EnvGuard;

namespace {

TEST(BurnCommandTest, ExitStatusAndMessages) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString image = tmp.filePath(QStringLiteral("disc.iso"));
  const QString made = burntest::makeImage(image, 64 * 1024);
  ASSERT_TRUE(made.isEmpty()) << made.toStdString();
  ASSERT_TRUE(QDir().mkpath(tmp.filePath(QStringLiteral("a-folder"))));
  QFile plain(tmp.filePath(QStringLiteral("plain")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  EnvGuard staging("UMBRADISC_STAGING_DIR", tmp.filePath(QStringLiteral("staging")));
  const std::string out = "stdio:" + tmp.filePath(QStringLiteral("out.bin")).toStdString();

  struct Case {
    const char* name;
    std::string image;
    std::string drive;
    int status;
    const char* expectedOut;
    const char* expectedErr;
  };
  const Case cases[] = {
      {"burned", image.toStdString(), out, 0, "Burn succeeded!\n", ""},
      {"missing image", tmp.filePath(QStringLiteral("none.iso")).toStdString(), out, 2, "", "none.iso"},
      {"image is a folder", tmp.filePath(QStringLiteral("a-folder")).toStdString(), out, 2, "", "a-folder"},
      {"no recorder", image.toStdString(), "/dev/umbradisc-no-such-drive", 4, "",
       "Cannot find a recordable drive in this computer.\n"},
      {"burn fails", image.toStdString(), "stdio:/proc/umbradisc-no-such-entry", 4, "", "Burn failed.\n"},
      {"burn fails mid-write", image.toStdString(),
       "stdio:" + tmp.filePath(QStringLiteral("plain/out.bin")).toStdString(), 4, "",
       "\nThe disc is now in an unknown state: part of the image may be on it, and it may no longer be usable.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream o;
    std::ostringstream e;
    EXPECT_EQ(runBurnCommand(c.image, c.drive, o, e), c.status) << e.str();
    if (*c.expectedOut) {
      EXPECT_NE(o.str().find(c.expectedOut), std::string::npos) << o.str();
    }
    if (*c.expectedErr) {
      EXPECT_NE(e.str().find(c.expectedErr), std::string::npos) << e.str();
    }
    if (c.status == 0) {
      EXPECT_TRUE(e.str().empty()) << e.str();
      EXPECT_NE(o.str().find("Writing to the disc: 100%"), std::string::npos) << o.str();
    } else {
      EXPECT_EQ(o.str().find("Burn succeeded!"), std::string::npos) << o.str();
    }
  }
}

TEST(BurnCommandTest, EmptyDriveFallsBackToTheEnvironment) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString image = tmp.filePath(QStringLiteral("disc.iso"));
  ASSERT_TRUE(burntest::makeImage(image, 1024).isEmpty());
  EnvGuard staging("UMBRADISC_STAGING_DIR", tmp.filePath(QStringLiteral("staging")));
  const QString target = tmp.filePath(QStringLiteral("env-out.bin"));
  EnvGuard drive("UMBRADISC_BURN_DRIVE", QStringLiteral("stdio:") + target);
  std::ostringstream o;
  std::ostringstream e;
  EXPECT_EQ(runBurnCommand(image.toStdString(), "", o, e), 0) << e.str();
  QString why;
  EXPECT_TRUE(burntest::holdsImage(target, image, why)) << why.toStdString();
}

// Flips one bit in each of the given 2048-byte blocks of a file.
bool damageBlocks(const QString& path, std::initializer_list<qint64> blocks) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) return false;
  for (const qint64 block : blocks) {
    char byte = 0;
    if (!file.seek(block * 2048 + 100) || !file.getChar(&byte) || !file.seek(block * 2048 + 100) ||
        !file.putChar(static_cast<char>(byte ^ 0x10)))
      return false;
  }
  return true;
}

// The burn writes into a file, which stands in for the disc; between the write and the read-back each
// case does to it what a bad disc or drive might.
TEST(BurnCommandTest, VerifyReadsTheDiscBackAndNamesTheFirstDifferingBlock) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString image = tmp.filePath(QStringLiteral("disc.iso"));
  const QString made = burntest::makeImage(image, 200 * 1024);
  ASSERT_TRUE(made.isEmpty()) << made.toStdString();
  const std::string imageHash = burntest::hashOf(image).toStdString();
  ASSERT_FALSE(imageHash.empty());
  EnvGuard staging("UMBRADISC_STAGING_DIR", tmp.filePath(QStringLiteral("staging")));

  struct Case {
    const char* name;
    std::function<bool(const QString& disc)> damage;
    int status;
    const char* expected;  // in the output with status 0, else in the errors
  };
  const Case cases[] = {
      {"untouched", [](const QString&) { return true; }, 0, "The disc matches the image.\nSHA-256: "},
      {"one block", [](const QString& disc) { return damageBlocks(disc, {17}); }, 4,
       "The disc does not match the image: block 17 is the first that differs"},
      {"two blocks, the first named",
       [](const QString& disc) {
         return damageBlocks(disc, {90, 23});
       },
       4, "block 23 is the first that differs"},
      {"cut short", [](const QString& disc) { return QFile::resize(disc, 40 * 2048); }, 4,
       "The disc does not match the image: it ends at block 40, before the image's end"},
      {"gone", [](const QString& disc) { return QFile::remove(disc); }, 4, "it ends at block 0, before"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString disc = tmp.filePath(QStringLiteral("out-%1.bin").arg(index++));
    bool damaged = false;
    BurnVerification verification;
    verification.enabled = true;
    verification.beforeReadBack = [&] { damaged = c.damage(disc); };
    std::ostringstream o;
    std::ostringstream e;
    EXPECT_EQ(runBurnCommand(image.toStdString(), "stdio:" + disc.toStdString(), o, e, verification), c.status)
        << o.str() << e.str();
    EXPECT_TRUE(damaged);
    // The write itself succeeded in every case; only the read-back tells them apart.
    EXPECT_NE(o.str().find("Burn succeeded!\nReading the disc back: 0%"), std::string::npos) << o.str();
    if (c.status == 0) {
      EXPECT_NE(o.str().find(c.expected + imageHash + "\n"), std::string::npos) << o.str();
      EXPECT_NE(o.str().find("Reading the disc back: 100%"), std::string::npos) << o.str();
      EXPECT_TRUE(e.str().empty()) << e.str();
    } else {
      EXPECT_NE(e.str().find(c.expected), std::string::npos) << e.str();
      EXPECT_NE(e.str().find("SHA-256 of the image: " + imageHash + "\n"), std::string::npos) << e.str();
      EXPECT_EQ(e.str().find("SHA-256 of the disc:  " + imageHash), std::string::npos) << e.str();
      EXPECT_EQ(o.str().find("matches"), std::string::npos) << o.str();
    }
  }
}

}  // namespace
