// A directory that lives on a server rather than in a file: how to reach
// it, as a profile or the server switch names it, and what opening it gives
// an organisation. The ldap backend opens it; the organisation keeps its
// stores and folders as it does for a file.
#ifndef TARNWICK_PLATFORM_SERVER_DIRECTORY_H_
#define TARNWICK_PLATFORM_SERVER_DIRECTORY_H_

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/address_book.h"
#include "platform/directory_search.h"

namespace platform {

// True for a server given as an "ldap://", "ldaps://" or "ldapi://" URL (the
// scheme in any letter case).
bool IsServerUrl(std::string_view server);

struct ServerDirectorySettings {
  std::string url;
  // From the profile; when absent the environment (TARNWICK_BIND_DN,
  // TARNWICK_BIND_PASSWORD_FILE) is asked, else the bind is anonymous.
  std::optional<std::string> bind_dn;
  std::optional<std::string> password_file;  // resolved against the profile's folder
  bool start_tls = false;
  std::optional<int> timeout_seconds;  // default 30
  // The profile's rootDomainNamingContext: the fall-back when the server's
  // root DSE names none. "" when the profile gives none.
  std::string root_domain_naming_context;
  // What error lines name as the place of a fault in these settings: the
  // profile file, or the URL when there is no profile.
  std::string origin;
};

struct ServerDirectory {
  std::unique_ptr<AddressBook> address_book;
  std::unique_ptr<DirectorySearch> search;
  // The forest root the GC://rootDSE binding reports; "" when none is known.
  std::string root_domain_naming_context;
};

// A directory that cannot be opened: what() is one line for the error
// stream, naming the server or the file at fault, never a password.
class ServerDirectoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens a server's directory (connects and binds); raises
// ServerDirectoryError.
using ServerDirectoryOpener = std::function<ServerDirectory(const ServerDirectorySettings&)>;

}  // namespace platform

#endif  // TARNWICK_PLATFORM_SERVER_DIRECTORY_H_
