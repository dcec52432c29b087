// Module basCDO, folder access: stores, folders and messages opened by
// identifier with a fall-back to the public folder store, and folders
// opened by their display path. Every procedure runs with errors
// suppressed, releases what it does not return and never raises.
#ifndef TARNWICK_FOLDERS_BAS_CDO_FOLDERS_H_
#define TARNWICK_FOLDERS_BAS_CDO_FOLDERS_H_

#include <memory>
#include <string>

#include "platform/messaging.h"

namespace basCDO {

// The identifier of the public folder store, filled by the first GetFolder
// or GetMessageByID that needs it and never cleared; "" until then, and
// after a search that found no public store, so that the next call looks
// again. basGlobals::Reset() does not touch it; ResetPublicStoreID does.
extern std::string PublicStoreID;
// Empties PublicStoreID (tests, and a host that logs on afresh).
void ResetPublicStoreID();

// The identifier of the first store of the session whose public top-folder
// field reads as a non-empty text; "" (logged) when there is none or the
// store collection cannot be had.
std::string GetPublicStoreID();

// The folder with exactly that identifier: from the default store, else
// from the public folder store. nullptr (logged) when neither gives it or
// the folder reports another identifier.
std::shared_ptr<platform::Folder> GetFolder(const std::string& id);

// The message with that identifier (as the session compares identifiers):
// from the default store, else from the public folder store. nullptr when
// neither gives it. Writes no line of its own; the public store search it
// may start (GetPublicStoreID) logs when the session has no public store.
std::shared_ptr<platform::Message> GetMessageByID(const std::string& id);

// The folder at a display path: "Public Folders\All Public Folders\..." or
// the default store's name followed by folder names, separated by "\".
// Folder names match trimmed and without regard to case, the first match
// winning. nullptr (one error line) when the path does not resolve, also
// when it names only a store's top. The public store is searched afresh on
// every call.
std::shared_ptr<platform::Folder> GetTargetFolder(std::string path);

}  // namespace basCDO

#endif  // TARNWICK_FOLDERS_BAS_CDO_FOLDERS_H_
