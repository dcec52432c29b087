// The list road from the command line to the log: source pieces, persons,
// ordinary lists, repeats and cycles, run in process through modTest::Main
// on organisations built in code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/modtest.h"
#include "platform/error.h"
#include "tests/support/engine_world.h"

namespace {

using platform::memory::OpenCounts;
using tarnwick_test::EngineWorld;
using tarnwick_test::Group;
using tarnwick_test::ListDn;
using tarnwick_test::Person;
using tarnwick_test::PersonDn;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kOdn[] = "/o=T/ou=First Administrative Group/cn=Recipients/cn=";

std::string Odn(const std::string& nick) { return kOdn + nick; }

std::string TwoPeopleAndNestedLists() {
  return Person("Ada", "ada", "ada@t.example") + Person("Bo", "bo", "bo@t.example") +
         Group("Inner", "inner", "inner@t.example", {PersonDn("Ada")}) +
         Group("Outer", "outer", "outer@t.example", {ListDn("Inner"), PersonDn("Bo")});
}

TEST(ListRoad, NestedListsAreWalkedDepthFirstInMemberOrder) {
  EngineWorld world(TwoPeopleAndNestedLists());
  EXPECT_EQ(world.RunList("outer@t.example"), modTest::kExitComplete);
  EXPECT_THAT(
      world.Out(),
      ElementsAre(
          "logging on using test\\ana", "KVL::Class_Initialize:instantiated MAPIUtils object",
          "KVL::ParseSourceMCL:expanding outer@t.example",
          "KVL::GetExAE:CreateRecipient for outer@t.example returned Address = " + Odn("outer") +
              "; AddressEntry.Type = EX",
          "KVL::ParseSourceMCL:adding Outer", "KVL::AddToSourceMCL:expanding DL Outer",
          "KVL::AddToSourceMCL:expanding DL Inner",
          "KVL::AddToSourceMCL:reading properties for Ada",
          "KVL::AddToSourceMCL:reading properties for Bo", "complete"));
  // The file holds the same messages, each behind a time stamp and marker.
  const auto lines = world.Process().LogLines();
  ASSERT_EQ(lines.size(), world.Out().size() - 1);  // the logon line is not a log message
  EXPECT_EQ(lines.back(), "12/31/2008 11:59:07 PM: complete");
}

TEST(ListRoad, ListsThatReachThemselvesAreExpandedOnce) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example") +
                    Group("Self", "self", "self@t.example", {ListDn("Self"), PersonDn("Ada")}) +
                    Group("Top", "top", "top@t.example", {ListDn("Middle")}) +
                    Group("Middle", "middle", "middle@t.example", {ListDn("Bottom")}) +
                    Group("Bottom", "bottom", "bottom@t.example", {ListDn("Top")}));
  world.RunList("self@t.example;top@t.example");
  EXPECT_THAT(
      world.OutWith("KVL::AddToSourceMCL:"),
      ElementsAre("KVL::AddToSourceMCL:expanding DL Self",
                  "KVL::AddToSourceMCL:skipping repeat expansion of DL Self",
                  "KVL::AddToSourceMCL:reading properties for Ada",
                  "KVL::AddToSourceMCL:expanding DL Top", "KVL::AddToSourceMCL:expanding DL Middle",
                  "KVL::AddToSourceMCL:expanding DL Bottom",
                  "KVL::AddToSourceMCL:skipping repeat expansion of DL Top"));
}

TEST(ListRoad, RepeatsWithinOneSourceAndEmptyListsStayRegistered) {
  EngineWorld world(TwoPeopleAndNestedLists() + Group("Empty", "empty", "empty@t.example", {}));
  world.RunList("inner@t.example;Inner;empty@t.example;Empty");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:expanding DL Inner",
                          "KVL::AddToSourceMCL:reading properties for Ada",
                          "KVL::AddToSourceMCL:skipping repeat expansion of DL Inner",
                          "KVL::AddToSourceMCL:skipping DL Empty because it has no members",
                          "KVL::AddToSourceMCL:skipping repeat expansion of DL Empty"));
}

TEST(ListRoad, ListsWithoutSmtpAddressAreToldApartByTheirAddress) {
  // Two different lists without an SMTP address: both must be expanded, and
  // each reported with its warning; meeting one again is a repeat.
  EngineWorld world(TwoPeopleAndNestedLists() + Group("NoMailA", "nomaila", "", {PersonDn("Ada")}) +
                    Group("NoMailB", "nomailb", "", {PersonDn("Bo")}));
  world.RunList("NoMailA;NoMailB;NoMailA");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:skipping NoMailA: no SMTP address",
                          "KVL::AddToSourceMCL:expanding DL NoMailA",
                          "KVL::AddToSourceMCL:reading properties for Ada",
                          "KVL::AddToSourceMCL:skipping NoMailB: no SMTP address",
                          "KVL::AddToSourceMCL:expanding DL NoMailB",
                          "KVL::AddToSourceMCL:reading properties for Bo",
                          "KVL::AddToSourceMCL:skipping repeat expansion of DL NoMailA"));
}

