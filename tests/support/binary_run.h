// Shared by the tests that run the built programs: reading what a run left
// behind, and the exit status of a shell command.
#ifndef TARNWICK_TESTS_SUPPORT_BINARY_RUN_H_
#define TARNWICK_TESTS_SUPPORT_BINARY_RUN_H_

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tarnwick_test {

// The whole file, "" when it cannot be read (a run that wrote nothing).
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the command with the shell; the exit status, or 128 + the signal
// that ended it, as a shell reports it.
inline int RunShell(const std::string& command) {
  const int raw = std::system(command.c_str());
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  return 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
}

}  // namespace tarnwick_test

#endif  // TARNWICK_TESTS_SUPPORT_BINARY_RUN_H_
