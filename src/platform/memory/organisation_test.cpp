#include "platform/memory/organisation.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/memory/address_book.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_directory_search.h"
#include "platform/memory/memory_test_support.h"
#include "platform/properties.h"

namespace platform::memory {
namespace {

using memtest::kLdif;
using memtest::kProfile;
using ::testing::ElementsAre;

std::string LoadError(const std::string& json, const std::string& ldif) {
  try {
    LoadFromText(json, ldif, "t");
  } catch (const ProfileError& e) {
    return e.what();
  }
  return "(loaded)";
}

TEST(MemoryOrganisationTest, SettingsDefaultAndRootDomainIsTheShortestDomainDn) {
  const auto organisation = LoadFromText("{}", kLdif, "t");
  EXPECT_TRUE(organisation->settings().global_catalog);
  EXPECT_TRUE(organisation->settings().helper_library);
  EXPECT_EQ(organisation->settings().root_domain_naming_context, "DC=harbor,DC=example");
  EXPECT_EQ(organisation->directory_context().root_domain_naming_context, "DC=harbor,DC=example");
  EXPECT_EQ(organisation->directory_context().search, &organisation->directory_search());
  EXPECT_EQ(organisation->directory_context().faults, &organisation->faults());

  const auto explicit_settings = LoadFromText(
      R"({"rootDomainNamingContext": "DC=other", "globalCatalog": false, "helperLibrary": false})",
      kLdif, "t");
  EXPECT_EQ(explicit_settings->settings().root_domain_naming_context, "DC=other");
  EXPECT_FALSE(explicit_settings->settings().global_catalog);
  EXPECT_FALSE(explicit_settings->directory_context().global_catalog);
  EXPECT_FALSE(explicit_settings->settings().helper_library);

  const auto no_domain = LoadFromText("{}", "dn: CN=x,O=y\ncn: x\n\ndn: dc=a,cn=b\n", "t");
  EXPECT_EQ(no_domain->settings().root_domain_naming_context, "");
  EXPECT_EQ(LoadFromText("{}", "", "t")->directory().Entries().size(), 0u);
}

TEST(MemoryOrganisationTest, ProfileFaultsNameTheFileAndTheKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\n  \"mailboxes\": [\n    {\"alias\" \"ana\"}\n  ]\n}", "t.json:3: syntax error"},
      {"{\n\n", "t.json:3: syntax error"},
      {"[]", "t.json: the profile must be a JSON object"},
      {R"({"globalCatalog": "yes"})", "t.json: key 'globalCatalog' must be true or false"},
      {R"({"rootDomainNamingContext": 5})", "t.json: key 'rootDomainNamingContext' must be a text"},
      {R"({"mailboxes": {}})", "t.json: key 'mailboxes' must be an array"},
      {R"({"mailboxes": [{"store": "x"}]})", "t.json: key 'mailboxes[0].alias' must be given"},
      {R"({"mailboxes": [{"alias": " "}]})", "t.json: key 'mailboxes[0].alias' must not be empty"},
      {R"({"mailboxes": [{"alias": "a"}, {"alias": "A"}]})",
       "t.json: key 'mailboxes[1].alias' must be unique"},
      {R"({"mailboxes": [{"alias": "a", "store": " "}]})",
       "t.json: key 'mailboxes[0].store' must not be empty"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": 1}]}]})",
       "t.json: key 'mailboxes[0].folders[0].name' must be a text"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "id": "12G4"}]}]})",
       "t.json: key 'mailboxes[0].folders[0].id' must be hexadecimal text"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "id": "ab"}]}],
           "publicFolders": {"folders": [{"name": "y", "id": "AB"}]}})",
       "t.json: key 'publicFolders.folders[0].id' must be unique; 'AB' is already the identifier "
       "of 'mailboxes[0].folders[0].id'"},
      {R"({"mailboxes": [{"alias": "a", "id": "0A0B", "folders": [{"name": "x",
           "messages": [{"id": "0a0b", "class": "c", "subject": "s"}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].id' must be unique; '0a0b' is already "
       "the identifier of 'mailboxes[0].id'"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "id": "ABC"}]}]})",
       "t.json: key 'mailboxes[0].folders[0].id' must be hexadecimal text of whole bytes"},
      {R"({"publicFolders": {"id": "", "folders": []}})",
       "t.json: key 'publicFolders.id' must be hexadecimal text"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"id": "AB"}]}]})",
       "t.json: key 'mailboxes[0].folders[0].name' must be given"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "folders": [{"name": ""}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].folders[0].name' must not be empty"},
      {R"({"publicFolders": {"folders": [{"name": "a\\b"}]}})",
       "t.json: key 'publicFolders.folders[0].name' must not hold '\\'"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "messages": [
           {"class": "", "subject": "s"}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].class' must not be empty"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "messages": [
           {"class": "c", "subject": "s", "fields": {"": 1}}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].fields' must not hold a field with an "
       "empty name"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "messages": [
           {"class": "c", "subject": "s", "fields": {"Pin": 1, "PIN": 2}}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].fields.Pin' must be given once; the "
       "message has a field 'PIN'"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "messages": [{"subject": "s"}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].class' must be given"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "messages": [
           {"class": "c", "subject": "s", "fields": {"f": 1.5}}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].fields.f' must be a text, a 32-bit"},
      {R"({"mailboxes": [{"alias": "a", "folders": [{"name": "x", "messages": [
           {"class": "c", "subject": "s", "email1EntryId": "xyz"}]}]}]})",
       "t.json: key 'mailboxes[0].folders[0].messages[0].email1EntryId' must be hexadecimal"},
      {R"({"helperLibary": false})", "t.json: unknown key 'helperLibary'"},
      {R"({"publicFolders": {"folder": []}})", "t.json: unknown key 'publicFolders.folder'"},
  };
  for (const auto& [json, expected] : cases) {
    const std::string error = LoadError(json, kLdif);
    EXPECT_EQ(error.rfind(expected, 0), 0u) << json << "\n gave: " << error;
  }
}

