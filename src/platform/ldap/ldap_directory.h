// The ldap backend: an organisation's directory on a live LDAP server,
// reached through libldap (ldap_client.h). It gives the shared platform
// code what the memory backend gives it from an LDIF file, made of
// searches and never of a load of the whole directory:
//   - the directory commands' searches (platform/directory_search.h): the
//     filter is sent in strict RFC 4515 form, with objectCategory short
//     names expanded to "CN=<name>," + the schema naming context; results
//     are paged; "GC://" + DN binds that object, and its ADsPath keeps the
//     DN as the path gave it;
//   - the address book (platform/address_book.h): resolution is one search
//     over legacyExchangeDN, mail, proxyAddresses, displayName,
//     mailNickname and the RDN; a list's members are read in batches. Book
//     positions are handed out as entries are first met, so they follow
//     the server's order for each search, not one order for the whole book.
// Entry identifiers are formed by the shared rules, so a run over a server
// logs what a run over an LDIF snapshot of it logs.
#ifndef TARNWICK_PLATFORM_LDAP_LDAP_DIRECTORY_H_
#define TARNWICK_PLATFORM_LDAP_LDAP_DIRECTORY_H_

#include <functional>
#include <optional>
#include <string>

#include "platform/ldap/ldap_client.h"
#include "platform/server_directory.h"

namespace platform::ldap {

// The ldap backend's factory (a platform::ServerDirectoryOpener). Connects
// to settings.url and binds: with the profile's bindDN and passwordFile,
// else with the environment's TARNWICK_BIND_DN and
// TARNWICK_BIND_PASSWORD_FILE, else anonymously; LDAPv3, no referrals,
// StartTLS when asked, every operation bounded by timeoutSeconds (default
// 30). Reads the root DSE: the forest root is its rootDomainNamingContext,
// else the settings' fall-back, else its first namingContexts value. Raises
// ServerDirectoryError with one line naming the server and what failed
// (libldap's message for a failed connection or bind), never the password.
// A password file readable by others draws a warning on the error stream.
ServerDirectory OpenServerDirectory(const ServerDirectorySettings& settings);

// The same with the environment given (a test's), and the warnings sent
// where the caller wants them.
ServerDirectory OpenServerDirectory(
    const ServerDirectorySettings& settings,
    const std::function<std::optional<std::string>(const char*)>& environment,
    const std::function<void(const std::string&)>& warn);

// What a server makes of a filter beyond RFC 4515.
struct ServerDialect {
  std::string schema_naming_context;  // where objectCategory short names point
  // Active Directory (its root DSE lists capability 1.2.840.113556.1.4.800)
  // stores "name" as the RDN value and "distinguishedName" as the DN; other
  // servers do not.
  bool active_directory = false;
};

// The filter for the server: the parsed filter in strict RFC 4515 form,
// with every equality item on objectCategory whose value holds no "=" given
// the full category DN "CN=<value>," + the schema naming context (or, for a
// name in camel case, either that or its hyphenated Active Directory form
// "CN=ms-Exch-...,"). Outside Active Directory an item on "name" becomes
// the same item on any of the usual RDN types (cn, ou, o, dc, l, uid), and
// an equality on "distinguishedName" one on entryDN, so that they select
// what they select in an LDIF file.
std::string ServerFilter(const ldapfilter::Filter& filter, const ServerDialect& dialect);

// What a server's root DSE says of its naming: the forest root is its
// rootDomainNamingContext, else `fallback_root` (the profile's), else its
// first namingContexts value; the schema naming context is its
// schemaNamingContext, else "CN=Schema,CN=Configuration," + the root; Active
// Directory is the server that lists capability 1.2.840.113556.1.4.800.
struct ServerNaming {
  std::string root;
  ServerDialect dialect;
};
ServerNaming NamingOf(const Entry& root_dse, const std::string& fallback_root);

}  // namespace platform::ldap

#endif  // TARNWICK_PLATFORM_LDAP_LDAP_DIRECTORY_H_
