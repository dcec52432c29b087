#include "platform/memory/named_properties.h"

#include <utility>

#include "platform/text.h"

namespace platform::memory {
namespace {

constexpr uint32_t kLastId = 0xFFFE;

// One key per pair; the kind letter keeps the number 1 apart from the
// name "1".
std::string NameKey(std::string_view property_set, std::string_view name) {
  return text::LCase(property_set) + "|s" + text::LCase(name);
}

std::string NumberKey(std::string_view property_set, int32_t number) {
  return text::LCase(property_set) + "|n" + std::to_string(number);
}

}  // namespace

std::optional<uint16_t> NamedProperties::Id(std::string_view property_set, std::string_view name) {
  return Take(NameKey(property_set, name));
}

std::optional<uint16_t> NamedProperties::Id(std::string_view property_set, int32_t number) {
  return Take(NumberKey(property_set, number));
}

std::optional<uint16_t> NamedProperties::Find(std::string_view property_set,
                                              std::string_view name) const {
  return Lookup(NameKey(property_set, name));
}

std::optional<uint16_t> NamedProperties::Find(std::string_view property_set, int32_t number) const {
  return Lookup(NumberKey(property_set, number));
}

std::optional<uint16_t> NamedProperties::Take(std::string key) {
  if (auto id = Lookup(key)) return id;
  if (next_ > kLastId) return std::nullopt;
  const auto id = static_cast<uint16_t>(next_++);
  ids_.emplace(std::move(key), id);
  return id;
}

std::optional<uint16_t> NamedProperties::Lookup(const std::string& key) const {
  const auto it = ids_.find(key);
  if (it == ids_.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform::memory
