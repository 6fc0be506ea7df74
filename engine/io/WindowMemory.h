#pragma once
// Memory for an ImageFile's read-ahead windows: one region as large as the cache, asked of the
// system at once, so that it can back the region with large pages. A command that lists a large
// image fills tens of megabytes of windows; from the heap, each 4 KiB page of them costs a page
// fault when first written, which took more time than the reads themselves. The region is handed
// out in sectors, first fit after the last piece taken; a window that finds no room in it lives
// on the heap.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace umbra {

class WindowMemory {
 public:
  static constexpr size_t kUnit = 2048;  // a sector: windows are whole sectors

  // bytes of room (rounded up to whole units), reserved at the first take().
  explicit WindowMemory(uint64_t bytes) : m_units(static_cast<size_t>((bytes + kUnit - 1) / kUnit)) {}
  ~WindowMemory();
  WindowMemory(const WindowMemory&) = delete;
  WindowMemory& operator=(const WindowMemory&) = delete;

  // A piece of at least bytes, or nullptr when no run of free units is long enough (or the system
  // gave no region).
  uint8_t* take(size_t bytes);
  // Gives back a piece take() returned, with the size it was asked for.
  void give(uint8_t* piece, size_t bytes);
  bool holds(const uint8_t* p) const { return m_base && p >= m_base && p < m_base + m_units * kUnit; }

 private:
  bool unitUsed(size_t u) const { return (m_used[u / 64] >> (u % 64)) & 1; }
  void mark(size_t first, size_t count, bool used);

  uint8_t* m_base = nullptr;
  size_t m_units = 0;
  size_t m_mappedBytes = 0;
  bool m_tried = false;
  std::vector<uint64_t> m_used;  // a bit per unit
  size_t m_next = 0;             // where the next search starts
};

// The platform's part (ImageFilePosix.cpp, ImageFileWindows.cpp): a region of zeroed memory that
// the system may back with large pages, and its release.
void* reserveWindowRegion(size_t bytes, size_t& mappedBytes);
void releaseWindowRegion(void* region, size_t mappedBytes);

}  // namespace umbra
