// Stores, folders and messages by identifier, with the fall-back to the
// public folder store.
#include "folders/bas_cdo_folders.h"

#include <cstdint>
#include <optional>
#include <string>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "driver/value_helpers.h"
#include "platform/on_error.h"

using modTest::HexNumber;
using platform::Obj;
using platform::OnError;

namespace basCDO {

std::string PublicStoreID;

void ResetPublicStoreID() { PublicStoreID.clear(); }

namespace {

constexpr char kCrLf[] = "\r\n";

}  // namespace

std::string GetPublicStoreID() {
  OnError err;
  const auto stores = err.Run([] { return Obj(basGlobals::MAPISession).InfoStores(); });
  if (!stores) {
    modTest::WriteLog("GetPublicStoreID:" + std::string(" error: unable to get Infostores ") +
                          std::to_string(err.Number()) + " " + err.Description(),
                      modTest::kLevelError);
    return {};
  }
  std::string id;
  const int32_t count = err.Run([&] { return stores->Count(); });
  for (int32_t position = 1; position <= count; ++position) {
    // A mailbox store raises on the field: that is how the walk tells the
    // stores apart, so a failed read only passes the store over.
    const auto store = err.Run([&] { return stores->Item(position); });
    const std::string top_id =
        err.Run([&] { return Obj(store).Field(platform::tag::kPublicFoldersEntryId).ToText(); });
    if (top_id.empty()) continue;
    id = err.Run([&] { return store->ID(); });
    break;
  }
  if (id.empty()) {
    modTest::WriteLog("GetPublicStoreID:failed to get ID of Public Folder Store",
                      modTest::kLevelError);
  }
  return id;
}

std::shared_ptr<platform::Folder> GetFolder(const std::string& id) {
  OnError err;
  auto folder = err.Run([&] { return Obj(basGlobals::MAPISession).GetFolder(id, std::nullopt); });
  if (!folder || err.Run([&] { return folder->ID(); }) != id) {
    // The number and description are those of the failed open (0 and ""
    // when the open succeeded and only the identifier differed).
    const std::string default_failure = "Unable to get folder in default store: &H" +
                                        HexNumber(err.Number()) + " " + err.Description();
    if (PublicStoreID.empty()) PublicStoreID = GetPublicStoreID();
    if (PublicStoreID.empty()) {
      modTest::WriteLog("GetFolder:" + default_failure + kCrLf + "unable to retrieve PublicStoreID",
                        modTest::kLevelError);
      return nullptr;
    }
    OnError second;
    auto public_folder =
        second.Run([&] { return Obj(basGlobals::MAPISession).GetFolder(id, PublicStoreID); });
    // A failed second open leaves the default store's folder (one with
    // another identifier) in hand, to be reported as a mismatch below.
    if (!second.Pending()) folder = std::move(public_folder);
    if (!folder) {
      modTest::WriteLog("GetFolder:" + default_failure + kCrLf +
                            "Unable to get folder using PublicStoreID: &H" +
                            HexNumber(second.Number()) + " " + second.Description() + kCrLf +
                            "PublicStoreID = " + PublicStoreID,
                        modTest::kLevelError);
      return nullptr;
    }
  }
  const std::string folder_id = err.Run([&] { return folder->ID(); });
  if (folder_id == id) return folder;
  modTest::WriteLog(
      "GetFolder:GetFolder returned folder with ID=" + folder_id + " <> supplied ID=" + id,
      modTest::kLevelError);
  return nullptr;
}

std::shared_ptr<platform::Message> GetMessageByID(const std::string& id) {
  OnError err;
  const auto session = basGlobals::MAPISession;
  auto message = err.Run([&] { return Obj(session).GetMessage(id, std::nullopt); });
  const auto carries_id = [&](const std::shared_ptr<platform::Message>& candidate) {
    return candidate != nullptr &&
           err.Run([&] { return Obj(session).CompareIDs(candidate->ID(), id); });
  };
  if (!carries_id(message)) {
    if (PublicStoreID.empty()) PublicStoreID = GetPublicStoreID();
    // Tried even without a public store identifier: the session then
    // refuses the store, and the default store's message stays in hand.
    OnError second;
    auto public_message = second.Run([&] { return Obj(session).GetMessage(id, PublicStoreID); });
    if (!second.Pending()) message = std::move(public_message);
  }
  err.Clear();
  if (carries_id(message) && !err.Pending()) return message;
  return nullptr;
}

}  // namespace basCDO
