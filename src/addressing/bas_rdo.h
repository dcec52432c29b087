// Module basRDO: address-book look-ups through the helper library. Each call
// builds its own helper session on the program's logon and releases it
// before it returns; nothing is cached.
#ifndef TARNWICK_ADDRESSING_BAS_RDO_H_
#define TARNWICK_ADDRESSING_BAS_RDO_H_

#include <string>

namespace basRDO {

// The entry identifier of the Global Address List entry with that ODN; ""
// for an empty ODN (nothing logged) or after a failure (logged).
std::string GetIdForODN(const std::string& odn);

// The SMTP address of the entry with that identifier; "no SMTP address for
// <name>; Type: <type>" for an entry without one; "" for an empty
// identifier or after a failure (logged).
std::string GetAddressEntryFromId(const std::string& entry_id);

}  // namespace basRDO

#endif  // TARNWICK_ADDRESSING_BAS_RDO_H_
