// The Alternate Contact Folder merge: the repository message, the inactive
// flag and the merge in trust-ranking order with its aborts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "merge/merge_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"

namespace {

using platform::memory::NoObject;
using platform::memory::Raise;
using tarnwick_test::FolderJson;
using tarnwick_test::MailboxProfile;
using tarnwick_test::MergeWorld;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kM[] = "KVL::MergeACF:";

std::string Mcr(const std::string& id, const std::string& ranking,
                const std::string& mcr_id = "A1") {
  return R"({"id": ")" + id + R"(", "class": "IPM.Post.Master Contact Repository",
             "subject": "MCR", "fields": {"MCR EntryID": ")" +
         mcr_id + R"(", "ACF Trust Ranking": ")" + ranking + R"("}})";
}

std::string Acf(const std::string& id, const std::string& subject, const std::string& fields) {
  return R"({"id": ")" + id + R"(", "class": "IPM.Post.ACF", "subject": ")" + subject +
         R"(", "fields": {)" + fields + "}}";
}

std::string Contact(const std::string& id, const std::string& name) {
  return R"({"id": ")" + id + R"(", "class": "IPM.Contact", "subject": ")" + name +
         R"(", "email1": ")" + name + R"(@x.example"})";
}

// Config (C0) with the given messages; the repository folder A1 and two
// ACF folders A2 and A3, one contact each.
std::string Profile(const std::string& config) {
  return MailboxProfile(FolderJson("Config", "C0", config) + "," +
                        FolderJson("Repository", "A1", Contact("D1", "ann")) + "," +
                        FolderJson("Partners", "A2", Contact("D2", "bob")) + "," +
                        FolderJson("Suppliers", "A3", Contact("D3", "cy")));
}

class MergeTest : public ::testing::Test {
 protected:
  // Runs the merge on a configuration folder holding `config`.
  bool Merge(const std::string& config) {
    world_.reset();  // its clean-up empties the globals
    world_ = std::make_unique<MergeWorld>(Profile(config));
    basGlobals::ConfigFolder = MergeWorld::Folder("C0");
    before_ = world_->world_.OpenObjects();
    for (const char* op : {"Message.Delete", "HelperFilter.FindFirst"}) {
      world_->world_.Faults().Count(op);
    }
    prepare_();
    const bool result = world_->kvl_->MergeACF();
    EXPECT_EQ(world_->world_.OpenObjects(), before_);
    return result;
  }
  std::vector<std::string> MergeLines() const { return world_->world_.OutWith(kM); }
  std::vector<std::string> CheckedContacts() const {
    return world_->world_.OutWith("KVL::AddFromACF:checking emails for ");
  }
  std::vector<std::string> ConfigIds() const {
    std::vector<std::string> ids;
    const auto messages = basGlobals::ConfigFolder->Messages();
    for (int32_t i = 1; i <= messages->Count(); ++i) ids.push_back(messages->Item(i)->ID());
    return ids;
  }

  std::unique_ptr<MergeWorld> world_;
  platform::memory::OpenCounts before_;
  std::function<void()> prepare_ = [] {};
};

TEST_F(MergeTest, ReadsRepositoryThenEveryActiveAcfInRankingOrder) {
  EXPECT_TRUE(Merge(Mcr("F1", "Suppliers|Partners") + "," +
                    Acf("F2", "Partners", R"("ACF EntryID": "A2")") + "," +
                    Acf("F3", "Suppliers", R"("ACF EntryID": "A3")")));
  EXPECT_THAT(
      MergeLines(),
      ElementsAre("KVL::MergeACF: adding data from Master Contact Repository folder:Repository",
                  "KVL::MergeACF:searching for ACF #1 named Suppliers",
                  "KVL::MergeACF: merging data from Alternate Contact Folder:Suppliers",
                  "KVL::MergeACF:searching for ACF #2 named Partners",
                  "KVL::MergeACF: merging data from Alternate Contact Folder:Partners"));
  EXPECT_THAT(CheckedContacts(), ElementsAre("KVL::AddFromACF:checking emails for ann",
                                             "KVL::AddFromACF:checking emails for cy",
                                             "KVL::AddFromACF:checking emails for bob"));
}

