// The test slapd for the ldap backend's tests: the shared server that CTest
// starts before them (test slapd_start), and private servers a test starts
// and stops itself. Both come from tests/ldap/slapd-fixture.
//
// When slapd is not installed the tests skip and say why; under CI=true they
// fail instead, so that a CI machine without slapd cannot pass by skipping.
#ifndef TARNWICK_TESTS_LDAP_SLAPD_SUPPORT_H_
#define TARNWICK_TESTS_LDAP_SLAPD_SUPPORT_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/server_directory.h"

namespace tarnwick_test {

// True when the environment says CI=true.
bool UnderCi();

// The URL of the shared server (ldap://127.0.0.1:PORT/), loaded with
// examples/harbor/directory.ldif; nullopt when it is not running (slapd not
// installed, or the runner was started without ctest).
std::optional<std::string> FixtureUrl();

// Why FixtureUrl() gives nothing, in a line fit for a skip message.
std::string NoFixtureReason();

// The directory at `url`, opened anonymously with no environment and no
// warning line: what a test of the directory's own answers wants. Raises
// as OpenServerDirectory does.
platform::ServerDirectory OpenAnonymously(const std::string& url);

// The test admin of every fixture server: CN=admin,<suffix>, password "secret".
inline constexpr char kAdminPassword[] = "secret";

// ldap://127.0.0.1:PORT/ for a loopback port that nothing listened on at
// the moment of the call (one the kernel handed out and that was let go
// again), for tests of a server that cannot be reached.
std::string ClosedPortUrl();

// A private server, stopped and removed when the object goes.
class TestSlapd {
 public:
  enum class State { kRunning, kNotInstalled, kFailed, kStopped };
  // Whether the loaded entries carry the memberOf back-links of the groups
  // that list them (kKept, unless the LDIF writes its own memberOf values),
  // or none at all: a server that keeps no back-link (kNone).
  enum class MemberOf { kKept, kNone };

  // Starts slapd loaded with the LDIF files; the suffix is found in them
  // unless `suffix` names it. Check state(): kRunning on success,
  // kNotInstalled when slapd is missing (and CI is not true), kFailed with
  // error() holding the script's output otherwise.
  explicit TestSlapd(const std::vector<std::filesystem::path>& ldif_files,
                     const std::string& suffix = "", MemberOf member_of = MemberOf::kKept);

  // As the constructor, loaded with `ldif`, the text of an LDIF file. The
  // text passes through a scratch file that is gone when this returns.
  static TestSlapd FromLdif(std::string_view ldif, const std::string& suffix = "",
                            MemberOf member_of = MemberOf::kKept);

  // A listener that accepts connections and never answers, for time-out
  // tests; state() and url() as for a server.
  static TestSlapd Silent();

  TestSlapd(TestSlapd&& other) noexcept;
  TestSlapd& operator=(TestSlapd&&) = delete;
  TestSlapd(const TestSlapd&) = delete;
  TestSlapd& operator=(const TestSlapd&) = delete;
  ~TestSlapd();

  State state() const { return state_; }
  const std::string& error() const { return error_; }
  // ldap://127.0.0.1:PORT/ while running, "" otherwise.
  const std::string& url() const { return url_; }
  // The server's folder (database, slapd.conf, slapd.log); removed by Stop().
  const std::filesystem::path& dir() const { return dir_; }

  // Freezes the running server (SIGSTOP): its connections stay open and
  // nothing is answered. Returns true once every thread of it has stopped,
  // so that no request sent afterwards is served before Thaw(); false, with
  // error() set, when it is not running or would not stop.
  bool Freeze();

  // Lets a frozen server go on. Returns true on success; false, with
  // error() set, when it is not running.
  bool Thaw();

  // Stops the server, frozen or not, and removes its folder. Returns true
  // when it is gone; false, with error() set, when the script failed. A
  // second call does nothing and returns true.
  bool Stop();

 private:
  TestSlapd() = default;
  void Run(const std::vector<std::string>& args);
  // `slapd-fixture COMMAND dir()` on the running server; false, with
  // error() set, when it fails.
  bool Signal(const char* command);

  State state_ = State::kFailed;
  std::string error_;
  std::string url_;
  std::filesystem::path dir_;
};

// The exit status of `slapd-fixture ARGS...` and its standard output and
// error together; the status is 128 + the signal when one ended it, -1 when
// it could not be started.
struct ScriptResult {
  int status = -1;
  std::string output;
};
ScriptResult RunFixtureScript(const std::vector<std::string>& args);

}  // namespace tarnwick_test

// In a test body: the shared server's URL into `var`, or the test ends:
// skipped with the reason, or failed under CI=true.
#define TARNWICK_FIXTURE_URL_OR_SKIP(var)                                      \
  std::string var;                                                             \
  if (const auto tarnwick_url = ::tarnwick_test::FixtureUrl(); tarnwick_url) { \
    var = *tarnwick_url;                                                       \
  } else if (::tarnwick_test::UnderCi()) {                                     \
    FAIL() << ::tarnwick_test::NoFixtureReason();                              \
  } else {                                                                     \
    GTEST_SKIP() << ::tarnwick_test::NoFixtureReason();                        \
  }

// In a test body: the test ends unless the private server runs: skipped
// when slapd is not installed (failed under CI=true), failed when it would
// not start.
#define TARNWICK_REQUIRE_RUNNING(server)                                                          \
  do {                                                                                            \
    if ((server).state() == ::tarnwick_test::TestSlapd::State::kNotInstalled) {                   \
      if (::tarnwick_test::UnderCi()) FAIL() << "slapd is not installed (CI=true)";               \
      GTEST_SKIP() << "slapd is not installed; scripts/setup installs it";                        \
    }                                                                                             \
    ASSERT_EQ((server).state(), ::tarnwick_test::TestSlapd::State::kRunning) << (server).error(); \
  } while (0)

#endif  // TARNWICK_TESTS_LDAP_SLAPD_SUPPORT_H_
