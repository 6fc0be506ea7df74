#pragma once
// Test fixtures: temporary folders, source trees, images made by real makers, and a tiny builder
// of our own for images no maker would write.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace umbra::test {

namespace fs = std::filesystem;

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return m_path; }
  fs::path operator/(const std::string& name) const { return m_path / name; }

 private:
  fs::path m_path;
};

void writeFile(const fs::path& path, const std::string& content);
// Creates the folder with exactly this name, also beside one whose name differs only in letter case
// (which a Windows program would take for that one; under wine the Linux side makes it).
void makeFolder(const fs::path& path);
std::vector<uint8_t> readBytes(const fs::path& path);
// Runs a shell command; returns its exit status and fills output with its standard output.
// Under wine the command runs in the Linux shell, and quote() turns Z:\ paths into Linux paths.
int run(const std::string& command, std::string* output = nullptr);
std::string quote(const std::string& text);
// Whether the tests run as a user that writes through read-only permissions.
bool runsAsRoot();

// The maker programs named by the build (UMBRA_XORRISO, UMBRA_GENISOIMAGE).
std::string xorriso();
std::string genisoimage();
// A program this build made (umbradisc-cli, cdimage): in UMBRA_BIN_DIR, else the current folder.
std::string builtProgram(const std::string& name);

// Runs a maker's command that writes `image` (its standard error joins the output): 0 when it did.
// xorriso 1.5.4 now and then dies with SIGSEGV as it ends, after the image is written: libburn's
// write thread is still finishing (it frees its options and queues a last message) while xorriso
// tears the library down, and the message reaches freed memory. It reports this as "UNIX-SIGNAL:
// SIGSEGV"; only then the image is removed and made again, at most twice more.
int runImageMaker(const std::string& command, const fs::path& image, std::string* output = nullptr);

enum class Maker { Xorriso, Genisoimage };
const char* makerName(Maker maker);
// Makes an image of `source` with a Joliet tree (unless joliet is false); extra options are added.
fs::path makeImage(Maker maker, const fs::path& source, const fs::path& image, bool joliet = true,
                   const std::string& extra = {}, const std::string& label = "TESTVOL");
// Where temporary folders go: UMBRA_TEST_TMPDIR when set (under wine one the Linux side sees too).
fs::path tempRoot();

// The mixed-case tree used by many tests: alpha, Beta (with inner/deep), Zeta (empty files),
// gamma.dir, an empty folder, a file without extension.
void makeMixedTree(const fs::path& root);

// Flags byte (hex column of `isoinfo -l`) of every record, by the name isoinfo prints, read by an
// independent tool so that tests do not trust the code under test.
struct IsoinfoEntry {
  std::string directory;  // as isoinfo prints it, e.g. "/BETA/"
  std::string name;
  uint32_t extent = 0;
  unsigned flags = 0;
};
// rockRidge: the ISO 9660 tree under its Rock Ridge names.
std::vector<IsoinfoEntry> isoinfoList(const fs::path& image, bool joliet, bool rockRidge = false);
unsigned isoinfoFlags(const fs::path& image, bool joliet, const std::string& directory, const std::string& name);

// Byte positions where two files differ (they must have the same size).
std::vector<uint64_t> differingBytes(const fs::path& a, const fs::path& b);

// A minimal ISO 9660 image built sector by sector, for damaged and unusual images.
class MiniIso {
 public:
  static constexpr uint32_t kRootSector = 20;
  static constexpr uint32_t kPathTableSector = 19;

  explicit MiniIso(uint32_t sectors = 40);
  // Primary descriptor at sector 16 and terminator at 17, root directory at kRootSector holding
  // "." and ".." only, path table with the root record only.
  void basicLayout();
  uint8_t* sector(uint32_t n) { return m_data.data() + static_cast<size_t>(n) * 2048; }
  // Appends a path-table record (type L) and updates the size in the descriptor.
  void addPathRecord(const std::string& name, uint32_t extent, uint16_t parent);
  // Writes a directory record at byte `pos` of the extent at `sector`; returns the record length.
  uint32_t dirRecord(uint32_t sector, uint32_t pos, const std::string& name, uint32_t extent, uint32_t size,
                     uint8_t flags, const uint8_t date[7] = nullptr);
  // A directory with "." and ".." and the given length (Data Length of ".").
  uint32_t startDirectory(uint32_t sector, uint32_t length, uint32_t parentSector);
  void save(const fs::path& path) const;
  std::vector<uint8_t>& bytes() { return m_data; }

 private:
  std::vector<uint8_t> m_data;
  uint32_t m_pathTableSize = 0;
};

}  // namespace umbra::test
