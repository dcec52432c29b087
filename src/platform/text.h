// Text helpers shared by every layer. Texts are UTF-8 inside; letter case is
// handled with Unicode simple case mapping, so non-ASCII letters compare and
// lower-case correctly. A blank is the space character only.
#ifndef TARNWICK_PLATFORM_TEXT_H_
#define TARNWICK_PLATFORM_TEXT_H_

#include <concepts>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace text {

// Removes space characters (and nothing else) at both ends.
std::string Trim(std::string_view s);
// The same for a string the caller gives up: trimmed in place, so that the
// common text without blanks costs no copy. Only a std::string rvalue
// chooses it (a literal or a view still takes the overload above).
template <class S>
requires std::same_as<S, std::string> std::string Trim(S&& s) {
  const auto last = s.find_last_not_of(' ');
  if (last == std::string::npos) return {};
  s.erase(last + 1);
  s.erase(0, s.find_first_not_of(' '));
  return std::move(s);
}
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Unicode simple lower-casing; invalid UTF-8 bytes are kept as they are.
std::string LCase(std::string_view s);

// The bytes as upper-case hexadecimal text, two digits a byte.
std::string HexOfBytes(std::string_view bytes);
// Writes the byte's two upper-case hexadecimal digits at `to` and returns
// where they end: for a caller that builds hexadecimal text in place.
constexpr char* PutHexDigits(char byte, char* to) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  const auto b = static_cast<unsigned char>(byte);
  to[0] = kDigits[b >> 4];
  to[1] = kDigits[b & 0xF];
  return to + 2;
}
bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether every byte of the text is below 0x80 (looked at eight at a time).
bool IsAsciiText(std::string_view s);

// Equality that folds only the ASCII letters: for names that are ASCII by
// their grammar (LDAP attribute types, LDIF keywords), where it costs no
// copy. Inline: the loader asks it for every line and attribute, and most
// calls end at the lengths.
inline bool AsciiEqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = a[i];
    const char y = b[i];
    if (x == y) continue;
    // Different bytes are equal only as the two cases of one letter.
    if ((x ^ y) != 0x20) return false;
    const char lower = static_cast<char>(x | 0x20);
    if (lower < 'a' || lower > 'z') return false;
  }
  return true;
}
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool ContainsNoCase(std::string_view haystack, std::string_view needle);

// Splits at every exact occurrence of the delimiter, no limit on pieces; an
// empty text gives one empty piece. The delimiter must not be empty.
std::vector<std::string> Split(std::string_view s, std::string_view delimiter);
// Replaces every exact occurrence, scanning left to right without rescanning.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
bool StartsWith(std::string_view s, std::string_view prefix);
bool EndsWith(std::string_view s, std::string_view suffix);
bool Contains(std::string_view s, std::string_view needle);

}  // namespace text

#endif  // TARNWICK_PLATFORM_TEXT_H_