TEST(ListRoad, DisplayTypesDecideWhatAnEntryIs) {
  std::string records;
  for (const int type : {2, 5, 7, 8}) {
    const std::string cn = "Type" + std::to_string(type);
    records += Person(cn, "type" + std::to_string(type), cn + "@t.example",
                      "msExchRecipientDisplayType: " + std::to_string(type) + "\n");
  }
  records += Person("Remote", "remote", "remote@t.example", "msExchRecipientDisplayType: 6\n");
  records +=
      Group("Org", "org", "org@t.example", {PersonDn("Remote")}, "msExchRecipientDisplayType: 4\n");
  EngineWorld world(records);
  world.RunList("Type2;Type5;Type7;Type8;Org");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:expanding DL Org",
                          "KVL::AddToSourceMCL:reading properties for Remote"));
  EXPECT_THAT(world.OutWith("KVL::ParseSourceMCL:adding "), testing::SizeIs(5));
}

TEST(ListRoad, PersonWithoutAnyAddressIsSkippedWithOneWarning) {
  EngineWorld world(Person("Ada", "ada", ""));
  // The directory always gives an address-book entry its ODN; a session that
  // cannot read the entry's fields is what leaves a person without both.
  world.Faults().Inject(platform::memory::NoObject("AddressEntry.Field"));
  world.RunList("ada");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:skipping Ada:no valid email address"));
}

TEST(ListRoad, SourcePiecesEndAtTheFirstEmptyOne) {
  EngineWorld world(TwoPeopleAndNestedLists());
  world.RunList("ada@t.example;bo@t.example");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:reading properties for Ada",
                          "KVL::AddToSourceMCL:reading properties for Bo"));

  EngineWorld doubled(TwoPeopleAndNestedLists());
  doubled.RunList("ada@t.example;;bo@t.example");
  EXPECT_THAT(doubled.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:reading properties for Ada"));

  EngineWorld trailing(TwoPeopleAndNestedLists());
  trailing.RunList("ada@t.example;");
  EXPECT_THAT(trailing.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:reading properties for Ada"));
  EXPECT_EQ(trailing.Out().back(), "complete");
}

TEST(ListRoad, EmptySourceLogsOnlyTheExpandingLine) {
  EngineWorld world(TwoPeopleAndNestedLists());
  EXPECT_EQ(world.RunMain("/s test /a ana"), modTest::kExitComplete);
  EXPECT_THAT(world.Out(), ElementsAre("logging on using test\\ana",
                                       "KVL::Class_Initialize:instantiated MAPIUtils object",
                                       "KVL::ParseSourceMCL:expanding ", "complete"));
}

TEST(ListRoad, PieceWithLeadingBlankIsPassedWithIt) {
  EngineWorld world(TwoPeopleAndNestedLists());
  world.RunList("ada@t.example; bo@t.example");
  EXPECT_THAT(world.OutWith("KVL::GetExAE:"),
              ElementsAre("KVL::GetExAE:CreateRecipient for ada@t.example returned Address = " +
                              Odn("ada") + "; AddressEntry.Type = EX",
                          "KVL::GetExAE:CreateRecipient for  bo@t.example returned Address = " +
                              Odn("bo") + "; AddressEntry.Type = EX"));
}

TEST(ListRoad, OdnPieceTakesTheSessionPathWithExPrefix) {
  // Without the helper library every piece takes the session path; a piece
  // holding "=" is resolved as "EX:" + the piece.
  EngineWorld world(TwoPeopleAndNestedLists(),
                    R"({"directory": "d.ldif", "helperLibrary": false,
                        "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana"}]})");
  // The command line cuts a value at " /", so the ODN is not the first piece.
  world.RunList("Outer;" + Odn("bo"));
  EXPECT_THAT(
      world.Out(),
      ElementsAre(
          "logging on using test\\ana",
          "KVL::Class_Initialize:error instantiating MAPIUtils object 429 "
          "ActiveX component can't create object",
          "KVL::ParseSourceMCL:expanding Outer;" + Odn("bo"),
          "KVL::ParseSourceMCL:using CDO to resolve Outer", "KVL::ParseSourceMCL:adding Outer",
          "KVL::AddToSourceMCL:expanding DL Outer", "KVL::AddToSourceMCL:expanding DL Inner",
          "KVL::AddToSourceMCL:reading properties for Ada",
          "KVL::AddToSourceMCL:reading properties for Bo",
          "KVL::ParseSourceMCL:using CDO to resolve " + Odn("bo"), "KVL::ParseSourceMCL:adding Bo",
          "KVL::AddToSourceMCL:reading properties for Bo", "complete"));
}

