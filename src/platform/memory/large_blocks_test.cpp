#include "platform/memory/large_blocks.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

#include <absl/container/flat_hash_set.h>
#include <gtest/gtest.h>

namespace platform::memory {
namespace {

// A large block is aligned so that the kernel can give it whole huge pages,
// and every byte asked for is there; an impossible size is refused, not
// wrapped around into a small block.
TEST(LargeBlocksTest, BlocksHoldWhatIsAskedAndLargeOnesAreAligned) {
  for (const size_t size : {size_t{1}, size_t{4096}, kLargeBlock - 1, kLargeBlock,
                            kLargeBlock + 1, 3 * kLargeBlock + 17}) {
    SCOPED_TRACE(size);
    const BlockPtr block = MakeBlock(size);
    ASSERT_NE(block, nullptr);
    std::memset(block.get(), 0x5A, size);
    EXPECT_EQ(static_cast<unsigned char>(block[size - 1]), 0x5A);
    if (size >= kLargeBlock) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block.get()) % kLargeBlock, 0u);
    }
  }
  EXPECT_THROW(AllocateBlock(std::numeric_limits<size_t>::max() - 10), std::bad_alloc);
  EXPECT_THROW(BlockAllocator<uint64_t>().allocate(std::numeric_limits<size_t>::max() / 4),
               std::bad_array_new_length);

  absl::flat_hash_set<uint64_t, absl::Hash<uint64_t>, std::equal_to<>, BlockAllocator<uint64_t>>
      keys;
  for (uint64_t i = 0; i < 400000; ++i) keys.insert(i * 7919);
  EXPECT_EQ(keys.size(), 400000u);
  EXPECT_TRUE(keys.contains(7919u * 399999));
  EXPECT_FALSE(keys.contains(1));
}

}  // namespace
}  // namespace platform::memory
