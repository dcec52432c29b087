// The untyped value of the automation world: field and row values, table
// columns, helper arguments. Everything else in the code is typed.
#ifndef TARNWICK_PLATFORM_VARIANT_H_
#define TARNWICK_PLATFORM_VARIANT_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class Variant;

// An array of variants with a lower bound. An array that was declared but
// never sized has no readable bounds (`sized` false); one of length 0 made by
// splitting an empty text has bounds 0 to -1 and is sized.
struct VariantArray {
  std::vector<Variant> items;
  int32_t lower_bound = 0;
  bool sized = true;
};

// A point in local time, as the platform's date type holds it.
struct Date {
  double serial = 0;  // days since 1899-12-30, fraction is the time of day
};

class Variant {
 public:
  struct Empty {};
  struct Null {};

  Variant() = default;
  Variant(Null) : value_(Null{}) {}
  Variant(int16_t v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(Date v) : value_(v) {}
  Variant(VariantArray v) : value_(std::make_shared<VariantArray>(std::move(v))) {}

  // An array of texts, lower bound 0.
  static Variant TextArray(const std::vector<std::string>& texts);
  static Variant TextArray(std::span<const std::string_view> texts);

  bool IsEmpty() const { return std::holds_alternative<Empty>(value_); }
  bool IsNull() const { return std::holds_alternative<Null>(value_); }
  bool IsText() const { return std::holds_alternative<std::string>(value_); }
  bool IsArray() const { return std::holds_alternative<std::shared_ptr<VariantArray>>(value_); }
  bool IsInteger() const {
    return std::holds_alternative<int16_t>(value_) || std::holds_alternative<int32_t>(value_);
  }
  bool IsBool() const { return std::holds_alternative<bool>(value_); }
  // The two integer widths told apart, for callers that accept only one.
  bool IsInt16() const { return std::holds_alternative<int16_t>(value_); }
  bool IsInt32() const { return std::holds_alternative<int32_t>(value_); }
  bool IsDate() const { return std::holds_alternative<Date>(value_); }

  // The array, or nullptr when the value holds none.
  const VariantArray* Array() const;
  // The text the value holds, or nullptr when it holds none (a number is
  // not converted): a look without a copy.
  const std::string* Text() const { return std::get_if<std::string>(&value_); }

  // Conversion as the platform's text conversion does it: empty gives "",
  // numbers their decimal form, Booleans "True"/"False". Raises 94 for null
  // and 13 for an array.
  std::string ToText() const&;
  // The same for a value about to go: a text is handed over, not copied.
  std::string ToText() &&;
  // Raises 13 when the value is not a number or a text holding one; empty is 0.
  int32_t ToInt32() const;
  // Raises 13 when the value cannot be taken as Boolean; empty is false.
  bool ToBool() const;
  // Raises 13 when the value is not a date.
  Date ToDate() const;

 private:
  std::variant<Empty, Null, int16_t, int32_t, bool, std::string, Date,
               std::shared_ptr<VariantArray>>
      value_;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_VARIANT_H_
