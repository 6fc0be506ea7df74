// ImageFile on POSIX systems: pread and pwrite, fdatasync, an open file description lock.
#include "engine/io/ImageFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>  // BLKGETSIZE64
#endif

#include "engine/io/OpenRefusal.h"

namespace umbra {

namespace {

Error openErrorFromErrno(int err, const std::string& path, ImageFile::Mode mode) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return openRefusal(OpenRefusal::Missing, path);
    case EACCES:
    case EPERM:
      return openRefusal(noPermission(mode), path);
    case EROFS:
      return openRefusal(OpenRefusal::ReadOnlyVolume, path);
    case ETXTBSY:
    case EBUSY:
      return openRefusal(OpenRefusal::InUse, path);
    case EISDIR:
      return openRefusal(OpenRefusal::Folder, path);
    default:
      return openRefusal(OpenRefusal::CannotOpen, path, std::strerror(err));
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
    return openRefusal(S_ISDIR(st.st_mode) ? OpenRefusal::Folder
                       : device            ? OpenRefusal::Device
                                           : OpenRefusal::NotRegular,
                       path);
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (device && !deviceSize(fd, size)) {
    const int err = errno;
    ::close(fd);
    return openRefusal(OpenRefusal::CannotSize, path, std::strerror(err));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (mode == Mode::ReadWrite && !lockForWriting(fd)) {
    const int err = errno;
    ::close(fd);
    if (err == EACCES || err == EAGAIN) return openRefusal(OpenRefusal::InUse, path);
    return openRefusal(OpenRefusal::CannotLock, path, std::strerror(err));
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

void* reserveWindowRegion(size_t bytes, size_t& mappedBytes) {
  void* region = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return nullptr;
  mappedBytes = bytes;
#ifdef MADV_HUGEPAGE
  // Where the system leaves large pages to the program's asking, ask; nothing is lost without.
  madvise(region, bytes, MADV_HUGEPAGE);
#endif
  return region;
}

void releaseWindowRegion(void* region, size_t mappedBytes) { munmap(region, mappedBytes); }

}  // namespace umbra
