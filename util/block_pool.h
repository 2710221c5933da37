// Small blocks that are kept for reuse once released: the storage of
// business elements, of which reply intake builds and frees a whole table
// (a million and more) for every reply.
//
// Blocks come from large slabs (backed by large pages where the system has
// them) and go, when released, onto a list of blocks of their size class
// (multiples of 16 bytes up to kMaxPooledBlock), from which the next request
// of that class is served: no allocator bookkeeping per block and no fresh
// pages for the next table. Memory taken into the pool is kept for the life
// of the process. Larger blocks, and every block in sanitizer builds (so
// that they still see each block), go to the global operator new/delete.
//
// Each thread has its own pool; a block may be released on any thread (it
// then joins that thread's lists). Allocate throws std::bad_alloc when no
// memory is left.
#pragma once

#include <cstddef>
#include <new>

namespace block_pool {

inline constexpr std::size_t kMaxPooledBlock = 1024;

// A block of at least `size` bytes, aligned for any object of that size.
void* Allocate(std::size_t size);
// Gives back a block from Allocate; `size` is the size it was asked for.
void Release(void* block, std::size_t size) noexcept;

// A standard allocator over the pool, for the texts of business elements.
template <class T>
struct Allocator {
  using value_type = T;
  Allocator() = default;
  template <class U>
  constexpr Allocator(const Allocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(Allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { Release(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const Allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace block_pool
