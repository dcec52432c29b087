// What a run against a directory server says when the server fails it: a
// wrong password, a port nobody listens on, a server that never answers,
// a server that goes away in the middle of a run, and settings that cannot
// work. Each is one clear line (or a logged failure), never a crash, a hang
// past the time-out, or the password in any output.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/modtest.h"
#include "platform/backend_router.h"
#include "tests/ldap/slapd_support.h"
#include "tests/support/binary_run.h"
#include "tests/support/fake_process.h"

namespace {

namespace fs = std::filesystem;
using tarnwick_test::ReadFile;
using tarnwick_test::TestSlapd;

constexpr char kPassword[] = "not-the-Password-42";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::string log;
};

class ServerFailure : public ::testing::Test {
 protected:
  ServerFailure()
      : dir_(tarnwick_test::ProgramFolder(
            "tarnwick-ldapfail", ::testing::UnitTest::GetInstance()->current_test_info()->name(),
            TARNWICK_BINARY)) {}
  ~ServerFailure() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& content, fs::perms perms) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
    fs::permissions(dir_ / name, perms);
  }

  Outcome Start(const std::string& server, const std::string& alias = "ana",
                const std::string& environment = "") {
    const std::string command = "cd '" + dir_.string() + "' && env LC_ALL=C " + environment +
                                " ./tarnwick /s '" + server + "' /a " + alias +
                                " /l all-staff@harbor.example >out 2>err";
    Outcome run;
    run.status = tarnwick_test::RunShell(command);
    run.out = ReadFile(dir_ / "out");
    run.err = ReadFile(dir_ / "err");
    run.log = ReadFile(dir_ / "Tarnwick.log");
    return run;
  }

  // A failed logon: one line on the error stream holding every `expected`
  // text, the run still ending with "complete", and the password nowhere.
  static void ExpectFailedLogon(const Outcome& run, const std::vector<std::string>& expected) {
    EXPECT_EQ(run.status, 0);
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    for (const std::string& text : expected) {
      EXPECT_NE(run.err.find(text), std::string::npos) << run.err;
    }
    EXPECT_NE(run.out.find("complete"), std::string::npos);
    for (const std::string* output : {&run.out, &run.err, &run.log}) {
      EXPECT_EQ(output->find(kPassword), std::string::npos);
    }
  }

  fs::path dir_;
};

TEST_F(ServerFailure, WrongPasswordNamesTheServerAndNeverThePassword) {
  TARNWICK_FIXTURE_URL_OR_SKIP(url);
  Write("pw", std::string(kPassword) + "\n", fs::perms::owner_read | fs::perms::owner_write);
  Write("p.json",
        R"({"directory": ")" + url +
            R"(", "bindDN": "CN=admin,DC=harbor,DC=example", "passwordFile": "pw"})",
        fs::perms::owner_all);
  ExpectFailedLogon(Start("p.json"), {url, "Invalid credentials"});

  // The right password from the environment's file works, with a warning
  // for a file others may read.
  Write("good", std::string(tarnwick_test::kAdminPassword) + "\n",
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  const Outcome good = Start(url, "ana",
                             "TARNWICK_BIND_DN=CN=admin,DC=harbor,DC=example "
                             "TARNWICK_BIND_PASSWORD_FILE=good");
  EXPECT_NE(good.out.find("expanding DL All Staff"), std::string::npos) << good.out;
  EXPECT_NE(good.err.find("good"), std::string::npos) << good.err;
  EXPECT_EQ(good.err.find(tarnwick_test::kAdminPassword), std::string::npos);
}

TEST_F(ServerFailure, UnreachableAndSilentServersFailTheLogonWithinTheTimeOut) {
  const std::string closed = tarnwick_test::ClosedPortUrl();
  ExpectFailedLogon(Start(closed), {closed, "Can't contact LDAP server"});

  TestSlapd silent = TestSlapd::Silent();
  TARNWICK_REQUIRE_RUNNING(silent);
  Write("p.json", R"({"directory": ")" + silent.url() + R"(", "timeoutSeconds": 1})",
        fs::perms::owner_all);
  ExpectFailedLogon(Start("p.json"), {silent.url()});
}

TEST_F(ServerFailure, BadSettingsAreOneLineNamingWhatIsWrong) {
  ExpectFailedLogon(Start("ldap://[::1"), {"ldap://[::1"});
  Write("p.json",
        R"({"directory": "ldap://127.0.0.1:1/", "bindDN": "CN=x", "passwordFile": "none"})",
        fs::perms::owner_all);
  ExpectFailedLogon(Start("p.json"), {"password file 'none'", "No such file or directory"});
}

// The walk runs in process here, so the server can be stopped at a chosen
// step: every later directory call fails with "The server is not
// operational.", the engine logs that as any failure, and the run ends.
TEST(ServerStoppedMidRun, LaterCallsFailAndTheRunStillCompletes) {
  const fs::path dir = fs::temp_directory_path() / ("tarnwick-stop-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "examples/harbor/directory.ldif",
                dir / "directory.ldif");
  TestSlapd server({dir / "directory.ldif"});
  TARNWICK_REQUIRE_RUNNING(server);
  std::ofstream(dir / "p.json") << R"({"directory": ")" + server.url() + R"("})";

  tarnwick_test::TestRuntime test;
  platform::InstallBackends(test.runtime(), {});
  bool stopped = false;
  test.process().SetDoEventsHook([&](int calls) {
    if (calls == 3 && !stopped) stopped = server.Stop();
  });
  // A switch value that starts with "/" reads as a switch, so the profile is
  // named from its own folder.
  const fs::path here = fs::current_path();
  fs::current_path(dir);
  const int status = modTest::Main("/s p.json /a ana /l all-staff@harbor.example;Sales Lists;ben");
  fs::current_path(here);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(status, modTest::kExitComplete);
  const auto lines = test.process().StdoutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "complete");
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  EXPECT_NE(all.find("The server is not operational."), std::string::npos) << all;
  fs::remove_all(dir);
}

}  // namespace
