#include "platform/ldap/ldap_directory.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <limits>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/dn.h"
#include "platform/error.h"
#include "platform/ldap/connection_options.h"
#include "platform/ldap/ldap_client.h"
#include "platform/ldap/ldap_record.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace platform::ldap {
namespace {

// The attribute types objects are named by, where resolution looks for an
// RDN value, and what "name" means outside Active Directory (which alone
// stores the RDN value as "name").
constexpr std::string_view kRdnTypes[] = {"cn", "ou", "o", "dc", "l", "uid"};

// How many member entries one search (or one batch of pipelined reads)
// asks for. A server tests every candidate against every term of the
// batch's OR, so its work grows with the square of the batch: 50 cost
// slapd less than half the CPU of 200 for a 10,000-person walk.
constexpr size_t kMemberBatch = 50;

std::unique_ptr<LdapRecord> RecordOf(Entry&& entry) {
  return std::make_unique<LdapRecord>(std::move(entry.dn), std::move(entry.attributes));
}

std::unique_ptr<LdapRecord> RecordOf(const EntryView& entry) {
  return std::make_unique<LdapRecord>(entry);
}

ServerOptions OptionsFor(const ServerDirectorySettings& settings, const EnvGetter& environment,
                         const WarningSink& warn) {
  ProfileLdapKeys keys;
  keys.bind_dn = settings.bind_dn;
  keys.password_file = settings.password_file;
  keys.start_tls = settings.start_tls;
  keys.timeout_seconds = settings.timeout_seconds;
  return ResolveOptions(settings.url, &keys, environment, warn);
}

// What the book reads of an object: the book's attributes but "member",
// which only a list's Members needs (and which may hold a great many
// values), and "distinguishedName", which falls back to the DN.
std::vector<std::string> BookAttributeList() {
  std::vector<std::string> list;
  for (const std::string_view name : BookAttributeNames()) {
    if (!text::AsciiEqualsNoCase(name, "distinguishedName") &&
        !text::AsciiEqualsNoCase(name, "member")) {
      list.emplace_back(name);
    }
  }
  return list;
}

std::vector<std::string> WithMember(std::vector<std::string> list) {
  list.emplace_back("member");
  return list;
}

// How many member searches LookAhead keeps out at once, and how many
// answers it holds that the walk has not asked for yet.
constexpr size_t kAheadInFlight = 8;
constexpr size_t kAheadHeld = 256;

// Thrown from a search's callback to end it once enough was seen.
struct EnoughFound {};

// What one connection serves: the client, and the naming contexts read
// from the root DSE at logon.
struct Server {
  std::unique_ptr<Client> client;
  std::string url;
  std::string root;  // the forest root, "" when none is known
  ServerDialect dialect;
};

// The base of a search the command gives without a DN: the forest root,
// which a server needs where a file needs none.
std::string SearchBase(const Server& server, const std::string& base_dn) {
  return base_dn.empty() ? server.root : base_dn;
}

class LdapDirectorySearch final : public DirectorySearch {
 public:
  explicit LdapDirectorySearch(std::shared_ptr<Server> server) : server_(std::move(server)) {}

  std::shared_ptr<const DirRecord> Find(std::string_view dn) const override {
    auto found = server_->client->ReadMany({std::string(dn)}, {});
    if (found.empty() || !found.front()) return nullptr;
    // The path's DN, not the server's: a server writes DN attribute types
    // in its own schema's case, and a bound object reports the path it was
    // bound with.
    found.front()->dn = std::string(dn);
    return std::shared_ptr<const DirRecord>(RecordOf(std::move(*found.front())));
  }

  Rows Search(const DirectoryCommand& command, const ldapfilter::Filter& filter) const override {
    Rows result;
    if (command.scope == SearchScope::kBase && command.base_dn.empty()) return result;
    std::vector<std::string> attributes;
    for (const std::string& attribute : command.attributes) {
      // ADsPath is made of the DN; "name" is the RDN value (see
      // ldap_record.h); neither is asked of the server.
      if (text::AsciiEqualsNoCase(attribute, "ADsPath") ||
          text::AsciiEqualsNoCase(attribute, "name")) {
        continue;
      }
      attributes.push_back(attribute);
    }
    // Asking for no attribute means all of them; "1.1" asks for none.
    if (attributes.empty()) attributes.emplace_back("1.1");
    auto records = std::make_shared<std::vector<std::unique_ptr<LdapRecord>>>();
    const Scope scope = command.scope == SearchScope::kBase       ? Scope::kBase
                        : command.scope == SearchScope::kOneLevel ? Scope::kOneLevel
                                                                  : Scope::kSubtree;
    server_->client->SearchViews(
        SearchBase(*server_, command.base_dn), scope, ServerFilter(filter, server_->dialect),
        attributes, [&](const EntryView& entry) { records->push_back(RecordOf(entry)); });
    result.rows.reserve(records->size());
    for (const auto& record : *records) result.rows.push_back(record.get());
    result.keep = std::move(records);
    return result;
  }

