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

LdapRecord::LdapRecord(std::string dn, std::vector<Attribute> attributes)
    : dn_(std::move(dn)), dn_key_(platform::DnKey(dn_)), rdn_value_(FirstRdnValue(dn_)) {
  dn_view_[0] = dn_;
  rdn_view_[0] = rdn_value_;
  attributes_.reserve(attributes.size());
  for (Attribute& attribute : attributes) {
    if (attribute.values.empty()) continue;
    // Values under one name in any letter case form one attribute, as in
    // an LDIF file.
    Held* held = nullptr;
    for (Held& existing : attributes_) {
      if (SameName(existing.name, attribute.name)) held = &existing;
    }
    if (held == nullptr) {
      attributes_.push_back(Held{std::move(attribute.name), {}, {}});
      held = &attributes_.back();
    }
    for (std::string& value : attribute.values) held->values.push_back(std::move(value));
  }
  for (Held& held : attributes_) held.views.assign(held.values.begin(), held.values.end());
}

std::span<const std::string_view> LdapRecord::Values(std::string_view attribute) const {
  for (const Held& held : attributes_) {
    if (SameName(held.name, attribute)) return held.views;
  }
  if (SameName(attribute, "distinguishedName")) return dn_view_;
  if (SameName(attribute, "name")) return rdn_view_;
  return {};
}

}  // namespace platform::ldap
