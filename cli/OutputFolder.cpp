#include "OutputFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "base/WideText.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace umbra::cli {

bool writeStandardOutput(const void* data, size_t n, std::string& reason) {
  errno = 0;
  if (std::fwrite(data, 1, n, stdout) == n) return true;
  reason = errno ? std::strerror(errno) : "the output was cut short";
  return false;
}

#ifndef _WIN32

namespace {
Outcome failed() { return {Made::Failed, std::strerror(errno)}; }

// What stands at `name` in the folder, without following a link; 0 when nothing does.
mode_t typeAt(int fd, const std::string& name) {
  struct stat st {};
  return fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// Clears the way for a new file or link: a file or a link is removed, a folder stays.
Outcome makeRoom(int fd, const std::string& name, bool replace) {
  if (!replace) return {Made::Exists, {}};
  if (typeAt(fd, name) == S_IFDIR) return {Made::NotAFolder, {}};
  if (unlinkat(fd, name.c_str(), 0) != 0) return failed();
  return {};
}
}  // namespace

OutputFolder::OutputFolder(OutputFolder&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}
OutputFolder::~OutputFolder() {
  if (m_fd >= 0) ::close(m_fd);
}

Outcome OutputFolder::openRoot(const std::string& path, OutputFolder& out) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return failed();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == ENOTDIR ? Outcome{Made::NotAFolder, {}} : failed();
  out = OutputFolder();
  out.m_fd = fd;
  return {};
}

Outcome OutputFolder::enter(const std::string& name, OutputFolder& out) const {
  if (mkdirat(m_fd, name.c_str(), 0777) != 0 && errno != EEXIST) return failed();
  // O_NOFOLLOW: a link put there, even now by another program, is never entered.
  const int fd = openat(m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    const mode_t type = typeAt(m_fd, name);
    if (type == S_IFLNK) return {Made::Link, {}};
    if (err == ENOTDIR || (type && type != S_IFDIR)) return {Made::NotAFolder, {}};
    errno = err;
    return failed();
  }
  out = OutputFolder();
  out.m_fd = fd;
  return {};
}

Outcome OutputFolder::create(const std::string& name, bool replace, OutputFile& out) const {
  for (int attempt = 0; attempt < 2; ++attempt) {
    // O_EXCL with O_NOFOLLOW: a new file only, never one reached through a link.
    const int fd = openat(m_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      out.m_fd = fd;
      out.m_size = 0;
      return {};
    }
    if (errno != EEXIST || attempt > 0) return failed();
    if (typeAt(m_fd, name) == S_IFLNK && !replace) return {Made::Link, {}};
    if (Outcome o = makeRoom(m_fd, name, replace)) return o;
  }
  return failed();
}

Outcome OutputFolder::link(const std::string& name, const std::string& target, bool replace) const {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (symlinkat(target.c_str(), m_fd, name.c_str()) == 0) return {};
    if (errno != EEXIST || attempt > 0) return failed();
    if (Outcome o = makeRoom(m_fd, name, replace)) return o;
  }
  return failed();
}

void OutputFolder::remove(const std::string& name) const { unlinkat(m_fd, name.c_str(), 0); }

