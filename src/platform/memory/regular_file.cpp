#include "platform/memory/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/memory/memory_backend.h"

namespace platform::memory {
namespace {

std::string NotRegular(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory, not a file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  return "is not a regular file";
}

// From this size on, a file is read in two halves at once.
constexpr size_t kTwoReadsFrom = 8 << 20;

// What ReadAt read: how many bytes, and the errno of a failure (0: none).
struct ReadResult {
  size_t size = 0;
  int error = 0;
};

// What a PieceLook is shown at a time: small enough to be in the cache
// still when it is looked at.
constexpr size_t kPiece = 1 << 20;

// Reads up to `size` bytes of the file from `offset` on into `to`, on
// through short reads and interruptions; fewer only at the end of the
// file. The file's offsets are the bytes' own, so each piece read is shown
// to `look` (when there is one) at its file offset.
ReadResult ReadAt(int fd, char* to, size_t size, size_t offset, const PieceLook& look) {
  ReadResult result;
  while (result.size < size) {
    const size_t want = look ? std::min(size - result.size, kPiece) : size - result.size;
    const ssize_t got =
        ::pread(fd, to + result.size, want, static_cast<off_t>(offset + result.size));
    if (got < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      return result;
    }
    if (got == 0) break;
    if (look) {
      look(std::string_view(to + result.size, static_cast<size_t>(got)), offset + result.size);
    }
    result.size += static_cast<size_t>(got);
  }
  return result;
}

}  // namespace

// The whole content of a regular file. The file is opened without blocking
// and checked before a byte is read, so that a FIFO cannot stall the
// program and a device such as /dev/zero cannot feed it without end.
FileBytes ReadRegularFileBytes(const std::string& path, const PieceLook& look) {
  if (path.find('\0') != std::string::npos) {
    throw ProfileError(path.substr(0, path.find('\0')) + ": the file name holds a NUL character");
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw ProfileError(path + ": cannot open the file: " + std::strerror(errno));
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    throw ProfileError(path + ": cannot read the file: " + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) throw ProfileError(path + ": " + NotRegular(status.st_mode));
  // Read straight into a block left as it is (no pass to clear it first),
  // not through a buffer of our own: the file can be most of the run's
  // memory, and a pass over it a good part of the load. The size is a
  // first guess only, as the file may grow or shrink while it is read; the
  // block grows past it.
  const auto expected = static_cast<size_t>(status.st_size);
  size_t capacity = expected + 2;
  FileBytes bytes;
  bytes.data.reset(new char[capacity]);
  const auto fail = [&path](int error) {
    throw ProfileError(path + ": cannot read the file: " + std::strerror(error));
  };
  // A large file is read in two halves at once, the second on a thread of
  // its own: the copy and the first touch of the block's pages were a
  // sixth of the load, on one core while the other waited.
  if (expected >= kTwoReadsFrom) {
    const size_t half = expected / 2;
    ReadResult second;
    std::thread helper;
    try {
      helper = std::thread(
          [&] { second = ReadAt(fd, bytes.data.get() + half, expected - half, half, look); });
    } catch (const std::system_error&) {
      // No thread to be had: the file is read in one piece below.
    }
    if (helper.joinable()) {
      const ReadResult first = ReadAt(fd, bytes.data.get(), half, 0, look);
      helper.join();
      if (first.error != 0) fail(first.error);
      if (second.error != 0) fail(second.error);
      // A file that shrank while it was read is read on from where its
      // first half stopped short: the second half's pieces are read again.
      bytes.size = first.size == half ? half + second.size : first.size;
      bytes.steady = first.size == half;
    }
  }
  while (true) {
    if (bytes.size + 1 == capacity) {
      std::unique_ptr<char[]> grown(new char[capacity * 2]);
      std::memcpy(grown.get(), bytes.data.get(), bytes.size);
      bytes.data = std::move(grown);
      capacity *= 2;
    }
    const ReadResult got =
        ReadAt(fd, bytes.data.get() + bytes.size, capacity - 1 - bytes.size, bytes.size, look);
    if (got.error != 0) fail(got.error);
    if (got.size == 0) break;
    bytes.size += got.size;
  }
  bytes.data[bytes.size] = '\0';
  return bytes;
}

std::string ReadRegularFile(const std::string& path) {
  const FileBytes bytes = ReadRegularFileBytes(path);
  return std::string(bytes.data.get(), bytes.size);
}

}  // namespace platform::memory
