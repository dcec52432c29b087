#include "platform/memory/helper_tables.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/helper_library.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_test_support.h"
#include "platform/messaging.h"
#include "platform/properties.h"
#include "platform/runtime.h"

namespace platform::memory {
namespace {

using memtest::ErrorOf;

// Config holds the traps of the engine's searches: a class that only starts
// like the wanted one (0A02), the wanted class in another letter case
// (0A03), a PIN that only starts like the wanted one, messages without a
// PIN or a topic.
constexpr char kProfile[] = R"({
  "mailboxes": [
    { "alias": "ana",
      "folders": [
        { "name": "Config",
          "messages": [
            { "id": "0A01", "class": "IPM.Post.ACF", "subject": "Sales", "topic": "Quarterly",
              "fields": { "PIN": "1234" } },
            { "id": "0A02", "class": "IPM.Post.ACF.Old", "subject": "sales" },
            { "id": "0a03", "class": "ipm.post.acf", "subject": "SALES",
              "fields": { "PIN": "12345" } },
            { "id": "0A04", "class": "IPM.Note", "subject": "Sales" },
            { "id": "0A05", "class": "IPM.Post.ACF", "subject": "Support" }
          ] },
        { "name": "Contacts",
          "messages": [
            { "id": "C001", "class": "IPM.Contact", "subject": "Ben Ortiz",
              "email1": "ben.ortiz@harbor.example", "email1EntryId": "00ff10",
              "email3": "/o=Harbor/cn=Recipients/cn=ben",
              "fields": { "Flag": true, "Rank": 7 } },
            { "id": "C002", "class": "IPM.Contact", "subject": "No Mail" }
          ] },
        { "name": "Empty" }
      ] }
  ]
})";

constexpr auto kClassTag =
    static_cast<int32_t>(PropTag(prop_id::kMessageClass, prop_type::kString8));
constexpr auto kSubjectTag = static_cast<int32_t>(PropTag(prop_id::kSubject, prop_type::kString8));
constexpr auto kTopicTag =
    static_cast<int32_t>(PropTag(prop_id::kConversationTopic, prop_type::kString8));

class ForeignFolder final : public Folder {
 public:
  std::shared_ptr<platform::Messages> Messages() override { return nullptr; }
  std::shared_ptr<platform::Folders> Folders() override { return nullptr; }
  std::string ID() override { return "00"; }
  std::string StoreID() override { return "00"; }
  std::string Name() override { return "foreign"; }
};

class ForeignItems final : public HelperItems {
 public:
  std::shared_ptr<ZQMAPITable> Table() override { return nullptr; }
};

// Upper-case hexadecimal of a binary row value; "" for anything else.
std::string HexOfBytes(const Variant& value) {
  std::string hex;
  const VariantArray* bytes = value.Array();
  if (bytes == nullptr) return hex;
  for (const Variant& byte : bytes->items) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte.ToInt32()) & 0xFF);
    hex += digits;
  }
  return hex;
}

class HelperTablesTest : public memtest::RuntimeTest {
 protected:
  HelperTablesTest() : organisation_(LoadFromText(kProfile, memtest::kLdif, "t")) {
    Install(runtime_, FixedSource(organisation_));
    session_ = CreateObjectAs<Session>("MAPI.Session");
    session_->Logon("t\nana");
  }

  std::shared_ptr<Folder> SessionFolder(const std::string& name) {
    return session_->InfoStores()->ItemByName("")->RootFolder()->Folders()->ItemByName(name);
  }

  std::shared_ptr<ZQMAPIFolder> HelperFolder(const std::string& name) {
    auto folder = CreateObjectAs<ZQMAPIFolder>(kHelperFolderClass);
    folder->SetFolder(SessionFolder(name));
    return folder;
  }

  // A table over the folder's messages reading only their long-term
  // identifiers, as the engine's message filter sets it up.
  std::shared_ptr<ZQMAPITable> IdTable(const std::string& name) {
    auto table = HelperFolder(name)->Items()->Table();
    table->SetColumns({tag::kLongTermEntryIdFromTable});
    return table;
  }

