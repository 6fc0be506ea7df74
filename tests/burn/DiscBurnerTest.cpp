#include "BurnTestSupport.h"
#include "burn/BurnDrive.h"
#include "burn/DiscBurner.h"

#include <libburn/libburn.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace umbra;

constexpr BurnResult kNotSet = static_cast<BurnResult>(-1);  // no result written yet

using burntest::EnvGuard;
using burntest::hashOf;
using burntest::holdsImage;
using burntest::snapshot;

using namespace burn;

namespace {

constexpr qint64 kPayload = 300 * 1024;

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

struct BurnOutcome {
  bool ok = false;
  BurnResult code = kNotSet;
  QString error;
  std::vector<int> copyPercents;
  std::vector<int> burnPercents;
  DiscState state = DiscState::Untouched;
};

class BurnFileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_tmp.isValid());
    m_image = path("images/disc.iso");
    ASSERT_TRUE(QDir().mkpath(path("images")));
    const QString made = burntest::makeImage(m_image, kPayload);
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    m_imageHash = hashOf(m_image);
    m_staging = path("staging");
    m_stagingEnv = std::make_unique<EnvGuard>("UMBRADISC_STAGING_DIR", m_staging);
  }

  void TearDown() override {
    // Whatever happened, the image is only ever read.
    EXPECT_EQ(hashOf(m_image), m_imageHash);
  }

  QString path(const char* relative) const { return m_tmp.filePath(QString::fromLatin1(relative)); }

  // Fills the staging folder with an unrelated file and a file of the image's name.
  void prepareStaging() {
    ASSERT_TRUE(QDir().mkpath(m_staging));
    for (const auto& [name, text] : {std::pair{"other.txt", "not ours"}, std::pair{"disc.iso", "stale"}}) {
      QFile file(m_staging + QLatin1Char('/') + QLatin1String(name));
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(text);
    }
  }

  BurnOutcome burn(const QString& address, std::function<bool(const BurnOutcome&)> cancel = {},
                   const QString& image = {}) {
    BurnOutcome outcome;
    EnvGuard drive("UMBRADISC_BURN_DRIVE", address);
    BurnProgress progress;
    progress.copyPercent = [&outcome](int percent) { outcome.copyPercents.push_back(percent); };
    progress.burnPercent = [&outcome](int percent) { outcome.burnPercents.push_back(percent); };
    if (cancel) progress.cancelRequested = [&outcome, &cancel] { return cancel(outcome); };
    DiscBurner burner;
    outcome.ok = burner.burnFile(localPath(image.isEmpty() ? m_image : image), outcome.code, progress);
    outcome.error = QString::fromStdString(burner.lastError());
    outcome.state = burner.discStateAfterBurn();
    return outcome;
  }

  QTemporaryDir m_tmp;
  QString m_image;
  QByteArray m_imageHash;
  QString m_staging;
  std::unique_ptr<EnvGuard> m_stagingEnv;
};

bool risesTo100(const std::vector<int>& percents) {
  return !percents.empty() && std::is_sorted(percents.begin(), percents.end()) && percents.back() == 100;
}

TEST(BurnResultMessageTest, MessagesAreTheUsersTexts) {
  EXPECT_EQ(burnResultMessage(BurnResult::Succeeded), "Burn succeeded!");
  EXPECT_EQ(burnResultMessage(BurnResult::NoRecorder), "Cannot find a recordable drive in this computer.");
  EXPECT_EQ(burnResultMessage(BurnResult::CopyFailed), "Failed to copy the file to the CD recorder's buffer.");
  EXPECT_EQ(burnResultMessage(BurnResult::Failed), "Burn failed.");
}

