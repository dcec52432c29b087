#include "tests/ldap/slapd_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "platform/ldap/ldap_directory.h"

namespace tarnwick_test {
namespace {

// The script's status for "slapd is not installed" outside CI.
constexpr int kNotInstalledStatus = 77;

std::string FirstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

std::optional<std::string> FixtureUrl() {
  const std::string url = FirstLine(TARNWICK_SLAPD_URL_FILE);
  if (url.empty()) return std::nullopt;
  return url;
}

std::string NoFixtureReason() {
  return std::string("no shared test slapd: ") + TARNWICK_SLAPD_URL_FILE +
         " is missing (slapd not installed, or the tests were run without ctest; start it with " +
         TARNWICK_SLAPD_FIXTURE + " start <build>/slapd examples/harbor/directory.ldif)";
}

platform::ServerDirectory OpenAnonymously(const std::string& url) {
  platform::ServerDirectorySettings settings;
  settings.url = url;
  return platform::ldap::OpenServerDirectory(
      settings, [](const char*) { return std::optional<std::string>(); },
      [](const std::string&) {});
}

std::string ClosedPortUrl() {
  // Binding port 0 makes the kernel pick a free port; closing the socket
  // without listen() leaves nothing on it.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) ::close(fd);
  // Port 0 cannot be connected to either, so a failed pick still names a
  // closed port.
  return "ldap://127.0.0.1:" + std::to_string(port) + "/";
}

ScriptResult RunFixtureScript(const std::vector<std::string>& args) {
  ScriptResult result;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    result.output = "pipe failed";
    return result;
  }
  std::vector<std::string> argv_text{TARNWICK_SLAPD_FIXTURE};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    result.output = "fork failed";
    return result;
  }
  if (pid == 0) {
    // dup2 clears close-on-exec on the copies, so only they survive exec.
    ::dup2(fds[1], STDOUT_FILENO);
    ::dup2(fds[1], STDERR_FILENO);
    const int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  // The script hands none of its descriptors to the server it leaves
  // running, so the pipe ends when the script does.
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n > 0) {
      result.output.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(fds[0]);
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  return result;
}

TestSlapd::TestSlapd(const std::vector<std::filesystem::path>& ldif_files,
                     const std::string& suffix, MemberOf member_of) {
  std::vector<std::string> args{"start"};
  if (!suffix.empty()) {
    args.push_back("--suffix");
    args.push_back(suffix);
  }
  if (member_of == MemberOf::kNone) args.push_back("--no-memberof");
  args.push_back("");  // the folder, filled in by Run
  for (const auto& f : ldif_files) args.push_back(f.string());
  Run(args);
}

TestSlapd TestSlapd::FromLdif(std::string_view ldif, const std::string& suffix,
                              MemberOf member_of) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tarnwick-ldif-XXXXXX.ldif").string();
  const int fd = ::mkstemps(pattern.data(), 5);
  if (fd < 0) {
    TestSlapd failed;
    failed.error_ = "cannot create a scratch LDIF file under " +
                    std::filesystem::temp_directory_path().string();
    return failed;
  }
  ::close(fd);
  bool written = false;
  {
    std::ofstream out(pattern, std::ios::binary | std::ios::trunc);
    out.write(ldif.data(), static_cast<std::streamsize>(ldif.size()));
    written = static_cast<bool>(out.flush());
  }
  TestSlapd server = written ? TestSlapd({pattern}, suffix, member_of) : TestSlapd();
  if (!written) server.error_ = "cannot write the scratch LDIF file " + pattern;
  std::error_code ignored;
  std::filesystem::remove(pattern, ignored);
  return server;
}

TestSlapd TestSlapd::Silent() {
  TestSlapd server;
  server.Run({"silent", ""});
  return server;
}

void TestSlapd::Run(const std::vector<std::string>& args_template) {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-slapd-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    state_ = State::kFailed;
    error_ = "cannot create a folder for the test slapd under " +
             std::filesystem::temp_directory_path().string();
    return;
  }
  dir_ = pattern;
  std::vector<std::string> args = args_template;
  for (auto& a : args) {
    if (a.empty()) a = dir_.string();
  }
  const ScriptResult r = RunFixtureScript(args);
  if (r.status == 0) {
    url_ = FirstLine(dir_ / "url");
    state_ = url_.empty() ? State::kFailed : State::kRunning;
    if (url_.empty()) error_ = "slapd-fixture wrote no url: " + r.output;
    return;
  }
  state_ = r.status == kNotInstalledStatus ? State::kNotInstalled : State::kFailed;
  error_ = "slapd-fixture " + args.front() + " failed (status " + std::to_string(r.status) +
           "): " + r.output;
  // A failed start leaves its folder for the message to point at; it goes
  // now that the output has been kept.
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

TestSlapd::TestSlapd(TestSlapd&& other) noexcept
    : state_(other.state_),
      error_(std::move(other.error_)),
      url_(std::move(other.url_)),
      dir_(std::move(other.dir_)) {
  other.state_ = State::kStopped;
  other.url_.clear();
  other.dir_.clear();
}

TestSlapd::~TestSlapd() { Stop(); }

bool TestSlapd::Signal(const char* command) {
  if (state_ != State::kRunning) {
    error_ = std::string(command) + ": the server is not running";
    return false;
  }
  const ScriptResult r = RunFixtureScript({command, dir_.string()});
  if (r.status != 0) {
    error_ = std::string("slapd-fixture ") + command + " failed (status " +
             std::to_string(r.status) + "): " + r.output;
    return false;
  }
  return true;
}

bool TestSlapd::Freeze() { return Signal("freeze"); }

bool TestSlapd::Thaw() { return Signal("thaw"); }

bool TestSlapd::Stop() {
  if (state_ != State::kRunning) return true;
  const ScriptResult r = RunFixtureScript({"stop", dir_.string()});
  state_ = State::kStopped;
  url_.clear();
  if (r.status != 0) {
    error_ = "slapd-fixture stop failed (status " + std::to_string(r.status) + "): " + r.output;
    return false;
  }
  return true;
}

}  // namespace tarnwick_test