  static void AddCondition(const std::shared_ptr<HelperRestriction>& restriction,
                           int32_t property_tag, const std::string& value) {
    restriction->SetFuzzyLevel(fuzzy_level::kFullStringIgnoreCase);
    restriction->SetPropertyTag(property_tag);
    restriction->SetValue(Variant(value));
  }

  // The engine's search loop: the identifiers of the matching rows, in the
  // order the finds meet them.
  static std::vector<std::string> Search(const std::shared_ptr<ZQMAPITable>& table,
                                         const std::shared_ptr<HelperFilter>& filter) {
    std::vector<std::string> ids;
    for (bool found = filter->FindFirst(true); found; found = filter->FindNext(true)) {
      const Variant row = table->GetRow();
      if (row.IsEmpty()) break;
      ids.push_back(HexOfBytes(row.Array()->items.at(0)));
    }
    return ids;
  }

  // The identifiers that one whole-value, case-blind condition finds.
  std::vector<std::string> SearchOne(const std::string& folder, int32_t property_tag,
                                     const std::string& value) {
    const auto table = IdTable(folder);
    const auto filter = table->Filter();
    AddCondition(filter->CreateRestriction(restriction_kind::kContent), property_tag, value);
    return Search(table, filter);
  }

  int32_t NamedTag(const char* property_set, const Variant& name, uint16_t type) {
    return HelperFolder("Config")->GetIDsFromNames(property_set, name) | type;
  }

  std::shared_ptr<Organisation> organisation_;
  std::shared_ptr<Session> session_;
};

using Ids = std::vector<std::string>;

TEST_F(HelperTablesTest, RowsGiveColumnValuesInOrderWithTheirTypes) {
  const auto folder = HelperFolder("Contacts");
  const auto table = CreateObjectAs<ZQMAPITable>(kHelperTableClass);
  table->SetItems(folder->Items());
  EXPECT_EQ(table->RowCount(), 2);
  const auto named = [&](const char* set, const Variant& name, uint16_t type) {
    return folder->GetIDsFromNames(set, name) | type;
  };
  table->SetColumns({named(kPsetidAddress, kEmailAddressLids[0], prop_type::kString8),
                     named(kPsetidAddress, kEmailAddressLids[1], prop_type::kString8),
                     named(kPsetidAddress, kEmailAddressLids[2], prop_type::kString8), kSubjectTag,
                     named(kPsetidAddress, kEmailEntryIdLids[0], prop_type::kBinary),
                     named(kPsPublicStrings, "Flag", prop_type::kBoolean),
                     named(kPsPublicStrings, "Rank", prop_type::kLong),
                     named(kPsPublicStrings, "Rank", prop_type::kString8)});

  const Variant first = table->GetRow();
  ASSERT_TRUE(first.IsArray());
  const auto& values = first.Array()->items;
  ASSERT_EQ(values.size(), 8u);
  EXPECT_EQ(first.Array()->lower_bound, 0);
  EXPECT_EQ(values[0].ToText(), "ben.ortiz@harbor.example");
  EXPECT_TRUE(values[1].IsEmpty()) << "no second address";
  EXPECT_EQ(values[2].ToText(), "/o=Harbor/cn=Recipients/cn=ben");
  EXPECT_EQ(values[3].ToText(), "Ben Ortiz");
  ASSERT_TRUE(values[4].IsArray());
  ASSERT_EQ(values[4].Array()->items.size(), 3u);
  EXPECT_TRUE(values[4].Array()->items[1].IsInt16());
  EXPECT_EQ(values[4].Array()->items[1].ToInt32(), 255);
  EXPECT_EQ(HexOfBytes(values[4]), "00FF10");
  EXPECT_TRUE(values[5].IsBool());
  EXPECT_TRUE(values[5].ToBool());
  EXPECT_TRUE(values[6].IsInt32());
  EXPECT_EQ(values[6].ToInt32(), 7);
  EXPECT_TRUE(values[7].IsEmpty()) << "an integer is not read under a text tag";

  const Variant second = table->GetRow();
  ASSERT_TRUE(second.IsArray());
  EXPECT_EQ(second.Array()->items[3].ToText(), "No Mail");
  for (const size_t missing : {0u, 1u, 2u, 4u, 5u, 6u}) {
    EXPECT_TRUE(second.Array()->items[missing].IsEmpty()) << "column " << missing;
  }
  EXPECT_TRUE(table->GetRow().IsEmpty());
  EXPECT_TRUE(table->GetRow().IsEmpty()) << "stays at the end";

  const auto empty = HelperFolder("Empty")->Items()->Table();
  empty->SetColumns({kSubjectTag});
  EXPECT_EQ(empty->RowCount(), 0);
  EXPECT_TRUE(empty->GetRow().IsEmpty());
}