TEST(MemoryOrganisationTest, LdifFaultsNameTheFileAndTheLine) {
  const std::string good = "dn: CN=a,DC=x\ncn: a\n\n";  // lines 1-3
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good + "dn: CN=b,DC=x\ncn b\n", "t.ldif:5: malformed line in entry \"CN=b,DC=x\""},
      {good + "# note\ndn: cn=A,dc=X\ncn: again\n",
       "t.ldif:4: duplicate dn 'cn=A,dc=X' (first at line 1)"},
      {good + "cn: orphan\n", "t.ldif:4: record without dn"},
      {good + "dn: CN=a,DC=x\nchangetype: modify\nreplace: cn\ncn: z\n-\n",
       "t.ldif:4: changetype modify is not accepted"},
      {good + "dn: CN=a,DC=x\nchangetype: delete\n", "t.ldif:4: changetype delete is not accepted"},
      {good + "include: file:///etc/hostname\n\ndn: CN=c,DC=x\n",
       "t.ldif:4: include directives are not accepted"},
      {good + "dn: not a dn\ncn: x\n", "t.ldif:4: 'not a dn' is not a valid DN"},
      {good + "dn: CN=c,DC=x\nphoto:: !!!!\n", "t.ldif:5: invalid base64"},
      // Both used to crash libldap's record parser.
      {good + "dn: CN=c,DC=x\n-\n", "t.ldif:5: malformed line in entry \"CN=c,DC=x\""},
      {good + "dn: CN=c,DC=x\n: y\n", "t.ldif:5: '' is not a valid attribute name"},
      {good + "no colon here\n", "t.ldif:4: malformed line"},
      // The reader gives no text for a first record like this one.
      {"1ver\n", "t.ldif:1: record without dn"},
      // Nor for a record of nothing but a line number: not the record
      // before it once more (which used to fail as a duplicate of it).
      {good + "\n1\n\ndn: CN=b,DC=x\n", "t.ldif:5: record without dn"},
      {"\n\n1\n", "t.ldif:3: record without dn"},
  };
  for (const auto& [ldif, expected] : cases) {
    const std::string error = LoadError("{}", ldif);
    EXPECT_EQ(error.rfind(expected, 0), 0u) << ldif << "\n gave: " << error;
  }
}

