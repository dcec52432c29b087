// The persons an expansion hands to an attached sink: each report with its
// road and values, and a log that does not change with a sink.
#include "engine/person_sink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kvl.h"
#include "tests/support/engine_world.h"

namespace {

using engine::PersonRoad;
using tarnwick_test::EngineWorld;
using tarnwick_test::Group;
using tarnwick_test::PersonDn;
using ::testing::ElementsAre;

constexpr char kOdn[] = "/o=t/ou=first administrative group/cn=recipients/cn=";

struct Recorder final : engine::PersonSink {
  void OnPerson(const engine::ReportedPerson& person) override {
    seen.push_back(person.name + "|" + person.smtp + "|" + person.odn + "|" +
                   engine::RoadName(person.road));
  }
  std::vector<std::string> seen;
};

// Ada is met through the address book (in Grp) and again through the
// directory (the query of Q); Bo has no SMTP address; Cy's mail is written
// in mixed case.
std::string Organisation() {
  return tarnwick_test::Person("Ada", "ada", "ada@t.example", "department: Sales\n") +
         tarnwick_test::Person("Bo", "bo", "") +
         tarnwick_test::Person("Cy", "cy", "Cy.Upper@T.Example", "department: Sales\n") +
         Group("Grp", "grp", "grp@t.example", {PersonDn("Ada"), PersonDn("Bo")}) +
         tarnwick_test::QueryList("Q", "q", "q@t.example", "(department=Sales)", "");
}

constexpr char kList[] = "grp@t.example;q@t.example";

// One expansion of kList on a fresh organisation; the sink may be null.
struct Expansion {
  std::vector<std::string> out;
  std::vector<std::string> log;
};

Expansion Expand(engine::PersonSink* sink) {
  EngineWorld world(Organisation());
  world.Logon();
  {
    KVL kvl;
    kvl.AttachPersonSink(sink);
    kvl.ParseSourceMCL(kList);
  }
  return {world.Out(), world.Process().LogLines()};
}

TEST(PersonSink, SeesEveryReportedPersonWithItsRoad) {
  Recorder recorder;
  const Expansion with_sink = Expand(&recorder);
  EXPECT_THAT(recorder.seen,
              ElementsAre(std::string("Ada|ada@t.example|") + kOdn + "ada|address book",
                          std::string("Bo||") + kOdn + "bo|address book",
                          std::string("Ada|ada@t.example|") + kOdn + "ada|directory",
                          std::string("Cy|cy.upper@t.example|") + kOdn + "cy|directory"));

  // One report per line of the log, and the log is the same without a sink.
  const Expansion without_sink = Expand(nullptr);
  EXPECT_EQ(with_sink.out, without_sink.out);
  EXPECT_EQ(with_sink.log, without_sink.log);
  size_t person_lines = 0;
  for (const auto& line : without_sink.out) {
    if (line.find(":reading properties for ") != std::string::npos ||
        line.find(":adding record for ") != std::string::npos) {
      ++person_lines;
    }
  }
  EXPECT_EQ(person_lines, recorder.seen.size());
}

TEST(PersonSink, DetachedSinkHearsNothingMore) {
  Recorder recorder;
  EngineWorld world(Organisation());
  world.Logon();
  KVL kvl;
  kvl.AttachPersonSink(&recorder);
  kvl.ParseSourceMCL("grp@t.example");
  kvl.AttachPersonSink(nullptr);
  kvl.ParseSourceMCL("q@t.example");
  EXPECT_EQ(recorder.seen.size(), 2u);
}

}  // namespace
