// A directory object read from a server, as the shared platform code reads
// objects (platform/dir_record.h). It owns its values.
//
// The server is never asked for "name" (on OpenLDAP it is a supertype of
// cn, sn and others, so asking would return them all): "name" is the RDN
// value, as it is for an object without a name attribute in an LDIF file.
// "distinguishedName", which OpenLDAP lacks, falls back to the DN.
#ifndef TARNWICK_PLATFORM_LDAP_LDAP_RECORD_H_
#define TARNWICK_PLATFORM_LDAP_LDAP_RECORD_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dir_record.h"
#include "platform/ldap/ldap_client.h"

namespace platform::ldap {

class LdapRecord final : public DirRecord {
 public:
  // `dn` is what Dn() reports: the server's DN for a search result, the
  // path's DN for an object bound by path. The attributes as the client
  // read them.
  LdapRecord(std::string dn, std::vector<Attribute> attributes);
  // The same from an entry as it lies in a reply (Client::SearchViews):
  // its names and values are copied once, into the record.
  explicit LdapRecord(const EntryView& entry);
  LdapRecord(const LdapRecord&) = delete;
  LdapRecord& operator=(const LdapRecord&) = delete;

  std::span<const std::string_view> Values(std::string_view attribute) const override;
  std::string_view Dn() const override { return dn_; }
  std::string_view DnKey() const override { return dn_key_; }
  std::string_view RdnValue() const override { return rdn_value_; }

 private:
  // One attribute: its name and its values, as views into text_, and
  // where its value views start in views_. A record costs a few blocks,
  // not one per value: a run keeps every entry it meets.
  struct Held {
    std::string_view name;
    uint32_t first = 0;
    uint32_t count = 0;
  };
  // Copies the entry into text_ and makes the views; once, from a
  // constructor.
  void Fill(const EntryView& entry);

  std::string text_;  // the DN, its key and RDN value, names and values
  std::string_view dn_;
  std::string_view dn_key_;
  std::string_view rdn_value_;
  std::string_view dn_view_[1];
  std::string_view rdn_view_[1];
  std::vector<std::string_view> views_;
  std::vector<Held> attributes_;
};

}  // namespace platform::ldap

#endif  // TARNWICK_PLATFORM_LDAP_LDAP_RECORD_H_
