#include "platform/dn.h"

#include <ldap.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <tuple>
#include <utility>

#include "platform/text.h"

namespace platform {
namespace {

struct DnFree {
  void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using DnHolder = std::unique_ptr<LDAPRDN, DnFree>;

struct MemFree {
  void operator()(char* p) const { ldap_memfree(p); }
};

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || (c >= '0' && c <= '9'); }

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// A value character that libldap takes unescaped and writes back as it is:
// printable ASCII apart from the specials of RFC 4514 and "=" (which
// ldap_dn2str escapes).
// The bytes a plain value may hold: printable ASCII but for the specials
// that ldap_dn2str would escape.
constexpr std::array<bool, 256> kPlainValueChars = [] {
  std::array<bool, 256> table{};
  for (int byte = 0x20; byte <= 0x7E; ++byte) table[static_cast<size_t>(byte)] = true;
  for (const char c : std::string_view("\"+,;<=>\\")) table[static_cast<unsigned char>(c)] = false;
  return table;
}();

bool IsPlainValueChar(char c) { return kPlainValueChars[static_cast<unsigned char>(c)]; }

// True when the DN is written as its normalised form would be, apart from
// ASCII letter case: RDNs of one "descriptor=value" each, no blanks around
// "," or "=", no escapes, and nothing that ldap_dn2str would escape. Nearly
// every DN of a real directory is written so, and for those the key is the
// text ASCII-lower-cased, without the cost of a parse and a rewrite (the
// DN index is built from every object of the directory). The tests hold
// this path to the parsing one.
bool IsPlain(std::string_view dn) {
  size_t i = 0;
  while (true) {
    if (i >= dn.size() || !IsAsciiAlpha(dn[i])) return false;
    while (i < dn.size() && (IsAsciiAlnum(dn[i]) || dn[i] == '-')) ++i;
    if (i >= dn.size() || dn[i] != '=') return false;
    const size_t value_start = ++i;
    while (i < dn.size() && dn[i] != ',') {
      if (!IsPlainValueChar(dn[i])) return false;
      ++i;
    }
    if (i == value_start || dn[value_start] == ' ' || dn[value_start] == '#' || dn[i - 1] == ' ') {
      return false;
    }
    if (i == dn.size()) return true;
    ++i;  // the ","
  }
}

bool IsUtf8(std::string_view s) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
  const auto length = static_cast<int32_t>(s.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return false;
  }
  return true;
}

// The form the key takes for a parsed DN: lower-case types, folded string
// values, the assertions of each RDN in one order.
std::vector<DnRdn> Fold(std::vector<DnRdn> rdns) {
  for (DnRdn& rdn : rdns) {
    for (DnAva& ava : rdn) {
      ava.type = AsciiLower(ava.type);  // descriptors and OIDs are ASCII
      if (!ava.binary) ava.value = text::LCase(ava.value);
    }
    std::sort(rdn.begin(), rdn.end(), [](const DnAva& a, const DnAva& b) {
      return std::tie(a.type, a.binary, a.value) < std::tie(b.type, b.binary, b.value);
    });
  }
  return rdns;
}

// Writes parsed RDNs back with ldap_dn2str; std::nullopt when libldap
// refuses a value (one that is not UTF-8).
std::optional<std::string> Write(std::vector<DnRdn>& rdns) {
  if (rdns.empty()) return std::string();
  size_t count = 0;
  for (const DnRdn& rdn : rdns) count += rdn.size();
  // libldap's picture of the DN, pointing into `rdns`: filled completely
  // before any pointer into a vector is taken, so none moves afterwards.
  std::vector<LDAPAVA> avas(count);
  std::vector<LDAPAVA*> slots;
  slots.reserve(count + rdns.size());
  size_t next = 0;
  for (DnRdn& rdn : rdns) {
    for (DnAva& ava : rdn) {
      LDAPAVA& out = avas[next++];
      out.la_attr.bv_val = ava.type.data();
      out.la_attr.bv_len = static_cast<ber_len_t>(ava.type.size());
      out.la_value.bv_val = ava.value.data();
      out.la_value.bv_len = static_cast<ber_len_t>(ava.value.size());
      out.la_flags = ava.binary ? LDAP_AVA_BINARY : LDAP_AVA_STRING;
      out.la_private = nullptr;
      slots.push_back(&out);
    }
    slots.push_back(nullptr);
  }
  std::vector<LDAPRDN> dn;
  dn.reserve(rdns.size() + 1);
  size_t start = 0;
  for (const DnRdn& rdn : rdns) {
    dn.push_back(&slots[start]);
    start += rdn.size() + 1;
  }
  dn.push_back(nullptr);

  char* written = nullptr;
  const int rc = ldap_dn2str(dn.data(), &written, LDAP_DN_FORMAT_LDAPV3);
  const std::unique_ptr<char, MemFree> owner(written);
  if (rc != LDAP_SUCCESS || written == nullptr) return std::nullopt;
  return std::string(written);
}

// Whether the "," at `at` separates RDNs. In a normalised key every raw
// comma does; in the lower-cased text of something that is not a DN, one
// behind an odd run of backslashes is taken as escaped.
bool IsSeparator(std::string_view key, size_t at) {
  size_t backslashes = 0;
  while (at > backslashes && key[at - backslashes - 1] == '\\') ++backslashes;
  return backslashes % 2 == 0;
}

size_t CountRdns(std::string_view key) {
  if (key.empty()) return 0;
  size_t count = 1;
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == ',' && IsSeparator(key, i)) ++count;
  }
  return count;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimValueBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  // A blank escaped as "\ " belongs to the value.
  while (!s.empty() && s.back() == ' ' && !(s.size() >= 2 && s[s.size() - 2] == '\\')) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