TEST_F(HelperTablesTest, LongTermEntryIdOpensTheMessageInFolderOrder) {
  const auto table = IdTable("Config");
  std::vector<std::string> subjects;
  for (Variant row = table->GetRow(); !row.IsEmpty(); row = table->GetRow()) {
    const std::string hex = HexOfBytes(row.Array()->items.at(0));
    subjects.push_back(session_->GetMessage(hex, std::nullopt)->Subject());
  }
  EXPECT_EQ(subjects, (std::vector<std::string>{"Sales", "sales", "SALES", "Sales", "Support"}));
  EXPECT_EQ(SearchOne("Config", kSubjectTag, "support"), Ids{"0A05"});
  EXPECT_EQ(SearchOne("Config", kClassTag, "IPM.NOTE"), Ids{"0A04"});
  EXPECT_EQ(SearchOne("Config", kSubjectTag, "sales").at(2), "0A03")
      << "the identifier in its upper-case form";
}

TEST_F(HelperTablesTest, NamedPropertyTagsAreStableAndSharedWithTheSession) {
  const int32_t pin = HelperFolder("Config")->GetIDsFromNames(kPsPublicStrings, Variant("PIN"));
  EXPECT_EQ(PropType(static_cast<uint32_t>(pin)), prop_type::kUnspecified);
  EXPECT_GE(PropId(static_cast<uint32_t>(pin)), prop_id::kFirstNamed);
  EXPECT_EQ(HelperFolder("Contacts")->GetIDsFromNames(kPsPublicStrings, Variant("pin")), pin)
      << "another helper folder, another letter case: the same tag";
  const int32_t fresh = NamedTag(kPsPublicStrings, Variant("Never Set"), 0);
  EXPECT_NE(fresh, pin);
  EXPECT_EQ(NamedTag(kPsPublicStrings, Variant("Never Set"), 0), fresh);
  EXPECT_NE(NamedTag(kPsetidAddress, Variant("PIN"), 0), pin) << "another property set";
  EXPECT_EQ(NamedTag(kPsetidAddress, Variant(static_cast<int16_t>(-32637)), 0),
            NamedTag(kPsetidAddress, Variant(int32_t{0x8083}), 0))
      << "0x8083 as a 16-bit integer";

  // The session's field by name and the table's column read the same
  // property.
  const auto table = HelperFolder("Config")->Items()->Table();
  table->SetColumns({pin | prop_type::kString8, tag::kLongTermEntryIdFromTable});
  const Variant row = table->GetRow();
  const auto message = session_->GetMessage(HexOfBytes(row.Array()->items.at(1)), std::nullopt);
  EXPECT_EQ(message->FieldByName("Pin").ToText(), "1234");
  EXPECT_EQ(row.Array()->items.at(0).ToText(), "1234");
  EXPECT_EQ(ErrorOf([&] { message->FieldByName("Never Set"); }), errnum::kNotFound);

  const auto folder = HelperFolder("Config");
  EXPECT_EQ(ErrorOf([&] { folder->GetIDsFromNames("PS_PUBLIC_STRINGS", Variant("PIN")); }),
            helper_errnum::kInvalidParameter);
  EXPECT_EQ(ErrorOf([&] { folder->GetIDsFromNames("{00020329-0000-0000-C000-00000000004}", 1); }),
            helper_errnum::kInvalidParameter);
  EXPECT_EQ(ErrorOf([&] { folder->GetIDsFromNames(kPsPublicStrings, Variant("")); }),
            helper_errnum::kInvalidParameter);
  EXPECT_EQ(ErrorOf([&] { folder->GetIDsFromNames(kPsPublicStrings, Variant(true)); }),
            errnum::kTypeMismatch);
}

