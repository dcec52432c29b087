// Query-based lists: the look-up of the stored filter, the member query,
// the row walk, and every failure line, on organisations built in code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "platform/error.h"
#include "tests/support/engine_world.h"
#include "tests/support/kvl_probe.h"

namespace {

using platform::memory::Fault;
using tarnwick_test::EngineWorld;
using tarnwick_test::Group;
using tarnwick_test::ListDn;
using tarnwick_test::Person;
using tarnwick_test::PersonDn;
using tarnwick_test::QueryList;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kRoot[] = "GC://DC=t,DC=example";
constexpr char kPersonCategory[] = "CN=Person,CN=Schema,CN=Configuration,DC=t,DC=example";
constexpr char kSalesFilter[] = "(&(objectCategory=person)(department=Sales))";

std::string Sales() { return "department: Sales\n"; }

// Ada and Bo work in Sales, Bo outside OU=People; Cy elsewhere.
std::string SalesOrganisation(const std::string& base_dn) {
  return Person("Ada", "ada", "ada@t.example", Sales()) +
         "dn: OU=Branch,DC=t,DC=example\nobjectClass: organizationalUnit\nou: Branch\n\n"
         "dn: CN=Bo,OU=Branch,DC=t,DC=example\nobjectClass: user\ncn: Bo\ndisplayName: Bo\n"
         "mail: bo@t.example\nobjectCategory: " +
         std::string(kPersonCategory) + "\nlegacyExchangeDN: /o=T/cn=bo\ndepartment: Sales\n\n" +
         Person("Cy", "cy", "cy@t.example", "department: Engineering\n") +
         QueryList("Sales Q", "salesq", "salesq@t.example", kSalesFilter, base_dn);
}

std::vector<std::string> QueryLines(const EngineWorld& world) {
  std::vector<std::string> lines;
  for (const auto& line : world.Out()) {
    if (line.rfind("KVL::ExpandQueryDL:", 0) == 0 ||
        line.rfind("KVL::AddToSourceMCLFromQuery:", 0) == 0 ||
        line.rfind("KVL::AddToSourceMCL:", 0) == 0 || line.rfind("GetIdForODN", 0) == 0) {
      lines.push_back(line);
    }
  }
  return lines;
}

TEST(QueryExpansion, BaseDnNarrowsTheMemberQuery) {
  EngineWorld world(SalesOrganisation("OU=People,DC=t,DC=example"));
  world.RunList("salesq@t.example");
  EXPECT_THAT(QueryLines(world),
              ElementsAre("KVL::AddToSourceMCL:attempting to expand salesq@t.example as "
                          "query-based DL",
                          "KVL::ExpandQueryDL:expanding query-based DL salesq@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          std::string("KVL::ExpandQueryDL:adding row with objectCategory='") +
                              kPersonCategory + "'",
                          "KVL::AddToSourceMCLFromQuery:adding record for Ada"));
  EXPECT_EQ(world.OpenObjects(), platform::memory::OpenCounts{});
}

TEST(QueryExpansion, ListWithoutBaseDnSearchesTheWholeForest) {
  EngineWorld world(SalesOrganisation(""));
  world.RunList("salesq@t.example");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCLFromQuery:"),
              ElementsAre("KVL::AddToSourceMCLFromQuery:adding record for Ada",
                          "KVL::AddToSourceMCLFromQuery:adding record for Bo"));
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:query returned"),
              ElementsAre("KVL::ExpandQueryDL:query returned 2 rows"));
}

TEST(QueryExpansion, AddressesThatAreNoQueryBasedList) {
  EngineWorld world(SalesOrganisation(""));
  world.Logon();
  KVL kvl;
  KvlProbe probe(kvl);
  probe.StartRun();
  probe.ExpandQueryDL("ghost@t.example", true);
  probe.ExpandQueryDL("ada@t.example", true);
  EXPECT_THAT(
      world.OutWith("KVL::ExpandQueryDL:"),
      ElementsAre(std::string("KVL::ExpandQueryDL:no query returned on lookup for "
                              "ghost@t.example;address is not a query-based DL in domain ") +
                      kRoot,
                  "KVL::ExpandQueryDL:no query returned on lookup for "
                  "ada@t.example;address is not a query-based DL"));
}

