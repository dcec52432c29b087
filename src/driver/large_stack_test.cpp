#include "driver/large_stack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>

namespace driver {
namespace {

// One frame per level with a buffer the size of a large engine frame under
// AddressSanitizer; 10,000 levels need about 160 MiB, twenty times the
// default stack of a main thread.
int Descend(int depth) {
  volatile char frame[16 * 1024];
  frame[0] = static_cast<char>(depth);
  frame[sizeof frame - 1] = frame[0];
  if (depth == 0) return frame[sizeof frame - 1];
  return Descend(depth - 1) + 1 + (frame[0] - frame[sizeof frame - 1]);
}

TEST(RunWithLargeStackTest, DeepRecursionFitsAndResultsComeBack) {
  int result = -1;
  const std::size_t used = RunWithLargeStack([&] { result = Descend(10000); });
  EXPECT_EQ(result, 10000);
  EXPECT_GE(used, std::size_t{256} << 20);
}

TEST(RunWithLargeStackTest, ExceptionReachesTheCaller) {
  EXPECT_THROW(RunWithLargeStack([] { throw std::runtime_error("engine"); }), std::runtime_error);
  EXPECT_THROW(RunWithLargeStack([] { throw std::bad_alloc(); }), std::bad_alloc);
}

TEST(RunWithLargeStackTest, SmallOrNoStackStillRunsTheBody) {
  int runs = 0;
  EXPECT_EQ(RunWithLargeStack([&] { ++runs; }, kSmallestStackBytes), kSmallestStackBytes);
  EXPECT_EQ(RunWithLargeStack([&] { ++runs; }, 0), 0u);  // on the calling thread
  EXPECT_EQ(runs, 2);
}

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

TEST(StackBytesForTest, NoLimitKeepsTheFullReserve) {
  EXPECT_EQ(StackBytesFor(kNoAddressSpaceLimit, 0), kLargeStackBytes);
  EXPECT_EQ(StackBytesFor(kNoAddressSpaceLimit, 40 * kMiB), kLargeStackBytes);
}

TEST(StackBytesForTest, UnderALimitTheHeapKeepsThreeQuarters) {
  // ulimit -v 600000 with 40 MiB in use: 546 MiB left, 136 MiB of it for
  // the stack (a power of two would have taken 512 MiB of it).
  const std::uint64_t limit = 600000 * std::uint64_t{1024};
  EXPECT_EQ(StackBytesFor(limit, 40 * kMiB), 136 * kMiB);
  // A large limit still gives no more than the full reserve.
  EXPECT_EQ(StackBytesFor(64 * 1024 * kMiB, 40 * kMiB), kLargeStackBytes);
  EXPECT_EQ(StackBytesFor(4 * kLargeStackBytes + 40 * kMiB, 40 * kMiB), kLargeStackBytes);
}

TEST(StackBytesForTest, TooLittleLeftRunsInPlace) {
  EXPECT_EQ(StackBytesFor(100 * kMiB, 100 * kMiB), 0u);
  EXPECT_EQ(StackBytesFor(100 * kMiB, 200 * kMiB), 0u);  // over the limit already
  EXPECT_EQ(StackBytesFor(131 * kMiB, 100 * kMiB), 0u);  // a quarter of 31 MiB
  EXPECT_EQ(StackBytesFor(132 * kMiB, 100 * kMiB), kSmallestStackBytes);
}

}  // namespace
}  // namespace driver