// What the screen lets through must still load, and nothing of what it
// stops may reach the reader.
TEST(MemoryOrganisationTest, ScreenRefusesOnlyWhatTheReaderWouldMishandle) {
  const std::string good = "dn: CN=a,DC=x\ncn: a\n";  // lines 1-2
  const std::vector<std::pair<std::string, std::string>> refused = {
      {good + "description:<file:///etc/hostname\n",
       "t.ldif:3: the value of 'description' is a URL"},
      {good + "\tdisplayName:< file:///etc/hostname\n",
       "t.ldif:3: the value of 'displayName' is a URL"},
      {good + "# note\n description:< file:///etc/hostname\n",
       "t.ldif:4: the value of 'description' is a URL"},
      {"dn:< file:///etc/hostname\n", "t.ldif:1: the value of 'dn' is a URL"},
      {good + "INCLUDE: file:///etc/hostname\n", "t.ldif:3: include directives are not accepted"},
      {good + "description: x\r\ncn: y\rz\n", "t.ldif:4: the line ends with a lone carriage"},
      {good + "description:: YQ\n", "t.ldif:3: invalid base64 value of attribute description"},
      {good + "description:: YQ==YQ==\n", "t.ldif:3: invalid base64 value"},
      {good + "description::\n", "t.ldif:3: invalid base64 value"},
      {good + "cn;:x\n", "t.ldif:3: 'cn;' is not a valid attribute name"},
      {good + "1..2: x\n", "t.ldif:3: '1..2' is not a valid attribute name"},
      {good + "msExchRecipientDisplayType: six\n",
       "t.ldif:3: msExchRecipientDisplayType must be a 32-bit integer, not 'six'"},
      // 4294967297 in base64 escapes the look at the text but not the record.
      {good + "msExchRecipientDisplayType:: NDI5NDk2NzI5Nw==\n",
       "t.ldif:1: msExchRecipientDisplayType must be a 32-bit integer"},
  };
  for (const auto& [ldif, expected] : refused) {
    const std::string error = LoadError("{}", ldif);
    EXPECT_EQ(error.rfind(expected, 0), 0u) << ldif << "\n gave: " << error;
  }

  const auto loaded = LoadFromText("{}",
                                   "\xEF\xBB\xBFversion: 1\n"
                                   "# a comment:< that names a file\n"
                                   "dn: CN=a,DC=x\r\n"
                                   "cn;lang-en: a\n"
                                   "2.5.4.13: by oid\n"
                                   "description: folded:\n  <not a url\n"
                                   "msExchRecipientDisplayType: -2147483642\n"
                                   "msExchRecipientDisplayType: 4294967295\n",
                                   "t");
  ASSERT_EQ(loaded->directory().Entries().size(), 1u);
  const DirEntry& entry = loaded->directory().Entries()[0];
  EXPECT_EQ(entry.First("cn;lang-en"), "a");
  EXPECT_EQ(entry.First("2.5.4.13"), "by oid");
  EXPECT_EQ(entry.First("description"), "folded: <not a url");
  EXPECT_EQ(entry.Values("msExchRecipientDisplayType").size(), 2u);
}

// Records with very many attributes and very deep folder trees load, and
// keep what they hold in order (their cost is measured, not asserted).
TEST(MemoryOrganisationTest, ManyAttributesAndDeepFolderTreesLoadWhole) {
  std::string ldif = "dn: CN=a,DC=x\n";
  for (int i = 0; i < 50000; ++i)
    ldif += "a" + std::to_string(i % 25000) + ": v" + std::to_string(i) + "\n";
  const auto wide = LoadFromText("{}", ldif, "t");
  const DirEntry& entry = wide->directory().Entries()[0];
  ASSERT_EQ(entry.attributes().size(), 25000u);
  EXPECT_EQ(entry.attributes()[24999].name(), "a24999");
  EXPECT_THAT(entry.Values("A7"), ElementsAre("v7", "v25007"));

  constexpr int kDepth = 4000;
  std::string json = R"({"mailboxes": [{"alias": "ana", "folders": [)";
  for (int i = 0; i < kDepth; ++i)
    json += R"({"name": "f)" + std::to_string(i) + R"(", "folders": [)";
  for (int i = 0; i < kDepth; ++i) json += "]}";
  json += "]}]}";
  const auto deep = LoadFromText(json, "", "t");
  const FolderData* folder = deep->MailboxStore("ana")->root.get();
  std::unordered_set<std::string> ids;
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(folder->folders.size(), 1u);
    folder = folder->folders[0].get();
    ids.insert(folder->id);
  }
  EXPECT_EQ(folder->name, "f3999");
  EXPECT_EQ(ids.size(), static_cast<size_t>(kDepth));
  const std::string error = LoadError(
      R"({"mailboxes": [{"alias": "ana", "folders": [{"name": "a", "folders": [{"name": 1}]}]}]})",
      "");
  EXPECT_EQ(error, "t.json: key 'mailboxes[0].folders[0].folders[0].name' must be a text");
}

