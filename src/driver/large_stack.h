// Running the engine on a thread with a large stack. The engine recurses
// once per level of list nesting (and once per nested query-based list), so a
// deep chain of lists needs far more stack than a process's main thread has.
#ifndef TARNWICK_DRIVER_LARGE_STACK_H_
#define TARNWICK_DRIVER_LARGE_STACK_H_

#include <cstddef>
#include <functional>

namespace driver {

// 1 GiB of address space; pages are only committed as the stack grows into
// them, so a shallow run costs no more memory than on a normal stack.
inline constexpr std::size_t kLargeStackBytes = std::size_t{1} << 30;

// Runs `body` on a new thread whose stack has `stack_bytes` and waits for it
// to finish; an exception thrown by `body` is rethrown here. When the system
// refuses a stack that large (address-space limits), smaller stacks are
// tried down to 64 MiB, and as the last resort `body` runs on the calling
// thread. Returns the stack size used, 0 for the calling thread.
std::size_t RunWithLargeStack(const std::function<void()>& body,
                              std::size_t stack_bytes = kLargeStackBytes);

}  // namespace driver

#endif  // TARNWICK_DRIVER_LARGE_STACK_H_
