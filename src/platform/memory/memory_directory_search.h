// The memory organisation's DirectorySearch: look-ups and command searches
// over its LDIF directory, in file order. An equality on mail or an SMTP
// proxy that the filter requires is answered from the directory's index;
// anything else tests every object in the scope.
#ifndef TARNWICK_PLATFORM_MEMORY_MEMORY_DIRECTORY_SEARCH_H_
#define TARNWICK_PLATFORM_MEMORY_MEMORY_DIRECTORY_SEARCH_H_

#include <memory>
#include <string_view>

#include "platform/directory_search.h"
#include "platform/memory/directory_data.h"

namespace platform::memory {

class MemoryDirectorySearch final : public DirectorySearch {
 public:
  // The directory must outlive the search; records it gives point into it.
  explicit MemoryDirectorySearch(const DirectoryData& data) : data_(data) {}

  std::shared_ptr<const DirRecord> Find(std::string_view dn) const override;
  Rows Search(const DirectoryCommand& command, const ldapfilter::Filter& filter) const override;
  // A query-based list reads each row's legacyExchangeDN and resolves it
  // in the address book, whose look-up waits for its slot of the ODN index
  // in a large directory: the next row's slot is fetched instead while the
  // current row is worked on (its two log lines, for one).
  void Anticipate(const DirRecord& next_row) const override;

 private:
  const DirectoryData& data_;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_MEMORY_DIRECTORY_SEARCH_H_
