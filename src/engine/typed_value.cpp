// GetTypedVal: a row value taken as the kind its column should hold. Row
// values come from tables and fields that any writer may have filled with
// another type; each kind has a neutral value so that such a value reads as
// absent rather than stopping the row.
#include <cstdint>
#include <string>

#include "driver/modtest.h"
#include "engine/kvl.h"
#include "platform/text.h"
#include "platform/variant.h"

platform::Variant KVL::GetTypedVal(const platform::Variant& value, const int32_t& kind) {
  // None of the conversions below can raise: each is guarded by its type test.
  switch (kind) {
    case kTypedText:
      return value.IsText() ? text::Trim(value.ToText()) : std::string();
    case kTypedInt16:
      return value.IsInt16() ? value : platform::Variant(int16_t{0});
    case kTypedDate:
      return value.IsDate() ? value : platform::Variant(platform::Date{});
    case kTypedBinary:
      return value.IsArray() ? modTest::BytesToHex(value) : std::string();
    case kTypedInt32:
      return value.IsInt32() ? value : platform::Variant(int16_t{0});
    case kTypedBool:
      return value.IsBool() ? value : platform::Variant(false);
    default:
      return {};
  }
}
