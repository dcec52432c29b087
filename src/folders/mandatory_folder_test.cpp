// The Mandatory Contacts folder (configured, cached, re-opened, lost) and
// named subfolders found or made under a parent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "folders/folder_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/messaging.h"
#include "platform/text.h"
#include "tests/support/kvl_probe.h"

namespace {

using platform::errnum::kNotFound;
using platform::memory::Raise;
using tarnwick_test::FolderWorldTest;
using tarnwick_test::kStamp;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kM[] = "KVL::GetMandatoryFolder:";

// A parent whose subfolder look-up by name ignores letter case, as a live
// messaging session's may; everything else is the memory backend's.
class CaseBlindFolders final : public platform::Folders {
 public:
  explicit CaseBlindFolders(std::shared_ptr<platform::Folders> inner) : inner_(std::move(inner)) {}
  int32_t Count() override { return inner_->Count(); }
  std::shared_ptr<platform::Folder> Item(int32_t position) override {
    return inner_->Item(position);
  }
  std::shared_ptr<platform::Folder> ItemByName(const std::string& name) override {
    for (int32_t i = 1; i <= Count(); ++i) {
      if (text::EqualsNoCase(Item(i)->Name(), name)) return Item(i);
    }
    throw platform::PlatformError(kNotFound);
  }
  std::shared_ptr<platform::Folder> Add(const std::string& name) override {
    return inner_->Add(name);
  }

 private:
  std::shared_ptr<platform::Folders> inner_;
};

class CaseBlindParent final : public platform::Folder {
 public:
  explicit CaseBlindParent(std::shared_ptr<platform::Folder> inner) : inner_(std::move(inner)) {}
  std::shared_ptr<platform::Messages> Messages() override { return inner_->Messages(); }
  std::shared_ptr<platform::Folders> Folders() override {
    return std::make_shared<CaseBlindFolders>(inner_->Folders());
  }
  std::string ID() override { return inner_->ID(); }
  std::string StoreID() override { return inner_->StoreID(); }
  std::string Name() override { return inner_->Name(); }

 private:
  std::shared_ptr<platform::Folder> inner_;
};

class MandatoryFolderTest : public FolderWorldTest {
 protected:
  MandatoryFolderTest() : kvl_(std::make_unique<KVL>()), probe_(*kvl_) {
    NewLines();  // whatever the engine object logged on construction
  }

  // Counts the platform calls the operation could make from here on.
  void CountCalls() {
    for (const char* operation : {"Session.GetFolder", "Session.InfoStores", "Folder.Name"}) {
      world_.Faults().Count(operation);
    }
  }
  int Calls(const char* operation) { return world_.Faults().Calls(operation); }
  std::string CachedId() {
    const auto folder = probe_.MCFolder();
    return folder ? folder->ID() : "";
  }

