#include "platform/address_book.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <utility>

#include "platform/error.h"
#include "platform/messaging.h"
#include "platform/text.h"

namespace platform {
namespace {

// The digits text::PutHexDigits writes for each byte, ASCII-lower-cased
// first: an entry identifier is written a pair at a time.
constexpr std::array<std::array<char, 2>, 256> kLoweredHexPairs = [] {
  std::array<std::array<char, 2>, 256> pairs{};
  for (size_t b = 0; b < pairs.size(); ++b) {
    const auto lowered = static_cast<char>(b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
    text::PutHexDigits(lowered, pairs[b].data());
  }
  return pairs;
}();

constexpr std::array<std::string_view, 12> kBookAttributeNames = {"legacyExchangeDN",
                                                                  "msExchHideFromAddressLists",
                                                                  "displayName",
                                                                  "msExchRecipientDisplayType",
                                                                  "objectClass",
                                                                  "mailNickname",
                                                                  "givenName",
                                                                  "sn",
                                                                  "mail",
                                                                  "proxyAddresses",
                                                                  "member",
                                                                  "distinguishedName"};

// Attribute names and class names are ASCII.
bool NameIs(std::string_view name, std::string_view wanted) {
  return text::AsciiEqualsNoCase(name, wanted);
}

int32_t DisplayTypeOf(const BookAttributes& attributes) {
  if (!attributes.display_type.empty()) {
    const std::string trimmed = text::Trim(attributes.display_type.front());
    int64_t number = 0;
    const char* end = trimmed.data() + trimmed.size();
    const auto [at, error] = std::from_chars(trimmed.data(), end, number);
    if (error == std::errc() && at == end && !trimmed.empty()) {
      return static_cast<int32_t>(static_cast<uint32_t>(number));
    }
  }
  // The classes that decide, strongest first, found in one pass; sizes are
  // compared first, and they differ.
  static constexpr std::array<std::pair<std::string_view, int32_t>, 4> kDeciding = {{
      {"msExchDynamicDistributionList", display_type::kAgent},
      {"group", display_type::kDistList},
      {"organization", display_type::kOrganization},
      {"contact", display_type::kRemoteMailUser},
  }};
  size_t strongest = kDeciding.size();
  for (const std::string_view c : attributes.object_class) {
    for (size_t i = 0; i < strongest; ++i) {
      if (c.size() == kDeciding[i].first.size() && NameIs(c, kDeciding[i].first)) {
        strongest = i;
        break;
      }
    }
  }
  return strongest < kDeciding.size() ? kDeciding[strongest].second : display_type::kMailUser;
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

// Book order, no repeats, at most `limit`.
void Distinct(std::vector<uint32_t>& matches, size_t limit) {
  std::sort(matches.begin(), matches.end());
  matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  if (matches.size() > limit) matches.resize(limit);
}

}  // namespace

BookAttributes BookAttributesOf(const DirRecord& object) {
  BookAttributes attributes;
  attributes.odn = object.Values("legacyExchangeDN");
  attributes.hidden = object.Values("msExchHideFromAddressLists");
  attributes.display_name = object.Values("displayName");
  attributes.display_type = object.Values("msExchRecipientDisplayType");
  attributes.object_class = object.Values("objectClass");
  return attributes;
}

std::optional<BookEntry> MakeBookEntry(const DirRecord& object, const BookAttributes& attributes) {
  if (attributes.odn.empty() || attributes.odn.front().empty()) return std::nullopt;
  if (std::any_of(attributes.hidden.begin(), attributes.hidden.end(),
                  [](std::string_view v) { return NameIs(text::Trim(v), "true"); })) {
    return std::nullopt;
  }
  BookEntry entry;
  entry.object = &object;
  entry.odn = attributes.odn.front();
  const bool named = !attributes.display_name.empty() && !attributes.display_name.front().empty();
  entry.name = named ? attributes.display_name.front() : object.RdnValue();
  entry.display_type = DisplayTypeOf(attributes);
  return entry;
}

std::span<const std::string_view> BookAttributeNames() { return kBookAttributeNames; }

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
    result.matches = MatchAddress(address, limit);
    Distinct(result.matches, limit);
    if (result.matches.empty()) result.one_off = address;
    return result;
  }
  const std::string lowered = text::LCase(name);
  if (auto index = ByODN(name)) result.matches.push_back(*index);
  for (const uint32_t index : MatchName(lowered, limit)) result.matches.push_back(index);
  if (result.matches.empty()) result.matches = MatchNamePrefix(lowered, limit);
  Distinct(result.matches, limit);
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
  // Name is displayName or the RDN value, both among the exact names, so
  // the first of those in book order whose Name is the text is the one.
  for (const uint32_t index : MatchName(lowered, std::numeric_limits<size_t>::max())) {
    if (text::LCase(entry(index).name) == lowered) return index;
  }
  return std::nullopt;
}

std::string AddressBook::Type(const EntryRef& ref) const { return ref.one_off() ? "SMTP" : "EX"; }

std::string AddressBook::Address(const EntryRef& ref) const {
  return ref.one_off() ? ref.address : std::string(entry(ref.index).odn);
}

std::string AddressBook::Name(const EntryRef& ref) const {
  return ref.one_off() ? ref.address : std::string(entry(ref.index).name);
}

int32_t AddressBook::DisplayType(const EntryRef& ref) const {
  return ref.one_off() ? display_type::kMailUser : entry(ref.index).display_type;
}

std::string AddressBook::SmtpAddress(const EntryRef& ref) const {
  if (ref.one_off()) return ref.address;
  const DirRecord& object = *entry(ref.index).object;
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
      const auto proxies = entry(ref.index).object->Values("proxyAddresses");
      if (proxies.empty()) throw PlatformError(errnum::kNotFound);
      return Variant::TextArray(proxies);
    }
    default:
      throw PlatformError(errnum::kNotFound);
  }
}

std::optional<std::string> AddressBook::FirstTextWithPrefix(const EntryRef& ref,
                                                            int32_t property_tag,
                                                            std::string_view prefix) const {
  if (property_tag != tag::kProxyAddresses) {
    // Every other field holds a single value, never an array.
    (void)Field(ref, property_tag);
    return std::nullopt;
  }
  if (ref.one_off()) throw PlatformError(errnum::kNotFound);
  const auto proxies = entry(ref.index).object->Values("proxyAddresses");
  if (proxies.empty()) throw PlatformError(errnum::kNotFound);
  for (const std::string_view proxy : proxies) {
    if (proxy.starts_with(prefix)) return std::string(proxy.substr(prefix.size()));
  }
  return std::nullopt;
}

std::string AddressBook::EntryId(const EntryRef& ref) const {
  if (ref.one_off()) return text::HexOfBytes("SMTP:" + ref.address);
  const std::string_view odn = entry(ref.index).odn;
  // Made in one piece for an ASCII ODN (nearly all): a query-based list
  // makes the identifier of every member.
  if (!text::IsAsciiText(odn)) return text::HexOfBytes("EX:" + text::LCase(odn));
  constexpr std::string_view kPrefix = "EX:";
  std::string id((kPrefix.size() + odn.size()) * 2, '\0');
  char* to = id.data();
  for (const char c : kPrefix) to = text::PutHexDigits(c, to);
  for (const char c : odn) {
    std::memcpy(to, kLoweredHexPairs[static_cast<unsigned char>(c)].data(), 2);
    to += 2;
  }
  return id;
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

}  // namespace platform
