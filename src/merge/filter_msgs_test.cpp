// Message filtering through the helper table, the row-value conversions and
// the search by topic or PIN.
#include "merge/bas_rdo_filter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "merge/merge_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/variant.h"

namespace {

using basRDO::FilterField;
using basRDO::FilterMsgsRDO;
using platform::memory::NoObject;
using platform::memory::Raise;
using tarnwick_test::FolderJson;
using tarnwick_test::MailboxProfile;
using tarnwick_test::MergeWorld;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int32_t kClassTag = 0x001A001E;
constexpr int32_t kSubjectTag = 0x0037001E;
constexpr int32_t kNoSupport = static_cast<int32_t>(0x80040102);

// Traps for whole-value, case-blind matching: a class that only starts like
// the wanted one (0A02), the wanted class in other letters (0A03), a PIN
// that only starts like the wanted one (0A03), a topic stored quoted (0A01)
// and the same topic stored raw (0A06).
const std::string kProfile = MailboxProfile(FolderJson("Config", "C0", R"(
  {"id": "0A01", "class": "IPM.Post.ACF", "subject": "Sales", "topic": "Q''1 50#25",
   "fields": {"PIN": "1234"}},
  {"id": "0A02", "class": "IPM.Post.ACF.Old", "subject": "sales"},
  {"id": "0A03", "class": "ipm.post.acf", "subject": "SALES", "fields": {"PIN": "12345"}},
  {"id": "0A04", "class": "IPM.Note", "subject": "Sales"},
  {"id": "0A05", "class": "IPM.Post.ACF", "subject": "Support"},
  {"id": "0A06", "class": "IPM.Note", "subject": "raw", "topic": "Q'1 50%"})"));

FilterField Condition(int32_t tag, const std::string& value) { return {"", 0, tag, value}; }

class FilterMsgsTest : public ::testing::Test {
 protected:
  FilterMsgsTest() : world_(kProfile), config_(MergeWorld::Helper("C0")) {
    for (const char* op : {"HelperRestriction.AddChild", "HelperFilter.FindFirst"}) {
      world_.world_.Faults().Count(op);
    }
  }
  int Calls(const char* op) { return world_.world_.Faults().Calls(op); }

  MergeWorld world_;
  std::shared_ptr<platform::ZQMAPIFolder> config_;
};

TEST_F(FilterMsgsTest, OneConditionIsOneWholeValueCaseBlindContentRestriction) {
  std::vector<FilterField> fields{Condition(kClassTag, "IPM.Post.ACF")};
  const auto before = world_.world_.OpenObjects();
  EXPECT_THAT(FilterMsgsRDO(config_, fields), ElementsAre("0A01", "0A03", "0A05"));
  EXPECT_EQ(Calls("HelperRestriction.AddChild"), 0);
  EXPECT_EQ(world_.world_.OpenObjects(), before);  // the table is released
  EXPECT_EQ(fields[0].PropType, 0);                // a whole tag takes no default
}

TEST_F(FilterMsgsTest, TwoConditionsAreAndedChildrenInListOrder) {
  std::vector<FilterField> fields{Condition(kClassTag, "IPM.Post.ACF"),
                                  Condition(kSubjectTag, "sales")};
  EXPECT_THAT(FilterMsgsRDO(config_, fields), ElementsAre("0A01", "0A03"));
  EXPECT_EQ(Calls("HelperRestriction.AddChild"), 2);
  fields[1].Value = "Nobody";
  EXPECT_THAT(FilterMsgsRDO(config_, fields), IsEmpty());
}

TEST_F(FilterMsgsTest, NamedPropertyGetsTextTypeWrittenBack) {
  std::vector<FilterField> fields{{"PIN", 0, 0, "1234"}};
  EXPECT_THAT(FilterMsgsRDO(config_, fields), ElementsAre("0A01"));
  EXPECT_EQ(fields[0].PropType, 30);
}

TEST_F(FilterMsgsTest, NoFolderOrNoConditionIsReportedAndFindsNothing) {
  std::vector<FilterField> none;
  std::vector<FilterField> one{Condition(kClassTag, "IPM.Post.ACF")};
  EXPECT_THAT(FilterMsgsRDO(nullptr, one), IsEmpty());
  EXPECT_THAT(FilterMsgsRDO(config_, none), IsEmpty());
  EXPECT_THAT(world_.NewLines(), ElementsAre("FilterMsgsRDO:no folder supplied",
                                             "FilterMsgsRDO:no filter fields supplied"));
}

// Leaving the failed condition out would widen the search (here: every
// message of the class, whatever its subject), so nothing is searched.
TEST_F(FilterMsgsTest, ConditionThatCannotBeAddedIsReportedAndStopsTheSearch) {
  world_.world_.Faults().Inject(Raise("HelperRestriction.AddChild", kNoSupport).Skip(1).Times(1));
  std::vector<FilterField> fields{Condition(kClassTag, "IPM.Post.ACF"),
                                  Condition(kSubjectTag, "Sales")};
  EXPECT_THAT(FilterMsgsRDO(config_, fields), IsEmpty());
  EXPECT_EQ(Calls("HelperFilter.FindFirst"), 0);
  EXPECT_THAT(world_.NewLines(),
              ElementsAre("AddRestrictionRDO:error adding restriction on &h37001E for Sales: "
                          "-2147221246 " +
                          platform::StandardDescription(kNoSupport)));
}

// An AND without children would match every message: no search at all.
TEST_F(FilterMsgsTest, NoConditionAddedMeansNoSearch) {
  world_.world_.Faults().Inject(Raise("HelperRestriction.AddChild", kNoSupport));
  std::vector<FilterField> fields{{"PIN", 0, 0, "1234"}, Condition(kSubjectTag, "Sales")};
  const auto pin_tag = static_cast<uint32_t>(
      config_->GetIDsFromNames("{00020329-0000-0000-C000-000000000046}", platform::Variant("PIN")));
  ASSERT_GE(pin_tag, 0x80000000u);
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", pin_tag | 30u);
  EXPECT_THAT(FilterMsgsRDO(config_, fields), IsEmpty());
  EXPECT_EQ(Calls("HelperFilter.FindFirst"), 0);
  const std::string description = platform::StandardDescription(kNoSupport);
  EXPECT_THAT(world_.NewLines(),
              ElementsAre("AddRestrictionRDO:error adding restriction on &h" + std::string(hex) +
                              " for 1234: -2147221246 " + description,
                          "AddRestrictionRDO:error adding restriction on &h37001E for Sales: "
                          "-2147221246 " +
                              description));
}

TEST_F(FilterMsgsTest, OtherFailuresGiveNothingSilently) {
  auto& faults = world_.world_.Faults();
  std::vector<FilterField> fields{Condition(kClassTag, "IPM.Post.ACF")};
  std::vector<FilterField> named{{"PIN", 0, 0, "1234"}, Condition(kClassTag, "IPM.Post.ACF")};
  faults.Inject(Raise("ZQMAPIFolder.Items", platform::errnum::kNotFound));
  EXPECT_THAT(FilterMsgsRDO(config_, fields), IsEmpty());
  faults.Clear();
  faults.Inject(Raise("HelperRestriction.SetValue", platform::errnum::kTypeMismatch));
  EXPECT_THAT(FilterMsgsRDO(config_, fields), IsEmpty());
  faults.Clear();
  // A named condition without an identifier must not drop out of the AND.
  faults.Inject(Raise("ZQMAPIFolder.GetIDsFromNames", platform::errnum::kNotFound));
  EXPECT_THAT(FilterMsgsRDO(config_, named), IsEmpty());
  faults.Clear();
  faults.Inject(Raise("HelperFilter.FindNext", platform::errnum::kNotFound));
  EXPECT_THAT(FilterMsgsRDO(config_, fields), ElementsAre("0A01"));
  EXPECT_THAT(world_.NewLines(), IsEmpty());
}

TEST_F(FilterMsgsTest, StopKeepsTheRowsCollected) {
  world_.world_.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
  world_.world_.Process().RequestStopAfter(0);
  std::vector<FilterField> fields{Condition(kClassTag, "IPM.Post.ACF")};
  EXPECT_THAT(FilterMsgsRDO(config_, fields), ElementsAre("0A01"));
}

TEST(RowValues, ConvertByTheTagsType) {
  const platform::Variant i16(int16_t{5});
  const platform::Variant i32(int32_t{70000});
  const platform::Variant bytes(
      platform::VariantArray{{platform::Variant(int16_t{0}), platform::Variant(int16_t{10}),
                              platform::Variant(int16_t{255})}});
  EXPECT_EQ(basRDO::GetPropType(0x66700102), 258);
  EXPECT_EQ(basRDO::GetPropType(static_cast<int32_t>(0x8084001E)), 30);
  EXPECT_TRUE(basRDO::GetRowVal(i16, 0x00010003).IsInt16());
  EXPECT_EQ(basRDO::GetRowVal(i16, 0x00010003).ToInt32(), 0);
  EXPECT_EQ(basRDO::GetRowVal(i16, 0x00010002).ToInt32(), 5);
  EXPECT_EQ(basRDO::GetRowVal(i32, 0x00010002).ToInt32(), 70000);
  EXPECT_EQ(basRDO::GetRowVal(i32, 0x00010003).ToInt32(), 70000);
  EXPECT_EQ(basRDO::GetRowVal(platform::Variant("  a b "), 0x0037001E).ToText(), "a b");
  EXPECT_EQ(basRDO::GetRowVal(i16, 0x0037001E).ToText(), "");
  EXPECT_FALSE(basRDO::GetRowVal(platform::Variant("true"), 0x0001000B).ToBool());
  EXPECT_TRUE(basRDO::GetRowVal(platform::Variant(true), 0x0001000B).ToBool());
  EXPECT_EQ(basRDO::GetRowVal(bytes, 0x66700102).ToText(), "000AFF");
  EXPECT_EQ(basRDO::GetRowVal(platform::Variant("00"), 0x66700102).ToText(), "");
  EXPECT_TRUE(basRDO::GetRowVal(i16, 0x00010040).IsDate());
  EXPECT_TRUE(basRDO::GetRowVal(i16, 0x00010048).IsEmpty());

  MergeWorld world(kProfile);
  KvlProbe& probe = *world.probe_;
  EXPECT_EQ(probe.GetTypedVal(i16, 4).ToInt32(), 0);
  EXPECT_EQ(probe.GetTypedVal(i16, 1).ToInt32(), 5);
  EXPECT_EQ(probe.GetTypedVal(bytes, 3).ToText(), "000AFF");
  EXPECT_TRUE(probe.GetTypedVal(i16, 6).IsEmpty());
}

class FindMsgTest : public FilterMsgsTest {
 protected:
  FindMsgTest() { world_.probe_->SetRegFolder(MergeWorld::Folder("C0")); }
  std::string Found(const std::string& topic, const std::string& pin) {
    const auto message = world_.probe_->FindMsgByTopicOrPIN(topic, pin);
    return message ? message->ID() : "nothing";
  }
};

TEST_F(FindMsgTest, ByQuotedTopicOrElseByWholePin) {
  const auto before = world_.world_.OpenObjects();
  EXPECT_EQ(Found("Q'1 50%", ""), "0A01");  // meets the topic stored quoted, not 0A06
  EXPECT_EQ(Found("", "1234"), "0A01");
  EXPECT_EQ(Found("", "123"), "nothing");
  EXPECT_EQ(Found("no such topic", "1234"), "nothing");  // the PIN is not used then
  EXPECT_EQ(Calls("HelperFilter.FindFirst"), 4);
  EXPECT_EQ(Found("", ""), "nothing");
  EXPECT_EQ(Calls("HelperFilter.FindFirst"), 4);
  EXPECT_EQ(world_.world_.OpenObjects(), before);
  EXPECT_THAT(world_.NewLines(), IsEmpty());
}

TEST_F(FindMsgTest, RaisesWhenTheSearchCannotRunButNotForAVanishedMessage) {
  auto& faults = world_.world_.Faults();
  faults.Inject(NoObject("CreateObject:ZQHelper.ZQMAPIFolder"));
  EXPECT_THROW(Found("", "1234"), platform::PlatformError);
  faults.Clear();
  faults.Inject(Raise("ZQMAPIFolder.SetFolder", platform::errnum::kNotInitialized));
  EXPECT_THROW(Found("", "1234"), platform::PlatformError);
  faults.Clear();
  world_.probe_->SetRegFolder(nullptr);
  EXPECT_THROW(Found("", "1234"), platform::PlatformError);
  EXPECT_THAT(world_.NewLines(), IsEmpty());
  world_.probe_->SetRegFolder(MergeWorld::Folder("C0"));
  faults.Inject(NoObject("Session.GetMessage"));
  EXPECT_EQ(Found("", "1234"), "nothing");
}

}  // namespace
