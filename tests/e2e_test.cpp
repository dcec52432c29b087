// End-to-end: the tarnwick binary itself, copied into a fresh folder so that
// its run log lands there, on the bundled example organisation.
// TARNWICK_UPDATE_GOLDEN=1 rewrites the golden file from the current output.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::string log;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Binary : public ::testing::Test {
 protected:
  Binary() {
    dir_ = fs::temp_directory_path() /
           ("tarnwick-e2e-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(TARNWICK_BINARY, dir_ / "tarnwick");
  }
  ~Binary() override { fs::remove_all(dir_); }

  // Runs the copied binary with the argument text as shell words, in the
  // source folder unless told otherwise.
  Outcome Start(const std::string& arguments, const std::string& cwd = TARNWICK_SOURCE_DIR) {
    const std::string command = "cd '" + cwd + "' && LC_ALL=C '" + (dir_ / "tarnwick").string() +
                                "' " + arguments + " >'" + (dir_ / "out").string() + "' 2>'" +
                                (dir_ / "err").string() + "'";
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

}  // namespace
