// The tarnwick program: one run of the contact-list engine against the
// organisation named by the server switch.
#include <clocale>
#include <memory>
#include <string>

#include "driver/globals.h"
#include "driver/large_stack.h"
#include "driver/modtest.h"
#include "driver/switches.h"
#include "platform/memory/memory_backend.h"
#include "platform/process.h"
#include "platform/runtime.h"

int main(int argc, char** argv) {
  // Time stamps follow the user's locale; a locale the environment names but
  // the machine lacks must not stop the run.
  if (std::setlocale(LC_ALL, "") == nullptr) std::setlocale(LC_ALL, "C");

  platform::Runtime runtime;
  runtime.process = platform::NewPosixProcessServices();
  platform::memory::Install(runtime, platform::memory::ProfileFileSource());
  platform::RuntimeScope scope(runtime);
  runtime.process->OnStopRequest([] { basGlobals::StopRequested = true; });

  const std::string argument_text = modTest::JoinArguments(argc, argv);
  int status = modTest::kExitComplete;
  driver::RunWithLargeStack([&] { status = modTest::Main(argument_text); });
  return status;
}
