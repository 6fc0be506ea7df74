#include "engine/io/ImageFile.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include "base/WideText.h"
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>  // BLKGETSIZE64
#endif
#endif

namespace umbra {

#ifndef _WIN32

namespace {

Error openErrorFromErrno(int err, const std::string& path, ImageFile::Mode mode) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return makeError(ErrorKind::Missing, path, "The file does not exist.");
    case EACCES:
    case EPERM:
      return makeError(ErrorKind::NoPermission, path,
                       mode == ImageFile::Mode::ReadWrite
                           ? "No permission to open the file for writing."
                           : "No permission to read the file.");
    case EROFS:
      return makeError(ErrorKind::ReadOnly, path, "The file is on a read-only file system.");
    case ETXTBSY:
    case EBUSY:
      return makeError(ErrorKind::Locked, path, "The file is in use by another program.");
    case EISDIR:
      return makeError(ErrorKind::NotIso, path, "This is a folder, not an image file.");
    default:
      return makeError(ErrorKind::Io, path, std::string("Cannot open the file: ") + std::strerror(err));
  }
}

// Locks the whole file against other writers. Open file description locks conflict even
// between two opens in the same process; plain POSIX locks are the fallback.
bool lockForWriting(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  if (errno != EINVAL) return false;
#endif
  return fcntl(fd, F_SETLK, &lock) == 0;
}

// The size of a block device: the system's own figure, else where its end lies.
bool deviceSize(int fd, uint64_t& size) {
#ifdef BLKGETSIZE64
  if (ioctl(fd, BLKGETSIZE64, &size) == 0) return true;
#endif
  const off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0) return false;
  size = static_cast<uint64_t>(end);
  return true;
}

}  // namespace

Error ImageFile::open(const std::string& path, Mode mode) {
  close();
  const int flags = mode == Mode::ReadWrite ? O_RDWR : O_RDONLY;
  // Non-blocking, so that a FIFO or a device is refused at once instead of waiting for a peer.
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return openErrorFromErrno(errno, path, mode);
  struct stat st {};
  const bool known = fstat(fd, &st) == 0;
  // A disc in a drive or a loop device may be read; only an image file may be written.
  const bool device = known && S_ISBLK(st.st_mode);
  if (!known || (!S_ISREG(st.st_mode) && !(device && mode == Mode::ReadOnly))) {
    ::close(fd);
    return makeError(ErrorKind::NotIso, path,
                     S_ISDIR(st.st_mode) ? "This is a folder, not an image file."
                     : device            ? "This is a device; hide and show need an image file."
                                         : "This is not a regular file.");
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (device && !deviceSize(fd, size)) {
    const int err = errno;
    ::close(fd);
    return makeError(ErrorKind::Io, path, std::string("Cannot tell the size of the device: ") + std::strerror(err));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (mode == Mode::ReadWrite && !lockForWriting(fd)) {
    const int err = errno;
    ::close(fd);
    if (err == EACCES || err == EAGAIN)
      return makeError(ErrorKind::Locked, path, "Another program has the file open for writing.");
    return makeError(ErrorKind::Io, path, std::string("Cannot lock the file: ") + std::strerror(err));
  }
  m_fd = fd;
  m_mode = mode;
  m_size = size;
  identifyOpenFile(m_seen);
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return {};
}

void ImageFile::close() {
  if (m_fd >= 0) ::close(m_fd);  // closing releases the lock
  m_fd = -1;
  m_size = 0;
  dropWindows(0, UINT64_MAX);
}

bool ImageFile::isOpen() const { return m_fd >= 0; }

bool ImageFile::readDirect(uint64_t offset, void* buffer, size_t n, size_t& got) const {
  got = 0;
  if (m_fd < 0) return false;
  auto* out = static_cast<char*>(buffer);
  while (got < n) {
    const ssize_t r = pread(m_fd, out + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool ImageFile::writeAt(uint64_t offset, const void* buffer, size_t n) {
  if (m_fd < 0 || m_mode != Mode::ReadWrite) return false;
  const auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const ssize_t w = pwrite(m_fd, in + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0) {
      if (errno == EINTR) continue;
      dropWindows(offset, n);  // part of it may have reached the file
      return false;
    }
    done += static_cast<size_t>(w);
  }
  updateWindows(offset, buffer, n);
  identifyOpenFile(m_seen);  // our own write moves the modification time
  return true;
}

bool ImageFile::syncNow() {
  if (m_fd < 0 || m_mode != Mode::ReadWrite) return false;
  while (fdatasync(m_fd) != 0)
    if (errno != EINTR) return false;
  return true;
}

std::string ImageFile::lastErrorText() { return std::strerror(errno); }

namespace {
int64_t nanoseconds(const struct timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }
}  // namespace

bool ImageFile::identifyOpenFile(Identity& id) const {
  struct stat st {};
  if (m_fd < 0 || fstat(m_fd, &st) != 0) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
        nanoseconds(st.st_mtim)};
  return true;
}

bool ImageFile::identifyPath(const std::string& path, Identity& id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
        nanoseconds(st.st_mtim)};
  return true;
}

#else  // _WIN32

namespace {

std::string systemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (length > 0) utf8 = utf8FromWide(std::wstring_view(text, length));
  LocalFree(text);
  while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.'))
    utf8.pop_back();
  return utf8.empty() ? "system error " + std::to_string(code) : utf8;
}

Error openErrorFromSystem(DWORD err, const std::string& path, ImageFile::Mode mode) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return makeError(ErrorKind::Missing, path, "The file does not exist.");
    case ERROR_ACCESS_DENIED:
      return makeError(ErrorKind::NoPermission, path,
                       mode == ImageFile::Mode::ReadWrite
                           ? "No permission to open the file for writing."
                           : "No permission to read the file.");
    case ERROR_WRITE_PROTECT:
      return makeError(ErrorKind::ReadOnly, path, "The file is on a read-only file system.");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return makeError(ErrorKind::Locked, path, "Another program has the file open for writing.");
    default:
      return makeError(ErrorKind::Io, path, "Cannot open the file: " + systemErrorText(err));
  }
}

}  // namespace

