// Finding the address-book entry of a member list met in a directory query.
#ifndef TARNWICK_DIRECTORY_DL_ENTRY_H_
#define TARNWICK_DIRECTORY_DL_ENTRY_H_

#include <memory>
#include <string>

#include "platform/messaging.h"

namespace basCDO {

// The GALEntries entry named `name`, when its display name and its SMTP
// address (both without regard to case) are `name` and `smtp` and it is an
// ordinary distribution list; otherwise, and after any failure, nullptr.
std::shared_ptr<platform::AddressEntry> GetDLEntry(const std::string& name,
                                                   const std::string& smtp);

}  // namespace basCDO

#endif  // TARNWICK_DIRECTORY_DL_ENTRY_H_
