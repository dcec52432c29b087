#include "platform/text.h"

#include <cstdint>
#include <cstring>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace text {

std::string TrimLeft(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first));
}

std::string TrimRight(std::string_view s) {
  const auto last = s.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

bool IsAsciiText(std::string_view s) {
  uint64_t seen = 0;
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, s.data() + i, sizeof word);
    seen |= word;
  }
  for (; i < s.size(); ++i) seen |= static_cast<unsigned char>(s[i]);
  return (seen & 0x8080808080808080ULL) == 0;
}

std::string LCase(std::string_view s) {
  // Nearly every text is ASCII: copied whole and lowered in place, in a
  // loop the compiler can widen, where a character at a time through
  // push_back cost a check per byte.
  if (IsAsciiText(s)) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(c + (static_cast<unsigned char>(c - 'A') < 26) * 32);
    return out;
  }
  std::string out;
  out.reserve(s.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
  const auto length = static_cast<int32_t>(s.size());
  int32_t i = 0;
  while (i < length) {
    if (bytes[i] < 0x80) {
      const char c = static_cast<char>(bytes[i++]);
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
      continue;
    }
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) {  // not valid UTF-8: keep the bytes untouched
      out.append(s.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
      continue;
    }
    const UChar32 lower = u_tolower(c);
    char buffer[U8_MAX_LENGTH];
    int32_t n = 0;
    U8_APPEND_UNSAFE(reinterpret_cast<uint8_t*>(buffer), n, lower);
    out.append(buffer, static_cast<size_t>(n));
  }
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  // Two ASCII texts are equal under LCase exactly when they are equal with
  // ASCII letters folded; a text beyond ASCII may lower-case into ASCII
  // (KELVIN SIGN to "k"), so it takes the long way.
  if (IsAsciiText(a) && IsAsciiText(b)) return AsciiEqualsNoCase(a, b);
  return LCase(a) == LCase(b);
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  // When the prefix and as many leading bytes of s are ASCII, lower-casing
  // maps them byte for byte, so they can be compared in place; anything
  // else pays for the Unicode lower-casing of both.
  const std::string_view head = s.substr(0, prefix.size());
  if (IsAsciiText(prefix) && IsAsciiText(head)) {
    return head.size() == prefix.size() && AsciiEqualsNoCase(head, prefix);
  }
  return StartsWith(LCase(s), LCase(prefix));
}

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  // ASCII texts fold byte for byte, so they are searched in place.
  if (IsAsciiText(haystack) && IsAsciiText(needle)) {
    if (needle.size() > haystack.size()) return false;
    for (size_t at = 0; at + needle.size() <= haystack.size(); ++at) {
      if (AsciiEqualsNoCase(haystack.substr(at, needle.size()), needle)) return true;
    }
    return false;
  }
  return LCase(haystack).find(LCase(needle)) != std::string::npos;
}

std::vector<std::string> Split(std::string_view s, std::string_view delimiter) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    const auto at = s.find(delimiter, start);
    if (at == std::string_view::npos || delimiter.empty()) {
      pieces.emplace_back(s.substr(start));
      return pieces;
    }
    pieces.emplace_back(s.substr(start, at - start));
    start = at + delimiter.size();
  }
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t start = 0;
  while (true) {
    const auto at = s.find(from, start);
    if (at == std::string_view::npos) break;
    out.append(s.substr(start, at - start));
    out.append(to);
    start = at + from.size();
  }
  out.append(s.substr(start));
  return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool Contains(std::string_view s, std::string_view needle) {
  return s.find(needle) != std::string_view::npos;
}

std::string HexOfBytes(std::string_view bytes) {
  // Written into place: a query-based list makes an entry identifier of
  // every member, and a check per pushed character was most of it.
  std::string out(bytes.size() * 2, '\0');
  char* to = out.data();
  for (const char c : bytes) to = PutHexDigits(c, to);
  return out;
}

}  // namespace text
