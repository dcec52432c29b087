#include "driver/program.h"

#include <exception>
#include <functional>

#include "driver/globals.h"
#include "driver/large_stack.h"
#include "driver/modtest.h"
#include "platform/memory/memory_backend.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace driver {

void InstallProgramRuntime(platform::Runtime& runtime) {
  runtime.process = platform::NewPosixProcessServices();
  platform::ProcessServices* const process = runtime.process.get();
  platform::memory::Install(
      runtime, platform::memory::ProfileFileSource([process] { return process->StopPending(); }));
  runtime.process->OnStopRequest([] { basGlobals::StopRequested = true; });
}

int RunEngine(const std::function<int()>& body, const char* program) {
  int status = modTest::kExitComplete;
  try {
    RunWithLargeStack([&] { status = body(); }, StackBytesForThisProcess());
  } catch (...) {
    status = modTest::ReportFailure(std::current_exception(), program);
  }
  return status;
}

}  // namespace driver
