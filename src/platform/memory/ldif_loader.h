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

// A text of this many bytes or more (after a byte-order mark) that holds
// no NUL and no CR is screened record by record as it is read, not in a
// pass before; what is refused, and the fault raised for a text with one
// fault, are the same either way. (With several, the first in file order
// is raised; a screen pass first raises the first the screen finds.)
inline constexpr size_t kScreenWhileReadingFrom = 1 << 20;

// The same for a text named `name`; returns the entries added. Tests and
// fuzzers set `screen_while_reading_from` to take either way with a text
// of any size.
size_t LoadLdifText(std::string ldif, const std::string& name, DirectoryData& directory,
                    std::string* root_dn, const std::function<bool()>& stop,
                    size_t screen_while_reading_from = kScreenWhileReadingFrom);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_LDIF_LOADER_H_
