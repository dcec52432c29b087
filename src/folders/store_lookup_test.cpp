// Folders and messages by identifier, the public store fall-back and its
// cached identifier.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "driver/globals.h"
#include "folders/bas_cdo_folders.h"
#include "folders/folder_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"

namespace {

using platform::errnum::kItemNotFound;
using platform::errnum::kNotFound;
using platform::memory::NoObject;
using platform::memory::Raise;
using tarnwick_test::BothOpensMissed;
using tarnwick_test::FolderWorldTest;
using tarnwick_test::kNoPublicProfile;
using tarnwick_test::kStamp;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using GetFolderTest = FolderWorldTest;

TEST_F(GetFolderTest, DefaultStoreFolderTakesOneOpenAndNoStoreWalk) {
  world_.Faults().Count("Session.GetFolder");
  world_.Faults().Count("Session.InfoStores");
  const auto folder = basCDO::GetFolder("AB01");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->Name(), "Contacts");
  EXPECT_EQ(world_.Faults().Calls("Session.GetFolder"), 1);
  EXPECT_EQ(world_.Faults().Calls("Session.InfoStores"), 0);
  EXPECT_EQ(basCDO::PublicStoreID, "");
  // Nothing else holds the folder: the caller's reference is the only one.
  EXPECT_EQ(folder.use_count(), 1);
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(GetFolderTest, PublicStoreIsFoundOnceAndReusedByEveryLaterFallBack) {
  const std::string public_id = SessionPublicStoreId();
  ASSERT_FALSE(public_id.empty());
  world_.Faults().Count("Session.InfoStores");
  world_.Faults().Count("Session.GetFolder");

  const auto top = basCDO::GetFolder("EF01");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->Name(), "Company Contacts");
  EXPECT_EQ(world_.Faults().Calls("Session.GetFolder"), 2);
  EXPECT_EQ(basCDO::PublicStoreID, public_id);

  ASSERT_NE(basCDO::GetFolder("EF02"), nullptr);
  ASSERT_NE(basCDO::GetMessageByID("CD02"), nullptr);
  EXPECT_EQ(basCDO::GetFolder("0BAD"), nullptr);
  EXPECT_EQ(world_.Faults().Calls("Session.InfoStores"), 1);
  EXPECT_THAT(NewLines(), ElementsAre(BothOpensMissed(public_id)));
  // One message in the log, its lines cut at CR LF in the file.
  EXPECT_THAT(
      world_.Process().LogLines(),
      ElementsAre(std::string(kStamp) + "[Error] GetFolder:Unable to get folder in default store: "
                                        "&H8004010F MAPI_E_NOT_FOUND",
                  "Unable to get folder using PublicStoreID: &H8004010F MAPI_E_NOT_FOUND",
                  "PublicStoreID = " + public_id));
}

// The error of each open is written in hexadecimal: a negative number as its
// two's complement, a small one without leading zeros, an open that gave
// nothing without raising as 0 with no description.
TEST_F(GetFolderTest, FailedOpensAreReportedWithTheirOwnNumbers) {
  const std::string public_id = SessionPublicStoreId();
  world_.Faults().Inject(Raise("Session.GetFolder", kItemNotFound, "Item not found").Times(1));
  EXPECT_EQ(basCDO::GetFolder("AB01"), nullptr);
  world_.Faults().Inject(NoObject("Session.GetFolder"));
  EXPECT_EQ(basCDO::GetFolder("AB01"), nullptr);
  EXPECT_THAT(NewLines(),
              ElementsAre("GetFolder:Unable to get folder in default store: &HCC1 Item not "
                          "found\r\nUnable to get folder using PublicStoreID: &H8004010F "
                          "MAPI_E_NOT_FOUND\r\nPublicStoreID = " +
                              public_id,
                          "GetFolder:Unable to get folder in default store: &H0 \r\n"
                          "Unable to get folder using PublicStoreID: &H0 \r\nPublicStoreID = " +
                              public_id));
}

TEST_F(GetFolderTest, IdentifierInAnotherLetterCaseIsRefusedWithBothIdentifiers) {
  // A mailbox folder: the public retry fails and the first folder stays in
  // hand; a public folder: the retry gives the same mismatch.
  EXPECT_EQ(basCDO::GetFolder("ab01"), nullptr);
  EXPECT_EQ(basCDO::GetFolder("ef02"), nullptr);
  EXPECT_THAT(NewLines(),
              ElementsAre("GetFolder:GetFolder returned folder with ID=AB01 <> supplied ID=ab01",
                          "GetFolder:GetFolder returned folder with ID=EF02 <> supplied ID=ef02"));
  EXPECT_EQ(world_.Process().LogLines().front(),
            std::string(kStamp) +
                "[Error] GetFolder:GetFolder returned folder with ID=AB01 <> supplied ID=ab01");
}

