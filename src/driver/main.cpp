// The tarnwick program: one run of the contact-list engine against the
// organisation named by the server switch.
//
// No exception leaves main: one that ends the run is logged and gives exit
// status 1 (driver::RunEngine), instead of std::terminate and a core dump
// with nothing in the log.
#include <exception>
#include <new>
#include <string>

#include "driver/modtest.h"
#include "driver/program.h"
#include "driver/switches.h"
#include "platform/runtime.h"

namespace {

int RunProgram(int argc, char** argv) {
  platform::Runtime runtime;
  driver::InstallProgramRuntime(runtime);
  platform::RuntimeScope scope(runtime);
  return driver::RunEngine(
      [&] {
        const std::string argument_text = modTest::JoinArguments(argc, argv);
        return modTest::Main(argument_text);
      },
      "tarnwick");
}

}  // namespace

int main(int argc, char** argv) {
  modTest::UseLocaleForTimeStampsOnly();
  return driver::GuardedMain("tarnwick", modTest::kExitFailure,
                             [&] { return RunProgram(argc, argv); });
}
