#include "platform/memory/large_blocks.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace platform::memory {

void* AllocateBlock(size_t size) {
  if (size < kLargeBlock) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  if (size > static_cast<size_t>(-1) - kLargeBlock) throw std::bad_alloc();
  const size_t rounded = (size + kLargeBlock - 1) / kLargeBlock * kLargeBlock;
  void* block = std::aligned_alloc(kLargeBlock, rounded);
  if (block == nullptr) throw std::bad_alloc();
  // Only the whole huge pages the block asks for: the rest of the last one
  // stays in small pages, so that touching it does not back all of it. An
  // advice: refused (huge pages off), it changes nothing.
  (void)::madvise(block, size / kLargeBlock * kLargeBlock, MADV_HUGEPAGE);
  return block;
}

}  // namespace platform::memory
