#include "platform/memory/address_book.h"

#include <algorithm>
#include <charconv>
#include <span>
#include <string_view>
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
  Values odn;
  Values hidden;
  Values display_name;
  Values display_type;
  Values object_class;
  Values nickname;
  Values given_name;
  Values surname;

  explicit Attributes(const DirEntry& object) {
    for (const DirAttribute attribute : object.attributes()) {
      const std::string_view name = attribute.name();
      const Values values = attribute.values();
      if (NameIs(name, "legacyExchangeDN")) {
        odn = values;
      } else if (NameIs(name, "msExchHideFromAddressLists")) {
        hidden = values;
      } else if (NameIs(name, "displayName")) {
        display_name = values;
      } else if (NameIs(name, "msExchRecipientDisplayType")) {
        display_type = values;
      } else if (NameIs(name, "objectClass")) {
        object_class = values;
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

int32_t DisplayTypeOf(const Attributes& attributes) {
  if (const std::string_view* value = FirstOf(attributes.display_type)) {
    const std::string trimmed = text::Trim(*value);
    int64_t number = 0;
    const char* end = trimmed.data() + trimmed.size();
    const auto [at, error] = std::from_chars(trimmed.data(), end, number);
    if (error == std::errc() && at == end && !trimmed.empty()) {
      return static_cast<int32_t>(static_cast<uint32_t>(number));
    }
  }
  if (attributes.object_class.empty()) return display_type::kMailUser;
  const auto has = [&](std::string_view wanted) {
    return std::any_of(attributes.object_class.begin(), attributes.object_class.end(),
                       [&](std::string_view c) { return NameIs(c, wanted); });
  };
  if (has("msExchDynamicDistributionList")) return display_type::kAgent;
  if (has("group")) return display_type::kDistList;
  if (has("organization")) return display_type::kOrganization;
  if (has("contact")) return display_type::kRemoteMailUser;
  return display_type::kMailUser;
}

std::optional<std::string> DecodeHex(std::string_view hex) {
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = digit(hex[i]);
    const int low = digit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

// Sorts and removes repeats; book order is file order.
void Distinct(std::vector<uint32_t>& matches) {
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
}

// Adds a match; true once `limit` distinct matches are held.
bool AddMatch(std::vector<uint32_t>& matches, uint32_t index, size_t limit) {
  matches.push_back(index);
  if (matches.size() < limit) return false;
  Distinct(matches);
  return matches.size() >= limit;
}

}  // namespace

AddressBook::AddressBook(const DirectoryData& directory) : directory_(directory) {
  const auto& objects = directory.Entries();
  book_position_.assign(objects.size(), kNotInBook);
  for (size_t i = 0; i < objects.size(); ++i) {
    const DirEntry& object = objects[i];
    const Attributes attributes(object);
    const std::string_view* odn = FirstOf(attributes.odn);
    if (odn == nullptr || odn->empty()) continue;
    if (std::any_of(attributes.hidden.begin(), attributes.hidden.end(),
                    [](std::string_view v) { return NameIs(text::Trim(v), "true"); })) {
      continue;
    }
    const auto index = static_cast<uint32_t>(entries_.size());
    BookEntry entry;
    entry.object = &object;
    entry.odn = *odn;
    const std::string_view* display = FirstOf(attributes.display_name);
    entry.name = display != nullptr && !display->empty() ? *display : object.RdnValue();
    entry.display_type = DisplayTypeOf(attributes);
    entries_.push_back(entry);
    book_position_[i] = index;
  }
}

void AddressBook::RequireKeys() const {
  std::call_once(keys_once_, [this] { BuildKeys(); });
}

void AddressBook::BuildKeys() const {
  // A failed attempt (out of memory) leaves call_once to try again afresh.
  keys_text_.clear();
  exact_keys_.clear();
  prefix_keys_.clear();
  for (uint32_t index = 0; index < entries_.size(); ++index) {
    const DirEntry& object = *entries_[index].object;
    const Attributes attributes(object);
    const std::string_view* display = FirstOf(attributes.display_name);
    const std::string lowered_display = display != nullptr ? text::LCase(*display) : "";
    const std::string_view* nickname = FirstOf(attributes.nickname);
    const std::string lowered_nickname = nickname != nullptr ? text::LCase(*nickname) : "";
    AddKey(exact_keys_, lowered_display, index);
    AddKey(exact_keys_, lowered_nickname, index);
    AddKey(exact_keys_, text::LCase(object.RdnValue()), index);
    AddKey(prefix_keys_, lowered_display, index);
    AddKey(prefix_keys_, lowered_nickname, index);
    if (const std::string_view* given = FirstOf(attributes.given_name)) {
      AddKey(prefix_keys_, text::LCase(*given), index);
    }
    if (const std::string_view* surname = FirstOf(attributes.surname)) {
      AddKey(prefix_keys_, text::LCase(*surname), index);
    }
  }
  SortKeys(exact_keys_);
  SortKeys(prefix_keys_);
}

void AddressBook::AddKey(std::vector<Key>& keys, std::string_view lowered, uint32_t entry) const {
  if (lowered.empty()) return;
  keys.push_back(
      Key{static_cast<uint32_t>(keys_text_.size()), static_cast<uint32_t>(lowered.size()), entry});
  keys_text_.append(lowered);
}

void AddressBook::SortKeys(std::vector<Key>& keys) const {
  std::sort(keys.begin(), keys.end(), [this](const Key& a, const Key& b) {
    const int order = KeyText(a).compare(KeyText(b));
    return order != 0 ? order < 0 : a.entry < b.entry;
  });
  keys.shrink_to_fit();
}

std::optional<uint32_t> AddressBook::IndexOf(const DirEntry& object) const {
  const auto& objects = directory_.Entries();
  if (objects.empty() || &object < objects.data() || &object >= objects.data() + objects.size()) {
    return std::nullopt;
  }
  const uint32_t index = book_position_[static_cast<size_t>(&object - objects.data())];
  if (index == kNotInBook) return std::nullopt;
  return index;
}

std::optional<uint32_t> AddressBook::ByODN(std::string_view odn) const {
  if (odn.empty()) return std::nullopt;
  const DirEntry* object = directory_.ByLegacyDN(odn);
  if (object == nullptr) return std::nullopt;
  return IndexOf(*object);
}

Resolution AddressBook::Candidates(std::string_view text_in, size_t limit) const {
  Resolution result;
  if (limit == 0) limit = 1;
  const std::string name = text::Trim(text_in);
  if (name.empty()) return result;
  if (text::StartsWithNoCase(name, "EX:")) {
    if (auto index = ByODN(text::Trim(std::string_view(name).substr(3)))) {
      result.matches.push_back(*index);
    }
    return result;
  }
  const bool smtp_prefix = text::StartsWithNoCase(name, "SMTP:");
  if (smtp_prefix || name.find('@') != std::string::npos) {
    const std::string address = smtp_prefix ? text::Trim(std::string_view(name).substr(5)) : name;
    if (address.empty()) return result;
    for (const DirEntry* object : directory_.ByAddress(address)) {
      if (auto index = IndexOf(*object)) {
        if (AddMatch(result.matches, *index, limit)) break;
      }
    }
    Distinct(result.matches);
    if (result.matches.empty()) result.one_off = address;
    return result;
  }
  const std::string lowered = text::LCase(name);
  const auto by_text = [this](const Key& key, std::string_view wanted) {
    return KeyText(key) < wanted;
  };
  RequireKeys();
  if (auto index = ByODN(name)) result.matches.push_back(*index);
  for (auto it = std::lower_bound(exact_keys_.begin(), exact_keys_.end(), lowered, by_text);
       it != exact_keys_.end() && KeyText(*it) == lowered; ++it) {
    if (AddMatch(result.matches, it->entry, limit)) break;
  }
  if (result.matches.empty()) {
    for (auto it = std::lower_bound(prefix_keys_.begin(), prefix_keys_.end(), lowered, by_text);
         it != prefix_keys_.end() && text::StartsWith(KeyText(*it), lowered); ++it) {
      if (AddMatch(result.matches, it->entry, limit)) break;
    }
  }
  Distinct(result.matches);
  return result;
}

EntryRef AddressBook::Resolve(std::string_view text_in) const {
  Resolution resolution = Candidates(text_in, 2);
  if (resolution.matches.size() > 1) throw PlatformError(errnum::kAmbiguousRecip);
  EntryRef ref;
  if (resolution.matches.size() == 1) {
    ref.index = resolution.matches.front();
    return ref;
  }
  if (!resolution.one_off) throw PlatformError(errnum::kNotFound);
  ref.address = std::move(*resolution.one_off);
  return ref;
}

std::optional<uint32_t> AddressBook::FirstByName(std::string_view name) const {
  const std::string lowered = text::LCase(name);
  if (lowered.empty()) return std::nullopt;
  RequireKeys();
  std::optional<uint32_t> first;
  const auto by_text = [this](const Key& key, std::string_view wanted) {
    return KeyText(key) < wanted;
  };
  for (auto it = std::lower_bound(exact_keys_.begin(), exact_keys_.end(), lowered, by_text);
       it != exact_keys_.end() && KeyText(*it) == lowered; ++it) {
    // Keys of one text are sorted by entry, so the first whose Name is the
    // text is the earliest in book order.
    if (text::LCase(entries_[it->entry].name) == lowered) {
      first = it->entry;
      break;
    }
  }
  return first;
}

std::string AddressBook::Type(const EntryRef& ref) const { return ref.one_off() ? "SMTP" : "EX"; }

std::string AddressBook::Address(const EntryRef& ref) const {
  return ref.one_off() ? ref.address : std::string(entries_[ref.index].odn);
}

std::string AddressBook::Name(const EntryRef& ref) const {
  return ref.one_off() ? ref.address : std::string(entries_[ref.index].name);
}

int32_t AddressBook::DisplayType(const EntryRef& ref) const {
  return ref.one_off() ? display_type::kMailUser : entries_[ref.index].display_type;
}

std::vector<uint32_t> AddressBook::Members(const EntryRef& ref) const {
  std::vector<uint32_t> members;
  if (ref.one_off()) return members;
  const auto values = entries_[ref.index].object->Values("member");
  members.reserve(values.size());
  for (const std::string_view dn : values) {
    const DirEntry* object = directory_.ByDN(dn);
    if (object == nullptr) continue;
    if (auto index = IndexOf(*object)) members.push_back(*index);
  }
  return members;
}

std::string AddressBook::SmtpAddress(const EntryRef& ref) const {
  if (ref.one_off()) return ref.address;
  const DirEntry& object = *entries_[ref.index].object;
  for (const std::string_view proxy : object.Values("proxyAddresses")) {
    if (text::StartsWith(proxy, "SMTP:")) return std::string(proxy.substr(5));
  }
  return std::string(object.First("mail"));
}

Variant AddressBook::Field(const EntryRef& ref, int32_t property_tag) const {
  switch (property_tag) {
    case tag::kEmailAddress:
      return Variant(Address(ref));
    case tag::kSmtpAddress: {
      std::string smtp = SmtpAddress(ref);
      if (smtp.empty()) throw PlatformError(errnum::kNotFound);
      return Variant(std::move(smtp));
    }
    case tag::kProxyAddresses: {
      if (ref.one_off()) throw PlatformError(errnum::kNotFound);
      const auto proxies = entries_[ref.index].object->Values("proxyAddresses");
      if (proxies.empty()) throw PlatformError(errnum::kNotFound);
      return Variant::TextArray(std::vector<std::string>(proxies.begin(), proxies.end()));
    }
    default:
      throw PlatformError(errnum::kNotFound);
  }
}

std::string AddressBook::EntryId(const EntryRef& ref) const {
  if (ref.one_off()) return HexOf("SMTP:" + ref.address);
  return HexOf("EX:" + text::LCase(entries_[ref.index].odn));
}

std::optional<EntryRef> AddressBook::DecodeEntryId(std::string_view entry_id) const {
  const auto bytes = DecodeHex(entry_id);
  if (!bytes) return std::nullopt;
  EntryRef ref;
  if (text::StartsWith(*bytes, "EX:")) {
    const auto index = ByODN(std::string_view(*bytes).substr(3));
    if (!index) return std::nullopt;
    ref.index = *index;
    return ref;
  }
  if (text::StartsWith(*bytes, "SMTP:") && bytes->size() > 5) {
    ref.address = bytes->substr(5);
    return ref;
  }
  return std::nullopt;
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
    return whole_book_ ? static_cast<uint32_t>(i) : base_[i];
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