TEST(ListRoad, AddressOutsideTheOrganisationIsSkippedWithItsType) {
  EngineWorld world(TwoPeopleAndNestedLists());
  world.RunList("someone@elsewhere.example");
  EXPECT_THAT(world.OutWith("KVL::"),
              ElementsAre("KVL::Class_Initialize:instantiated MAPIUtils object",
                          "KVL::ParseSourceMCL:expanding someone@elsewhere.example",
                          "KVL::GetExAE:CreateRecipient for someone@elsewhere.example returned "
                          "Address = someone@elsewhere.example; AddressEntry.Type = SMTP",
                          "KVL::ParseSourceMCL:using CDO to resolve someone@elsewhere.example",
                          "KVL::ParseSourceMCL: skipping someone@elsewhere.example; invalid "
                          "AddressType:SMTP"));
  EXPECT_EQ(world.OpenObjects(), OpenCounts{});
}

TEST(ListRoad, UnresolvableAndAmbiguousNamesAreReportedAndSkipped) {
  EngineWorld world(TwoPeopleAndNestedLists() + Person("Ada Twin", "adatwin", "twin@t.example"));
  world.RunList("Nobody Here;Ad;bo@t.example");
  const std::string not_found = platform::StandardDescription(platform::errnum::kNotFound);
  const std::string ambiguous = platform::StandardDescription(platform::errnum::kAmbiguousRecip);
  EXPECT_THAT(
      world.OutWith("KVL::ParseSourceMCL:"),
      ElementsAre(
          "KVL::ParseSourceMCL:expanding Nobody Here;Ad;bo@t.example",
          "KVL::ParseSourceMCL:using CDO to resolve Nobody Here",
          "KVL::ParseSourceMCL: unable to retrieve EX AddressEntry for Nobody Here " + not_found,
          "KVL::ParseSourceMCL:using CDO to resolve Ad",
          "KVL::ParseSourceMCL: unable to retrieve EX AddressEntry for Ad " + ambiguous,
          "KVL::ParseSourceMCL:adding Bo"));
  EXPECT_THAT(world.OutWith("KVL::GetExAE:nothing returned by CreateRecipient for "),
              ElementsAre("KVL::GetExAE:nothing returned by CreateRecipient for Nobody Here ",
                          "KVL::GetExAE:nothing returned by CreateRecipient for Ad "));
  EXPECT_EQ(world.OpenObjects(), OpenCounts{});
}

TEST(ListRoad, FailedLogonStillEndsWithComplete) {
  EngineWorld world(TwoPeopleAndNestedLists());
  EXPECT_EQ(world.RunMain("/s test /a nobody /l ada@t.example"), modTest::kExitComplete);
  const auto out = world.Out();
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0], "logging on using test\\nobody");
  // The helper object is made, but there is no logon to hand it.
  EXPECT_EQ(out[1], "KVL::Class_Initialize:instantiated MAPIUtils object");
  EXPECT_EQ(out[2], "KVL::ParseSourceMCL:expanding ada@t.example");
  EXPECT_THAT(world.OutWith("KVL::ParseSourceMCL: unable to retrieve EX AddressEntry for "),
              testing::SizeIs(1));
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"), IsEmpty());
  EXPECT_EQ(out.back(), "complete");
}

TEST(ListRoad, StopRequestEndsTheRunAfterThePieceAtHand) {
  EngineWorld world(TwoPeopleAndNestedLists());
  world.Process().RequestStop();
  world.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
  world.RunList("ada@t.example;bo@t.example");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:"),
              ElementsAre("KVL::AddToSourceMCL:reading properties for Ada"));
  EXPECT_EQ(world.Out().back(), "complete");
  EXPECT_EQ(world.OpenObjects(), OpenCounts{});
}

TEST(ListRoad, ChainOfTenThousandNestedListsExpandsToTheEnd) {
  constexpr int kDepth = 10000;
  std::string records = Person("Leaf", "leaf", "leaf@t.example");
  // Names are appended to, not built with "x" + ..., which g++ 12 at -O3
  // misreads as an overlapping copy.
  const auto numbered = [](const char* prefix, int i) {
    std::string name(prefix);
    name += std::to_string(i);
    return name;
  };
  for (int i = 0; i < kDepth; ++i) {
    const std::string member = i + 1 < kDepth ? ListDn(numbered("L", i + 1)) : PersonDn("Leaf");
    std::string mail = numbered("l", i);
    mail += "@t.example";
    records += Group(numbered("L", i), numbered("l", i), mail, {member});
  }
  EngineWorld world(records);
  world.RunList("l0@t.example");
  const auto lines = world.OutWith("KVL::AddToSourceMCL:");
  ASSERT_EQ(lines.size(), static_cast<size_t>(kDepth + 1));
  EXPECT_EQ(lines[kDepth - 1], numbered("KVL::AddToSourceMCL:expanding DL L", kDepth - 1));
  EXPECT_EQ(lines.back(), "KVL::AddToSourceMCL:reading properties for Leaf");
}

}  // namespace
