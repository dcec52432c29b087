#include "platform/backend_router.h"

#include <utility>

#include "platform/ldap/ldap_directory.h"
#include "platform/memory/memory_backend.h"

namespace platform {

void InstallBackends(Runtime& runtime, std::function<bool()> stop) {
  // The organisation's stores, folders and session objects are the memory
  // backend's for both; what differs is where the directory lives.
  const ServerDirectoryOpener open_server = [](const ServerDirectorySettings& settings) {
    return ldap::OpenServerDirectory(settings);
  };
  memory::Install(runtime, memory::ProfileFileSource(std::move(stop), open_server));
}

}  // namespace platform
