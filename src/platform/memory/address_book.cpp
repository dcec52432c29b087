#include "platform/memory/address_book.h"

#include <algorithm>
#include <array>
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

// The attributes the book reads from an object.
struct Attributes {
  BookAttributes book;
  Values nickname;
  Values given_name;
  Values surname;
};

// Finds an object's Attributes. Where a shape holds each of them is worked
// out once for a run of objects of one shape (every person of an
// organisation, as a rule): matching the names object by object was most
// of building the book.
class AttributeFinder {
 public:
  Attributes Of(const DirEntry& object) {
    const std::span<const DirShapeSlot> shape = object.shape();
    if (shape.data() != shape_.data() || shape.size() != shape_.size()) Learn(shape);
    const auto values = [&](Place place) {
      const int slot = places_[static_cast<size_t>(place)];
      return slot < 0 ? Values() : object.ValuesOf(shape[static_cast<size_t>(slot)]);
    };
    Attributes found;
    found.book.odn = values(Place::kOdn);
    found.book.hidden = values(Place::kHidden);
    found.book.display_name = values(Place::kDisplayName);
    found.book.display_type = values(Place::kDisplayType);
    found.book.object_class = values(Place::kObjectClass);
    found.nickname = values(Place::kNickname);
    found.given_name = values(Place::kGivenName);
    found.surname = values(Place::kSurname);
    return found;
  }

 private:
  enum class Place : size_t {
    kOdn,
    kHidden,
    kDisplayName,
    kDisplayType,
    kObjectClass,
    kNickname,
    kGivenName,
    kSurname,
    kCount
  };
  static constexpr size_t kPlaces = static_cast<size_t>(Place::kCount);
  static constexpr std::array<std::string_view, kPlaces> kNames = {
      "legacyExchangeDN", "msExchHideFromAddressLists",
      "displayName",      "msExchRecipientDisplayType",
      "objectClass",      "mailNickname",
      "givenName",        "sn"};

  // An object holds one attribute per name in any case, so each name
  // matches one slot at most.
  void Learn(std::span<const DirShapeSlot> shape) {
    shape_ = shape;
    places_.fill(-1);
    for (size_t slot = 0; slot < shape.size(); ++slot) {
      for (size_t name = 0; name < kNames.size(); ++name) {
        if (NameIs(*shape[slot].name, kNames[name])) {
          places_[name] = static_cast<int>(slot);
          break;
        }
      }
    }
  }

