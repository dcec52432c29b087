// The helper library of the memory backend: the utilities object and the
// helper session with its address book, over the logon of a memory
// session.
//
// A helper object works on the logon whose MAPIOBJECT it was last given. It
// refers to that logon weakly: once the session logs off (or before it was
// given a MAPIOBJECT at all) every member but SetMAPIOBJECT raises
// MAPI_E_NOT_INITIALIZED, and so do the recipients and entries it gave out.
// SetMAPIOBJECT with nothing detaches the object; with a MAPIOBJECT that no
// memory session gave it raises 13 (type mismatch).
//
// Resolution follows the session's rules (AddressBook::Candidates);
// CreateRecipient gives nothing, without an error, for a text that resolves
// to no entry or to several. The address book has one list, "Global Address
// List", holding every address-book entry.
#ifndef TARNWICK_PLATFORM_MEMORY_HELPER_OBJECTS_H_
#define TARNWICK_PLATFORM_MEMORY_HELPER_OBJECTS_H_

#include <memory>

#include "platform/helper_library.h"
#include "platform/memory/open_objects.h"

namespace platform::memory {

std::shared_ptr<platform::ZQMAPIUtils> NewZQMAPIUtils();
// An RDO session counted in `counts` (when given) for as long as it is held.
std::shared_ptr<platform::RDOSession> NewRDOSession(std::shared_ptr<OpenCounts> counts = nullptr);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_HELPER_OBJECTS_H_