 private:
  std::shared_ptr<Server> server_;
};

// The book over searches. Entries are kept once met, so a position handed
// out stays valid and names the same entry for the life of the book.
class LdapAddressBook final : public AddressBook {
 public:
  explicit LdapAddressBook(std::shared_ptr<Server> server)
      : server_(std::move(server)),
        attributes_(BookAttributeList()),
        member_attributes_(WithMember(attributes_)) {}

  size_t size() const override { return WholeBook().size(); }
  uint32_t NthEntry(size_t n) const override { return WholeBook()[n]; }
  const BookEntry& entry(uint32_t index) const override { return entries_[index].entry; }

  std::optional<uint32_t> ByODN(std::string_view odn) const override {
    if (odn.empty()) return std::nullopt;
    const std::string lowered = text::LCase(odn);
    // Indexed here rather than as entries are kept: most runs never look
    // up an ODN, and lower-casing every entry met costs a walk 4%.
    for (; odn_indexed_ < entries_.size(); ++odn_indexed_) {
      by_odn_.emplace(text::LCase(entries_[odn_indexed_].entry.odn),
                      static_cast<uint32_t>(odn_indexed_));
    }
    if (const auto it = by_odn_.find(lowered); it != by_odn_.end()) return it->second;
    const auto found =
        SearchBook("(legacyExchangeDN=" + ldapfilter::EscapeValue(odn) + ")", 1,
                   [&](const BookEntry& entry) { return text::LCase(entry.odn) == lowered; });
    if (found.empty()) return std::nullopt;
    return found.front();
  }

  std::vector<uint32_t> Members(const EntryRef& ref) const override {
    std::vector<uint32_t> members;
    if (ref.one_off()) return members;
    const Held& held = entries_[ref.index];
    const std::string list_dn(held.entry.object->Dn());
    const std::string list_key(held.record->DnKey());
    asked_.insert(list_key);
    // What was sent ahead and has come in since the last call is taken in
    // now, and more is sent, so that the server works while this waits.
    LookAhead();
    // The member values: views into the list's record, or into `read`.
    std::vector<std::string_view> dns;
    std::optional<Entry> read;
    if (held.has_members) {
      // Fetched as a member of another list, with all its member values.
      const auto values = held.record->Values("member");
      dns.assign(values.begin(), values.end());
    } else {
      // The list's member values, read now (in ranges where the server
      // sends them so) rather than with every book entry.
      auto list = server_->client->ReadMany({list_dn}, {"member"});
      if (list.empty() || !list.front()) return members;
      read = std::move(list.front());
      for (const auto& attribute : read->attributes) {
        if (!text::AsciiEqualsNoCase(attribute.name, "member")) continue;
        dns.insert(dns.end(), attribute.values.begin(), attribute.values.end());
      }
    }
    std::vector<std::optional<uint32_t>> found(dns.size());
    std::vector<size_t> missing;
    std::vector<std::string> keys(dns.size());
    for (size_t i = 0; i < dns.size(); ++i) {
      keys[i] = platform::DnKey(dns[i]);
      if (const auto it = by_dn_key_.find(keys[i]); it != by_dn_key_.end()) {
        found[i] = it->second;
      } else if (outside_.count(keys[i]) == 0) {
        missing.push_back(i);
      }
    }
    // The back-link search answers for all members at once; it pays when
    // most of them are still to be fetched (it brings the known ones too).
    bool unanswered = false;
    if (memberof_ && missing.size() * 2 > dns.size()) {
      missing = FetchByMemberOf(list_key, list_dn, keys, missing, found, unanswered);
    }
    // Sent ahead, but not needed after all.
    if (const auto ahead = ahead_.find(list_key); ahead != ahead_.end()) {
      if (ahead->second.search) --in_flight_;
      ahead_.erase(ahead);
    }
    FetchMembers(dns, keys, missing, found);
    if (unanswered) {
      for (const size_t i : missing) {
        if (found[i]) memberof_ = false;
      }
    }
    // The walk goes on with the lists among these members, first first:
    // they are sent ahead before any list found further on.
    std::vector<std::pair<std::string, std::string>> sublists;
    for (const auto& index : found) {
      if (!index) continue;
      members.push_back(*index);
      const Held& member = entries_[*index];
      if (member.has_members && !member.record->Values("member").empty()) {
        sublists.emplace_back(member.record->DnKey(), member.record->Dn());
      }
    }
    for (auto it = sublists.rbegin(); it != sublists.rend(); ++it) {
      waiting_.push_front(std::move(*it));
    }
    LookAhead();
    return members;
  }

