// extract and cat: copies of what an image holds, hidden folders included, compared with the tree
// the image was made from; hostile names and links that must never reach outside DEST; looking at
// an image never changes it, also on a read-only file or a block device.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "cli/SafeName.h"
#include "TestImages.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace umbra {
namespace {

using namespace test;

#ifndef _WIN32
// Every entry below root: its kind, its bytes (or link target) and its modification time.
struct Seen {
  char kind = '?';  // 'f' file, 'd' folder, 'l' link
  std::string content;
  int64_t modified = 0;
  bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << s.kind << " mtime " << s.modified << " (" << s.content.size() << " bytes)";
}

std::map<std::string, Seen> snapshot(const fs::path& root) {
  std::map<std::string, Seen> entries;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    struct stat st {};
    lstat(it->path().c_str(), &st);
    Seen seen;
    seen.modified = st.st_mtime;
    if (S_ISLNK(st.st_mode)) {
      seen.kind = 'l';
      seen.content = fs::read_symlink(it->path()).string();
    } else if (S_ISDIR(st.st_mode)) {
      seen.kind = 'd';
    } else {
      seen.kind = 'f';
      const auto bytes = readBytes(it->path());
      seen.content.assign(bytes.begin(), bytes.end());
    }
    entries[fs::relative(it->path(), root).string()] = seen;
  }
  return entries;
}

void setModified(const fs::path& path, int64_t seconds) {
  struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}
#endif

class Extract : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "these checks read POSIX file types, modes and links of what extract wrote";
#endif
  }
  int runCli(const std::string& args, std::string* out = nullptr) {
    return run(quote(builtProgram("umbradisc-cli")) + " " + args + " 2>" + quote((dir / "err.txt").string()), out);
  }
  std::string errors() {
    const auto bytes = readBytes(dir / "err.txt");
    return std::string(bytes.begin(), bytes.end());
  }
  TempDir dir;
};

#ifndef _WIN32

// The tree every maker gets: a folder that will be hidden, with a subfolder, empty and odd-sized
// files, spaces and mixed case in names; fixed dates on everything.
void makeSourceTree(const fs::path& src) {
  std::string random(70000, '\0');
  for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761u) >> 13);
  writeFile(src / "Photos 2021" / "beach.jpg", random);
  writeFile(src / "Photos 2021" / "empty.txt", "");
  writeFile(src / "Photos 2021" / "one", "1");
  writeFile(src / "Photos 2021" / "Trip" / "Notes About The Trip.txt", "notes\n");
  writeFile(src / "Photos 2021" / "Trip" / "sector.bin", std::string(2048, 'S'));
  writeFile(src / "Other" / "o.txt", "other\n");
  int64_t when = 1600000000;
  for (auto it = fs::recursive_directory_iterator(src); it != fs::recursive_directory_iterator(); ++it)
    setModified(it->path(), when += 3601);
}

TEST_F(Extract, AHiddenFolderFromEveryMakersImageComesOutAsItWentIn) {
  makeSourceTree(dir / "src");
  const auto source = snapshot(dir / "src" / "Photos 2021");
  struct Case {
    const char* what;
    std::string make;   // shell command; IMAGE and SRC replaced
    bool dates;         // the image keeps each file's date (cdimage records one time for all)
  } cases[] = {
      {"genisoimage -J -R", genisoimage() + " -quiet -J -R -o IMAGE SRC", true},
      {"genisoimage -J", genisoimage() + " -quiet -J -o IMAGE SRC", true},
      {"genisoimage -J -R -udf", genisoimage() + " -quiet -J -R -udf -o IMAGE SRC", true},
      {"cdimage", "TZ=UTC " + quote(builtProgram("cdimage")) + " -t01/02/2020,03:04:05 SRC IMAGE >/dev/null", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.make.find(builtProgram("cdimage")) != std::string::npos && !fs::exists(builtProgram("cdimage"))) {
      std::printf("[  SKIP    ] %s: cdimage is not built here\n", c.what);
      continue;
    }
    const fs::path image = dir / "i.iso", out = dir / "out";
    fs::remove(image);
    fs::remove_all(out);
    std::string command = c.make;
    command.replace(command.find("SRC"), 3, quote((dir / "src").string()));
    command.replace(command.find("IMAGE"), 5, quote(image.string()));
    ASSERT_EQ(run(command), 0) << command;
    ASSERT_EQ(runCli("hide " + quote(image.string()) + " '/Photos 2021'"), 0) << errors();
    const auto hidden = readBytes(image);
    EXPECT_EQ(runCli("extract " + quote(image.string()) + " '/Photos 2021' " + quote(out.string())), 0) << errors();
    EXPECT_EQ(errors(), "");
    EXPECT_EQ(readBytes(image), hidden) << "extract never writes to the image";
    auto copy = snapshot(out / "Photos 2021");
    if (!c.dates)
      for (auto& [name, seen] : copy) {
        EXPECT_EQ(seen.modified, 1577934245) << name << ": the time cdimage recorded";
        seen.modified = source.at(name).modified;
      }
    EXPECT_EQ(copy, source);

    // cat gives the same bytes, under any tree's name for the file.
    std::string bytes;
    EXPECT_EQ(runCli("cat " + quote(image.string()) + " '/Photos 2021/beach.jpg'", &bytes), 0) << errors();
    EXPECT_TRUE(bytes == source.at("beach.jpg").content) << bytes.size() << " bytes";
  }
}