TEST(QueryExpansion, LookupValueIsEscapedSoPatternsMatchOnlyThemselves) {
  // Without escaping, "sales*@t.example" would find the plain list first
  // (it comes first and its mail fits the pattern) and read no filter there.
  EngineWorld world(Group("Sales Plain", "salesplain", "salesplain@t.example", {}) +
                    Person("Ada", "ada", "ada@t.example", Sales()) +
                    QueryList("Star Q", "starq", "sales*@t.example", kSalesFilter, ""));
  world.RunList("Star Q");
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:"),
              ElementsAre("KVL::ExpandQueryDL:expanding query-based DL sales*@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          std::string("KVL::ExpandQueryDL:adding row with objectCategory='") +
                              kPersonCategory + "'"));
}

TEST(QueryExpansion, QueryListsThatMatchEachOtherEndInARepeat) {
  EngineWorld world(QueryList("Q1", "q1", "q1@t.example", "(mailNickname=q2)", "") +
                    QueryList("Q2", "q2", "q2@t.example", "(mailNickname=q1)", ""));
  world.RunList("q1@t.example");
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:"),
              ElementsAre("KVL::ExpandQueryDL:expanding query-based DL q1@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          "KVL::ExpandQueryDL:expanding member query-based DL named 'Q2'",
                          "KVL::ExpandQueryDL:expanding query-based DL q2@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          "KVL::ExpandQueryDL:skipping repeat expansion of Q1"));
  EXPECT_EQ(world.Out().back(), "complete");
}

TEST(QueryExpansion, MemberListIsExpandedThroughTheAddressBookOnce) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example") +
                    Group("Grp", "grp", "grp@t.example", {PersonDn("Ada")}) +
                    QueryList("Q1", "q1", "q1@t.example", "(mailNickname=grp)", "") +
                    QueryList("Q2", "q2", "q2@t.example", "(mailNickname=grp)", ""));
  world.RunList("q1@t.example;q2@t.example");
  EXPECT_THAT(QueryLines(world),
              ElementsAre("KVL::AddToSourceMCL:attempting to expand q1@t.example as query-based DL",
                          "KVL::ExpandQueryDL:expanding query-based DL q1@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          "KVL::ExpandQueryDL:expanding member DL named 'Grp'",
                          "KVL::AddToSourceMCL:reading properties for Ada",
                          "KVL::AddToSourceMCL:attempting to expand q2@t.example as query-based DL",
                          "KVL::ExpandQueryDL:expanding query-based DL q2@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          "KVL::ExpandQueryDL:skipping repeat expansion of Grp"));
}

// Member lists are registered under their mail without regard to case, as
// the lists named in the source are: a list met first by name and then as a
// query row written in another case is a repeat.
TEST(QueryExpansion, MemberListKeyIgnoresTheCaseOfItsMail) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example") +
                    Group("Grp", "grp", "Grp@T.Example", {PersonDn("Ada")}) +
                    QueryList("Q1", "q1", "q1@t.example", "(mailNickname=grp)", ""));
  world.RunList("grp@t.example;q1@t.example");
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:"),
              ElementsAre("KVL::ExpandQueryDL:expanding query-based DL q1@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          "KVL::ExpandQueryDL:skipping repeat expansion of Grp"));
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCL:reading"),
              ElementsAre("KVL::AddToSourceMCL:reading properties for Ada"));
}

// The row walk yields after each row and leaves at a stop: the rows after
// it are not handed on, and the connection and record set are closed.
TEST(QueryExpansion, StopDuringTheRowWalkEndsItAfterTheRowAtHand) {
  EngineWorld world(SalesOrganisation(""));
  world.Logon();
  KVL kvl;
  KvlProbe probe(kvl);
  probe.StartRun();
  const platform::memory::OpenCounts before = world.OpenObjects();
  world.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
  world.Process().RequestStopAfter(0);
  probe.ExpandQueryDL("salesq@t.example", true);
  EXPECT_TRUE(basGlobals::StopRequested);
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:adding row"), testing::SizeIs(1));
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCLFromQuery:"),
              ElementsAre("KVL::AddToSourceMCLFromQuery:adding record for Ada"));
  EXPECT_EQ(world.OpenObjects(), before);
}

TEST(QueryExpansion, MemberListMissingFromTheAddressBookIsWarnedAbout) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example") +
                    Group("Grp", "grp", "grp@t.example", {PersonDn("Ada")},
                          "msExchHideFromAddressLists: TRUE\n") +
                    QueryList("Q1", "q1", "q1@t.example", "(mailNickname=grp)", ""));
  world.RunList("q1@t.example");
  EXPECT_THAT(
      world.OutWith("KVL::ExpandQueryDL:unable"),
      ElementsAre("KVL::ExpandQueryDL:unable to retrieve address entry for DL named 'Grp'"));
}

