// The runtime services that procedures reach without an object in hand:
// creating objects by class name, binding directory objects by path, and the
// process services. They stand in for what the original platform's language
// runtime gives every procedure, and are installed once per process (or per
// test) through RuntimeScope.
#ifndef TARNWICK_PLATFORM_RUNTIME_H_
#define TARNWICK_PLATFORM_RUNTIME_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/directory.h"
#include "platform/object.h"
#include "platform/process.h"

namespace platform {

struct Runtime {
  ObjectFactory factory;
  std::shared_ptr<DirectoryBinder> directory;  // nullptr: every bind fails
  std::shared_ptr<ProcessServices> process;
};

// The runtime installed by the innermost RuntimeScope. Calling it with none
// installed is a programming error and aborts.
Runtime& CurrentRuntime();

// Creates an object by class name through the current runtime's factory.
std::shared_ptr<AutomationObject> CreateObject(std::string_view class_name);
template <class T>
std::shared_ptr<T> CreateObjectAs(std::string_view class_name) {
  return CurrentRuntime().factory.CreateAs<T>(class_name);
}
// Binds a directory object; raises 0x8007203A without a directory.
std::shared_ptr<DirectoryObject> GetObject(const std::string& path);

// Lets the process serve pending events (a stop request among them); does
// nothing without process services.
void DoEvents();

// Installs a runtime for its lifetime and restores the previous one after.
class RuntimeScope {
 public:
  explicit RuntimeScope(Runtime& runtime);
  ~RuntimeScope();
  RuntimeScope(const RuntimeScope&) = delete;
  RuntimeScope& operator=(const RuntimeScope&) = delete;

 private:
  Runtime* previous_;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_RUNTIME_H_
