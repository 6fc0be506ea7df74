// A hide or show after another program replaced or rewrote the open image writes nothing, to the
// file still held open or to the one that now has its name, and says so.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "engine/Workspace.h"

namespace umbra {
namespace {

using namespace test;

enum class Replacement {
  RenameOver,           // a new file renamed over the path: another inode
  CopyOver,             // cp over the open file: same inode, new size and time
  CopyOverSameSizeTime  // same inode, size and time: only the bytes to be patched differ
};

struct ReplacedCase {
  const char* name;
  Replacement how;
};

class ReplacedImage : public ::testing::TestWithParam<ReplacedCase> {};

TEST_P(ReplacedImage, HideWritesNothingAndSaysSo) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::Work));
  EntryRow beta;
  ASSERT_FALSE(ws.findEntry("/BETA", beta));
  ASSERT_FALSE(beta.hidden());

  // The open file stays reachable through a second name, to see that nothing reaches it either.
  const fs::path held = dir / "held.iso";
  fs::create_hard_link(image, held);
  const auto heldBefore = readBytes(held);

  const fs::path replacement = dir / "new.iso";
  // Windows keeps an open image from being renamed over or touched, so there nothing can replace it
  // that way; elsewhere a refusal is a failure of the test's own set-up.
  auto refusedBySystem = [](const std::error_code& error) {
#ifdef _WIN32
    GTEST_SKIP() << "the system refuses to replace the open image this way: " << error.message();
#else
    FAIL() << "cannot replace the image: " << error.message();
#endif
  };
  switch (GetParam().how) {
    case Replacement::RenameOver: {
      fs::copy_file(image, replacement);  // the very same bytes: only the file's identity tells
      std::error_code refused;
      fs::rename(replacement, image, refused);
      if (refused) return refusedBySystem(refused);
      break;
    }
    case Replacement::CopyOver:
      makeImage(Maker::Genisoimage, dir / "src", replacement);
      ASSERT_EQ(run("cp " + quote(replacement.string()) + " " + quote(image.string())), 0);
      break;
    case Replacement::CopyOverSameSizeTime: {
      // The same image with BETA's ISO 9660 flags byte changed, copied in; the size and time put back.
      const auto time = fs::last_write_time(image);
      auto bytes = heldBefore;
      bytes.at(static_cast<size_t>(beta.records.front().offset + 25)) ^= 0x01;
      writeFile(replacement, std::string(bytes.begin(), bytes.end()));
      ASSERT_EQ(run("cp " + quote(replacement.string()) + " " + quote(image.string())), 0);
      std::error_code refused;
      fs::last_write_time(image, time, refused);
      if (refused) return refusedBySystem(refused);
      break;
    }
  }
  if (GetParam().how != Replacement::RenameOver) {
    ASSERT_TRUE(fs::equivalent(image, held)) << "cp keeps the inode";
  }
  const auto namedBefore = readBytes(image);

  EntryRow* rows[] = {&beta};
  // The window's question first: a file that is no longer the one opened leaves the row, with the
  // replacement as the reason. A copy that kept the size and time shows only in the bytes the write
  // reads again, below.
  const SelectionAction action = ws.planSelection(rows);
  if (GetParam().how == Replacement::CopyOverSameSizeTime) {
    EXPECT_EQ(action.rows.size(), 1u);
  } else {
    ASSERT_EQ(action.left.size(), 1u);
    EXPECT_EQ(action.left[0].why.kind, ErrorKind::Replaced) << action.left[0].why.message();
    EXPECT_TRUE(action.rows.empty());
  }
  const WriteOutcome written = ws.setHidden(rows, true);
  EXPECT_EQ(written.error.kind, ErrorKind::Replaced) << written.error.message();
  EXPECT_NE(written.error.reason.find("replaced or changed"), std::string::npos) << written.error.reason;
  EXPECT_EQ(written.rowsChanged, 0u);
  EXPECT_FALSE(beta.hidden()) << "the row keeps what the file held";
  ws.close();

  EXPECT_EQ(readBytes(image), namedBefore) << "the file now at the path is untouched";
  if (GetParam().how == Replacement::RenameOver) {
    EXPECT_EQ(readBytes(held), heldBefore) << "the old file too";
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, ReplacedImage,
                         ::testing::Values(ReplacedCase{"RenameOver", Replacement::RenameOver},
                                           ReplacedCase{"CopyOver", Replacement::CopyOver},
                                           ReplacedCase{"CopyOverSameSizeTime", Replacement::CopyOverSameSizeTime}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(ReplacedImage, UnchangedFileStillTakesWritesAfterOurOwn) {
  // Our own writes move the file's time: the next hide in the same session must not take them for another program's.
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "a.iso");
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::WorkUnstamped));
  EntryRow beta, alpha;
  ASSERT_FALSE(ws.findEntry("/BETA", beta));
  ASSERT_FALSE(ws.findEntry("/ALPHA", alpha));
  EntryRow* first[] = {&beta};
  EntryRow* second[] = {&alpha};
  EXPECT_FALSE(ws.setHidden(first, true).error);
  EXPECT_FALSE(ws.setHidden(second, true).error);
  EXPECT_FALSE(ws.setHidden(first, false).error);
  ws.close();
  EXPECT_EQ(isoinfoFlags(image, false, "/", "BETA"), 2u);
  EXPECT_EQ(isoinfoFlags(image, false, "/", "ALPHA"), 7u);
  EXPECT_EQ(isoinfoFlags(image, true, "/", "alpha"), 7u);
}

}  // namespace
}  // namespace umbra
