// The tarnwick program: one run of the contact-list engine against the
// organisation named by the server switch.
//
// No exception leaves main: one that ends the run (std::bad_alloc, in
// practice: the engine's continue-on-error handling takes only platform
// errors) is logged and gives exit status 1, instead of std::terminate and
// a core dump with nothing in the log.
#include <unistd.h>

#include <cstddef>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "driver/globals.h"
#include "driver/large_stack.h"
#include "driver/modtest.h"
#include "driver/switches.h"
#include "platform/memory/memory_backend.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace {

int RunProgram(int argc, char** argv) {
  platform::Runtime runtime;
  runtime.process = platform::NewPosixProcessServices();
  // A stop while a large directory loads abandons the load; the logon then
  // fails and the engine leaves at its first checkpoint.
  platform::ProcessServices* const process = runtime.process.get();
  platform::memory::Install(
      runtime, platform::memory::ProfileFileSource([process] { return process->StopPending(); }));
  platform::RuntimeScope scope(runtime);
  runtime.process->OnStopRequest([] { basGlobals::StopRequested = true; });

  int status = modTest::kExitComplete;
  try {
    const std::string argument_text = modTest::JoinArguments(argc, argv);
    // Sized before the run: the stack is address space the heap cannot
    // have under an address-space limit.
    driver::RunWithLargeStack([&] { status = modTest::Main(argument_text); },
                              driver::StackBytesForThisProcess());
  } catch (...) {
    status = modTest::ReportFailure(std::current_exception());
  }
  return status;
}

// Writes a fixed line to the error stream without allocating.
template <std::size_t N>
void WriteError(const char (&line)[N]) {
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line, N - 1);
}

}  // namespace

int main(int argc, char** argv) {
  modTest::UseLocaleForTimeStampsOnly();
  // What reaches these handlers came before the runtime was set up, or
  // after it was gone, so there is no log to write to.
  try {
    return RunProgram(argc, argv);
  } catch (const std::bad_alloc&) {
    WriteError("tarnwick: out of memory before the run could start\n");
  } catch (...) {
    WriteError("tarnwick: internal error before the run could start\n");
  }
  return modTest::kExitFailure;
}
