// The writing half of the bench floor: writes each line of its input to a
// log file the way the run log must (open, append one line, close) and
// echoes it to standard output, so that its time is what the run's own log
// costs at the least.
//   log_floor <log file> < lines
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>

namespace {

bool WriteAll(int fd, const std::string& bytes) {
  const char* data = bytes.data();
  size_t size = bytes.size();
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: log_floor <log file> < lines\n");
    return 2;
  }
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) {
    // A time stamp per line, as the run log writes one.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[64];
    const size_t length = std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", &local);
    const std::string record = std::string(stamp, length) + ": " + line + "\r\n";
    const int fd = ::open(argv[1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || !WriteAll(fd, record) || ::close(fd) != 0) {
      std::perror(argv[1]);
      return 1;
    }
    if (!WriteAll(STDOUT_FILENO, line + "\n")) return 1;
  }
  return 0;
}
