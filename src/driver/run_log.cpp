// The run log of module modTest.
#include "driver/run_log.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "driver/globals.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace modTest {
namespace {

// Runs a step of WriteLog whose failure must neither reach the caller nor
// stop the later steps.
template <class F>
void Ignoring(F&& step) {
  try {
    std::forward<F>(step)();
  } catch (const std::exception&) {
  }
}

bool IsCLocale(const char* name) {
  const std::string_view n = name == nullptr ? std::string_view("C") : std::string_view(name);
  return n == "C" || n == "POSIX" || n.substr(0, 2) == "C.";
}

// The platform's general date form under a US English locale:
// M/d/yyyy h:mm:ss AM|PM.
std::string UsTimestamp(const std::tm& t, bool with_time) {
  char buffer[64];
  int length = 0;
  if (with_time) {
    const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
    length =
        std::snprintf(buffer, sizeof buffer, "%d/%d/%d %d:%02d:%02d %s", t.tm_mon + 1, t.tm_mday,
                      t.tm_year + 1900, hour12, t.tm_min, t.tm_sec, t.tm_hour < 12 ? "AM" : "PM");
  } else {
    length =
        std::snprintf(buffer, sizeof buffer, "%d/%d/%d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900);
  }
  return length < 0 ? std::string() : std::string(buffer, static_cast<size_t>(length));
}

// Appends the time formatted by strftime; false when the format gives no text.
bool AppendStrftime(std::string& out, const char* format, const std::tm& t) {
  if (format == nullptr || *format == '\0') return false;
  char buffer[256];
  const size_t length = std::strftime(buffer, sizeof buffer, format, &t);
  if (length == 0) return false;
  out.append(buffer, length);
  return true;
}

// What a stamp is made of: two times that agree on these give the same
// text under one locale (the zone fields count, for a format with %Z).
bool SameStampFields(const std::tm& a, const std::tm& b) {
  return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
         a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
         a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst &&
         a.tm_gmtoff == b.tm_gmtoff &&
         std::string_view(a.tm_zone ? a.tm_zone : "") ==
             std::string_view(b.tm_zone ? b.tm_zone : "");
}

std::string FormatTimestampAfresh(const std::tm& local_time, const char* locale_name) {
  const bool with_time =
      local_time.tm_hour != 0 || local_time.tm_min != 0 || local_time.tm_sec != 0;
  if (IsCLocale(locale_name)) return UsTimestamp(local_time, with_time);
  std::string stamp;
  if (!AppendStrftime(stamp, nl_langinfo(D_FMT), local_time)) {
    return UsTimestamp(local_time, with_time);
  }
  if (with_time) {
    stamp += ' ';
    if (!AppendStrftime(stamp, nl_langinfo(T_FMT), local_time)) {
      return UsTimestamp(local_time, with_time);
    }
  }
  return stamp;
}

// The stamp for the time under the calling thread's LC_TIME locale (the
// name in force, whether set globally or for the thread). A run writes a
// line per object it meets, nearly all within the same second: the last
// stamp is kept, per thread, with what it was made from, and given again
// while that is unchanged (formatting anew cost a quarter of a large
// list's walk). The reference stays valid until the thread's next call.
const std::string& CachedTimestamp(const std::tm& local_time) {
  struct Last {
    std::tm time{};
    std::string locale;
    std::string stamp;
    bool valid = false;
  };
  thread_local Last last;
  const char* locale_name = nl_langinfo(_NL_LOCALE_NAME(LC_TIME));
  const std::string_view locale = locale_name == nullptr ? std::string_view() : locale_name;
  if (last.valid && SameStampFields(last.time, local_time) && last.locale == locale) {
    return last.stamp;
  }
  last.valid = false;
  last.stamp = FormatTimestampAfresh(local_time, locale_name);
  last.time = local_time;
  last.locale.assign(locale);
  last.valid = true;
  return last.stamp;
}

}  // namespace

void WriteLog(const std::string& message, int32_t level) {
  if (level == kLevelTrace) return;
  Ignoring([&] {
    // Borrowed, not shared: nothing called below changes the runtime, and
    // a count taken and dropped per line is two atomic operations.
    platform::ProcessServices* const process = platform::CurrentRuntime().process.get();
    if (process == nullptr) return;
    std::string_view marker = ": ";
    if (level == kLevelError) marker = ": [Error] ";
    if (level == kLevelWarning) marker = ": [Warning] ";
    // The line and the path are made in buffers kept by the thread, which
    // after the first lines no longer allocate: a run writes a line for
    // every object it meets. Nothing called below writes to the log.
    thread_local std::string line;
    thread_local std::string path;
    line.clear();
    Ignoring([&] { line += CachedTimestamp(process->LocalNow()); });
    line += marker;
    line += message;
    line += "\r\n";
    path.assign(process->ProgramDirectory());
    path += "/Tarnwick.log";
    Ignoring([&] { process->AppendToFile(path, line); });
  });
  Ignoring([&] {
    if (basGlobals::StdOut) basGlobals::StdOut->WriteLine(message);
  });
}

std::string FormatTimestamp(const std::tm& local_time) { return CachedTimestamp(local_time); }

}  // namespace modTest