TEST_F(BurnFileTest, BurnsTheImageAsTheDiscAndRemovesTheStagedCopy) {
  prepareStaging();
  const QStringList before = snapshot(m_staging);
  const QString target = path("disc-out.bin");
  const BurnOutcome outcome = burn(QStringLiteral("stdio:") + target);
  ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
  EXPECT_EQ(outcome.code, BurnResult::Succeeded);
  EXPECT_TRUE(outcome.error.isEmpty());
  QString why;
  EXPECT_TRUE(holdsImage(target, m_image, why)) << why.toStdString();
  // The pseudo-drive gets exactly the image: whole 2048-byte blocks, no padding.
  EXPECT_EQ(QFileInfo(target).size(), QFileInfo(m_image).size());
  // The copy carried a name of its own and is gone; files already there, one of the image's name among
  // them, are as they were.
  EXPECT_EQ(snapshot(m_staging), before);
  EXPECT_TRUE(risesTo100(outcome.copyPercents));
  EXPECT_TRUE(risesTo100(outcome.burnPercents));
}

TEST_F(BurnFileTest, PadsAnImageOfPartBlocksWithZeros) {
  const QString odd = path("images/odd.iso");
  QFile file(odd);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(5000, 'u'));
  file.close();
  const QString target = path("odd-out.bin");
  const BurnOutcome outcome = burn(QStringLiteral("stdio:") + target, {}, odd);
  ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
  QString why;
  EXPECT_TRUE(holdsImage(target, odd, why)) << why.toStdString();
  EXPECT_EQ(QFileInfo(target).size(), 3 * 2048);
}

// The read-back goes to the drive the last successful burn wrote, and to no other.
TEST_F(BurnFileTest, VerifyReadsBackWhatTheLastBurnWrote) {
  DiscBurner burner;
  const std::string image = localPath(m_image);
  VerifyResult result = burner.verifyDisc(image);
  EXPECT_EQ(result.outcome, VerifyOutcome::DiscUnreadable);
  EXPECT_EQ(verifyMessage(result), "The disc could not be read back: no burn has written a disc to read back.");

  // An image of part blocks reaches the disc padded with zeros; the padding is not compared.
  const QString odd = path("images/odd.iso");
  QFile file(odd);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(QByteArray(5000, 'u'));
  file.close();
  const QString target = path("verify-out.bin");
  burner.setDriveAddress("stdio:" + localPath(target));
  BurnResult code = kNotSet;
  ASSERT_TRUE(burner.burnFile(localPath(odd), code)) << burner.lastError();
  std::vector<int> percents;
  result = burner.verifyDisc(localPath(odd), [&percents](int percent) { percents.push_back(percent); });
  EXPECT_EQ(result.outcome, VerifyOutcome::Matches) << result.reason;
  EXPECT_EQ(result.imageBytes, 5000u);
  EXPECT_EQ(result.discBytes, 3u * 2048);
  EXPECT_EQ(QByteArray::fromStdString(result.imageSha256), hashOf(odd));
  EXPECT_TRUE(risesTo100(percents));
  // Compared with another image, the same disc differs from its first block on.
  result = burner.verifyDisc(image);
  EXPECT_EQ(result.outcome, VerifyOutcome::Differs);
  EXPECT_EQ(result.firstDifferingBlock, 0u);

  // A burn that fails leaves nothing to read back, not the disc before it.
  burner.setDriveAddress("stdio:/proc/umbradisc-no-such-entry");
  EXPECT_FALSE(burner.burnFile(image, code));
  result = burner.verifyDisc(image);
  EXPECT_EQ(result.outcome, VerifyOutcome::DiscUnreadable);
  EXPECT_EQ(result.reason, "no burn has written a disc to read back");
}