 protected:
  std::vector<uint32_t> MatchAddress(std::string_view address, size_t limit) const override {
    const std::string escaped = ldapfilter::EscapeValue(address);
    const std::string wanted = text::LCase(address);
    return SearchBook(
        "(|(mail=" + escaped + ")(proxyAddresses=smtp:" + escaped + "))", limit,
        [&](const BookEntry& entry) {
          const DirRecord& object = *entry.object;
          for (const std::string_view mail : object.Values("mail")) {
            if (text::LCase(mail) == wanted) return true;
          }
          for (const std::string_view proxy : object.Values("proxyAddresses")) {
            if (text::StartsWithNoCase(proxy, "smtp:") && text::LCase(proxy.substr(5)) == wanted) {
              return true;
            }
          }
          return false;
        });
  }

  std::vector<uint32_t> MatchName(std::string_view lowered, size_t limit) const override {
    const std::string escaped = ldapfilter::EscapeValue(lowered);
    std::string filter = "(|(displayName=" + escaped + ")(mailNickname=" + escaped + ")";
    for (const std::string_view type : kRdnTypes) {
      filter += "(" + std::string(type) + "=" + escaped + ")";
    }
    filter += ")";
    // The server's matching is a superset: a cn that is not the RDN, or a
    // second value, must not count.
    return SearchBook(filter, limit, [&](const BookEntry& entry) {
      const DirRecord& object = *entry.object;
      return text::LCase(object.First("displayName")) == lowered ||
             text::LCase(object.First("mailNickname")) == lowered ||
             text::LCase(object.RdnValue()) == lowered;
    });
  }

  std::vector<uint32_t> MatchNamePrefix(std::string_view lowered, size_t limit) const override {
    constexpr const char* kPrefixed[] = {"displayName", "givenName", "sn", "mailNickname"};
    const std::string escaped = ldapfilter::EscapeValue(lowered);
    std::string filter = "(|";
    for (const char* attribute : kPrefixed) {
      filter += std::string("(") + attribute + "=" + escaped + "*)";
    }
    filter += ")";
    return SearchBook(filter, limit, [&](const BookEntry& entry) {
      for (const char* attribute : kPrefixed) {
        if (text::StartsWith(text::LCase(entry.object->First(attribute)), lowered)) return true;
      }
      return false;
    });
  }

 private:
  struct Held {
    std::unique_ptr<LdapRecord> record;
    BookEntry entry;
    // The record holds every member value (it came from a search that
    // asked for them), so Members needs no read of its own.
    bool has_members = false;
  };