// Replaces every occurrence of a UTF-16BE name in the image's bytes with another of the same length.
void patchJolietName(std::vector<uint8_t>& image, const std::u16string& from, const std::u16string& to) {
  auto be = [](const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) bytes += {static_cast<char>(c >> 8), static_cast<char>(c & 0xFF)};
    return bytes;
  };
  const std::string a = be(from), b = be(to);
  std::string data(image.begin(), image.end());
  size_t count = 0;
  for (size_t at = data.find(a); at != std::string::npos; at = data.find(a, at + b.size()), ++count)
    data.replace(at, b.size(), b);
  ASSERT_GT(count, 0u) << "name not found in the image";
  image.assign(data.begin(), data.end());
}

TEST_F(Extract, HostileNamesNeverLeaveDest) {
  // Names a maker will write, patched in the Joliet tree (the tree extract takes names from here)
  // into names no file system should be handed.
  const std::string hundred(100, 'w');
  struct Case {
    std::u16string made, patched;
    std::string written;  // "" when refused
    std::string line;     // part of its line on standard error
  } cases[] = {
      {u"qq", u"..", "", "/..: the name cannot be used"},
      {u"p", u".", "", "/.: the name cannot be used"},
      {u"zz", u"..", "", ""},  // a folder named "..": neither it nor its file is written
      {u"a_b", u"a/b", "a_b", "/a/b: written as \"a_b\""},
      {u"b_s", u"b\\s", "b_s", "/b\\x5Cs: written as \"b_s\""},
      {u"n_l", std::u16string(u"n") + u'\0' + u"l", "n_l", "/n\\x00l: written as \"n_l\""},
      {u"c_c", u"c\u0001c", "c_c", "/c\\x01c: written as \"c_c\""},
      {std::u16string(100, u'w'), std::u16string(100, u'\u3042'), "", ": the name cannot be used"},  // 300 bytes
  };
  for (const Case& c : cases) {
    std::string name(c.made.begin(), c.made.end());
    if (name == "zz")
      writeFile(dir / "src" / "zz" / "escaped.txt", "must stay inside\n");
    else
      writeFile(dir / "src" / name, "file " + name + "\n");
  }
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "h.iso", true, "-joliet-long");
  auto bytes = readBytes(image);
  for (const Case& c : cases) patchJolietName(bytes, c.made, c.patched);
  {
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));
  }
  // DEST is deep inside a sandbox: anything written outside it shows up in the sandbox.
  const fs::path sandbox = dir / "sandbox", dest = sandbox / "one" / "two" / "dest";
  fs::create_directories(dest);
  EXPECT_EQ(runCli("extract " + quote(image.string()) + " / " + quote(dest.string())), 7);
  const std::string lines = errors();
  std::set<std::string> written;
  for (const auto& [name, seen] : snapshot(dest)) written.insert(name);
  for (const Case& c : cases) {
    if (!c.written.empty()) {
      EXPECT_EQ(written.count(c.written), 1u) << c.written;
    }
    if (!c.line.empty()) {
      EXPECT_NE(lines.find(c.line), std::string::npos) << c.line << "\n" << lines;
    }
  }
  EXPECT_EQ(written, (std::set<std::string>{"a_b", "b_s", "c_c", "n_l"})) << lines;
  std::set<std::string> sandboxed;
  for (const auto& [name, seen] : snapshot(sandbox)) sandboxed.insert(name);
  EXPECT_EQ(sandboxed, (std::set<std::string>{"one", "one/two", "one/two/dest", "one/two/dest/a_b",
                                               "one/two/dest/b_s", "one/two/dest/c_c", "one/two/dest/n_l"}));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 8) << "one line each:\n" << lines;
}

