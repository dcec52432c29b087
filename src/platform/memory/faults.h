// Fault injection for the memory backend: tests tell one named operation to
// raise a given error, or to give no object, so that every failure path of
// the engine can be reached without a mock for each call.
//
// Operation names are "<Interface>.<Method>" as in the platform headers
// ("Session.Logon", "AddressEntry.Members", "Recordset.MoveNext",
// "Command.Execute", "DirectoryBinder.Bind", "DirectoryObject.Get") and
// "CreateObject:<class name>" for the factory. A fault can let the first
// `skip` calls pass and then hit `times` calls (-1: every later call).
#ifndef TARNWICK_PLATFORM_MEMORY_FAULTS_H_
#define TARNWICK_PLATFORM_MEMORY_FAULTS_H_

#include <cstdint>
#include <map>
#include <string>

namespace platform::memory {

struct Fault {
  int32_t number = 0;       // with no_object false: the error raised
  std::string description;  // "" takes the number's standard description
  bool no_object = false;   // the call gives no object (or an empty value) instead
  int skip = 0;
  int times = -1;
};

// A fault that raises the number (with its standard description).
inline Fault Raise(int32_t number, int skip = 0, int times = -1) {
  Fault fault;
  fault.number = number;
  fault.skip = skip;
  fault.times = times;
  return fault;
}
// A fault that makes the call give no object, or an empty value.
inline Fault NoObject(int skip = 0, int times = -1) {
  Fault fault;
  fault.no_object = true;
  fault.skip = skip;
  fault.times = times;
  return fault;
}

class FaultPlan {
 public:
  void Inject(const std::string& operation, Fault fault);
  void Clear();

  // Called by the backend at the start of each operation. Raises the
  // injected error when the fault hits; returns true when the call must give
  // no object; false when the call proceeds normally.
  bool Hit(const std::string& operation);

 private:
  std::map<std::string, Fault> faults_;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_FAULTS_H_