// Identifiers left out of the profile are the FNV-1a hash of the store name
// and the folder path (messages: the path without the root folder, then
// "#" and the position); stored references rely on them staying the same.
TEST(MemoryOrganisationTest, MadeIdentifiersAreStableHashesOfThePath) {
  const auto organisation = LoadFromText(
      R"({"mailboxes": [{"alias": "ana", "store": "Mailbox - Ana", "folders": [
           {"name": "Inbox", "folders": [{"name": "Sub", "messages": [{"class": "c", "subject": "s"}]}]}]}]})",
      "", "t");
  const FolderData& inbox = *organisation->MailboxStore("ana")->root->folders[0];
  EXPECT_EQ(inbox.id, "CC6E98DCC4E54069");
  EXPECT_EQ(inbox.folders[0]->id, "3A1D2555732E4203");
  EXPECT_EQ(inbox.folders[0]->messages[0]->id, "158F8507E7F27C27");
}

TEST(MemoryOrganisationTest, ProfileJsonRefusesRepeatedKeysAndNamesOverflows) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"mailboxes": [{"alias": "a"}, {"alias": "b", "store": "x", "store": "y"}]})",
       "t.json: duplicate key 'mailboxes[1].store'"},
      {R"({"publicFolders": {"folders": [{"name": "a", "messages": [{"fields": {"f": 1, "f": 2}}]}]}})",
       "t.json: duplicate key 'publicFolders.folders[0].messages[0].fields.f'"},
      {"{\n\"mailboxes\": [{\"alias\": \"a\", \"folders\": [{\"name\": \"x\", \"messages\": [\n"
       "{\"class\": \"c\", \"subject\": \"s\", \"fields\": {\"n\": 1e999}}]}]}]}",
       "t.json:3: number overflow parsing '1e999'"},
  };
  for (const auto& [json, expected] : cases) EXPECT_EQ(LoadError(json, ""), expected) << json;
}

TEST(MemoryOrganisationTest, RecordsKeepValuesInFileOrderAndDecodeTheirDn) {
  const auto organisation = LoadFromText("{}",
                                         "dn: CN=Smith\\, John,OU=People,DC=x\n"
                                         "member: b\n"
                                         "Member: a\n"
                                         "jpegPhoto:: AAEC\n"
                                         "description:\n",
                                         "t");
  const auto& entries = organisation->directory().Entries();
  ASSERT_EQ(entries.size(), 1u);
  const DirEntry& entry = entries[0];
  EXPECT_EQ(entry.RdnValue(), "Smith, John");
  EXPECT_EQ(entry.line, 1u);
  EXPECT_THAT(entry.Values("member"), ElementsAre("b", "a"));
  EXPECT_EQ(entry.First("jpegPhoto"), std::string("\0\1\2", 3));
  // An empty value is a value: the attribute is present.
  EXPECT_THAT(entry.Values("description"), ElementsAre(""));
}

