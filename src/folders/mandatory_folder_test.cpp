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
using tarnwick_test::BothOpensMissed;
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
  std::shared_ptr<platform::Folder> Item(int32_t i) override { return inner_->Item(i); }
  std::shared_ptr<platform::Folder> Add(const std::string& n) override { return inner_->Add(n); }
  std::shared_ptr<platform::Folder> ItemByName(const std::string& name) override {
    for (int32_t i = 1; i <= Count(); ++i) {
      if (text::EqualsNoCase(Item(i)->Name(), name)) return Item(i);
    }
    throw platform::PlatformError(kNotFound);
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

  // Starts counting the platform calls the operation could make.
  void CountCalls() {
    for (const char* operation : {"Session.GetFolder", "Session.InfoStores", "Folder.Name"}) {
      world_.Faults().Count(operation);
    }
  }
  int Calls(const char* operation) { return world_.Faults().Calls(operation); }
  int AllCalls() {
    return Calls("Session.GetFolder") + Calls("Session.InfoStores") + Calls("Folder.Name");
  }
  std::string CachedId() {
    const auto folder = probe_.MCFolder();
    return folder ? folder->ID() : "";
  }

  std::unique_ptr<KVL> kvl_;
  KvlProbe probe_;
};

TEST_F(MandatoryFolderTest, OpenedByIdentifierOnceThenReopenedByItsOwn) {
  basGlobals::MCFolderID = "AB10";
  basGlobals::MCFolderPath = "Mailbox - Ana\\Contacts";  // not needed, so not used
  CountCalls();
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_EQ(Calls("Session.GetFolder"), 1);

  // Once a folder is cached the configuration no longer matters.
  const auto first = probe_.MCFolder();
  basGlobals::MCFolderID = "AB01";
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_NE(probe_.MCFolder(), first);
  EXPECT_EQ(Calls("Session.GetFolder"), 2);
  EXPECT_EQ(Calls("Session.InfoStores"), 0);
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(MandatoryFolderTest, PathAloneFollowsTheFailedIdentifierLookUp) {
  basGlobals::MCFolderPath = "Mailbox - Ana\\MC";
  EXPECT_TRUE(probe_.GetMandatoryFolder());
  EXPECT_EQ(CachedId(), "AB10");
  const std::string warning =
      std::string(kM) + " unable to retrieve MC folder using GetFolder; try GetTargetFolder ";
  EXPECT_THAT(NewLines(), ElementsAre(BothOpensMissed(SessionPublicStoreId()), warning));
  EXPECT_EQ(world_.Process().LogLines().back(), std::string(kStamp) + "[Warning] " + warning);
}

TEST_F(MandatoryFolderTest, LostFolderIsDroppedAndTheNextCallStartsFromConfiguration) {
  basGlobals::MCFolderID = "AB10";
  ASSERT_TRUE(probe_.GetMandatoryFolder());
  world_.Faults().Inject(Raise("Session.GetFolder", kNotFound));
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(probe_.MCFolder(), nullptr);
  const std::string error =
      std::string(kM) + " unable to retrieve Mandatory Contacts folder using Len(FolID)=4: 0 ";
  EXPECT_THAT(NewLines(), ElementsAre(BothOpensMissed(SessionPublicStoreId()), error));
  EXPECT_EQ(world_.Process().LogLines().back(), std::string(kStamp) + "[Error] " + error);

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
  EXPECT_EQ(AllCalls(), 0);
  EXPECT_EQ(probe_.MCFolder(), nullptr);
  // With a folder cached, too; the cache is kept for after the stop.
  basGlobals::StopRequested = false;
  ASSERT_TRUE(probe_.GetMandatoryFolder());
  basGlobals::StopRequested = true;
  CountCalls();
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(AllCalls(), 0);
  EXPECT_EQ(CachedId(), "AB10");
  EXPECT_THAT(NewLines(), IsEmpty());
}

TEST_F(MandatoryFolderTest, WithoutAPathTheOnlyLinesAreTheIdentifierLookUps) {
  CountCalls();
  EXPECT_FALSE(probe_.GetMandatoryFolder());  // nothing configured: silent
  EXPECT_EQ(AllCalls(), 0);
  basGlobals::MCFolderID = "0BAD";
  EXPECT_FALSE(probe_.GetMandatoryFolder());
  EXPECT_EQ(probe_.MCFolder(), nullptr);
  EXPECT_THAT(NewLines(), ElementsAre(BothOpensMissed(SessionPublicStoreId())));
}

using GetHiddenFolderTest = MandatoryFolderTest;

TEST_F(GetHiddenFolderTest, ExistingSubfolderIsReturnedAndAMissingOneIsAdded) {
  const auto parent = basCDO::GetFolder("AB10");
  ASSERT_NE(parent, nullptr);
  world_.Faults().Count("Folders.Add");
  EXPECT_EQ(probe_.GetHiddenFolder("hidden", parent)->ID(), "AB11");
  EXPECT_EQ(world_.Faults().Calls("Folders.Add"), 0);
  const auto made = probe_.GetHiddenFolder("Sync State", parent);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Name(), "Sync State");
  EXPECT_EQ(probe_.GetHiddenFolder("Sync State", parent)->ID(), made->ID());
  EXPECT_EQ(world_.Faults().Calls("Folders.Add"), 1);
  EXPECT_EQ(parent->Folders()->Count(), 2);
  EXPECT_THAT(NewLines(), IsEmpty());

  EXPECT_EQ(probe_.GetHiddenFolder("Sync State", nullptr), nullptr);
  const std::string warning =
      "KVL::GetHiddenFolder:unable to retrieve Sync State; parent not "
      "supplied";
  EXPECT_THAT(NewLines(), ElementsAre(warning));
  EXPECT_EQ(world_.Process().LogLines().back(), std::string(kStamp) + "[Warning] " + warning);
}

TEST_F(GetHiddenFolderTest, NameInAnotherLetterCaseGetsAFolderOfItsOwn) {
  const auto parent = basCDO::GetFolder("AB10");
  ASSERT_NE(parent, nullptr);
  const auto case_blind = std::make_shared<CaseBlindParent>(parent);
  // Whether or not the look-up by name ignores letter case.
  EXPECT_EQ(probe_.GetHiddenFolder("HIDDEN", parent)->Name(), "HIDDEN");
  EXPECT_EQ(probe_.GetHiddenFolder("Hidden", case_blind)->Name(), "Hidden");
  EXPECT_EQ(probe_.GetHiddenFolder("hidden", case_blind)->ID(), "AB11");
  // Asked again, the case-blind look-up still gives "hidden" first; the
  // folder added before is found, not added a second time.
  const std::string added = probe_.GetHiddenFolder("Hidden", case_blind)->ID();
  EXPECT_EQ(probe_.GetHiddenFolder("Hidden", case_blind)->ID(), added);
  const auto folders = parent->Folders();
  ASSERT_EQ(folders->Count(), 3);
  EXPECT_EQ(folders->Item(1)->Name(), "hidden");
}

}  // namespace
