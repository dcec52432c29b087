// What both programs (tarnwick and tarnwick-host) do around the engine: the
// runtime they run it in, the large-stack run with its last handler, and
// the line they write when even that could not start.
#ifndef TARNWICK_DRIVER_PROGRAM_H_
#define TARNWICK_DRIVER_PROGRAM_H_

#include <functional>

#include "platform/runtime.h"

namespace driver {

// Fills `runtime` with the POSIX process services and the memory backend,
// whose profile loads are abandoned once a stop signal arrives (the logon
// then fails and the engine leaves at its first checkpoint), and makes a
// served stop request set basGlobals::StopRequested. The caller installs it
// with platform::RuntimeScope.
void InstallProgramRuntime(platform::Runtime& runtime);

// Runs `body` on a stack sized for this process before the run (the stack is
// address space the heap cannot have under a limit) and returns its status.
// An exception that leaves `body` (std::bad_alloc, in practice: the
// engine's continue-on-error handling takes only platform errors) is
// reported by modTest::ReportFailure under the program's name and gives
// modTest::kExitFailure instead of std::terminate. Needs the runtime
// installed.
int RunEngine(const std::function<int()>& body, const char* program);

// The whole of a program's main after the locale is set: runs `program`
// and returns its status. What reaches this handler came before the runtime
// was set up or after it was gone, so there is no log to write to: one line
// "<name>: out of memory before the run could start" (or "internal error")
// goes to the error stream, written without allocating, and the status is
// `failure_status`.
int GuardedMain(const char* name, int failure_status, const std::function<int()>& program);

}  // namespace driver

#endif  // TARNWICK_DRIVER_PROGRAM_H_
