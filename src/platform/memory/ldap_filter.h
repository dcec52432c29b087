// LDAP search filters: parsing, evaluation against an object's attributes,
// and rendering in strict RFC 4515 form.
//
// Accepted dialect: RFC 4515 (and, or, not, equality, presence, substrings,
// >=, <=, ~=, extensible match with a matching rule, \XX escapes) plus what
// the directory this system was built against accepts: redundant
// parentheses around a filter ("((mail=x))"), a NOT without inner
// parentheses ("(!cn=x)"), case-insensitive matching of text values,
// "objectCategory=person" matching the category whose first RDN value is
// that name, and the bitwise rules 1.2.840.113556.1.4.803 (AND) and .804
// (OR) on 64-bit decimal values. An unknown matching rule is Undefined: the
// item matches nothing (and its negation matches nothing either).
#ifndef TARNWICK_PLATFORM_MEMORY_LDAP_FILTER_H_
#define TARNWICK_PLATFORM_MEMORY_LDAP_FILTER_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ldapfilter {

// What a filter is evaluated against: one directory object.
class AttributeSource {
 public:
  virtual ~AttributeSource() = default;
  // The values of the attribute (name compared without regard to case), or
  // nullptr when the object has none.
  virtual const std::vector<std::string>* Values(std::string_view attribute) const = 0;
};

class Filter {
 public:
  virtual ~Filter() = default;
  // True only when the filter evaluates to TRUE (FALSE and Undefined give false).
  virtual bool Matches(const AttributeSource& object) const = 0;
  // The filter in strict RFC 4515 form: one pair of parentheses around every
  // item, NOT always with inner parentheses, values escaped.
  virtual std::string ToRfc4515() const = 0;
};

// Parses a filter. Raises PlatformError 0x80040E14 with a description that
// names the position and the fault when the text is not a filter.
std::unique_ptr<Filter> Parse(std::string_view text);

// Escapes a value for use inside a filter item, as RFC 4515 requires
// ("*", "(", ")", "\" and NUL become \XX).
std::string EscapeValue(std::string_view value);

}  // namespace platform::ldapfilter

#endif  // TARNWICK_PLATFORM_MEMORY_LDAP_FILTER_H_
