// LDAP search filters: parsing, evaluation against an object's attributes,
// and rendering in strict RFC 4515 form.
//
// Accepted dialect: RFC 4515 (and, or, not, equality, presence, substrings,
// >=, <=, ~=, extensible match with a matching rule, \XX escapes), RFC 4526
// "(&)" (TRUE) and "(|)" (FALSE), plus what the directory this system was
// built against accepts:
//   - redundant parentheses around a filter: "((mail=x))", "(((a=b)))";
//   - a NOT without inner parentheses: "(!cn=x)";
//   - a single item without any parentheses: "cn=x" (as libldap takes it);
//   - blanks, tabs and line breaks between the parts of a composite filter.
//
// Matching:
//   - attribute names and text values compare without regard to case
//     (Unicode simple case mapping); ~= is case-insensitive equality;
//   - >= and <= compare as 64-bit integers when both sides are decimal
//     integers, else as lower-cased texts in code point order;
//   - equality (=, ~= and an extensible match without a rule) on an
//     attribute whose values are DNs (distinguishedName, objectCategory,
//     member, memberOf, manager, directReports) compares normalised DNs
//     (platform/dn.h), so blanks after commas, escapes ("\2C" or "\,") and
//     letter case do not matter; a value that is not a DN compares as text
//     without regard to case. Ordering and substrings compare the texts;
//   - objectCategory with an assertion value holding no "=" is a short
//     name: it matches a stored DN whose first RDN value equals it without
//     regard to case, or equals it once the hyphens of the RDN value are
//     dropped (the class's display name: "msExchDynamicDistributionList"
//     for "CN=ms-Exch-Dynamic-Distribution-List,..."); a value holding "="
//     is a DN and compares with the whole DN, as above;
//   - attr:1.2.840.113556.1.4.803:=N is TRUE for a value v when
//     (v & N) == N, attr:1.2.840.113556.1.4.804:=N when (v & N) != 0, with
//     v and N 64-bit decimal integers (negative ones in two's complement);
//     a stored value that is not such a number does not match. N itself
//     must be a decimal integer, else the filter does not parse;
//   - attr:=v and attr:dn:=v are case-insensitive equality (DN equality on
//     the attributes above); ":dn" also takes as values of attr the values
//     of the RDN components of type attr in the object's DN, its
//     distinguishedName, with their escapes undone: "(ou:dn:=People)"
//     matches every object whose DN has an OU=People RDN. This holds for
//     the bitwise rules too;
//   - any other matching rule, and an extensible item without an
//     attribute, are Undefined. Evaluation is three-valued (RFC 4511): NOT
//     of Undefined is Undefined, AND is FALSE when one part is FALSE, OR
//     TRUE when one part is TRUE, Undefined otherwise when one part is.
//   - an attribute the object lacks makes its items FALSE, so
//     "(!(attr=x))" matches objects without attr.
//
// Escapes are \XX with two hexadecimal digits only; the RFC 1960 form "\*"
// is refused, as are unescaped "(", "*" (outside = and substrings) and NUL
// inside values. A filter that does not parse is never treated as matching
// everything: Parse() raises.
#ifndef TARNWICK_PLATFORM_LDAP_FILTER_H_
#define TARNWICK_PLATFORM_LDAP_FILTER_H_

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ldapfilter {

// What a filter is evaluated against: one directory object.
class AttributeSource {
 public:
  virtual ~AttributeSource() = default;
  // The values of the attribute (name compared without regard to case);
  // empty when the object has none. Views into storage the object owns, so
  // an object may keep its values in any layout (the directory keeps them
  // in one arena). A directory object gives its DN as "distinguishedName"
  // (":dn" matches read it there).
  virtual std::span<const std::string_view> Values(std::string_view attribute) const = 0;
};

// An equality the filter requires of every object it matches: it is TRUE
// only for objects holding a value of `attribute` (as written in the
// filter) equal to `value` without regard to case (text::LCase on both
// sides). A caller with an index on the attribute may then test only the
// objects the index gives for the value. Views into the filter.
struct RequiredEquality {
  std::string_view attribute;
  std::string_view value;
};

// A parsed filter. Immutable, so one filter may be evaluated against many
// objects (and from several threads) without further cost than the match.
class Filter {
 public:
  virtual ~Filter() = default;
  // True only when the filter evaluates to TRUE (FALSE and Undefined give false).
  // The names it asks the object for (its own texts, or constants) stay at
  // their addresses as long as the filter: a source may remember what it
  // found for a name by the name's address, for one filter.
  virtual bool Matches(const AttributeSource& object) const = 0;
  // The filter in strict RFC 4515 form: one pair of parentheses around every
  // item, NOT always with inner parentheses, values escaped as EscapeValue
  // does. Parsing the result gives a filter that matches the same objects.
  virtual std::string ToRfc4515() const = 0;
  // The text equalities (= and ~=) that the whole filter requires: the
  // filter itself when it is one, the terms of an AND (and of an AND inside
  // it). DN-valued attributes and objectCategory short names compare as
  // DNs, not as text, and are left out.
  virtual std::vector<RequiredEquality> RequiredEqualities() const = 0;
};

// Parses a filter. Raises PlatformError 0x80040E14 with a description that
// names the 1-based position and the fault when the text is not a filter
// (empty text, unbalanced parentheses, "()", missing "=", bad escape, text
// after the filter, ...).
std::unique_ptr<Filter> Parse(std::string_view text);

// Escapes a value for use inside a filter item: "*", "(", ")", "\", NUL,
// other control characters and every byte from 0x7F up become \XX
// (upper-case hexadecimal), as libldap does it.
std::string EscapeValue(std::string_view value);

}  // namespace platform::ldapfilter

#endif  // TARNWICK_PLATFORM_LDAP_FILTER_H_
