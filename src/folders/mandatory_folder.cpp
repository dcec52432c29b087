// The folders the engine keeps its own data in: the Mandatory Contacts
// folder that the host configures, and named subfolders made on demand.
#include <cstdint>
#include <memory>
#include <string>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "platform/on_error.h"

using platform::Obj;
using platform::OnError;

namespace {

// The first subfolder named exactly `name`; nullptr when there is none or
// the walk fails.
std::shared_ptr<platform::Folder> ExactSubfolder(const std::shared_ptr<platform::Folders>& folders,
                                                 const std::string& name) {
  OnError err;
  const int32_t count = err.Run([&] { return Obj(folders).Count(); });
  for (int32_t position = 1; position <= count; ++position) {
    auto folder = err.Run([&] { return folders->Item(position); });
    if (folder && err.Run([&] { return folder->Name(); }) == name) return folder;
  }
  return nullptr;
}

void LogMandatory(const std::string& text, int32_t level) {
  modTest::WriteLog("KVL::GetMandatoryFolder:" + text, level);
}

}  // namespace

bool KVL::GetMandatoryFolder() {
  // The stop flag is tested before every stage that reaches the platform,
  // so that a stopping host sees no call and no line from here.
  if (basGlobals::StopRequested) return false;
  OnError err;
  bool result = false;
  // A cached folder that no longer answers with a name (or none cached) is
  // opened afresh from the configuration.
  const std::string name = err.Run([&] { return Obj(MCFolder).Name(); });
  if (err.Pending() || name.empty()) {
    if (basGlobals::MCFolderPath.empty() && basGlobals::MCFolderID.empty()) return false;
    err.Clear();
    if (basGlobals::StopRequested) return false;
    // Asked even when only the path is configured: the identifier route
    // then fails with its own lines before the path route is tried.
    MCFolder = basCDO::GetFolder(basGlobals::MCFolderID);
    if (!MCFolder && !basGlobals::MCFolderPath.empty()) {
      // The description is this operation's own pending error: GetFolder
      // swallows and logs its failures.
      LogMandatory(
          " unable to retrieve MC folder using GetFolder; try GetTargetFolder " + err.Description(),
          modTest::kLevelWarning);
      err.Clear();
      MCFolder = basCDO::GetTargetFolder(basGlobals::MCFolderPath);
    }
    if (basGlobals::StopRequested) return false;
    if (!err.Pending() && MCFolder) {
      LogMandatory(" successfully accessed " + basGlobals::MCFolderPath + " folder",
                   modTest::kLevelTrace);
      result = true;
    }
  } else if (!basGlobals::StopRequested) {
    // Re-opened by its own identifier, so that a folder deleted or moved
    // out of reach since the last call is noticed now.
    const std::string id = err.Run([&] { return MCFolder->ID(); });
    MCFolder.reset();
    MCFolder = basCDO::GetFolder(id);
    if (!MCFolder) {
      LogMandatory(" unable to retrieve Mandatory Contacts folder using Len(FolID)=" +
                       std::to_string(id.size()) + ": " + std::to_string(err.Number()) + " " +
                       err.Description(),
                   modTest::kLevelError);
    } else {
      result = true;
    }
  }
  return result;
}

std::shared_ptr<platform::Folder> KVL::GetHiddenFolder(
    const std::string& name, const std::shared_ptr<platform::Folder>& parent) {
  if (!parent) {
    modTest::WriteLog("KVL::GetHiddenFolder:unable to retrieve " + name + "; parent not supplied",
                      modTest::kLevelWarning);
    return nullptr;
  }
  OnError err;
  const auto folders = err.Run([&] { return parent->Folders(); });
  auto folder = err.Run([&] { return Obj(folders).ItemByName(name); });
  // The engine names its folders exactly: a subfolder that differs in
  // letter case is not one of them, and one with the exact name is added
  // beside it. A look-up by name that ignores letter case keeps giving the
  // other one first, so the subfolders are searched for the exact name
  // before one is added: otherwise every call would add another.
  if (folder && err.Run([&] { return folder->Name(); }) != name) {
    folder = ExactSubfolder(folders, name);
  }
  if (!folder) folder = err.Run([&] { return Obj(folders).Add(name); });
  return folder;
}
