// Reading the contacts of one folder: which slots are looked up, the lines
// of unresolved addresses, the values a contact sink receives, and the
// failures of the set-up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addressing/bas_rdo.h"
#include "driver/globals.h"
#include "engine/contact_sink.h"
#include "merge/merge_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/text.h"
#include "platform/variant.h"

namespace {

using platform::memory::NoObject;
using platform::memory::Raise;
using tarnwick_test::FolderJson;
using tarnwick_test::kAdaOdn;
using tarnwick_test::kBoOdn;
using tarnwick_test::MailboxProfile;
using tarnwick_test::MergeWorld;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kA[] = "KVL::AddFromACF:";
constexpr char kGhost[] = "/o=T/cn=Recipients/cn=ghost";

class Recorder final : public engine::ContactSink {
 public:
  void OnContact(const engine::ContactRead& contact) override { contacts.push_back(contact); }
  std::vector<engine::ContactRead> contacts;
};

// One contact: its subject, then e-mail fields as JSON members.
std::string Contact(const std::string& id, const std::string& name, const std::string& mail) {
  return R"({"id": ")" + id + R"(", "class": "IPM.Contact", "subject": ")" + name + "\"" +
         (mail.empty() ? "" : ", " + mail) + "}";
}

class AddFromAcfTest : public ::testing::Test {
 protected:
  // Reads folder A1 holding `contacts`; the result, with the lines it wrote.
  bool Read(const std::string& contacts, engine::ContactSink* sink = nullptr) {
    world_.reset();
    world_ = std::make_unique<MergeWorld>(MailboxProfile(FolderJson("Contacts", "A1", contacts)));
    world_->world_.Faults().Count("RDOAddressList.GetEntryByODN");
    world_->kvl_->AttachContactSink(sink);
    const auto before = world_->world_.OpenObjects();
    const bool result = world_->probe_->AddFromACF(MergeWorld::Folder("A1"), true);
    EXPECT_EQ(world_->world_.OpenObjects(), before);
    lines_ = world_->NewLines();
    return result;
  }
  int Lookups() { return world_->world_.Faults().Calls("RDOAddressList.GetEntryByODN"); }

  std::unique_ptr<MergeWorld> world_;
  std::vector<std::string> lines_;
};

TEST_F(AddFromAcfTest, EmptyFolderReadsNoContact) {
  EXPECT_TRUE(Read(""));
  EXPECT_THAT(lines_, IsEmpty());
}

TEST_F(AddFromAcfTest, OnlyTheFirstExchangeAddressThatResolvesIsLookedUp) {
  // SMTP then Exchange: slot 2 is looked up, no ODN came from slot 1.
  EXPECT_TRUE(Read(Contact(
      "D1", " Ann ", R"("email1": "ann@x.example", "email2": ")" + std::string(kAdaOdn) + "\"")));
  EXPECT_EQ(Lookups(), 1);
  EXPECT_THAT(lines_, ElementsAre(std::string(kA) + "checking emails for Ann"));
  // Two resolvable Exchange addresses: the second is not looked up.
  EXPECT_TRUE(Read(Contact(
      "D1", "Ann", R"("email1": ")" + std::string(kAdaOdn) + R"(", "email2": ")" + kBoOdn + "\"")));
  EXPECT_EQ(Lookups(), 1);
  // Neither shape: "@" without a dot after it, no "/cn=".
  EXPECT_TRUE(Read(Contact("D1", "Ann", R"("email1": "x.y@host", "email2": "plain")")));
  EXPECT_EQ(Lookups(), 0);
  EXPECT_THAT(lines_, ElementsAre(std::string(kA) + "checking emails for Ann"));
}

TEST_F(AddFromAcfTest, UnresolvedSlotIsReportedAndTheNextIsLookedUp) {
  EXPECT_TRUE(Read(Contact("D1", "Ann",
                           R"("email1": " )" + std::string(kGhost) +
                               R"( ", "email1EntryId": "00FF10", "email2": ")" + kBoOdn + "\"")));
  EXPECT_EQ(Lookups(), 2);
  const auto mine = world_->world_.OutWith(kA);
  EXPECT_THAT(mine,
              ElementsAre(std::string(kA) + "checking emails for Ann",
                          std::string(kA) + "GetIdForODN failed for Email1 (" + kGhost + ") on Ann",
                          std::string(kA) + "GetAddressEntryFromId for Email1EntryID returned "));
  // Without a stored identifier there is no GetAddressEntryFromId line.
  EXPECT_TRUE(Read(Contact("D1", "Ann", R"("email2": ")" + std::string(kGhost) + "\"")));
  EXPECT_THAT(
      world_->world_.OutWith(kA),
      ElementsAre(std::string(kA) + "checking emails for Ann",
                  std::string(kA) + "GetIdForODN failed for Email2 (" + kGhost + ") on Ann"));
}

