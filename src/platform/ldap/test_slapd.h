// A throw-away slapd for the tests of the ldap layer: its own temporary
// folder, configuration and database, listening on a free loopback port,
// stopped and removed when the object goes.
//
// Header-only so that it is built into the tests alone (every .cpp under
// src/ that is not a test goes into the library). It stands in until the
// suite's shared slapd fixture can be used here.
#ifndef TARNWICK_PLATFORM_LDAP_TEST_SLAPD_H_
#define TARNWICK_PLATFORM_LDAP_TEST_SLAPD_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace platform::ldap::slapdtest {

inline constexpr char kSlapdBinary[] = "/usr/sbin/slapd";
inline constexpr char kSlapaddBinary[] = "/usr/sbin/slapadd";
inline constexpr char kSuffix[] = "dc=tarnwick,dc=test";
inline constexpr char kRootDn[] = "cn=admin,dc=tarnwick,dc=test";
inline constexpr char kRootPassword[] = "root-Secret-71";
// An ordinary account: the server's limits apply to it, as they would to
// the run's service account (the root DN has none).
inline constexpr char kReaderDn[] = "cn=reader,dc=tarnwick,dc=test";
inline constexpr char kReaderPassword[] = "reader-Secret-42";

// The suffix entry and the reader; tests append their own entries.
inline std::string BaseLdif() {
  return std::string("dn: ") + kSuffix +
         "\n"
         "objectClass: dcObject\n"
         "objectClass: organization\n"
         "dc: tarnwick\n"
         "o: Tarnwick test\n"
         "\n"
         "dn: " +
         kReaderDn +
         "\n"
         "objectClass: person\n"
         "cn: reader\n"
         "sn: reader\n"
         "userPassword: " +
         kReaderPassword + "\n\n";
}

// True when slapd can be run here. Otherwise a test skips, saying why;
// under CI=true it fails instead, so the suite cannot pass there without
// having run.
inline bool SlapdAvailable() {
  return ::access(kSlapdBinary, X_OK) == 0 && ::access(kSlapaddBinary, X_OK) == 0;
}

#define TARNWICK_REQUIRE_SLAPD()                                                     \
  do {                                                                               \
    if (!::platform::ldap::slapdtest::SlapdAvailable()) {                            \
      const char* ci = std::getenv("CI");                                            \
      if (ci != nullptr && std::string(ci) == "true") {                              \
        FAIL() << "slapd is not installed, and CI=true requires these tests to run"; \
      }                                                                              \
      GTEST_SKIP() << "slapd is not installed (apt-get install slapd ldap-utils)";   \
    }                                                                                \
  } while (0)

// A loopback port nothing listens on at the moment of the call.
inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

inline bool PortAnswers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

inline bool PidFileHolds(const std::string& path, pid_t pid) {
  std::ifstream file(path);
  long written = -1;
  return (file >> written) && written == pid;
}

// Runs a program to its end, its output to `log`; its exit status, -1 when
// it could not run.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& log) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class TestSlapd {
 public:
  // Loads `ldif` (BaseLdif() plus the test's entries) and starts slapd on
  // it; nullptr, with the reason in *error, when that fails.
  static std::unique_ptr<TestSlapd> Start(const std::string& ldif, std::string* error) {
    std::unique_ptr<TestSlapd> server(new TestSlapd());
    char pattern[] = "/tmp/tarnwick-slapd-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      *error = "mkdtemp failed";
      return nullptr;
    }
    server->dir_ = pattern;
    const std::string dir = server->dir_;
    std::filesystem::create_directory(dir + "/db");
    {
      std::ofstream conf(dir + "/slapd.conf");
      conf << "include /etc/ldap/schema/core.schema\n"
              "include /etc/ldap/schema/cosine.schema\n"
              "include /etc/ldap/schema/inetorgperson.schema\n"
              "pidfile "
           << dir << "/slapd.pid\n"
           << "argsfile " << dir << "/slapd.args\n"
           << "modulepath /usr/lib/ldap\n"
              "moduleload back_mdb\n"
              "sizelimit size.soft=1000 size.hard=1000 size.pr=1000 size.prtotal=unlimited\n"
              "database mdb\n"
              "maxsize 268435456\n"
              "suffix \""
           << kSuffix << "\"\n"
           << "rootdn \"" << kRootDn << "\"\n"
           << "rootpw " << kRootPassword << "\n"
           << "directory " << dir << "/db\n";
      std::ofstream data(dir + "/data.ldif");
      data << ldif;
    }
    const std::string log = dir + "/slapd.log";
    if (RunProgram(
            {kSlapaddBinary, "-q", "-s", "-f", dir + "/slapd.conf", "-l", dir + "/data.ldif"},
            log) != 0) {
      *error = "slapadd failed; see " + log;
      return nullptr;
    }
    for (int attempt = 0; attempt < 5 && server->pid_ <= 0; ++attempt) {
      const int port = FreePort();
      const pid_t pid = ::fork();
      if (pid < 0) break;
      if (pid == 0) {
        const std::string url = "ldap://127.0.0.1:" + std::to_string(port) + "/";
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (out >= 0) {
          ::dup2(out, 1);
          ::dup2(out, 2);
        }
        // -d keeps slapd in the foreground, so the test owns its process.
        ::execl(kSlapdBinary, kSlapdBinary, "-d", "0", "-f", (dir + "/slapd.conf").c_str(), "-h",
                url.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
      }
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      bool up = false;
      while (!up && std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) break;  // exited: port taken?
        // The pid file is written once the listener is bound: a port that
        // answers without it may be another test's server.
        up = PidFileHolds(dir + "/slapd.pid", pid) && PortAnswers(port);
        if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (up) {
        server->pid_ = pid;
        server->port_ = port;
      } else {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
      }
    }
    if (server->pid_ <= 0) {
      *error = "slapd did not start; see " + log;
      return nullptr;
    }
    return server;
  }

  ~TestSlapd() {
    Stop();
    if (!dir_.empty() && !::testing::Test::HasFailure()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }

  // Stops slapd (SIGTERM, as an administrator would) and waits for it.
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Freezes slapd: connections stay open and nothing is answered. Returns
  // once every thread has stopped, so no request sent after it is served.
  void Pause() {
    ::kill(pid_, SIGSTOP);
    int status = 0;
    ::waitpid(pid_, &status, WUNTRACED);
  }
  void Resume() { ::kill(pid_, SIGCONT); }

  int port() const { return port_; }
  std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  TestSlapd() = default;
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = -1;
};

}  // namespace platform::ldap::slapdtest

#endif  // TARNWICK_PLATFORM_LDAP_TEST_SLAPD_H_