// Values are kept as views into the loaded text where the record stands
// in it, and copied where it does not (decoded base64, the reader's own
// assembly); objects with the same names and value counts share a shape.
// Whatever the path, every object must read back what its record says.
TEST(MemoryOrganisationTest, ObjectsReadBackTheirRecordsWhateverTheLayout) {
  for (const std::string end : {"\n", "\r\n"}) {
    const auto line = [&](const std::string& text) { return text + end; };
    const std::string ldif =
        line("version: 1") + end + line("# a comment") + line("dn: CN=A,DC=x") +
        line("mail: a1@x") + line("mail: a2@x") + line("cn: A") + end + line("dn: CN=B,DC=x") +
        line("mail: b@x") + line("cn: B") + line("cn: B2") + end + line("dn: CN=C,DC=x") +
        line("cn: C") + line("mail: c@x") + line("mail: c2@x") + end + line("dn: CN=D,DC=x") +
        line("mail: d1@x") + line("mail: d2@x") + line("cn: D") + end + line("dn:: Q049RSxEQz14") +
        line("description:: aMOpbGxv") + line("mail: e@") + line(" x") + end + "dn: CN=F,DC=x" +
        end + "cn: last, without a line end";
    const auto organisation = LoadFromText("{}", ldif, "t");
    const auto& entries = organisation->directory().Entries();
    ASSERT_EQ(entries.size(), 6u);
    const auto names = [](const DirEntry& entry) {
      std::vector<std::string> out;
      for (const DirAttribute attribute : entry.attributes()) {
        out.emplace_back(attribute.name());
        for (const std::string_view value : attribute.values()) out.emplace_back(value);
      }
      return out;
    };
    EXPECT_THAT(names(entries[0]), ElementsAre("mail", "a1@x", "a2@x", "cn", "A"));
    EXPECT_THAT(names(entries[1]), ElementsAre("mail", "b@x", "cn", "B", "B2"));
    EXPECT_THAT(names(entries[2]), ElementsAre("cn", "C", "mail", "c@x", "c2@x"));
    EXPECT_THAT(names(entries[3]), ElementsAre("mail", "d1@x", "d2@x", "cn", "D"));
    EXPECT_EQ(entries[4].dn, "CN=E,DC=x");
    // A decoded DN is not in the loaded text: its RDN value is kept apart
    // from the reader's scratch, which the next record overwrites.
    EXPECT_EQ(entries[4].RdnValue(), "E");
    EXPECT_EQ(entries[5].RdnValue(), "F");
    EXPECT_THAT(names(entries[4]), ElementsAre("description", "h\xC3\xA9llo", "mail", "e@x"));
    EXPECT_EQ(entries[5].dn, "CN=F,DC=x");
    EXPECT_THAT(entries[5].Values("CN"), ElementsAre("last, without a line end"));
    EXPECT_THAT(entries[3].Values("Mail"), ElementsAre("d1@x", "d2@x"));
    EXPECT_EQ(organisation->directory().ByMail("D2@X").front(), &entries[3]);
  }
}

// Plainly written DNs are split where they stand, others by libldap; both
// must give the same RDN value and the same root domain.
TEST(MemoryOrganisationTest, DnsSplitAlikeHoweverWritten) {
  const auto organisation = LoadFromText("{}",
                                         "dn: CN=Ana Lima,OU=Staff,dc=Sub,DC=x\n\n"
                                         "dn: cn = Bo Brandt , ou=Staff,DC=x\n\n"
                                         "dn: CN=Lima\\, Ana,DC=x\n\n"
                                         "dn: CN=Caf\\C3\\A9,DC=x\n\n"
                                         "dn: dc=Sub,DC=x\n\n"
                                         "dn: Dc=x\n\n",
                                         "t");
  const auto& entries = organisation->directory().Entries();
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[0].RdnValue(), "Ana Lima");
  EXPECT_EQ(entries[1].RdnValue(), "Bo Brandt");
  EXPECT_EQ(entries[2].RdnValue(), "Lima, Ana");
  EXPECT_EQ(entries[3].RdnValue(), "Caf\xC3\xA9");
  EXPECT_EQ(entries[4].RdnValue(), "Sub");
  // A plainly written DN's RDN value is read where it stands in the DN.
  EXPECT_EQ(entries[0].RdnValue().data(), entries[0].dn.data() + 3);
  // The domain with the fewest components, in either spelling of "dc".
  EXPECT_EQ(organisation->settings().root_domain_naming_context, "Dc=x");
  // An empty RDN value: the object's name is that empty value.
  const auto unnamed = LoadFromText("{}", "dn: CN=,DC=x\ncn: c\n", "t");
  EXPECT_EQ(unnamed->directory().Entries()[0].RdnValue(), "");
  EXPECT_THAT(unnamed->directory().Entries()[0].Values("name"), ElementsAre(""));
  const auto deeper = LoadFromText("{}", "dn: dc=Sub,DC=x\n\ndn: CN=a,DC=x\n", "t");
  EXPECT_EQ(deeper->settings().root_domain_naming_context, "dc=Sub,DC=x");
}