TEST_F(HelperTablesTest, ContentRestrictionMatchesTheWholeValueWithoutRegardToCase) {
  EXPECT_EQ(SearchOne("Config", kClassTag, "IPM.Post.ACF"), (Ids{"0A01", "0A03", "0A05"}))
      << "not 0A02, whose class goes on after the text";
  const int32_t pin = NamedTag(kPsPublicStrings, Variant("PIN"), prop_type::kString8);
  EXPECT_EQ(SearchOne("Config", pin, "1234"), Ids{"0A01"}) << "12345 is no match";
  EXPECT_EQ(SearchOne("Config", kTopicTag, "quarterly"), Ids{"0A01"});
  EXPECT_EQ(SearchOne("Config", kTopicTag, ""), Ids{}) << "a missing topic is not an empty one";
  EXPECT_EQ(SearchOne("Config", kSubjectTag, "Sale"), Ids{});
  const int32_t rank = NamedTag(kPsPublicStrings, Variant("Rank"), 0);
  EXPECT_EQ(SearchOne("Contacts", rank, "7"), Ids{}) << "an integer is no text";

  // The other fuzzy levels, and letter case counting without kIgnoreCase.
  const auto table = IdTable("Config");
  const auto filter = table->Filter();
  const auto condition = filter->CreateRestriction(restriction_kind::kContent);
  condition->SetPropertyTag(kSubjectTag);
  condition->SetValue(Variant("Sales"));
  EXPECT_EQ(Search(table, filter), (Ids{"0A01", "0A04"})) << "case counts by default";
  condition->SetFuzzyLevel(fuzzy_level::kSubstring | fuzzy_level::kIgnoreCase);
  condition->SetValue(Variant("ALE"));
  EXPECT_EQ(Search(table, filter), (Ids{"0A01", "0A02", "0A03", "0A04"}));
  condition->SetFuzzyLevel(fuzzy_level::kPrefix);
  condition->SetValue(Variant("Su"));
  EXPECT_EQ(Search(table, filter), Ids{"0A05"});
}

TEST_F(HelperTablesTest, AndRestrictionMatchesWhenEveryChildDoes) {
  const auto table = IdTable("Config");
  const auto filter = table->Filter();
  const auto root = filter->CreateRestriction(restriction_kind::kAnd);
  EXPECT_EQ(Search(table, filter).size(), 5u) << "no children: every row";
  AddCondition(root->AddChild(restriction_kind::kContent), kClassTag, "IPM.Post.ACF");
  AddCondition(root->AddChild(restriction_kind::kContent), kSubjectTag, "sales");
  EXPECT_EQ(Search(table, filter), (Ids{"0A01", "0A03"}));

  // A condition whose set-up failed half-way narrows the search to nothing
  // rather than dropping out of it.
  root->AddChild(restriction_kind::kContent)->SetPropertyTag(kTopicTag);
  EXPECT_EQ(Search(table, filter), Ids{});

  const auto nested = filter->CreateRestriction(restriction_kind::kAnd);
  AddCondition(nested->AddChild(restriction_kind::kAnd)->AddChild(restriction_kind::kContent),
               kSubjectTag, "SALES");
  AddCondition(nested->AddChild(restriction_kind::kContent), kClassTag, "ipm.note");
  EXPECT_EQ(Search(table, filter), Ids{"0A04"});
}

