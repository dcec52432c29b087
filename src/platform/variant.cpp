#include "platform/variant.h"

#include <charconv>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

Variant Variant::TextArray(const std::vector<std::string>& texts) {
  VariantArray array;
  array.items.reserve(texts.size());
  for (const auto& text : texts) array.items.emplace_back(text);
  return Variant(std::move(array));
}

Variant Variant::TextArray(std::span<const std::string_view> texts) {
  VariantArray array;
  array.items.reserve(texts.size());
  for (const std::string_view text : texts) array.items.emplace_back(std::string(text));
  return Variant(std::move(array));
}

const VariantArray* Variant::Array() const {
  if (const auto* p = std::get_if<std::shared_ptr<VariantArray>>(&value_)) return p->get();
  return nullptr;
}

std::string Variant::ToText() && {
  if (auto* text = std::get_if<std::string>(&value_)) return std::move(*text);
  return static_cast<const Variant&>(*this).ToText();
}

std::string Variant::ToText() const& {
  struct Visitor {
    std::string operator()(Empty) const { return {}; }
    std::string operator()(Null) const { throw PlatformError(errnum::kInvalidUseOfNull); }
    std::string operator()(int16_t v) const { return std::to_string(v); }
    std::string operator()(int32_t v) const { return std::to_string(v); }
    std::string operator()(bool v) const { return v ? "True" : "False"; }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(Date v) const { return std::to_string(v.serial); }
    std::string operator()(const std::shared_ptr<VariantArray>&) const {
      throw PlatformError(errnum::kTypeMismatch);
    }
  };
  return std::visit(Visitor{}, value_);
}

int32_t Variant::ToInt32() const {
  if (IsEmpty()) return 0;
  if (const auto* v = std::get_if<int16_t>(&value_)) return *v;
  if (const auto* v = std::get_if<int32_t>(&value_)) return *v;
  if (const auto* v = std::get_if<bool>(&value_)) return *v ? -1 : 0;
  if (const auto* v = std::get_if<std::string>(&value_)) {
    const std::string t = text::Trim(*v);
    int32_t out = 0;
    const auto* end = t.data() + t.size();
    auto [ptr, ec] = std::from_chars(t.data(), end, out);
    if (!t.empty() && ec == std::errc() && ptr == end) return out;
  }
  throw PlatformError(errnum::kTypeMismatch);
}

bool Variant::ToBool() const {
  if (IsEmpty()) return false;
  if (const auto* v = std::get_if<bool>(&value_)) return *v;
  if (IsInteger()) return ToInt32() != 0;
  if (const auto* v = std::get_if<std::string>(&value_)) {
    if (text::EqualsNoCase(*v, "true")) return true;
    if (text::EqualsNoCase(*v, "false")) return false;
    return ToInt32() != 0;
  }
  throw PlatformError(errnum::kTypeMismatch);
}

Date Variant::ToDate() const {
  if (const auto* v = std::get_if<Date>(&value_)) return *v;
  throw PlatformError(errnum::kTypeMismatch);
}

}  // namespace platform
