// Source-list parsing called on a KVL object directly, so that what it
// leaves open and what one piece's failure leaves behind can be seen while
// the object still lives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/memory/open_objects.h"
#include "tests/support/engine_world.h"

namespace {

using platform::memory::OpenCounts;
using tarnwick_test::EngineWorld;
using tarnwick_test::Person;
using ::testing::ElementsAre;

std::string AdaAndBo() {
  return Person("Ada", "ada", "ada@t.example") + Person("Bo", "bo", "bo@t.example");
}

// Pieces that fail in each way the session path can fail: the scratch
// message that carried their recipients is gone when the call returns,
// while the object (and its own helper objects) still lives.
TEST(SourceList, EveryWayOutReleasesTheScratchMessage) {
  EngineWorld world(AdaAndBo());
  world.Logon();
  KVL kvl;
  const OpenCounts before = world.OpenObjects();
  kvl.ParseSourceMCL("Nobody Here;someone@elsewhere.example;ada@t.example");
  EXPECT_EQ(world.OpenObjects(), before);

  world.Faults().Inject(platform::memory::Raise("Recipient.Resolve", -5, "boom"));
  kvl.ParseSourceMCL("Nobody Here");
  EXPECT_EQ(world.OpenObjects(), before);

  world.Faults().Clear();
  world.Process().RequestStop();
  world.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
  kvl.ParseSourceMCL("Nobody Here;bo@t.example");
  EXPECT_EQ(world.OpenObjects(), before) << "a stop leaves through the same releases";
  basGlobals::StopRequested = false;
}

// A piece whose entry cannot tell its type is skipped on its own; the
// failure must not be carried to the next piece, which resolves and is
// added.
TEST(SourceList, FailedTypeReadOfOnePieceDoesNotSkipTheNext) {
  EngineWorld world(AdaAndBo());
  world.Logon();
  world.Faults().Inject(
      platform::memory::Raise("AddressEntry.Type", platform::errnum::kNotFound).Times(1));
  KVL kvl;
  kvl.ParseSourceMCL("ada@t.example;bo@t.example");
  EXPECT_THAT(world.OutWith("KVL::ParseSourceMCL:"),
              ElementsAre("KVL::ParseSourceMCL:expanding ada@t.example;bo@t.example",
                          "KVL::ParseSourceMCL: skipping Ada; invalid AddressType:",
                          "KVL::ParseSourceMCL:adding Bo"));
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:reading properties for Bo"));
}

}  // namespace
