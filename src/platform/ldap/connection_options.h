// What reaching a directory server takes, and where each part comes from.
//
// The server is named by an LDAP URL (the server switch, or a profile's
// "directory"). Credentials come from the profile (bindDN + passwordFile),
// else from the environment (TARNWICK_BIND_DN + TARNWICK_BIND_PASSWORD_FILE),
// else the bind is anonymous. A password is only ever read from a file the
// user named, and never appears in a log line, an error line or an
// exception text.
#ifndef TARNWICK_PLATFORM_LDAP_CONNECTION_OPTIONS_H_
#define TARNWICK_PLATFORM_LDAP_CONNECTION_OPTIONS_H_

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::ldap {

// A failure to reach or bind to a server, or to work out how to. The
// message is one line, fit to put on the error stream as it is: it names
// the server, file or setting at fault, and never holds a password.
class ConnectError : public std::runtime_error {
 public:
  explicit ConnectError(const std::string& message) : std::runtime_error(message) {}
};

struct ServerOptions {
  std::string url;
  std::string bind_dn;   // "" for an anonymous bind
  std::string password;  // the bytes of the password file; "" when anonymous
  bool start_tls = false;
  int timeout_seconds = 30;  // network, bind and per-reply limit; > 0
};

// The ldap keys of a profile, as the profile gives them. The profile reader
// makes password_file absolute (relative to the profile's folder) before it
// gets here; an unset key is empty.
struct ProfileLdapKeys {
  std::optional<std::string> bind_dn;
  std::optional<std::string> password_file;
  std::optional<bool> start_tls;
  std::optional<int> timeout_seconds;
};

// Gives an environment variable's value, std::nullopt when it is unset.
using EnvGetter = std::function<std::optional<std::string>(const char* name)>;
// Takes one warning line (no trailing newline).
using WarningSink = std::function<void(const std::string& line)>;

// An EnvGetter over the process environment.
std::optional<std::string> ProcessEnv(const char* name);

// The options for reaching `url`:
//  - the URL must be an LDAP URL that libldap can parse;
//  - credentials: the profile's bind_dn and password_file when the profile
//    gives either (an empty value counts as not given); else TARNWICK_BIND_DN and
//    TARNWICK_BIND_PASSWORD_FILE from `env` when either is set and not empty; else anonymous. A DN
//    without a password file, or a file without a DN, is an error naming
//    what is missing and where it was looked for;
//  - the password is the whole file with one trailing "\n" or "\r\n"
//    removed. A file that is missing, unreadable, a directory, empty, or
//    larger than 64 KiB is an error naming the file and the reason. A file others may read is used,
//    after one line to `warn` naming it;
//  - start_tls and timeout_seconds from the profile, else false and 30; a
//    timeout that is not positive is an error.
// Throws ConnectError on every error above; `warn` is called only for the
// warning. `profile` may be null (a bare URL on the server switch).
ServerOptions ResolveOptions(std::string_view url, const ProfileLdapKeys* profile,
                             const EnvGetter& env, const WarningSink& warn);

// Reads a password file by the rules of ResolveOptions. Exposed for the
// profile reader, which must refuse a bad file at logon like any other
// profile fault.
std::string ReadPasswordFile(const std::string& path, const WarningSink& warn);

}  // namespace platform::ldap

#endif  // TARNWICK_PLATFORM_LDAP_CONNECTION_OPTIONS_H_
