// Running the engine on a thread with a large stack. The engine recurses
// once per level of list nesting (and once per nested query-based list), so a
// deep chain of lists needs far more stack than a process's main thread has.
//
// The stack is address space taken before the run starts, and under an
// address-space limit (ulimit -v) every byte of it is a byte the heap cannot
// have. The organisation lives on the heap, and a wide list needs far more
// heap than a deep one needs stack, so under a limit the stack takes only a
// quarter of what the limit leaves.
#ifndef TARNWICK_DRIVER_LARGE_STACK_H_
#define TARNWICK_DRIVER_LARGE_STACK_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace driver {

// 1 GiB of address space; pages are only committed as the stack grows into
// them, so a shallow run costs no more memory than on a normal stack.
inline constexpr std::size_t kLargeStackBytes = std::size_t{1} << 30;
// The smallest stack worth a thread: a main thread has this much by default
// (RLIMIT_STACK), so anything less gains nothing over running in place.
inline constexpr std::size_t kSmallestStackBytes = std::size_t{8} << 20;
// An address-space limit of "unlimited" (RLIM_INFINITY).
inline constexpr std::uint64_t kNoAddressSpaceLimit = UINT64_MAX;

// The stack to reserve for the engine, from the address-space limit and the
// address space the process uses already (both in bytes): kLargeStackBytes
// without a limit; under a limit a quarter of what it leaves, at most
// kLargeStackBytes, rounded down to whole MiB; 0 (run on the calling
// thread) when that is less than kSmallestStackBytes or nothing is left.
std::size_t StackBytesFor(std::uint64_t address_space_limit, std::uint64_t address_space_used);

// StackBytesFor this process: the soft RLIMIT_AS, and the size of the
// address space from /proc/self/statm (taken as 0 when unreadable).
std::size_t StackBytesForThisProcess();

// Runs `body` on a new thread whose stack has `stack_bytes` and waits for it
// to finish; an exception thrown by `body` (std::bad_alloc among them) is
// rethrown here, on the calling thread, after the engine thread has ended.
// When the system refuses a stack that large, halved stacks are tried down
// to kSmallestStackBytes, and as the last resort `body` runs on the calling
// thread, as it does at once for `stack_bytes` 0. Returns the stack size
// used, 0 for the calling thread.
std::size_t RunWithLargeStack(const std::function<void()>& body,
                              std::size_t stack_bytes = kLargeStackBytes);

}  // namespace driver

#endif  // TARNWICK_DRIVER_LARGE_STACK_H_
