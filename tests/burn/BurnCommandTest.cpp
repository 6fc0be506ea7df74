#include "BurnTestSupport.h"
#include "burn/BurnCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

}  // namespace
