#include "platform/memory/directory_data.h"

#include <algorithm>
#include <utility>

#include "platform/dn.h"
#include "platform/memory/ldap_filter.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

constexpr std::string_view kSmtpPrefix = "smtp:";

// Runs for every item of a filter on every object of a query, so it must
// not touch more memory than it needs: attribute names are ASCII (RFC 4512
// keystrings), so names of different lengths differ, and a long name's
// heap text is read only when the lengths agree. A non-ASCII name of the
// same length still gets the Unicode comparison.
bool NameEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if ((x | y) >= 0x80) return text::EqualsNoCase(a, b);
    if (x == y) continue;
    const auto lx = (x >= 'A' && x <= 'Z') ? x - 'A' + 'a' : x;
    const auto ly = (y >= 'A' && y <= 'Z') ? y - 'A' + 'a' : y;
    if (lx != ly) return false;
  }
  return true;
}

void AddIndex(std::unordered_map<std::string, std::vector<size_t>>& index, std::string key,
              size_t position) {
  if (key.empty()) return;
  auto& positions = index[std::move(key)];
  if (positions.empty() || positions.back() != position) positions.push_back(position);
}

}  // namespace

const std::vector<std::string>* DirEntry::Values(std::string_view attribute) const {
  for (const auto& [name, values] : attributes) {
    // An empty slot counts as absent, so that "name" still falls back.
    if (!values.empty() && NameEquals(name, attribute)) return &values;
  }
  if (!rdn_value_list.empty() && NameEquals(attribute, "name")) return &rdn_value_list;
  if (!dn_list.empty() && NameEquals(attribute, "distinguishedName")) return &dn_list;
  return nullptr;
}

std::string DirEntry::First(std::string_view attribute) const {
  const auto* values = Values(attribute);
  return values == nullptr ? std::string() : values->front();
}

bool DirectoryData::Add(DirEntry entry) {
  // Computed here whatever the caller put in, so that the index and the
  // scope test can rely on it.
  entry.dn_key = DnKey(entry.dn);
  if (by_dn_.find(entry.dn_key) != by_dn_.end()) return false;
  if (entry.rdn_value.empty()) entry.rdn_value = ldapfilter::FirstRdnValue(entry.dn);
  if (entry.rdn_value_list.empty() && !entry.rdn_value.empty()) {
    entry.rdn_value_list.push_back(entry.rdn_value);
  }
  entry.dn_list.assign(1, entry.dn);
  const size_t position = entries_.size();
  entries_.push_back(std::move(entry));
  const DirEntry& added = entries_.back();
  by_dn_.emplace(added.dn_key, position);

  if (const auto* odns = added.Values("legacyExchangeDN")) {
    for (const std::string& odn : *odns) {
      if (!odn.empty()) by_legacy_dn_.emplace(text::LCase(odn), position);
    }
  }
  if (const auto* mails = added.Values("mail")) {
    for (const std::string& mail : *mails) AddIndex(by_mail_, text::LCase(mail), position);
  }
  if (const auto* proxies = added.Values("proxyAddresses")) {
    for (const std::string& proxy : *proxies) {
      if (proxy.size() > kSmtpPrefix.size() && text::StartsWithNoCase(proxy, kSmtpPrefix)) {
        AddIndex(by_proxy_, text::LCase(proxy.substr(kSmtpPrefix.size())), position);
      }
    }
  }
  return true;
}

const DirEntry* DirectoryData::ByDN(std::string_view dn) const {
  const auto it = by_dn_.find(DnKey(dn));
  return it == by_dn_.end() ? nullptr : &entries_[it->second];
}

const DirEntry* DirectoryData::ByLegacyDN(std::string_view odn) const {
  if (odn.empty()) return nullptr;
  const auto it = by_legacy_dn_.find(text::LCase(odn));
  return it == by_legacy_dn_.end() ? nullptr : &entries_[it->second];
}

std::vector<const DirEntry*> DirectoryData::ByAddress(std::string_view address) const {
  const std::string key = text::LCase(address);
  std::vector<size_t> positions;
  for (const auto* index : {&by_mail_, &by_proxy_}) {
    const auto it = index->find(key);
    if (it != index->end()) positions.insert(positions.end(), it->second.begin(), it->second.end());
  }
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  std::vector<const DirEntry*> found;
  found.reserve(positions.size());
  for (const size_t position : positions) found.push_back(&entries_[position]);
  return found;
}

std::vector<const DirEntry*> DirectoryData::ByMail(std::string_view address) const {
  std::vector<const DirEntry*> found;
  const auto it = by_mail_.find(text::LCase(address));
  if (it == by_mail_.end()) return found;
  found.reserve(it->second.size());
  for (const size_t position : it->second) found.push_back(&entries_[position]);
  return found;
}

}  // namespace platform::memory
