// Reading a whole file that the user named (the profile, the LDIF
// directory): only a regular file is read, and nothing is read from it
// before that is known.
#ifndef TARNWICK_PLATFORM_MEMORY_REGULAR_FILE_H_
#define TARNWICK_PLATFORM_MEMORY_REGULAR_FILE_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform::memory {

// The bytes of a file as read: `size` of them at `data`, in a block that
// holds one byte more, so that a loader may end the last line in place.
struct FileBytes {
  std::unique_ptr<char[]> data;
  size_t size = 0;
  // False when the file shrank while it was read in two halves: pieces
  // shown to a PieceLook may then have been read again, or dropped.
  bool steady = true;
};

// A look at each piece of a file as it is read, on the thread that read it
// (a large file is read on two at once), while the piece is still in the
// processor's cache: `offset` is where the piece sits in the bytes. Unless
// the bytes are not `steady`, the pieces cover them once each. It must
// not raise (it may run on a thread of the reader's own).
using PieceLook = std::function<void(std::string_view piece, size_t offset)>;

// The whole content of the file at `path`. Raises ProfileError "<path>:
// <what>" for a name holding a NUL, a file that cannot be opened or read,
// and anything but a regular file (a directory, FIFO or device), which is
// refused before a byte is read from it.
FileBytes ReadRegularFileBytes(const std::string& path, const PieceLook& look = {});
std::string ReadRegularFile(const std::string& path);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_REGULAR_FILE_H_
