// Stopping a run, and runs that the process's surroundings cut short.
//
// The first group runs the engine in this process with fake process
// services, where a stop can be made to arrive at an exact checkpoint. The
// second runs the tarnwick binary on a generated organisation large enough
// that its walk takes seconds, and sends it real signals, closes its output
// pipe early, or limits its address space.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/globals.h"
#include "driver/modtest.h"
#include "tests/support/binary_run.h"
#include "tests/support/engine_world.h"

extern char** environ;

namespace {

using tarnwick_test::ReadFile;

using tarnwick_test::EngineWorld;
using tarnwick_test::Group;
using tarnwick_test::ListDn;
using tarnwick_test::Person;
using tarnwick_test::PersonDn;
using tarnwick_test::QueryList;
using ::testing::EndsWith;
using ::testing::SizeIs;

// Stops as the program does: the stop handler sets StopRequested.
void StopLikeTheProgram(EngineWorld& world, int after_do_events, int signal = SIGINT) {
  world.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
  world.Process().RequestStopAfter(after_do_events, signal);
}

std::string Numbered(const char* prefix, int i) {
  std::string name(prefix);
  name += std::to_string(i);
  return name;
}

// ---------------------------------------------------------------------------
// Checkpoints, in process

TEST(StopCheckpoint, WideListStopsAtTheMemberAtHand) {
  constexpr int kMembers = 200;
  std::string records;
  std::vector<std::string> members;
  for (int i = 0; i < kMembers; ++i) {
    records += Person(Numbered("P", i), Numbered("p", i), Numbered("p", i) + "@t.example");
    members.push_back(PersonDn(Numbered("P", i)));
  }
  records += Group("Wide", "wide", "wide@t.example", members);
  EngineWorld world(records);
  StopLikeTheProgram(world, 10);
  EXPECT_EQ(world.RunList("wide@t.example"), modTest::kExitInterrupted);
  // One checkpoint before each member: the stop arrives at the eleventh.
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:reading properties for "), SizeIs(10));
  EXPECT_EQ(world.Out().back(), "complete");
  EXPECT_EQ(world.Process().ErrorLines(),
            std::vector<std::string>{"tarnwick: stopped early by SIGINT; the run did not finish"});
}

TEST(StopCheckpoint, ChainOfListsStopsBeforeTheNextDescent) {
  constexpr int kDepth = 300;
  std::string records = Person("Leaf", "leaf", "leaf@t.example");
  for (int i = 0; i < kDepth; ++i) {
    const std::string member = i + 1 < kDepth ? ListDn(Numbered("L", i + 1)) : PersonDn("Leaf");
    records += Group(Numbered("L", i), Numbered("l", i), Numbered("l", i) + "@t.example", {member});
  }
  EngineWorld world(records);
  StopLikeTheProgram(world, 50, SIGTERM);
  EXPECT_EQ(world.RunList("l0@t.example"), modTest::kExitTerminated);
  // Lists L0 to L50 were entered; L50 met the stop before its member.
  const auto expanded = world.OutWith("KVL::AddToSourceMCL:expanding DL ");
  ASSERT_THAT(expanded, SizeIs(51));
  EXPECT_EQ(expanded.back(), "KVL::AddToSourceMCL:expanding DL L50");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:reading properties for Leaf"), SizeIs(0));
  EXPECT_EQ(world.Out().back(), "complete");
  EXPECT_EQ(world.Process().ErrorLines(),
            std::vector<std::string>{"tarnwick: stopped early by SIGTERM; the run did not finish"});
}

TEST(StopCheckpoint, ChainOfQueryBasedListsStopsBeforeTheNextExpansion) {
  // Q<i> stores a filter that matches Q<i+1> alone; the walk yields after a
  // row, which for a nested list is after its whole chain below.
  constexpr int kDepth = 30;
  std::string records;
  for (int i = 0; i < kDepth; ++i) {
    records += QueryList(Numbered("Q", i), Numbered("q", i), Numbered("q", i) + "@t.example",
                         "(mailNickname=" + Numbered("q", i + 1) + ")", "");
  }
  EngineWorld world(records);
  StopLikeTheProgram(world, 5);
  EXPECT_EQ(world.RunList("q0@t.example"), modTest::kExitInterrupted);
  const auto nested = world.OutWith("KVL::ExpandQueryDL:expanding member query-based DL named ");
  ASSERT_THAT(nested, SizeIs(5));
  EXPECT_EQ(nested.back(), "KVL::ExpandQueryDL:expanding member query-based DL named 'Q5'");
  EXPECT_EQ(world.Out().back(), "complete");
}

TEST(StopCheckpoint, WithoutAStopTheWalksRunToTheirEnd) {
  // The same walks as above, checkpoints and all, with no stop: every list
  // and member is reached, and the status is that of a whole run.
  constexpr int kDepth = 30;
  std::string records = Person("Leaf", "leaf", "leaf@t.example");
  for (int i = 0; i < kDepth; ++i) {
    const std::string member = i + 1 < kDepth ? ListDn(Numbered("L", i + 1)) : PersonDn("Leaf");
    records += Group(Numbered("L", i), Numbered("l", i), Numbered("l", i) + "@t.example", {member});
    records += QueryList(Numbered("Q", i), Numbered("q", i), Numbered("q", i) + "@t.example",
                         "(mailNickname=" + Numbered("q", i + 1) + ")", "");
  }
  EngineWorld world(records);
  EXPECT_EQ(world.RunList("l0@t.example;q0@t.example"), modTest::kExitComplete);
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:expanding DL "), SizeIs(kDepth));
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:reading properties for Leaf"), SizeIs(1));
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:expanding member query-based DL named "),
              SizeIs(kDepth - 1));
  EXPECT_TRUE(world.Process().ErrorLines().empty());
}

