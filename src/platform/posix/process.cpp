// The process services of a POSIX (Linux) process.
//
// Choices the interface leaves open:
// - ProgramDirectory is read once from /proc/self/exe and kept: the log
//   writes a line per message and the directory cannot change under a
//   running program. Without /proc it falls back to the current directory.
// - Standard output and the error stream are written with write(2), one call
//   per line, so their lines interleave in the order they were written and
//   nothing sits in a buffer when the process ends.
// - SIGPIPE is ignored from the moment the services exist: the echo of the
//   run log goes to standard output, which is often a pipe into a pager or
//   `head`, and a reader that leaves must cost only the echo, never the
//   log file or the logoff.
// - A first SIGINT or SIGTERM only records the request; the stop handler
//   runs at the next DoEvents on the engine's thread. A second one ends the
//   process at once with 128 + its number, for a run that no longer yields.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <ctime>
#include <string>
#include <utility>

namespace platform {
namespace {

// The first stop signal's number, 0 before one arrives. Written only by the
// signal handler, read from any thread: a lock-free atomic is safe on both
// sides, where a plain sig_atomic_t would not be across threads.
std::atomic<int> g_stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The line the driver writes for a stop served at a checkpoint; the handler
// cannot build text, so the two forms are written out here.
constexpr char kStoppedBySigint[] = "tarnwick: stopped early by SIGINT; the run did not finish\n";
constexpr char kStoppedBySigterm[] = "tarnwick: stopped early by SIGTERM; the run did not finish\n";

void OnStopSignal(int signal) {
  int none = 0;
  if (g_stop_signal.compare_exchange_strong(none, signal)) return;
  // A second signal: the user will not wait for the next checkpoint. Only
  // async-signal-safe calls from here on.
  const char* line = signal == SIGTERM ? kStoppedBySigterm : kStoppedBySigint;
  const size_t length =
      signal == SIGTERM ? sizeof kStoppedBySigterm - 1 : sizeof kStoppedBySigint - 1;
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line, length);
  _exit(128 + signal);
}

// Writes all bytes, retrying after interruptions and short writes.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// The line and its end in one write (one syscall, and no copy of the line),
// finishing with plain writes after a short one.
bool WriteLineTo(int fd, const std::string& line) {
  static const char kEnd = '\n';
  iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {const_cast<char*>(&kEnd), 1}};
  ssize_t written = -1;
  do {
    written = ::writev(fd, parts, 2);
  } while (written < 0 && errno == EINTR);
  if (written < 0) return false;
  const auto done = static_cast<size_t>(written);
  if (done == line.size() + 1) return true;
  if (done < line.size() && !WriteAll(fd, line.data() + done, line.size() - done)) return false;
  return WriteAll(fd, &kEnd, 1);
}

class StandardOutputStream final : public TextStream {
 public:
  bool WriteLine(const std::string& line) override { return WriteLineTo(STDOUT_FILENO, line); }
};

std::string FindProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return ".";
  const std::string file(path, static_cast<size_t>(length));
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return file.substr(0, slash);
}

class PosixProcessServices final : public ProcessServices {
 public:
  // The directory is found here, once: handed out by reference, it must
  // never change under a caller.
  PosixProcessServices() : program_directory_(FindProgramDirectory()) {
    ::signal(SIGPIPE, SIG_IGN);
  }

  const std::string& ProgramDirectory() override { return program_directory_; }

  // The run asks the time for every log line; the conversion to local time
  // is made once per second, per thread (a zone change takes effect at the
  // next second).
  std::tm LocalNow() override {
    struct Last {
      std::time_t at = 0;
      std::tm local{};
      bool valid = false;
    };
    thread_local Last last;
    const std::time_t now = std::time(nullptr);
    if (!last.valid || now != last.at) {
      last.valid = false;
      ::localtime_r(&now, &last.local);
      last.at = now;
      last.valid = true;
    }
    return last.local;
  }

  bool AppendToFile(const std::string& path, const std::string& bytes) override {
    int fd = -1;
    do {
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes.data(), bytes.size());
    // A failing close can mean the data never reached the file (NFS, full
    // disk), so it counts as a failed write.
    const bool closed = ::close(fd) == 0;
    return written && closed;
  }

  std::shared_ptr<TextStream> StandardOutput() override {
    if (::fcntl(STDOUT_FILENO, F_GETFD) < 0) return nullptr;
    return std::make_shared<StandardOutputStream>();
  }

  void ReportError(const std::string& text) override { WriteLineTo(STDERR_FILENO, text); }

  void DoEvents() override {
    if (!StopPending() || stop_served_) return;
    stop_served_ = true;
    if (stop_handler_) stop_handler_();
  }

  void OnStopRequest(std::function<void()> handler) override {
    stop_handler_ = std::move(handler);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Blocking both stop signals inside the handler keeps a second one on
    // the same thread from interrupting the first half-way.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
  }

  bool StopPending() override { return StopSignal() != 0; }
  int StopSignal() override { return g_stop_signal.load(); }

 private:
  std::string program_directory_;
  std::function<void()> stop_handler_;
  bool stop_served_ = false;
};

}  // namespace

std::unique_ptr<ProcessServices> NewPosixProcessServices() {
  return std::make_unique<PosixProcessServices>();
}

}  // namespace platform
