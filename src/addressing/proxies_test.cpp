// Proxy collection and record filters: GetAllProxies against organisations
// built in code, GetEmailValues and GetTypedVal on values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/variant.h"
#include "tests/support/engine_world.h"
#include "tests/support/kvl_probe.h"
#include "tests/support/scratch_tracker.h"

namespace {

using platform::Variant;
using tarnwick_test::EngineWorld;
using tarnwick_test::Group;
using tarnwick_test::Person;
using tarnwick_test::PersonDn;
using tarnwick_test::ScratchLog;
using tarnwick_test::ScratchRecord;
using tarnwick_test::TrackedSession;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kOdnBase[] = "/o=T/ou=First Administrative Group/cn=Recipients/cn=";
std::string Odn(const std::string& nick) { return kOdnBase + nick; }

// Pia: a mailbox with a primary and a secondary SMTP proxy, an old X500
// address and a proxy of a type that is passed over; Quin: bare "smtp:" and
// "X500:" proxies before a real one; Piet: no proxies, a prefix shared with
// Pia; Team: a list.
std::string Organisation() {
  return Person("Pia Prox", "pia", "Primary@t.example",
                "proxyAddresses: smtp:second@t.example\n"
                "proxyAddresses: X500:/o=Old/cn=pia\n"
                "proxyAddresses: X400:c=T;a= ;p=T;s=Prox\n") +
         Person("Quin Plain", "quin", "",
                "proxyAddresses: smtp:\nproxyAddresses: X500:\n"
                "proxyAddresses: smtp:Quin2@t.example\n") +
         Person("Piet Other", "piet", "") +
         Group("Team", "team", "team@t.example", {PersonDn("Pia Prox")},
               "proxyAddresses: x500:/o=Old/cn=team\n");
}

class GetAllProxiesTest : public ::testing::Test {
 protected:
  GetAllProxiesTest() : world_(Organisation()) {
    world_.Logon();
    basGlobals::MAPISession = std::make_shared<TrackedSession>(basGlobals::MAPISession, scratch_);
    kvl_ = std::make_unique<KVL>();
  }

  // Runs the operation and gives the lines it logged.
  std::vector<std::string> Run(const std::string& lookup, bool replace_odn = false,
                               bool check_existing = false) {
    const size_t before = world_.Out().size();
    const Variant result =
        KvlProbe(*kvl_).GetAllProxies(lookup, proxies_, x500_, odn_, replace_odn, check_existing);
    EXPECT_TRUE(result.IsEmpty());
    const auto out = world_.Out();
    return std::vector<std::string>(out.begin() + static_cast<std::ptrdiff_t>(before), out.end());
  }

  // Every scratch message made was deleted and is held by nothing.
  void ExpectScratchMessagesGone(size_t made) {
    ASSERT_EQ(scratch_->size(), made);
    for (const auto& record : *scratch_) {
      EXPECT_TRUE(record.deleted);
      EXPECT_TRUE(record.message.expired());
    }
  }