Error ImageFile::open(const std::string& path, Mode mode) {
  close();
  // Paths arrive in UTF-8; only the wide calls take every name Windows allows.
  const std::wstring wide = wideFromUtf8(path);
  // Opening a folder fails as "access denied"; say what it is instead.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return makeError(ErrorKind::NotIso, path, "This is a folder, not an image file.");
  const DWORD access = mode == Mode::ReadWrite ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
  // Others may read while we hold the file; nobody else may write.
  const DWORD share = mode == Mode::ReadWrite ? FILE_SHARE_READ : (FILE_SHARE_READ | FILE_SHARE_WRITE);
  HANDLE h = CreateFileW(wide.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return openErrorFromSystem(GetLastError(), path, mode);
  LARGE_INTEGER size{};
  bool sized = GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size);
  if (!sized && mode == Mode::ReadOnly && GetFileType(h) == FILE_TYPE_DISK) {
    // A disc in a drive (\\.\D:) has no file size; the device tells its length.
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    sized = DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr);
    size = length.Length;
  }
  if (!sized) {
    CloseHandle(h);
    return makeError(ErrorKind::NotIso, path, "This is not a regular file.");
  }
  m_handle = h;
  m_mode = mode;
  m_size = static_cast<uint64_t>(size.QuadPart);
  identifyOpenFile(m_seen);
  return {};
}

void ImageFile::close() {
  if (m_handle) CloseHandle(static_cast<HANDLE>(m_handle));
  m_handle = nullptr;
  m_size = 0;
  dropWindows(0, UINT64_MAX);
}

bool ImageFile::isOpen() const { return m_handle != nullptr; }

