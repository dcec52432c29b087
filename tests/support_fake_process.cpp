#include "tests/support/fake_process.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "driver/globals.h"

namespace tarnwick_test {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return t;
}

bool CapturedStream::WriteLine(const std::string& line) {
  if (failing_) return false;
  lines_.push_back(line);
  return true;
}

FakeProcess::FakeProcess()
    : now_(MakeTime(2008, 12, 31, 23, 59, 7)), stdout_(std::make_shared<CapturedStream>()) {
  const char* tmp = ::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tarnwick_test_XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory from " + pattern);
  }
  temp_directory_ = pattern;
  program_directory_ = pattern;
}

FakeProcess::~FakeProcess() {
  std::error_code ignored;
  std::filesystem::remove_all(temp_directory_, ignored);
}

bool FakeProcess::AppendToFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  if (!file) return false;
  file << bytes;
  file.close();
  return static_cast<bool>(file);
}

void FakeProcess::DoEvents() {
  ++do_events_calls_;
  if (do_events_hook_) do_events_hook_(do_events_calls_);
  if (stop_after_calls_ >= 0 && stop_after_calls_-- == 0) RequestStop(delayed_signal_);
  if (stop_signal_ == 0 || stop_served_) return;
  stop_served_ = true;
  if (stop_handler_) stop_handler_();
}

void FakeProcess::RequestStopAfter(int do_events_calls, int signal) {
  stop_after_calls_ = do_events_calls;
  delayed_signal_ = signal;
}

void FakeProcess::SetStandardOutputFailing(bool failing) {
  if (stdout_) stdout_->SetFailing(failing);
}

bool FakeProcess::LogExists() const { return std::filesystem::exists(LogPath()); }

std::string FakeProcess::LogText() const {
  std::ifstream file(LogPath(), std::ios::binary);
  if (!file) return {};
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> FakeProcess::LogLines() const {
  const std::string text = LogText();
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<std::string> FakeProcess::StdoutLines() const {
  return stdout_ ? stdout_->Lines() : std::vector<std::string>();
}

TestRuntime::TestRuntime() : process_(std::make_shared<FakeProcess>()), scope_(runtime_) {
  runtime_.process = process_;
  basGlobals::Reset();
}

TestRuntime::~TestRuntime() { basGlobals::Reset(); }

}  // namespace tarnwick_test
