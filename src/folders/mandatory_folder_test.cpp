// The Mandatory Contacts folder (configured, cached, re-opened, lost) and
// named subfolders found or made under a parent.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "folders/folder_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"
#include "tests/support/kvl_probe.h"

namespace {

using platform::errnum::kNotFound;
using platform::memory::Raise;
using tarnwick_test::FolderWorldTest;
using tarnwick_test::kStamp;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kM[] = "KVL::GetMandatoryFolder:";

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
  const auto folder = probe_.GetHiddenFolder("Hidden", parent);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Name(), "Hidden");
  EXPECT_NE(folder->ID(), "AB11");
  const auto folders = parent->Folders();
  ASSERT_EQ(folders->Count(), 2);
  EXPECT_EQ(folders->Item(1)->Name(), "hidden");
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