TEST(MemoryOrganisationTest, StoresFoldersAndIdentifiers) {
  const auto organisation = LoadFromText(kProfile, kLdif, "t");
  StoreData* mailbox = organisation->MailboxStore("ANA");
  ASSERT_NE(mailbox, nullptr);
  EXPECT_EQ(mailbox->name, "Mailbox - Ana Lima");
  ASSERT_EQ(mailbox->root->folders.size(), 3u);
  const FolderData& contacts = *mailbox->root->folders[2];
  EXPECT_EQ(contacts.id, "C0FFEE") << "identifiers are kept in upper case";
  EXPECT_EQ(mailbox->folders_by_id.at("C0FFEE"), &contacts);
  ASSERT_EQ(contacts.messages.size(), 3u);
  EXPECT_EQ(contacts.messages[0]->id, "AB01");
  // Class, subject, the four fields and the e-mail address, each by tag;
  // the fields under the identifiers that the organisation's named-property
  // map gives every later reader.
  const MessageData& ben = *contacts.messages[0];
  EXPECT_EQ(ben.properties.size(), 7u);
  EXPECT_EQ(ben.Text(platform::prop_id::kMessageClass), "IPM.Contact");
  EXPECT_EQ(ben.Text(platform::prop_id::kSubject), "Ben Ortiz");
  NamedProperties& named = organisation->named_properties();
  const auto count_id = named.Find(platform::kPsPublicStrings, "COUNT");
  ASSERT_TRUE(count_id.has_value());
  const MessageProperty* count = ben.Find(platform::PropTag(*count_id, platform::prop_type::kLong));
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->value.ToInt32(), 3);
  EXPECT_EQ(ben.Find(platform::PropTag(*count_id, platform::prop_type::kString8)), nullptr)
      << "a typed tag finds only a value of its type";
  const auto email1_id = named.Find(platform::kPsetidAddress, platform::kEmailAddressLids[0]);
  ASSERT_TRUE(email1_id.has_value());
  EXPECT_EQ(ben.Text(*email1_id), "ben.ortiz@harbor.example");
  EXPECT_NE(*email1_id, *count_id);
  EXPECT_FALSE(named.Find(platform::kPsPublicStrings, "email1").has_value())
      << "the contact slots are numbered names of the address set, not public strings";

  // Made identifiers are 16 hex digits, distinct, and the same on a reload.
  const auto again = LoadFromText(kProfile, kLdif, "t");
  const std::string inbox_id = mailbox->root->folders[0]->id;
  EXPECT_EQ(inbox_id.size(), 16u);
  EXPECT_TRUE(IsHexText(inbox_id));
  EXPECT_EQ(again->MailboxStore("ana")->root->folders[0]->id, inbox_id);
  EXPECT_NE(mailbox->root->folders[1]->id, inbox_id);
  EXPECT_NE(contacts.messages[1]->id, contacts.messages[2]->id);
  EXPECT_EQ(again->MailboxStore("ana")->root->folders[2]->messages[1]->id,
            contacts.messages[1]->id);

  // A profile mailbox without "store" is named after its directory user.
  EXPECT_EQ(organisation->MailboxStore("ben")->name, "Mailbox - Ben Ortiz");

  StoreData* public_store = organisation->public_store();
  ASSERT_NE(public_store, nullptr);
  ASSERT_NE(public_store->public_top, nullptr);
  EXPECT_EQ(public_store->public_top->name, "All Public Folders");
  EXPECT_EQ(public_store->public_top->parent, public_store->root.get());
  ASSERT_EQ(public_store->public_top->folders.size(), 1u);
  EXPECT_EQ(public_store->public_top->folders[0]->folders[0]->name, "Sub");
  EXPECT_EQ(LoadFromText("{}", kLdif, "t")->public_store(), nullptr);
}

TEST(MemoryOrganisationTest, DirectoryUsersGetAMailboxWithTheUsualFolders) {
  const auto organisation = LoadFromText(kProfile, kLdif, "t");
  StoreData* store = organisation->MailboxStore("NoEx");
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(store->name, "Mailbox - No Exchange");
  std::vector<std::string> names;
  for (const auto& folder : store->root->folders) names.push_back(folder->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Outbox", "Sent Items", "Deleted Items",
                                             "Drafts", "Contacts", "Calendar"}));
  EXPECT_EQ(organisation->MailboxStore("noex"), store) << "made once, then kept";
  // Contacts and groups are no users; unknown and empty aliases name nothing.
  EXPECT_EQ(organisation->MailboxStore("sales"), nullptr);
  EXPECT_EQ(organisation->MailboxStore("nobody"), nullptr);
  EXPECT_EQ(organisation->MailboxStore(""), nullptr);
}

