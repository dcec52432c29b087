// The address book of a memory organisation (the rules are those of
// platform/address_book.h), and the session's address entry objects, which
// serve any backend's book.
#ifndef TARNWICK_PLATFORM_MEMORY_ADDRESS_BOOK_H_
#define TARNWICK_PLATFORM_MEMORY_ADDRESS_BOOK_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/address_book.h"
#include "platform/memory/directory_data.h"
#include "platform/messaging.h"
#include "platform/variant.h"

namespace platform::memory {

struct LogonState;

// The memory backend's book: built once at load time over the directory's
// objects and immutable after. It holds pointers into the directory, never
// copies of its objects, plus the sorted name keys that resolution needs,
// so that no look-up scans the book.
class MemoryAddressBook final : public AddressBook {
 public:
  // The directory must outlive the book and not change.
  explicit MemoryAddressBook(const DirectoryData& directory);
  MemoryAddressBook(const MemoryAddressBook&) = delete;
  MemoryAddressBook& operator=(const MemoryAddressBook&) = delete;

  size_t size() const override { return entries_.size(); }
  // Book positions are directory order.
  uint32_t NthEntry(size_t n) const override { return static_cast<uint32_t>(n); }
  const BookEntry& entry(uint32_t index) const override { return entries_[index]; }
  std::optional<uint32_t> ByODN(std::string_view odn) const override;
  std::vector<uint32_t> Members(const EntryRef& ref) const override;
  void PrefetchTexts(uint32_t index) const override;
  // The book position of a directory object, when it is in the book.
  std::optional<uint32_t> IndexOf(const DirEntry& object) const;

 protected:
  std::vector<uint32_t> MatchAddress(std::string_view address, size_t limit) const override;
  std::vector<uint32_t> MatchName(std::string_view lowered, size_t limit) const override;
  std::vector<uint32_t> MatchNamePrefix(std::string_view lowered, size_t limit) const override;

 private:
  // A lower-cased name key: bytes in its list's text, and the entry it
  // names.
  struct Key {
    uint32_t offset;
    uint32_t length;
    uint32_t entry;
  };
  // One list of name keys, sorted by text (in byte order), then entry.
  // Each list is made on the first look-up that needs it, so a run that
  // resolves addresses only pays for neither, and one that finds names
  // whole never pays for the prefix list. Written once, under `once`;
  // read-only afterwards.
  struct KeyList {
    std::once_flag once;
    std::string text;
    std::vector<Key> keys;
    std::string_view TextOf(const Key& key) const {
      return std::string_view(text).substr(key.offset, key.length);
    }
  };
  enum class KeyKind {
    kExact,   // displayName, mailNickname, RDN value
    kPrefix,  // displayName, mailNickname, givenName, sn
  };
  const KeyList& Keys(KeyKind kind) const;
  void BuildKeys(KeyKind kind, KeyList& list) const;
  // Adds the name lower-cased (nothing for an empty one).
  static void AddKey(KeyList& list, std::string_view name, uint32_t entry);
  static void SortKeys(KeyList& list);

  const DirectoryData& directory_;
  std::vector<BookEntry> entries_;
  // Directory position -> book position, or kNotInBook.
  static constexpr uint32_t kNotInBook = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> book_position_;
  mutable KeyList exact_;
  mutable KeyList prefix_;
};

// Session objects over the book. Every member raises MAPI_E_NOT_INITIALIZED
// once the logon is no longer active and consults the organisation's fault
// plan ("AddressEntry.<Method>", "AddressEntries.<Method>").
std::shared_ptr<platform::AddressEntry> NewAddressEntry(std::shared_ptr<LogonState> logon,
                                                        EntryRef ref);
// The collection of the listed entries, or of the whole book when
// `whole_book` is true (then `members` is ignored).
std::shared_ptr<platform::AddressEntries> NewAddressEntries(std::shared_ptr<LogonState> logon,
                                                            std::vector<uint32_t> members,
                                                            bool whole_book);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_ADDRESS_BOOK_H_