// ---------------------------------------------------------------------------
// The binary

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The last line of a run log without its time stamp ("" for none), so that
// a failure shows a line rather than a log of many thousands.
std::string LastMessage(const std::string& log) {
  if (log.size() < 2 || log.compare(log.size() - 2, 2, "\r\n") != 0) return "";
  const size_t previous = log.rfind("\r\n", log.size() - 3);
  const size_t start = previous == std::string::npos ? 0 : previous + 2;
  const std::string line = log.substr(start, log.size() - 2 - start);
  const size_t marker = line.find(": ");
  return marker == std::string::npos ? line : line.substr(marker + 2);
}

bool Contains(const std::string& log, const std::string& text) {
  return log.find(text) != std::string::npos;
}

// Writes profile.json and directory.ldif: a chain of `depth` lists under
// chain0@sig.example, list i holding `persons` persons, then list i+1.
void WriteChainOrganisation(const fs::path& dir, int depth, int persons) {
  const std::string base = "DC=sig,DC=example";
  const std::string schema = "CN=Schema,CN=Configuration," + base;
  const std::string odn = "/o=Sig/ou=First Administrative Group/cn=Recipients/cn=";
  std::ofstream ldif(dir / "directory.ldif", std::ios::binary);
  ldif << "version: 1\n\ndn: " << base << "\nobjectClass: domainDNS\ndc: sig\n\n"
       << "dn: OU=People," << base << "\nobjectClass: organizationalUnit\nou: People\n\n"
       << "dn: OU=Lists," << base << "\nobjectClass: organizationalUnit\nou: Lists\n\n";
  for (int list = 0; list < depth; ++list) {
    for (int k = 0; k < persons; ++k) {
      const std::string name = "P " + std::to_string(list) + "-" + std::to_string(k);
      const std::string nick = "p" + std::to_string(list) + "-" + std::to_string(k);
      ldif << "dn: CN=" << name << ",OU=People," << base
           << "\nobjectClass: top\nobjectClass: person\nobjectClass: user\ncn: " << name
           << "\ndisplayName: " << name << "\nmailNickname: " << nick
           << "\nobjectCategory: CN=Person," << schema << "\nlegacyExchangeDN: " << odn << nick
           << "\nmail: " << nick << "@sig.example\nproxyAddresses: SMTP:" << nick
           << "@sig.example\n\n";
    }
    const std::string nick = "chain" + std::to_string(list);
    ldif << "dn: CN=L " << list << ",OU=Lists," << base
         << "\nobjectClass: top\nobjectClass: group\ncn: L " << list << "\ndisplayName: L " << list
         << "\nmailNickname: " << nick << "\nobjectCategory: CN=Group," << schema
         << "\nlegacyExchangeDN: " << odn << nick << "\nmail: " << nick
         << "@sig.example\nproxyAddresses: SMTP:" << nick << "@sig.example\n";
    for (int k = 0; k < persons; ++k) {
      ldif << "member: CN=P " << list << "-" << k << ",OU=People," << base << "\n";
    }
    if (list + 1 < depth) ldif << "member: CN=L " << list + 1 << ",OU=Lists," << base << "\n";
    ldif << "\n";
  }
  std::ofstream(dir / "profile.json", std::ios::binary)
      << R"({"directory": "directory.ldif", "mailboxes": [{"alias": "ana", )"
      << R"("store": "Mailbox - Ana", "folders": [{"name": "Drafts"}]}]})"
      << "\n";
}

