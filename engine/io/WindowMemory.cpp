#include "engine/io/WindowMemory.h"

#include <algorithm>

namespace umbra {

WindowMemory::~WindowMemory() {
  if (m_base) releaseWindowRegion(m_base, m_mappedBytes);
}

void WindowMemory::mark(size_t first, size_t count, bool used) {
  for (size_t u = first; u < first + count; ++u) {
    if (used)
      m_used[u / 64] |= uint64_t{1} << (u % 64);
    else
      m_used[u / 64] &= ~(uint64_t{1} << (u % 64));
  }
}

uint8_t* WindowMemory::take(size_t bytes) {
  if (!m_tried) {
    m_tried = true;
    if (m_units > 0) m_base = static_cast<uint8_t*>(reserveWindowRegion(m_units * kUnit, m_mappedBytes));
    if (m_base) m_used.assign((m_units + 63) / 64, 0);
  }
  const size_t count = (bytes + kUnit - 1) / kUnit;
  if (!m_base || count == 0 || count > m_units) return nullptr;
  // First fit from where the last piece ended, then from the start: pieces taken one after the
  // other lie side by side, and a search seldom passes over much.
  for (size_t pass = 0; pass < 2; ++pass) {
    size_t u = pass == 0 ? m_next : 0;
    const size_t end = pass == 0 ? m_units : std::min(m_next + count, m_units);
    while (u + count <= end) {
      if (unitUsed(u)) {
        // Skip whole words of used units.
        if (u % 64 == 0 && m_used[u / 64] == ~uint64_t{0})
          u += 64;
        else
          ++u;
        continue;
      }
      size_t run = 1;
      while (run < count && !unitUsed(u + run)) ++run;
      if (run == count) {
        mark(u, count, true);
        m_next = u + count == m_units ? 0 : u + count;
        return m_base + u * kUnit;
      }
      u += run;
    }
  }
  return nullptr;
}

void WindowMemory::give(uint8_t* piece, size_t bytes) {
  if (!holds(piece)) return;
  const size_t first = static_cast<size_t>(piece - m_base) / kUnit;
  mark(first, (bytes + kUnit - 1) / kUnit, false);
}

}  // namespace umbra
