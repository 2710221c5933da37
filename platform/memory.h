// How the program's memory comes from the system and goes back to it, for
// reply intake, which builds and frees the objects of a whole table per reply.
#pragma once

#include <cstddef>

namespace platform {

// Asks the allocator to keep memory the program frees for its next
// allocations instead of returning it to the system: memory returned in
// between comes back as fresh pages, each one a page fault and a page
// cleared, which cost more than building the objects. Call it once, before
// anything is allocated in earnest; where the allocator has no such settings
// it does nothing.
void KeepFreedMemoryForReuse();

// `size` bytes of fresh zeroed memory, aligned to 2 MiB, that the system may
// back with large pages (one page fault per 2 MiB instead of per 4 KiB);
// nullptr when the system has none to give. It is never given back.
void* ReserveLargePages(std::size_t size);

}  // namespace platform