TEST_F(Extract, LinksAreMadeOnlyWhenTheyStayInsideAndThoseInDestAreNeverFollowed) {
  writeFile(dir / "src" / "Box" / "a.txt", "a\n");
  writeFile(dir / "src" / "Box" / "sub" / "b.txt", "b\n");
  fs::create_symlink("a.txt", dir / "src" / "Box" / "near");
  fs::create_symlink("../a.txt", dir / "src" / "Box" / "sub" / "up");
  fs::create_symlink("/etc/passwd", dir / "src" / "Box" / "absolute");
  fs::create_symlink("../../../outside", dir / "src" / "Box" / "sub" / "climb");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "l.iso", true, "-R");
  const std::string img = quote(image.string());
  const fs::path out = dir / "out";

  EXPECT_EQ(runCli("extract " + img + " /Box " + quote(out.string())), 7);
  EXPECT_EQ(fs::read_symlink(out / "Box" / "near"), "a.txt");
  EXPECT_EQ(fs::read_symlink(out / "Box" / "sub" / "up"), "../a.txt");
  EXPECT_FALSE(fs::exists(fs::symlink_status(out / "Box" / "absolute")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(out / "Box" / "sub" / "climb")));
  EXPECT_NE(errors().find("/Box/absolute: a symbolic link to \"/etc/passwd\", which leads outside"), std::string::npos)
      << errors();
  EXPECT_NE(errors().find("/Box/sub/climb: a symbolic link to \"../../../outside\""), std::string::npos) << errors();

  // A second run: every file is there already and nothing is replaced without --force.
  writeFile(out / "Box" / "a.txt", "mine\n");
  EXPECT_EQ(runCli("extract " + img + " /Box " + quote(out.string())), 7);
  EXPECT_EQ(readBytes(out / "Box" / "a.txt"), (std::vector<uint8_t>{'m', 'i', 'n', 'e', '\n'}));
  EXPECT_NE(errors().find("/Box/a.txt: an entry of that name is there already (--force replaces it)"), std::string::npos)
      << errors();
  EXPECT_EQ(runCli("extract --force " + img + " /Box " + quote(out.string())), 7);  // the two outside links stay out
  EXPECT_EQ(readBytes(out / "Box" / "a.txt"), (std::vector<uint8_t>{'a', '\n'}));

  // Links already in DEST, to a folder and to a file outside it: neither is followed.
  const fs::path victim = dir / "victim";
  writeFile(victim / "b.txt", "victim\n");
  fs::remove_all(out);
  fs::create_directories(out / "Box");
  fs::create_directory_symlink(victim, out / "Box" / "sub");
  fs::create_symlink(victim / "b.txt", out / "Box" / "a.txt");
  for (const char* force : {"", "--force "}) {
    EXPECT_EQ(runCli("extract " + std::string(force) + img + " /Box " + quote(out.string())), 7);
    EXPECT_NE(errors().find("/Box/sub: a symbolic link stands there, which is never followed"), std::string::npos)
        << errors();
    EXPECT_EQ(readBytes(victim / "b.txt"), (std::vector<uint8_t>{'v', 'i', 'c', 't', 'i', 'm', '\n'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(victim), fs::directory_iterator()), 1);
  }
  // --force replaced the link a.txt by a file of its own, without writing through it.
  EXPECT_FALSE(fs::is_symlink(out / "Box" / "a.txt"));
  EXPECT_EQ(readBytes(out / "Box" / "a.txt"), (std::vector<uint8_t>{'a', '\n'}));
}

