#include "platform/memory/memory_directory_search.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

// The positions of the only objects that can match the filter, in file
// order, when an equality the filter requires is on an indexed attribute
// (mail, or an SMTP proxy); std::nullopt when the directory must be
// scanned. The index gives a superset (the whole filter is still tested
// on each), so a list lookup "((mail=x))" costs one hash look-up, not a
// pass over every object.
std::optional<std::vector<uint32_t>> IndexedCandidates(const DirectoryData& data,
                                                       const ldapfilter::Filter& filter) {
  constexpr std::string_view kSmtp = "smtp:";
  for (const auto& [attribute, value] : filter.RequiredEqualities()) {
    // An empty value is not indexed (nor a proxy that is only the prefix).
    if (text::AsciiEqualsNoCase(attribute, "mail") && !value.empty()) {
      return data.MailPositions(value);
    }
    if (text::AsciiEqualsNoCase(attribute, "proxyAddresses") && value.size() > kSmtp.size() &&
        text::StartsWithNoCase(value, kSmtp)) {
      return data.SmtpProxyPositions(value.substr(kSmtp.size()));
    }
  }
  return std::nullopt;
}

// An object as the filter sees it during one search. The filter asks
// every object for the same few names and the objects share a handful of
// shapes, so where each name sits in a shape is learnt once per search and
// kept under the two addresses: neither the directory nor the filter
// changes while the search runs, so no other shape or name can come to
// have them. A name that the shape lacks is asked of the object itself,
// which answers "name" and "distinguishedName" from its RDN value and DN.
class SearchedObject final : public ldapfilter::AttributeSource {
 public:
  void Show(const DirEntry& object) { object_ = &object; }

  std::span<const std::string_view> Values(std::string_view attribute) const override {
    const std::span<const DirShapeSlot> shape = object_->shape();
    Learnt& learnt = learnt_[ShapeNamePlace<kLearntBits>(shape.data(), attribute.data())];
    if (learnt.shape != shape.data() || learnt.name != attribute.data() ||
        learnt.size != attribute.size()) {
      learnt = Learnt{shape.data(), attribute.data(), attribute.size(), object_->SlotOf(attribute)};
    }
    return learnt.slot ? object_->ValuesOf(shape[*learnt.slot]) : object_->Values(attribute);
  }

 private:
  struct Learnt {
    const DirShapeSlot* shape = nullptr;
    const char* name = nullptr;  // no name's text starts at null
    size_t size = 0;
    std::optional<uint32_t> slot;
  };
  static constexpr int kLearntBits = 4;

  const DirEntry* object_ = nullptr;
  mutable std::array<Learnt, size_t{1} << kLearntBits> learnt_{};
};

}  // namespace

std::shared_ptr<const DirRecord> MemoryDirectorySearch::Find(std::string_view dn) const {
  // The directory outlives every record handed out (the organisation keeps
  // both), so the pointer owns nothing.
  return std::shared_ptr<const DirRecord>(std::shared_ptr<const DirRecord>(), data_.ByDN(dn));
}

DirectorySearch::Rows MemoryDirectorySearch::Search(const DirectoryCommand& command,
                                                    const ldapfilter::Filter& filter) const {
  const DirEntry* base_entry = nullptr;
  if (!command.base_dn.empty()) {
    base_entry = data_.ByDN(command.base_dn);
    if (base_entry == nullptr) throw PlatformError(errnum::kNoSuchObject);
  }
  Rows result;
  std::vector<const DirRecord*>& rows = result.rows;
  if (command.scope == SearchScope::kBase) {
    if (base_entry != nullptr && filter.Matches(*base_entry)) rows.push_back(base_entry);
    return result;
  }
  const std::string_view base =
      base_entry == nullptr ? std::string_view() : std::string_view(base_entry->dn_key);
  SearchedObject seen;
  const auto test = [&](const DirEntry& entry) {
    if (!InScope(entry.dn_key, base, command.scope)) return;
    seen.Show(entry);
    if (filter.Matches(seen)) rows.push_back(&entry);
  };
  if (const auto candidates = IndexedCandidates(data_, filter)) {
    for (const uint32_t position : *candidates) test(data_.Entries()[position]);
  } else {
    for (const DirEntry& entry : data_.Entries()) test(entry);
  }
  return result;
}

void MemoryDirectorySearch::Anticipate(const DirRecord& next_row) const {
  data_.PrefetchLegacyDN(next_row.First("legacyExchangeDN"));
}

}  // namespace platform::memory
