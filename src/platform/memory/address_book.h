// The address book of a memory organisation: a view of its directory, built
// once at load time and immutable after, and the session's address entry
// objects over it.
//
// Entries are the directory objects with a non-empty legacyExchangeDN that
// are not hidden (msExchHideFromAddressLists TRUE, any letter case), in file
// order. The view holds pointers into the directory, never copies of its
// objects, plus the sorted name keys that resolution needs, so that no
// look-up scans the book.
//
// Display type: msExchRecipientDisplayType when it holds a decimal integer
// (taken modulo 2^32, as the directory stores it); when it is absent or not
// a number, by objectClass: msExchDynamicDistributionList 3, group 1,
// organization 4, contact 6, anything else 0.
//
// Entry identifiers are the upper-case hexadecimal of the UTF-8 bytes of
// "EX:" + the lower-cased legacyExchangeDN, or "SMTP:" + the address for a
// one-off entry; they survive a reload of the same directory.
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

#include "platform/memory/directory_data.h"
#include "platform/messaging.h"
#include "platform/variant.h"

namespace platform::memory {

struct LogonState;

struct BookEntry {
  const DirEntry* object = nullptr;
  std::string_view name;  // displayName, else the RDN value
  std::string_view odn;   // legacyExchangeDN
  int32_t display_type = 0;
};

// An entry as the session hands it out: an address-book entry, or a one-off
// internet address that matched no directory object.
struct EntryRef {
  static constexpr uint32_t kOneOff = std::numeric_limits<uint32_t>::max();
  uint32_t index = kOneOff;
  std::string address;  // one-off entries only, without an "SMTP:" prefix

  bool one_off() const { return index == kOneOff; }
};

// What a text resolves to: the matching book entries (distinct, in book
// order), or a one-off address when an SMTP form matched nothing. Neither
// means nothing matched.
struct Resolution {
  std::vector<uint32_t> matches;
  std::optional<std::string> one_off;
};

class AddressBook {
 public:
  // The directory must outlive the book and not change.
  explicit AddressBook(const DirectoryData& directory);
  AddressBook(const AddressBook&) = delete;
  AddressBook& operator=(const AddressBook&) = delete;

  size_t size() const { return entries_.size(); }
  const BookEntry& entry(uint32_t index) const { return entries_[index]; }
  // The book position of a directory object, when it is in the book.
  std::optional<uint32_t> IndexOf(const DirEntry& object) const;
  // The entry with that legacyExchangeDN (without regard to case).
  std::optional<uint32_t> ByODN(std::string_view odn) const;

  // Name resolution, shared by the session's recipients and the helper
  // library. Blanks around the text are ignored. "EX:" + ODN (prefix in any
  // case) matches that legacyExchangeDN. "SMTP:" + address (prefix in any
  // case), or any text with "@", matches the objects whose SMTP proxy or
  // mail is the address, and otherwise gives a one-off. Any other text
  // matches, without regard to case, a whole legacyExchangeDN, displayName,
  // mailNickname or RDN value; failing that, a prefix of displayName,
  // givenName, sn or mailNickname. Collecting stops once `limit` distinct
  // entries are found.
  Resolution Candidates(std::string_view text,
                        size_t limit = std::numeric_limits<size_t>::max()) const;
  // The one entry the text resolves to. Raises MAPI_E_AMBIGUOUS_RECIP for
  // several, MAPI_E_NOT_FOUND for none (and for an empty text).
  EntryRef Resolve(std::string_view text) const;
  // The first entry in book order whose Name equals the text without regard
  // to case.
  std::optional<uint32_t> FirstByName(std::string_view name) const;

  // Entry properties, as the address entry objects give them.
  std::string Type(const EntryRef& ref) const;
  std::string Address(const EntryRef& ref) const;
  std::string Name(const EntryRef& ref) const;
  int32_t DisplayType(const EntryRef& ref) const;
  // Members in "member" order. A member value names the object whose DN
  // equals it once both are normalised (DirectoryData::ByDN), so blanks,
  // escapes and letter case in the value do not lose a member; a value that
  // names no object, or one outside the book, is passed over.
  std::vector<uint32_t> Members(const EntryRef& ref) const;
  // Raises MAPI_E_NOT_FOUND for a tag the entry has no value for.
  Variant Field(const EntryRef& ref, int32_t property_tag) const;
  // The "SMTP:" proxy (upper-case prefix) without its prefix, else mail;
  // the address of a one-off; "" when there is none.
  std::string SmtpAddress(const EntryRef& ref) const;

  std::string EntryId(const EntryRef& ref) const;
  // The entry an identifier names; std::nullopt for anything else (not
  // hexadecimal, unknown prefix, an ODN outside the book).
  std::optional<EntryRef> DecodeEntryId(std::string_view entry_id) const;

 private:
  // A lower-cased name key: bytes in keys_text_, and the entry it names.
  struct Key {
    uint32_t offset;
    uint32_t length;
    uint32_t entry;
  };
  std::string_view KeyText(const Key& key) const {
    return std::string_view(keys_text_).substr(key.offset, key.length);
  }
  void AddKey(std::vector<Key>& keys, std::string_view lowered, uint32_t entry) const;
  void SortKeys(std::vector<Key>& keys) const;
  // The name keys, made on the first look-up by name: a run that resolves
  // addresses only never pays for lower-casing and sorting every name.
  void RequireKeys() const;
  void BuildKeys() const;

  const DirectoryData& directory_;
  std::vector<BookEntry> entries_;
  // Directory position -> book position, or kNotInBook.
  static constexpr uint32_t kNotInBook = std::numeric_limits<uint32_t>::max();
  std::vector<uint32_t> book_position_;
  // Written once, under keys_once_; read-only afterwards.
  mutable std::once_flag keys_once_;
  mutable std::string keys_text_;
  mutable std::vector<Key> exact_keys_;   // displayName, mailNickname, RDN value
  mutable std::vector<Key> prefix_keys_;  // displayName, givenName, sn, mailNickname
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
