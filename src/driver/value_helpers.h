// Value helpers of module modTest that the engine shares.
#ifndef TARNWICK_DRIVER_VALUE_HELPERS_H_
#define TARNWICK_DRIVER_VALUE_HELPERS_H_

#include <cstdint>
#include <string>

#include "platform/variant.h"

namespace modTest {

// Removes whole occurrences of the delimiter at the end, then at the start;
// changes `text` and returns it. An empty delimiter leaves the text unchanged.
std::string TrimDelimiter(std::string& text, const std::string& delimiter);
// True for a value that holds an array with readable bounds (also length 0).
bool IsValidArray(const platform::Variant& value);
// Uppercase hexadecimal of each element, at least two digits each (an
// element above 255 with all the digits it needs, a negative one as its
// 32-bit two's complement); "" for anything that is not a valid array, and
// for an array holding an element that is not a number, since a partial
// identifier would name another object.
std::string BytesToHex(const platform::Variant& value);
// A 32-bit number as the platform prints it after "&H": upper-case digits,
// no leading zeros, a negative number as its two's complement in eight
// digits (MAPI_E_NOT_FOUND reads 8004010F, a named property's tag 8084001E),
// so that logged numbers match the platform's documentation.
std::string HexNumber(int32_t number);

}  // namespace modTest

#endif  // TARNWICK_DRIVER_VALUE_HELPERS_H_