TEST(MemoryOrganisationTest, MessagesLeaveTheirFolderWhenRemoved) {
  const auto organisation = LoadFromText(kProfile, kLdif, "t");
  StoreData* mailbox = organisation->MailboxStore("ana");
  FolderData& contacts = *mailbox->root->folders[2];
  const auto message = contacts.messages[0];
  organisation->RemoveMessage(*message);
  EXPECT_TRUE(message->deleted);
  EXPECT_EQ(contacts.messages.size(), 2u);
  EXPECT_EQ(mailbox->messages_by_id.count("AB01"), 0u);

  FolderData* added = organisation->AddFolder(contacts, "Hidden");
  EXPECT_EQ(mailbox->folders_by_id.at(added->id), added);
  FolderData* twin = organisation->AddFolder(contacts, "Hidden");
  EXPECT_NE(twin->id, added->id) << "a second folder of the same name gets its own identifier";
}

class MemoryProfileFileTest : public ::testing::Test {
 protected:
  MemoryProfileFileTest() {
    char pattern[] = "/tmp/organisation_test_XXXXXX";
    directory_ = mkdtemp(pattern);
  }
  ~MemoryProfileFileTest() override { std::filesystem::remove_all(directory_); }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = directory_ + "/" + name;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  std::string directory_;
};

TEST_F(MemoryProfileFileTest, DirectoryIsReadRelativeToTheProfile) {
  Write("data/dir.ldif", kLdif);
  const std::string profile = Write("profile.json", R"({"directory": "data/dir.ldif"})");
  const auto organisation = LoadProfile(profile);
  EXPECT_EQ(organisation->directory().Entries().size(),
            LoadFromText("{}", kLdif, "t")->directory().Entries().size());
}

TEST_F(MemoryProfileFileTest, FileFaultsNameTheFile) {
  const auto error_of = [](const std::string& path) -> std::string {
    try {
      LoadProfile(path);
    } catch (const ProfileError& e) {
      return e.what();
    }
    return "(loaded)";
  };
  EXPECT_EQ(
      error_of(directory_ + "/missing.json").rfind(directory_ + "/missing.json: cannot open", 0),
      0u);
  const std::string no_directory = Write("a.json", "{}");
  EXPECT_EQ(error_of(no_directory), no_directory + ": key 'directory' must be given (a text)");
  const std::string missing_ldif = Write("b.json", R"({"directory": "none.ldif"})");
  EXPECT_EQ(error_of(missing_ldif).rfind(directory_ + "/none.ldif: cannot open", 0), 0u);
  Write("bad.ldif", "dn: CN=a\ncn: a\n\n\ndn: CN=a\n");
  const std::string bad_ldif = Write("c.json", R"({"directory": "bad.ldif"})");
  EXPECT_EQ(error_of(bad_ldif).rfind(directory_ + "/bad.ldif:5: duplicate dn", 0), 0u);
  const std::string bad_json = Write("d.json", "{\"directory\": \"bad.ldif\",\n\"x\": }");
  EXPECT_EQ(error_of(bad_json).rfind(bad_json + ":2: syntax error", 0), 0u);
}

TEST_F(MemoryProfileFileTest, AStopRequestAbandonsTheLoad) {
  std::string ldif;
  for (int i = 0; i < 2000; ++i) ldif += "dn: CN=p" + std::to_string(i) + ",DC=x\ncn: p\n\n";
  Write("big.ldif", ldif);
  const std::string profile = Write("p.json", R"({"directory": "big.ldif"})");
  int asked = 0;
  try {
    LoadOrganisationFile(profile, [&] { return ++asked == 3; });
    ADD_FAILURE() << "loaded";
  } catch (const ProfileError& e) {
    EXPECT_EQ(std::string(e.what()), directory_ + "/big.ldif: loading stopped by a stop request");
  }
  EXPECT_EQ(asked, 3);
  int never = 0;
  EXPECT_EQ(
      LoadOrganisationFile(profile, [&] { return ++never < 0; })->directory().Entries().size(),
      2000u);
}

// A server's directory stands in here as the memory backend's own book and
// searches over a directory the test keeps, so the test sees what the
// organisation does with whatever an opener gives it.
struct FakeServer {
  std::shared_ptr<Organisation> source = LoadFromText("{}", kLdif, "server");
  std::vector<ServerDirectorySettings> opened;

  ServerDirectoryOpener Opener(std::string root = "DC=from,DC=server") {
    return [this, root](const ServerDirectorySettings& settings) {
      opened.push_back(settings);
      ServerDirectory directory;
      directory.address_book = std::make_unique<MemoryAddressBook>(source->directory());
      directory.search = std::make_unique<MemoryDirectorySearch>(source->directory());
      directory.root_domain_naming_context = root;
      return directory;
    };
  }
};