class NoPublicStoreTest : public FolderWorldTest {
 protected:
  NoPublicStoreTest() : FolderWorldTest(kNoPublicProfile) {}
};

TEST_F(NoPublicStoreTest, EveryFallBackSearchesAgainAndLogsBothLines) {
  world_.Faults().Count("Session.InfoStores");
  for (int call = 1; call <= 2; ++call) {
    EXPECT_EQ(basCDO::GetFolder("EF01"), nullptr);
    EXPECT_EQ(world_.Faults().Calls("Session.InfoStores"), call);
    EXPECT_EQ(basCDO::PublicStoreID, "");
    EXPECT_THAT(NewLines(),
                ElementsAre("GetPublicStoreID:failed to get ID of Public Folder Store",
                            "GetFolder:Unable to get folder in default store: &H8004010F "
                            "MAPI_E_NOT_FOUND\r\nunable to retrieve PublicStoreID"));
  }
  // Still served from the default store.
  EXPECT_NE(basCDO::GetFolder("AB10"), nullptr);
  EXPECT_THAT(NewLines(), IsEmpty());
}

using GetPublicStoreIDTest = FolderWorldTest;

TEST_F(GetPublicStoreIDTest, PassesOverStoresWithoutThePublicField) {
  const std::string public_id = SessionPublicStoreId();
  // The mailbox store raises on the field; a store that cannot be had is
  // passed over the same way.
  EXPECT_EQ(basCDO::GetPublicStoreID(), public_id);
  world_.Faults().Inject(NoObject("InfoStores.Item").Times(1));
  EXPECT_EQ(basCDO::GetPublicStoreID(), public_id);
  // A public store whose field cannot be read is no public store.
  world_.Faults().Inject(Raise("InfoStore.Field", kNotFound));
  EXPECT_EQ(basCDO::GetPublicStoreID(), "");
  EXPECT_THAT(NewLines(), ElementsAre("GetPublicStoreID:failed to get ID of Public Folder Store"));
}

TEST_F(GetPublicStoreIDTest, MissingStoreCollectionIsLoggedWithNumberAndDescription) {
  world_.Faults().Inject(Raise("Session.InfoStores", kNotFound));
  EXPECT_EQ(basCDO::GetPublicStoreID(), "");
  EXPECT_THAT(NewLines(), ElementsAre("GetPublicStoreID: error: unable to get Infostores "
                                      "-2147221233 MAPI_E_NOT_FOUND"));
  EXPECT_THAT(
      world_.Process().LogLines(),
      ElementsAre(std::string(kStamp) + "[Error] GetPublicStoreID: error: unable to get Infostores "
                                        "-2147221233 MAPI_E_NOT_FOUND"));
}

using GetMessageByIDTest = FolderWorldTest;

TEST_F(GetMessageByIDTest, FindsInEitherStoreAndIsSilentWhenNeitherHasIt) {
  const auto mine = basCDO::GetMessageByID("CD01");
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->Subject(), "mine");
  EXPECT_EQ(basCDO::PublicStoreID, "");
  const auto shared = basCDO::GetMessageByID("CD02");
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->Subject(), "shared");
  // The session compares identifiers without regard to case.
  ASSERT_NE(basCDO::GetMessageByID("cd02"), nullptr);
  EXPECT_EQ(basCDO::GetMessageByID("0BAD"), nullptr);
  EXPECT_EQ(basCDO::GetMessageByID(""), nullptr);
  // A public open that raises leaves the default store's answer (none).
  world_.Faults().Inject(Raise("Session.GetMessage", kNotFound).Skip(1).Times(1));
  EXPECT_EQ(basCDO::GetMessageByID("CD02"), nullptr);
  // A message the session cannot confirm as the one asked for is not given.
  world_.Faults().Inject(NoObject("Session.CompareIDs"));
  EXPECT_EQ(basCDO::GetMessageByID("CD01"), nullptr);
  EXPECT_THAT(NewLines(), IsEmpty());
}

}  // namespace
