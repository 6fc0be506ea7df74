// The read-ahead windows, the counters, the sentences of a refused open and the checks every system
// shares; the calls into the system are in ImageFilePosix.cpp and ImageFileWindows.cpp.
#include "engine/io/ImageFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>

#include "engine/io/OpenRefusal.h"

namespace umbra {

namespace {

struct RefusalLine {
  OpenRefusal refusal;
  ErrorKind kind;
  const char* text;  // a whole sentence, or the start of one the system's own words end
};

// What an open says when it is refused, on every system.
constexpr RefusalLine kRefusals[] = {
    {OpenRefusal::Missing, ErrorKind::Missing, "The file does not exist."},
    {OpenRefusal::NoReadPermission, ErrorKind::NoPermission, "No permission to read the file."},
    {OpenRefusal::NoWritePermission, ErrorKind::NoPermission, "No permission to open the file for writing."},
    {OpenRefusal::ReadOnlyVolume, ErrorKind::ReadOnly, "The file is on a read-only file system."},
    {OpenRefusal::InUse, ErrorKind::Locked, "The file is in use by another program."},
    {OpenRefusal::Folder, ErrorKind::NotIso, "This is a folder, not an image file."},
    {OpenRefusal::Device, ErrorKind::NotIso, "This is a device; hide and show need an image file."},
    {OpenRefusal::NotRegular, ErrorKind::NotIso, "This is not a regular file."},
    {OpenRefusal::CannotOpen, ErrorKind::Io, "Cannot open the file: "},
    {OpenRefusal::CannotSize, ErrorKind::Io, "Cannot tell the size of the device: "},
    {OpenRefusal::CannotLock, ErrorKind::Io, "Cannot lock the file: "},
};

}  // namespace

Error openRefusal(OpenRefusal refusal, const std::string& path, const std::string& systemText) {
  for (const RefusalLine& line : kRefusals)
    if (line.refusal == refusal) return makeError(line.kind, path, line.text + systemText);
  return makeError(ErrorKind::Io, path, "Cannot open the file: " + systemText);
}

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

std::map<uint64_t, ImageFile::Window>::iterator ImageFile::eraseWindow(std::map<uint64_t, Window>::iterator it) const {
  m_cached -= it->second.size;
  if (it->second.capacity > 0) m_memory.give(it->second.data, it->second.capacity);
  return m_windows.erase(it);
}

void ImageFile::dropWindows(uint64_t offset, uint64_t n) const {
  const uint64_t end = n > UINT64_MAX - offset ? UINT64_MAX : offset + n;
  for (auto it = firstWindowFrom(offset); it != m_windows.end() && it->first < end;) it = eraseWindow(it);
}

void ImageFile::evictOlderHalf() const {
  std::vector<uint64_t> uses;
  uses.reserve(m_windows.size());
  for (const auto& [at, w] : m_windows) uses.push_back(w.lastUse);
  auto middle = uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2);
  std::nth_element(uses.begin(), middle, uses.end());
  const uint64_t keepFrom = *middle;
  for (auto it = m_windows.begin(); it != m_windows.end();)
    it = it->second.lastUse <= keepFrom ? eraseWindow(it) : std::next(it);
}

void ImageFile::updateWindows(uint64_t offset, const void* buffer, size_t n) {
  const auto* in = static_cast<const uint8_t*>(buffer);
  for (auto it = firstWindowFrom(offset); it != m_windows.end() && it->first < offset + n; ++it) {
    const auto& [start, w] = *it;
    const uint64_t from = std::max(offset, start), to = std::min(offset + n, start + w.size);
    std::memcpy(w.data + (from - start), in + (from - offset), static_cast<size_t>(to - from));
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

  // The older half goes before the new window is read, so that its memory can take it; the new
  // one stays either way.
  if (m_cached + size > m_budget && !m_windows.empty()) evictOlderHalf();
  Window window;
  window.data = m_memory.take(size);
  if (window.data) {
    window.capacity = size;
  } else {
    window.heapData = std::make_unique_for_overwrite<uint8_t[]>(size);
    window.data = window.heapData.get();
  }
  size_t filled = 0;
  if (!readCounted(start, window.data, size, filled)) {
    if (window.capacity > 0) m_memory.give(window.data, window.capacity);
    return nullptr;
  }
  window.size = filled;
  window.lastUse = ++m_uses;
  m_cached += filled;
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
  std::memcpy(buffer, window->data + (offset - start), got);
  return true;
}

}  // namespace umbra
