#include "driver/large_stack.h"

#include <gtest/gtest.h>

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
}

}  // namespace
}  // namespace driver
