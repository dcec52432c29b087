#include "platform/messaging.h"

#include <optional>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

std::optional<std::string> AddressEntry::FirstTextWithPrefix(int32_t property_tag,
                                                             std::string_view prefix) {
  const Variant value = Field(property_tag);
  const VariantArray* array = value.Array();
  if (array == nullptr || !array->sized) return std::nullopt;
  for (const Variant& element : array->items) {
    // A text is looked at where it is; anything else goes through the
    // conversion, and one that does not convert is passed over.
    std::string converted;
    const std::string* text = element.Text();
    if (text == nullptr) {
      try {
        converted = element.ToText();
      } catch (const PlatformError&) {
        continue;
      }
      text = &converted;
    }
    if (std::string_view(*text).starts_with(prefix)) return text->substr(prefix.size());
  }
  return std::nullopt;
}

}  // namespace platform
