// The state of one logon of a memory session, shared by the session and
// every object it gives out, and the check each of their members starts
// with.
//
// An object holds the logon it came from. Logoff (or a new Logon of the
// same session) clears `active`; from then on the object's members raise
// MAPI_E_NOT_INITIALIZED, even after the session logs on again, because the
// new logon is a new state. The organisation stays alive as long as any
// object of the logon does, so pointers into it never dangle.
#ifndef TARNWICK_PLATFORM_MEMORY_LOGON_H_
#define TARNWICK_PLATFORM_MEMORY_LOGON_H_

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/memory/organisation.h"
#include "platform/messaging.h"

namespace platform::memory {

struct LogonState {
  std::shared_ptr<Organisation> organisation;
  StoreData* mailbox = nullptr;
  bool active = true;
};

// Raises MAPI_E_NOT_INITIALIZED when there is no logon or it has ended;
// then the fault check (FaultHit): true when the call must give no object
// (or an empty value).
template <OperationName kName>
bool Enter(const LogonState* logon) {
  if (logon == nullptr || !logon->active) throw PlatformError(errnum::kNotInitialized);
  return FaultHit<kName>(&logon->organisation->faults());
}

// The MAPIOBJECT of a memory session: a weak reference to its logon, so a
// helper object never keeps a logged-off organisation in use.
class MemoryMapiObject final : public MapiObject {
 public:
  explicit MemoryMapiObject(std::weak_ptr<LogonState> logon) : logon_(std::move(logon)) {}
  // The logon while it is active, else nullptr.
  std::shared_ptr<LogonState> Lock() const {
    auto logon = logon_.lock();
    return logon && logon->active ? logon : nullptr;
  }

 private:
  std::weak_ptr<LogonState> logon_;
};

// The logons of every session of one installed backend, so that the
// directory and the class factory can follow the most recent one.
class LogonRegistry {
 public:
  void Add(const std::shared_ptr<LogonState>& logon) {
    Prune();
    logons_.push_back(logon);
  }
  // The most recent logon that is still active, or nullptr.
  std::shared_ptr<LogonState> Current() {
    Prune();
    return logons_.empty() ? nullptr : logons_.back().lock();
  }

 private:
  void Prune() {
    std::erase_if(logons_, [](const std::weak_ptr<LogonState>& weak) {
      const auto logon = weak.lock();
      return !logon || !logon->active;
    });
  }
  std::vector<std::weak_ptr<LogonState>> logons_;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_LOGON_H_
