// Module modTest: the program's entry procedure and its exit statuses.
// Engine, directory and addressing code include driver/run_log.h and
// driver/value_helpers.h, never this header; it includes both only so that
// driver code keeps compiling unchanged.
#ifndef TARNWICK_DRIVER_MODTEST_H_
#define TARNWICK_DRIVER_MODTEST_H_

#include <exception>
#include <string>

#include "driver/run_log.h"
#include "driver/value_helpers.h"
#include "platform/process.h"

namespace modTest {

// Exit statuses of the program. The log reads the same whether or not a
// run was cut short ("complete" and the logoff come after a stop too), so
// the status is what tells a whole run from a partial one.
inline constexpr int kExitComplete = 0;   // "complete" logged, no stop signal before it
inline constexpr int kExitNoSession = 1;  // "MAPI.Session" gave an error or no object
inline constexpr int kExitFailure = 1;    // the run ended early on a fault (out of memory)
inline constexpr int kExitUsage = 2;      // no argument text, no server or no alias
// A stop signal that arrived before "complete": 128 + its number.
inline constexpr int kExitInterrupted = 130;  // SIGINT
inline constexpr int kExitTerminated = 143;   // SIGTERM

// Runs the program once on the argument text (the arguments after the
// program name joined by single blanks). Needs a runtime installed
// (platform::RuntimeScope). Returns the exit status: kExitUsage for an empty
// argument text (usage line on StdOut; the pending error, if any, on the
// error stream) and for a missing server or alias; kExitNoSession when
// "MAPI.Session" gives an error or no object; kExitComplete once "complete"
// was logged, also after a failed logon (the engine then logs its own
// failures); but when a stop signal had arrived by the time "complete" was
// logged (the process services' StopSignal, or StopRequested set without
// one), still "complete" and the logoff, then
// "tarnwick: stopped early by SIGINT; the run did not finish" on the error
// stream and 128 + the signal's number (kExitInterrupted without one). Sets
// ServerName and MailboxAlias, and releases StdOut, MAPISession and
// GALEntries before it returns or lets an exception through (the engine
// lets through whatever is not a PlatformError, std::bad_alloc in
// practice), so it can run again and the memory they hold is free.
int Main(const std::string& argument_text);

// Reports a run that an exception ended (the handler of the program's
// entry): one error line in the run log, "out of memory" for std::bad_alloc,
// else "internal error: " + what(); the same behind the program's name and
// ": " and followed by "; the run did not finish" on the error stream.
// Echoes to StdOut, or to standard output when no StdOut is set (after Main
// released it). Needs a runtime; never throws. Returns kExitFailure.
int ReportFailure(std::exception_ptr failure, const char* program = "tarnwick") noexcept;

// The status of a run that reached its end: 128 + the number of the stop
// signal that has arrived by now, kExitInterrupted for a stop requested
// without a signal (StopRequested set by a host), kExitComplete when there
// was none. `process` may be null.
int CompletedRunStatus(platform::ProcessServices* process);
// How the run was stopped, for "<program>: stopped early " + StopCause:
// "by SIGINT", "by SIGTERM", "by signal N", or "on request" without a signal.
std::string StopCause(platform::ProcessServices* process);

// Sets up the process's locale for the run: LC_TIME from the environment
// (LC_ALL, LC_TIME, LANG), since only the time stamp follows the user; every
// other category stays C, so that libldap's keyword matching ("include:"
// under tr_TR) and any other C-library text handling mean the same
// everywhere. A locale the environment names but the machine lacks leaves
// LC_TIME at C too.
void UseLocaleForTimeStampsOnly();

}  // namespace modTest

#endif  // TARNWICK_DRIVER_MODTEST_H_
