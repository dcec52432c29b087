#include "platform/memory/faults.h"

#include <utility>

#include "platform/error.h"

namespace platform::memory {

void FaultPlan::Inject(Fault fault) {
  std::string operation = fault.operation;
  faults_[std::move(operation)] = std::move(fault);
}

void FaultPlan::Clear() { faults_.clear(); }

bool FaultPlan::Hit(const std::string& operation) {
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
