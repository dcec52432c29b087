// The host around an operation: its output forms, a stop that cuts an
// operation short, and a failure that ends one, in process on an
// organisation built in code.
#include "host/host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "tests/support/engine_world.h"

namespace {

using tarnwick_test::EngineWorld;
using tarnwick_test::Group;
using tarnwick_test::Person;
using tarnwick_test::PersonDn;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

// A temporary file for results, read back whole.
class ResultFile {
 public:
  ResultFile() : file_(std::tmpfile()) {}
  ~ResultFile() { std::fclose(file_); }
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;
  std::FILE* get() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[512];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    return text;
  }

 private:
  std::FILE* file_;
};

host::Invocation Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "tarnwick-host");
  std::ostringstream out;
  std::ostringstream err;
  int status = -1;
  host::Invocation invocation = host::ParseCommandLine(static_cast<int>(arguments.size()),
                                                       arguments.data(), out, err, status);
  EXPECT_EQ(status, 0) << err.str();
  return invocation;
}

TEST(HostOutput, TextRowsStayOneLineAndJsonStaysValid) {
  ResultFile text_file;
  host::ResultWriter text(text_file.get(), false);
  text.Row({{"name", "Tab\there\r\nand line"},
            {"ok", true},
            {"smtp", nlohmann::ordered_json::array({"a@x.example", "b@x.example"})},
            {"via", "directory", false}});
  EXPECT_TRUE(text.Finish());
  EXPECT_EQ(text_file.Text(), "Tab here  and line\ttrue\ta@x.example;b@x.example\n");

  ResultFile json_file;
  host::ResultWriter json(json_file.get(), true);
  // A byte that is not UTF-8 (a name from a Latin-1 LDIF file) is replaced,
  // not left to make the whole line unreadable, nor to end the run.
  json.Row({{"name", "Z\xfc"}, {"ok", false}, {"via", "directory", false}});
  EXPECT_TRUE(json.Finish());
  EXPECT_EQ(json_file.Text(), "{\"name\":\"Z\xef\xbf\xbd\",\"ok\":false,\"via\":\"directory\"}\n");
}

std::string Organisation() {
  return Person("Ada", "ada", "ada@t.example") + Person("Bo", "bo", "bo@t.example") +
         Group("Grp", "grp", "grp@t.example", {PersonDn("Ada"), PersonDn("Bo")});
}

TEST(HostRun, EchoesTheLogToTheErrorStreamUnlessQuiet) {
  EngineWorld world(Organisation());
  ResultFile results;
  EXPECT_EQ(host::Run(Parse({"-s", "test", "-a", "ana", "expand", "Grp"}), results.get()), 0);
  EXPECT_EQ(results.Text(),
            "Ada\tada@t.example\t/o=t/ou=first administrative group/cn=recipients/cn=ada\n"
            "Bo\tbo@t.example\t/o=t/ou=first administrative group/cn=recipients/cn=bo\n");
  EXPECT_THAT(world.Process().ErrorLines(),
              Contains("KVL::AddToSourceMCL:reading properties for Bo"));
  EXPECT_THAT(world.Process().StdoutLines(), IsEmpty());
  EXPECT_FALSE(basGlobals::MAPISession);  // released, as are the others

  EngineWorld quiet_world(Organisation());
  ResultFile quiet_results;
  EXPECT_EQ(
      host::Run(Parse({"-q", "-s", "test", "-a", "ana", "expand", "Grp"}), quiet_results.get()), 0);
  EXPECT_EQ(quiet_results.Text(), results.Text());
  EXPECT_THAT(quiet_world.Process().ErrorLines(), IsEmpty());
  EXPECT_EQ(quiet_world.Process().LogLines().size(), world.Process().LogLines().size());
}

// Two runs in one process, on two organisations: what the first set for its
// command (the configuration folder, the Mandatory Contacts settings, the
// public store it found) is gone before the second logs on.
TEST(HostRun, SettingsOfOneRunDoNotReachTheNext) {
  constexpr char kWithPublic[] = R"({"directory": "test.ldif", "mailboxes": [{"alias": "ana",
      "store": "Mailbox - Ana", "folders": [{"name": "Config", "id": "C0"}]}], "publicFolders": {"id": "5501",
      "folders": [{"name": "Mandatory Contacts", "id": "D1"}]}})";
  {
    EngineWorld first(Organisation(), kWithPublic);
    ResultFile results;
    EXPECT_EQ(host::Run(Parse({"-q", "-s", "test", "-a", "ana", "mandatory", "--mc-id", "D1"}),
                        results.get()),
              0);
    EXPECT_EQ(results.Text(), "true\tD1\tMandatory Contacts\n");
    ResultFile merged;
    EXPECT_EQ(host::Run(Parse({"-q", "-s", "test", "-a", "ana", "merge", "Mailbox - Ana\\Config"}),
                        merged.get()),
              1);
    EXPECT_FALSE(basGlobals::ConfigFolder);
    EXPECT_TRUE(basGlobals::MCFolderID.empty());
  }
  // No public store here: the identifier that the first organisation's
  // fall-back found must not be taken for this one's.
  EngineWorld second(Organisation());
  ResultFile results;
  EXPECT_EQ(host::Run(Parse({"-q", "-s", "test", "-a", "ana", "folder", "--id", "D1"}),
                      results.get()),
            1);
  EXPECT_EQ(results.Text(), "");
  EXPECT_THAT(second.Process().LogLines(),
              Contains("unable to retrieve PublicStoreID"));
}

TEST(HostRun, AStopBeforeTheEndMarksTheOutputIncomplete) {
  EngineWorld world(Organisation());
  // Served at the checkpoint before Bo (the first is before Ada): Ada is
  // printed, Bo is not.
  world.Process().RequestStopAfter(1, SIGTERM);
  world.Process().OnStopRequest([] { basGlobals::StopRequested = true; });  // as the program does
  ResultFile results;
  EXPECT_EQ(host::Run(Parse({"-q", "-s", "test", "-a", "ana", "expand", "Grp"}), results.get()),
            143);
  EXPECT_EQ(results.Text(),
            "Ada\tada@t.example\t/o=t/ou=first administrative group/cn=recipients/cn=ada\n");
  EXPECT_THAT(world.Process().ErrorLines(),
              ElementsAre("tarnwick-host: stopped early by SIGTERM; the output is incomplete"));
}

TEST(HostRun, AFailureThatEndsTheOperationIsLoggedOffStandardOutput) {
  EngineWorld world(Organisation());
  host::Invocation invocation = Parse({"-q", "-s", "test", "-a", "ana", "expand", "Grp"});
  invocation.operation = [](host::Context&) -> int { throw std::bad_alloc(); };
  ResultFile results;
  EXPECT_EQ(host::Run(invocation, results.get()), 1);
  EXPECT_EQ(results.Text(), "");
  EXPECT_THAT(world.Process().ErrorLines(),
              ElementsAre("tarnwick-host: out of memory; the run did not finish"));
  EXPECT_THAT(world.Process().StdoutLines(), Not(Contains("out of memory")));
  EXPECT_EQ(world.Process().LogLines().back(), "12/31/2008 11:59:07 PM: [Error] out of memory");
  EXPECT_FALSE(basGlobals::StdOut);
}

}  // namespace
