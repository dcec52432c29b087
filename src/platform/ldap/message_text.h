// Text of values quoted in error lines.
#ifndef TARNWICK_PLATFORM_LDAP_MESSAGE_TEXT_H_
#define TARNWICK_PLATFORM_LDAP_MESSAGE_TEXT_H_

#include <cstdio>
#include <string>
#include <string_view>

namespace platform::ldap {

// `text` with control characters written as \xNN, so that a value quoted in
// an error line cannot break the line or hide a part of it.
inline std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace platform::ldap

#endif  // TARNWICK_PLATFORM_LDAP_MESSAGE_TEXT_H_
