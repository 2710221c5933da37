#include "platform/memory.h"

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

}  // namespace platform
