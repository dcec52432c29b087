// Folders by display path: the public and mailbox forms and every way a
// path fails to resolve.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "folders/bas_cdo_folders.h"
#include "folders/folder_test_world.h"
#include "platform/error.h"
#include "platform/memory/faults.h"

namespace {

using platform::errnum::kNotFound;
using platform::memory::NoObject;
using platform::memory::Raise;
using tarnwick_test::FolderWorldTest;
using tarnwick_test::kNoPublicProfile;
using tarnwick_test::kStamp;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr char kE[] = "basCDO::GetTargetFolder error: ";

class GetTargetFolderTest : public FolderWorldTest {
 protected:
  GetTargetFolderTest() = default;
  explicit GetTargetFolderTest(const char* profile) : FolderWorldTest(profile) {}

  // The identifier of the folder at the path; "" when there is none.
  static std::string IdAt(const std::string& path) {
    const auto folder = basCDO::GetTargetFolder(path);
    return folder ? folder->ID() : "";
  }
};

TEST_F(GetTargetFolderTest, BothFormsResolveNameByNameIgnoringCaseAndBlanks) {
  EXPECT_EQ(IdAt("Public Folders\\All Public Folders\\company CONTACTS "), "EF01");
  EXPECT_EQ(IdAt("Public Folders\\All Public Folders\\Company Contacts\\Sales"), "EF02");
  EXPECT_EQ(IdAt("Mailbox - Ana\\Contacts\\deep\\ Leaf"), "AB05");
  // Repeated separators at both ends of what is left are all removed.
  EXPECT_EQ(IdAt("\\\\Mailbox - Ana\\\\Contacts\\\\"), "AB01");
  EXPECT_EQ(IdAt("\\Public Folders\\All Public Folders\\\\Company Contacts\\\\\\"), "EF01");
  // " Team " and "team" both answer to "team": the first one is taken.
  EXPECT_EQ(IdAt("Mailbox - Ana\\Contacts\\TEAM"), "AB02");
  const auto folder = basCDO::GetTargetFolder("Mailbox - Ana\\Contacts");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder.use_count(), 1);
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(GetTargetFolderTest, PublicMarkerAndStoreNameInAnotherLetterCase) {
  // Not a public path; and it does not name the mailbox either.
  EXPECT_EQ(IdAt("public folders\\all public folders\\Company Contacts"), "");
  EXPECT_EQ(IdAt("Mailbox - Bo\\Contacts"), "");
  // The store name is recognised in any case but removed only in its own,
  // so it stays as a part that no folder answers to.
  EXPECT_EQ(IdAt("MAILBOX - ANA\\Contacts"), "");
  EXPECT_THAT(NewLines(),
              ElementsAre(std::string(kE) + "unable to identify root folder",
                          std::string(kE) + "unable to identify root folder",
                          std::string(kE) + "MAILBOX - ANA folder could not be found in "
                                            "specified location."));
  EXPECT_EQ(world_.Process().LogLines().front(),
            std::string(kStamp) + "[Error] " + kE + "unable to identify root folder");
}

TEST_F(GetTargetFolderTest, PartsThatNameNoFolder) {
  // An empty part between two separators.
  EXPECT_EQ(IdAt("Mailbox - Ana\\Contacts\\\\Deep"), "");
  // Without the "\" after the marker nothing is removed.
  EXPECT_EQ(IdAt("Public Folders\\All Public Folders"), "");
  EXPECT_EQ(IdAt("Mailbox - Ana\\Contacts\\Nowhere\\Leaf"), "");
  // Paths that name only the root.
  EXPECT_EQ(IdAt("Mailbox - Ana"), "");
  EXPECT_EQ(IdAt("\\Public Folders\\All Public Folders\\\\"), "");
  EXPECT_THAT(NewLines(),
              ElementsAre(std::string(kE) + " folder could not be found in specified location.",
                          std::string(kE) +
                              "Public Folders folder could not be found in specified location.",
                          std::string(kE) + "Nowhere folder could not be found in specified "
                                            "location.",
                          std::string(kE) + "unable to locate  in specified location.",
                          std::string(kE) + "unable to locate  in specified location."));
}

TEST_F(GetTargetFolderTest, ErrorDuringTheWalkFailsTheLookUpWithTheRemainingPath) {
  // The first subfolder of the root (Drafts) cannot be had; Contacts and
  // Deep are still found, but the walk is not to be trusted.
  world_.Faults().Inject(NoObject("Folders.Item").Times(1));
  EXPECT_EQ(IdAt("Mailbox - Ana\\Contacts\\Deep\\"), "");
  EXPECT_THAT(NewLines(),
              ElementsAre(std::string(kE) + "unable to locate Contacts\\Deep in specified "
                                            "location."));
}

TEST_F(GetTargetFolderTest, PublicStoreWhoseFieldCannotBeReadIsNoRoot) {
  world_.Faults().Inject(Raise("InfoStore.Field", kNotFound).Skip(1));
  EXPECT_EQ(IdAt("Public Folders\\All Public Folders\\Company Contacts"), "");
  EXPECT_THAT(NewLines(), ElementsAre(std::string(kE) + "Public Folder Infostore not available!"));
}

class GetTargetFolderNoPublicTest : public GetTargetFolderTest {
 protected:
  GetTargetFolderNoPublicTest() : GetTargetFolderTest(kNoPublicProfile) {}
};

TEST_F(GetTargetFolderNoPublicTest, PublicFormFailsAndMailboxFormStillWorks) {
  EXPECT_EQ(IdAt("Public Folders\\All Public Folders\\Company Contacts"), "");
  EXPECT_EQ(IdAt("Mailbox - Ana\\MC"), "AB10");
  EXPECT_THAT(NewLines(), ElementsAre(std::string(kE) + "Public Folder Infostore not available!"));
}

}  // namespace
