// Sub Main of module modTest; the run log is in run_log.cpp.
#include "driver/modtest.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "driver/globals.h"
#include "driver/switches.h"
#include "engine/kvl.h"
#include "platform/error.h"
#include "platform/messaging.h"
#include "platform/on_error.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace modTest {
namespace {

// What a write to a console stream that cannot take it raises on the
// original platform; it is what the usage case reports on the error stream.
constexpr int32_t kDeviceIoError = 57;

constexpr std::string_view kUsage =
    "missing parameters: you must supply /s <servername> /a <mailbox alias> /l <list smtp "
    "address>";

// Writes one line to StdOut; raises 91 without a stream, 57 when the stream
// refuses the line.
void WriteOut(const std::string& line) {
  if (!platform::Obj(basGlobals::StdOut).WriteLine(line)) {
    throw platform::PlatformError(kDeviceIoError, "Device I/O error");
  }
}

// Runs a step of WriteLog whose failure must neither reach the caller nor
// stop the later steps.
template <class F>
void Ignoring(F&& step) {
  try {
    std::forward<F>(step)();
  } catch (const std::exception&) {
  }
}

// Steps 2 to 11; the caller does step 1 and the releases of step 12.
int Run(const std::string& argument_text, platform::OnError& on_error,
        const std::shared_ptr<platform::ProcessServices>& process) {
  if (argument_text.empty()) {
    on_error.Run([] { WriteOut(std::string(kUsage)); });
    if (on_error.Pending()) {
      const std::string box = std::to_string(on_error.Number()) + " " + on_error.Description();
      on_error.Run([&] { platform::Obj(process).ReportError(box); });
    }
    return kExitUsage;
  }

  const Switches switches = ParseSwitches(argument_text);
  basGlobals::ServerName = switches.server;
  basGlobals::MailboxAlias = switches.alias;
  if (basGlobals::ServerName.empty()) {
    WriteLog("missing Server Name", kLevelError);
    return kExitUsage;
  }
  if (basGlobals::MailboxAlias.empty()) {
    WriteLog("missing Alias", kLevelError);
    return kExitUsage;
  }

  on_error.Clear();
  basGlobals::MAPISession =
      on_error.Run([] { return platform::CreateObjectAs<platform::Session>("MAPI.Session"); });
  if (on_error.Pending() || !basGlobals::MAPISession) {
    WriteLog("error instantiating MAPI session " + on_error.Description(), kLevelError);
    return kExitNoSession;
  }

  // A failed logon is not tested here: the engine's own calls then fail and
  // log what they could not do.
  on_error.Run([] {
    basGlobals::MAPISession->Logon(basGlobals::ServerName + "\n" + basGlobals::MailboxAlias);
  });
  on_error.Run([] {
    WriteOut("logging on using " + basGlobals::ServerName + "\\" + basGlobals::MailboxAlias);
  });
  // Member lists met inside query-based lists are looked up in the address
  // book by name; without this collection every such list would be lost.
  // It stays null after a failed logon.
  basGlobals::GALEntries =
      on_error.Run([] { return basGlobals::MAPISession->GlobalAddressEntries(); });

  {
    // The KVL object must be gone (its destruction runs and logs) before
    // "complete" is written.
    std::unique_ptr<KVL> kvl = on_error.Run([] { return std::make_unique<KVL>(); });
    on_error.Run([&] { platform::Obj(kvl).ParseSourceMCL(switches.list); });
  }

  // A stop that arrived by now cut the run short, or would have at the next
  // checkpoint; one that arrives after "complete" finds the run whole and
  // changes nothing. Read before the line, so that the two cannot disagree.
  const int status = CompletedRunStatus(process.get());
  WriteLog("complete", kLevelInfo);
  on_error.Run([] { basGlobals::MAPISession->Logoff(); });
  if (status != kExitComplete) {
    const std::string line =
        "tarnwick: stopped early " + StopCause(process.get()) + "; the run did not finish";
    on_error.Run([&] { platform::Obj(process).ReportError(line); });
  }
  return status;
}

}  // namespace

int CompletedRunStatus(platform::ProcessServices* process) {
  const int signal = process != nullptr ? process->StopSignal() : 0;
  if (signal != 0) return 128 + signal;
  if (basGlobals::StopRequested || (process != nullptr && process->StopPending())) {
    return kExitInterrupted;
  }
  return kExitComplete;
}

std::string StopCause(platform::ProcessServices* process) {
  const int signal = process != nullptr ? process->StopSignal() : 0;
  switch (signal) {
    case 0:
      return "on request";
    case SIGINT:
      return "by SIGINT";
    case SIGTERM:
      return "by SIGTERM";
    default:
      return "by signal " + std::to_string(signal);
  }
}

int Main(const std::string& argument_text) {
  const basGlobals::SessionRelease release;

  platform::OnError on_error;
  const std::shared_ptr<platform::ProcessServices> process = platform::CurrentRuntime().process;
  basGlobals::StdOut = on_error.Run([&] { return platform::Obj(process).StandardOutput(); });
  return Run(argument_text, on_error, process);
}

int ReportFailure(std::exception_ptr failure, const char* program) noexcept {
  try {
    std::string what = "internal error";
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
      what = "out of memory";
    } catch (const std::exception& e) {
      what += ": ";
      what += e.what();
    } catch (...) {
    }
    const std::shared_ptr<platform::ProcessServices> process = platform::CurrentRuntime().process;
    const bool borrowed_stdout = !basGlobals::StdOut && process;
    if (borrowed_stdout) {
      Ignoring([&] { basGlobals::StdOut = process->StandardOutput(); });
    }
    WriteLog(what, kLevelError);
    if (borrowed_stdout) basGlobals::StdOut.reset();
    if (process)
      process->ReportError(std::string(program) + ": " + what + "; the run did not finish");
  } catch (...) {
    // Nothing is left to report with; the status still tells.
  }
  return kExitFailure;
}

void UseLocaleForTimeStampsOnly() {
  std::setlocale(LC_ALL, "C");
  // nullptr for a locale the machine lacks: LC_TIME then stays C.
  std::setlocale(LC_TIME, "");
}

}  // namespace modTest
