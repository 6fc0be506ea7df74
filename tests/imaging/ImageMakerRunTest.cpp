// Whole runs of cdimage through ImageMakerRun: arguments arrive intact, progress, the verdict,
// and cancel.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include "imaging/RunImageMaker.h"

using namespace umbra;

namespace {

struct RunOutcome {
  ImageMakerResult result = ImageMakerResult::Failed;
  QList<int> progress;
  QString errorText;
};

// Runs to the end; cancelAt >= 0 cancels at the first progress report of at least that value.
RunOutcome runMaker(const ImageMakerParams& params, const QString& program = findImageMaker(), int cancelAt = -1) {
  ImageMakerRun run;
  run.setProgram(program);
  RunOutcome outcome;
  QEventLoop loop;
  QObject::connect(&run, &ImageMakerRun::progress, [&](int percent) {
    outcome.progress << percent;
    if (cancelAt >= 0 && percent >= cancelAt) run.cancel();
  });
  QObject::connect(&run, &ImageMakerRun::finished, [&](ImageMakerResult result) {
    outcome.result = result;
    loop.quit();
  });
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a hung maker fails the test, not CI
  run.start(params);
  if (run.isRunning()) loop.exec();
  EXPECT_FALSE(run.isRunning());
  outcome.errorText = run.errorText();
  return outcome;
}

void writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString volumeId(const QString& image) {
  QProcess xorriso;
  xorriso.start(qEnvironmentVariable("UMBRA_XORRISO", "xorriso"),
                {"-indev", image, "-pvd_info"});
  xorriso.waitForFinished();
  const QString out = QString::fromUtf8(xorriso.readAllStandardOutput());
  for (const QString& line : out.split('\n')) {
    if (line.startsWith("Volume Id    : ")) return line.mid(15);
  }
  return "<none>";
}

QStringList partFiles(const QString& folder) {
  return QDir(folder).entryList({".cdimage-*"}, QDir::Files | QDir::Hidden);
}

class ImageMakerRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_temp.isValid());
    m_source = m_temp.filePath("source");
    writeFile(m_source + "/Folder/file.txt", "content");
  }
  ImageMakerParams params(const QString& source, const QString& target) const {
    return ImageMakerParams{"Label", 1114023864, std::nullopt, source, target, m_temp.path(), {}};
  }

  QTemporaryDir m_temp;
  QString m_source;
};

TEST_F(ImageMakerRunTest, QuotesAndTrailingBackslashesReachTheMakerIntact) {
  // A folder whose name ends in a backslash (a drive root in the other world); a relative target
  // resolves against the working folder.
  const QString source = m_temp.filePath("odd\\");
  writeFile(source + "/inside.txt", "x");
  ImageMakerParams p = params(source, "made.iso");
  p.label = "Say \"hi\" \\";
  const RunOutcome outcome = runMaker(p);
  ASSERT_EQ(outcome.result, ImageMakerResult::Succeeded) << outcome.errorText.toStdString();
  EXPECT_EQ(volumeId(m_temp.filePath("made.iso")), "Say \"hi\" \\");
  ASSERT_FALSE(outcome.progress.isEmpty());
  EXPECT_TRUE(std::is_sorted(outcome.progress.begin(), outcome.progress.end()));
  EXPECT_EQ(outcome.progress.back(), 100);
}

TEST_F(ImageMakerRunTest, VerdictNeedsExitStatusZeroAndTheTarget) {
  const QString target = m_temp.filePath("out.iso");
  // An old image at the target does not make a failed run a success, and survives it.
  writeFile(target, "old image");
  const RunOutcome missingSource = runMaker(params(m_temp.filePath("nosuch"), target));
  EXPECT_EQ(missingSource.result, ImageMakerResult::Failed);
  EXPECT_TRUE(missingSource.errorText.contains("nosuch")) << missingSource.errorText.toStdString();
  EXPECT_EQ(readFile(target), "old image");

  // A maker that ends well but writes nothing has failed.
  QFile::remove(target);
  const RunOutcome noTarget =
      runMaker(params(m_source, target), QStandardPaths::findExecutable("true"));
  EXPECT_EQ(noTarget.result, ImageMakerResult::Failed);

  EXPECT_EQ(runMaker(params(m_source, target), m_temp.filePath("no-maker")).result,
            ImageMakerResult::FailedToStart);
  EXPECT_EQ(runMaker(params(m_source, target), QString()).result, ImageMakerResult::FailedToStart);
  EXPECT_FALSE(QFile::exists(target));
}