  // Finds, with one indexed search "(memberOf=<list DN>)", the members
  // keys[i] for i in `missing` that the server lists as back-linked to
  // the list, and sets found[i] for those in the book (the others are
  // remembered as outside it). Gives the positions of `missing` the answer
  // did not hold (a dangling value, an object outside the forest, a server
  // that keeps no back-link), for the batch path. The answer comes in the
  // server's order: it is indexed by DN and taken in member order, and an
  // object it holds that no member value names (a stale back-link) is
  // ignored: the member values alone say who belongs. `unanswered` is set
  // when the server gave no entry at all. A server that refuses the search
  // is not asked so again, and all of `missing` is given back.
  std::vector<size_t> FetchByMemberOf(const std::string& list_key, const std::string& list_dn,
                                      const std::vector<std::string>& keys,
                                      const std::vector<size_t>& missing,
                                      std::vector<std::optional<uint32_t>>& found,
                                      bool& unanswered) const {
    std::unordered_map<std::string_view, std::unique_ptr<LdapRecord>> answer;
    std::unordered_set<std::string_view> wanted;
    for (const size_t i : missing) wanted.insert(keys[i]);
    size_t answered = 0;
    const auto take = [&](std::unique_ptr<LdapRecord> record) {
      ++answered;
      const auto it = wanted.find(record->DnKey());
      if (it == wanted.end()) return;
      answer.emplace(*it, std::move(record));
    };
    try {
      if (const auto ahead = ahead_.find(list_key); ahead != ahead_.end()) {
        // Sent ahead: the answer taken in already, or read now.
        Ahead sent = std::move(ahead->second);
        ahead_.erase(ahead);
        if (sent.search) {
          --in_flight_;
          server_->client->FinishViews(*sent.search,
                                       [&](const EntryView& entry) { take(RecordOf(entry)); });
        } else {
          for (auto& record : sent.records) take(std::move(record));
        }
      } else {
        server_->client->SearchViews(server_->root, Scope::kSubtree, MemberOfFilter(list_dn),
                                     member_attributes_,
                                     [&](const EntryView& entry) { take(RecordOf(entry)); });
      }
    } catch (const PlatformError& error) {
      // A server that refuses the filter (one that does not know memberOf
      // may) is asked as one without back-links: the batch path meets any
      // fault that is not the filter's. A lost connection is the run's.
      if (error.number() == errnum::kServerNotOperational) throw;
      memberof_ = false;
      return missing;
    }
    std::vector<size_t> rest;
    for (const size_t i : missing) {
      if (const auto it = by_dn_key_.find(keys[i]); it != by_dn_key_.end()) {
        found[i] = it->second;  // a repeated member value, kept just above
        continue;
      }
      const auto it = answer.find(keys[i]);
      if (it == answer.end()) {
        if (outside_.count(keys[i]) == 0) rest.push_back(i);
        continue;
      }
      found[i] = Keep(std::move(it->second), true);
      if (!found[i]) outside_.insert(keys[i]);
      answer.erase(it);
    }
    unanswered = answered == 0;
    return rest;
  }

  // The back-link search for a list's members.
  static std::string MemberOfFilter(std::string_view list_dn) {
    return "(memberOf=" + ldapfilter::EscapeValue(list_dn) + ")";
  }

  // Sends ahead the member searches of lists the walk is likely to expand
  // next, and takes in the answers that have come, so that the server
  // works (on its own cores) while the walk logs what it has. Lists wait in
  // waiting_ (DN key, DN), the next one first: those found among the
  // members of a list just expanded go to the front, those found in
  // answers taken in ahead to the back. At most kAheadInFlight are sent
  // and not yet taken in, and at most kAheadHeld answers are held, so a
  // list never expanded cannot pile them up. Nothing here waits or throws:
  // a search that fails is dropped, and the walk's own search for that
  // list meets the fault when it needs the answer.
  void LookAhead() const {
    if (!memberof_) {
      ahead_.clear();
      waiting_.clear();
      in_flight_ = 0;
      return;
    }
    for (auto it = ahead_.begin(); it != ahead_.end();) {
      Ahead& sent = it->second;
      if (!sent.search || !server_->client->Ready(*sent.search)) {
        ++it;
        continue;
      }
      --in_flight_;
      const std::unique_ptr<PendingSearch> search = std::move(sent.search);
      try {
        server_->client->FinishViews(
            *search, [&](const EntryView& entry) { sent.records.push_back(RecordOf(entry)); });
      } catch (const PlatformError&) {
        it = ahead_.erase(it);
        continue;
      }
      for (const auto& record : sent.records) {
        if (record->Values("member").empty() || asked_.count(std::string(record->DnKey())) != 0) {
          continue;
        }
        waiting_.emplace_back(record->DnKey(), record->Dn());
      }
      ++it;
    }
    while (in_flight_ < kAheadInFlight && ahead_.size() < kAheadHeld && !waiting_.empty()) {
      auto [key, dn] = std::move(waiting_.front());
      waiting_.pop_front();
      if (!asked_.insert(key).second) continue;
      auto search = server_->client->Send(server_->root, Scope::kSubtree, MemberOfFilter(dn),
                                          member_attributes_);
      if (!search) continue;
      ++in_flight_;
      ahead_[key].search = std::move(search);
    }
  }

