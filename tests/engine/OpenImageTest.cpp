// Opening images: why an open fails, the descriptor scan, the stamp, the write lock.
#include <gtest/gtest.h>

#include "TestImages.h"
#include "engine/iso9660/IsoLayout.h"
#include "engine/Workspace.h"

namespace umbra {
namespace {

using namespace test;

TEST(OpenImage, ReportsWhyItFailed) {
  TempDir dir;
  writeFile(dir / "text.iso", std::string(40000, 'x'));
  writeFile(dir / "short.iso", "CD001");
  fs::create_directories(dir / "folder.iso");
  struct Case {
    const char* file;
    ErrorKind kind;
  } cases[] = {
      {"missing.iso", ErrorKind::Missing},
      {"text.iso", ErrorKind::NotIso},
      {"short.iso", ErrorKind::NotIso},
      {"folder.iso", ErrorKind::NotIso},
  };
  for (const Case& c : cases) {
    for (OpenMode mode : {OpenMode::ReadOnly, OpenMode::Work}) {
      Workspace ws;
      const fs::path path = dir / c.file;
      const Error e = ws.open(path.string(), mode);
      EXPECT_EQ(e.kind, c.kind) << c.file;
      EXPECT_NE(e.message().find(path.string()), std::string::npos) << "the message names the file";
      EXPECT_FALSE(ws.isOpen());
    }
  }
  // A file that is not an image is never written.
  EXPECT_EQ(readBytes(dir / "text.iso"), std::vector<uint8_t>(40000, 'x'));
}

TEST(OpenImage, FindsJolietBehindABootRecord) {
  TempDir dir;
  makeMixedTree(dir / "src");
  writeFile(dir / "src" / "boot.img", std::string(2048, 'b'));
  for (Maker maker : {Maker::Xorriso, Maker::Genisoimage}) {
    const fs::path image = makeImage(maker, dir / "src", dir / (std::string(makerName(maker)) + ".iso"), true,
                                     "-b boot.img -no-emul-boot -boot-load-size 4");
    Workspace ws;
    ASSERT_FALSE(ws.open(image.string(), OpenMode::ReadOnly)) << makerName(maker);
    const auto& vds = ws.image().descriptors();
    ASSERT_GE(vds.size(), 4u);
    EXPECT_EQ(vds[0].type, iso::kVdTypePrimary);
    EXPECT_EQ(vds[1].type, iso::kVdTypeBoot) << "the boot record stands at sector 17";
    EXPECT_TRUE(ws.image().hasJoliet());
    const int beta = ws.folders().node(0).children[1];
    EXPECT_EQ(ws.folders().nameIn(beta, 1), "Beta");
  }
}

TEST(OpenImage, WithoutJolietEveryRowHasNoTwin) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "plain.iso", false);
  Workspace ws;
  ASSERT_FALSE(ws.open(image.string(), OpenMode::Work));
  EXPECT_FALSE(ws.image().hasJoliet());
  FolderListing listing;
  ASSERT_FALSE(ws.listFolder(0, listing));
  ASSERT_FALSE(listing.rows.empty());
  for (const EntryRow& row : listing.rows) EXPECT_EQ(row.records.size(), 1u) << row.name;
}

TEST(OpenImage, WorkingOpenStampsOnlyTheIdentifierFields) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path original = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  fs::copy_file(original, dir / "b.iso");
  for (int times = 0; times < 2; ++times) {  // stamping twice gives the same bytes
    Workspace ws;
    ASSERT_FALSE(ws.open((dir / "b.iso").string(), OpenMode::Work));
  }
  const auto after = readBytes(dir / "b.iso");
  const auto before = readBytes(original);
  for (uint64_t at : differingBytes(original, dir / "b.iso")) {
    EXPECT_GE(at, 0x8000u + 446);
    EXPECT_LT(at, 0x8000u + 702);
  }
  const std::string stamp(reinterpret_cast<const char*>(&after[0x8000 + 574]), 34);
  EXPECT_EQ(stamp, "Umbradisc, Korvantis Software Inc.");
  for (size_t i = 446; i < 702; ++i) {
    if (i < 574 || i >= 608) {
      EXPECT_EQ(after[0x8000 + i], 0) << i;
    }
  }

  fs::copy_file(original, dir / "c.iso");
  Workspace reader;
  ASSERT_FALSE(reader.open((dir / "c.iso").string(), OpenMode::ReadOnly));
  EXPECT_TRUE(differingBytes(original, dir / "c.iso").empty()) << "a read-only open writes nothing";
}

TEST(OpenImage, OneWriterAtATimeWhileReadersMayRead) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  Workspace writer;
  ASSERT_FALSE(writer.open(image.string(), OpenMode::Work));
  Workspace second;
  EXPECT_EQ(second.open(image.string(), OpenMode::Work).kind, ErrorKind::Locked);
  // Another process is kept out too.
  std::string out;
  const std::string cli = builtProgram("umbradisc-cli");
  if (fs::exists(cli)) {
    EXPECT_EQ(run(quote(cli) + " hide " + quote(image.string()) + " /alpha 2>&1", &out), 2) << out;
    EXPECT_NE(out.find("in use by another program"), std::string::npos) << out;
    EXPECT_EQ(run(quote(cli) + " ls " + quote(image.string()) + " 2>&1", &out), 0) << out;
  }
  Workspace reader;
  EXPECT_FALSE(reader.open(image.string(), OpenMode::ReadOnly));
  writer.close();
  EXPECT_FALSE(second.open(image.string(), OpenMode::Work)) << "closing releases the lock";
}

TEST(OpenImage, ReadOnlyFileCannotBeOpenedForWork) {
  TempDir dir;
  makeMixedTree(dir / "src");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "a.iso");
  fs::permissions(image, fs::perms::owner_read);
  // Root writes through permission bits; an immutable file stops root as well.
  const bool root = runsAsRoot();
  const bool immutable = root && run("chattr +i " + quote(image.string()) + " 2>/dev/null") == 0;
  if (root && !immutable) GTEST_SKIP() << "no way to make a file read-only for root here";
  Workspace ws;
  const Error e = ws.open(image.string(), OpenMode::Work);
  if (immutable) run("chattr -i " + quote(image.string()));
  EXPECT_EQ(e.kind, ErrorKind::NoPermission);
  EXPECT_FALSE(ws.isOpen());
}

}  // namespace
}  // namespace umbra
