#include "util/block_pool.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Held {
  unsigned char* block;
  std::size_t size;
  unsigned char mark;
};

void Fill(const Held& held) { std::memset(held.block, held.mark, held.size); }

bool Intact(const Held& held) {
  for (std::size_t i = 0; i < held.size; ++i) {
    if (held.block[i] != held.mark) return false;
  }
  return true;
}

// Blocks of every size class boundary (and beyond the pooled sizes), held
// together, released in turns and taken again: no two live blocks may share
// a byte, and every block keeps its alignment.
TEST(BlockPool, LiveBlocksNeverOverlapAcrossReleaseAndReuse) {
  const std::size_t sizes[] = {0, 1, 15, 16, 17, 31, 32, 33, 144, 160, 1023, 1024, 1025, 4096};
  std::vector<Held> held;
  unsigned char mark = 1;
  for (int round = 0; round < 3; ++round) {
    for (std::size_t size : sizes) {
      for (int copy = 0; copy < 50; ++copy) {
        Held h{static_cast<unsigned char*>(block_pool::Allocate(size)), size, mark++};
        ASSERT_NE(h.block, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(h.block) % alignof(std::max_align_t), 0u) << size;
        Fill(h);
        held.push_back(h);
      }
    }
    // Release every second block; the rest must be untouched by what is
    // allocated next.
    std::vector<Held> kept;
    for (std::size_t i = 0; i < held.size(); ++i) {
      ASSERT_TRUE(Intact(held[i])) << "block of " << held[i].size << " bytes";
      if (i % 2 == 0) {
        block_pool::Release(held[i].block, held[i].size);
      } else {
        kept.push_back(held[i]);
      }
    }
    held = kept;
  }
  for (const Held& h : held) {
    EXPECT_TRUE(Intact(h)) << "block of " << h.size << " bytes";
    block_pool::Release(h.block, h.size);
  }
  block_pool::Release(nullptr, 16);  // like delete of a null pointer
}

}  // namespace