  // Finds the member entries dns[i] for i in `missing` and sets found[i]
  // for those in the book; the others are remembered as outside it. One
  // request per member would cost the server more than the whole walk
  // costs here, so members are asked for by their RDN values, many in one
  // paged search on an attribute the server indexes ("(|(cn=a)(cn=b)...)"),
  // and the answers kept by DN; a value that also names other objects only
  // brings them along. A DN this cannot ask for so (a binary RDN value,
  // one outside the forest root) is read by itself.
  void FetchMembers(const std::vector<std::string_view>& dns, const std::vector<std::string>& keys,
                    const std::vector<size_t>& missing,
                    std::vector<std::optional<uint32_t>>& found) const {
    const std::string root_key = platform::DnKey(server_->root);
    std::unordered_map<std::string, std::vector<size_t>> wanted;        // DN key -> positions
    std::unordered_map<std::string, std::vector<std::string>> by_type;  // RDN type -> items
    std::vector<size_t> alone;
    for (const size_t i : missing) {
      const std::string& key = keys[i];
      const auto rdns = ParseDn(dns[i]);
      if (!rdns || rdns->empty() || rdns->front().front().binary || !DnLevelsBelow(key, root_key)) {
        alone.push_back(i);
        continue;
      }
      auto& positions = wanted[key];
      if (positions.empty()) {
        const DnAva& first = rdns->front().front();
        by_type[text::LCase(first.type)].push_back("(" + first.type + "=" +
                                                   ldapfilter::EscapeValue(first.value) + ")");
      }
      positions.push_back(i);
    }
    for (const auto& [type, items] : by_type) {
      for (size_t start = 0; start < items.size(); start += kMemberBatch) {
        std::string filter = "(&(legacyExchangeDN=*)(|";
        for (size_t k = start; k < std::min(items.size(), start + kMemberBatch); ++k) {
          filter += items[k];
        }
        filter += "))";
        server_->client->SearchViews(server_->root, Scope::kSubtree, filter, member_attributes_,
                                     [&](const EntryView& entry) {
                                       auto record = RecordOf(entry);
                                       const auto it = wanted.find(std::string(record->DnKey()));
                                       if (it == wanted.end()) return;
                                       const auto index = Keep(std::move(record), true);
                                       for (const size_t i : it->second) found[i] = index;
                                     });
      }
    }
    for (const auto& [key, positions] : wanted) {
      if (!found[positions.front()]) outside_.insert(key);
    }
    for (size_t start = 0; start < alone.size(); start += kMemberBatch) {
      const size_t end = std::min(alone.size(), start + kMemberBatch);
      std::vector<std::string> batch;
      for (size_t k = start; k < end; ++k) batch.emplace_back(dns[alone[k]]);
      auto read = server_->client->ReadMany(batch, member_attributes_);
      for (size_t k = start; k < end; ++k) {
        auto& entry = read[k - start];
        if (entry) found[alone[k]] = Keep(RecordOf(std::move(*entry)), true);
        if (!found[alone[k]]) outside_.insert(platform::DnKey(dns[alone[k]]));
      }
    }
  }

  // Keeps an object met in a search; its book position, or std::nullopt
  // when it is not in the book. An object met before keeps its position
  // (and its record). `has_members`: the search asked for "member".
  std::optional<uint32_t> Keep(std::unique_ptr<LdapRecord> record, bool has_members = false) const {
    // The key is the record's own: records are kept for the life of the
    // book, so the map's views stay valid.
    const std::string_view key = record->DnKey();
    if (const auto it = by_dn_key_.find(key); it != by_dn_key_.end()) return it->second;
    const std::optional<BookEntry> entry = MakeBookEntry(*record, BookAttributesOf(*record));
    if (!entry) return std::nullopt;
    const auto index = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Held{std::move(record), *entry, has_members});
    by_dn_key_.emplace(key, index);
    return index;
  }

  // The book entries the filter matches on the server and `accept` takes,
  // in the server's order, without repeats; the search ends once `limit`
  // are found. Only objects with a legacyExchangeDN are asked for; hidden
  // ones are left out by the book's rules.
  std::vector<uint32_t> SearchBook(const std::string& filter, size_t limit,
                                   const std::function<bool(const BookEntry&)>& accept) const {
    std::vector<uint32_t> found;
    std::unordered_set<uint32_t> seen;
    try {
      server_->client->SearchViews(
          server_->root, Scope::kSubtree, "(&(legacyExchangeDN=*)" + filter + ")", attributes_,
          [&](const EntryView& entry) {
            const auto index = Keep(RecordOf(entry));
            // A set, not a scan of `found`: the whole book
            // comes through here.
            if (!index || !accept(entries_[*index].entry) || !seen.insert(*index).second) {
              return;
            }
            found.push_back(*index);
            if (found.size() >= limit) throw EnoughFound{};
          });
    } catch (const EnoughFound&) {
    }
    return found;
  }

