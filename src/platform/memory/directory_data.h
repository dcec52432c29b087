// The directory of a memory organisation: the objects of its LDIF file in
// file order, with indexes on what look-ups use, so that no look-up scans
// every object: the DN in its normalised form (platform/dn.h: blanks,
// escapes and letter case do not matter), and mail, legacyExchangeDN and
// SMTP proxies without regard to case. Immutable once loaded.
#ifndef TARNWICK_PLATFORM_MEMORY_DIRECTORY_DATA_H_
#define TARNWICK_PLATFORM_MEMORY_DIRECTORY_DATA_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/memory/ldap_filter.h"

namespace platform::memory {

struct DirEntry final : public ldapfilter::AttributeSource {
  std::string dn;  // as written in the file; this is what output reports
  // DnKey(dn), set by DirectoryData::Add: what the DN index and the search
  // scopes compare.
  std::string dn_key;
  size_t line = 0;  // line of the LDIF file where the record starts
  // Attribute names as written, values in file order; one slot per name.
  std::vector<std::pair<std::string, std::vector<std::string>>> attributes;

  // Values of an attribute, name compared without regard to case; nullptr
  // when absent. Every object has a DN and a name, so when the object has
  // no such attribute "distinguishedName" falls back to the DN and "name"
  // to the RDN value (once the entry has been through DirectoryData::Add).
  const std::vector<std::string>* Values(std::string_view attribute) const override;
  // The first value, "" when absent.
  std::string First(std::string_view attribute) const;
  // The value of the first RDN ("Ana Lima" for "CN=Ana Lima,OU=...").
  const std::string& RdnValue() const { return rdn_value; }

  std::string rdn_value;
  std::vector<std::string> rdn_value_list;  // rdn_value as a one-element list
  std::vector<std::string> dn_list;         // dn as a one-element list
};

class DirectoryData {
 public:
  // Adds an object in file order, setting its derived fields (dn_key, the
  // RDN value, the fallback lists). Returns false (and adds nothing) when an
  // object with the same DN is present: the same once both are normalised,
  // so "CN=a, DC=x" duplicates "cn=A,DC=x". A DN that does not parse is
  // keyed by its lower-cased text.
  bool Add(DirEntry entry);

  const std::vector<DirEntry>& Entries() const { return entries_; }
  // The object with that DN in any spelling of it (blanks, escapes, letter
  // case); nullptr when there is none.
  const DirEntry* ByDN(std::string_view dn) const;
  // Look-ups without regard to case; nullptr or empty when nothing matches.
  const DirEntry* ByLegacyDN(std::string_view odn) const;
  // Objects whose mail or SMTP proxy ("smtp:" prefix in any case) is the
  // address, in file order, without duplicates.
  std::vector<const DirEntry*> ByAddress(std::string_view address) const;
  // Objects whose mail attribute is the address, in file order.
  std::vector<const DirEntry*> ByMail(std::string_view address) const;

 private:
  std::vector<DirEntry> entries_;
  std::unordered_map<std::string, size_t> by_dn_;  // dn_key -> position
  std::unordered_map<std::string, size_t> by_legacy_dn_;
  std::unordered_map<std::string, std::vector<size_t>> by_mail_;
  std::unordered_map<std::string, std::vector<size_t>> by_proxy_;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_DIRECTORY_DATA_H_
