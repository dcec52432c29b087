#include "platform/server_directory.h"

#include "platform/text.h"

namespace platform {

bool IsServerUrl(std::string_view server) {
  return text::StartsWithNoCase(server, "ldap://") || text::StartsWithNoCase(server, "ldaps://") ||
         text::StartsWithNoCase(server, "ldapi://");
}

}  // namespace platform