TEST_F(MergeTest, MissingAcfAbortsAfterTheOnesBefore) {
  EXPECT_FALSE(
      Merge(Mcr("F1", "Partners|Nobody") + "," + Acf("F2", "Partners", R"("ACF EntryID": "A2")")));
  EXPECT_THAT(MergeLines().back(),
              "KVL::MergeACF:unable to locate ACF #2 named Nobody; aborting merge");
  EXPECT_THAT(CheckedContacts(), testing::SizeIs(2));
}

TEST_F(MergeTest, TrailingBarAsksForAnAcfWithAnEmptyName) {
  EXPECT_FALSE(
      Merge(Mcr("F1", "Partners|") + "," + Acf("F2", "Partners", R"("ACF EntryID": "A2")")));
  EXPECT_THAT(MergeLines(), testing::Contains("KVL::MergeACF:searching for ACF #2 named "));
  EXPECT_EQ(MergeLines().back(), "KVL::MergeACF:unable to locate ACF #2 named ; aborting merge");
  EXPECT_EQ(world_->world_.Faults().Calls("HelperFilter.FindFirst"), 2);
}

TEST_F(MergeTest, FilterMatchInOtherLettersNeedsAnExactMatchElsewhere) {
  EXPECT_FALSE(
      Merge(Mcr("F1", "Partners") + "," + Acf("F2", "partners", R"("ACF EntryID": "A2")")));
  EXPECT_EQ(MergeLines().back(),
            "KVL::MergeACF:unable to locate ACF #1 named Partners; aborting merge");

  // The filter meets F2 first; of the two exact matches the later is kept.
  EXPECT_TRUE(Merge(Mcr("F1", "Partners") + "," + Acf("F2", "partners", R"("ACF EntryID": "A2")") +
                    "," + Acf("F3", "Partners", R"("ACF EntryID": "A2")") + "," +
                    Acf("F4", "Partners", R"("ACF EntryID": "A3")")));
  EXPECT_EQ(MergeLines().back(),
            "KVL::MergeACF: merging data from Alternate Contact Folder:Suppliers");
}

TEST_F(MergeTest, InactiveAndFolderlessAcfsArePassedOver) {
  EXPECT_TRUE(Merge(Mcr("F1", "Partners|Suppliers") + "," +
                    Acf("F2", "Partners", R"("KVL.Inactive": true)") + "," +
                    Acf("F3", "Suppliers", R"("KVL.Inactive": false)")));
  EXPECT_THAT(
      MergeLines(),
      ElementsAre("KVL::MergeACF: adding data from Master Contact Repository folder:Repository",
                  "KVL::MergeACF:searching for ACF #1 named Partners",
                  "KVL::MergeACF:skipping Partners, Inactive flag is set",
                  "KVL::MergeACF:searching for ACF #2 named Suppliers"));
}

