// The KVL object's construction, and the engine's value and text helpers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "platform/messaging.h"
#include "tests/support/engine_world.h"
#include "tests/support/kvl_probe.h"

namespace {

using platform::Variant;
using tarnwick_test::EngineWorld;
using tarnwick_test::Person;
using ::testing::ElementsAre;

TEST(KvlObject, ConstructionLogsOneLineAndDestructionNone) {
  EngineWorld world("");
  world.Logon();
  { KVL kvl; }
  EXPECT_THAT(world.Out(), ElementsAre("KVL::Class_Initialize:instantiated MAPIUtils object"));
}

TEST(KvlObject, MissingHelperLibraryGivesOneErrorLineWithNumberAndDescription) {
  EngineWorld world("", R"({"directory": "d.ldif", "helperLibrary": false,
                            "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana"}]})");
  world.Logon();
  { KVL kvl; }
  EXPECT_THAT(world.Out(), ElementsAre("KVL::Class_Initialize:error instantiating MAPIUtils "
                                       "object 429 ActiveX component can't create object"));
  EXPECT_THAT(world.Process().LogLines(),
              ElementsAre("12/31/2008 11:59:07 PM: [Error] KVL::Class_Initialize:error "
                          "instantiating MAPIUtils object 429 ActiveX component can't create "
                          "object"));
}

class Helpers : public ::testing::Test {
 protected:
  Helpers() : world_(Person("Ada", "ada", "ada@t.example")) {
    world_.Logon();
    kvl_ = std::make_unique<KVL>();
  }
  KvlProbe Probe() { return KvlProbe(*kvl_); }

  EngineWorld world_;
  std::unique_ptr<KVL> kvl_;
};

TEST_F(Helpers, QuotingForRecordFilters) {
  auto p = Probe();
  EXPECT_EQ(p.QuoteFilterValue(Variant("O'Brien")), "O''Brien");
  EXPECT_EQ(p.QuoteFilterValue(Variant("O''Brien")), "O''Brien");
  EXPECT_EQ(p.QuoteFilterValue(Variant("O'''Brien")), "O''Brien");
  EXPECT_EQ(p.QuoteFilterValue(Variant("''O'Brien''")), "O''Brien");
  EXPECT_EQ(p.QuoteFilterValue(Variant("'abc'")), "abc");
  EXPECT_EQ(p.QuoteFilterValue(Variant("'''")), "");
  EXPECT_EQ(p.QuoteFilterValue(Variant("50%_x")), "50#25#95x");
  EXPECT_EQ(p.QuoteFilterValue(Variant(Variant::Null{})), "");
  EXPECT_EQ(p.StripQuotes(Variant("'a'b'")), "a'b");
  EXPECT_EQ(p.StripQuotes(Variant(int32_t{42})), "42");
}

TEST_F(Helpers, PatternEscapesRoundTripUnlessTheTextHeldThem) {
  auto p = Probe();
  EXPECT_EQ(p.EscapeLike("100%_done"), "100#25#95done");
  EXPECT_EQ(p.UnescapeLike(p.EscapeLike("100%_done")), "100%_done");
  EXPECT_EQ(p.UnescapeLike(p.EscapeLike("tag #25 and #95")), "tag % and _");
}

TEST_F(Helpers, AddressShapes) {
  auto p = Probe();
  EXPECT_TRUE(p.IsEmailAddr(Variant("ann@x.example")));
  EXPECT_FALSE(p.IsEmailAddr(Variant("ann.lee@localhost")));  // the dot is before the "@"
  EXPECT_FALSE(p.IsEmailAddr(Variant("ann.x.example")));
  EXPECT_FALSE(p.IsEmailAddr(Variant()));
  EXPECT_TRUE(p.IsODN(Variant("/o=T/ou=G/CN=Recipients/cn=ann")));
  EXPECT_TRUE(p.IsODN(Variant("/O=T/CN=ANN")));
  EXPECT_FALSE(p.IsODN(Variant("ann@x.example")));
  EXPECT_TRUE(p.IsNullText("<NULL>"));
  EXPECT_FALSE(p.IsNullText(""));
}

TEST_F(Helpers, HexadecimalForms) {
  auto p = Probe();
  EXPECT_EQ(p.StrToHex("abc"), "616263");
  EXPECT_EQ(p.StrToHex(""), "");
  EXPECT_EQ(p.StrToHex("\n\xC3\xA9"), "0AE9");  // e-acute is one narrow character
  EXPECT_EQ(p.StrToHex("\xE2\x82\xAC"), "3F");  // the euro sign has no Latin-1 form
}

TEST_F(Helpers, SessionBackedHelpers) {
  auto p = Probe();
  const auto entry =
      basGlobals::MAPISession->GetAddressEntry(basGlobals::GALEntries->ItemByName("Ada")->ID());
  EXPECT_EQ(p.GetFieldVal(entry, platform::tag::kSmtpAddress), "ada@t.example");
  EXPECT_EQ(p.GetFieldVal(entry, 0x12340003), "");
  EXPECT_EQ(p.ResolveSMTP("Ada"), "ada@t.example");
  EXPECT_EQ(p.ResolveSMTP("Someone@Elsewhere.example"), "someone@elsewhere.example");
  EXPECT_EQ(p.ResolveSMTP("Nobody At All"), "nobody at all");
}

}  // namespace
