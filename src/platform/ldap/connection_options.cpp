#include "platform/ldap/connection_options.h"

#include <fcntl.h>
#include <ldap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ldap/message_text.h"
#include "platform/server_directory.h"

namespace platform::ldap {
namespace {

// A password longer than this is not a password: the file was misnamed
// (a log, a device), and reading on would only waste memory.
constexpr size_t kMaxPasswordFileBytes = 64 * 1024;

std::string UrlFault(int code) {
  switch (code) {
    case LDAP_URL_ERR_BADSCHEME:
      return "it does not begin with ldap://, ldaps:// or ldapi://";
    case LDAP_URL_ERR_BADENCLOSURE:
      return "it is missing its closing \">\"";
    case LDAP_URL_ERR_BADHOST:
      return "the host or port is not valid";
    case LDAP_URL_ERR_BADATTRS:
      return "the attribute list is not valid";
    case LDAP_URL_ERR_BADSCOPE:
      return "the scope is not valid";
    case LDAP_URL_ERR_BADFILTER:
      return "the filter is not valid";
    case LDAP_URL_ERR_BADEXTS:
      return "the extensions are not valid";
    default:
      return "it is not a valid LDAP URL";
  }
}

void ValidateUrl(std::string_view url) {
  const std::string shown = "'" + Printable(url) + "'";
  if (!IsServerUrl(url)) {
    throw ConnectError("Bad directory server " + shown +
                       ": it does not begin with ldap://, ldaps:// or ldapi://");
  }
  // libldap reads the URL as a C string: a NUL would cut it short silently,
  // and a control character has no place in one.
  for (char c : url) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      throw ConnectError("Bad directory server " + shown + ": it holds a control character");
    }
  }
  LDAPURLDesc* desc = nullptr;
  const int rc = ldap_url_parse(std::string(url).c_str(), &desc);
  // A URL names a server here; a DN, attributes or a filter after it would
  // be dropped without a word (searches take their base from the command).
  const bool extra = desc != nullptr && ((desc->lud_dn != nullptr && desc->lud_dn[0] != '\0') ||
                                         desc->lud_attrs != nullptr ||
                                         desc->lud_filter != nullptr || desc->lud_exts != nullptr);
  if (desc != nullptr) ldap_free_urldesc(desc);
  if (rc != LDAP_URL_SUCCESS)
    throw ConnectError("Bad directory server " + shown + ": " + UrlFault(rc));
  if (extra) {
    throw ConnectError("Bad directory server " + shown +
                       ": name the server only (scheme, host and port), without a DN, "
                       "attributes or a filter after it");
  }
}

std::string ValueOr(const std::optional<std::string>& value) { return value ? *value : ""; }

}  // namespace

std::optional<std::string> ProcessEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string ReadPasswordFile(const std::string& path, const WarningSink& warn) {
  const std::string shown = "'" + Printable(path) + "'";
  auto fail = [&](const std::string& reason) -> ConnectError {
    return ConnectError("Cannot read the password file " + shown + ": " + reason);
  };
  if (path.find('\0') != std::string::npos) throw fail("the name holds a NUL character");
  // O_NONBLOCK: a FIFO without a writer must not hang the logon. It is
  // cleared again below for the reads.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw fail(std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw fail(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw fail(std::strerror(EISDIR));
  // A FIFO, socket or terminal could keep the logon waiting for ever.
  if (!S_ISREG(st.st_mode)) throw fail("it is not a regular file");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);

  std::string password;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(std::strerror(errno));
    }
    if (n == 0) break;
    password.append(buffer, static_cast<size_t>(n));
    if (password.size() > kMaxPasswordFileBytes) {
      throw fail("it is larger than " + std::to_string(kMaxPasswordFileBytes / 1024) +
                 " KiB, so it cannot be a password");
    }
  }
  if (password.ends_with("\r\n")) {
    password.resize(password.size() - 2);
  } else if (password.ends_with('\n')) {
    password.pop_back();
  }
  // A simple bind with a DN and an empty password is an unauthenticated
  // bind (RFC 4513 5.1.2) that many servers accept as anonymous: the run
  // would go on with less than the user meant to have.
  if (password.empty()) throw fail("it is empty");
  if ((st.st_mode & S_IROTH) != 0 && warn) {
    warn("Warning: the password file " + shown +
         " is readable by others; it should be readable by its owner only (chmod 600).");
  }
  return password;
}

ServerOptions ResolveOptions(std::string_view url, const ProfileLdapKeys* profile,
                             const EnvGetter& env, const WarningSink& warn) {
  ValidateUrl(url);
  ServerOptions options;
  options.url = std::string(url);

  std::string bind_dn;
  std::string password_file;
  // An empty key counts as one left out.
  if (profile != nullptr) {
    bind_dn = ValueOr(profile->bind_dn);
    password_file = ValueOr(profile->password_file);
  }
  if (!bind_dn.empty() || !password_file.empty()) {
    if (bind_dn.empty() || password_file.empty()) {
      throw ConnectError(
          std::string("The profile gives ") +
          (bind_dn.empty() ? "passwordFile but no bindDN" : "bindDN but no passwordFile") +
          " for the directory server '" + Printable(url) + "'");
    }
  } else if (env) {
    bind_dn = ValueOr(env("TARNWICK_BIND_DN"));
    password_file = ValueOr(env("TARNWICK_BIND_PASSWORD_FILE"));
    if (bind_dn.empty() != password_file.empty()) {
      throw ConnectError(bind_dn.empty()
                             ? "TARNWICK_BIND_PASSWORD_FILE is set but TARNWICK_BIND_DN is not"
                             : "TARNWICK_BIND_DN is set but TARNWICK_BIND_PASSWORD_FILE is not");
    }
  }
  if (!bind_dn.empty()) {
    options.bind_dn = bind_dn;
    options.password = ReadPasswordFile(password_file, warn);
  }

  if (profile != nullptr) {
    options.start_tls = profile->start_tls.value_or(false);
    if (profile->timeout_seconds) {
      if (*profile->timeout_seconds <= 0) {
        throw ConnectError(
            "The profile's timeoutSeconds must be a positive number of seconds, not " +
            std::to_string(*profile->timeout_seconds));
      }
      options.timeout_seconds = *profile->timeout_seconds;
    }
  }
  return options;
}

}  // namespace platform::ldap
