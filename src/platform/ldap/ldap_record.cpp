#include "platform/ldap/ldap_record.h"

#include <algorithm>
#include <cstdint>

#include "platform/dn.h"
#include "platform/text.h"

namespace platform::ldap {
namespace {

// A server names an attribute it read in ranges "member;range=0-*"; the
// client gives all values under the plain name, so options are only
// compared as written.
bool SameName(std::string_view a, std::string_view b) { return text::AsciiEqualsNoCase(a, b); }

}  // namespace

LdapRecord::LdapRecord(std::string dn, std::vector<Attribute> attributes) {
  std::vector<std::string_view> names;
  std::vector<uint32_t> counts;
  std::vector<std::string_view> values;
  for (const Attribute& attribute : attributes) {
    names.emplace_back(attribute.name);
    counts.push_back(static_cast<uint32_t>(attribute.values.size()));
    for (const std::string& value : attribute.values) values.emplace_back(value);
  }
  Fill(EntryView{dn, names, counts, values});
}

LdapRecord::LdapRecord(const EntryView& entry) { Fill(entry); }

void LdapRecord::Fill(const EntryView& entry) {
  const std::string dn_key = platform::DnKey(entry.dn);
  const std::string rdn_value = FirstRdnValue(entry.dn);
  const size_t count = entry.names.size();
  // Per attribute: where its values start in entry.values (starts), and
  // the slot it goes to (slot): values under one name in any letter case
  // form one attribute, as in an LDIF file, at the place of the first.
  // firsts: the attribute index of each slot's first spelling. On the
  // stack for the usual few attributes; a record is made for every entry
  // a run meets.
  constexpr size_t kOnStack = 32;
  uint32_t stack[3 * kOnStack];
  std::vector<uint32_t> heap;
  uint32_t* scratch = stack;
  if (count > kOnStack) {
    heap.resize(3 * count);
    scratch = heap.data();
  }
  uint32_t* const starts = scratch;
  uint32_t* const slot = scratch + std::max(count, kOnStack);
  uint32_t* const firsts = scratch + 2 * std::max(count, kOnStack);
  size_t slots = 0;
  for (size_t i = 0, at = 0; i < count; at += entry.counts[i], ++i) {
    starts[i] = static_cast<uint32_t>(at);
  }
  size_t bytes = entry.dn.size() + dn_key.size() + rdn_value.size();
  size_t values = 0;
  for (size_t i = 0; i < count; ++i) {
    if (entry.counts[i] == 0) continue;
    uint32_t s = 0;
    while (s < slots && !SameName(entry.names[firsts[s]], entry.names[i])) ++s;
    if (s == slots) {
      firsts[slots++] = static_cast<uint32_t>(i);
      bytes += entry.names[i].size();
    }
    slot[i] = s;
    for (uint32_t k = 0; k < entry.counts[i]; ++k) bytes += entry.values[starts[i] + k].size();
    values += entry.counts[i];
  }
  // Filled in one go, so the views taken below never move.
  text_.reserve(bytes);
  const char* const base = text_.data();
  const auto keep = [&](std::string_view piece) {
    const size_t at = text_.size();
    text_.append(piece);
    return std::string_view(base + at, piece.size());
  };
  dn_ = keep(entry.dn);
  dn_key_ = keep(dn_key);
  rdn_value_ = keep(rdn_value);
  dn_view_[0] = dn_;
  rdn_view_[0] = rdn_value_;
  // Values in slot order, each slot's values in the order they came.
  attributes_.resize(slots);
  views_.reserve(values);
  for (size_t s = 0; s < slots; ++s) {
    attributes_[s].name = keep(entry.names[firsts[s]]);
    attributes_[s].first = static_cast<uint32_t>(views_.size());
    for (size_t i = firsts[s]; i < count; ++i) {
      if (entry.counts[i] == 0 || slot[i] != s) continue;
      for (uint32_t k = 0; k < entry.counts[i]; ++k) {
        views_.push_back(keep(entry.values[starts[i] + k]));
      }
    }
    attributes_[s].count = static_cast<uint32_t>(views_.size()) - attributes_[s].first;
  }
}

std::span<const std::string_view> LdapRecord::Values(std::string_view attribute) const {
  for (const Held& held : attributes_) {
    if (SameName(held.name, attribute)) {
      return std::span<const std::string_view>(views_).subspan(held.first, held.count);
    }
  }
  if (SameName(attribute, "distinguishedName")) return dn_view_;
  if (SameName(attribute, "name")) return rdn_view_;
  return {};
}

}  // namespace platform::ldap