struct Exit {
  bool exited = false;  // false: killed by a signal, or by the deadline
  int status = -1;      // the exit status, or the signal's number
};

// The tarnwick binary, copied into a fresh folder with an organisation, run
// there with /s profile.json /a ana /l chain0@sig.example under LC_ALL=C.
class BinaryRun : public ::testing::Test {
 protected:
  // Long enough for a loaded sanitizer build; a run that is still going at
  // the deadline is killed and fails its test.
  static constexpr auto kDeadline = std::chrono::seconds(240);

  BinaryRun() {
    dir_ = fs::temp_directory_path() /
           ("tarnwick-signal-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(TARNWICK_BINARY, dir_ / "tarnwick");
  }
  ~BinaryRun() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  // Starts the run. Standard output goes to `stdout_fd` (a file "out" in the
  // folder when -1), standard error to "err". An address-space limit in
  // bytes is set in the child before it becomes tarnwick.
  void Start(int stdout_fd = -1, rlim_t address_space = RLIM_INFINITY) {
    // Everything the child needs is built before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    const std::string program = (dir_ / "tarnwick").string();
    const std::string out = (dir_ / "out").string();
    const std::string err = (dir_ / "err").string();
    const std::string folder = dir_.string();
    std::vector<std::string> arguments = {program, "/s", "profile.json",      "/a",
                                          "ana",   "/l", "chain0@sig.example"};
    std::vector<std::string> environment = {"LC_ALL=C"};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry(*e);
      if (entry.rfind("LC_", 0) != 0 && entry.rfind("LANG", 0) != 0) environment.push_back(entry);
    }
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // The test runner may ignore or block signals (SIGPIPE among them),
      // and both survive exec: give the program a process as a shell would.
      struct sigaction initial {};
      initial.sa_handler = SIG_DFL;
      sigemptyset(&initial.sa_mask);
      for (int signal : {SIGPIPE, SIGINT, SIGTERM}) ::sigaction(signal, &initial, nullptr);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      if (address_space != RLIM_INFINITY) {
        const rlimit limit{address_space, address_space};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) _exit(120);
      }
      if (::chdir(folder.c_str()) != 0) _exit(121);
      const int out_fd =
          stdout_fd >= 0 ? stdout_fd : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out_fd < 0 || err_fd < 0) _exit(122);
      if (::dup2(out_fd, STDOUT_FILENO) < 0 || ::dup2(err_fd, STDERR_FILENO) < 0) _exit(123);
      ::execve(program.c_str(), argv.data(), envp.data());
      _exit(124);
    }
    started_ = Clock::now();
  }

  std::string Log() const { return ReadFile(dir_ / "Tarnwick.log"); }
  std::string Err() const { return ReadFile(dir_ / "err"); }

  // Waits until the log holds the text; false when the run ended first or
  // the deadline passed.
  bool WaitForLog(const std::string& text) {
    while (Clock::now() - started_ < kDeadline) {
      if (Log().find(text) != std::string::npos) return true;
      if (::waitpid(pid_, &raw_status_, WNOHANG) == pid_) {
        pid_ = -1;
        return Log().find(text) != std::string::npos;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  void Signal(int signal) {
    ASSERT_GT(pid_, 0) << "the run ended before the signal";
    ASSERT_EQ(::kill(pid_, signal), 0);
  }

  // Waits for the run to end; kills it at the deadline.
  Exit Wait() {
    if (pid_ > 0) {
      while (Clock::now() - started_ < kDeadline) {
        if (::waitpid(pid_, &raw_status_, WNOHANG) == pid_) {
          pid_ = -1;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (pid_ > 0) {
        ADD_FAILURE() << "the run did not end before the deadline; killed";
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return {};
      }
    }
    Exit result;
    result.exited = WIFEXITED(raw_status_);
    result.status = result.exited ? WEXITSTATUS(raw_status_)
                                  : (WIFSIGNALED(raw_status_) ? WTERMSIG(raw_status_) : -1);
    return result;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  int raw_status_ = 0;
  Clock::time_point started_;
};

// A chain whose walk takes seconds in a release build: 10,000 lists deep,
// 60,000 log lines.
constexpr int kLongDepth = 10000;
constexpr int kLongPersons = 5;
constexpr char kWalkStarted[] = "KVL::AddToSourceMCL:expanding DL L 0\r\n";
std::string LastPersonLine() {
  return "reading properties for P " + std::to_string(kLongDepth - 1) + "-" +
         std::to_string(kLongPersons - 1) + "\r\n";
}

TEST_F(BinaryRun, SigintMidWalkStopsTheRunWithStatus130) {
  WriteChainOrganisation(dir_, kLongDepth, kLongPersons);
  Start();
  ASSERT_TRUE(WaitForLog(kWalkStarted)) << Err();
  Signal(SIGINT);
  const Exit exit = Wait();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 130);
  EXPECT_EQ(Err(), "tarnwick: stopped early by SIGINT; the run did not finish\n");
  const std::string log = Log();
  EXPECT_EQ(LastMessage(log), "complete");
  // The walk was left early, not finished before "complete".
  EXPECT_FALSE(Contains(log, LastPersonLine())) << "the walk ran to its end";
}

TEST_F(BinaryRun, SigtermMidWalkStopsTheRunWithStatus143) {
  WriteChainOrganisation(dir_, kLongDepth, kLongPersons);
  Start();
  ASSERT_TRUE(WaitForLog(kWalkStarted)) << Err();
  Signal(SIGTERM);
  const Exit exit = Wait();
  EXPECT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 143);
  EXPECT_EQ(Err(), "tarnwick: stopped early by SIGTERM; the run did not finish\n");
  EXPECT_EQ(LastMessage(Log()), "complete");
  EXPECT_FALSE(Contains(Log(), LastPersonLine())) << "the walk ran to its end";
}

TEST_F(BinaryRun, ReaderThatLeavesEarlyCostsOnlyTheEcho) {
  constexpr int kDepth = 500;
  constexpr int kPersons = 50;  // 25,500 log lines
  WriteChainOrganisation(dir_, kDepth, kPersons);
  int pipe_fds[2];
  // Close-on-exec, so that the child holds only the write end it is given.
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  Start(pipe_fds[1]);
  ::close(pipe_fds[1]);
  // As `head -1` does: read the first line, then go.
  char c = 0;
  while (::read(pipe_fds[0], &c, 1) == 1 && c != '\n') {
  }
  ::close(pipe_fds[0]);
  const Exit exit = Wait();
  EXPECT_TRUE(exit.exited) << "ended by signal " << exit.status;
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(Err(), "");
  const std::string log = Log();
  EXPECT_TRUE(Contains(log, "reading properties for P " + std::to_string(kDepth - 1) + "-" +
                                std::to_string(kPersons - 1) + "\r\n"))
      << "the log misses the last person";
  EXPECT_EQ(LastMessage(log), "complete");
}

TEST_F(BinaryRun, AddressSpaceLimitEndsInCompleteOrALoggedOutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space at start; no limit fits";
#else
  // One list of 25,000 members.
  WriteChainOrganisation(dir_, 1, 25000);
  const std::string last_member = "reading properties for P 0-24999\r\n";

  // Where the run used to end in std::terminate: the stack took the heap's
  // room. It fits with room to spare now.
  Start(-1, rlim_t{600000} * 1024);
  Exit exit = Wait();
  ASSERT_TRUE(exit.exited) << "ended by signal " << exit.status << "\n" << Err();
  EXPECT_EQ(exit.status, 0) << Err();
  EXPECT_TRUE(Contains(Log(), last_member)) << "the list was not walked to its end";
  EXPECT_EQ(LastMessage(Log()), "complete");

  // Too little for the organisation: a status and a line that say so.
  fs::remove(dir_ / "Tarnwick.log");
  Start(-1, rlim_t{150000} * 1024);
  exit = Wait();
  ASSERT_TRUE(exit.exited) << "ended by signal " << exit.status << "\n" << Err();
  if (exit.status == 1) {
    EXPECT_EQ(LastMessage(Log()), "[Error] out of memory");
    EXPECT_THAT(Err(), EndsWith("tarnwick: out of memory; the run did not finish\n"));
  } else {
    // An allocation that fails inside the loader can also surface as a
    // refused profile; the run then goes on as one without a logon.
    EXPECT_EQ(exit.status, 0) << Err();
    EXPECT_EQ(LastMessage(Log()), "complete");
  }
#endif
}

}  // namespace
