// Module basCDO: SMTP addresses of messaging identities, and the
// address-book entry of a member list met in a directory query.
#ifndef TARNWICK_ADDRESSING_BAS_CDO_H_
#define TARNWICK_ADDRESSING_BAS_CDO_H_

#include <memory>
#include <string>

#include "platform/messaging.h"

namespace basCDO {

// The SMTP address of an entry: an "SMTP" entry's own address without an
// "SMTP:" prefix (any case); an "EX" entry's primary proxy (the first one
// written "SMTP:" in upper case). "" for any other type, or when there is none.
std::string PrimarySMTPfromAE(const std::shared_ptr<platform::AddressEntry>& entry);

// The primary SMTP address of an ODN: first through GALEntries filtered by
// "EX:" + ODN (when a host set it and exactly one entry matches), else by
// resolving the ODN on a scratch message that is deleted again. "" when
// there is none; a warning is logged when the ODN does not resolve.
std::string PrimarySMTPfromODN(const std::string& odn);

// The GALEntries entry named `name`, when its display name and its SMTP
// address (both without regard to case) are `name` and `smtp` and it is an
// ordinary distribution list; otherwise, and after any failure, nullptr.
std::shared_ptr<platform::AddressEntry> GetDLEntry(const std::string& name,
                                                   const std::string& smtp);

}  // namespace basCDO

#endif  // TARNWICK_ADDRESSING_BAS_CDO_H_
