// An organisation with mailbox and public folders for the folder-access
// tests, logged on as "ana", with the public store identifier cache emptied
// before and after each test.
#ifndef TARNWICK_FOLDERS_FOLDER_TEST_WORLD_H_
#define TARNWICK_FOLDERS_FOLDER_TEST_WORLD_H_

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "folders/bas_cdo_folders.h"
#include "tests/support/engine_world.h"

namespace tarnwick_test {

// Mailbox "Mailbox - Ana": Drafts; Contacts (AB01) holding " Team " (AB02),
// "team" (AB03) and Deep (AB04) with Leaf (AB05), and message CD01; MC
// (AB10) holding "hidden" (AB11). Public: Company Contacts (EF01) holding
// Sales (EF02) and message CD02.
inline constexpr char kFolderProfile[] = R"({"directory": "test.ldif",
  "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana", "folders": [
    {"name": "Drafts"},
    {"name": "Contacts", "id": "AB01", "folders": [
      {"name": " Team ", "id": "AB02"}, {"name": "team", "id": "AB03"},
      {"name": "Deep", "id": "AB04", "folders": [{"name": "Leaf", "id": "AB05"}]}],
     "messages": [{"id": "CD01", "class": "IPM.Contact", "subject": "mine"}]},
    {"name": "MC", "id": "AB10", "folders": [{"name": "hidden", "id": "AB11"}]}]}],
  "publicFolders": {"folders": [
    {"name": "Company Contacts", "id": "EF01", "folders": [{"name": "Sales", "id": "EF02"}],
     "messages": [{"id": "CD02", "class": "IPM.Contact", "subject": "shared"}]}]}})";

// The same mailbox, and no public folder store.
inline constexpr char kNoPublicProfile[] = R"({"directory": "test.ldif",
  "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana", "folders": [
    {"name": "Contacts", "id": "AB01"}, {"name": "MC", "id": "AB10"}]}]})";

inline constexpr char kStamp[] = "12/31/2008 11:59:07 PM: ";

// GetFolder's line for an identifier that neither store knows.
inline std::string BothOpensMissed(const std::string& public_store_id) {
  return "GetFolder:Unable to get folder in default store: &H8004010F MAPI_E_NOT_FOUND\r\n"
         "Unable to get folder using PublicStoreID: &H8004010F MAPI_E_NOT_FOUND\r\n"
         "PublicStoreID = " +
         public_store_id;
}

class FolderWorldTest : public ::testing::Test {
 protected:
  explicit FolderWorldTest(const char* profile = kFolderProfile) : world_("", profile) {
    basCDO::ResetPublicStoreID();
    world_.Logon();
  }
  ~FolderWorldTest() override {
    basCDO::ResetPublicStoreID();
    basGlobals::Reset();
  }

  // Standard output since the previous call.
  std::vector<std::string> NewLines() {
    const auto out = world_.Out();
    std::vector<std::string> lines(out.begin() + static_cast<std::ptrdiff_t>(seen_), out.end());
    seen_ = out.size();
    return lines;
  }

  // The public store's identifier as the session gives it; "" without one.
  static std::string SessionPublicStoreId() {
    const auto stores = basGlobals::MAPISession->InfoStores();
    return stores->Count() < 2 ? std::string() : stores->Item(2)->ID();
  }

  EngineWorld world_;

 private:
  size_t seen_ = 0;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_FOLDERS_FOLDER_TEST_WORLD_H_
