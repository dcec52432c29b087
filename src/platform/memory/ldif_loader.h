// Loading an LDIF text into a directory: every record in file order, each
// fault raised as ProfileError "<file>:<line>: <what>" for the first fault
// in file order, and nothing opened that the user did not name (the text
// is screened, platform/memory/ldif_screen.h, before libldap reads a line
// of it).
#ifndef TARNWICK_PLATFORM_MEMORY_LDIF_LOADER_H_
#define TARNWICK_PLATFORM_MEMORY_LDIF_LOADER_H_

#include <cstddef>
#include <functional>
#include <string>

#include "platform/memory/directory_data.h"

namespace platform::memory {

// Loads the file's records into the directory; raises ProfileError, also
// for a file that holds no entry. `root_dn` receives the default root
// domain naming context (the DN of fewest components made of DC= parts
// only). `stop`, when given, is asked between records; once it answers
// true the load ends with ProfileError "<file>: loading stopped by a stop
// request".
void LoadLdifFile(const std::string& file, DirectoryData& directory, std::string* root_dn,
                  const std::function<bool()>& stop);

// The same for a text named `name`; returns the entries added.
size_t LoadLdifText(std::string ldif, const std::string& name, DirectoryData& directory,
                    std::string* root_dn, const std::function<bool()>& stop);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_LDIF_LOADER_H_
