#pragma once
// Large pages for the heap of a program that builds big in-memory models of an image.
#include <cstddef>

namespace umbra {

// Grows the heap by `bytes` at once and asks the system to back that part with large pages (where
// it leaves them to the program's asking). Listing a DVD-sized image builds tens of megabytes of
// folders, names and listings; from ordinary pages each 4 KiB costs a page fault when first
// written, a fifth of the command's time. Only address space is taken until pages are written.
// Call first thing in main, before threads start; a no-op where the C library is not glibc.
void reserveLargeHeapPages(size_t bytes);

}  // namespace umbra
