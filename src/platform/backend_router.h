// The one place that chooses a backend: at each logon, from the server
// switch. An "ldap://", "ldaps://" or "ldapi://" URL is a directory server
// without a profile (the ldap backend); any other server is a profile file,
// whose "directory" is an LDIF file (the memory backend) or such a URL (the
// ldap backend under the profile's stores and folders). Both programs
// install their backends here.
#ifndef TARNWICK_PLATFORM_BACKEND_ROUTER_H_
#define TARNWICK_PLATFORM_BACKEND_ROUTER_H_

#include <functional>

#include "platform/runtime.h"

namespace platform {

// Fills the runtime's class factory and directory binder. `stop`, when
// given, is asked while a large LDIF directory loads; a true answer
// abandons the logon. The runtime must outlive every object it gives out.
void InstallBackends(Runtime& runtime, std::function<bool()> stop);

}  // namespace platform

#endif  // TARNWICK_PLATFORM_BACKEND_ROUTER_H_
