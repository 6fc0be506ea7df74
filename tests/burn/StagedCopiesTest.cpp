// What a burn leaves in the staging folder when it does not end normally: copies left by a crash are
// swept at start-up, and a command line burn ended by a signal takes its staged copy with it.
#include "BurnTestSupport.h"
#include "TestImages.h"
#include "burn/DiscBurner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace umbra;

extern char** environ;

using burntest::EnvGuard;
using burntest::snapshot;

namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const char* text, std::chrono::hours age) {
  QFile file(QString::fromStdString(path.string()));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
  file.close();
  fs::last_write_time(path, fs::file_time_type::clock::now() - age);
}

TEST(StaleStagedCopiesTest, OnlyOldCopiesOfOurNamingInTheStagingFolderAreRemoved) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const fs::path staging = tmp.filePath(QStringLiteral("staging")).toStdString();
  const fs::path elsewhere = tmp.filePath(QStringLiteral("elsewhere")).toStdString();
  fs::create_directories(staging);
  fs::create_directories(elsewhere);
  EnvGuard stagingEnv("UMBRADISC_STAGING_DIR", QString::fromStdString(staging.string()));
  const auto old = std::chrono::hours(48);
  const auto fresh = std::chrono::hours(1);

  struct Case {
    const char* name;
    std::chrono::hours age;
    bool removed;
  };
  const Case cases[] = {
      {"umbradisc-burn-4242-disc.iso", old, true},    {"umbradisc-burn-17-disc.iso.part", old, true},
      {"umbradisc-burn-4243-disc.iso", fresh, false}, {"disc.iso", old, false},
      {"umbradisc-burn-notes.txt", old, false},       {"umbradisc-burn-12-", old, false},
      {"my-umbradisc-burn-12-disc.iso", old, false},
  };
  for (const Case& c : cases) writeFile(staging / c.name, "copy", c.age);
  // Outside the staging folder, below it, or reached through a link, nothing is ours to remove.
  writeFile(elsewhere / "umbradisc-burn-4244-disc.iso", "user's", old);
  fs::create_directories(staging / "umbradisc-burn-5-folder");
  writeFile(staging / "umbradisc-burn-5-folder" / "umbradisc-burn-6-disc.iso", "below", old);
  fs::create_symlink(elsewhere / "umbradisc-burn-4244-disc.iso", staging / "umbradisc-burn-7-link.iso");

  DiscBurner::removeLeftoverCopies();

  for (const Case& c : cases) EXPECT_EQ(fs::exists(staging / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::exists(elsewhere / "umbradisc-burn-4244-disc.iso"));
  EXPECT_TRUE(fs::exists(staging / "umbradisc-burn-5-folder" / "umbradisc-burn-6-disc.iso"));
  EXPECT_TRUE(fs::is_symlink(staging / "umbradisc-burn-7-link.iso"));

  // A missing staging folder is no error and is not created.
  EnvGuard missing("UMBRADISC_STAGING_DIR", tmp.filePath(QStringLiteral("none")));
  DiscBurner::removeLeftoverCopies();
  EXPECT_FALSE(QFileInfo::exists(tmp.filePath(QStringLiteral("none"))));
}

// Runs umbradisc-cli with the given environment additions; the stop signals start at their defaults.
pid_t startCli(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
  const std::string program = umbra::test::builtProgram("umbradisc-cli");
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStrings(extraEnv);
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

template <typename Condition>
bool waitFor(Condition condition) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST(StagedCopySignalTest, ASignalDuringACommandLineBurnLeavesNoStagedCopy) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString image = tmp.filePath(QStringLiteral("disc.iso"));
    const QString made = burntest::makeImage(image, 2 * 1024 * 1024);
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    const QString staging = tmp.filePath(QStringLiteral("staging"));
    ASSERT_TRUE(QDir().mkpath(staging));
    QFile other(staging + QStringLiteral("/other.txt"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("not ours");
    other.close();
    const QStringList before = snapshot(staging);

    // The pseudo-drive is a pipe nobody reads yet, so the burn stops mid-write with its copy staged.
    const std::string pipe = tmp.filePath(QStringLiteral("disc.pipe")).toStdString();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const pid_t cli = startCli({"burn", image.toStdString(), "--drive", "stdio:" + pipe},
                               {"UMBRADISC_STAGING_DIR=" + staging.toStdString()});
    ASSERT_GT(cli, 0);
    const QString staged = staging + QStringLiteral("/umbradisc-burn-%1-disc.iso").arg(cli);
    const bool stagedSeen = waitFor([&] { return QFileInfo::exists(staged); });
    EXPECT_TRUE(stagedSeen);

    kill(cli, signal);
    // Gone while the write is still stuck on the pipe.
    EXPECT_TRUE(waitFor([&] { return snapshot(staging) == before; })) << snapshot(staging).join(u' ').toStdString();

    // Let the write go on, so the program can wind the burn down and end.
    int status = 0;
    char buffer[65536];
    const bool ended = waitFor([&] {
      while (read(reader, buffer, sizeof buffer) > 0) {
      }
      return waitpid(cli, &status, WNOHANG) == cli;
    });
    close(reader);
    if (!ended) {
      kill(cli, SIGKILL);
      waitpid(cli, &status, 0);
    }
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_EQ(snapshot(staging), before);
  }
}

TEST(StagedCopySignalTest, TheCommandLineBurnSweepsCopiesLeftByACrash) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString image = tmp.filePath(QStringLiteral("disc.iso"));
  ASSERT_TRUE(burntest::makeImage(image, 1024).isEmpty());
  const fs::path staging = tmp.filePath(QStringLiteral("staging")).toStdString();
  fs::create_directories(staging);
  writeFile(staging / "umbradisc-burn-99999-old.iso", "crashed", std::chrono::hours(30));
  writeFile(staging / "old.iso", "not ours", std::chrono::hours(30));
  const pid_t cli = startCli(
      {"burn", image.toStdString(), "--drive", "stdio:" + tmp.filePath(QStringLiteral("out.bin")).toStdString()},
      {"UMBRADISC_STAGING_DIR=" + staging.string()});
  ASSERT_GT(cli, 0);
  int status = 0;
  ASSERT_EQ(waitpid(cli, &status, 0), cli);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_FALSE(fs::exists(staging / "umbradisc-burn-99999-old.iso"));
  EXPECT_TRUE(fs::exists(staging / "old.iso"));
}

}  // namespace
