#include "base/HeapPages.h"

#include <cstdint>
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace umbra {

void reserveLargeHeapPages(size_t bytes) {
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
  // Blocks up to 1 MiB come from the heap rather than mappings of their own, and the heap is not
  // given back when its top frees up, so that the grown part stays and is used.
  constexpr int kHeapBlockLimit = 1 << 20;
  mallopt(M_MMAP_THRESHOLD, kHeapBlockLimit);
  mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * bytes));
  mallopt(M_TOP_PAD, static_cast<int>(bytes));
  auto* before = static_cast<char*>(sbrk(0));
  // The heap grows by the pad with this block (volatile: a block never used may be left out).
  void* volatile probe = std::malloc(kHeapBlockLimit / 2);
  auto* after = static_cast<char*>(sbrk(0));
  std::free(probe);
  mallopt(M_TOP_PAD, 0);  // later growth as usual
  if (before == reinterpret_cast<char*>(-1) || after <= before) return;
  const long page = sysconf(_SC_PAGESIZE);
  const auto start =
      (reinterpret_cast<uintptr_t>(before) + static_cast<uintptr_t>(page) - 1) & ~(static_cast<uintptr_t>(page) - 1);
  if (start < reinterpret_cast<uintptr_t>(after))
    madvise(reinterpret_cast<void*>(start), reinterpret_cast<uintptr_t>(after) - start, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

}  // namespace umbra