TEST(QueryExpansion, RowsOfOtherCategoriesAreIgnored) {
  EngineWorld world(
      "dn: CN=Card,OU=People,DC=t,DC=example\nobjectClass: contact\ncn: Card\n"
      "objectCategory: CN=Contact,CN=Schema,CN=Configuration,DC=t,DC=example\n"
      "department: Sales\n\n" +
      QueryList("Q1", "q1", "q1@t.example", "(department=sales)", "OU=People,DC=t,DC=example"));
  world.RunList("q1@t.example");
  EXPECT_THAT(world.OutWith("KVL::ExpandQueryDL:ignoring"),
              ElementsAre("KVL::ExpandQueryDL:ignoring row with objectCategory='CN=Contact,"
                          "CN=Schema,CN=Configuration,DC=t,DC=example'"));
}

TEST(QueryExpansion, WithoutAddRowsOnlyListsAreFollowed) {
  EngineWorld world(
      Person("Ada", "ada", "ada@t.example", Sales()) +
      Group("Grp", "grp", "grp@t.example", {PersonDn("Ada")}, Sales()) +
      QueryList("Inner Q", "innerq", "innerq@t.example", "(mailNickname=ada)", "") +
      QueryList("Q1", "q1", "q1@t.example", "(|(department=Sales)(mailNickname=innerq))", ""));
  world.Logon();
  KVL kvl;
  KvlProbe probe(kvl);
  probe.StartRun();
  probe.ExpandQueryDL("q1@t.example", false);
  EXPECT_THAT(QueryLines(world),
              ElementsAre("KVL::ExpandQueryDL:expanding query-based DL q1@t.example",
                          "KVL::ExpandQueryDL:query returned 3 rows",
                          std::string("KVL::ExpandQueryDL:adding row with objectCategory='") +
                              kPersonCategory + "'",
                          "KVL::ExpandQueryDL:expanding member DL named 'Grp'",
                          "KVL::ExpandQueryDL:expanding member query-based DL named 'Inner Q'",
                          "KVL::ExpandQueryDL:expanding query-based DL innerq@t.example",
                          "KVL::ExpandQueryDL:query returned 1 rows",
                          std::string("KVL::ExpandQueryDL:adding row with objectCategory='") +
                              kPersonCategory + "'"));
  EXPECT_TRUE(probe.Registered("grp@t.example"));
  EXPECT_TRUE(probe.Registered("innerq@t.example"));
}

TEST(QueryExpansion, PersonRowWithoutLegacyDnIsStillAdded) {
  EngineWorld world(
      "dn: CN=Loose,OU=People,DC=t,DC=example\nobjectClass: user\ncn: Loose\n"
      "objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=t,DC=example\n"
      "department: Sales\n\n" +
      QueryList("Q1", "q1", "q1@t.example", "(department=Sales)", ""));
  world.RunList("q1@t.example");
  EXPECT_THAT(world.OutWith("KVL::AddToSourceMCLFromQuery:"),
              ElementsAre("KVL::AddToSourceMCLFromQuery:adding record for Loose"));
  EXPECT_THAT(world.OutWith("GetIdForODN"), IsEmpty());
}

// Each failure of the directory side gives its one line, and the run goes on.
struct FailureCase {
  Fault fault;
  std::string expected;  // the one line the failure leaves
  size_t records = 0;    // rows handed on before the failure
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.fault.operation; }

class QueryFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(QueryFailures, EachFailureIsReportedOnceAndTheRunCompletes) {
  const FailureCase& c = GetParam();
  EngineWorld world(SalesOrganisation(""));
  world.Faults().Inject(c.fault);
  world.RunList("salesq@t.example");
  const auto lines = world.Out();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), c.expected), 1) << testing::PrintToString(lines);
  EXPECT_EQ(world.OutWith("KVL::AddToSourceMCLFromQuery:").size(), c.records);
  EXPECT_EQ(lines.back(), "complete");
  // Whatever the failure, the connection and record sets were closed.
  EXPECT_EQ(world.OpenObjects(), platform::memory::OpenCounts{});
}

const std::string kServerDown =
    std::to_string(platform::errnum::kServerNotOperational) + " " +
    platform::StandardDescription(platform::errnum::kServerNotOperational);
const std::string kNoSuchObject = std::to_string(platform::errnum::kNoSuchObject) + " " +
                                  platform::StandardDescription(platform::errnum::kNoSuchObject);
const std::string kBadCommand = std::to_string(platform::errnum::kBadCommand) + " " +
                                platform::StandardDescription(platform::errnum::kBadCommand);
const std::string kLookupText = std::string("<") + kRoot +
                                ">;((mail=salesq@t.example));msExchDynamicDLFilter,"
                                "msExchDynamicDLBaseDN;subTree";