  // The shape learnt (none at first: an object without attributes has
  // none either, and all its places are unfound), and its places.
  std::span<const DirShapeSlot> shape_;
  std::array<int, kPlaces> places_ = [] {
    std::array<int, kPlaces> unfound{};
    unfound.fill(-1);
    return unfound;
  }();
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

// One text for both places that read a member's proxies, so that the
// directory's per-thread memo of where a name sits (keyed by the name's
// address) serves both.
constexpr std::string_view kProxyAddresses = "proxyAddresses";

// The book entries of objects [begin, end), in order, with each object's
// place among them in `positions` (kNotInBook for an object outside the
// book, set by the caller). Reads the objects and writes only `entries` and
// that range of `positions`, so two ranges can be done at once.
void CollectEntries(const std::vector<DirEntry>& objects, size_t begin, size_t end,
                    std::vector<BookEntry>& entries, std::vector<uint32_t>& positions) {
  AttributeFinder finder;
  // An object's values were written at load time and are long out of the
  // cache: those of the objects a little ahead are fetched meanwhile.
  constexpr size_t kAhead = 8;
  for (size_t i = begin; i < std::min(end, begin + kAhead); ++i) objects[i].PrefetchValues();
  for (size_t i = begin; i < end; ++i) {
    if (i + kAhead < end) objects[i + kAhead].PrefetchValues();
    const DirEntry& object = objects[i];
    const std::optional<BookEntry> entry = MakeBookEntry(object, finder.Of(object).book);
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

const MemoryAddressBook::KeyList& MemoryAddressBook::Keys(KeyKind kind) const {
  KeyList& list = kind == KeyKind::kExact ? exact_ : prefix_;
  std::call_once(list.once, [&] { BuildKeys(kind, list); });
  return list;
}

void MemoryAddressBook::BuildKeys(KeyKind kind, KeyList& list) const {
  // A failed attempt (out of memory) leaves call_once to try again afresh.
  list.text.clear();
  list.keys.clear();
  AttributeFinder finder;
  for (uint32_t index = 0; index < entries_.size(); ++index) {
    const auto& object = static_cast<const DirEntry&>(*entries_[index].object);
    const Attributes attributes = finder.Of(object);
    for (const std::string_view* name :
         {FirstOf(attributes.book.display_name), FirstOf(attributes.nickname)}) {
      if (name != nullptr) AddKey(list, *name, index);
    }
    if (kind == KeyKind::kExact) {
      AddKey(list, object.RdnValue(), index);
      continue;
    }
    for (const std::string_view* name :
         {FirstOf(attributes.given_name), FirstOf(attributes.surname)}) {
      if (name != nullptr) AddKey(list, *name, index);
    }
  }
  SortKeys(list);
}

void MemoryAddressBook::AddKey(KeyList& list, std::string_view name, uint32_t entry) {
  const std::string lowered = text::LCase(name);
  if (lowered.empty()) return;
  list.keys.push_back(
      Key{static_cast<uint32_t>(list.text.size()), static_cast<uint32_t>(lowered.size()), entry});
  list.text.append(lowered);
}

void MemoryAddressBook::SortKeys(KeyList& list) {
  // Texts in byte order (as string_view::compare has it), then entries. A
  // large book sorts millions of pairs of names: they are compared eight
  // bytes at a time as big-endian numbers, which orders them as their
  // bytes do, and the text is padded for the duration so that a word may
  // reach past the last key.
  constexpr size_t kWord = sizeof(uint64_t);
  list.text.append(kWord, '\0');
  const char* const text = list.text.data();
  std::vector<Key>& keys = list.keys;
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
  list.text.resize(list.text.size() - kWord);
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
  const KeyList& list = Keys(KeyKind::kExact);
  std::vector<uint32_t> matches;
  const auto by_text = [&list](const Key& key, std::string_view wanted) {
    return list.TextOf(key) < wanted;
  };
  for (auto it = std::lower_bound(list.keys.begin(), list.keys.end(), lowered, by_text);
       it != list.keys.end() && list.TextOf(*it) == lowered; ++it) {
    if (AddMatch(matches, it->entry, limit)) break;
  }
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  return matches;
}

std::vector<uint32_t> MemoryAddressBook::MatchNamePrefix(std::string_view lowered,
                                                         size_t limit) const {
  const KeyList& list = Keys(KeyKind::kPrefix);
  std::vector<uint32_t> matches;
  const auto by_text = [&list](const Key& key, std::string_view wanted) {
    return list.TextOf(key) < wanted;
  };
  for (auto it = std::lower_bound(list.keys.begin(), list.keys.end(), lowered, by_text);
       it != list.keys.end() && text::StartsWith(list.TextOf(*it), lowered); ++it) {
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
  std::array<DirectoryData::DnProbe, kAhead> ahead;
  for (size_t i = 0; i < std::min(kAhead, values.size()); ++i) {
    ahead[i] = directory_.PrefetchDn(values[i]);
  }
  for (size_t i = 0; i < values.size(); ++i) {
    const DirectoryData::DnProbe probe = ahead[i % kAhead];
    if (i + kAhead < values.size()) ahead[i % kAhead] = directory_.PrefetchDn(values[i + kAhead]);
    const DirEntry* object = directory_.ByDN(probe);
    if (object == nullptr) continue;
    if (auto index = IndexOf(*object)) {
      members.push_back(*index);
      // The walk reads each member's entry and values right after: they
      // are fetched now, while the other members are looked up.
      __builtin_prefetch(&entries_[*index]);
      // Of the object's values it reads the proxies, whose views lie a few
      // lines into the object's list of values: that line, not the first.
      const auto proxies = object->Values(kProxyAddresses);
      if (!proxies.empty()) __builtin_prefetch(proxies.data());
    }
  }
  return members;
}

void MemoryAddressBook::PrefetchTexts(uint32_t index) const {
  const BookEntry& entry = entries_[index];
  __builtin_prefetch(entry.name.data());
  __builtin_prefetch(entry.odn.data());
  for (const std::string_view proxy : entry.object->Values(kProxyAddresses)) {
    __builtin_prefetch(proxy.data());
  }
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
  std::optional<std::string> FirstTextWithPrefix(int32_t property_tag,
                                                 std::string_view prefix) override {
    // The same call as Field for the fault plan.
    if (Enter<"AddressEntry.Field">(logon_.get())) return std::nullopt;
    return Book().FirstTextWithPrefix(ref_, property_tag, prefix);
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
    // A walk asks for the members in order and reads each one's name, ODN
    // and proxies, which lie outside every cache in a large directory:
    // those of the next member are fetched while the caller works on this
    // one.
    if (static_cast<size_t>(position) < Size()) {
      Book().PrefetchTexts(At(static_cast<size_t>(position)));
    }
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
