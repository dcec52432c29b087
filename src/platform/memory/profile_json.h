// Reading the profile's JSON text strictly.
//
// nlohmann's ready-made parser keeps the last of two equal keys and throws
// an exception without a position for a number that overflows a double;
// a profile is hand-written configuration, where a repeated key is a slip
// that must not pass silently and every fault must name its line. This
// reader builds the same value through the library's event interface and
// reports both.
#ifndef TARNWICK_PLATFORM_MEMORY_PROFILE_JSON_H_
#define TARNWICK_PLATFORM_MEMORY_PROFILE_JSON_H_

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace platform::memory {

// Parses the text. Raises ProfileError:
//  - "<file>:<line>: <what>" for a syntax fault or a number out of the range
//    of a double ("number overflow parsing '1e400'");
//  - "<file>: duplicate key '<path>'" for a key given twice in one object,
//    <path> being the key's path ("mailboxes[0].alias").
// Nesting depth is bounded by memory only: the value is built without
// recursion.
nlohmann::json ParseProfileJson(std::string_view text, const std::string& file);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_PROFILE_JSON_H_
