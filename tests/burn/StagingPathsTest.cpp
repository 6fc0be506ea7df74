// The staging folder's clean-up below a user name in letters outside every ANSI code page (on
// Windows the folder lies in the user's profile): a stop signal during a burn removes the staged
// copy and its partial file, and the copies a crash left are swept at start-up.
#include "TestImages.h"
#include "base/PathText.h"
#include "burn/DiscBurner.h"
#include "burn/StagedCopies.h"
#include "burn/StagedCopyGuard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

#ifdef _WIN32
#include "base/WideText.h"
#endif

namespace {

using namespace umbra;
namespace fs = std::filesystem;

// "Ζωή 光": Greek and Chinese, in no single ANSI code page.
const char kUserName[] = "\xCE\x96\xCF\x89\xCE\xAE \xE5\x85\x89";
// "δίσκος.iso"
const char kImageName[] = "\xCE\xB4\xCE\xAF\xCF\x83\xCE\xBA\xCE\xBF\xCF\x82.iso";

void setEnvironment(const char* name, const std::string& utf8) {
#ifdef _WIN32
  _wputenv_s(wideFromUtf8(name).c_str(), wideFromUtf8(utf8).c_str());
#else
  if (utf8.empty())
    unsetenv(name);
  else
    setenv(name, utf8.c_str(), 1);
#endif
}

fs::path stagingBelowUser(const test::TempDir& tmp) {
  const fs::path folder = tmp.path() / pathFromUtf8(kUserName) / "AppData" / "Local" / "cache" / "umbradisc" / "burn";
  fs::create_directories(folder);
  return folder;
}

volatile std::sig_atomic_t g_passedOn = 0;
extern "C" void countSignal(int) { g_passedOn = g_passedOn + 1; }

TEST(StagingPaths, AStopSignalRemovesTheStagedCopyAndItsPartialFile) {
  test::TempDir tmp;
  const fs::path staged = stagedCopyPath(stagingBelowUser(tmp), pathFromUtf8(kImageName));
  const fs::path partial = partialCopyPath(staged);
  test::writeFile(staged, "copy");
  test::writeFile(partial, "part");
  ASSERT_TRUE(fs::exists(staged) && fs::exists(partial));

  g_passedOn = 0;
  const auto before = std::signal(SIGINT, countSignal);
  {
    StagedCopyGuard guard;
    guard.arm(staged, partial);
    std::raise(SIGINT);
    EXPECT_TRUE(StagedCopyGuard::stopRequested());
    EXPECT_FALSE(fs::exists(staged)) << utf8FromPath(staged);
    EXPECT_FALSE(fs::exists(partial)) << utf8FromPath(partial);
    EXPECT_EQ(g_passedOn, 0);
  }
  // The guard hands the signal on as it ends, so the program still stops as it was asked to.
  EXPECT_EQ(g_passedOn, 1);
  std::signal(SIGINT, before);
}

TEST(StagingPaths, CopiesACrashLeftAreSweptFromAFolderNamedOutsideAscii) {
  test::TempDir tmp;
  const fs::path staging = stagingBelowUser(tmp);
  const fs::path crashed = staging / pathFromUtf8(std::string("umbradisc-burn-99999-") + kImageName);
  const fs::path fresh = staging / pathFromUtf8(std::string("umbradisc-burn-99998-") + kImageName);
  const fs::path users = staging / pathFromUtf8(kImageName);
  for (const fs::path& file : {crashed, fresh, users}) test::writeFile(file, "bytes");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(48);
  fs::last_write_time(crashed, old);
  fs::last_write_time(users, old);

  setEnvironment("UMBRADISC_STAGING_DIR", utf8FromPath(staging));
  EXPECT_EQ(DiscBurner::stagingFolder(), staging);
  DiscBurner::removeLeftoverCopies();
  setEnvironment("UMBRADISC_STAGING_DIR", "");

  EXPECT_FALSE(fs::exists(crashed));
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_TRUE(fs::exists(users));
}

}  // namespace
