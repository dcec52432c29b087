// The process services of a POSIX (Linux) process.
//
// Choices the interface leaves open:
// - ProgramDirectory is read once from /proc/self/exe and kept: the log
//   writes a line per message and the directory cannot change under a
//   running program. Without /proc it falls back to the current directory.
// - Standard output and the error stream are written with write(2), one call
//   per line, so their lines interleave in the order they were written and
//   nothing sits in a buffer when the process ends.
// - A first SIGINT or SIGTERM only records the request; the stop handler
//   runs at the next DoEvents on the engine's thread. A second one ends the
//   process at once with status 130, for a run that no longer yields.
#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <ctime>
#include <string>
#include <utility>

namespace platform {
namespace {

volatile std::sig_atomic_t g_stop_signals = 0;

void OnStopSignal(int) {
  if (g_stop_signals != 0) _exit(130);
  g_stop_signals = 1;
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

bool WriteLineTo(int fd, const std::string& line) {
  std::string buffer;
  buffer.reserve(line.size() + 1);
  buffer += line;
  buffer += '\n';
  return WriteAll(fd, buffer.data(), buffer.size());
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
  std::string ProgramDirectory() override {
    if (program_directory_.empty()) program_directory_ = FindProgramDirectory();
    return program_directory_;
  }

  std::tm LocalNow() override {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
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
    if (g_stop_signals == 0 || stop_served_) return;
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
