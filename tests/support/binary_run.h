// Shared by the tests that run the built programs: reading what a run left
// behind, and the exit status of a shell command.
#ifndef TARNWICK_TESTS_SUPPORT_BINARY_RUN_H_
#define TARNWICK_TESTS_SUPPORT_BINARY_RUN_H_

#include <sys/wait.h>
#include <unistd.h>

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

// A fresh, empty folder "<temp>/<prefix>-<pid>-<name>" holding a copy of the
// program, so that the run log it writes beside itself lands there.
inline std::filesystem::path ProgramFolder(const std::string& prefix, const std::string& name,
                                           const std::filesystem::path& program) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(program, dir / program.filename());
  return dir;
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