TEST_F(HelperTablesTest, FindsWalkTheMatchesAndPlaceTheCursor) {
  const auto table = IdTable("Config");
  const auto filter = table->Filter();
  const auto id_of = [](const Variant& row) {
    return row.IsEmpty() ? std::string("(empty)") : HexOfBytes(row.Array()->items.at(0));
  };
  EXPECT_EQ(ErrorOf([&] { filter->FindFirst(true); }), helper_errnum::kInvalidParameter)
      << "no restriction yet";
  EXPECT_EQ(id_of(table->GetRow()), "0A01");
  AddCondition(filter->CreateRestriction(restriction_kind::kContent), kClassTag, "ipm.post.acf");

  ASSERT_TRUE(filter->FindFirst(true));
  ASSERT_TRUE(filter->FindNext(true)) << "from the match, not the cursor";
  EXPECT_EQ(id_of(table->GetRow()), "0A03");
  EXPECT_EQ(id_of(table->GetRow()), "0A04") << "GetRow moves on over every row";
  ASSERT_TRUE(filter->FindNext(true));
  EXPECT_FALSE(filter->FindNext(true));
  EXPECT_FALSE(filter->FindNext(true));
  EXPECT_EQ(id_of(table->GetRow()), "0A05") << "a failed find leaves the cursor";
  EXPECT_EQ(id_of(table->GetRow()), "(empty)");

  ASSERT_TRUE(filter->FindFirst(false));
  EXPECT_EQ(id_of(table->GetRow()), "0A05");
  ASSERT_TRUE(filter->FindNext(false));
  ASSERT_TRUE(filter->FindNext(false));
  EXPECT_FALSE(filter->FindNext(false));
  EXPECT_EQ(id_of(table->GetRow()), "0A01");

  // A new restriction forgets the match: FindNext starts at the cursor.
  AddCondition(filter->CreateRestriction(restriction_kind::kContent), kSubjectTag, "Sales");
  ASSERT_TRUE(filter->FindNext(true));
  EXPECT_EQ(id_of(table->GetRow()), "0A02");
  ASSERT_TRUE(table->Filter()->FindNext(true)) << "every filter of a table shares the match";
  EXPECT_EQ(id_of(table->GetRow()), "0A03");

  filter->Clear();
  EXPECT_EQ(ErrorOf([&] { filter->FindNext(true); }), helper_errnum::kInvalidParameter);
  EXPECT_EQ(id_of(table->GetRow()), "0A04") << "Clear keeps the cursor";
  EXPECT_EQ(SearchOne("Config", kClassTag, "IPM.Contact"), Ids{}) << "nothing matches";
}

TEST_F(HelperTablesTest, DeletedMessagesLoseTheirRows) {
  const auto table = IdTable("Config");
  const auto filter = table->Filter();
  AddCondition(filter->CreateRestriction(restriction_kind::kContent), kSubjectTag, "sales");
  ASSERT_TRUE(filter->FindFirst(true));
  session_->GetMessage("0A03", std::nullopt)->Delete();
  session_->GetMessage("0A01", std::nullopt)->Delete();
  EXPECT_EQ(table->RowCount(), 3);
  EXPECT_EQ(HexOfBytes(table->GetRow().Array()->items.at(0)), "0A02")
      << "the found row is gone: the next one";
  EXPECT_EQ(Search(table, filter), (Ids{"0A02", "0A04"}));
}

TEST_F(HelperTablesTest, RestrictionsRefuseWhatTheyCannotEvaluate) {
  const auto table = IdTable("Config");
  const auto filter = table->Filter();
  EXPECT_EQ(ErrorOf([&] { filter->CreateRestriction(1); }), helper_errnum::kInvalidParameter);
  const auto root = filter->CreateRestriction(restriction_kind::kAnd);
  EXPECT_EQ(ErrorOf([&] { root->AddChild(2); }), helper_errnum::kInvalidParameter);
  EXPECT_EQ(ErrorOf([&] { root->SetValue(Variant("x")); }), helper_errnum::kNoSupport);
  EXPECT_EQ(ErrorOf([&] { root->SetPropertyTag(kSubjectTag); }), helper_errnum::kNoSupport);
  EXPECT_EQ(ErrorOf([&] { root->SetFuzzyLevel(fuzzy_level::kFullString); }),
            helper_errnum::kNoSupport);
  const auto content = root->AddChild(restriction_kind::kContent);
  EXPECT_EQ(ErrorOf([&] { content->AddChild(restriction_kind::kContent); }),
            helper_errnum::kNoSupport);
  EXPECT_EQ(ErrorOf([&] { content->SetFuzzyLevel(0x00020000); }), helper_errnum::kInvalidParameter);
  EXPECT_EQ(ErrorOf([&] { content->SetFuzzyLevel(3); }), helper_errnum::kInvalidParameter);
  EXPECT_EQ(ErrorOf([&] { content->SetPropertyTag(tag::kLongTermEntryIdFromTable); }),
            helper_errnum::kTooComplex);
  EXPECT_EQ(ErrorOf([&] { content->SetPropertyTag(0x0E070003); }), helper_errnum::kTooComplex);
  EXPECT_EQ(ErrorOf([&] { content->SetValue(Variant(int32_t{7})); }), errnum::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { content->SetValue(Variant()); }), errnum::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { table->SetColumns({}); }), helper_errnum::kInvalidParameter);
  EXPECT_EQ(Search(table, filter), Ids{}) << "the refused settings left the child unset";
}