  // The positions of the whole book in the server's order, read once when
  // a caller asks for the whole book.
  const std::vector<uint32_t>& WholeBook() const {
    if (!whole_book_) {
      whole_book_ = SearchBook("(objectClass=*)", std::numeric_limits<size_t>::max(),
                               [](const BookEntry&) { return true; });
    }
    return *whole_book_;
  }

  std::shared_ptr<Server> server_;
  const std::vector<std::string> attributes_;
  // attributes_ and "member": what member fetches ask for, so that a list
  // met as a member needs no read of its values when it is expanded.
  const std::vector<std::string> member_attributes_;
  // The server may keep memberOf back-links; cleared once it shows it
  // does not.
  mutable bool memberof_ = true;
  // Member searches sent ahead of the walk (LookAhead), by list DN key:
  // the search while it is out, then its answer. Declared after server_,
  // so that they go (and are abandoned) before the connection.
  struct Ahead {
    std::unique_ptr<PendingSearch> search;
    std::vector<std::unique_ptr<LdapRecord>> records;
  };
  mutable std::unordered_map<std::string, Ahead> ahead_;
  mutable std::deque<std::pair<std::string, std::string>> waiting_;
  // DN keys of lists expanded or sent ahead: never sent (again).
  mutable std::unordered_set<std::string> asked_;
  mutable size_t in_flight_ = 0;
  // A deque, so that entries (and the views into their records) never move.
  mutable std::deque<Held> entries_;
  mutable std::unordered_map<std::string_view, uint32_t> by_dn_key_;  // views into records
  mutable std::unordered_map<std::string, uint32_t> by_odn_;  // of entries_[0, odn_indexed_)
  mutable size_t odn_indexed_ = 0;
  mutable std::unordered_set<std::string> outside_;  // DNs known not to be in the book
  mutable std::optional<std::vector<uint32_t>> whole_book_;
};

}  // namespace

namespace {

// Active Directory's class common names put a hyphen between the words of
// the class's display name ("ms-Exch-Dynamic-Distribution-List" for
// msExchDynamicDistributionList); a short name without hyphens may mean
// either spelling.
std::string HyphenatedClassName(std::string_view name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (i > 0 && c >= 'A' && c <= 'Z' && name[i - 1] >= 'a' && name[i - 1] <= 'z') {
      out.push_back('-');
    }
    out.push_back(c);
  }
  return out;
}

bool IsAttributeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == ';' || c == '.';
}

// One simple item of a strict filter: attribute, operator ("=", "~=",
// ">=", "<=") and value, still escaped.
std::string RewriteItem(std::string_view attribute, std::string_view op, std::string_view value,
                        const ServerDialect& dialect) {
  const std::string plain =
      "(" + std::string(attribute) + std::string(op) + std::string(value) + ")";
  if (text::AsciiEqualsNoCase(attribute, "objectCategory") && op == "=" && !value.empty() &&
      value.find('=') == std::string_view::npos && value.find('*') == std::string_view::npos) {
    const std::string schema = "," + ldapfilter::EscapeValue(dialect.schema_naming_context);
    const std::string item =
        "(" + std::string(attribute) + "=CN=" + std::string(value) + schema + ")";
    const std::string hyphenated = HyphenatedClassName(value);
    if (hyphenated == value) return item;
    return "(|" + item + "(" + std::string(attribute) + "=CN=" + hyphenated + schema + "))";
  }
  if (dialect.active_directory) return plain;
  if (text::AsciiEqualsNoCase(attribute, "name")) {
    std::string any = "(|";
    for (const std::string_view type : kRdnTypes) {
      any += "(" + std::string(type) + std::string(op) + std::string(value) + ")";
    }
    return any + ")";
  }
  if (text::AsciiEqualsNoCase(attribute, "distinguishedName") && op == "=") {
    return "(entryDN=" + std::string(value) + ")";
  }
  return plain;
}

}  // namespace