TEST_F(ImageMakerRunTest, CancelStopsTheMakerAndLeavesNoTarget) {
  const QString big = m_temp.filePath("big");
  writeFile(big + "/large.bin", "");
  ASSERT_TRUE(QFile::resize(big + "/large.bin", 700LL * 1024 * 1024));  // sparse
  const QString target = m_temp.filePath("big.iso");
  const RunOutcome outcome = runMaker(params(big, target), findImageMaker(), 1);
  EXPECT_EQ(outcome.result, ImageMakerResult::Cancelled);
  EXPECT_LT(outcome.progress.back(), 100);
  EXPECT_FALSE(QFile::exists(target));
  EXPECT_EQ(partFiles(m_temp.path()), QStringList());
}

TEST_F(ImageMakerRunTest, AMakerThatIgnoresTheStopRequestIsKilledAndItsFileCleared) {
  // Stands in for a maker that cannot clean up: it ignores SIGTERM and leaves its part file.
  const QString stubborn = m_temp.filePath("stubborn-maker");
  writeFile(stubborn,
            "#!/bin/sh\n"
            "trap '' TERM\n"
            "for last in \"$@\"; do :; done\n"
            "echo partial > \"$(dirname \"$last\")/.cdimage-$$.part\"\n"
            "echo 5\n"
            "exec sleep 60\n");
  QFile::setPermissions(stubborn, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QString target = m_temp.filePath("never.iso");
  const RunOutcome outcome = runMaker(params(m_source, target), stubborn, 5);
  EXPECT_EQ(outcome.result, ImageMakerResult::Cancelled);
  EXPECT_EQ(outcome.progress, QList<int>{5});
  EXPECT_FALSE(QFile::exists(target));
  EXPECT_EQ(partFiles(m_temp.path()), QStringList());
}

TEST(ImageMakerLocation, BesideTheExecutable) {
  EXPECT_EQ(findImageMaker(), QDir(QCoreApplication::applicationDirPath()).filePath("cdimage"));
}

TEST(ImageMakerMessages, AsTheUserSeesThem) {
#ifdef _WIN32
  EXPECT_EQ(imageMakerResultMessage(ImageMakerResult::FailedToStart), "Cannot find the image maker cdimage.exe.");
#else
  EXPECT_EQ(imageMakerResultMessage(ImageMakerResult::FailedToStart), "Cannot find the image maker cdimage.");
#endif
  EXPECT_EQ(imageMakerResultMessage(ImageMakerResult::Failed),
            "Making the CD image file failed. Please check whether there is an invalid file name "
            "in the source folder.");
  EXPECT_EQ(imageMakerResultMessage(ImageMakerResult::Succeeded), QString());
  EXPECT_EQ(imageMakerResultMessage(ImageMakerResult::Cancelled), QString());
}

TEST_F(ImageMakerRunTest, BlockingRunReportsWhetherTheMakerStarted) {
  // Started and ended counts as 1 even when the maker failed; judging the image is the caller's.
  EXPECT_EQ(runImageMakerToEnd(params(m_temp.filePath("nosuch"), m_temp.filePath("x.iso"))), 1);
  EXPECT_EQ(runImageMakerToEnd(params(m_source, m_temp.filePath("y.iso"))), 1);
  EXPECT_TRUE(QFile::exists(m_temp.filePath("y.iso")));
}

}  // namespace

int main(int argc, char** argv) {
  // Local-time texts are checked in a zone with daylight saving, written out in full.
  qputenv("TZ", "EST5EDT,M3.2.0,M11.1.0");
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
