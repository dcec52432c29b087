// Escaping a value for an LDAP filter item.
#ifndef TARNWICK_DIRECTORY_FILTER_VALUE_H_
#define TARNWICK_DIRECTORY_FILTER_VALUE_H_

#include <string>
#include <string_view>

namespace directory {

// The value with "*", "(", ")", "\" and NUL written as \XX, so that it
// matches itself only and cannot change the filter around it.
std::string EscapeFilterValue(std::string_view value);

}  // namespace directory

#endif  // TARNWICK_DIRECTORY_FILTER_VALUE_H_
