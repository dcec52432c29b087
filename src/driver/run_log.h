// The run log of module modTest: one line per event in Tarnwick.log beside
// the program, echoed to StdOut.
#ifndef TARNWICK_DRIVER_RUN_LOG_H_
#define TARNWICK_DRIVER_RUN_LOG_H_

#include <cstdint>
#include <ctime>
#include <string>

namespace modTest {

// Log levels.
inline constexpr int32_t kLevelError = 1;
inline constexpr int32_t kLevelWarning = 2;
inline constexpr int32_t kLevelInfo = 4;
inline constexpr int32_t kLevelDetail = 8;
inline constexpr int32_t kLevelTrace = 12;  // written nowhere

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

}  // namespace modTest

#endif  // TARNWICK_DRIVER_RUN_LOG_H_
