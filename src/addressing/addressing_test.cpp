// SMTP addresses of entries and ODNs, and the helper library's look-ups.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "addressing/bas_cdo.h"
#include "addressing/bas_rdo.h"
#include "driver/globals.h"
#include "platform/error.h"
#include "tests/support/engine_world.h"

namespace {

using platform::Variant;
using tarnwick_test::EngineWorld;
using tarnwick_test::Person;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// An entry with exactly the type, address and proxies a case needs; the
// memory backend never gives some of these shapes (a prefixed one-off
// address, a lower-case type).
class StubEntry final : public platform::AddressEntry {
 public:
  StubEntry(std::string type, std::string address, Variant proxies = Variant())
      : type_(std::move(type)), address_(std::move(address)), proxies_(std::move(proxies)) {}
  std::string Type() override { return type_; }
  std::string Address() override { return address_; }
  std::string Name() override { return "stub"; }
  std::string ID() override { return "00"; }
  int32_t DisplayType() override { return 0; }
  std::shared_ptr<platform::AddressEntries> Members() override { return nullptr; }
  Variant Field(int32_t tag) override {
    if (tag != platform::tag::kProxyAddresses || proxies_.IsEmpty()) {
      throw platform::PlatformError(platform::errnum::kNotFound);
    }
    return proxies_;
  }

 private:
  std::string type_, address_;
  Variant proxies_;
};

std::string Smtp(std::string type, std::string address, Variant proxies = Variant()) {
  return basCDO::PrimarySMTPfromAE(
      std::make_shared<StubEntry>(std::move(type), std::move(address), std::move(proxies)));
}

TEST(PrimarySMTPfromAE, SmtpEntriesGiveTheirAddressWithoutPrefix) {
  EXPECT_EQ(Smtp("SMTP", "smtp:ann@x.example"), "ann@x.example");
  EXPECT_EQ(Smtp("SMTP", "SMTP:ann@x.example"), "ann@x.example");
  EXPECT_EQ(Smtp("SMTP", "ann@x.example"), "ann@x.example");
  EXPECT_EQ(Smtp("SMTP", "ann.SMTP:x@x.example"), "ann.SMTP:x@x.example");
}

TEST(PrimarySMTPfromAE, ExchangeEntriesGiveTheirFirstPrimaryProxy) {
  EXPECT_EQ(
      Smtp("EX", "/o=x/cn=a",
           Variant::TextArray({"X500:/o=old", "SMTP:first@x.example", "SMTP:second@x.example"})),
      "first@x.example");
  EXPECT_EQ(Smtp("EX", "/o=x/cn=a", Variant::TextArray({"smtp:a@x.example", "smtp:b@x.example"})),
            "");
  EXPECT_EQ(Smtp("EX", "/o=x/cn=a"), "");                               // no proxy field
  EXPECT_EQ(Smtp("EX", "/o=x/cn=a", Variant("SMTP:a@x.example")), "");  // not an array
  EXPECT_EQ(Smtp("ex", "/o=x/cn=a", Variant::TextArray({"SMTP:a@x.example"})), "");
  EXPECT_EQ(Smtp("X400", "c=x;a=y"), "");
  // Elements that are not texts are read through their conversion, and one
  // that does not convert is passed over, not taken for the end.
  platform::VariantArray mixed;
  mixed.items = {Variant(int32_t{5}), Variant(platform::VariantArray{}),
                 Variant("SMTP:mixed@x.example")};
  EXPECT_EQ(Smtp("EX", "/o=x/cn=a", Variant(std::move(mixed))), "mixed@x.example");
  platform::VariantArray unsized;
  unsized.items = {Variant("SMTP:unsized@x.example")};
  unsized.sized = false;
  EXPECT_EQ(Smtp("EX", "/o=x/cn=a", Variant(std::move(unsized))), "");
  EXPECT_EQ(basCDO::PrimarySMTPfromAE(nullptr), "");
}

constexpr char kOdn[] = "/o=T/ou=First Administrative Group/cn=Recipients/cn=";

TEST(PrimarySMTPfromODN, ResolvesThroughTheAddressBook) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example", "proxyAddresses: smtp:a2@t.example\n"));
  world.Logon();
  EXPECT_EQ(basCDO::PrimarySMTPfromODN(std::string(kOdn) + "ada"), "ada@t.example");
  // Without the host's global address list, the scratch-message route serves.
  basGlobals::GALEntries.reset();
  EXPECT_EQ(basCDO::PrimarySMTPfromODN(std::string(kOdn) + "ada"), "ada@t.example");
  EXPECT_THAT(world.Out(), IsEmpty());
}

TEST(PrimarySMTPfromODN, UnresolvedOdnWritesOneWarning) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example"));
  world.Logon();
  EXPECT_EQ(basCDO::PrimarySMTPfromODN("/o=T/cn=nobody"), "");
  EXPECT_THAT(world.Out(), ElementsAre("PrimarySMTPfromODN:failed to retrieve primary SMTP "
                                       "address for '/o=T/cn=nobody': address did not resolve"));
}