  EngineWorld world_;
  ScratchLog scratch_ = std::make_shared<std::vector<ScratchRecord>>();
  std::unique_ptr<KVL> kvl_;
  std::string proxies_, x500_, odn_;
};

constexpr char kP[] = "KVL::GetAllProxies:";

TEST_F(GetAllProxiesTest, MailboxWithoutOdnGivesItsOdnAndEveryProxy) {
  const auto lines = Run("pia");
  EXPECT_THAT(lines,
              ElementsAre(kP + ("adding ODN '" + Odn("pia") + "' from lookup of pia"),
                          std::string(kP) + "adding 'primary@t.example' to Proxies for pia",
                          std::string(kP) + "adding 'second@t.example' to Proxies for pia",
                          std::string(kP) + "adding '/o=Old/cn=pia' to X500Proxies for pia",
                          std::string(kP) + "Proxies for pia = ;primary@t.example;second@t.example",
                          kP + ("X500Proxies for pia = ;" + Odn("pia") + ";/o=Old/cn=pia")));
  EXPECT_EQ(odn_, Odn("pia"));
  EXPECT_EQ(proxies_, ";primary@t.example;second@t.example;");
  EXPECT_EQ(x500_, ";" + Odn("pia") + ";/o=Old/cn=pia;");
  ExpectScratchMessagesGone(1);
  // Detail lines carry no marker in the file; trace lines are not written.
  EXPECT_EQ(world_.Process().LogLines().size(), world_.Out().size());
  EXPECT_EQ(world_.Process().LogLines().back(),
            "12/31/2008 11:59:07 PM: KVL::GetAllProxies:X500Proxies for pia = ;" + Odn("pia") +
                ";/o=Old/cn=pia");
}

TEST_F(GetAllProxiesTest, ItemsAlreadyListedInAnyCaseAreNotAddedAgain) {
  proxies_ = ";;PRIMARY@T.EXAMPLE;other@t.example;";
  x500_ = "/O=OLD/CN=PIA;" + Odn("PIA") + ";";
  odn_ = Odn("pia");
  const auto lines = Run("Pia Prox");
  EXPECT_THAT(
      lines,
      ElementsAre(std::string(kP) + "adding 'second@t.example' to Proxies for Pia Prox",
                  std::string(kP) + "Proxies for Pia Prox = PRIMARY@T.EXAMPLE;other@t.example;"
                                    "second@t.example",
                  kP + ("X500Proxies for Pia Prox = /O=OLD/CN=PIA;" + Odn("PIA"))));
  EXPECT_EQ(proxies_, ";PRIMARY@T.EXAMPLE;other@t.example;second@t.example;");
  EXPECT_EQ(x500_, ";/O=OLD/CN=PIA;" + Odn("PIA") + ";");
}

TEST_F(GetAllProxiesTest, SetOdnIsWeighedOnlyWhenReplacing) {
  struct Case {
    std::string lookup, odn;
    bool replace;
    std::vector<std::string> odn_lines;  // lines about the ODN, before the proxy lines
    std::string odn_after;
  };
  const std::vector<Case> cases = {
      // A mailbox replaces another ODN only when asked to.
      {"pia", "/o=T/cn=stale", false, {}, "/o=T/cn=stale"},
      {"pia",
       "/o=T/cn=stale",
       true,
       {kP + ("changing ODN from '/o=T/cn=stale' to '" + Odn("pia") + "' from lookup of pia")},
       Odn("pia")},
      // The same ODN in another case is no change.
      {"pia", Odn("PIA"), true, {}, Odn("PIA")},
      // A list that carries the person's ODN was taken for the person.
      {"team",
       Odn("TEAM"),
       true,
       {kP +
        ("invalidating supplied ODN '" + Odn("TEAM") + "' but including value in X500Proxies")},
       ""},
      {"team", Odn("team"), false, {}, Odn("team")},
      // A list never gives its ODN to a person, nor clears another one.
      {"team", "", true, {}, ""},
      {"team", Odn("pia"), true, {}, Odn("pia")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lookup + " " + c.odn + (c.replace ? " replace" : ""));
    proxies_.clear();
    x500_.clear();
    odn_ = c.odn;
    const auto lines = Run(c.lookup, c.replace);
    const std::vector<std::string> odn_lines(
        lines.begin(),
        lines.begin() + static_cast<std::ptrdiff_t>(std::min(lines.size(), c.odn_lines.size())));
    EXPECT_EQ(odn_lines, c.odn_lines);
    if (lines.size() > c.odn_lines.size()) {
      EXPECT_THAT(lines[c.odn_lines.size()], ::testing::StartsWith(std::string(kP) + "adding '"));
    }
    EXPECT_EQ(odn_, c.odn_after);
    // The entry's own ODN is an X500 proxy whatever happened to odn.
    EXPECT_THAT(x500_, ::testing::StartsWith(";" + Odn(c.lookup) + ";"));
  }
  ExpectScratchMessagesGone(cases.size());
}

TEST_F(GetAllProxiesTest, ListProxiesOfEitherCaseAreGathered) {
  Run("team");
  EXPECT_EQ(proxies_, ";team@t.example;");
  EXPECT_EQ(x500_, ";" + Odn("team") + ";/o=Old/cn=team;");
}

TEST_F(GetAllProxiesTest, LookupByOdnFindsTheSameEntry) {
  Run(Odn("PIA"));
  EXPECT_EQ(odn_, Odn("pia"));
  EXPECT_EQ(proxies_, ";primary@t.example;second@t.example;");
}

TEST_F(GetAllProxiesTest, EntryWithoutProxiesStillGivesItsOdnWrapped) {
  const auto lines = Run("piet");
  EXPECT_THAT(lines, ElementsAre(kP + ("adding ODN '" + Odn("piet") + "' from lookup of piet"),
                                 kP + ("X500Proxies for piet = ;" + Odn("piet"))));
  EXPECT_EQ(proxies_, ";");
  EXPECT_EQ(x500_, ";" + Odn("piet") + ";");
}

TEST_F(GetAllProxiesTest, EmptyProxyAddressesAreNeverListed) {
  // Lists handed in without separators would otherwise take an empty item
  // as ";;" between the real ones.
  proxies_ = "a@t.example";
  x500_ = "/o=x";
  const auto lines = Run("quin");
  EXPECT_THAT(lines, ElementsAre(kP + ("adding ODN '" + Odn("quin") + "' from lookup of quin"),
                                 std::string(kP) + "adding 'quin2@t.example' to Proxies for quin",
                                 std::string(kP) + "Proxies for quin = a@t.example;quin2@t.example",
                                 kP + ("X500Proxies for quin = /o=x;" + Odn("quin"))));
  EXPECT_EQ(proxies_, ";a@t.example;quin2@t.example;");
  EXPECT_EQ(x500_, ";/o=x;" + Odn("quin") + ";");
}

TEST_F(GetAllProxiesTest, InternetAddressIsItsOwnProxy) {
  odn_ = "/o=T/cn=kept";
  x500_ = ";/o=x/cn=y;";
  auto lines = Run("Guest@Elsewhere.example", true);
  EXPECT_THAT(lines, ElementsAre(std::string(kP) +
                                 "Proxies for Guest@Elsewhere.example = ;Guest@Elsewhere.example"));
  EXPECT_EQ(proxies_, ";Guest@Elsewhere.example;");
  EXPECT_EQ(x500_, ";/o=x/cn=y;");
  EXPECT_EQ(odn_, "/o=T/cn=kept");

  // Already there in another case: not added twice, the summary line still written.
  proxies_ = "guest@elsewhere.EXAMPLE";
  x500_.clear();
  lines = Run("Guest@Elsewhere.example");
  EXPECT_THAT(lines, ElementsAre(std::string(kP) +
                                 "Proxies for Guest@Elsewhere.example = guest@elsewhere.EXAMPLE"));
  EXPECT_EQ(proxies_, ";guest@elsewhere.EXAMPLE;");
  EXPECT_EQ(x500_, ";");
  ExpectScratchMessagesGone(2);
}

TEST_F(GetAllProxiesTest, CheckExistingEndsAtAKnownLookupInEitherList) {
  struct Case {
    std::string proxies, x500, lookup, proxies_after, x500_after;
  };
  const std::vector<Case> cases = {
      {";a@t.example;PIA@T.example;", ";", "pia@t.example", "a@t.example;PIA@T.example", ""},
      {";", ";;" + Odn("pia") + ";;", Odn("PIA"), "", Odn("pia")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lookup);
    proxies_ = c.proxies;
    x500_ = c.x500;
    odn_ = "";
    EXPECT_THAT(Run(c.lookup, true, true),
                ElementsAre(kP + (" found " + c.lookup +
                                  " in existing proxy string; no need to repeat expansion")));
    EXPECT_EQ(proxies_, c.proxies_after);
    EXPECT_EQ(x500_, c.x500_after);
    EXPECT_EQ(odn_, "");
  }
  ExpectScratchMessagesGone(0);

  // Without checkExisting, or when only part of an item matches, it resolves.
  proxies_ = ";pia@t.example;";
  Run("pia@t.example", false, false);
  proxies_ = ";xpia@t.example;";
  Run("pia", false, true);
  ExpectScratchMessagesGone(2);
}

TEST_F(GetAllProxiesTest, NothingHappensOnStopOrWithoutLookup) {
  proxies_ = ";a@t.example;";
  x500_ = ";/o=x;";
  odn_ = "/o=x";
  basGlobals::StopRequested = true;
  EXPECT_THAT(Run("pia", true, true), IsEmpty());
  basGlobals::StopRequested = false;
  EXPECT_THAT(Run("", true, true), IsEmpty());
  EXPECT_EQ(proxies_, ";a@t.example;");
  EXPECT_EQ(x500_, ";/o=x;");
  EXPECT_EQ(odn_, "/o=x");
  ExpectScratchMessagesGone(0);
}

TEST_F(GetAllProxiesTest, UnresolvedLookupLeavesTheListsStrippedAndOdnAlone) {
  // Not found, ambiguous ("Pi" starts two names), and a session whose
  // scratch folder cannot be had.
  for (const std::string lookup : {"nobody at all", "Pi"}) {
    SCOPED_TRACE(lookup);
    proxies_ = ";a@t.example;";
    x500_ = ";";
    odn_ = "/o=x";
    EXPECT_THAT(Run(lookup, true), IsEmpty());
    EXPECT_EQ(proxies_, "a@t.example");
    EXPECT_EQ(x500_, "");
    EXPECT_EQ(odn_, "/o=x");
  }
  ExpectScratchMessagesGone(2);

  world_.Faults().Inject(
      platform::memory::Raise("Session.ScratchFolder", platform::errnum::kNotFound));
  proxies_ = ";a@t.example;";
  EXPECT_THAT(Run("pia", true), IsEmpty());
  EXPECT_EQ(proxies_, "a@t.example");
  EXPECT_EQ(odn_, "/o=x");
  ExpectScratchMessagesGone(2);
}

TEST_F(GetAllProxiesTest, FailingProxyReadStillGivesTheOdnWrapped) {
  for (const auto& fault :
       {platform::memory::Raise("AddressEntry.Field", platform::errnum::kNotFound),
        platform::memory::NoObject("AddressEntry.Field")}) {
    world_.Faults().Inject(fault);
    proxies_.clear();
    x500_.clear();
    odn_.clear();
    EXPECT_THAT(Run("pia"), ElementsAre(kP + ("adding ODN '" + Odn("pia") + "' from lookup of pia"),
                                        kP + ("X500Proxies for pia = ;" + Odn("pia"))));
    EXPECT_EQ(proxies_, ";");
    EXPECT_EQ(x500_, ";" + Odn("pia") + ";");
  }
  ExpectScratchMessagesGone(2);
}

struct EmailCase {
  const char* name;
  Variant values;
  std::string filter, list;
};

Variant Values(std::vector<Variant> items, int32_t lower_bound = 1) {
  platform::VariantArray array;
  array.items = std::move(items);
  array.lower_bound = lower_bound;
  return Variant(std::move(array));
}

TEST(GetEmailValues, BuildsFilterAndListFromTheThreeValues) {
  const std::string pia_filter = "SMTP LIKE 'pia@t.example' OR Proxies Like '*;pia@t.example;*'";
  const std::vector<EmailCase> cases = {
      {"smtp, trimmed and lower-cased", Values({" Pia@T.example ", "", ""}), pia_filter,
       "pia@t.example"},
      {"odn, pattern characters escaped", Values({"/o=T/cn=Recipients/cn=P_1%"}),
       "ODN LIKE '/o=t/cn=recipients/cn=p#951#25' OR "
       "X500Proxies Like '*;/o=t/cn=recipients/cn=p#951#25;*'",
       "/o=t/cn=recipients/cn=p#951#25"},
      {"shapes mixed; neither shape goes to the list only",
       Values({"/o=T/cn=x", "nodot@localhost", "pia@t.example"}),
       "ODN LIKE '/o=t/cn=x' OR X500Proxies Like '*;/o=t/cn=x;*' OR " + pia_filter,
       "/o=t/cn=x;nodot@localhost;pia@t.example"},
      {"dot without at", Values({"", "pia.t.example", ""}), "", "pia.t.example"},
      {"three empty values", Values({"", "  ", ""}), "", ""},
      {"single quote doubled", Values({"O'Brien@T.example"}),
       "SMTP LIKE 'o''brien@t.example' OR Proxies Like '*;o''brien@t.example;*'",
       "o''brien@t.example"},
      {"values that are not text are empty",
       Values({Variant(int32_t{7}), Variant(Variant::Null{}), Variant(true)}), "", ""},
      // Index 1 is the array's own index 1: with lower bound 0 the first
      // element is not read, and a short array has nothing at 3.
      {"lower bound 0", Values({"skipped@t.example", "pia@t.example"}, 0), pia_filter,
       "pia@t.example"},
      {"not an array", Variant("pia@t.example"), "", ""},
      {"short array, nothing repeated", Values({"pia@t.example"}), pia_filter, "pia@t.example"},
  };
  EngineWorld world("");
  world.Logon();
  KVL kvl;
  KvlProbe probe(kvl);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string filter = "stale", list = "stale";
    probe.GetEmailValues(c.values, filter, list);
    EXPECT_EQ(filter, c.filter);
    EXPECT_EQ(list, c.list);
  }
  // A stop before the first value leaves both cleared.
  basGlobals::StopRequested = true;
  std::string filter = "stale", list = "stale";
  probe.GetEmailValues(Values({"pia@t.example"}), filter, list);
  EXPECT_EQ(filter, "");
  EXPECT_EQ(list, "");
}

