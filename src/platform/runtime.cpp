#include "platform/runtime.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
Runtime* g_current = nullptr;
}  // namespace

Runtime& CurrentRuntime() {
  if (g_current == nullptr) {
    std::fputs("tarnwick: no runtime installed\n", stderr);
    std::abort();
  }
  return *g_current;
}

std::shared_ptr<AutomationObject> CreateObject(std::string_view class_name) {
  return CurrentRuntime().factory.Create(class_name);
}

std::shared_ptr<DirectoryObject> GetObject(const std::string& path) {
  auto& directory = CurrentRuntime().directory;
  if (!directory) throw PlatformError(errnum::kServerNotOperational);
  return directory->Bind(path);
}

void DoEvents() {
  if (auto& process = CurrentRuntime().process) process->DoEvents();
}

RuntimeScope::RuntimeScope(Runtime& runtime) : previous_(g_current) { g_current = &runtime; }

RuntimeScope::~RuntimeScope() { g_current = previous_; }

}  // namespace platform