TEST_F(BurnFileTest, NoRecorderLeavesTheStagingFolderUntouched) {
  struct Case {
    const char* name;
    QString address;
  };
  const Case cases[] = {
      {"pseudo-drive in a missing folder", QStringLiteral("stdio:") + path("missing/out.iso")},
      {"device that does not exist", QStringLiteral("/dev/umbradisc-no-such-drive")},
      {"null drive without a medium", QStringLiteral("stdio:")},
  };
  for (const bool stagingExists : {false, true}) {
    if (stagingExists) prepareStaging();
    const QStringList before = snapshot(m_staging);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const BurnOutcome outcome = burn(c.address);
      EXPECT_FALSE(outcome.ok);
      EXPECT_EQ(outcome.code, BurnResult::NoRecorder);
      EXPECT_EQ(burnResultMessage(outcome.code), "Cannot find a recordable drive in this computer.");
      EXPECT_FALSE(outcome.error.isEmpty());
      EXPECT_TRUE(outcome.copyPercents.empty());
      EXPECT_EQ(QFileInfo::exists(m_staging), stagingExists);
      EXPECT_EQ(snapshot(m_staging), before);
    }
  }
}

TEST_F(BurnFileTest, FailedCopyBurnsNothing) {
  QFile blocker(path("blocker"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  ASSERT_TRUE(QDir().mkpath(path("folder.iso")));
  const QString linkToStaged = path("images/linked.iso");
  const QString stagedName = QStringLiteral("umbradisc-burn-%1-linked.iso").arg(QCoreApplication::applicationPid());
  ASSERT_TRUE(QDir().mkpath(m_staging));
  ASSERT_TRUE(QFile::copy(m_image, m_staging + QLatin1Char('/') + stagedName));
  ASSERT_TRUE(QFile::link(m_staging + QLatin1Char('/') + stagedName, linkToStaged));
  struct Case {
    const char* name;
    QString staging;
    QString image;
  };
  const Case cases[] = {
      // Root writes anywhere, but no one creates a folder below a plain file.
      {"staging folder below a plain file", path("blocker/staging"), m_image},
      {"image that does not exist", m_staging, path("images/missing.iso")},
      {"image that is a folder", m_staging, path("folder.iso")},
      // Staging the image onto itself would end with the image deleted.
      {"image that is a link to its own staged copy", m_staging, linkToStaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EnvGuard staging("UMBRADISC_STAGING_DIR", c.staging);
    const QStringList before = snapshot(c.staging);
    const QString target = path("copy-out.bin");
    const BurnOutcome outcome = burn(QStringLiteral("stdio:") + target, {}, c.image);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.code, BurnResult::CopyFailed);
    EXPECT_EQ(burnResultMessage(outcome.code), "Failed to copy the file to the CD recorder's buffer.");
    EXPECT_FALSE(outcome.error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(snapshot(c.staging), before);
  }
}

TEST_F(BurnFileTest, FailedBurnStillDeletesTheStagedCopy) {
  QFile plain(path("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString targets[] = {
      QStringLiteral("stdio:") + path("plain/out.iso"),  // cannot be created, even by root
      QStringLiteral("stdio:/dev/full"),                 // every write fails: no space left
      QStringLiteral("stdio:/proc/umbradisc-no-such-entry"),
  };
  prepareStaging();
  const QStringList before = snapshot(m_staging);
  for (const QString& target : targets) {
    SCOPED_TRACE(target.toStdString());
    if (target.contains(QLatin1String("/dev/full")) && !QFileInfo::exists(QStringLiteral("/dev/full"))) continue;
    const BurnOutcome outcome = burn(target);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.code, BurnResult::Failed);
    EXPECT_EQ(burnResultMessage(outcome.code), "Burn failed.");
    EXPECT_FALSE(outcome.error.isEmpty());
    EXPECT_TRUE(risesTo100(outcome.copyPercents));
    EXPECT_TRUE(outcome.burnPercents.empty() || outcome.burnPercents.back() < 100);
    // A write that started leaves the medium in an unknown state; the pseudo-drive is write-once.
    EXPECT_EQ(outcome.state, outcome.burnPercents.empty() ? DiscState::Untouched : DiscState::UnknownWriteOnce);
    EXPECT_EQ(snapshot(m_staging), before);

    // libburn reports a failed drive idle before its write thread has ended; a burn straight
    // after must neither be refused nor be reported as written when nothing was.
    const QString next = path("after-failure.bin");
    QFile::remove(next);
    const BurnOutcome after = burn(QStringLiteral("stdio:") + next);
    EXPECT_TRUE(after.ok) << after.error.toStdString();
    QString why;
    EXPECT_TRUE(holdsImage(next, m_image, why)) << why.toStdString();
  }
}

TEST_F(BurnFileTest, CancellingStopsTheCopyOrTheBurn) {
  const QString target = path("cancel-out.bin");
  const BurnOutcome duringCopy = burn(QStringLiteral("stdio:") + target, [](const BurnOutcome&) { return true; });
  EXPECT_EQ(duringCopy.code, BurnResult::CopyFailed);
  EXPECT_FALSE(QFileInfo::exists(target));
  EXPECT_TRUE(snapshot(m_staging).isEmpty()) << snapshot(m_staging).join(u' ').toStdString();

  const BurnOutcome duringBurn = burn(QStringLiteral("stdio:") + target, [](const BurnOutcome& sofar) {
    return !sofar.copyPercents.empty() && sofar.copyPercents.back() == 100;
  });
  EXPECT_EQ(duringBurn.code, BurnResult::Failed);
  // Stopped before the first byte reached the medium: it is as it was, nothing to erase.
  EXPECT_TRUE(duringBurn.burnPercents.empty());
  EXPECT_EQ(duringBurn.state, DiscState::Untouched);
  EXPECT_TRUE(snapshot(m_staging).isEmpty()) << snapshot(m_staging).join(u' ').toStdString();
}

TEST_F(BurnFileTest, EraseIsRefusedWhereTheMediumCannotBeBlanked) {
  QFile plain(path("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  EnvGuard drive("UMBRADISC_BURN_DRIVE", QStringLiteral("stdio:") + path("plain/out.iso"));
  DiscBurner burner;
  BurnResult code = kNotSet;
  ASSERT_FALSE(burner.burnFile(localPath(m_image), code));
  ASSERT_EQ(burner.discStateAfterBurn(), DiscState::UnknownWriteOnce) << burner.lastError();
  EXPECT_EQ(discStateMessage(burner.discStateAfterBurn()),
            "The disc is now in an unknown state: part of the image may be on it, and it may no longer be usable.");
  // A write-once medium keeps no drive for an erase.
  EXPECT_FALSE(burner.eraseDisc());
  EXPECT_EQ(burner.lastError(), "No rewritable disc is waiting to be erased");

  // The drive itself refuses too, with libburn's reason.
  std::string reason;
  const std::unique_ptr<BurnDrive> pseudo = BurnDrive::acquire("stdio:" + localPath(path("blank.bin")), reason);
  ASSERT_TRUE(pseudo) << reason;
  EXPECT_FALSE(pseudo->mediumErasable());
  std::vector<int> percents;
  EXPECT_FALSE(pseudo->erase([&percents](int p) { percents.push_back(p); }, reason));
  EXPECT_EQ(reason, "The medium in the drive cannot be erased");
  EXPECT_TRUE(percents.empty());
}

TEST_F(BurnFileTest, ErasesARewritableMediumQuickly) {
  std::string reason;
  const std::unique_ptr<BurnDrive> drive = BurnDrive::acquire("stdio:" + localPath(path("blank.bin")), reason);
  ASSERT_TRUE(drive) << reason;
  if (!drive->mediumErasable())
    GTEST_SKIP() << "libburn's stdio: pseudo-drive cannot be blanked (\"Drive and media state unsuitable for "
                    "blanking\"): erasing needs a real CD-RW, DVD\u00b1RW or BD-RE drive";
  std::vector<int> percents;
  EXPECT_TRUE(drive->erase([&percents](int p) { percents.push_back(p); }, reason)) << reason;
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
}

TEST_F(BurnFileTest, DriveComesFromCallerThenEnvironmentThenSetting) {
  const QString explicitTarget = path("explicit.bin");
  const QString envTarget = path("env.bin");
  const QString settingTarget = path("setting, quoted.bin");  // QSettings quotes a value with a comma
  struct Case {
    const char* name;
    bool useExplicit;
    bool useEnv;
    QString expected;
  };
  const Case cases[] = {
      {"setting alone", false, false, settingTarget},
      {"environment over setting", false, true, envTarget},
      {"caller over both", true, true, explicitTarget},
  };
  QSettings settings(QStringLiteral("KorvantisSoft"), QStringLiteral("Umbradisc"));
  settings.setValue(QStringLiteral("BurnDrive"), QStringLiteral("stdio:") + settingTarget);
  settings.sync();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QString& t : {explicitTarget, envTarget, settingTarget}) QFile::remove(t);
    EnvGuard env("UMBRADISC_BURN_DRIVE", c.useEnv ? QStringLiteral("stdio:") + envTarget : QString());
    DiscBurner burner;
    if (c.useExplicit) burner.setDriveAddress("stdio:" + localPath(explicitTarget));
    BurnResult code = kNotSet;
    EXPECT_TRUE(burner.burnFile(localPath(m_image), code)) << burner.lastError();
    for (const QString& t : {explicitTarget, envTarget, settingTarget})
      EXPECT_EQ(QFileInfo::exists(t), t == c.expected) << t.toStdString();
  }
  settings.remove(QStringLiteral("BurnDrive"));
  settings.sync();
}

TEST_F(BurnFileTest, DefaultStagingFolderIsInTheUsersCache) {
  EnvGuard staging("UMBRADISC_STAGING_DIR", QString());
  const QString expected = qEnvironmentVariable("XDG_CACHE_HOME") + QStringLiteral("/umbradisc/burn");
  EXPECT_EQ(DiscBurner::stagingFolder(), localPath(expected));
  const QString target = path("cache-out.bin");
  const BurnOutcome outcome = burn(QStringLiteral("stdio:") + target);
  ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
  EXPECT_TRUE(QFileInfo(expected).isDir());
  EXPECT_TRUE(snapshot(expected).isEmpty());
}

TEST_F(BurnFileTest, AvailabilityCheckDuringABurnDoesNotDisturbIt) {
  EXPECT_TRUE(burnAvailable());
  const QString target = path("busy-out.bin");
  EnvGuard drive("UMBRADISC_BURN_DRIVE", QStringLiteral("stdio:") + target);
  bool availableMeanwhile = false;
  BurnProgress progress;
  // Asked while the drive is held: the check must not shut the library down under the burn.
  progress.copyPercent = [&availableMeanwhile](int) { availableMeanwhile = burnAvailable(); };
  DiscBurner burner;
  BurnResult code = kNotSet;
  EXPECT_TRUE(burner.burnFile(localPath(m_image), code, progress)) << burner.lastError();
  EXPECT_TRUE(availableMeanwhile);
  QString why;
  EXPECT_TRUE(holdsImage(target, m_image, why)) << why.toStdString();
  EXPECT_TRUE(burnAvailable());
}

// Runs only on a machine without drives: there a scan could otherwise burn a real disc.
TEST_F(BurnFileTest, NoDrivesAtAllMeansNoRecorder) {
  ASSERT_TRUE(burn_initialize());
  burn_msgs_set_severities(const_cast<char*>("NEVER"), const_cast<char*>("NEVER"), const_cast<char*>(""));
  burn_drive_info* infos = nullptr;
  unsigned int count = 0;
  while (!burn_drive_scan(&infos, &count)) {
  }
  for (unsigned int i = 0; i < count; ++i) burn_drive_info_forget(&infos[i], 0);
  burn_drive_info_free(infos);
  burn_finish();
  if (count > 0) GTEST_SKIP() << "this machine has " << count << " drive(s)";

  const BurnOutcome outcome = burn(QString());
  EXPECT_EQ(outcome.code, BurnResult::NoRecorder);
  EXPECT_FALSE(QFileInfo::exists(m_staging));
}

}  // namespace
