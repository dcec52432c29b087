// What the memory backend has open for one organisation, so that a test can
// show that an operation released on every path what it made.
#ifndef TARNWICK_PLATFORM_MEMORY_OPEN_OBJECTS_H_
#define TARNWICK_PLATFORM_MEMORY_OPEN_OBJECTS_H_

#include <memory>
#include <ostream>
#include <utility>

namespace platform::memory {

// Connections and record sets count from Open (or Execute) to their Close:
// one released while still open stays counted, since the engine closes what
// it opens and a count that forgave the release would hide a missing Close.
// Scratch messages and helper (RDO) sessions count for as long as an object
// for them is held. A helper folder counts while its object is held; a
// helper table while the table or a filter of it is held, since a filter
// works on the table's rows and cursor.
struct OpenCounts {
  int connections = 0;
  int record_sets = 0;
  int scratch_messages = 0;
  int helper_sessions = 0;
  int helper_folders = 0;
  int helper_tables = 0;

  bool operator==(const OpenCounts&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const OpenCounts& counts) {
  return out << "{connections " << counts.connections << ", record sets " << counts.record_sets
             << ", scratch messages " << counts.scratch_messages << ", helper sessions "
             << counts.helper_sessions << ", helper folders " << counts.helper_folders
             << ", helper tables " << counts.helper_tables << "}";
}

// Counts one object of a kind while held. Release() (for a Close) ends the
// count; destruction ends it too unless the mark was made kUntilClosed.
class OpenMark {
 public:
  enum Ending { kUntilReleased, kUntilClosed };

  OpenMark() = default;
  OpenMark(std::shared_ptr<OpenCounts> counts, int OpenCounts::*kind, Ending ending)
      : counts_(std::move(counts)), kind_(kind), ending_(ending) {
    if (counts_) ++((*counts_).*kind_);
  }
  ~OpenMark() {
    if (ending_ == kUntilReleased) Release();
  }
  OpenMark(const OpenMark&) = delete;
  OpenMark& operator=(const OpenMark&) = delete;
  OpenMark(OpenMark&& other) noexcept
      : counts_(std::move(other.counts_)), kind_(other.kind_), ending_(other.ending_) {
    other.counts_.reset();
  }
  OpenMark& operator=(OpenMark&& other) noexcept {
    if (this != &other) {
      Release();
      counts_ = std::move(other.counts_);
      kind_ = other.kind_;
      ending_ = other.ending_;
      other.counts_.reset();
    }
    return *this;
  }

  void Release() {
    if (counts_) --((*counts_).*kind_);
    counts_.reset();
  }

 private:
  std::shared_ptr<OpenCounts> counts_;
  int OpenCounts::*kind_ = nullptr;
  Ending ending_ = kUntilReleased;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_OPEN_OBJECTS_H_