TEST(PrimarySMTPfromODN, NoWarningWhenTheResolvedFlagCannotBeRead) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example"));
  world.Logon();
  basGlobals::GALEntries.reset();
  world.Faults().Inject(
      platform::memory::Raise("Session.ScratchFolder", platform::errnum::kNotFound));
  EXPECT_EQ(basCDO::PrimarySMTPfromODN(std::string(kOdn) + "ada"), "");
  EXPECT_THAT(world.Out(), IsEmpty());
}

// A host that set GALEntries is answered from it, so the scratch-message
// route is not needed (here it cannot work). The filter the look-up sets is
// shared by every user of the collection: it is cleared on every way out.
TEST(PrimarySMTPfromODN, HostAddressListAnswersAndIsLeftUnfiltered) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example") + Person("Bo", "bo", "bo@t.example"));
  world.Logon();
  const int32_t all = basGlobals::GALEntries->Count();
  ASSERT_GT(all, 1);

  world.Faults().Inject(
      platform::memory::Raise("Session.ScratchFolder", platform::errnum::kNotFound));
  EXPECT_EQ(basCDO::PrimarySMTPfromODN(std::string(kOdn) + "ada"), "ada@t.example");
  EXPECT_EQ(basGlobals::GALEntries->Count(), all);
  EXPECT_EQ(basCDO::PrimarySMTPfromODN("/o=T/cn=nobody"), "");
  EXPECT_EQ(basGlobals::GALEntries->Count(), all);

  // A look-up that fails half-way falls back to the scratch message and
  // still leaves the list unfiltered.
  world.Faults().Clear();
  world.Faults().Inject(
      platform::memory::Raise("AddressEntries.Count", platform::errnum::kNotFound).Times(1));
  EXPECT_EQ(basCDO::PrimarySMTPfromODN(std::string(kOdn) + "bo"), "bo@t.example");
  EXPECT_EQ(basGlobals::GALEntries->Count(), all);
  EXPECT_EQ(world.OpenObjects(), platform::memory::OpenCounts{});
}

TEST(GetIdForODN, GivesTheIdentifierTheSessionTakes) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example"));
  world.Logon();
  const std::string id = basRDO::GetIdForODN(std::string(kOdn) + "ada");
  ASSERT_FALSE(id.empty());
  EXPECT_EQ(basGlobals::MAPISession->GetAddressEntry(id)->Name(), "Ada");
  EXPECT_EQ(basRDO::GetIdForODN(""), "");
  EXPECT_THAT(world.Out(), IsEmpty());
}

TEST(GetIdForODN, FailuresLogOneLineWithTheDescription) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example"));
  world.Logon();
  const std::string not_found = platform::StandardDescription(platform::errnum::kNotFound);
  EXPECT_EQ(basRDO::GetIdForODN("/o=T/cn=nobody"), "");
  world.Faults().Inject(
      platform::memory::Raise("RDOAddressLists.Item", platform::errnum::kNotFound));
  EXPECT_EQ(basRDO::GetIdForODN(std::string(kOdn) + "ada"), "");
  EXPECT_THAT(world.Out(),
              ElementsAre("GetIdForODN error for '/o=T/cn=nobody' " + not_found,
                          "GetIdForODN error for '" + std::string(kOdn) + "ada' " + not_found));
}

TEST(GetIdForODN, MissingHelperLibraryIsReported) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example"),
                    R"({"directory": "d.ldif", "helperLibrary": false,
                        "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana"}]})");
  world.Logon();
  EXPECT_EQ(basRDO::GetIdForODN(std::string(kOdn) + "ada"), "");
  EXPECT_THAT(world.Out(), ElementsAre("GetIdForODN error for '" + std::string(kOdn) +
                                       "ada' ActiveX component can't create object"));
}

TEST(GetAddressEntryFromId, GivesTheAddressOrSaysWhyThereIsNone) {
  EngineWorld world(Person("Ada", "ada", "ada@t.example") + Person("Nomail", "nomail", ""));
  world.Logon();
  const std::string ada = basRDO::GetIdForODN(std::string(kOdn) + "ada");
  const std::string nomail = basRDO::GetIdForODN(std::string(kOdn) + "nomail");
  EXPECT_EQ(basRDO::GetAddressEntryFromId(ada), "ada@t.example");
  EXPECT_EQ(basRDO::GetAddressEntryFromId(nomail), "no SMTP address for Nomail; Type: EX");
  EXPECT_EQ(basRDO::GetAddressEntryFromId(""), "");
  EXPECT_THAT(world.Out(), IsEmpty());
  EXPECT_EQ(basRDO::GetAddressEntryFromId("ABCDEF"), "");
  EXPECT_THAT(world.Out(), ElementsAre("GetAddressEntryFromId failed " +
                                       platform::StandardDescription(platform::errnum::kNotFound)));
}

}  // namespace