bool ImageFile::readDirect(uint64_t offset, void* buffer, size_t n, size_t& got) const {
  got = 0;
  if (!m_handle) return false;
  while (got < n) {
    OVERLAPPED ov{};
    const uint64_t at = offset + got;
    ov.Offset = static_cast<DWORD>(at);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD r = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(n - got, 1u << 30));
    if (!ReadFile(static_cast<HANDLE>(m_handle), static_cast<char*>(buffer) + got, want, &r, &ov))
      return GetLastError() == ERROR_HANDLE_EOF;
    if (r == 0) break;
    got += r;
  }
  return true;
}

bool ImageFile::writeAt(uint64_t offset, const void* buffer, size_t n) {
  if (!m_handle || m_mode != Mode::ReadWrite) return false;
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD w = 0;
  if (!WriteFile(static_cast<HANDLE>(m_handle), buffer, static_cast<DWORD>(n), &w, &ov) || w != n) {
    dropWindows(offset, n);
    return false;
  }
  updateWindows(offset, buffer, n);
  identifyOpenFile(m_seen);  // our own write moves the modification time
  return true;
}

bool ImageFile::syncNow() {
  return m_handle && m_mode == Mode::ReadWrite && FlushFileBuffers(static_cast<HANDLE>(m_handle));
}

std::string ImageFile::lastErrorText() { return systemErrorText(GetLastError()); }

namespace {
bool identifyHandle(HANDLE h, uint64_t& volume, uint64_t& file, uint64_t& size, int64_t& modified) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(h, &info)) return false;
  volume = info.dwVolumeSerialNumber;
  file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  modified = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
  return true;
}
}  // namespace

bool ImageFile::identifyOpenFile(Identity& id) const {
  return m_handle && identifyHandle(static_cast<HANDLE>(m_handle), id.volume, id.file, id.size, id.modified);
}

bool ImageFile::identifyPath(const std::string& path, Identity& id) {
  // No data access asked, so the open works whatever the holder of the file shares.
  HANDLE h = CreateFileW(wideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = identifyHandle(h, id.volume, id.file, id.size, id.modified);
  CloseHandle(h);
  return ok;
}

#endif

std::atomic<uint64_t> ImageFile::s_bytesRead{0};
std::atomic<uint64_t> ImageFile::s_reads{0};
std::atomic<uint64_t> ImageFile::s_syncMicroseconds{0};

bool ImageFile::sync() {
  const auto begun = std::chrono::steady_clock::now();
  const bool synced = syncNow();
  s_syncMicroseconds += static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun).count());
  return synced;
}

// The first window that may hold bytes at or after offset (windows never overlap).
std::map<uint64_t, ImageFile::Window>::iterator ImageFile::firstWindowFrom(uint64_t offset) const {
  auto it = m_windows.upper_bound(offset);
  if (it != m_windows.begin() && std::prev(it)->first + std::prev(it)->second.size > offset) --it;
  return it;
}

bool ImageFile::stillNamedBy(const std::string& path, std::string& why) const {
  Identity now, named;
  if (!identifyOpenFile(now)) {
    why = "the open file cannot be examined (" + lastErrorText() + ")";
    return false;
  }
  if (!identifyPath(path, named)) {
    why = "the file is no longer there (" + lastErrorText() + ")";
    return false;
  }
  if (named.volume != now.volume || named.file != now.file) {
    why = "another file has taken its name";
    return false;
  }
  if (now.size != m_seen.size || now.modified != m_seen.modified) {
    why = "another program has written to it";
    return false;
  }
  return true;
}

void ImageFile::dropWindows(uint64_t offset, uint64_t n) const {
  const uint64_t end = n > UINT64_MAX - offset ? UINT64_MAX : offset + n;
  for (auto it = firstWindowFrom(offset); it != m_windows.end() && it->first < end;) {
    m_cached -= it->second.size;
    it = m_windows.erase(it);
  }
}

