#include "Platform.h"

#include <cerrno>
#include <csignal>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
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

#ifdef _WIN32
std::error_code fileStateOf(const std::filesystem::path& path, FileState* state) {
  // Attributes only: no sharing mode of another open of the file stands in the way.
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
      return std::make_error_code(std::errc::no_such_file_or_directory);
    return {static_cast<int>(error), std::system_category()};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  const bool ok = GetFileInformationByHandle(file, &info) &&
                  GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) return {static_cast<int>(error), std::system_category()};
  *state = FileState{};
  state->size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  state->modified = basic.LastWriteTime.QuadPart;
  state->changed = basic.ChangeTime.QuadPart;
  state->volume = info.dwVolumeSerialNumber;
  state->index = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  return {};
}
#else
std::error_code fileStateOf(const std::filesystem::path& path, FileState* state) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {errno, std::generic_category()};
  constexpr int64_t kNanoseconds = 1000000000;
  *state = FileState{};
  state->size = static_cast<uint64_t>(info.st_size);
  state->modified = int64_t{info.st_mtim.tv_sec} * kNanoseconds + info.st_mtim.tv_nsec;
  state->changed = int64_t{info.st_ctim.tv_sec} * kNanoseconds + info.st_ctim.tv_nsec;
  state->volume = static_cast<uint64_t>(info.st_dev);
  state->index = static_cast<uint64_t>(info.st_ino);
  state->mode = static_cast<uint32_t>(info.st_mode & 07777);
  state->owner = static_cast<uint32_t>(info.st_uid);
  state->group = static_cast<uint32_t>(info.st_gid);
  return {};
}
#endif

}  // namespace cdimage