// A name or a link target too long for its record goes on in a continuation area (CE).
TEST_F(Extract, NamesAndLinkTargetsInContinuationAreasComeOutWhole) {
  const std::string name = std::string(240, 'n') + ".txt";
  const std::string target = std::string(120, 'd') + "/" + std::string(120, 'e') + "/target.txt";
  writeFile(dir / "src" / "Box" / name, "long\n");
  fs::create_symlink(target, dir / "src" / "Box" / "deep");
  const fs::path image = makeImage(Maker::Xorriso, dir / "src", dir / "ce.iso", false, "-R");
  const fs::path out = dir / "out";
  ASSERT_EQ(runCli("extract " + quote(image.string()) + " /Box " + quote(out.string())), 0) << errors();
  EXPECT_TRUE(fs::is_regular_file(out / "Box" / name));
  EXPECT_EQ(fs::read_symlink(out / "Box" / "deep"), target);  // inside DEST, though it leads nowhere yet
}

TEST_F(Extract, AFullDiskStopsWithAMessageThatSaysWhatWasWritten) {
  writeFile(dir / "src" / "Box" / "a.txt", "small\n");
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 >> 5);
  writeFile(dir / "src" / "Box" / "z.bin", big);
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "f.iso");
  const std::string img = quote(image.string());

  EXPECT_EQ(run(quote(builtProgram("umbradisc-cli")) + " cat " + img + " /Box/z.bin >/dev/full 2>" +
                quote((dir / "err.txt").string())),
            6);
  EXPECT_NE(errors().find("standard output: No space left on device; "), std::string::npos) << errors();
  EXPECT_NE(errors().find(" of 300000 bytes were written."), std::string::npos) << errors();

  const fs::path small = dir / "small";
  fs::create_directories(small);
  std::string log;
  if (run("mount -t tmpfs -o size=200k tmpfs " + quote(small.string()) + " 2>&1", &log) != 0)
    GTEST_SKIP() << "no small file system to fill here (mount: " << log << ")";
  EXPECT_EQ(runCli("extract " + img + " /Box " + quote((small / "out").string())), 6);
  const std::string text = errors();
  std::set<std::string> left;
  for (const auto& [name, seen] : snapshot(small / "out")) left.insert(name);
  run("umount " + quote(small.string()));
  EXPECT_NE(text.find("/out/Box/z.bin: No space left on device; the partly written file was removed. Written before "
                      "it: 1 file (6 bytes), 1 folder and 0 links."),
            std::string::npos)
      << text;
  EXPECT_EQ(left, (std::set<std::string>{"Box", "Box/a.txt"}));
}

TEST_F(Extract, CatOfAFileOverFourGibibytesFromAMultiExtentImage) {
  // A sparse source keeps the test cheap on disk; the image itself holds every byte.
  const fs::path src = dir / "src", big = src / "big.bin";
  fs::create_directories(src);
  const uint64_t size = (9ull << 29) + 12345;  // 4.5 GiB and a bit
  {
    std::ofstream file(big, std::ios::binary);
    file << "start";
    file.seekp(static_cast<std::streamoff>(4ull << 30) - 2);
    file << "across 4 GiB";
    file.seekp(static_cast<std::streamoff>(size) - 3);
    file << "end";
  }
  ASSERT_EQ(fs::file_size(big), size);
  const fs::path image = dir / "big.iso";
  std::string log;
  ASSERT_EQ(runImageMaker(xorriso() + " -file_size_limit off -- -outdev " + quote(image.string()) + " -map " +
                              quote(src.string()) + " /",
                          image, &log),
            0)
      << log;
  fs::remove(big);  // the copy is checked against a second sparse file with the same bytes
  {
    std::ofstream file(big, std::ios::binary);
    file << "start";
    file.seekp(static_cast<std::streamoff>(4ull << 30) - 2);
    file << "across 4 GiB";
    file.seekp(static_cast<std::streamoff>(size) - 3);
    file << "end";
  }
  const std::string img = quote(image.string());
  std::string listing;
  ASSERT_EQ(runCli("ls " + img, &listing), 0) << errors();
  EXPECT_NE(listing.find("\t" + std::to_string(size) + "\t"), std::string::npos) << "one entry, its whole size: " << listing;
  EXPECT_EQ(run(quote(builtProgram("umbradisc-cli")) + " cat " + img + " /big.bin | cmp - " + quote(big.string())), 0);
  // extract keeps the size and the bytes too, and leaves the hole a hole where the system allows.
  EXPECT_EQ(runCli("extract " + img + " / " + quote((dir / "out").string())), 0) << errors();
  EXPECT_EQ(run("cmp " + quote((dir / "out" / "big.bin").string()) + " " + quote(big.string())), 0);
  fs::remove(image);
}

