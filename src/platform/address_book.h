// The address book: a view of the directory, and the rules that make it,
// shared by every backend. A backend supplies the look-ups (its indexes, or
// searches on a server); the rules of what an entry is, what it shows and
// how a name resolves live here once.
//
// Entries are the directory objects with a non-empty legacyExchangeDN that
// are not hidden (msExchHideFromAddressLists TRUE, any letter case), in
// directory order. An entry is named by its position in the book, which a
// backend assigns and keeps for the life of the book.
//
// Name: displayName when not empty, else the RDN value.
// Display type: msExchRecipientDisplayType when it holds a decimal integer
// (taken modulo 2^32, as the directory stores it); when it is absent or not
// a number, by objectClass: msExchDynamicDistributionList 3, group 1,
// organization 4, contact 6, anything else 0.
//
// Entry identifiers are the upper-case hexadecimal of the UTF-8 bytes of
// "EX:" + the lower-cased legacyExchangeDN, or "SMTP:" + the address for a
// one-off entry; they survive a reload of the same directory and are the
// same on every backend.
#ifndef TARNWICK_PLATFORM_ADDRESS_BOOK_H_
#define TARNWICK_PLATFORM_ADDRESS_BOOK_H_

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir_record.h"
#include "platform/variant.h"

namespace platform {

struct BookEntry {
  const DirRecord* object = nullptr;
  std::string_view name;  // displayName, else the RDN value
  std::string_view odn;   // legacyExchangeDN
  int32_t display_type = 0;
};

// The attributes the book's rules read of an object. A backend that walks
// an object's attributes once fills them in one pass; BookAttributesOf
// asks for each.
struct BookAttributes {
  using Values = std::span<const std::string_view>;
  Values odn;           // legacyExchangeDN
  Values hidden;        // msExchHideFromAddressLists
  Values display_name;  // displayName
  Values display_type;  // msExchRecipientDisplayType
  Values object_class;  // objectClass
};
BookAttributes BookAttributesOf(const DirRecord& object);

// The book entry an object makes (views into the object's values), or
// std::nullopt when the object is not in the book.
std::optional<BookEntry> MakeBookEntry(const DirRecord& object, const BookAttributes& attributes);

// The attributes a backend must read of an object for the book's rules,
// resolution and the entry's fields; no others are needed.
std::span<const std::string_view> BookAttributeNames();

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
  virtual ~AddressBook() = default;

  // ---- What a backend supplies. Positions given out stay valid (and name
  // the same entry) for the life of the book. A backend over a server
  // raises 0x8007203A from any of them when it cannot reach it.

  // How many entries the whole book has.
  virtual size_t size() const = 0;
  // The position of the n-th entry of the whole book in directory order
  // (n below size()).
  virtual uint32_t NthEntry(size_t n) const = 0;
  // The entry at a position given out by this book.
  virtual const BookEntry& entry(uint32_t index) const = 0;
  // The entry with that legacyExchangeDN (without regard to case).
  virtual std::optional<uint32_t> ByODN(std::string_view odn) const = 0;
  // The members of a list entry, in "member" order: each value names the
  // object whose DN equals it once both are normalised (platform/dn.h); a
  // value that names no object, or one outside the book, is passed over.
  virtual std::vector<uint32_t> Members(const EntryRef& ref) const = 0;

  // Asks the processor to fetch the texts a walk reads of the entry at a
  // position given out by this book (its name, ODN and proxies), and
  // returns at once: a hint from a caller about to read them, which
  // changes no result. The default does nothing.
  virtual void PrefetchTexts(uint32_t /*index*/) const {}

 protected:
  // Resolution's look-ups. Each gives entries in book order, without
  // repeats, and may stop once it holds `limit` of them.
  // Entries whose mail or SMTP proxy ("smtp:" in any case) is the address,
  // without regard to case.
  virtual std::vector<uint32_t> MatchAddress(std::string_view address, size_t limit) const = 0;
  // Entries whose displayName, mailNickname or RDN value is the text, which
  // comes lower-cased (text::LCase), without regard to case.
  virtual std::vector<uint32_t> MatchName(std::string_view lowered, size_t limit) const = 0;
  // Entries whose displayName, givenName, sn or mailNickname starts with the
  // lower-cased text, without regard to case.
  virtual std::vector<uint32_t> MatchNamePrefix(std::string_view lowered, size_t limit) const = 0;

 public:
  // ---- The rules, the same for every backend.

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
  // Raises MAPI_E_NOT_FOUND for a tag the entry has no value for.
  Variant Field(const EntryRef& ref, int32_t property_tag) const;
  // AddressEntry::FirstTextWithPrefix over Field, without building the
  // array for the proxy addresses.
  std::optional<std::string> FirstTextWithPrefix(const EntryRef& ref, int32_t property_tag,
                                                 std::string_view prefix) const;
  // The "SMTP:" proxy (upper-case prefix) without its prefix, else mail;
  // the address of a one-off; "" when there is none.
  std::string SmtpAddress(const EntryRef& ref) const;

  std::string EntryId(const EntryRef& ref) const;
  // The entry an identifier names; std::nullopt for anything else (not
  // hexadecimal, unknown prefix, an ODN outside the book).
  std::optional<EntryRef> DecodeEntryId(std::string_view entry_id) const;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_ADDRESS_BOOK_H_