INSTANTIATE_TEST_SUITE_P(
    Directory, QueryFailures,
    ::testing::Values(
        FailureCase{platform::memory::Raise("CreateObject:ADODB.Connection",
                                            platform::errnum::kClassNotRegistered),
                    "KVL::ExpandQueryDL:unable to create ADO connection object 429 ActiveX "
                    "component can't create object"},
        FailureCase{platform::memory::NoObject("CreateObject:ADODB.Connection"),
                    "KVL::ExpandQueryDL:unable to create ADO connection object 0 "},
        FailureCase{
            platform::memory::Raise("Connection.Open", platform::errnum::kServerNotOperational),
            "KVL::ExpandQueryDL:error opening Active Directory Provider " + kServerDown},
        FailureCase{platform::memory::Raise("CreateObject:ADODB.Command",
                                            platform::errnum::kClassNotRegistered),
                    "KVL::ExpandQueryDL:unable to create ADO Command object 429 ActiveX "
                    "component can't create object"},
        FailureCase{platform::memory::Raise("DirectoryBinder.Bind",
                                            platform::errnum::kServerNotOperational),
                    "KVL::GetRootADsPath:unable to create rootDSE object " + kServerDown},
        FailureCase{platform::memory::NoObject("DirectoryBinder.Bind"),
                    "KVL::GetRootADsPath:unable to create rootDSE object 0 "},
        FailureCase{
            platform::memory::Raise("DirectoryObject.Get", platform::errnum::kPropertyNotFound),
            "KVL::GetRootADsPath:error retrieving rootDomainNamingContext " +
                std::to_string(platform::errnum::kPropertyNotFound) + " " +
                platform::StandardDescription(platform::errnum::kPropertyNotFound)},
        FailureCase{platform::memory::Raise("DirectoryBinder.Bind", platform::errnum::kNoSuchObject)
                        .Skip(1),
                    "KVL::GetRootADsPath:error retrieving Domain object using DC=t,DC=example: " +
                        kNoSuchObject},
        FailureCase{
            platform::memory::Raise("Command.Execute", platform::errnum::kBadCommand),
            "KVL::ExpandQueryDL:error executing query (" + kLookupText + "): " + kBadCommand},
        FailureCase{
            platform::memory::Raise("Command.Execute", platform::errnum::kBadCommand).Skip(1),
            "KVL::ExpandQueryDL:error running query for salesq@t.example: " + kBadCommand},
        FailureCase{platform::memory::NoObject("Recordset.State").Skip(1),
                    std::string("KVL::ExpandQueryDL:no results returned on <") + kRoot + ">;" +
                        kSalesFilter +
                        ";name,mail,legacyExchangeDN,mobile,telephoneNumber,"
                        "facsimileTelephoneNumber,homePhone,pager,otherTelephone,otherHomePhone,"
                        "title,company,department,physicalDeliveryOfficeName,streetAddress,l,st,"
                        "postalCode,co,givenName,sn,objectCategory;subTree"},
        FailureCase{platform::memory::Raise("Recordset.MoveNext", 3021),
                    "KVL::ExpandQueryDL:error moving to the next row of the query for "
                    "salesq@t.example: 3021 " +
                        platform::StandardDescription(3021),
                    1}));

TEST(QueryExpansion, RootDiscoveryFailsWithoutGlobalCatalog) {
  EngineWorld world(SalesOrganisation(""),
                    R"({"directory": "d.ldif", "globalCatalog": false,
                        "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana"}]})");
  world.RunList("salesq@t.example");
  EXPECT_THAT(
      world.OutWith("KVL::"),
      testing::IsSupersetOf({"KVL::GetRootADsPath:unable to create rootDSE object " + kServerDown,
                             std::string("KVL::ExpandQueryDL:failed to get root query path")}));
}

TEST(RootDiscovery, SetBaseDnReplacesEverythingAfterTheLastSlash) {
  EngineWorld world("");
  world.Logon();
  KVL kvl;
  std::string command = "<GC://DC=a,DC=b>";
  kvl.SetBaseDN(command, "OU=Lists,DC=a,DC=b");
  EXPECT_EQ(command, "<GC://OU=Lists,DC=a,DC=b>");
  command = "no slash here";
  kvl.SetBaseDN(command, "OU=X");
  EXPECT_EQ(command, "OU=X>");
  command = "<GC://OU=a/b,DC=c>";
  kvl.SetBaseDN(command, "OU=Y");
  EXPECT_EQ(command, "<GC://OU=a/OU=Y>");
  EXPECT_EQ(kvl.GetRootADsPath(), kRoot);
}

}  // namespace
