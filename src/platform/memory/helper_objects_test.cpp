#include "platform/memory/helper_objects.h"

#include <string>

#include <gtest/gtest.h>

#include "platform/directory.h"
#include "platform/error.h"
#include "platform/helper_library.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_test_support.h"
#include "platform/messaging.h"
#include "platform/runtime.h"

namespace platform::memory {
namespace {

using memtest::ErrorOf;

class ForeignMapiObject final : public MapiObject {};

class MemoryHelperTest : public memtest::RuntimeTest {
 protected:
  MemoryHelperTest() { Install(memtest::kProfile); }

  void Install(const std::string& profile) {
    organisation_ = LoadFromText(profile, memtest::kLdif, "t");
    memory::Install(runtime_, FixedSource(organisation_));
  }

  std::shared_ptr<Session> LoggedOn() {
    auto session = CreateObjectAs<Session>("MAPI.Session");
    session->Logon("t\nana");
    return session;
  }

  template <class T>
  std::shared_ptr<T> Attached(const char* class_name, const std::shared_ptr<Session>& session) {
    auto object = CreateObjectAs<T>(class_name);
    object->SetMAPIOBJECT(session->MAPIOBJECT());
    return object;
  }

  std::shared_ptr<Organisation> organisation_;
};

TEST_F(MemoryHelperTest, CreateRecipientResolvesLikeTheSession) {
  const auto session = LoggedOn();
  const auto utils = Attached<ZQMAPIUtils>(kUtilsClass, session);

  const auto ana = utils->CreateRecipient("ana", 0, 0);
  ASSERT_NE(ana, nullptr);
  EXPECT_EQ(ana->Address(), "/o=Harbor/cn=Recipients/cn=ana");
  EXPECT_EQ(session->GetAddressEntry(ana->EntryID())->Name(), "Ana Lima");
  const auto entry = ana->AddressEntry();
  EXPECT_EQ(entry->AddressType(), "EX");
  EXPECT_EQ(entry->Name(), "Ana Lima");
  EXPECT_EQ(entry->SMTPAddress(), "ana.lima@harbor.example");
  EXPECT_EQ(entry->EntryID(), ana->EntryID());

  const auto ben = utils->CreateRecipient("EX:/o=harbor/cn=recipients/cn=BEN", 0, 0);
  ASSERT_NE(ben, nullptr);
  EXPECT_EQ(ben->AddressEntry()->SMTPAddress(), "ben.ortiz@harbor.example") << "mail fallback";

  const auto outside = utils->CreateRecipient("Who@Outside.example", 0, 0);
  ASSERT_NE(outside, nullptr);
  EXPECT_EQ(outside->AddressEntry()->AddressType(), "SMTP");
  EXPECT_EQ(outside->Address(), "Who@Outside.example");

  EXPECT_EQ(utils->CreateRecipient("Twin", 0, 0), nullptr);
  EXPECT_EQ(utils->CreateRecipient("shared@harbor.example", 0, 0), nullptr);
  EXPECT_EQ(utils->CreateRecipient("Nobody At All", 0, 0), nullptr);
}

TEST_F(MemoryHelperTest, HelperSessionFindsGlobalAddressListEntries) {
  const auto session = LoggedOn();
  const auto rdo = Attached<RDOSession>(kRdoSessionClass, session);
  const auto lists = rdo->AddressBook()->AddressLists();
  EXPECT_EQ(ErrorOf([&] { lists->Item("global address list"); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { lists->Item("All Users"); }), errnum::kNotFound);
  const auto gal = lists->Item("Global Address List");

  const auto sales = gal->GetEntryByODN("/O=HARBOR/CN=RECIPIENTS/CN=SALES");
  EXPECT_EQ(sales->Name(), "Sales Team");
  EXPECT_EQ(sales->SMTPAddress(), "sales@harbor.example");
  EXPECT_EQ(ErrorOf([&] { gal->GetEntryByODN("/o=Harbor/cn=Recipients/cn=hal"); }),
            errnum::kNotFound)
      << "hidden from the address book";
  EXPECT_EQ(ErrorOf([&] { gal->GetEntryByODN(""); }), errnum::kNotFound);

  const auto by_id = rdo->GetAddressEntryFromID(sales->EntryID());
  EXPECT_EQ(by_id->Name(), "Sales Team");
  const auto dyn =
      rdo->GetAddressEntryFromID(gal->GetEntryByODN("/o=Harbor/cn=Recipients/cn=dyn")->EntryID());
  EXPECT_EQ(dyn->SMTPAddress(), "");
  EXPECT_EQ(dyn->AddressType(), "EX");
  EXPECT_EQ(ErrorOf([&] { rdo->GetAddressEntryFromID("12"); }), errnum::kNotFound);
}

TEST_F(MemoryHelperTest, HelpersWorkOnlyOnAnActiveLogon) {
  // Nothing logged on: the objects are made, their calls fail.
  const auto utils = CreateObjectAs<ZQMAPIUtils>(kUtilsClass);
  const auto rdo = CreateObjectAs<RDOSession>(kRdoSessionClass);
  ASSERT_NE(utils, nullptr);
  EXPECT_EQ(ErrorOf([&] { utils->CreateRecipient("ana", 0, 0); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { rdo->AddressBook(); }), errnum::kNotInitialized);

  const auto session = LoggedOn();
  EXPECT_EQ(ErrorOf([&] { utils->CreateRecipient("ana", 0, 0); }), errnum::kNotInitialized)
      << "not attached yet";
  utils->SetMAPIOBJECT(session->MAPIOBJECT());
  rdo->SetMAPIOBJECT(session->MAPIOBJECT());
  const auto recipient = utils->CreateRecipient("ana", 0, 0);
  const auto gal = rdo->AddressBook()->AddressLists()->Item("Global Address List");
  EXPECT_EQ(ErrorOf([&] { utils->SetMAPIOBJECT(std::make_shared<ForeignMapiObject>()); }),
            errnum::kTypeMismatch);

  session->Logoff();
  EXPECT_EQ(ErrorOf([&] { utils->CreateRecipient("ana", 0, 0); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { recipient->AddressEntry(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { gal->GetEntryByODN("/o=Harbor/cn=Recipients/cn=ana"); }),
            errnum::kNotInitialized);
  session->Logon("t\nana");
  EXPECT_EQ(ErrorOf([&] { recipient->EntryID(); }), errnum::kNotInitialized)
      << "attached to the earlier logon";
  utils->SetMAPIOBJECT(nullptr);
  EXPECT_EQ(ErrorOf([&] { utils->CreateRecipient("ana", 0, 0); }), errnum::kNotInitialized);
}

TEST_F(MemoryHelperTest, InstallRegistersTheBackendClasses) {
  // The folder and table classes work once attached (helper_tables_test);
  // made while nothing is logged on, they are detached.
  const auto folder = CreateObjectAs<ZQMAPIFolder>(kHelperFolderClass);
  const auto table = CreateObjectAs<ZQMAPITable>(kHelperTableClass);
  ASSERT_NE(folder, nullptr);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(ErrorOf([&] { folder->Items(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { table->RowCount(); }), errnum::kNotInitialized);
  EXPECT_NE(CreateObjectAs<Connection>(kConnectionClass), nullptr);
  EXPECT_NE(CreateObjectAs<Command>(kCommandClass), nullptr);
  const auto first = CreateObjectAs<Session>("MAPI.Session");
  const auto second = CreateObjectAs<Session>("MAPI.Session");
  EXPECT_NE(first, second);
  first->Logon("t\nana");
  EXPECT_EQ(ErrorOf([&] { second->InfoStores(); }), errnum::kNotInitialized)
      << "each session has its own logon";
}

TEST_F(MemoryHelperTest, DirectoryFollowsTheMostRecentLogon) {
  EXPECT_EQ(ErrorOf([] { GetObject("GC://rootDSE"); }), errnum::kServerNotOperational);
  const auto session = LoggedOn();
  EXPECT_NE(ErrorOf([] { GetObject("GC://rootDSE"); }), errnum::kServerNotOperational);
  session->Logoff();
  EXPECT_EQ(ErrorOf([] { GetObject("GC://rootDSE"); }), errnum::kServerNotOperational);

  Install(R"({"globalCatalog": false, "mailboxes": [{"alias": "ana"}]})");
  const auto without_catalog = LoggedOn();
  EXPECT_EQ(ErrorOf([] { GetObject("GC://rootDSE"); }), errnum::kServerNotOperational);
}

TEST_F(MemoryHelperTest, HelperLibrarySwitchedOffRaises429OnceLoggedOn) {
  Install(R"({"helperLibrary": false, "mailboxes": [{"alias": "ana"}]})");
  EXPECT_NE(CreateObject(kUtilsClass), nullptr) << "nothing logged on yet";
  const auto session = LoggedOn();
  for (const char* name : {kUtilsClass, kRdoSessionClass, kHelperFolderClass, kHelperTableClass}) {
    EXPECT_EQ(ErrorOf([&] { CreateObject(name); }), errnum::kClassNotRegistered) << name;
  }
  EXPECT_NE(CreateObject(kCommandClass), nullptr);
}

TEST_F(MemoryHelperTest, FaultsReachCreatorsAndHelperCalls) {
  const auto session = LoggedOn();
  FaultPlan& faults = Faults(*organisation_);
  faults.Inject(NoObject(std::string("CreateObject:") + kUtilsClass));
  EXPECT_EQ(CreateObject(kUtilsClass), nullptr);
  faults.Inject(Raise("CreateObject:ADODB.Command", errnum::kClassNotRegistered));
  EXPECT_EQ(ErrorOf([] { CreateObject(kCommandClass); }), errnum::kClassNotRegistered);
  faults.Clear();

  const auto utils = Attached<ZQMAPIUtils>(kUtilsClass, session);
  const auto rdo = Attached<RDOSession>(kRdoSessionClass, session);
  faults.Inject(Raise("ZQMAPIUtils.CreateRecipient", errnum::kNotFound));
  EXPECT_EQ(ErrorOf([&] { utils->CreateRecipient("ana", 0, 0); }), errnum::kNotFound);
  faults.Inject(NoObject("RDOAddressLists.Item"));
  EXPECT_EQ(rdo->AddressBook()->AddressLists()->Item("Global Address List"), nullptr);
  faults.Clear();
  faults.Inject(Raise("HelperAddressEntry.SMTPAddress", -1, "no smtp"));
  EXPECT_EQ(ErrorOf([&] { utils->CreateRecipient("ben", 0, 0)->AddressEntry()->SMTPAddress(); }),
            -1);
  faults.Inject(Raise("RDOSession.SetMAPIOBJECT", errnum::kLogonFailed));
  EXPECT_EQ(ErrorOf([&] { rdo->SetMAPIOBJECT(session->MAPIOBJECT()); }), errnum::kLogonFailed);
}

// The counts a test relies on to show that an operation released what it
// made: a connection or record set counts until its Close, even when it is
// released unclosed; a scratch message or helper session while it is held.
TEST_F(MemoryHelperTest, OpenObjectsCountWhatIsOpenOrHeld) {
  const auto session = LoggedOn();
  EXPECT_EQ(OpenObjects(*organisation_), OpenCounts{});

  auto connection = CreateObjectAs<Connection>(kConnectionClass);
  connection->SetProvider("ADsDSOObject");
  EXPECT_EQ(OpenObjects(*organisation_).connections, 0) << "not open yet";
  connection->Open("Active Directory Provider", "", "", -1);
  const auto command = CreateObjectAs<Command>(kCommandClass);
  command->SetActiveConnection(connection);
  command->SetCommandText("<GC://DC=harbor,DC=example>;(mail=*);name;subTree");
  auto closed = command->Execute(-1);
  auto unclosed = command->Execute(-1);
  EXPECT_EQ(OpenObjects(*organisation_).connections, 1);
  EXPECT_EQ(OpenObjects(*organisation_).record_sets, 2);
  closed->Close();
  closed.reset();
  unclosed.reset();
  EXPECT_EQ(OpenObjects(*organisation_).record_sets, 1) << "released unclosed";
  connection->Close();
  EXPECT_EQ(OpenObjects(*organisation_).connections, 0);

  auto message = session->ScratchFolder()->Messages()->Add();
  auto rdo = Attached<RDOSession>(kRdoSessionClass, session);
  EXPECT_EQ(OpenObjects(*organisation_).scratch_messages, 1);
  EXPECT_EQ(OpenObjects(*organisation_).helper_sessions, 1);
  message.reset();
  rdo.reset();
  EXPECT_EQ(OpenObjects(*organisation_).scratch_messages, 0);
  EXPECT_EQ(OpenObjects(*organisation_).helper_sessions, 0);
}

}  // namespace
}  // namespace platform::memory