std::string ServerFilter(const ldapfilter::Filter& filter, const ServerDialect& dialect) {
  const std::string strict = filter.ToRfc4515();
  std::string out;
  out.reserve(strict.size());
  size_t i = 0;
  while (i < strict.size()) {
    // In the strict form every item is "(" + attribute + operator + value +
    // ")", with "(", ")", "*" and "\" escaped inside values, so an item
    // starts at any "(" followed by an attribute name, and its value ends
    // at the next ")".
    size_t name_end = i + 1;
    while (strict[i] == '(' && name_end < strict.size() && IsAttributeChar(strict[name_end])) {
      ++name_end;
    }
    if (strict[i] != '(' || name_end == i + 1 || name_end >= strict.size()) {
      out.push_back(strict[i++]);
      continue;
    }
    const std::string_view rest = std::string_view(strict).substr(name_end);
    std::string_view op;
    if (rest.front() == '=') {
      op = "=";
    } else if (rest.size() > 1 && rest[1] == '=' &&
               (rest.front() == '~' || rest.front() == '>' || rest.front() == '<')) {
      op = rest.substr(0, 2);
    }
    const size_t close = strict.find(')', name_end);
    if (op.empty() || close == std::string::npos) {  // an extensible item stays as it is
      out.push_back(strict[i++]);
      continue;
    }
    const size_t value_start = name_end + op.size();
    out += RewriteItem(std::string_view(strict).substr(i + 1, name_end - i - 1), op,
                       std::string_view(strict).substr(value_start, close - value_start), dialect);
    i = close + 1;
  }
  return out;
}

ServerNaming NamingOf(const Entry& root_dse, const std::string& fallback_root) {
  const auto first = [&](std::string_view name) -> std::string {
    for (const auto& attribute : root_dse.attributes) {
      if (text::AsciiEqualsNoCase(attribute.name, name) && !attribute.values.empty()) {
        return attribute.values.front();
      }
    }
    return {};
  };
  ServerNaming naming;
  naming.root = first("rootDomainNamingContext");
  if (naming.root.empty()) naming.root = fallback_root;
  if (naming.root.empty()) naming.root = first("namingContexts");
  naming.dialect.schema_naming_context = first("schemaNamingContext");
  if (naming.dialect.schema_naming_context.empty()) {
    naming.dialect.schema_naming_context = "CN=Schema,CN=Configuration," + naming.root;
  }
  for (const auto& attribute : root_dse.attributes) {
    if (!text::AsciiEqualsNoCase(attribute.name, "supportedCapabilities")) continue;
    for (const std::string& capability : attribute.values) {
      if (capability == "1.2.840.113556.1.4.800") naming.dialect.active_directory = true;
    }
  }
  return naming;
}

ServerDirectory OpenServerDirectory(
    const ServerDirectorySettings& settings,
    const std::function<std::optional<std::string>(const char*)>& environment,
    const std::function<void(const std::string&)>& warn) {
  auto server = std::make_shared<Server>();
  server->url = settings.url;
  try {
    const ServerOptions options = OptionsFor(settings, environment, warn);
    server->client = Client::Connect(options);
  } catch (const ConnectError& e) {
    throw ServerDirectoryError(e.what());
  }
  Entry root_dse;
  try {
    root_dse = server->client->ReadRootDse({"rootDomainNamingContext", "namingContexts",
                                            "schemaNamingContext", "supportedCapabilities"});
  } catch (const PlatformError& e) {
    throw ServerDirectoryError(settings.url + ": cannot read the root DSE: " + e.description());
  }
  const ServerNaming naming = NamingOf(root_dse, settings.root_domain_naming_context);
  server->root = naming.root;
  server->dialect = naming.dialect;
  ServerDirectory directory;
  directory.root_domain_naming_context = server->root;
  directory.search = std::make_unique<LdapDirectorySearch>(server);
  directory.address_book = std::make_unique<LdapAddressBook>(server);
  return directory;
}

ServerDirectory OpenServerDirectory(const ServerDirectorySettings& settings) {
  return OpenServerDirectory(
      settings,
      [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (value == nullptr) return std::nullopt;
        return std::string(value);
      },
      [](const std::string& warning) {
        const auto& process = CurrentRuntime().process;
        if (process) process->ReportError(warning);
      });
}

}  // namespace platform::ldap
