#include "platform/memory/memory_directory_search.h"

#include <cstdint>
#include <optional>
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
  const auto test = [&](const DirEntry& entry) {
    if (InScope(entry.dn_key, base, command.scope) && filter.Matches(entry)) {
      rows.push_back(&entry);
    }
  };
  if (const auto candidates = IndexedCandidates(data_, filter)) {
    for (const uint32_t position : *candidates) test(data_.Entries()[position]);
  } else {
    for (const DirEntry& entry : data_.Entries()) test(entry);
  }
  return result;
}

}  // namespace platform::memory
