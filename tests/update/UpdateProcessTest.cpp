// The update check inside a whole process: closing the main window ends the process while a
// worker still waits (on a server that never answers, or for the answer to its question), and
// settings this user may not write are compared against the default version.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/update/LocalHttpServer.h"
#include "tests/update/UpdateTestSupport.h"

using namespace umbra;

namespace umbra::test {
namespace {

constexpr int kGenerousMs = 30000;  // only a hang comes anywhere near this

QString escaped(QString text) { return text.replace("\n", "\\n"); }

class UpdateProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

  void prepare(QProcess& child, const QString& settingsFile) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("UMBRADISC_SETTINGS", settingsFile);
    env.insert("UMBRADISC_UPDATE_URL", m_server.pageUrl());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
  }

  // Runs update_probe to its end (behind `prefix`, a program that changes its rights) and returns
  // its standard output.
  QString runProbe(const QStringList& prefix, const QStringList& args, const QString& settingsFile) {
    QProcess child;
    prepare(child, settingsFile);
    const QStringList command = prefix + QStringList{UPDATE_PROBE_PATH} + args;
    child.start(command.first(), command.mid(1));
    EXPECT_TRUE(child.waitForFinished(kGenerousMs));
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    return QString::fromUtf8(child.readAllStandardOutput()).remove(QLatin1Char('\r'));  // Windows text mode
  }

  // Waits until standard output holds `line`; returns everything read so far.
  static bool waitForLine(QProcess& child, const QString& line, QString& output) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGenerousMs);
    while (!output.contains(line + "\n")) {
      if (std::chrono::steady_clock::now() > deadline || child.state() != QProcess::Running) return false;
      child.waitForReadyRead(100);
      output += QString::fromUtf8(child.readAllStandardOutput()).remove(QLatin1Char('\r'));  // Windows text mode
    }
    return true;
  }

  bool waitForRequests(int count) const {
    for (int i = 0; i < kGenerousMs / 10 && m_server.requests() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return m_server.requests() >= count;
  }

  // Closes the main window of a running `update_probe app` and checks that the process ends on
  // its own, normally, with status 0 and no sign of a crash or an abort.
  static void closeAndExpectCleanExit(QProcess& child) {
    child.write("close\n");
    ASSERT_TRUE(child.waitForFinished(kGenerousMs)) << "the process did not end after its window closed";
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0);
    const QString errors = QString::fromUtf8(child.readAllStandardError());
    for (const char* sign : {"QThread", "Destroyed while", "abort", "Abort", "terminate", "Segmentation",
                             "QEventLoop", "QObject", "QSocketNotifier", "QTimer"})
      EXPECT_FALSE(errors.contains(sign)) << errors.toStdString();
  }

  CLocalHttpServer m_server;
  QTemporaryDir m_dir;
};

TEST_F(UpdateProcessTest, ClosingTheWindowEndsTheProcessWhileWorkersWaitOnTheNetwork) {
  m_server.neverAnswer();
  QProcess child;
  // No settings file: no throttle, so the start-up worker goes to the network as well.
  prepare(child, m_dir.filePath("missing.ini"));
  child.start(UPDATE_PROBE_PATH, {"app", "--ask"});
  ASSERT_TRUE(child.waitForStarted());
  QString output;
  ASSERT_TRUE(waitForLine(child, "READY ", output));
  ASSERT_TRUE(waitForRequests(2)) << "both workers should be waiting on the server";
  closeAndExpectCleanExit(child);
  output += QString::fromUtf8(child.readAllStandardOutput());
  EXPECT_FALSE(output.contains("BOX")) << output.toStdString();  // nothing was shown
}

TEST_F(UpdateProcessTest, ClosingTheWindowEndsTheProcessWhileTheOfferIsOpen) {
  m_server.servePage("50411\n");
  QProcess child;
  prepare(child, m_dir.filePath("missing.ini"));
  child.start(UPDATE_PROBE_PATH, {"app"});
  ASSERT_TRUE(child.waitForStarted());
  QString output;
  ASSERT_TRUE(waitForLine(child, "BOX " + escaped(kOfferText), output)) << output.toStdString();
  closeAndExpectCleanExit(child);
}

// A user who may read but not write the settings gets the default version 50410 and no throttle.
// File modes do not stop root from writing, so when the tests run as root the probe runs without
// the capability that lets root override them.
TEST_F(UpdateProcessTest, ReadOnlySettingsUseTheDefaultVersion) {
  m_server.servePage("50411\n");
  const QString path = m_dir.filePath("readonly.ini");
  ASSERT_TRUE(writeSettingsFile(path, "Version=60000\nDay=3\n"));

  // Writable, the installed 60000 counts.
  EXPECT_TRUE(runProbe({}, {"check", "--interactive"}, path).contains("PROMPT " + kCurrentText));
  ASSERT_TRUE(writeSettingsFile(path, "Version=60000\nDay=3\n"));

  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  QStringList prefix;
  if (QFile(path).open(QIODevice::ReadWrite)) {
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty()) GTEST_SKIP() << "running with rights that ignore file modes, and no setpriv";
    prefix = {setpriv, "--inh-caps=-dac_override", "--bounding-set=-dac_override"};
  }
  if (!runProbe(prefix, {"can-write", path}, path).contains("WRITABLE no"))
    GTEST_SKIP() << "cannot take away the right to write a read-only file here";

  const QByteArray before = fileBytes(path);
  EXPECT_TRUE(runProbe(prefix, {"check", "--interactive"}, path).contains("PROMPT " + escaped(kOfferText)));
  for (int start = 0; start < 2; ++start) {
    const QString output = runProbe(prefix, {"check"}, path);
    EXPECT_TRUE(output.contains("PROMPT " + escaped(kOfferText))) << output.toStdString();
  }
  EXPECT_EQ(fileBytes(path), before);  // "Day" was not touched
  EXPECT_EQ(m_server.requests(), 4);
}

}  // namespace
}  // namespace umbra::test
