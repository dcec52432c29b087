// The one error type of the platform layer, and the numbers it carries.
//
// Every failing platform call throws PlatformError. Numbers are the 32-bit
// signed values the platform components use, so log lines read as they would
// on a live system (0x8004010F prints as -2147221233).
#ifndef TARNWICK_PLATFORM_ERROR_H_
#define TARNWICK_PLATFORM_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

namespace platform {

namespace errnum {
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kClassNotRegistered = 429;
inline constexpr int32_t kKeyAlreadyPresent = 457;
inline constexpr int32_t kItemNotFound = 3265;
inline constexpr int32_t kOperationNotAllowedClosed = 3704;
inline constexpr int32_t kNotFound = static_cast<int32_t>(0x8004010F);
inline constexpr int32_t kLogonFailed = static_cast<int32_t>(0x80040111);
inline constexpr int32_t kNotInitialized = static_cast<int32_t>(0x80040605);
inline constexpr int32_t kAmbiguousRecip = static_cast<int32_t>(0x80040700);
inline constexpr int32_t kServerNotOperational = static_cast<int32_t>(0x8007203A);
inline constexpr int32_t kNoSuchObject = static_cast<int32_t>(0x80072030);
inline constexpr int32_t kPropertyNotFound = static_cast<int32_t>(0x8000500D);
inline constexpr int32_t kBadCommand = static_cast<int32_t>(0x80040E14);
inline constexpr int32_t kNoCurrentRecord = 3021;
}  // namespace errnum

// The platform's own description for a number it raises; "" when it has none.
std::string StandardDescription(int32_t number);

class PlatformError : public std::runtime_error {
 public:
  // Uses the standard description of the number.
  explicit PlatformError(int32_t number);
  PlatformError(int32_t number, std::string description);

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_ERROR_H_