TEST_F(AddFromAcfTest, SinkReceivesTheContactAndChangesNothing) {
  const std::string contacts = Contact("D1", " Ann ",
                                       R"("email1": " 'Ann@X.Example' ", "email2": "ann@x.example",
                                "email3": " )" +
                                           std::string(kAdaOdn) + " \"") +
                               "," + Contact("D2", "Nomail", "");
  EXPECT_TRUE(Read(contacts));
  const std::vector<std::string> without_sink = lines_;
  Recorder sink;
  EXPECT_TRUE(Read(contacts, &sink));
  EXPECT_EQ(lines_, without_sink);
  ASSERT_EQ(sink.contacts.size(), 2u);
  const engine::ContactRead& ann = sink.contacts[0];
  EXPECT_EQ(ann.folder, "Contacts");
  EXPECT_TRUE(ann.repository);
  EXPECT_EQ(ann.name, "Ann");
  EXPECT_THAT(ann.smtp, ElementsAre("ann@x.example", "ada@t.example"));
  EXPECT_EQ(ann.smtp_list, "ann@x.example;ann@x.example;");
  EXPECT_EQ(ann.odn, kAdaOdn);
  EXPECT_EQ(ann.odn_list, text::LCase(kAdaOdn) + ";");
  EXPECT_EQ(ann.entry_id, basRDO::GetIdForODN(kAdaOdn));
  EXPECT_FALSE(ann.entry_id.empty());
  EXPECT_EQ(sink.contacts[1].name, "Nomail");
  EXPECT_THAT(sink.contacts[1].smtp, IsEmpty());
  EXPECT_EQ(sink.contacts[1].odn_list, "");
}

TEST_F(AddFromAcfTest, StopEndsTheWalkWithFalse) {
  world_ = std::make_unique<MergeWorld>(MailboxProfile(
      FolderJson("Contacts", "A1", Contact("D1", "Ann", "") + "," + Contact("D2", "Bob", ""))));
  world_->world_.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
  world_->world_.Process().RequestStopAfter(0);
  EXPECT_FALSE(world_->probe_->AddFromACF(MergeWorld::Folder("A1"), false));
  EXPECT_THAT(world_->NewLines(), ElementsAre(std::string(kA) + "checking emails for Ann"));
}

TEST_F(AddFromAcfTest, RowThatCannotBeReadFailsTheFolder) {
  world_ = std::make_unique<MergeWorld>(MailboxProfile(
      FolderJson("Contacts", "A1", Contact("D1", "Ann", "") + "," + Contact("D2", "Bob", ""))));
  world_->world_.Faults().Inject(
      Raise("ZQMAPITable.GetRow", platform::errnum::kNotFound).Skip(1).Times(1));
  EXPECT_FALSE(world_->probe_->AddFromACF(MergeWorld::Folder("A1"), false));
  EXPECT_THAT(world_->NewLines(),
              ElementsAre(std::string(kA) + "checking emails for Ann",
                          std::string(kA) +
                              "error: unable to read the contacts of Contacts after row 1: " +
                              std::to_string(platform::errnum::kNotFound) + " " +
                              platform::StandardDescription(platform::errnum::kNotFound)));
}

TEST_F(AddFromAcfTest, SetUpFailuresAreReportedWithFalse) {
  world_ = std::make_unique<MergeWorld>(MailboxProfile(FolderJson("Contacts", "A1", "")));
  auto& faults = world_->world_.Faults();
  KvlProbe& probe = *world_->probe_;
  const auto folder = MergeWorld::Folder("A1");
  const auto before = world_->world_.OpenObjects();
  faults.Inject(Raise("ZQMAPIFolder.Items", platform::errnum::kNotFound));
  EXPECT_FALSE(probe.AddFromACF(folder, false));
  faults.Clear();
  faults.Inject(NoObject("ZQMAPIFolder.Items"));
  EXPECT_FALSE(probe.AddFromACF(folder, false));
  faults.Clear();
  faults.Inject(Raise("CreateObject:ZQHelper.ZQMAPITable", platform::errnum::kClassNotRegistered));
  EXPECT_FALSE(probe.AddFromACF(folder, false));
  faults.Clear();
  EXPECT_FALSE(probe.AddFromACF(nullptr, false));
  faults.Inject(Raise("ZQMAPITable.SetItems", platform::errnum::kTypeMismatch));
  EXPECT_FALSE(probe.AddFromACF(folder, false));
  faults.Clear();
  faults.Inject(Raise("ZQMAPIFolder.GetIDsFromNames", platform::errnum::kNotFound).Skip(5));
  EXPECT_FALSE(probe.AddFromACF(folder, false));
  faults.Clear();
  EXPECT_EQ(world_->world_.OpenObjects(), before);
  EXPECT_THAT(world_->NewLines(),
              ElementsAre(std::string(kA) + "error: unable to retrieve messages from Contacts " +
                              platform::StandardDescription(platform::errnum::kNotFound),
                          std::string(kA) + "error: unable to retrieve messages from Contacts ",
                          std::string(kA) + "error: unable to instantiate MAPITable object " +
                              platform::StandardDescription(platform::errnum::kClassNotRegistered),
                          std::string(kA) + "error: unable to retrieve messages from  " +
                              platform::StandardDescription(platform::errnum::kObjectNotSet),
                          std::string(kA) + "error: unable to instantiate MAPITable object " +
                              platform::StandardDescription(platform::errnum::kTypeMismatch),
                          std::string(kA) + "error: unable to instantiate MAPITable object " +
                              platform::StandardDescription(platform::errnum::kNotFound)));
}

TEST(GetFieldText, OnlyTheCapitalNullWordReadsEmpty) {
  MergeWorld world(MailboxProfile(""));
  KvlProbe& probe = *world.probe_;
  EXPECT_EQ(probe.GetFieldText(platform::Variant("NULL")), "");
  EXPECT_EQ(probe.GetFieldText(platform::Variant("null")), "null");
  EXPECT_EQ(probe.GetFieldText(platform::Variant(platform::Variant::Null{})), "");
  EXPECT_EQ(probe.GetFieldText(platform::Variant(" a b ")), "a b");
  EXPECT_EQ(probe.GetFieldText(platform::Variant(int32_t{42})), "42");
  EXPECT_EQ(probe.GetFieldText(platform::Variant(platform::VariantArray{})), "");
}

}  // namespace
