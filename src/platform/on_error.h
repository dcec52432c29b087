// Continue-on-error execution for engine procedures.
//
// Each procedure owns one OnError. A statement run through Run() that raises a
// PlatformError has no effect: its result is the empty value of its type and
// the failure stays pending until the procedure tests or clears it. Only the
// first failure is kept, so the description a procedure logs names the call
// that broke, not the calls that then failed on its empty result. Nothing
// escapes: a procedure never raises to its caller, and what a callee
// swallowed is never seen by the caller's OnError.
#ifndef TARNWICK_PLATFORM_ON_ERROR_H_
#define TARNWICK_PLATFORM_ON_ERROR_H_

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "platform/error.h"

namespace platform {

class OnError {
 public:
  template <class F>
  auto Run(F&& f) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    try {
      if constexpr (std::is_void_v<R>) {
        std::forward<F>(f)();
      } else {
        return std::forward<F>(f)();
      }
    } catch (const PlatformError& e) {
      Raise(e.number(), e.description());
    }
    if constexpr (!std::is_void_v<R>) return R{};
  }

  // Makes a failure pending as if a call had raised it.
  void Raise(int32_t number, const std::string& description) {
    if (pending_) return;
    pending_ = true;
    number_ = number;
    description_ = description;
  }

  bool Pending() const { return pending_; }
  // 0 and "" when nothing is pending.
  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }
  void Clear() {
    pending_ = false;
    number_ = 0;
    description_.clear();
  }

 private:
  bool pending_ = false;
  int32_t number_ = 0;
  std::string description_;
};

// The object behind a reference; raises 91 when there is none, as a member
// call on a variable holding nothing does.
template <class Pointer>
auto& Obj(const Pointer& p) {
  if (!p) throw PlatformError(errnum::kObjectNotSet);
  return *p;
}

}  // namespace platform

#endif  // TARNWICK_PLATFORM_ON_ERROR_H_
