// One directory object as a backend hands it out: what filters, the
// directory commands and the address book read of it.
#ifndef TARNWICK_PLATFORM_DIR_RECORD_H_
#define TARNWICK_PLATFORM_DIR_RECORD_H_

#include <string_view>

#include "platform/ldap_filter.h"

namespace platform {

// Values() follows ldapfilter::AttributeSource: attribute names compare
// without regard to case, an absent attribute gives no values. Every object
// has a DN and a name, so "distinguishedName" falls back to the DN and
// "name" to the RDN value when the object has no such attribute. Views stay
// valid as long as the record.
class DirRecord : public ldapfilter::AttributeSource {
 public:
  // The DN as the directory writes it; this is what output reports.
  virtual std::string_view Dn() const = 0;
  // DnKey(Dn()) (platform/dn.h): what DN look-ups and scopes compare.
  virtual std::string_view DnKey() const = 0;
  // The value of the first RDN, escapes undone.
  virtual std::string_view RdnValue() const = 0;

  // The first value of the attribute, "" when absent.
  std::string_view First(std::string_view attribute) const {
    const auto values = Values(attribute);
    return values.empty() ? std::string_view() : values.front();
  }
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_DIR_RECORD_H_
