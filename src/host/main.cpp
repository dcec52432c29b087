// The tarnwick-host program: one engine operation for a person or a script
// (host/host.h). The command line is parsed before anything else, so a
// usage error or --help never starts the engine or writes a log.
#include <exception>
#include <iostream>
#include <new>

#include "driver/modtest.h"
#include "driver/program.h"
#include "host/host.h"
#include "platform/runtime.h"

namespace {

int RunProgram(int argc, char** argv) {
  int status = 0;
  const host::Invocation invocation =
      host::ParseCommandLine(argc, argv, std::cout, std::cerr, status);
  std::cout.flush();
  if (!invocation.operation) return status;

  platform::Runtime runtime;
  driver::InstallProgramRuntime(runtime);
  platform::RuntimeScope scope(runtime);
  return driver::RunEngine([&] { return host::Run(invocation); }, host::kProgram);
}

}  // namespace

int main(int argc, char** argv) {
  modTest::UseLocaleForTimeStampsOnly();
  return driver::GuardedMain(host::kProgram, host::kExitNoResult,
                             [&] { return RunProgram(argc, argv); });
}
