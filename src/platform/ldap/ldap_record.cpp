#include "platform/ldap/ldap_record.h"

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
  const std::string dn_key = platform::DnKey(dn);
  const std::string rdn_value = FirstRdnValue(dn);
  // Values under one name in any letter case form one attribute, as in an
  // LDIF file, at the place of the first: attribute i goes to slot[i].
  std::vector<size_t> slot(attributes.size());
  std::vector<size_t> firsts;  // attribute index of each slot's first spelling
  size_t bytes = dn.size() + dn_key.size() + rdn_value.size();
  size_t values = 0;
  for (size_t i = 0; i < attributes.size(); ++i) {
    if (attributes[i].values.empty()) continue;
    size_t s = 0;
    while (s < firsts.size() && !SameName(attributes[firsts[s]].name, attributes[i].name)) ++s;
    if (s == firsts.size()) {
      firsts.push_back(i);
      bytes += attributes[i].name.size();
    }
    slot[i] = s;
    for (const std::string& value : attributes[i].values) bytes += value.size();
    values += attributes[i].values.size();
  }
  // Filled in one go, so the views taken below never move.
  text_.reserve(bytes);
  const auto keep = [this](std::string_view piece) {
    const size_t at = text_.size();
    text_.append(piece);
    return at;
  };
  const size_t dn_at = keep(dn);
  const size_t key_at = keep(dn_key);
  const size_t rdn_at = keep(rdn_value);
  std::vector<size_t> name_at(firsts.size());
  for (size_t s = 0; s < firsts.size(); ++s) name_at[s] = keep(attributes[firsts[s]].name);
  // Values in slot order, each slot's values in the order they came.
  std::vector<std::pair<size_t, size_t>> value_at;  // (offset, length)
  value_at.reserve(values);
  attributes_.resize(firsts.size());
  for (size_t s = 0; s < firsts.size(); ++s) {
    attributes_[s].first = static_cast<uint32_t>(value_at.size());
    for (size_t i = firsts[s]; i < attributes.size(); ++i) {
      if (attributes[i].values.empty() || slot[i] != s) continue;
      for (const std::string& value : attributes[i].values) {
        value_at.emplace_back(keep(value), value.size());
      }
    }
    attributes_[s].count = static_cast<uint32_t>(value_at.size()) - attributes_[s].first;
  }
  const std::string_view text(text_);
  dn_ = text.substr(dn_at, dn.size());
  dn_key_ = text.substr(key_at, dn_key.size());
  rdn_value_ = text.substr(rdn_at, rdn_value.size());
  dn_view_[0] = dn_;
  rdn_view_[0] = rdn_value_;
  for (size_t s = 0; s < firsts.size(); ++s) {
    attributes_[s].name = text.substr(name_at[s], attributes[firsts[s]].name.size());
  }
  views_.reserve(value_at.size());
  for (const auto& [at, length] : value_at) views_.push_back(text.substr(at, length));
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
