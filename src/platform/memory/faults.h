// Fault injection for the memory backend: tests tell one named operation to
// raise a given error, or to give no object, so that every failure path of
// the engine can be reached without a mock for each call.
//
// Operation names are "<Interface>.<Method>" as in the platform headers
// ("Session.Logon", "AddressEntry.Members", "Recordset.MoveNext",
// "Command.Execute", "DirectoryBinder.Bind", "DirectoryObject.Get") and
// "CreateObject:<class name>" for the factory.
//
// A fault is written with its fields named, so that a reader never has to
// guess what a bare number means:
//
//   faults.Inject(Raise("Command.Execute", errnum::kBadCommand).Skip(1).Times(1));
//   faults.Inject(NoObject("Recordset.State"));  // every call, from the first
#ifndef TARNWICK_PLATFORM_MEMORY_FAULTS_H_
#define TARNWICK_PLATFORM_MEMORY_FAULTS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

namespace platform::memory {

// One injected fault. Built through Raise or NoObject, then narrowed with
// Skip and Times, which name what a bare number would not.
struct Fault {
  std::string operation;
  int skip = 0;             // calls that pass before the fault hits
  int times = -1;           // calls that then fail; -1: every later call
  bool no_object = false;   // the call gives no object (or an empty value)
  int32_t number = 0;       // with no_object false: the error raised
  std::string description;  // "" takes the number's standard description

  Fault Skip(int calls) && {
    skip = calls;
    return std::move(*this);
  }
  Fault Times(int calls) && {
    times = calls;
    return std::move(*this);
  }
};

// A fault that raises `number` on every call, with the number's standard
// description unless one is given.
inline Fault Raise(std::string operation, int32_t number, std::string description = "") {
  Fault fault;
  fault.operation = std::move(operation);
  fault.number = number;
  fault.description = std::move(description);
  return fault;
}
// A fault that makes every call give no object, or an empty value.
inline Fault NoObject(std::string operation) {
  Fault fault;
  fault.operation = std::move(operation);
  fault.no_object = true;
  return fault;
}

class FaultPlan {
 public:
  // Replaces any fault of the same operation.
  void Inject(Fault fault);
  // Removes every fault and every call count.
  void Clear();

  // Starts counting the calls of an operation (from 0), so that a test can
  // show how often an operation walked the stores or opened a folder.
  // Counting costs nothing for operations that are not counted.
  void Count(const std::string& operation);
  // Calls of a counted operation since Count, the faulted ones included; 0
  // for an operation that is not counted.
  int Calls(const std::string& operation) const;

  // Consulted through FaultHit only. Raises the injected error when the
  // fault hits; true when the call must give no object; false when the call
  // proceeds normally. A plan with nothing injected and nothing counted
  // (every run but a test's) answers inline: the walk asks several times
  // per object.
  bool Hit(const std::string& operation) {
    return (!faults_.empty() || !calls_.empty()) && HitPlanned(operation);
  }

 private:
  bool HitPlanned(const std::string& operation);

  std::map<std::string, Fault> faults_;
  std::map<std::string, int> calls_;
};

// An operation name fixed at compile time, so that the fault check builds
// no string per call.
template <size_t N>
struct OperationName {
  char text[N];
  constexpr OperationName(const char (&name)[N]) { std::copy_n(name, N, text); }  // NOLINT
};

template <OperationName kName>
const std::string& OperationText() {
  static const std::string text(kName.text);
  return text;
}

// The one fault check of the backend: every operation that can be made to
// fail starts with it (after the checks that make the call meaningless,
// such as an ended logon). No plan (no organisation behind the call) never
// faults. Raises the injected error; true when the call must give no object
// or an empty value.
template <OperationName kName>
bool FaultHit(FaultPlan* plan) {
  return plan != nullptr && plan->Hit(OperationText<kName>());
}

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_FAULTS_H_