TEST_F(Extract, LookingNeverWritesAReadOnlyImageAndADeviceIsRead) {
  makeSourceTree(dir / "src");
  const fs::path image = makeImage(Maker::Genisoimage, dir / "src", dir / "r.iso", true, "-R");
  ASSERT_EQ(runCli("hide " + quote(image.string()) + " '/Photos 2021'"), 0) << errors();
  fs::permissions(image, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto before = readBytes(image);
  struct stat was {};
  stat(image.c_str(), &was);
  const std::string img = quote(image.string());
  std::string listing;
  for (const std::string& args : {"ls -R " + img, "info " + img, "cat " + img + " '/Photos 2021/one'",
                                  "extract " + img + " / " + quote((dir / "out").string())})
    EXPECT_EQ(runCli(args, args.rfind("ls", 0) == 0 ? &listing : nullptr), 0) << args << ": " << errors();
  EXPECT_EQ(readBytes(image), before);
  struct stat now {};
  stat(image.c_str(), &now);
  EXPECT_EQ(now.st_mtim.tv_sec, was.st_mtim.tv_sec);
  EXPECT_EQ(now.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
  EXPECT_NE(listing.find("Hidden\tFolder"), std::string::npos) << listing;

  // FIFOs and character devices are refused at once (a FIFO without a writer would block a reader).
  ASSERT_EQ(run("mkfifo " + quote((dir / "fifo").string())), 0);
  for (const std::string& path : {(dir / "fifo").string(), std::string("/dev/null")}) {
    EXPECT_EQ(run("timeout 20 " + quote(builtProgram("umbradisc-cli")) + " ls " + quote(path) + " 2>/dev/null"), 2)
        << path;
  }

  // The same image through a read-only loop device, where the machine lets the test make one.
  std::string device;
  if (run("losetup -f --show -r " + img + " 2>&1", &device) != 0 || device.rfind("/dev/", 0) != 0)
    GTEST_SKIP() << "no loop device here (losetup: " << device << ")";
  device.erase(device.find_last_not_of('\n') + 1);
  std::string fromDevice;
  EXPECT_EQ(runCli("ls -R " + quote(device), &fromDevice), 0) << errors();
  EXPECT_EQ(fromDevice, listing);
  EXPECT_EQ(runCli("show " + quote(device) + " '/Photos 2021'"), 2);
  EXPECT_NE(errors().find("This is a device; hide and show need an image file."), std::string::npos) << errors();
  run("losetup -d " + quote(device));
}

#endif

TEST(SafeName, NamesAreRefusedOrReplacedAlikeEverywhereAndWindowsNamesToo) {
  struct Case {
    std::string name;
    std::string posix, windows;  // "" when refused
  } cases[] = {
      {"plain.txt", "plain.txt", "plain.txt"},
      {"..", "", ""},
      {".", "", ""},
      {"", "", ""},
      {"a/b", "a_b", "a_b"},
      {"a\\b", "a_b", "a_b"},
      {std::string("n\0l", 3), "n_l", "n_l"},
      {"tab\there", "tab_here", "tab_here"},
      {std::string(256, 'x'), "", ""},
      {std::string(255, 'x'), std::string(255, 'x'), std::string(255, 'x')},
      {"CON", "CON", "_CON"},
      {"con.txt", "con.txt", "_con.txt"},
      {"COM1", "COM1", "_COM1"},
      {"COMPUTER", "COMPUTER", "COMPUTER"},
      {"a:b", "a:b", "a_b"},
      {"what?", "what?", "what_"},
      {"dots...", "dots...", "dots___"},
      {"space ", "space ", "space_"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::safeName(c.name, false), c.posix) << cli::printableName(c.name);
    EXPECT_EQ(cli::safeName(c.name, true), c.windows) << cli::printableName(c.name);
  }
  struct Link {
    std::string target;
    int depth;
    bool inside;
  } links[] = {
      {"a.txt", 0, true},       {"../a.txt", 1, true},  {"../a.txt", 0, false}, {"/etc/passwd", 3, false},
      {"sub/../../x", 2, false}, {"./sub/x", 0, true},   {"C:\\x", 1, false},    {"..\\..\\x", 1, false},
  };
  for (const Link& l : links) EXPECT_EQ(cli::linkStaysInside(l.target, l.depth), l.inside) << l.target;
}

}  // namespace
}  // namespace umbra
