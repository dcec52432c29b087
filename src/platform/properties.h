// Property tags, types and property sets of the messaging model, shared by
// both backends and by the engine's helper-table readers.
//
// A property tag is a 32-bit integer: the property identifier in the high
// 16 bits, the property type in the low 16. Identifiers from 0x8000 up are
// named properties: their identifier is given out per run by a named-
// property map for a (property set, name or number) pair.
#ifndef TARNWICK_PLATFORM_PROPERTIES_H_
#define TARNWICK_PLATFORM_PROPERTIES_H_

#include <cstdint>

namespace platform {

namespace prop_type {
inline constexpr uint16_t kUnspecified = 0x0000;  // a tag that names no type
inline constexpr uint16_t kNull = 0x0001;
inline constexpr uint16_t kLong = 0x0003;  // 32-bit integer
inline constexpr uint16_t kBoolean = 0x000B;
inline constexpr uint16_t kString8 = 0x001E;  // text (30)
inline constexpr uint16_t kUnicode = 0x001F;  // text too
inline constexpr uint16_t kBinary = 0x0102;   // bytes (258)
inline constexpr uint16_t kMultiString8 = 0x101E;
}  // namespace prop_type

inline constexpr uint16_t PropId(uint32_t tag) { return static_cast<uint16_t>(tag >> 16); }
inline constexpr uint16_t PropType(uint32_t tag) { return static_cast<uint16_t>(tag & 0xFFFF); }
inline constexpr uint32_t PropTag(uint16_t id, uint16_t type) {
  return (static_cast<uint32_t>(id) << 16) | type;
}

// Identifiers of the message properties that the model names.
namespace prop_id {
inline constexpr uint16_t kMessageClass = 0x001A;       // PR_MESSAGE_CLASS
inline constexpr uint16_t kSubject = 0x0037;            // PR_SUBJECT
inline constexpr uint16_t kConversationTopic = 0x0070;  // PR_CONVERSATION_TOPIC
inline constexpr uint16_t kFirstNamed = 0x8000;
}  // namespace prop_id

// Property sets, as the texts that the helper library takes.
inline constexpr char kPsPublicStrings[] = "{00020329-0000-0000-C000-000000000046}";
inline constexpr char kPsetidAddress[] = "{00062004-0000-0000-C000-000000000046}";

// Numeric names in the address property set of a contact's e-mail slots 1
// to 3: the address (text) and the original entry identifier (binary).
inline constexpr int32_t kEmailAddressLids[3] = {0x8083, 0x8093, 0x80A3};
inline constexpr int32_t kEmailEntryIdLids[3] = {0x8085, 0x8095, 0x80A5};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_PROPERTIES_H_
