// One connection to a directory server, over libldap, typed.
//
// The directory and address book of the ldap backend sit on this class;
// nothing here knows their commands or rows. It reads: searches, base
// reads of many DNs at once, the root DSE. It never writes.
//
// Errors after Connect are PlatformErrors with the directory's numbers:
//  - the server is busy: kServerNotOperational, "The server is not
//    operational."; the connection stays;
//  - the connection is lost (the server went away, is unavailable, or
//    gave no reply within timeout_seconds): kServerNotOperational, "The
//    server is not operational." From then on the Client is dead: every
//    later call fails the same way at once, without a network round trip
//    and without reconnecting (a new connection would have to be bound
//    again, and after a time-out a late reply could be taken for the
//    answer to a later request);
//  - the search base is not on the server (noSuchObject, a referral
//    elsewhere, or a base that is not a DN): kNoSuchObject, "There is no
//    such object on the server.";
//  - the filter is empty, or refused by libldap or the server (filterError,
//    protocolError, inappropriateMatching, unwillingToPerform):
//    kBadCommand, "One or more errors occurred during processing of
//    command.";
//  - any other refusal of a request (insufficient access, an admin limit,
//    ...): kBadCommand with that text followed by libldap's message in
//    parentheses, so a result is never cut short silently.
// A Client is used from one thread at a time.
#ifndef TARNWICK_PLATFORM_LDAP_LDAP_CLIENT_H_
#define TARNWICK_PLATFORM_LDAP_LDAP_CLIENT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ldap/connection_options.h"

struct ldap;     // libldap's LDAP
struct ldapmsg;  // libldap's LDAPMessage

namespace platform::ldap {

struct Attribute {
  std::string name;                 // as the server spells it
  std::vector<std::string> values;  // bytes, as sent; binary values whole
};

struct Entry {
  std::string dn;
  std::vector<Attribute> attributes;  // in the server's order
};

// An entry as it lies in a reply, for a caller that keeps its own copy:
// views valid only during the call that gives it. Attribute i is names[i]
// with counts[i] values, which follow those of the attributes before it in
// `values`.
struct EntryView {
  std::string_view dn;
  std::span<const std::string_view> names;
  std::span<const uint32_t> counts;
  std::span<const std::string_view> values;
};

// A copy of the entry `view` shows.
Entry EntryOf(const EntryView& view);

enum class Scope { kBase, kOneLevel, kSubtree };

class Client;

// A search sent ahead of need (Client::Send), so that the server works on
// it while the caller does other things; Client::Finish reads it. Letting
// it go unfinished abandons it on the server. It must not outlive its
// Client.
class PendingSearch {
 public:
  ~PendingSearch();
  PendingSearch(const PendingSearch&) = delete;
  PendingSearch& operator=(const PendingSearch&) = delete;

 private:
  friend class Client;
  PendingSearch() = default;

  Client* client_ = nullptr;
  std::string base_;
  std::string filter_;
  Scope scope_ = Scope::kSubtree;
  std::vector<std::string> attributes_;
  int msgid_ = -1;                   // the request; -1 once finished
  struct ldapmsg* chain_ = nullptr;  // its whole reply, once Ready took it in
};

class Client {
 public:
  // Opens a connection to options.url, LDAPv3, referrals not chased,
  // StartTLS first when options.start_tls, then a simple bind as
  // options.bind_dn (anonymous when it is empty). libldap's own
  // configuration (ldap.conf, .ldaprc) applies as for ldapsearch.
  // Connecting, TLS, StartTLS and the bind together give up after
  // options.timeout_seconds; every later wait for a reply does too.
  // Ignores SIGPIPE for the process when it still has its default action:
  // a write to a server that went away must fail the call, not end the
  // program.
  // Throws ConnectError with one line naming options.url, what failed and
  // libldap's message (plus the server's diagnostic when it sent one):
  // "Invalid credentials", "Can't contact LDAP server", "Timed out", a TLS
  // fault. The password never appears in it.
  static std::unique_ptr<Client> Connect(const ServerOptions& options);

  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  const std::string& url() const { return url_; }

  // Searches under `base` with `filter`, sent as given (the caller hands a
  // strict RFC 4515 filter), asking only for `attributes` (all user
  // attributes when empty). Each entry goes to `each` as it arrives, in the
  // server's order; the result is never held whole. Pages of 1,000 entries
  // (RFC 2696) are asked for until the server's cookie is empty, so the
  // server's size limit does not cut the result short; a base scope search
  // is one request. An attribute the server sends in ranges
  // ("member;range=0-1499") is read to its end and given under its plain
  // name. Search references (referrals) are skipped.
  // Throws PlatformError as in the file comment; the entries that came
  // before the failure have been given to `each`. An exception from `each`
  // abandons the search and leaves the Client usable. `each` may itself
  // call this Client (a read of a group's members while its groups come).
  void Search(std::string_view base, Scope scope, std::string_view filter,
              const std::vector<std::string>& attributes, const std::function<void(Entry&&)>& each);

