// Small blocks kept for reuse once released: the storage of business
// elements, of which reply intake builds and frees a whole table (a million
// and more) for every reply.
#pragma once

#include <cstddef>
#include <new>

namespace block_pool {

// Blocks up to this size are pooled, in size classes of multiples of 16
// bytes; larger ones, and every block in sanitizer builds (so that they still
// see each block), go to the global operator new/delete.
inline constexpr std::size_t kMaxPooledBlock = 1024;

// A block of at least `size` bytes, aligned for any object of that size:
// the last one released of its size class, else carved from a large slab
// (backed by large pages where the system has them). Memory taken into the
// pool is kept for the life of the process. Each thread has its own pool.
// std::bad_alloc when no memory is left.
void* Allocate(std::size_t size);
// Gives back a block from Allocate, on any thread (it joins that thread's
// pool); `size` is the size it was asked for.
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
