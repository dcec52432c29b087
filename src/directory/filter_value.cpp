#include "directory/filter_value.h"

#include <ldap.h>

namespace directory {

std::string EscapeFilterValue(std::string_view value) {
  berval in{};
  in.bv_len = value.size();
  in.bv_val = const_cast<char*>(value.data());
  berval out{};
  if (ldap_bv2escaped_filter_value(&in, &out) == LDAP_SUCCESS) {
    std::string escaped(out.bv_val, out.bv_len);
    ber_memfree(out.bv_val);
    return escaped;
  }
  // libldap only fails when it cannot allocate; escape by hand then.
  std::string escaped;
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
      const auto byte = static_cast<unsigned char>(c);
      escaped += '\\';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace directory
