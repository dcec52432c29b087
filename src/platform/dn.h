// Distinguished names: parsing, the normalised form in which two spellings
// of one DN compare equal, and the tree relation between DNs.
//
// DNs are read and written with libldap in its LDAPv3 (RFC 4514) syntax.
// Two DNs are the same when they have the same RDNs in the same order and
// each RDN has the same set of attribute-value assertions, where
//   - attribute types compare without regard to ASCII case ("CN" is "cn");
//     a type given as a numeric OID is not mapped to its name, so
//     "2.5.4.3=x" and "CN=x" differ;
//   - values compare after their escapes are undone ("\2C" and "\," are
//     both a comma) and the unescaped blanks around them dropped, without
//     regard to case (the Unicode simple case mapping of platform/text.h);
//     an escaped blank ("\20") belongs to the value;
//   - a value written as "#" + hexadecimal (BER) compares by those bytes,
//     with letter case kept, and never equals a string value;
//   - the order of the assertions inside a multi-valued RDN ("cn=a+uid=b")
//     does not matter.
// Everything that keys or relates DNs goes through this file, so that the
// DN index, member resolution, filters and search scopes agree.
#ifndef TARNWICK_PLATFORM_DN_H_
#define TARNWICK_PLATFORM_DN_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One attribute-value assertion of an RDN, as written apart from escapes:
// the type in its own letter case, the value with its escapes undone and
// the unescaped blanks around it dropped.
struct DnAva {
  std::string type;
  std::string value;
  bool binary = false;  // written "#" + hexadecimal: `value` holds those bytes
};
using DnRdn = std::vector<DnAva>;

// The RDNs of a DN, the object's own RDN first. The empty text is the empty
// DN (no RDNs). std::nullopt when the text is not a DN: not in the LDAPv3
// syntax, holding a raw NUL, or with a string value that is not UTF-8.
std::optional<std::vector<DnRdn>> ParseDn(std::string_view dn);

// The normalised form of a DN: one text for all spellings of the same DN
// (see above), so two DNs are the same exactly when their forms are equal.
// It is itself a DN, with lower-case types, case-folded values and
// libldap's escapes; every raw "," in it separates RDNs and every raw "+"
// assertions. "" for the empty DN; std::nullopt when the text is not a DN.
std::optional<std::string> NormaliseDn(std::string_view dn);

// The key a DN is indexed and compared under: NormaliseDn, or for a text
// that is not a DN the text lower-cased, so that such a text still equals
// its spellings in other letter case. Never fails.
std::string DnKey(std::string_view dn);

// True when the DN is written as its normalised form would be, apart from
// ASCII letter case: RDNs of one "descriptor=value" each, no blanks around
// "," or "=", no escapes, only printable ASCII in values. Such a DN is
// valid, its key is its text ASCII-lower-cased, and its RDN values are
// the texts between "=" and ",".
bool IsPlainDn(std::string_view dn);

// Whether DnKey(dn) == key; for a plainly written DN it compares in place,
// without building the key (filters ask this for every object).
bool DnMatchesKey(std::string_view dn, std::string_view key);

// How many RDNs the DN with key `key` lies below the DN with key
// `base_key`: 0 for the same DN, 1 for a child, and so on; std::nullopt when
// it is not in that subtree. The empty key is the top of the tree, above
// every DN. Both keys must come from DnKey.
std::optional<size_t> DnLevelsBelow(std::string_view key, std::string_view base_key);

// The value of the first RDN as it is written, escapes kept and the
// unescaped blanks around it dropped ("Lima\, Ana" for
// "CN=Lima\, Ana,OU=Staff"); the whole text when it holds no "=". A scan
// of the escapes and separators only, cheaper than a full parse, for
// callers that ask it of every object (objectCategory short names).
std::string_view FirstRdnRawValue(std::string_view dn);

// A DN value with its \XX and \c escapes undone.
std::string UnescapeDnValue(std::string_view raw);

// The value of the first RDN with its escapes undone ("Ana Lima" for
// "CN=Ana Lima,OU=Staff,DC=harbor,DC=example"); "" when the DN has no "=".
std::string FirstRdnValue(std::string_view dn);

}  // namespace platform

#endif  // TARNWICK_PLATFORM_DN_H_
