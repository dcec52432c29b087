// Folders opened by their display path, as a mail client's folder tree
// shows them.
#include "folders/bas_cdo_folders.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "platform/on_error.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace basCDO {
namespace {

constexpr std::string_view kPublicMarker = "Public Folders\\All Public Folders";
constexpr std::string_view kPublicPrefix = "Public Folders\\All Public Folders\\";
constexpr char kPrefix[] = "basCDO::GetTargetFolder error: ";

void LogError(const std::string& text) { modTest::WriteLog(kPrefix + text, modTest::kLevelError); }

// The public folders' top folder ("All Public Folders"), through the first
// store whose public top-folder field reads without an error. Searched on
// every call: a path look-up is rare, and the identifier cache of GetFolder
// stays that procedure's own.
std::shared_ptr<platform::Folder> PublicTopFolder() {
  OnError err;
  const auto stores = err.Run([] { return Obj(basGlobals::MAPISession).InfoStores(); });
  const int32_t count = err.Run([&] { return Obj(stores).Count(); });
  for (int32_t position = 1; position <= count; ++position) {
    err.Clear();
    const auto store = err.Run([&] { return Obj(stores).Item(position); });
    const std::string top_id =
        err.Run([&] { return Obj(store).Field(platform::tag::kPublicFoldersEntryId).ToText(); });
    if (err.Pending()) continue;
    return err.Run(
        [&] { return Obj(basGlobals::MAPISession).GetFolder(top_id, std::string(store->ID())); });
  }
  return nullptr;
}

// The first subfolder whose name, trimmed and lower-cased, is `wanted`;
// nullptr when there is none. Failures stay pending in `err`.
std::shared_ptr<platform::Folder> Subfolder(OnError& err,
                                            const std::shared_ptr<platform::Folder>& parent,
                                            const std::string& wanted) {
  const auto folders = err.Run([&] { return Obj(parent).Folders(); });
  const int32_t count = err.Run([&] { return Obj(folders).Count(); });
  for (int32_t position = 1; position <= count; ++position) {
    auto folder = err.Run([&] { return folders->Item(position); });
    const std::string name = err.Run([&] { return Obj(folder).Name(); });
    if (text::LCase(text::Trim(name)) == wanted) return folder;
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<platform::Folder> GetTargetFolder(std::string path) {
  OnError err;
  std::shared_ptr<platform::Folder> root;
  if (text::Contains(path, kPublicMarker)) {
    root = PublicTopFolder();
    if (!root) {
      LogError("Public Folder Infostore not available!");
      return nullptr;
    }
    path = text::ReplaceAll(path, kPublicPrefix, "");
  } else {
    const auto store =
        err.Run([] { return Obj(Obj(basGlobals::MAPISession).InfoStores()).ItemByName(""); });
    const std::string store_name = err.Run([&] { return Obj(store).Name(); });
    // A store whose name cannot be had identifies nothing; an empty name
    // would otherwise be "contained" in every path.
    if (store_name.empty() || !text::ContainsNoCase(path, store_name)) {
      LogError("unable to identify root folder");
      return nullptr;
    }
    // Removed in its exact letter case only: a name written in another case
    // stays as the first part and is reported as not found.
    path = text::ReplaceAll(path, store_name, "");
    root = err.Run([&] { return store->RootFolder(); });
  }
  while (text::StartsWith(path, "\\")) path.erase(0, 1);
  while (text::EndsWith(path, "\\")) path.pop_back();

  // A path that named only the root has no parts at all, and ends with the
  // "unable to locate" line below.
  const std::vector<std::string> parts =
      path.empty() ? std::vector<std::string>{} : text::Split(path, "\\");
  err.Clear();
  std::shared_ptr<platform::Folder> current = root;
  std::shared_ptr<platform::Folder> match;
  for (size_t i = 0; i < parts.size(); ++i) {
    match = Subfolder(err, current, text::LCase(text::Trim(parts[i])));
    if (!match) {
      LogError(parts[i] + " folder could not be found in specified location.");
      return nullptr;
    }
    if (i + 1 < parts.size()) current = match;
  }
  const std::string last = parts.empty() ? std::string() : parts.back();
  const std::string name = err.Run([&] { return Obj(match).Name(); });
  if (err.Pending() || text::LCase(text::Trim(name)) != text::LCase(text::Trim(last))) {
    LogError("unable to locate " + path + " in specified location.");
    return nullptr;
  }
  return match;
}

}  // namespace basCDO
