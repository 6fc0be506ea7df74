// ImageFile on Windows: wide-path CreateFileW with a share mode that keeps other writers out,
// overlapped-offset ReadFile and WriteFile, FlushFileBuffers.
#include "engine/io/ImageFile.h"

#include <algorithm>

#include <windows.h>
#include <winioctl.h>

#include "base/WideText.h"
#include "engine/io/OpenRefusal.h"

namespace umbra {

namespace {

std::string systemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
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
      return openRefusal(OpenRefusal::Missing, path);
    case ERROR_ACCESS_DENIED:
      return openRefusal(noPermission(mode), path);
    case ERROR_WRITE_PROTECT:
      return openRefusal(OpenRefusal::ReadOnlyVolume, path);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return openRefusal(OpenRefusal::InUse, path);
    default:
      return openRefusal(OpenRefusal::CannotOpen, path, systemErrorText(err));
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
    return openRefusal(OpenRefusal::Folder, path);
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
    return openRefusal(OpenRefusal::NotRegular, path);
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

void* reserveWindowRegion(size_t bytes, size_t& mappedBytes) {
  // Committed pages are made when first touched; large pages need a privilege users lack.
  void* region = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  mappedBytes = region ? bytes : 0;
  return region;
}

void releaseWindowRegion(void* region, size_t mappedBytes) {
  (void)mappedBytes;
  VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace umbra
