#include "platform/memory.h"
#include "platform/win32_support.h"

#include <cstdint>

namespace platform {

// The Windows heap keeps freed blocks for reuse by itself (its low-
// fragmentation heap decommits only whole idle segments), and offers no
// settings to change that.
void KeepFreedMemoryForReuse() {}

void* ReserveLargePages(std::size_t size) {
  constexpr std::size_t kLargePage = 2 * 1024 * 1024;
  // Real large pages need the "lock pages in memory" privilege, which an
  // ordinary account lacks; plain pages aligned the same serve the callers.
  // A large page's room to spare is reserved so that an aligned start can be
  // chosen, and only the aligned part is committed.
  char* reserved = static_cast<char*>(::VirtualAlloc(nullptr, size + kLargePage, MEM_RESERVE, PAGE_NOACCESS));
  if (!reserved) return nullptr;
  const auto start = (reinterpret_cast<std::uintptr_t>(reserved) + kLargePage - 1) & ~(kLargePage - 1);
  void* committed = ::VirtualAlloc(reinterpret_cast<void*>(start), size, MEM_COMMIT, PAGE_READWRITE);
  if (!committed) {
    ::VirtualFree(reserved, 0, MEM_RELEASE);
    return nullptr;
  }
  return committed;
}

}  // namespace platform
