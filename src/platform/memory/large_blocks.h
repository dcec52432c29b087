// Blocks of memory large enough that the kernel may back them with huge
// pages (2 MiB) rather than pages of 4 KiB: the LDIF text, the directory's
// arena and its indexes, tens of MiB that are filled once. In pages of
// 4 KiB, the first touch of each costs a fault; for a directory of 100,000
// objects that was a tenth of loading it.
//
// Only an advice to the kernel (madvise MADV_HUGEPAGE): where huge pages
// are off or cannot be had, a block is ordinary memory. A block of at
// least kLargeBlock bytes is aligned to it; the advice covers the whole
// huge pages within the size asked for, so that a block costs no memory
// past that size.
#ifndef TARNWICK_PLATFORM_MEMORY_LARGE_BLOCKS_H_
#define TARNWICK_PLATFORM_MEMORY_LARGE_BLOCKS_H_

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace platform::memory {

inline constexpr size_t kLargeBlock = size_t{2} << 20;

// `size` bytes, left as they are; raises std::bad_alloc. Freed by
// FreeBlock (std::free).
void* AllocateBlock(size_t size);
inline void FreeBlock(void* block) { std::free(block); }

struct BlockDeleter {
  void operator()(char* block) const { FreeBlock(block); }
};
using BlockPtr = std::unique_ptr<char[], BlockDeleter>;
inline BlockPtr MakeBlock(size_t size) { return BlockPtr(static_cast<char*>(AllocateBlock(size))); }

// An allocator for containers that may grow large (the directory's
// indexes).
template <class T>
struct BlockAllocator {
  using value_type = T;
  BlockAllocator() = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) {}  // NOLINT(google-explicit-constructor)
  T* allocate(size_t n) {
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateBlock(n * sizeof(T)));
  }
  void deallocate(T* p, size_t) { FreeBlock(p); }
  template <class U>
  bool operator==(const BlockAllocator<U>&) const {
    return true;
  }
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_LARGE_BLOCKS_H_
