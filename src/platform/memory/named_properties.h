// The organisation's map from named properties to property identifiers.
//
// A named property is a (property set, name) pair, the name a text or a
// number. The first ask for a pair gives it the next free identifier from
// 0x8000 up; every later ask, from the profile loader, the session's field
// by name or the helper folder's look-up, gives the same one, so a message
// holds its named fields by tag and every reader finds them there.
//
// Property sets are GUID texts compared without regard to case. Text names
// are compared without regard to case too (the profile refuses two fields
// of a message that differ only in letter case, and the session's field by
// name has always ignored it); numbers compare by value, and a number never
// equals a text.
#ifndef TARNWICK_PLATFORM_MEMORY_NAMED_PROPERTIES_H_
#define TARNWICK_PLATFORM_MEMORY_NAMED_PROPERTIES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace platform::memory {

class NamedProperties {
 public:
  // The identifier of the pair, made on first ask; nullopt once every
  // identifier up to 0xFFFE is taken.
  std::optional<uint16_t> Id(std::string_view property_set, std::string_view name);
  std::optional<uint16_t> Id(std::string_view property_set, int32_t number);
  // The identifier of a pair asked for before; nullopt otherwise. Makes none.
  std::optional<uint16_t> Find(std::string_view property_set, std::string_view name) const;
  std::optional<uint16_t> Find(std::string_view property_set, int32_t number) const;

 private:
  std::optional<uint16_t> Take(std::string key);
  std::optional<uint16_t> Lookup(const std::string& key) const;

  std::unordered_map<std::string, uint16_t> ids_;
  uint32_t next_ = 0x8000;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_NAMED_PROPERTIES_H_
