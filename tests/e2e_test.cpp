// End-to-end: the tarnwick binary itself, copied into a fresh folder so that
// its run log lands there, on the bundled example organisation.
// TARNWICK_UPDATE_GOLDEN=1 rewrites the golden file from the current output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/binary_run.h"

namespace {

using tarnwick_test::ReadFile;

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::string log;
};

class Binary : public ::testing::Test {
 protected:
  Binary()
      : dir_(tarnwick_test::ProgramFolder(
            "tarnwick-e2e", ::testing::UnitTest::GetInstance()->current_test_info()->name(),
            TARNWICK_BINARY)) {}
  ~Binary() override { fs::remove_all(dir_); }

  // Runs the copied binary with the argument text as shell words, in the
  // source folder unless told otherwise, under the C locale unless told
  // otherwise (`locale` is put before the program as `env` arguments).
  Outcome Start(const std::string& arguments, const std::string& cwd = TARNWICK_SOURCE_DIR,
                const std::string& locale = "LC_ALL=C") {
    const std::string command = "cd '" + cwd + "' && env " + locale + " '" +
                                (dir_ / "tarnwick").string() + "' " + arguments + " >'" +
                                (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
    Outcome run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(dir_ / "out");
    run.err = ReadFile(dir_ / "err");
    run.log = ReadFile(dir_ / "Tarnwick.log");
    return run;
  }

  fs::path dir_;
};

TEST_F(Binary, ExampleOrganisationMatchesTheGoldenOutput) {
  const Outcome run = Start(
      "/s examples/harbor/profile.json /a ana "
      "/l 'Sales Lists;all-staff@harbor.example;Loop A'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const fs::path golden = fs::path(TARNWICK_SOURCE_DIR) / "tests/e2e/harbor.golden";
  if (std::getenv("TARNWICK_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary) << run.out;
  }
  EXPECT_EQ(run.out, ReadFile(golden));
  // Every log message is in the file too, behind a stamp, with CR LF.
  EXPECT_NE(run.log.find(": complete\r\n"), std::string::npos);
}

TEST_F(Binary, UsageAndMissingSwitchesExitWithTwo) {
  const Outcome none = Start("");
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.out,
            "missing parameters: you must supply /s <servername> /a <mailbox alias> /l <list "
            "smtp address>\n");
  EXPECT_EQ(none.log, "");  // the usage line is not a log message

  const Outcome no_server = Start("/a ana");
  EXPECT_EQ(no_server.status, 2);
  EXPECT_EQ(no_server.out, "missing Server Name\n");
  EXPECT_THAT(no_server.log, testing::EndsWith(": [Error] missing Server Name\r\n"));
}

TEST_F(Binary, BrokenProfileIsNamedAndTheRunGoesOnWithoutLogon) {
  // A value is cut at " /", so the profile is named relative to the folder.
  std::ofstream(dir_ / "broken.json") << "{\n  \"directory\": \"d.ldif\",\n  oops\n}\n";
  const Outcome run = Start("/s broken.json /a ana /l x@y.example", dir_.string());
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.err, testing::HasSubstr("broken.json:3"));
  EXPECT_THAT(run.out, testing::EndsWith("complete\n"));
}

bool LocaleInstalled(const char* name) {
  const locale_t locale = ::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return false;
  ::freelocale(locale);
  return true;
}

TEST_F(Binary, OnlyTheTimeStampFollowsTheUserLocale) {
  ASSERT_TRUE(LocaleInstalled("de_DE.UTF-8") && LocaleInstalled("tr_TR.UTF-8"))
      << "de_DE.UTF-8 and tr_TR.UTF-8 are needed; scripts/setup generates them";
  // Turkish letter case maps I to a dotless i, so a C-library keyword match
  // under it no longer sees "INCLUDE:" as the include directive.
  std::ofstream(dir_ / "p.json") << R"({"directory": "d.ldif", "mailboxes": [{"alias": "ana"}]})";
  std::ofstream(dir_ / "d.ldif") << "version: 1\n\ndn: DC=x\nobjectClass: domainDNS\ndc: x\n\n"
                                    "INCLUDE: file:///etc/hostname\n\ndn: CN=c,DC=x\ncn: c\n";
  const Outcome run = Start("/s p.json /a ana /l x@y.example", dir_.string(),
                            "-u LC_ALL -u LC_CTYPE LANG=tr_TR.UTF-8 LC_TIME=de_DE.UTF-8");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.rfind("d.ldif:7: include directives are not accepted", 0), 0u) << run.err;
  EXPECT_THAT(run.out, testing::EndsWith("complete\n"));
  // The German short date and long time.
  EXPECT_THAT(run.log, testing::ContainsRegex(
                           "^[0-9]{2}\\.[0-9]{2}\\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}: "));
}

}  // namespace