// A variant's type and value in one text, so that a kind's result is
// compared in both at once.
std::string Describe(const Variant& v) {
  if (v.IsEmpty()) return "empty";
  if (v.IsInt16()) return "int16 " + v.ToText();
  if (v.IsInt32()) return "int32 " + v.ToText();
  if (v.IsBool()) return "bool " + v.ToText();
  if (v.IsDate()) return "date " + std::to_string(v.ToDate().serial);
  if (v.IsText()) return "text '" + v.ToText() + "'";
  return "other";
}

TEST(GetTypedVal, EachKindTakesItsTypeAndGivesItsNeutralValueOtherwise) {
  struct Case {
    Variant value;
    int32_t kind;
    std::string expected;
  };
  const Variant bytes = Values({int32_t{0}, int32_t{10}, int32_t{255}}, 0);
  platform::VariantArray unsized;
  unsized.sized = false;
  const std::vector<Case> cases = {
      {Variant("  a b  "), 0, "text 'a b'"},
      {Variant(int32_t{5}), 0, "text ''"},
      {Variant(Variant::Null{}), 0, "text ''"},
      {Variant(int16_t{-3}), 1, "int16 -3"},
      {Variant(int32_t{3}), 1, "int16 0"},
      {Variant("3"), 1, "int16 0"},
      {Variant(platform::Date{39813.5}), 2, "date 39813.500000"},
      {Variant("2008-12-31"), 2, "date 0.000000"},
      {bytes, 3, "text '000AFF'"},
      {Values({}, 0), 3, "text ''"},
      {Variant(std::move(unsized)), 3, "text ''"},
      {Variant("000AFF"), 3, "text ''"},
      {Variant(int32_t{70000}), 4, "int32 70000"},
      {Variant(int16_t{7}), 4, "int16 0"},
      {Variant(true), 5, "bool True"},
      {Variant(int32_t{1}), 5, "bool False"},
      {Variant("True"), 5, "bool False"},
      {Variant("x"), 6, "empty"},
      {Variant(true), -1, "empty"},
  };
  EngineWorld world("");
  world.Logon();
  KVL kvl;
  KvlProbe probe(kvl);
  for (const auto& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind) + " of " + Describe(c.value));
    EXPECT_EQ(Describe(probe.GetTypedVal(c.value, c.kind)), c.expected);
  }
}

}  // namespace