  std::unique_ptr<KVL> kvl_;
  KvlProbe probe_;
};

TEST_F(MandatoryFolderTest, ConfiguredIdentifierOpensWithOneLookUpAndNoLine) {
  basGlobals::MCFolderID = "AB10";
  basGlobals::MCFolderPath = "Mailbox - Ana\\Contacts";  // not needed, so not used
  CountCalls();
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_EQ(Calls("Session.GetFolder"), 1);
  EXPECT_EQ(Calls("Session.InfoStores"), 0);
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(MandatoryFolderTest, PathAloneFollowsTheFailedIdentifierLookUp) {
  basGlobals::MCFolderPath = "Mailbox - Ana\\MC";
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_THAT(NewLines(),
              ElementsAre("GetFolder:Unable to get folder in default store: &H8004010F "
                          "MAPI_E_NOT_FOUND\r\nUnable to get folder using PublicStoreID: "
                          "&H8004010F MAPI_E_NOT_FOUND\r\nPublicStoreID = " +
                              SessionPublicStoreId(),
                          std::string(kM) + " unable to retrieve MC folder using GetFolder; try "
                                            "GetTargetFolder "));
  EXPECT_EQ(world_.Process().LogLines().back(),
            std::string(kStamp) + "[Warning] " + kM +
                " unable to retrieve MC folder using GetFolder; try GetTargetFolder ");
}

TEST_F(MandatoryFolderTest, CachedFolderIsReopenedByItsOwnIdentifier) {
  basGlobals::MCFolderID = "AB10";
  ASSERT_TRUE(probe_.GetMandatoryFolder());
  const auto first = probe_.MCFolder();
  // The configuration no longer matters once a folder is cached.
  basGlobals::MCFolderID = "AB01";
  basGlobals::MCFolderPath = "Mailbox - Ana\\Contacts";
  CountCalls();
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_NE(probe_.MCFolder(), first);
  EXPECT_EQ(Calls("Session.GetFolder"), 1);
  EXPECT_EQ(Calls("Session.InfoStores"), 0);
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(MandatoryFolderTest, LostFolderIsDroppedAndTheNextCallStartsFromConfiguration) {
  basGlobals::MCFolderID = "AB10";
  ASSERT_TRUE(probe_.GetMandatoryFolder());
  world_.Faults().Inject(Raise("Session.GetFolder", kNotFound));
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(probe_.MCFolder(), nullptr);
  EXPECT_THAT(NewLines(),
              ElementsAre("GetFolder:Unable to get folder in default store: &H8004010F "
                          "MAPI_E_NOT_FOUND\r\nUnable to get folder using PublicStoreID: "
                          "&H8004010F MAPI_E_NOT_FOUND\r\nPublicStoreID = " +
                              SessionPublicStoreId(),
                          std::string(kM) + " unable to retrieve Mandatory Contacts folder using "
                                            "Len(FolID)=4: 0 "));
  EXPECT_EQ(world_.Process().LogLines().back(),
            std::string(kStamp) + "[Error] " + kM +
                " unable to retrieve Mandatory Contacts folder using Len(FolID)=4: 0 ");

  world_.Faults().Clear();
  basGlobals::MCFolderID = "AB11";
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB11");
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(MandatoryFolderTest, StopRequestedMakesNoCallAndWritesNothing) {
  basGlobals::MCFolderID = "AB10";
  basGlobals::StopRequested = true;
  CountCalls();
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(Calls("Session.GetFolder") + Calls("Session.InfoStores") + Calls("Folder.Name"), 0);
  EXPECT_EQ(probe_.MCFolder(), nullptr);

  // With a folder cached, too; the cache is kept for after the stop.
  basGlobals::StopRequested = false;
  ASSERT_TRUE(probe_.GetMandatoryFolder());
  basGlobals::StopRequested = true;
  CountCalls();
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(Calls("Session.GetFolder") + Calls("Session.InfoStores") + Calls("Folder.Name"), 0);
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(MandatoryFolderTest, UnreachableIdentifierWithoutPathIsFalseWithoutWarning) {
  basGlobals::MCFolderID = "0BAD";
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(probe_.MCFolder(), nullptr);
  EXPECT_THAT(NewLines(), ElementsAre(::testing::StartsWith("GetFolder:Unable to get folder in "
                                                            "default store: &H8004010F")));
}

TEST_F(MandatoryFolderTest, NothingConfiguredIsSilentlyFalse) {
  CountCalls();
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(Calls("Session.GetFolder"), 0);
  EXPECT_THAT(NewLines(), IsEmpty());
}

using GetHiddenFolderTest = MandatoryFolderTest;

TEST_F(GetHiddenFolderTest, ExistingSubfolderIsReturnedAndAMissingOneIsAdded) {
  const auto parent = basCDO::GetFolder("AB10");
  ASSERT_NE(parent, nullptr);
  world_.Faults().Count("Folders.Add");
  const auto hidden = probe_.GetHiddenFolder("hidden", parent);
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(hidden->ID(), "AB11");
  EXPECT_EQ(world_.Faults().Calls("Folders.Add"), 0);

  const auto made = probe_.GetHiddenFolder("Sync State", parent);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Name(), "Sync State");
  EXPECT_EQ(world_.Faults().Calls("Folders.Add"), 1);
  // Found, not made again, on the next call.
  EXPECT_EQ(probe_.GetHiddenFolder("Sync State", parent)->ID(), made->ID());
  EXPECT_EQ(parent->Folders()->Count(), 2);
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(GetHiddenFolderTest, NameInAnotherLetterCaseGetsAFolderOfItsOwn) {
  const auto parent = basCDO::GetFolder("AB10");
  ASSERT_NE(parent, nullptr);
  // Whether or not the look-up by name ignores letter case.
  const auto folder = probe_.GetHiddenFolder("HIDDEN", parent);
  const auto other = probe_.GetHiddenFolder("Hidden", std::make_shared<CaseBlindParent>(parent));
  ASSERT_NE(folder, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(folder->Name(), "HIDDEN");
  EXPECT_EQ(other->Name(), "Hidden");
  const auto folders = parent->Folders();
  ASSERT_EQ(folders->Count(), 3);
  EXPECT_EQ(folders->Item(1)->ID(), "AB11");
  EXPECT_EQ(folders->Item(1)->Name(), "hidden");
  // The exact name is still found through a case-blind look-up.
  EXPECT_EQ(probe_.GetHiddenFolder("hidden", std::make_shared<CaseBlindParent>(parent))->ID(),
            "AB11");
  EXPECT_EQ(parent->Folders()->Count(), 3);
}

TEST_F(GetHiddenFolderTest, MissingParentIsAWarning) {
  EXPECT_EQ(probe_.GetHiddenFolder("Sync State", nullptr), nullptr);
  EXPECT_THAT(NewLines(),
              ElementsAre("KVL::GetHiddenFolder:unable to retrieve Sync State; parent not "
                          "supplied"));
  EXPECT_EQ(world_.Process().LogLines().back(),
            std::string(kStamp) +
                "[Warning] KVL::GetHiddenFolder:unable to retrieve Sync State; parent not "
                "supplied");
}

}  // namespace
