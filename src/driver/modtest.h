// Module modTest: the program's entry procedure, the run log, and three
// value helpers the engine shares.
#ifndef TARNWICK_DRIVER_MODTEST_H_
#define TARNWICK_DRIVER_MODTEST_H_

#include <cstdint>
#include <ctime>
#include <exception>
#include <string>

#include "platform/process.h"
#include "platform/variant.h"

namespace modTest {

// Log levels.
inline constexpr int32_t kLevelError = 1;
inline constexpr int32_t kLevelWarning = 2;
inline constexpr int32_t kLevelInfo = 4;
inline constexpr int32_t kLevelDetail = 8;
inline constexpr int32_t kLevelTrace = 12;  // written nowhere

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

// Appends "<time stamp><marker><message>" CR LF to Tarnwick.log in the
// program directory and echoes the bare message to StdOut. Level 12 writes
// nothing anywhere. Never fails towards its caller: a file that cannot be
// written loses the line, a missing or failing StdOut loses the echo, and
// each still leaves the other. The file is opened and closed per call. Needs
// a runtime installed (its process services give the directory and clock).
void WriteLog(const std::string& message, int32_t level);

// The time stamp of a log line: the locale's short date, a blank, the
// locale's long time (LC_TIME); under the C or POSIX locale the US English
// form "12/31/2008 11:59:07 PM" (M/d/yyyy h:mm:ss AM|PM). At exactly
// midnight the date alone. Other locales give strftime of their D_FMT and
// T_FMT (nl_langinfo), for example "31.12.2008 23:59:07" under de_DE; the C
// forms stand in when a locale defines no such format. "C.UTF-8" counts as
// C. The locale is that of the calling thread (uselocale), else the global.
std::string FormatTimestamp(const std::tm& local_time);

// Removes whole occurrences of the delimiter at the end, then at the start;
// changes `text` and returns it. An empty delimiter leaves the text unchanged.
std::string TrimDelimiter(std::string& text, const std::string& delimiter);
// True for a value that holds an array with readable bounds (also length 0).
bool IsValidArray(const platform::Variant& value);
// Uppercase hexadecimal of each element, at least two digits each (an
// element above 255 with all the digits it needs, a negative one as its
// 32-bit two's complement); "" for anything that is not a valid array, and
// for an array holding an element that is not a number, since a partial
// identifier would name another object.
std::string BytesToHex(const platform::Variant& value);

}  // namespace modTest

#endif  // TARNWICK_DRIVER_MODTEST_H_