TEST_F(MemoryProfileFileTest, AServerDirectoryTakesItsKeysAndKeepsTheProfilesStores) {
  FakeServer server;
  Write("secret", "pw\n");
  const std::string profile =
      Write("p.json",
            R"({"directory": "LDAP://dc1:3890", "bindDN": "CN=svc,DC=x", "passwordFile": "secret",
          "startTLS": true, "timeoutSeconds": 5, "rootDomainNamingContext": "DC=profile",
          "mailboxes": [{"alias": "ana", "folders": [{"name": "Contacts"}]}]})");
  const auto organisation = LoadOrganisationFile(profile, {}, server.Opener());
  ASSERT_EQ(server.opened.size(), 1u);
  const ServerDirectorySettings& settings = server.opened.front();
  EXPECT_EQ(settings.url, "LDAP://dc1:3890");
  EXPECT_EQ(settings.bind_dn, "CN=svc,DC=x");
  EXPECT_EQ(settings.password_file, directory_ + "/secret") << "relative to the profile";
  EXPECT_TRUE(settings.start_tls);
  EXPECT_EQ(settings.timeout_seconds, 5);
  EXPECT_EQ(settings.root_domain_naming_context, "DC=profile") << "the fall-back for the server";
  EXPECT_EQ(organisation->settings().root_domain_naming_context, "DC=from,DC=server");
  EXPECT_EQ(organisation->directory_context().root_domain_naming_context, "DC=from,DC=server");
  EXPECT_TRUE(organisation->directory().Entries().empty()) << "nothing loaded from a file";
  EXPECT_EQ(organisation->directory_context().search, &organisation->directory_search());
  // The profile's mailbox is named after the directory user found through
  // the server's searches, and a directory user without one gets a store.
  EXPECT_EQ(organisation->MailboxStore("ana")->name, "Mailbox - Ana Lima");
  ASSERT_NE(organisation->MailboxStore("noex"), nullptr);
  EXPECT_EQ(organisation->MailboxStore("noex")->name, "Mailbox - No Exchange");
  EXPECT_EQ(organisation->address_book().size(), server.source->address_book().size());
}

TEST_F(MemoryProfileFileTest, ServerKeysAndServerUrlsAreRefusedWhereTheyCannotServe) {
  FakeServer server;
  const auto error_of = [&](const std::string& json, ServerDirectoryOpener opener) -> std::string {
    const std::string path = Write("e.json", json);
    try {
      LoadOrganisationFile(path, {}, std::move(opener));
    } catch (const ProfileError& e) {
      const std::string what = e.what();
      return what.rfind(directory_ + "/", 0) == 0 ? what.substr(directory_.size() + 1) : what;
    }
    return "(loaded)";
  };
  Write("dir.ldif", kLdif);
  EXPECT_EQ(error_of(R"({"directory": "dir.ldif", "bindDN": "CN=x"})", server.Opener()),
            "e.json: key 'bindDN' is only for a directory on a server (an ldap:// URL in "
            "'directory')");
  EXPECT_EQ(error_of(R"({"directory": "ldap://h", "timeoutSeconds": 0})", server.Opener()),
            "e.json: key 'timeoutSeconds' must be a whole number of seconds from 1 to 86400");
  EXPECT_EQ(error_of(R"({"directory": "ldap://h", "timeoutSeconds": "5"})", server.Opener()),
            "e.json: key 'timeoutSeconds' must be a whole number of seconds from 1 to 86400");
  EXPECT_EQ(error_of(R"({"directory": "ldap://h", "startTLS": "yes"})", server.Opener()),
            "e.json: key 'startTLS' must be true or false");
  EXPECT_EQ(error_of(R"({"directory": "ldap://h"})", {}),
            "e.json: a directory on a server ('ldap://h') cannot be reached from here");
  EXPECT_TRUE(server.opened.empty()) << "a refused profile never reaches the server";
  const ServerDirectoryOpener failing =
      [](const ServerDirectorySettings& settings) -> ServerDirectory {
    throw ServerDirectoryError(settings.url + ": Invalid credentials");
  };
  EXPECT_EQ(error_of(R"({"directory": "ldaps://h"})", failing), "ldaps://h: Invalid credentials");
}

}  // namespace
}  // namespace platform::memory
