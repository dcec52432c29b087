// A look at a file's pieces as it is read: they cover the bytes read once
// each, at their own offsets, whether the file is read in one piece of
// work or in two halves on two threads.
#include "platform/memory/regular_file.h"

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace platform::memory {
namespace {

TEST(RegularFileTest, PiecesCoverTheBytesOnceEach) {
  char folder[] = "/tmp/regular_file_test.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::filesystem::path dir(folder);
  for (const size_t size : {size_t{0}, size_t{1000}, (size_t{9} << 20) + 7}) {
    SCOPED_TRACE(size);
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 131 % 251);
    const std::string file = (dir / "f").string();
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    std::mutex mutex;
    std::string seen(size, '\0');
    std::vector<int> times(size, 0);
    const FileBytes bytes = ReadRegularFileBytes(file, [&](std::string_view piece, size_t at) {
      const std::lock_guard<std::mutex> lock(mutex);
      ASSERT_LE(at + piece.size(), seen.size());
      seen.replace(at, piece.size(), piece);
      for (size_t i = at; i < at + piece.size(); ++i) ++times[i];
    });
    EXPECT_TRUE(bytes.steady);
    ASSERT_EQ(bytes.size, size);
    EXPECT_EQ(std::string(bytes.data.get(), bytes.size), text);
    EXPECT_EQ(seen, text);
    EXPECT_EQ(std::count(times.begin(), times.end(), 1), static_cast<std::ptrdiff_t>(size));
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform::memory
