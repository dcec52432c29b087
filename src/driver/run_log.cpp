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

}  // namespace

void WriteLog(const std::string& message, int32_t level) {
  if (level == kLevelTrace) return;
  Ignoring([&] {
    const std::shared_ptr<platform::ProcessServices> process = platform::CurrentRuntime().process;
    if (!process) return;
    std::string line;
    Ignoring([&] { line = FormatTimestamp(process->LocalNow()); });
    switch (level) {
      case kLevelError:
        line += ": [Error] ";
        break;
      case kLevelWarning:
        line += ": [Warning] ";
        break;
      default:
        line += ": ";
        break;
    }
    line += message;
    line += "\r\n";
    Ignoring([&] { process->AppendToFile(process->ProgramDirectory() + "/Tarnwick.log", line); });
  });
  Ignoring([&] {
    if (basGlobals::StdOut) basGlobals::StdOut->WriteLine(message);
  });
}

std::string FormatTimestamp(const std::tm& local_time) {
  const bool with_time =
      local_time.tm_hour != 0 || local_time.tm_min != 0 || local_time.tm_sec != 0;
  // The name of the LC_TIME locale in force for this thread, whether set
  // globally (setlocale) or for the thread (uselocale).
  if (IsCLocale(nl_langinfo(_NL_LOCALE_NAME(LC_TIME)))) {
    return UsTimestamp(local_time, with_time);
  }
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

}  // namespace modTest
