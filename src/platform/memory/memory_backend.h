// The memory backend: an organisation loaded from a profile (JSON) and its
// directory (LDIF), held in memory. It fills a Runtime with every class name
// the engine creates ("MAPI.Session", the helper library unless the profile
// switches it off, "ADODB.Connection", "ADODB.Command") and with the GC://
// directory binding.
#ifndef TARNWICK_PLATFORM_MEMORY_MEMORY_BACKEND_H_
#define TARNWICK_PLATFORM_MEMORY_MEMORY_BACKEND_H_

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/memory/faults.h"
#include "platform/memory/open_objects.h"
#include "platform/runtime.h"
#include "platform/server_directory.h"

namespace platform::memory {

class Organisation;

// A profile or LDIF file that cannot be read or parsed. what() names the
// file, the line (when there is one) and the fault: "dir.ldif:12: ...".
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loads a profile and the LDIF file it names. Raises ProfileError; never
// gives a half-loaded organisation.
std::shared_ptr<Organisation> LoadProfile(const std::string& profile_path);

// The same from texts, for tests: the profile JSON (its "directory" key is
// ignored) and the LDIF. Errors name them "<origin>.json" and "<origin>.ldif".
std::shared_ptr<Organisation> LoadFromText(const std::string& profile_json, const std::string& ldif,
                                           const std::string& origin);

// The fault plan every object of the organisation consults.
FaultPlan& Faults(Organisation& organisation);

// What the organisation's objects have open now: connections and record
// sets not closed, scratch messages, helper sessions, helper folders and
// helper tables still held. A test
// compares it before and after an operation to show that the operation
// released on every path what it made.
OpenCounts OpenObjects(const Organisation& organisation);

// Turns the server switch into an organisation at logon; raises
// ProfileError (reported on the error stream, then the logon fails) or
// returns nullptr for a server it does not know (the logon fails).
using OrganisationSource = std::function<std::shared_ptr<Organisation>(const std::string& server)>;

// The source that routes the server switch: an LDAP URL
// (platform/server_directory.h) is a directory server without a profile,
// opened with `open_server`; any other server is taken for a profile path
// and loaded, so a missing or unreadable one raises ProfileError naming
// it. A profile whose directory is a server URL is opened with
// `open_server` too. Without an opener, servers are refused with a
// ProfileError that says so. `stop`, when given, is asked while an LDIF
// directory loads; a true answer abandons the load (ProfileError).
OrganisationSource ProfileFileSource(std::function<bool()> stop = {},
                                     ServerDirectoryOpener open_server = {});
// A source that gives the one organisation for every server.
OrganisationSource FixedSource(std::shared_ptr<Organisation> organisation);

// Registers the backend's classes in the runtime's factory and installs its
// directory binder. Helper objects can be created while nothing is logged on
// (their calls then raise MAPI_E_NOT_INITIALIZED); once a session is logged
// on to an organisation whose profile switches the helper library off, their
// class names raise 429. The directory follows the most recent logon and
// fails with 0x8007203A without one. The runtime must outlive every object
// the backend gives out.
void Install(Runtime& runtime, OrganisationSource source);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_MEMORY_BACKEND_H_
