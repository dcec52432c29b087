// TrimDelimiter, IsValidArray and BytesToHex of module modTest.
#include "driver/value_helpers.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/error.h"
#include "platform/text.h"

namespace modTest {

std::string TrimDelimiter(std::string& text, const std::string& delimiter) {
  // An empty delimiter would match at both ends forever.
  if (delimiter.empty()) return text;
  size_t end = text.size();
  while (end >= delimiter.size() &&
         text.compare(end - delimiter.size(), delimiter.size(), delimiter) == 0) {
    end -= delimiter.size();
  }
  size_t begin = 0;
  while (end - begin >= delimiter.size() && text.compare(begin, delimiter.size(), delimiter) == 0) {
    begin += delimiter.size();
  }
  text = text.substr(begin, end - begin);
  return text;
}

bool IsValidArray(const platform::Variant& value) {
  const platform::VariantArray* array = value.Array();
  return array != nullptr && array->sized;
}

std::string BytesToHex(const platform::Variant& value) {
  if (!IsValidArray(value)) return {};
  const platform::VariantArray& array = *value.Array();
  std::string hex;
  hex.reserve(array.items.size() * 2);
  char digits[9];
  for (const platform::Variant& item : array.items) {
    int32_t number = 0;
    try {
      number = item.ToInt32();
    } catch (const platform::PlatformError&) {
      // Skipping the element would silently shift every later byte of an
      // identifier; no text at all is the one result a caller can detect.
      return {};
    }
    // A negative element prints as its 32-bit two's complement, as the
    // platform's hexadecimal conversion of a long integer does.
    std::snprintf(digits, sizeof digits, "%02X", static_cast<uint32_t>(number));
    hex += digits;
  }
  return hex;
}

std::string HexNumber(int32_t number) {
  char buffer[9];
  std::snprintf(buffer, sizeof buffer, "%X", static_cast<uint32_t>(number));
  return buffer;
}

}  // namespace modTest