  // Search, each entry given as a view into the reply: a caller that copies
  // what it keeps spares a copy of every name and value.
  void SearchViews(std::string_view base, Scope scope, std::string_view filter,
                   const std::vector<std::string>& attributes,
                   const std::function<void(const EntryView&)>& each);

  // Sends the search Search would make, without waiting for a reply, and
  // unpaged (a server may keep one paged search a connection, OpenLDAP
  // does); nullptr when it cannot be sent (the connection is
  // lost, a NUL in the base or filter, an empty filter, libldap refuses
  // it): nothing is thrown, so that a search sent only in case it is
  // needed never fails the caller; the search made when it is needed
  // meets the fault itself.
  std::unique_ptr<PendingSearch> Send(std::string_view base, Scope scope, std::string_view filter,
                                      const std::vector<std::string>& attributes);

  // True when the whole reply to `search` is in, so that Finish reads it
  // without waiting. Never waits and never throws:
  // false on any fault, which Finish then meets.
  bool Ready(PendingSearch& search);

  // Gives the entries of `search` to `each`, as Search does for the same
  // search (and throws as it does), though perhaps in another order (a
  // server may order an unpaged search otherwise): once its whole reply is
  // in (each reply waited for as Search waits), and when the server cut it
  // at its size limit, by making that search paged instead. A search is
  // finished at most once; an exception leaves it finished (abandoned on
  // the server).
  void Finish(PendingSearch& search, const std::function<void(Entry&&)>& each);
  // Finish, each entry given as a view (see SearchViews).
  void FinishViews(PendingSearch& search, const std::function<void(const EntryView&)>& each);

  // Reads the objects named by `dns` (base searches, `attributes` as for
  // Search), many requests in flight at once. Result i is for dns[i]:
  // std::nullopt when the server has no such object (or the text is not a
  // DN, or names an object held elsewhere). Throws PlatformError as in the
  // file comment for every other failure, and then gives nothing.
  std::vector<std::optional<Entry>> ReadMany(const std::vector<std::string>& dns,
                                             const std::vector<std::string>& attributes);

  // The server's root DSE (base "", scope base, "(objectClass=*)"). Its
  // operational attributes (namingContexts, rootDomainNamingContext, ...)
  // come only when named in `attributes`. An entry with an empty DN and no
  // attributes when the server hides it. Throws as Search.
  Entry ReadRootDse(const std::vector<std::string>& attributes);

 private:
  Client(struct ldap* ld, std::string url, int timeout_seconds);

  friend class PendingSearch;

  // Reads the next ranges of an attribute on this connection.
  std::function<std::vector<Attribute>(const std::string&, const std::string&)> RangeReader();

  // Sends one page request of a search (cookie empty for the first), or
  // the whole search unpaged; gives its message id. Throws as Search.
  int SendPage(const std::string& base, Scope scope, const std::string& filter,
               const std::vector<std::string>& attributes, const std::string& cookie, bool paged);
  // Reads the replies to page request `msgid`, gives its entries to
  // `each` as they come and sets `cookie` to the server's, empty when
  // there is no further page. Throws as Search.
  void ReadPage(int msgid, bool paged, std::string& cookie,
                const std::function<void(const EntryView&)>& each);

  struct ldap* ld_;
  std::string url_;
  int timeout_seconds_;
  bool lost_ = false;  // see the file comment: set once, never cleared
};

// Attribute range retrieval, apart from the connection so that it can be
// tested without a server that uses it.

// An attribute description with a range option: "member;range=0-1499" is
// {"member", 0, 1499}; "member;range=1500-*" has no high (the last range).
// Other options are kept in `name` ("member;binary;range=0-9" gives
// "member;binary").
struct RangedName {
  std::string name;
  uint64_t low = 0;
  std::optional<uint64_t> high;
};

// The range of an attribute description; std::nullopt when it has no range
// option or the option is not "range=<low>-<high or *>" with decimal bounds
// and low <= high.
std::optional<RangedName> ParseRangedName(std::string_view description);

// Gives the attributes of a base read of `dn` that asks only for
// `request` ("member;range=1500-*").
using RangeFetch =
    std::function<std::vector<Attribute>(const std::string& dn, const std::string& request)>;

// Replaces every ranged attribute of `entry` by all its values under its
// plain name, asking `fetch` for each next range (from the last high + 1,
// open-ended) until the server gives a range ending in "*". Throws
// PlatformError(kBadCommand) when a reply leaves the attribute out or does
// not go on where the last range ended: the values would be incomplete.
void CompleteRangedAttributes(Entry& entry, const RangeFetch& fetch);

}  // namespace platform::ldap

#endif  // TARNWICK_PLATFORM_LDAP_LDAP_CLIENT_H_
