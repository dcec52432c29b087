#include "platform/memory/address_book.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/error.h"
#include "platform/memory/logon.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

// Attribute names are ASCII; comparing them without a lower-cased copy keeps
// the one pass over 100,000 objects at load time cheap.
bool NameIs(std::string_view name, std::string_view wanted) {
  return text::AsciiEqualsNoCase(name, wanted);
}

using Values = std::span<const std::string_view>;

const std::string_view* FirstOf(Values values) {
  return values.empty() ? nullptr : &values.front();
}

// The attributes the book reads from an object, found in one pass.
struct Attributes {
  BookAttributes book;
  Values nickname;
  Values given_name;
  Values surname;

  explicit Attributes(const DirEntry& object) {
    for (const DirAttribute attribute : object.attributes()) {
      const std::string_view name = attribute.name();
      const Values values = attribute.values();
      if (NameIs(name, "legacyExchangeDN")) {
        book.odn = values;
      } else if (NameIs(name, "msExchHideFromAddressLists")) {
        book.hidden = values;
      } else if (NameIs(name, "displayName")) {
        book.display_name = values;
      } else if (NameIs(name, "msExchRecipientDisplayType")) {
        book.display_type = values;
      } else if (NameIs(name, "objectClass")) {
        book.object_class = values;
      } else if (NameIs(name, "mailNickname")) {
        nickname = values;
      } else if (NameIs(name, "givenName")) {
        given_name = values;
      } else if (NameIs(name, "sn")) {
        surname = values;
      }
    }
  }
};

// Adds a match; true once `limit` distinct matches are held.
bool AddMatch(std::vector<uint32_t>& matches, uint32_t index, size_t limit) {
  matches.push_back(index);
  if (matches.size() < limit) return false;
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  return matches.size() >= limit;
}

// From this many objects on, the book is made on two threads.
constexpr size_t kBookTwoThreadsFrom = 1 << 16;

// The book entries of objects [begin, end), in order, with each object's
// place among them in `positions` (kNotInBook for an object outside the
// book, set by the caller). Reads the objects and writes only `entries` and
// that range of `positions`, so two ranges can be done at once.
void CollectEntries(const std::vector<DirEntry>& objects, size_t begin, size_t end,
                    std::vector<BookEntry>& entries, std::vector<uint32_t>& positions) {
  for (size_t i = begin; i < end; ++i) {
    const DirEntry& object = objects[i];
    const std::optional<BookEntry> entry = MakeBookEntry(object, Attributes(object).book);
    if (!entry) continue;
    positions[i] = static_cast<uint32_t>(entries.size());
    entries.push_back(*entry);
  }
}

}  // namespace

