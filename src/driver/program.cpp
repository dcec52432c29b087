#include "driver/program.h"

#include <unistd.h>

#include <cstring>
#include <exception>
#include <functional>
#include <new>

#include "driver/globals.h"
#include "driver/large_stack.h"
#include "driver/modtest.h"
#include "platform/backend_router.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace driver {

void InstallProgramRuntime(platform::Runtime& runtime) {
  runtime.process = platform::NewPosixProcessServices();
  platform::ProcessServices* const process = runtime.process.get();
  platform::InstallBackends(runtime, [process] { return process->StopPending(); });
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

namespace {

// Writes the pieces to the error stream without allocating.
void WriteRaw(const char* name, const char* what) {
  for (const char* piece : {name, what}) {
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, piece, std::strlen(piece));
  }
}

}  // namespace

int GuardedMain(const char* name, int failure_status, const std::function<int()>& program) {
  try {
    return program();
  } catch (const std::bad_alloc&) {
    WriteRaw(name, ": out of memory before the run could start\n");
  } catch (...) {
    WriteRaw(name, ": internal error before the run could start\n");
  }
  return failure_status;
}

}  // namespace driver
