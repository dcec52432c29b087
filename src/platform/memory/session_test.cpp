#include "platform/memory/session.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_test_support.h"
#include "platform/messaging.h"

namespace platform::memory {
namespace {

using memtest::ErrorOf;

class MemorySessionTest : public memtest::RuntimeTest {
 protected:
  MemorySessionTest()
      : organisation_(LoadFromText(memtest::kProfile, memtest::kLdif, "t")),
        session_(NewSession(FixedSource(organisation_), nullptr)) {}

  void LogOn(const std::string& alias = "ana") { session_->Logon("server\n" + alias); }

  std::shared_ptr<Folder> Contacts() {
    return session_->InfoStores()->ItemByName("")->RootFolder()->Folders()->ItemByName("Contacts");
  }

  std::shared_ptr<Organisation> organisation_;
  std::shared_ptr<Session> session_;
};

TEST_F(MemorySessionTest, LogonRefusesUnknownServersAndAliases) {
  const auto unknown_server = NewSession([](const std::string&) { return nullptr; }, nullptr);
  EXPECT_EQ(ErrorOf([&] { unknown_server->Logon("nowhere\nana"); }), errnum::kLogonFailed);
  EXPECT_EQ(ErrorOf([&] { LogOn("nobody"); }), errnum::kLogonFailed);
  EXPECT_EQ(ErrorOf([&] { session_->Logon("server"); }), errnum::kLogonFailed) << "no alias";
  EXPECT_EQ(ErrorOf([&] { LogOn("sales"); }), errnum::kLogonFailed) << "a group is no user";
  // Each refusal says why on the error stream; the engine's own lines
  // ("not initialised") would not tell the user what to fix.
  EXPECT_EQ(process_.ErrorLines(),
            (std::vector<std::string>{"server: no mailbox or directory user with alias 'nobody'",
                                      "server: no mailbox or directory user with alias ''",
                                      "server: no mailbox or directory user with alias 'sales'"}));
  const size_t earlier = process_.ErrorLines().size();

  const auto files = NewSession(ProfileFileSource(), nullptr);
  EXPECT_EQ(ErrorOf([&] { files->Logon("/no/such/profile.json\nana"); }), errnum::kLogonFailed);
  EXPECT_EQ(ErrorOf([&] { files->Logon("/tmp\nana"); }), errnum::kLogonFailed);
  EXPECT_EQ(ErrorOf([&] { files->Logon("LDAP://dc1.harbor.example\nana"); }), errnum::kLogonFailed);
  EXPECT_EQ(std::vector<std::string>(process_.ErrorLines().begin() + earlier,
                                     process_.ErrorLines().end()),
            (std::vector<std::string>{
                "/no/such/profile.json: cannot open the file: No such file or directory",
                "/tmp: is a directory, not a file",
                "LDAP://dc1.harbor.example: directory servers cannot be reached here"}));
}

TEST_F(MemorySessionTest, ProfileFaultsAreReportedOnOneLine) {
  const auto broken = NewSession(
      [](const std::string&) -> std::shared_ptr<Organisation> {
        throw ProfileError("p.ldif:7: bad\nrecord");
      },
      nullptr);
  EXPECT_EQ(ErrorOf([&] { broken->Logon("p.json\nana"); }), errnum::kLogonFailed);
  EXPECT_EQ(process_.ErrorLines(), (std::vector<std::string>{"p.ldif:7: bad record"}));
  EXPECT_EQ(ErrorOf([&] { broken->InfoStores(); }), errnum::kNotInitialized);
}

TEST_F(MemorySessionTest, EverythingWaitsForALogonAndEndsWithTheLogoff) {
  EXPECT_EQ(ErrorOf([&] { session_->MAPIOBJECT(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { session_->ScratchFolder(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { session_->GlobalAddressEntries(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { session_->Logoff(); }), 0);
  EXPECT_EQ(ErrorOf([&] { LogOn("nobody"); }), errnum::kLogonFailed);
  EXPECT_EQ(ErrorOf([&] { session_->InfoStores(); }), errnum::kNotInitialized);

  LogOn("ANA");
  const auto folder = session_->ScratchFolder();
  const auto gal = session_->GlobalAddressEntries();
  const auto entry = gal->Item(1);
  const auto recipients = folder->Messages()->Add()->Recipients();
  session_->Logoff();
  EXPECT_EQ(ErrorOf([&] { folder->Name(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { gal->Count(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { entry->Name(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { recipients->Add("ana"); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { session_->GetAddressEntry("00"); }), errnum::kNotInitialized);

  LogOn();
  EXPECT_EQ(ErrorOf([&] { entry->Name(); }), errnum::kNotInitialized)
      << "objects of an earlier logon stay dead";
  EXPECT_EQ(session_->GlobalAddressEntries()->Item(1)->Name(), "Ana Lima");
  EXPECT_EQ(ErrorOf([&] { LogOn("nobody"); }), errnum::kLogonFailed);
  EXPECT_EQ(ErrorOf([&] { session_->GlobalAddressEntries(); }), errnum::kNotInitialized)
      << "a failed logon leaves the session logged off";
}

TEST_F(MemorySessionTest, DirectoryUsersLogOnToTheirOwnMailbox) {
  LogOn("noex");
  const auto store = session_->InfoStores()->ItemByName("");
  EXPECT_EQ(store->Name(), "Mailbox - No Exchange");
  EXPECT_EQ(store->RootFolder()->Folders()->Count(), 7);
  EXPECT_EQ(session_->ScratchFolder()->Name(), "Drafts");
}

TEST_F(MemorySessionTest, StoresComeInAFixedOrder) {
  LogOn();
  const auto stores = session_->InfoStores();
  ASSERT_EQ(stores->Count(), 2);
  const auto mailbox = stores->Item(1);
  const auto public_store = stores->Item(2);
  EXPECT_EQ(mailbox->Name(), "Mailbox - Ana Lima");
  EXPECT_EQ(public_store->Name(), "Public Folders");
  EXPECT_EQ(stores->ItemByName("")->ID(), mailbox->ID());
  EXPECT_EQ(stores->ItemByName("Public Folders")->ID(), public_store->ID());
  EXPECT_EQ(ErrorOf([&] { stores->ItemByName("public folders"); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { stores->Item(3); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { stores->Item(0); }), errnum::kNotFound);

  EXPECT_EQ(ErrorOf([&] { mailbox->Field(tag::kPublicFoldersEntryId); }), errnum::kNotFound);
  const std::string top_id = public_store->Field(tag::kPublicFoldersEntryId).ToText();
  const auto top = session_->GetFolder(top_id, public_store->ID());
  EXPECT_EQ(top->Name(), "All Public Folders");
  EXPECT_EQ(top->StoreID(), public_store->ID());
  EXPECT_EQ(top->Folders()->Item(1)->Name(), "Company Contacts");
  EXPECT_EQ(public_store->RootFolder()->Folders()->Item(1)->ID(), top_id);
  EXPECT_EQ(ErrorOf([&] { session_->GetFolder(top_id, std::nullopt); }), errnum::kNotFound)
      << "without a store identifier only the default store is searched";
  EXPECT_EQ(ErrorOf([&] { session_->GetFolder(top_id, "0123"); }), errnum::kNotFound);
}

TEST_F(MemorySessionTest, FoldersAndMessagesOpenByIdentifier) {
  LogOn();
  // The profile wrote "c0ffee"; identifiers are upper case, opened
  // without regard to case and reported in their own form.
  const auto folder = session_->GetFolder("c0FFee", std::nullopt);
  EXPECT_EQ(folder->Name(), "Contacts");
  EXPECT_EQ(folder->ID(), "C0FFEE") << "the folder reports its own identifier";
  const auto message = session_->GetMessage("ab01", std::nullopt);
  EXPECT_EQ(message->Subject(), "Ben Ortiz");
  EXPECT_EQ(message->ID(), "AB01");
  EXPECT_EQ(ErrorOf([&] { session_->GetMessage("AB02", std::nullopt); }), errnum::kNotFound);
  EXPECT_TRUE(session_->CompareIDs("ab01", "AB01"));
  EXPECT_FALSE(session_->CompareIDs("AB01", "AB010"));
  EXPECT_FALSE(session_->CompareIDs("", ""));

  const auto folders = session_->InfoStores()->Item(1)->RootFolder()->Folders();
  EXPECT_EQ(ErrorOf([&] { folders->ItemByName("contacts"); }), errnum::kNotFound);
  const auto added = folders->ItemByName("Contacts")->Folders()->Add("Hidden");
  EXPECT_EQ(session_->GetFolder(added->ID(), std::nullopt)->Name(), "Hidden");
  EXPECT_EQ(folders->ItemByName("Contacts")->Folders()->Count(), 1);
}

TEST_F(MemorySessionTest, MessagesFilterByClassAndGiveTheirFields) {
  LogOn();
  const auto messages = Contacts()->Messages();
  EXPECT_EQ(messages->Count(), 3);
  messages->SetFilterClass("IPM.Contact");
  EXPECT_EQ(messages->Count(), 2);
  EXPECT_EQ(messages->Item(2)->Subject(), "Carla");
  EXPECT_EQ(ErrorOf([&] { messages->Item(3); }), errnum::kNotFound);
  messages->SetFilterClass(std::nullopt);
  EXPECT_EQ(messages->Item(2)->Subject(), "a note");
  EXPECT_EQ(messages->GetFirst("IPM.Note")->Subject(), "a note");
  EXPECT_EQ(messages->GetFirst("IPM.Appointment"), nullptr);

  const auto message = messages->Item(1);
  EXPECT_EQ(message->Class(), "IPM.Contact");
  EXPECT_EQ(message->FieldByName("count").ToInt32(), 3) << "names ignore letter case";
  EXPECT_TRUE(message->FieldByName("Flag").ToBool());
  EXPECT_TRUE(message->FieldByName("Nothing").IsNull());
  ASSERT_NE(message->FieldByName("Tags").Array(), nullptr);
  EXPECT_EQ(message->FieldByName("Tags").Array()->items[1].ToText(), "b");
  EXPECT_EQ(ErrorOf([&] { message->FieldByName("Missing"); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { messages->Item(2)->FieldByName("Count"); }), errnum::kNotFound)
      << "a name another message has";
  // The contact slots live in the address set by number, out of reach of a
  // field name.
  EXPECT_EQ(ErrorOf([&] { message->FieldByName("email1"); }), errnum::kNotFound);
}

TEST_F(MemorySessionTest, ScratchMessagesAreNeverKept) {
  LogOn();
  const auto scratch_folder = session_->ScratchFolder();
  EXPECT_EQ(scratch_folder->Name(), "Drafts");
  const auto messages = scratch_folder->Messages();
  std::weak_ptr<Message> released;
  for (int i = 0; i < 3; ++i) {
    const auto message = messages->Add();
    message->Recipients()->Add("ana")->Resolve(false);
    released = message;
  }
  EXPECT_TRUE(released.expired()) << "the folder holds no scratch message";
  EXPECT_EQ(messages->Count(), 0);

  const auto message = messages->Add();
  const std::string id = message->ID();
  EXPECT_EQ(ErrorOf([&] { session_->GetMessage(id, std::nullopt); }), errnum::kNotFound);
  message->Delete();
  EXPECT_EQ(ErrorOf([&] { message->Recipients(); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { message->Delete(); }), errnum::kNotFound);

  // A profile message leaves its folder for good.
  const auto kept = session_->GetMessage("AB01", std::nullopt);
  kept->Delete();
  EXPECT_EQ(Contacts()->Messages()->Count(), 2);
  EXPECT_EQ(ErrorOf([&] { session_->GetMessage("AB01", std::nullopt); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { kept->Subject(); }), errnum::kNotFound);
}

TEST_F(MemorySessionTest, ScratchFolderFallsBackToTheRoot) {
  const auto organisation =
      LoadFromText(R"({"mailboxes": [{"alias": "ana"}]})", memtest::kLdif, "t");
  const auto session = NewSession(FixedSource(organisation), nullptr);
  session->Logon("x\nana");
  EXPECT_EQ(session->ScratchFolder()->Name(), "Top of Information Store");
  EXPECT_EQ(session->InfoStores()->Count(), 1) << "no public folders in the profile";
}

TEST_F(MemorySessionTest, RecipientsRememberHowTheyResolved) {
  LogOn();
  const auto recipients = session_->ScratchFolder()->Messages()->Add()->Recipients();
  EXPECT_FALSE(recipients->Resolved()) << "an empty collection is not resolved";
  const auto ana = recipients->Add(" ana ");
  EXPECT_EQ(ErrorOf([&] { ana->AddressEntry(); }), errnum::kNotFound) << "before Resolve";
  EXPECT_EQ(ana->Name(), " ana ");
  ana->Resolve(false);
  EXPECT_EQ(ana->Name(), "Ana Lima");
  EXPECT_EQ(ana->AddressEntry()->Type(), "EX");
  EXPECT_TRUE(recipients->Resolved());

  const auto twin = recipients->Add("Twin");
  EXPECT_EQ(ErrorOf([&] { twin->Resolve(false); }), errnum::kAmbiguousRecip);
  EXPECT_EQ(ErrorOf([&] { twin->AddressEntry(); }), errnum::kAmbiguousRecip);
  EXPECT_EQ(twin->Name(), "Twin");
  EXPECT_FALSE(recipients->Resolved());
  EXPECT_EQ(recipients->Count(), 2);

  const auto outside = recipients->Add("SMTP:Who@Outside.example");
  outside->Resolve(false);
  const auto entry = outside->AddressEntry();
  EXPECT_EQ(entry->Type(), "SMTP");
  EXPECT_EQ(entry->Address(), "Who@Outside.example");
  EXPECT_EQ(session_->GetAddressEntry(entry->ID())->Address(), "Who@Outside.example");
}

TEST_F(MemorySessionTest, AddressEntriesOfTheSession) {
  LogOn();
  const auto gal = session_->GlobalAddressEntries();
  EXPECT_EQ(gal->Count(), 12);
  const auto sales = gal->ItemByName("SALES TEAM");
  EXPECT_EQ(sales->DisplayType(), display_type::kDistList);
  const auto members = sales->Members();
  ASSERT_EQ(members->Count(), 2);
  EXPECT_EQ(members->Item(2)->Name(), "Ana Lima");
  EXPECT_EQ(members->ItemByName("ben ortiz")->Name(), "Ben Ortiz");
  EXPECT_EQ(ErrorOf([&] { members->ItemByName("Twin"); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { members->Item(3); }), errnum::kNotFound);
  EXPECT_EQ(gal->ItemByName("Ana Lima")->Members()->Count(), 0);
  EXPECT_EQ(session_->GetAddressEntry(sales->ID())->Name(), "Sales Team");
  EXPECT_EQ(ErrorOf([&] { session_->GetAddressEntry("NOT HEX"); }), errnum::kNotFound);

  gal->SetFilterAddress("EX:/o=Harbor/cn=Recipients/cn=ben");
  ASSERT_EQ(gal->Count(), 1);
  EXPECT_EQ(gal->Item(1)->Field(tag::kSmtpAddress).ToText(), "ben.ortiz@harbor.example");
  gal->SetFilterAddress("SMTP:shared@harbor.example");
  EXPECT_EQ(gal->Count(), 2);
  gal->SetFilterAddress("SMTP:nobody@harbor.example");
  EXPECT_EQ(gal->Count(), 0);
  EXPECT_EQ(ErrorOf([&] { gal->Item(1); }), errnum::kNotFound);
  gal->SetFilterAddress(std::nullopt);
  EXPECT_EQ(gal->Count(), 12);

  members->SetFilterAddress("SMTP:ana.lima@harbor.example");
  ASSERT_EQ(members->Count(), 1);
  EXPECT_EQ(members->Item(1)->Name(), "Ana Lima");
}

TEST_F(MemorySessionTest, FaultsMakeNamedOperationsFail) {
  Faults(*organisation_).Inject(Raise("Session.Logon", errnum::kNotFound).Skip(1).Times(1));
  LogOn();  // skipped once
  session_->Logoff();
  EXPECT_EQ(ErrorOf([&] { LogOn(); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { session_->InfoStores(); }), errnum::kNotInitialized);
  LogOn();  // the fault hit its one time

  const auto sales = session_->GlobalAddressEntries()->ItemByName("Sales Team");
  Faults(*organisation_).Inject(NoObject("AddressEntry.Members"));
  EXPECT_EQ(sales->Members(), nullptr);
  Faults(*organisation_).Inject(NoObject("AddressEntry.DisplayType"));
  EXPECT_EQ(sales->DisplayType(), 0);
  Faults(*organisation_).Inject(Raise("Recipient.Resolve", -5, "boom"));
  const auto recipient = session_->ScratchFolder()->Messages()->Add()->Recipients()->Add("ana");
  try {
    recipient->Resolve(false);
    ADD_FAILURE() << "no fault";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.number(), -5);
    EXPECT_EQ(e.description(), "boom");
  }
  Faults(*organisation_).Inject(NoObject("Messages.Add"));
  EXPECT_EQ(session_->ScratchFolder()->Messages()->Add(), nullptr);
  Faults(*organisation_).Inject(Raise("Session.ScratchFolder", errnum::kNotFound));
  EXPECT_EQ(ErrorOf([&] { session_->ScratchFolder(); }), errnum::kNotFound);
  Faults(*organisation_).Clear();
  EXPECT_EQ(sales->Members()->Count(), 2);
}

}  // namespace
}  // namespace platform::memory