TEST_F(MergeTest, FailuresOfTheRepositoryAndOfAnAcfFolder) {
  EXPECT_FALSE(Merge(Acf("F2", "Partners", "")));  // no repository message
  EXPECT_THAT(MergeLines(), IsEmpty());
  EXPECT_TRUE(Merge(Mcr("F1", "")));
  EXPECT_THAT(MergeLines(), testing::SizeIs(1));
  prepare_ = [] { basGlobals::ConfigFolder = nullptr; };  // what a host that set none has
  EXPECT_FALSE(Merge(Mcr("F1", "")));
  EXPECT_THAT(MergeLines(), IsEmpty());
  prepare_ = [] {};

  EXPECT_FALSE(Merge(Mcr("F1", "", "EE")));
  EXPECT_THAT(
      MergeLines(),
      ElementsAre("KVL::MergeACF: error retrieving Master Contact Repository using EntryID=EE "));

  prepare_ = [this] {
    world_->world_.Faults().Inject(NoObject("CreateObject:ZQHelper.ZQMAPITable"));
  };
  EXPECT_FALSE(
      Merge(Mcr("F1", "Partners") + "," + Acf("F2", "Partners", R"("ACF EntryID": "A2")")));
  EXPECT_EQ(MergeLines().back(),
            "KVL::MergeACF:error retrieving data from Master Contact Repository");

  prepare_ = [this] {
    world_->world_.Faults().Inject(
        Raise("CreateObject:ZQHelper.ZQMAPITable", platform::errnum::kClassNotRegistered).Skip(1));
  };
  EXPECT_FALSE(Merge(Mcr("F1", "Partners|Suppliers") + "," +
                     Acf("F2", "Partners", R"("ACF EntryID": "A2")")));
  EXPECT_EQ(MergeLines().back(),
            "KVL::MergeACF: merging data from Alternate Contact Folder:Partners");

  prepare_ = [] {};
  EXPECT_FALSE(
      Merge(Mcr("F1", "Partners") + "," + Acf("F2", "Partners", R"("ACF EntryID": "EE")")));
  EXPECT_EQ(MergeLines().back(),
            "KVL::MergeACF: error retrieving Alternate Contact Folder Partners using EntryID=EE ");
}

TEST_F(MergeTest, StopBetweenAcfsAborts) {
  prepare_ = [this] {
    world_->world_.Process().OnStopRequest([] { basGlobals::StopRequested = true; });
    world_->world_.Process().RequestStopAfter(1);  // the repository's one row yields first
  };
  EXPECT_FALSE(Merge(Mcr("F1", "Partners|Suppliers") + "," +
                     Acf("F2", "Partners", R"("ACF EntryID": "A2")") + "," +
                     Acf("F3", "Suppliers", R"("ACF EntryID": "A3")")));
  EXPECT_THAT(
      MergeLines(),
      testing::Not(testing::Contains("KVL::MergeACF:searching for ACF #2 named Suppliers")));
}

TEST_F(MergeTest, SurplusRepositoryMessagesAreDeletedFromTheLast) {
  const std::string config =
      Mcr("F1", "") + "," + Acf("F2", "Partners", "") + "," + Mcr("F5", "") + "," + Mcr("F6", "");
  EXPECT_TRUE(Merge(config));
  EXPECT_EQ(world_->world_.Faults().Calls("Message.Delete"), 2);
  EXPECT_THAT(ConfigIds(), ElementsAre("F1", "F2"));

  // The first deletion failing shows its target: position 3, F6.
  prepare_ = [this] {
    world_->world_.Faults().Inject(Raise("Message.Delete", platform::errnum::kNotFound).Times(1));
  };
  EXPECT_FALSE(Merge(config));
  EXPECT_THAT(ConfigIds(), ElementsAre("F1", "F2", "F6"));

  // Without the class filter nothing is counted, so no ACF message is lost.
  prepare_ = [this] {
    world_->world_.Faults().Inject(Raise("Messages.SetFilterClass", platform::errnum::kNotFound));
  };
  EXPECT_FALSE(Merge(config));
  EXPECT_EQ(world_->world_.Faults().Calls("Message.Delete"), 0);
}

TEST(CheckInactive, TrueOnlyForAFlagThatReadsTrue) {
  MergeWorld world(Profile(Acf("F1", "a", R"("KVL.Inactive": true)") + "," +
                           Acf("F2", "b", R"("KVL.Inactive": "no")") + "," +
                           Acf("F3", "c", R"("KVL.Inactive": 0)") + "," + Acf("F4", "d", "")));
  const auto messages = MergeWorld::Folder("C0")->Messages();
  std::vector<bool> flags;
  for (int32_t i = 1; i <= 4; ++i) flags.push_back(world.kvl_->CheckInactive(messages->Item(i)));
  EXPECT_THAT(flags, ElementsAre(true, false, false, false));
  EXPECT_FALSE(world.kvl_->CheckInactive(nullptr));
}

}  // namespace
