#include "TestImages.h"

#include <array>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "base/ByteOrder.h"
#include "base/ProcessId.h"

namespace umbra::test {

namespace {

std::string fromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

}  // namespace

fs::path tempRoot() {
  const std::string root = fromEnv("UMBRA_TEST_TMPDIR", "");
  return root.empty() ? fs::temp_directory_path() : fs::path(root);
}

TempDir::TempDir() {
  std::random_device random;
  fs::create_directories(tempRoot());
  // A folder that is already there is another test's, however unlikely: only a new one is taken.
  do {
    m_path = tempRoot() / ("umbra-test-" + std::to_string(random()) + std::to_string(random()));
  } while (!fs::create_directory(m_path));
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
#ifdef _WIN32
  // Windows deletes no read-only file.
  for (const auto& entry : fs::recursive_directory_iterator(m_path, ignored))
    fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
#endif
  fs::remove_all(m_path, ignored);
}

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

#ifndef _WIN32
void makeFolder(const fs::path& path) { fs::create_directories(path); }
#else
void makeFolder(const fs::path& path) {
  if (run("mkdir -p " + quote(path.string())) != 0) throw std::runtime_error("cannot make " + path.string());
}
#endif

std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

#ifndef _WIN32

int run(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 65536> chunk{};
  std::string text;
  size_t n = 0;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
  const int status = pclose(pipe);
  if (output) *output = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool runsAsRoot() { return geteuid() == 0; }

#else

namespace {

// Z:\ is wine's drive for the Linux root; other drives are not shared with the Linux side.
bool onDriveZ(const std::string& text) {
  return text.size() >= 3 && (text[0] == 'Z' || text[0] == 'z') && text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

std::string linuxPath(const std::string& path) {
  std::string converted = path.substr(2);
  for (char& c : converted)
    if (c == '\\') c = '/';
  return converted;
}

}  // namespace

// Under wine, popen goes to cmd.exe and a Linux program started by CreateProcess gives no handle to
// wait on and no pipe output. So the command runs in a Linux shell from a script that leaves the
// output and the exit status in files beside it; the status file appears in one rename.
int run(const std::string& command, std::string* output) {
  static std::atomic<unsigned> serial{0};
  const fs::path dir =
      tempRoot() / ("run-" + std::to_string(umbra::currentProcessId()) + "-" + std::to_string(serial++));
  // Left by an earlier process that had this id (wine reuses small ids) and was stopped before it
  // cleared it: its status file would end the wait below at once.
  std::error_code stale;
  fs::remove_all(dir, stale);
  fs::create_directories(dir);
  const std::string unixDir = linuxPath(dir.string());
  writeFile(dir / "command.sh",
            "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin; export PATH\n"
            "cd " + quote(unixDir) + " || exit 127\n"
            "{\n" + command + "\n} >output </dev/null\n"
            "echo $? >status.part && mv status.part status\n");
  std::string line = "/bin/sh " + unixDir + "/command.sh";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  int status = -1;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!fs::exists(dir / "status") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ifstream in(dir / "status");
    if (!(in >> status)) status = -1;
  }
  if (output) {
    const auto bytes = readBytes(dir / "output");
    output->assign(bytes.begin(), bytes.end());
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return status;
}

std::string quote(const std::string& text) {
  const std::string shellText = onDriveZ(text) ? linuxPath(text) : text;
  std::string q = "'";
  for (char c : shellText) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Wine runs as the Linux user, and root writes through the read-only attribute as through mode bits.
bool runsAsRoot() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  return wine && run("test \"$(id -u)\" = 0") == 0;
}

#endif

std::string xorriso() { return fromEnv("UMBRA_XORRISO", "xorriso"); }
std::string genisoimage() { return fromEnv("UMBRA_GENISOIMAGE", "genisoimage"); }

std::string builtProgram(const std::string& name) { return fromEnv("UMBRA_BIN_DIR", ".") + "/" + name; }

const char* makerName(Maker maker) { return maker == Maker::Xorriso ? "xorriso" : "genisoimage"; }

int runImageMaker(const std::string& command, const fs::path& image, std::string* output) {
  constexpr int kAttempts = 3;
  std::string log;
  int status = -1;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::error_code ignored;
    fs::remove(image, ignored);  // xorriso would add a session to an image already there
    status = run(command + " 2>&1", &log);
    if (status == 0 || log.find("UNIX-SIGNAL:  SIGSEGV") == std::string::npos) break;
  }
  if (output) *output = std::move(log);
  return status;
}

fs::path makeImage(Maker maker, const fs::path& source, const fs::path& image, bool joliet, const std::string& extra,
                   const std::string& label) {
  const std::string tool = maker == Maker::Xorriso ? xorriso() + " -as mkisofs" : genisoimage();
  const std::string command = tool + " -quiet " + (joliet ? "-J " : "") + extra + " -V " + label + " -o " +
                              quote(image.string()) + " " + quote(source.string());
  std::string log;
  if (runImageMaker(command, image, &log) != 0 || !fs::exists(image))
    throw std::runtime_error("image maker failed: " + log);
  return image;
}

void makeMixedTree(const fs::path& root) {
  writeFile(root / "alpha" / "a.txt", "alpha file\n");
  writeFile(root / "Beta" / "b.txt", "beta file\n");
  writeFile(root / "Beta" / "inner" / "deep" / "d.txt", "deep file\n");
  writeFile(root / "Zeta" / "empty1", "");
  writeFile(root / "Zeta" / "empty2", "");
  writeFile(root / "gamma.dir" / "g.txt", "gamma\n");
  writeFile(root / "README", "no extension\n");
  fs::create_directories(root / "empty");
}

std::vector<IsoinfoEntry> isoinfoList(const fs::path& image, bool joliet, bool rockRidge) {
  std::string text;
  run("isoinfo " + std::string(joliet ? "-J " : rockRidge ? "-R " : "") + "-l -i " + quote(image.string()), &text);
  std::vector<IsoinfoEntry> entries;
  std::istringstream lines(text);
  std::string line, directory;
  while (std::getline(lines, line)) {
    if (line.rfind("Directory listing of ", 0) == 0) {
      directory = line.substr(21);
      continue;
    }
    const size_t open = line.find('['), close = line.find(']');
    if (open == std::string::npos || close == std::string::npos) continue;
    IsoinfoEntry entry;
    entry.directory = directory;
    std::istringstream fields(line.substr(open + 1, close - open - 1));
    std::string flags;
    fields >> entry.extent >> flags;
    entry.flags = static_cast<unsigned>(std::stoul(flags, nullptr, 16));
    entry.name = line.substr(close + 3);
    while (!entry.name.empty() && entry.name.back() == ' ') entry.name.pop_back();
    entries.push_back(entry);
  }
  return entries;
}

unsigned isoinfoFlags(const fs::path& image, bool joliet, const std::string& directory, const std::string& name) {
  for (const IsoinfoEntry& e : isoinfoList(image, joliet))
    if (e.directory == directory && e.name == name) return e.flags;
  throw std::runtime_error("isoinfo lists no " + directory + name);
}

std::vector<uint64_t> differingBytes(const fs::path& a, const fs::path& b) {
  const auto x = readBytes(a), y = readBytes(b);
  if (x.size() != y.size()) throw std::runtime_error("sizes differ");
  std::vector<uint64_t> at;
  for (size_t i = 0; i < x.size(); ++i)
    if (x[i] != y[i]) at.push_back(i);
  return at;
}

// ---- MiniIso ----

// ISO 9660's both-byte-order fields: little-endian, then big-endian.
static void both32(uint8_t* p, uint32_t v) {
  writeLe32(p, v);
  writeBe32(p + 4, v);
}
static void both16(uint8_t* p, uint16_t v) {
  writeLe16(p, v);
  writeBe16(p + 2, v);
}

MiniIso::MiniIso(uint32_t sectors) : m_data(static_cast<size_t>(sectors) * 2048, 0) {}

void MiniIso::basicLayout() {
  uint8_t* pvd = sector(16);
  pvd[0] = 1;
  std::memcpy(pvd + 1, "CD001", 5);
  pvd[6] = 1;
  std::memset(pvd + 8, ' ', 64);
  std::memcpy(pvd + 40, "MINI", 4);
  both32(pvd + 80, static_cast<uint32_t>(m_data.size() / 2048));
  both16(pvd + 120, 1);
  both16(pvd + 124, 1);
  both16(pvd + 128, 2048);
  pvd[140] = kPathTableSector;
  dirRecord(16, 156, std::string(1, '\0'), kRootSector, 2048, 2);
  uint8_t* term = sector(17);
  term[0] = 255;
  std::memcpy(term + 1, "CD001", 5);
  term[6] = 1;
  startDirectory(kRootSector, 2048, kRootSector);
  addPathRecord(std::string(1, '\0'), kRootSector, 1);
}

void MiniIso::addPathRecord(const std::string& name, uint32_t extent, uint16_t parent) {
  uint8_t* p = sector(kPathTableSector) + m_pathTableSize;
  p[0] = static_cast<uint8_t>(name.size());
  writeLe32(p + 2, extent);
  writeLe16(p + 6, parent);
  std::memcpy(p + 8, name.data(), name.size());
  m_pathTableSize += static_cast<uint32_t>(8 + name.size() + (name.size() & 1));
  both32(sector(16) + 132, m_pathTableSize);
}

uint32_t MiniIso::dirRecord(uint32_t sectorNumber, uint32_t pos, const std::string& name, uint32_t extent,
                            uint32_t size, uint8_t flags, const uint8_t date[7]) {
  uint8_t* r = sector(sectorNumber) + pos;
  const uint32_t length = static_cast<uint32_t>(33 + name.size() + ((name.size() & 1) ? 0 : 1));
  r[0] = static_cast<uint8_t>(length);
  both32(r + 2, extent);
  both32(r + 10, size);
  static const uint8_t defaultDate[7] = {105, 3, 7, 9, 5, 0, 0};
  std::memcpy(r + 18, date ? date : defaultDate, 7);
  r[25] = flags;
  both16(r + 28, 1);
  r[32] = static_cast<uint8_t>(name.size());
  std::memcpy(r + 33, name.data(), name.size());
  return length;
}

uint32_t MiniIso::startDirectory(uint32_t sectorNumber, uint32_t length, uint32_t parentSector) {
  uint32_t pos = dirRecord(sectorNumber, 0, std::string(1, '\0'), sectorNumber, length, 2);
  pos += dirRecord(sectorNumber, pos, std::string(1, '\1'), parentSector, 2048, 2);
  return pos;
}

void MiniIso::save(const fs::path& path) const {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(m_data.data()), static_cast<std::streamsize>(m_data.size()));
}

}  // namespace umbra::test
