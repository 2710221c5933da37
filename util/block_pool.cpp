#include "util/block_pool.h"

#include <array>

#include "platform/memory.h"

namespace block_pool {

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif
#else
constexpr bool kPooled = true;
#endif

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClassCount = kMaxPooledBlock / kGranule;
constexpr std::size_t kSlabSize = 16 * 1024 * 1024;

struct FreeBlock {
  FreeBlock* next;
};

struct Pool {
  std::array<FreeBlock*, kClassCount> free{};  // per class: released blocks
  char* cursor = nullptr;                      // the untouched rest of the current slab
  char* end = nullptr;
};

Pool& ThisThreadsPool() {
  thread_local Pool pool;
  return pool;
}

// Class 0 holds blocks of 1..16 bytes, class 1 of 17..32, and so on.
std::size_t ClassOf(std::size_t size) { return size == 0 ? 0 : (size - 1) / kGranule; }

}  // namespace

void* Allocate(std::size_t size) {
  if (!kPooled || size > kMaxPooledBlock) return ::operator new(size);
  Pool& pool = ThisThreadsPool();
  const std::size_t cls = ClassOf(size);
  if (FreeBlock* block = pool.free[cls]) {
    pool.free[cls] = block->next;
    // A table's worth of blocks released a while ago is no longer in the
    // cache; fetching the next one now hides its miss behind the work done
    // with this one.
    __builtin_prefetch(block->next, 1);
    return block;
  }
  const std::size_t bytes = (cls + 1) * kGranule;
  if (static_cast<std::size_t>(pool.end - pool.cursor) < bytes) {
    // The rest of the old slab (less than one block) is left unused.
    char* slab = static_cast<char*>(platform::ReserveLargePages(kSlabSize));
    if (!slab) throw std::bad_alloc();
    pool.cursor = slab;
    pool.end = slab + kSlabSize;
  }
  void* block = pool.cursor;
  pool.cursor += bytes;
  return block;
}

void Release(void* block, std::size_t size) noexcept {
  if (!block) return;
  if (!kPooled || size > kMaxPooledBlock) {
    ::operator delete(block);
    return;
  }
  Pool& pool = ThisThreadsPool();
  const std::size_t cls = ClassOf(size);
  pool.free[cls] = new (block) FreeBlock{pool.free[cls]};
}

}  // namespace block_pool
