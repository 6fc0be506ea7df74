// Runs the burn tests with the user's configuration and cache moved into a throw-away folder,
// so a "BurnDrive" setting or the cache of whoever runs them can neither steer nor receive a burn.
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
  qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toLocal8Bit());
  qunsetenv("UMBRADISC_BURN_DRIVE");
  qunsetenv("UMBRADISC_STAGING_DIR");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