std::optional<std::vector<DnRdn>> ParseDn(std::string_view dn) {
  // A raw NUL cannot be in a DN text (an escaped one, "\00", can).
  if (dn.find('\0') != std::string_view::npos) return std::nullopt;
  std::string copy(dn);  // libldap takes a non-const buffer
  berval text{static_cast<ber_len_t>(copy.size()), copy.data()};
  LDAPDN parsed = nullptr;
  const int rc = ldap_bv2dn(&text, &parsed, LDAP_DN_FORMAT_LDAPV3);
  const DnHolder owner(parsed);
  if (rc != LDAP_SUCCESS) return std::nullopt;
  std::vector<DnRdn> rdns;
  for (size_t i = 0; parsed != nullptr && parsed[i] != nullptr; ++i) {
    DnRdn& rdn = rdns.emplace_back();
    for (size_t j = 0; parsed[i][j] != nullptr; ++j) {
      const LDAPAVA& ava = *parsed[i][j];
      DnAva& out = rdn.emplace_back(DnAva{std::string(ava.la_attr.bv_val, ava.la_attr.bv_len),
                                          std::string(ava.la_value.bv_val, ava.la_value.bv_len),
                                          (ava.la_flags & LDAP_AVA_BINARY) != 0});
      // A string value is UTF-8 text; libldap reads escaped bytes ("\FF")
      // without checking, but would refuse to write them back.
      if (!out.binary && !IsUtf8(out.value)) return std::nullopt;
    }
  }
  return rdns;
}

std::optional<std::string> NormaliseDn(std::string_view dn) {
  if (IsPlain(dn)) return AsciiLower(dn);
  auto rdns = ParseDn(dn);
  if (!rdns) return std::nullopt;
  std::vector<DnRdn> folded = Fold(std::move(*rdns));
  return Write(folded);
}

bool IsPlainDn(std::string_view dn) { return IsPlain(dn); }

std::string DnKey(std::string_view dn) {
  if (auto normalised = NormaliseDn(dn)) return std::move(*normalised);
  return text::LCase(dn);
}

bool DnMatchesKey(std::string_view dn, std::string_view key) {
  if (!IsPlain(dn)) return DnKey(dn) == key;
  if (dn.size() != key.size()) return false;
  for (size_t i = 0; i < dn.size(); ++i) {
    const char c = dn[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != key[i]) return false;
  }
  return true;
}

std::optional<size_t> DnLevelsBelow(std::string_view key, std::string_view base_key) {
  if (base_key.empty()) return CountRdns(key);
  if (key.size() < base_key.size() || key.substr(key.size() - base_key.size()) != base_key) {
    return std::nullopt;
  }
  if (key.size() == base_key.size()) return 0;
  const size_t separator = key.size() - base_key.size() - 1;
  if (key[separator] != ',' || !IsSeparator(key, separator)) return std::nullopt;
  return CountRdns(key.substr(0, separator));
}

std::string UnescapeDnValue(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 >= raw.size()) {
      out.push_back(raw[i]);
      continue;
    }
    const int high = HexDigit(raw[i + 1]);
    const int low = i + 2 < raw.size() ? HexDigit(raw[i + 2]) : -1;
    if (high >= 0 && low >= 0) {
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(raw[++i]);
    }
  }
  return out;
}

std::string_view FirstRdnRawValue(std::string_view dn) {
  // AVAs end at an unescaped "," or "+"; a piece without "=" is passed over.
  size_t start = 0;
  for (size_t i = 0; i <= dn.size(); ++i) {
    if (i < dn.size() && dn[i] == '\\') {
      ++i;
      continue;
    }
    if (i < dn.size() && dn[i] != ',' && dn[i] != '+') continue;
    const std::string_view ava = dn.substr(start, i - start);
    start = i + 1;
    const size_t equals = ava.find('=');
    if (equals != std::string_view::npos) return TrimValueBlanks(ava.substr(equals + 1));
  }
  return dn;
}

std::string FirstRdnValue(std::string_view dn) {
  if (dn.find('=') == std::string_view::npos) return {};
  return UnescapeDnValue(FirstRdnRawValue(dn));
}

}  // namespace platform