void OutputFolder::setModified(const std::string& name, int64_t seconds) const {
  struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  utimensat(m_fd, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

OutputFile::~OutputFile() {
  if (m_fd >= 0) ::close(m_fd);
}

bool OutputFile::write(const void* data, size_t n, std::string& reason) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = ::write(m_fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      reason = w < 0 ? std::strerror(errno) : "nothing could be written";
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
    m_size += static_cast<uint64_t>(w);
  }
  return true;
}

bool OutputFile::skip(uint64_t n, std::string& reason) {
  if (lseek(m_fd, static_cast<off_t>(n), SEEK_CUR) < 0) {
    reason = std::strerror(errno);
    return false;
  }
  m_size += n;
  return true;
}

bool OutputFile::finish(bool hasModified, int64_t seconds, std::string& reason) {
  bool ok = ftruncate(m_fd, static_cast<off_t>(m_size)) == 0;  // a file that ends in zeros gets its length
  if (ok && hasModified) {
    struct timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    futimens(m_fd, times);  // a date the system refuses leaves the file as written
  }
  if (!ok) reason = std::strerror(errno);
  if (::close(m_fd) != 0 && ok) {  // a full disk may show only now
    reason = std::strerror(errno);
    ok = false;
  }
  m_fd = -1;
  return ok;
}

#else  // _WIN32

namespace {
std::string systemText(DWORD code) {
  char text[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                 sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == '.' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "system error " + std::to_string(code) : s;
}

Outcome failed() { return {Made::Failed, systemText(GetLastError())}; }

FILETIME fileTime(int64_t seconds) {
  const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;  // from 1601, in 100 ns
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD attributesAt(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
bool isLink(DWORD a) { return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT); }
bool isFolder(DWORD a) { return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY); }
}  // namespace

OutputFolder::OutputFolder(OutputFolder&& other) noexcept : m_path(std::move(other.m_path)) {}
OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
  m_path = std::move(other.m_path);
  return *this;
}
OutputFolder::~OutputFolder() = default;

Outcome OutputFolder::openRoot(const std::string& path, OutputFolder& out) {
  std::wstring root = wideFromUtf8(path);
  if (!CreateDirectoryW(root.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return failed();
  if (!isFolder(attributesAt(root))) return {Made::NotAFolder, {}};
  if (root.back() != L'\\' && root.back() != L'/') root += L'\\';
  out.m_path = std::move(root);
  return {};
}

Outcome OutputFolder::enter(const std::string& name, OutputFolder& out) const {
  const std::wstring path = m_path + wideFromUtf8(name);
  if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return failed();
  const DWORD a = attributesAt(path);
  if (isLink(a)) return {Made::Link, {}};  // a junction or link is never entered
  if (!isFolder(a)) return {Made::NotAFolder, {}};
  out.m_path = path + L'\\';
  return {};
}

Outcome OutputFolder::create(const std::string& name, bool replace, OutputFile& out) const {
  const std::wstring path = m_path + wideFromUtf8(name);
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      out.m_handle = h;
      out.m_size = 0;
      return {};
    }
    const DWORD err = GetLastError();
    if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt > 0) return failed();
    const DWORD a = attributesAt(path);
    if (isLink(a) && !replace) return {Made::Link, {}};
    if (!replace) return {Made::Exists, {}};
    if (isFolder(a)) return {Made::NotAFolder, {}};
    if (!DeleteFileW(path.c_str())) return failed();
  }
  return failed();
}

Outcome OutputFolder::link(const std::string&, const std::string&, bool) const {
  return {Made::Failed, "symbolic links are not made on Windows"};
}

void OutputFolder::remove(const std::string& name) const { DeleteFileW((m_path + wideFromUtf8(name)).c_str()); }

void OutputFolder::setModified(const std::string& name, int64_t seconds) const {
  HANDLE h = CreateFileW((m_path + wideFromUtf8(name)).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const FILETIME t = fileTime(seconds);
  SetFileTime(h, nullptr, &t, &t);
  CloseHandle(h);
}

OutputFile::~OutputFile() {
  if (m_handle) CloseHandle(static_cast<HANDLE>(m_handle));
}

bool OutputFile::write(const void* data, size_t n, std::string& reason) {
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    DWORD w = 0;
    const DWORD want = static_cast<DWORD>(n > (1u << 30) ? (1u << 30) : n);
    if (!WriteFile(static_cast<HANDLE>(m_handle), p, want, &w, nullptr) || w == 0) {
      reason = systemText(GetLastError());
      return false;
    }
    p += w;
    n -= w;
    m_size += w;
  }
  return true;
}

bool OutputFile::skip(uint64_t n, std::string& reason) {
  LARGE_INTEGER move{};
  move.QuadPart = static_cast<LONGLONG>(n);
  if (!SetFilePointerEx(static_cast<HANDLE>(m_handle), move, nullptr, FILE_CURRENT)) {
    reason = systemText(GetLastError());
    return false;
  }
  m_size += n;
  return true;
}

bool OutputFile::finish(bool hasModified, int64_t seconds, std::string& reason) {
  HANDLE h = static_cast<HANDLE>(m_handle);
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(m_size);
  bool ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  if (!ok) reason = systemText(GetLastError());
  if (ok && hasModified) {
    const FILETIME t = fileTime(seconds);
    SetFileTime(h, nullptr, &t, &t);
  }
  if (!CloseHandle(h) && ok) {
    reason = systemText(GetLastError());
    ok = false;
  }
  m_handle = nullptr;
  return ok;
}

#endif

}  // namespace umbra::cli