void ImageFile::updateWindows(uint64_t offset, const void* buffer, size_t n) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  for (auto it = firstWindowFrom(offset); it != m_windows.end() && it->first < offset + n; ++it) {
    const auto& [start, w] = *it;
    const uint64_t from = std::max(offset, start), to = std::min(offset + n, start + w.size);
    std::memcpy(w.data.get() + (from - start), in + (from - offset), static_cast<size_t>(to - from));
  }
}

bool ImageFile::readCounted(uint64_t offset, void* buffer, size_t n, size_t& got) const {
  const bool ok = readDirect(offset, buffer, n, got);
  s_bytesRead += got;
  ++s_reads;
  return ok;
}

ImageFile::Window* ImageFile::fill(uint64_t offset, size_t n, uint64_t& windowStart) const {
  uint64_t start = offset - offset % kSector;
  const uint64_t end = offset + n;
  // A read that goes on where a window ends (or, within ReadThroughGaps, a little after it) is a
  // walk in order: read further ahead each time, the gap included.
  size_t size = static_cast<size_t>((end - start + kSector - 1) / kSector * kSector);
  auto after = m_windows.upper_bound(start);
  if (after != m_windows.begin()) {
    const auto& [prevStart, prev] = *std::prev(after);
    const uint64_t prevEnd = prevStart + prev.size;
    if (prevEnd + m_skipAhead >= start && prevEnd <= end && prev.size % kSector == 0) {
      start = std::min(start, prevEnd);
      const size_t needed = static_cast<size_t>((end - start + kSector - 1) / kSector * kSector);
      size = std::max(needed, std::min(kWindowSize, 2 * std::max(prev.size, kSector)));
    }
  }
  const size_t needed = static_cast<size_t>((end - start + kSector - 1) / kSector * kSector);
  // Never over a window that is already there: what it holds is not read again.
  if (after != m_windows.end() && after->first < start + size)
    size = std::max(needed, static_cast<size_t>(after->first - start));
  windowStart = start;
  dropWindows(start, size);  // only a window the read itself overlaps

  Window window;
  window.data = std::make_unique_for_overwrite<uint8_t[]>(size);
  size_t filled = 0;
  if (!readCounted(start, window.data.get(), size, filled)) return nullptr;
  window.size = filled;
  window.lastUse = ++m_uses;
  m_cached += filled;
  // Over the budget, the less recently used half of the windows goes at once (so that a full cache
  // costs no scan per read); the new one stays.
  if (m_cached > m_budget && !m_windows.empty()) {
    std::vector<uint64_t> uses;
    uses.reserve(m_windows.size());
    for (const auto& [at, w] : m_windows) uses.push_back(w.lastUse);
    auto middle = uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2);
    std::nth_element(uses.begin(), middle, uses.end());
    const uint64_t keepFrom = *middle;
    for (auto it = m_windows.begin(); it != m_windows.end();) {
      if (it->second.lastUse <= keepFrom) {
        m_cached -= it->second.size;
        it = m_windows.erase(it);
      } else {
        ++it;
      }
    }
  }
  return &m_windows.insert_or_assign(start, std::move(window)).first->second;
}

bool ImageFile::readAt(uint64_t offset, void* buffer, size_t n, size_t& got) const {
  got = 0;
  if (!isOpen()) return false;
  if (n == 0) return true;
  if (n > kSmallRead) return readCounted(offset, buffer, n, got);
  uint64_t start = 0;
  Window* window = nullptr;
  auto it = m_windows.upper_bound(offset);
  if (it != m_windows.begin()) {
    --it;
    if (offset + n <= it->first + it->second.size || it->first + it->second.size >= m_size) {
      start = it->first;
      window = &it->second;
    }
  }
  if (!window) {
    window = fill(offset, n, start);
    if (!window) return false;
  }
  window->lastUse = ++m_uses;
  if (offset >= start + window->size) return true;  // past the end of the file
  // The minimum is taken in 64 bits; it is bounded by n, so it fits a size_t.
  got = static_cast<size_t>(std::min<uint64_t>(n, start + window->size - offset));
  std::memcpy(buffer, window->data.get() + (offset - start), got);
  return true;
}

}  // namespace umbra
