// The messaging session of the memory backend and the objects it gives out
// (stores, folders, messages, recipients).
//
// Logon takes "<server>\n<alias>". The source turns the server into an
// organisation; a ProfileError from it is written as one line to the
// process's error stream and the logon fails (MAPI_E_LOGON_FAILED), as it
// does for a server the source does not know and for an alias that names
// neither a profile mailbox nor a directory user. The session then stays
// logged off. A Logon on a logged-on session ends the old logon first. The
// error line goes through the current runtime's process services, so a
// runtime must be installed while a session logs on.
//
// Choices where the messaging model leaves room:
//  - stores come in a fixed order: the mailbox store (the default store),
//    then "Public Folders" when the profile has public folders; store names
//    are matched exactly;
//  - the mailbox root folder is "Top of Information Store"; the public
//    store's root is "IPM_SUBTREE" and holds "All Public Folders";
//  - the scratch folder is the mailbox's "Drafts" folder, else its root;
//    messages added there (or anywhere) are scratch messages: never kept in
//    the folder, never found by identifier, freed with their last holder;
//  - message classes are compared without regard to case; GetFirst("")
//    gives the first message that passes the class filter;
//  - CompareIDs is equality of hexadecimal identifiers without regard to
//    case; an empty identifier names nothing;
//  - GetFolder and GetMessage look identifiers up without regard to case
//    and report the object's own identifier.
#ifndef TARNWICK_PLATFORM_MEMORY_SESSION_H_
#define TARNWICK_PLATFORM_MEMORY_SESSION_H_

#include <memory>

#include "platform/memory/logon.h"
#include "platform/memory/memory_backend.h"
#include "platform/messaging.h"

namespace platform::memory {

// A logged-off session. Its logons are announced to `registry` (may be
// nullptr) so that the backend can follow the most recent one.
std::shared_ptr<platform::Session> NewSession(OrganisationSource source,
                                              std::shared_ptr<LogonRegistry> registry);

// What stands behind a folder that a memory session gave out: its data and
// the logon it came from (which may have ended since).
struct FolderAccess {
  std::shared_ptr<LogonState> logon;
  FolderData* folder = nullptr;
};
// For the helper library, which works on session folders. Raises 13 (type
// mismatch) for a folder of another backend.
FolderAccess AccessFolder(const platform::Folder& folder);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_SESSION_H_