MemoryAddressBook::MemoryAddressBook(const DirectoryData& directory) : directory_(directory) {
  const auto& objects = directory.Entries();
  book_position_.assign(objects.size(), kNotInBook);
  // Every object is read once here, after the load and before the run can
  // start: a large directory is done in two halves at once, the second on
  // a thread of its own, and the halves joined in order.
  size_t half = objects.size();
  std::vector<BookEntry> second;
  std::exception_ptr second_failed;
  std::thread helper;
  if (objects.size() >= kBookTwoThreadsFrom) {
    half = objects.size() / 2;
    // Room for every object of each half, made here: memory a thread
    // allocates comes from an arena of its own that stays with the process.
    second.reserve(objects.size() - half);
    entries_.reserve(objects.size());
    try {
      helper = std::thread([&] {
        try {
          CollectEntries(objects, half, objects.size(), second, book_position_);
        } catch (...) {
          second_failed = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      half = objects.size();  // no thread: all of it here
    }
  }
  struct Joiner {
    std::thread& helper;
    ~Joiner() {
      if (helper.joinable()) helper.join();
    }
  } joiner{helper};
  CollectEntries(objects, 0, half, entries_, book_position_);
  if (half == objects.size()) return;
  helper.join();
  if (second_failed) std::rethrow_exception(second_failed);
  const auto offset = static_cast<uint32_t>(entries_.size());
  for (size_t i = half; i < objects.size(); ++i) {
    if (book_position_[i] != kNotInBook) book_position_[i] += offset;
  }
  entries_.insert(entries_.end(), second.begin(), second.end());
}

void MemoryAddressBook::RequireKeys() const {
  std::call_once(keys_once_, [this] { BuildKeys(); });
}

void MemoryAddressBook::BuildKeys() const {
  // A failed attempt (out of memory) leaves call_once to try again afresh.
  keys_text_.clear();
  exact_keys_.clear();
  prefix_keys_.clear();
  for (uint32_t index = 0; index < entries_.size(); ++index) {
    const auto& object = static_cast<const DirEntry&>(*entries_[index].object);
    const Attributes attributes(object);
    // The display name and the alias are keys of both kinds: their text
    // is kept once.
    const std::string_view* display = FirstOf(attributes.book.display_name);
    const Key lowered_display = AddText(display != nullptr ? *display : std::string_view(), index);
    const std::string_view* nickname = FirstOf(attributes.nickname);
    const Key lowered_nickname =
        AddText(nickname != nullptr ? *nickname : std::string_view(), index);
    for (const Key& key : {lowered_display, lowered_nickname}) {
      if (key.length == 0) continue;
      exact_keys_.push_back(key);
      prefix_keys_.push_back(key);
    }
    AddKey(exact_keys_, text::LCase(object.RdnValue()), index);
    if (const std::string_view* given = FirstOf(attributes.given_name)) {
      AddKey(prefix_keys_, text::LCase(*given), index);
    }
    if (const std::string_view* surname = FirstOf(attributes.surname)) {
      AddKey(prefix_keys_, text::LCase(*surname), index);
    }
  }
  // The text is padded while the keys are sorted, so that a comparison may
  // load a whole word past the last key. The two lists are sorted at once,
  // the exact keys on a thread of their own when one is to be had (a large
  // book's sort was most of its first look-up by name); only the lists are
  // written meanwhile.
  keys_text_.append(kKeyPadding, '\0');
  const char* const text = keys_text_.data();
  std::exception_ptr failed;
  std::thread helper;
  if (exact_keys_.size() >= kSortApartFrom) {
    try {
      helper = std::thread([&] {
        try {
          SortKeys(exact_keys_, text);
        } catch (...) {
          failed = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: both lists are sorted here.
    }
  }
  struct Joiner {
    std::thread& helper;
    ~Joiner() {
      if (helper.joinable()) helper.join();
    }
  } joiner{helper};
  if (!helper.joinable()) SortKeys(exact_keys_, text);
  SortKeys(prefix_keys_, text);
  if (helper.joinable()) helper.join();
  if (failed) std::rethrow_exception(failed);
  keys_text_.resize(keys_text_.size() - kKeyPadding);
}

MemoryAddressBook::Key MemoryAddressBook::AddText(std::string_view name, uint32_t entry) const {
  const std::string lowered = text::LCase(name);
  const Key key{static_cast<uint32_t>(keys_text_.size()), static_cast<uint32_t>(lowered.size()),
                entry};
  keys_text_.append(lowered);
  return key;
}

void MemoryAddressBook::AddKey(std::vector<Key>& keys, std::string_view lowered,
                               uint32_t entry) const {
  if (lowered.empty()) return;
  keys.push_back(
      Key{static_cast<uint32_t>(keys_text_.size()), static_cast<uint32_t>(lowered.size()), entry});
  keys_text_.append(lowered);
}

void MemoryAddressBook::SortKeys(std::vector<Key>& keys, const char* text) {
  // Texts in byte order (as string_view::compare has it), then entries. A
  // large book sorts millions of pairs of names: they are compared eight
  // bytes at a time as big-endian numbers, which orders them as their
  // bytes do.
  constexpr size_t kWord = sizeof(uint64_t);
  static_assert(kKeyPadding >= kWord);
  const auto word = [](const char* at, size_t bytes) {
    uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    value = __builtin_bswap64(value);
    return bytes >= kWord ? value : value & ~(~uint64_t{0} >> (8 * bytes));
  };
  std::sort(keys.begin(), keys.end(), [text, &word](const Key& a, const Key& b) {
    const char* x = text + a.offset;
    const char* y = text + b.offset;
    const size_t common = std::min(a.length, b.length);
    for (size_t at = 0; at < common; at += kWord) {
      const uint64_t u = word(x + at, common - at);
      const uint64_t v = word(y + at, common - at);
      if (u != v) return u < v;
    }
    if (a.length != b.length) return a.length < b.length;
    return a.entry < b.entry;
  });
  keys.shrink_to_fit();
}

std::optional<uint32_t> MemoryAddressBook::IndexOf(const DirEntry& object) const {
  const auto& objects = directory_.Entries();
  if (objects.empty() || &object < objects.data() || &object >= objects.data() + objects.size()) {
    return std::nullopt;
  }
  const uint32_t index = book_position_[static_cast<size_t>(&object - objects.data())];
  if (index == kNotInBook) return std::nullopt;
  return index;
}

std::optional<uint32_t> MemoryAddressBook::ByODN(std::string_view odn) const {
  if (odn.empty()) return std::nullopt;
  const DirEntry* object = directory_.ByLegacyDN(odn);
  if (object == nullptr) return std::nullopt;
  return IndexOf(*object);
}

std::vector<uint32_t> MemoryAddressBook::MatchAddress(std::string_view address,
                                                      size_t limit) const {
  std::vector<uint32_t> matches;
  for (const DirEntry* object : directory_.ByAddress(address)) {
    if (auto index = IndexOf(*object)) {
      if (AddMatch(matches, *index, limit)) break;
    }
  }
  return matches;
}

std::vector<uint32_t> MemoryAddressBook::MatchName(std::string_view lowered, size_t limit) const {
  RequireKeys();
  std::vector<uint32_t> matches;
  const auto by_text = [this](const Key& key, std::string_view wanted) {
    return KeyText(key) < wanted;
  };
  for (auto it = std::lower_bound(exact_keys_.begin(), exact_keys_.end(), lowered, by_text);
       it != exact_keys_.end() && KeyText(*it) == lowered; ++it) {
    if (AddMatch(matches, it->entry, limit)) break;
  }
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  return matches;
}

std::vector<uint32_t> MemoryAddressBook::MatchNamePrefix(std::string_view lowered,
                                                         size_t limit) const {
  RequireKeys();
  std::vector<uint32_t> matches;
  const auto by_text = [this](const Key& key, std::string_view wanted) {
    return KeyText(key) < wanted;
  };
  for (auto it = std::lower_bound(prefix_keys_.begin(), prefix_keys_.end(), lowered, by_text);
       it != prefix_keys_.end() && text::StartsWith(KeyText(*it), lowered); ++it) {
    if (AddMatch(matches, it->entry, limit)) break;
  }
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  return matches;
}

std::vector<uint32_t> MemoryAddressBook::Members(const EntryRef& ref) const {
  std::vector<uint32_t> members;
  if (ref.one_off()) return members;
  const auto values = entries_[ref.index].object->Values("member");
  members.reserve(values.size());
  // Each look-up is a miss in a large directory's DN index; fetched this
  // many members ahead, the misses overlap.
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < std::min(kAhead, values.size()); ++i) directory_.PrefetchDn(values[i]);
  for (size_t i = 0; i < values.size(); ++i) {
    if (i + kAhead < values.size()) directory_.PrefetchDn(values[i + kAhead]);
    const DirEntry* object = directory_.ByDN(values[i]);
    if (object == nullptr) continue;
    if (auto index = IndexOf(*object)) members.push_back(*index);
  }
  return members;
}

namespace {

class MemoryAddressEntry final : public platform::AddressEntry {
 public:
  MemoryAddressEntry(std::shared_ptr<LogonState> logon, EntryRef ref)
      : logon_(std::move(logon)), ref_(std::move(ref)) {}

  std::string Type() override {
    if (Enter<"AddressEntry.Type">(logon_.get())) return {};
    return Book().Type(ref_);
  }
  std::string Address() override {
    if (Enter<"AddressEntry.Address">(logon_.get())) return {};
    return Book().Address(ref_);
  }
  std::string Name() override {
    if (Enter<"AddressEntry.Name">(logon_.get())) return {};
    return Book().Name(ref_);
  }
  std::string ID() override {
    if (Enter<"AddressEntry.ID">(logon_.get())) return {};
    return Book().EntryId(ref_);
  }
  int32_t DisplayType() override {
    if (Enter<"AddressEntry.DisplayType">(logon_.get())) return 0;
    return Book().DisplayType(ref_);
  }
  std::shared_ptr<AddressEntries> Members() override {
    if (Enter<"AddressEntry.Members">(logon_.get())) return nullptr;
    return NewAddressEntries(logon_, Book().Members(ref_), false);
  }
  Variant Field(int32_t property_tag) override {
    if (Enter<"AddressEntry.Field">(logon_.get())) return {};
    return Book().Field(ref_, property_tag);
  }

 private:
  const AddressBook& Book() const { return logon_->organisation->address_book(); }

  std::shared_ptr<LogonState> logon_;
  EntryRef ref_;
};

class MemoryAddressEntries final : public platform::AddressEntries {
 public:
  MemoryAddressEntries(std::shared_ptr<LogonState> logon, std::vector<uint32_t> members,
                       bool whole_book)
      : logon_(std::move(logon)), base_(std::move(members)), whole_book_(whole_book) {}

  int32_t Count() override {
    if (Enter<"AddressEntries.Count">(logon_.get())) return 0;
    return static_cast<int32_t>(Size());
  }

  std::shared_ptr<AddressEntry> Item(int32_t position) override {
    if (Enter<"AddressEntries.Item">(logon_.get())) return nullptr;
    if (position < 1 || static_cast<size_t>(position) > Size()) {
      throw PlatformError(errnum::kNotFound);
    }
    EntryRef ref;
    ref.index = At(static_cast<size_t>(position - 1));
    return NewAddressEntry(logon_, std::move(ref));
  }

  std::shared_ptr<AddressEntry> ItemByName(const std::string& name) override {
    if (Enter<"AddressEntries.ItemByName">(logon_.get())) return nullptr;
    std::optional<uint32_t> found;
    if (whole_book_ && !filter_) {
      found = Book().FirstByName(name);
    } else {
      const std::string lowered = text::LCase(name);
      for (size_t i = 0; i < Size() && !found; ++i) {
        if (text::LCase(Book().entry(At(i)).name) == lowered) found = At(i);
      }
    }
    if (!found) throw PlatformError(errnum::kNotFound);
    EntryRef ref;
    ref.index = *found;
    return NewAddressEntry(logon_, std::move(ref));
  }

  void SetFilterAddress(const std::optional<std::string>& address) override {
    if (Enter<"AddressEntries.SetFilterAddress">(logon_.get())) return;
    if (!address) {
      filter_.reset();
      return;
    }
    const std::vector<uint32_t> matches = Book().Candidates(*address).matches;
    if (whole_book_) {
      filter_ = matches;
      return;
    }
    std::vector<uint32_t> kept;
    for (const uint32_t index : base_) {
      if (std::binary_search(matches.begin(), matches.end(), index)) kept.push_back(index);
    }
    filter_ = std::move(kept);
  }

 private:
  const AddressBook& Book() const { return logon_->organisation->address_book(); }
  size_t Size() const {
    if (filter_) return filter_->size();
    return whole_book_ ? Book().size() : base_.size();
  }
  uint32_t At(size_t i) const {
    if (filter_) return (*filter_)[i];
    return whole_book_ ? Book().NthEntry(i) : base_[i];
  }

  std::shared_ptr<LogonState> logon_;
  std::vector<uint32_t> base_;
  bool whole_book_;
  std::optional<std::vector<uint32_t>> filter_;
};

}  // namespace

std::shared_ptr<platform::AddressEntry> NewAddressEntry(std::shared_ptr<LogonState> logon,
                                                        EntryRef ref) {
  return std::make_shared<MemoryAddressEntry>(std::move(logon), std::move(ref));
}

std::shared_ptr<platform::AddressEntries> NewAddressEntries(std::shared_ptr<LogonState> logon,
                                                            std::vector<uint32_t> members,
                                                            bool whole_book) {
  return std::make_shared<MemoryAddressEntries>(std::move(logon), std::move(members), whole_book);
}

}  // namespace platform::memory
