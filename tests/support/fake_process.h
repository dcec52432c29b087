// Test fakes for the process services: a temporary program directory, a
// clock that stands still, and standard output and error streams captured in
// memory. TestRuntime installs them (with an empty factory) for one test.
#ifndef TARNWICK_TESTS_SUPPORT_FAKE_PROCESS_H_
#define TARNWICK_TESTS_SUPPORT_FAKE_PROCESS_H_

#include <csignal>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/runtime.h"

namespace tarnwick_test {

// A local time; month 1-12.
std::tm MakeTime(int year, int month, int day, int hour, int minute, int second);

// Standard output captured line by line. Can be told to refuse writes.
class CapturedStream final : public platform::TextStream {
 public:
  bool WriteLine(const std::string& line) override;
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetFailing(bool failing) { failing_ = failing; }

 private:
  std::vector<std::string> lines_;
  bool failing_ = false;
};

class FakeProcess final : public platform::ProcessServices {
 public:
  // Creates a fresh program directory under TMPDIR (or /tmp); removed, with
  // everything in it, on destruction. The clock reads 12/31/2008 11:59:07 PM.
  FakeProcess();
  ~FakeProcess() override;
  FakeProcess(const FakeProcess&) = delete;
  FakeProcess& operator=(const FakeProcess&) = delete;

  const std::string& ProgramDirectory() override { return program_directory_; }
  std::tm LocalNow() override { return now_; }
  bool AppendToFile(const std::string& path, const std::string& bytes) override;
  std::shared_ptr<platform::TextStream> StandardOutput() override { return stdout_; }
  void ReportError(const std::string& text) override { errors_.push_back(text); }
  // Counts the call; runs the stop handler once after RequestStop().
  void DoEvents() override;
  void OnStopRequest(std::function<void()> handler) override { stop_handler_ = std::move(handler); }
  // True from RequestStop() on, served or not, as for a signal.
  bool StopPending() override { return stop_signal_ != 0; }
  int StopSignal() override { return stop_signal_; }

  // Controls.
  void SetNow(const std::tm& now) { now_ = now; }
  // Points the program directory elsewhere (for example at a directory that
  // does not exist, so every append fails).
  void SetProgramDirectory(const std::string& directory) { program_directory_ = directory; }
  // The process then has no standard output (StandardOutput gives nullptr).
  void RemoveStandardOutput() { stdout_.reset(); }
  void SetStandardOutputFailing(bool failing);
  // As if the signal had arrived: StopPending() turns true at once, the
  // stop handler runs at the next DoEvents().
  void RequestStop(int signal = SIGINT) { stop_signal_ = signal; }
  // Runs the stop handler once after this many more DoEvents() calls
  // (0: at the next one), as a signal sent in the middle of a walk would;
  // StopPending() turns true then too.
  void RequestStopAfter(int do_events_calls, int signal = SIGINT);
  // Runs `hook` at every DoEvents() with the number of calls so far, so a
  // test can change the world at a chosen point of a walk.
  void SetDoEventsHook(std::function<void(int calls)> hook) { do_events_hook_ = std::move(hook); }

  // Observations.
  const std::string& TempDirectory() const { return temp_directory_; }
  std::string LogPath() const { return temp_directory_ + "/Tarnwick.log"; }
  bool LogExists() const;
  // The whole log file as bytes; "" when there is none.
  std::string LogText() const;
  // The log file cut at CR LF; the empty text after the last CR LF is dropped.
  std::vector<std::string> LogLines() const;
  // The lines written to standard output (empty after RemoveStandardOutput).
  std::vector<std::string> StdoutLines() const;
  const std::vector<std::string>& ErrorLines() const { return errors_; }
  int DoEventsCalls() const { return do_events_calls_; }

 private:
  std::string temp_directory_;
  std::string program_directory_;
  std::tm now_;
  std::shared_ptr<CapturedStream> stdout_;
  std::vector<std::string> errors_;
  std::function<void()> stop_handler_;
  int stop_signal_ = 0;
  int stop_after_calls_ = -1;  // -1: no delayed request
  int delayed_signal_ = 0;
  bool stop_served_ = false;
  int do_events_calls_ = 0;
  std::function<void(int)> do_events_hook_;
};

// A runtime with a FakeProcess, installed for its lifetime; the globals of
// basGlobals are reset on entry and on exit. Register fakes in
// runtime().factory.
class TestRuntime {
 public:
  TestRuntime();
  ~TestRuntime();
  TestRuntime(const TestRuntime&) = delete;
  TestRuntime& operator=(const TestRuntime&) = delete;

  platform::Runtime& runtime() { return runtime_; }
  FakeProcess& process() { return *process_; }

 private:
  std::shared_ptr<FakeProcess> process_;
  platform::Runtime runtime_;
  platform::RuntimeScope scope_;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_TESTS_SUPPORT_FAKE_PROCESS_H_
