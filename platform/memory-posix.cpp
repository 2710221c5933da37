#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  // Never shrink the heap when its top is freed (the default gives back
  // anything above 128 KiB), and serve large blocks (a table's element
  // pointers, the trace texts) from the heap as well, up to the largest
  // size mmap's threshold takes, so that they too are reused rather than
  // mapped and unmapped for every table load.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  // Grow the heap in steps of 16 MiB rather than page by page.
  mallopt(M_TOP_PAD, 16 * 1024 * 1024);
#endif
}

void* ReserveLargePages(std::size_t size) {
  constexpr std::size_t kLargePage = 2 * 1024 * 1024;
  // Mapped with a large page's room to spare, so that an aligned start can
  // be chosen; the spare part is never touched and costs no memory.
  void* mapped = mmap(nullptr, size + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = (reinterpret_cast<std::uintptr_t>(mapped) + kLargePage - 1) & ~(kLargePage - 1);
#if defined(MADV_HUGEPAGE)
  // Only advice: without large pages the memory works the same.
  madvise(reinterpret_cast<void*>(start), size, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(start);
}

}  // namespace platform
