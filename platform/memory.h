// How the C library's allocator hands memory back to the system.
#pragma once

namespace platform {

// Asks the allocator to keep memory the program frees for its next
// allocations instead of returning it to the system. Reply intake builds and
// frees the objects of a whole table for every reply; memory returned to the
// system in between comes back as fresh pages, each one a page fault and a
// page cleared, which cost more than building the objects. Call it once,
// before anything is allocated in earnest; where the allocator has no such
// settings it does nothing.
void KeepFreedMemoryForReuse();

}  // namespace platform

#include <cstddef>

namespace platform {

// `size` bytes of fresh zeroed memory, aligned to 2 MiB, that the system may
// back with large pages (one page fault per 2 MiB instead of per 4 KiB);
// nullptr when the system has none to give. It is never given back.
void* ReserveLargePages(std::size_t size);

}  // namespace platform
