#include "platform/memory/faults.h"

#include <utility>

#include "platform/error.h"

namespace platform::memory {

void FaultPlan::Inject(Fault fault) {
  std::string operation = fault.operation;
  faults_[std::move(operation)] = std::move(fault);
}

void FaultPlan::Clear() {
  faults_.clear();
  calls_.clear();
}

void FaultPlan::Count(const std::string& operation) { calls_[operation] = 0; }

int FaultPlan::Calls(const std::string& operation) const {
  const auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
}

bool FaultPlan::HitPlanned(const std::string& operation) {
  if (!calls_.empty()) {
    if (const auto counted = calls_.find(operation); counted != calls_.end()) ++counted->second;
  }
  if (faults_.empty()) return false;
  const auto it = faults_.find(operation);
  if (it == faults_.end()) return false;
  Fault& fault = it->second;
  if (fault.skip > 0) {
    --fault.skip;
    return false;
  }
  if (fault.times == 0) return false;
  if (fault.times > 0) --fault.times;
  if (fault.no_object) return true;
  if (fault.description.empty()) throw PlatformError(fault.number);
  throw PlatformError(fault.number, fault.description);
}

}  // namespace platform::memory