TEST_F(HelperTablesTest, ObjectsWorkOnlyWhileAttachedToAnActiveLogon) {
  const auto folder = CreateObjectAs<ZQMAPIFolder>(kHelperFolderClass);
  const auto table = CreateObjectAs<ZQMAPITable>(kHelperTableClass);
  EXPECT_EQ(ErrorOf([&] { folder->Items(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { folder->GetIDsFromNames(kPsPublicStrings, Variant("PIN")); }),
            errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { table->RowCount(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { table->Filter(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { folder->SetFolder(std::make_shared<ForeignFolder>()); }),
            errnum::kTypeMismatch);
  EXPECT_EQ(ErrorOf([&] { table->SetItems(std::make_shared<ForeignItems>()); }),
            errnum::kTypeMismatch);

  folder->SetFolder(SessionFolder("Config"));
  const auto items = folder->Items();
  folder->SetFolder(SessionFolder("Contacts"));
  table->SetItems(items);
  EXPECT_EQ(table->RowCount(), 5) << "items keep the folder they were made for";
  EXPECT_EQ(ErrorOf([&] { table->GetRow(); }), helper_errnum::kInvalidParameter);
  table->SetColumns({kSubjectTag});
  EXPECT_EQ(table->GetRow().Array()->items.at(0).ToText(), "Sales")
      << "the refused GetRow did not move the cursor";
  const auto filter = table->Filter();
  const auto restriction = filter->CreateRestriction(restriction_kind::kAnd);
  folder->SetFolder(nullptr);
  EXPECT_EQ(ErrorOf([&] { folder->Items(); }), errnum::kNotInitialized);

  const auto old_folder = SessionFolder("Config");
  session_->Logoff();
  EXPECT_EQ(ErrorOf([&] { items->Table(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { table->GetRow(); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { filter->FindFirst(true); }), errnum::kNotInitialized);
  EXPECT_EQ(ErrorOf([&] { restriction->AddChild(restriction_kind::kContent); }),
            errnum::kNotInitialized);
  session_->Logon("t\nana");
  EXPECT_EQ(ErrorOf([&] { folder->SetFolder(old_folder); }), errnum::kNotInitialized)
      << "a folder of the ended logon";
  EXPECT_EQ(ErrorOf([&] { table->RowCount(); }), errnum::kNotInitialized);
  table->SetItems(HelperFolder("Contacts")->Items());
  EXPECT_EQ(table->RowCount(), 2) << "attached again, to the new logon";
  table->SetItems(nullptr);
  EXPECT_EQ(ErrorOf([&] { table->RowCount(); }), errnum::kNotInitialized);
}

TEST_F(HelperTablesTest, FaultsReachEveryNewOperation) {
  FaultPlan& faults = Faults(*organisation_);
  faults.Inject(NoObject(std::string("CreateObject:") + kHelperFolderClass));
  EXPECT_EQ(CreateObject(kHelperFolderClass), nullptr);
  faults.Inject(Raise(std::string("CreateObject:") + kHelperTableClass, errnum::kNotFound));
  EXPECT_EQ(ErrorOf([] { CreateObject(kHelperTableClass); }), errnum::kNotFound);
  faults.Clear();

  const auto folder = HelperFolder("Config");
  const auto items = folder->Items();
  const auto table = items->Table();
  table->SetColumns({kSubjectTag});
  const auto filter = table->Filter();
  const auto root = filter->CreateRestriction(restriction_kind::kAnd);
  const auto child = root->AddChild(restriction_kind::kContent);
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"ZQMAPIFolder.SetFolder", [&] { folder->SetFolder(SessionFolder("Config")); }},
      {"ZQMAPIFolder.GetIDsFromNames",
       [&] { folder->GetIDsFromNames(kPsPublicStrings, Variant("PIN")); }},
      {"ZQMAPIFolder.Items", [&] { folder->Items(); }},
      {"HelperItems.Table", [&] { items->Table(); }},
      {"ZQMAPITable.SetItems", [&] { table->SetItems(items); }},
      {"ZQMAPITable.RowCount", [&] { table->RowCount(); }},
      {"ZQMAPITable.SetColumns", [&] { table->SetColumns({kClassTag}); }},
      {"ZQMAPITable.GetRow", [&] { table->GetRow(); }},
      {"ZQMAPITable.Filter", [&] { table->Filter(); }},
      {"HelperFilter.CreateRestriction", [&] { filter->CreateRestriction(0); }},
      {"HelperFilter.FindFirst", [&] { filter->FindFirst(true); }},
      {"HelperFilter.FindNext", [&] { filter->FindNext(true); }},
      {"HelperFilter.Clear", [&] { filter->Clear(); }},
      {"HelperRestriction.AddChild", [&] { root->AddChild(restriction_kind::kContent); }},
      {"HelperRestriction.SetFuzzyLevel", [&] { child->SetFuzzyLevel(0); }},
      {"HelperRestriction.SetPropertyTag", [&] { child->SetPropertyTag(kSubjectTag); }},
      {"HelperRestriction.SetValue", [&] { child->SetValue(Variant("x")); }},
  };
  for (const auto& [name, call] : calls) {
    faults.Inject(Raise(name, -7, "injected"));
    EXPECT_EQ(ErrorOf(call), -7) << name;
    faults.Clear();
  }

  // A call that gives no object leaves the state as it was.
  faults.Inject(NoObject("ZQMAPIFolder.Items"));
  EXPECT_EQ(folder->Items(), nullptr);
  faults.Inject(NoObject("HelperFilter.CreateRestriction"));
  EXPECT_EQ(filter->CreateRestriction(restriction_kind::kContent), nullptr);
  faults.Inject(NoObject("ZQMAPITable.GetRow"));
  EXPECT_TRUE(table->GetRow().IsEmpty());
  faults.Clear();
  AddCondition(child, kSubjectTag, "SALES");
  EXPECT_TRUE(filter->FindFirst(true)) << "the earlier restriction stands";
  EXPECT_EQ(table->GetRow().Array()->items.at(0).ToText(), "Sales");
}

TEST_F(HelperTablesTest, OpenCountsShowHeldFoldersAndTables) {
  EXPECT_EQ(OpenObjects(*organisation_), OpenCounts{});
  auto folder = HelperFolder("Config");
  auto items = folder->Items();
  auto made = CreateObjectAs<ZQMAPITable>(kHelperTableClass);
  auto table = items->Table();
  auto filter = table->Filter();
  EXPECT_EQ(OpenObjects(*organisation_).helper_folders, 1);
  EXPECT_EQ(OpenObjects(*organisation_).helper_tables, 2);
  made.reset();
  table.reset();
  EXPECT_EQ(OpenObjects(*organisation_).helper_tables, 1) << "the filter holds its table";
  filter.reset();
  EXPECT_EQ(OpenObjects(*organisation_).helper_tables, 0);
  folder.reset();
  items.reset();
  EXPECT_EQ(OpenObjects(*organisation_), OpenCounts{});
}

}  // namespace
}  // namespace platform::memory
