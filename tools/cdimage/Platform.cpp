#include "Platform.h"

#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace cdimage {
namespace {
volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) { g_stop = 1; }
}  // namespace

bool toLocalCalendar(std::time_t time, std::tm* out) {
#ifdef _WIN32
  return localtime_s(out, &time) == 0;
#else
  return localtime_r(&time, out) != nullptr;
#endif
}

bool toUtcCalendar(std::time_t time, std::tm* out) {
#ifdef _WIN32
  return gmtime_s(out, &time) == 0;
#else
  return gmtime_r(&time, out) != nullptr;
#endif
}

void installStopHandler() {
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGINT, onStopSignal);
}

bool stopRequested() { return g_stop != 0; }

std::FILE* openToRead(const std::filesystem::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"rb");
#else
  return std::fopen(path.c_str(), "rb");
#endif
}

std::FILE* createNewFile(const std::filesystem::path& path) {
#ifdef _WIN32
  const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (!file) {
    const int reason = errno;
    _close(fd);
    errno = reason;
  }
  return file;
#else
  return std::fopen(path.c_str(), "wbx");
#endif
}

}  // namespace cdimage
