#include "platform/ldap/ldap_directory.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
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

// How many member entries one batch of pipelined reads asks for.
constexpr size_t kMemberBatch = 500;

std::unique_ptr<LdapRecord> RecordOf(Entry&& entry) {
  std::vector<LdapRecord::Attribute> attributes;
  attributes.reserve(entry.attributes.size());
  for (auto& attribute : entry.attributes) {
    attributes.push_back({std::move(attribute.name), std::move(attribute.values)});
  }
  return std::make_unique<LdapRecord>(std::move(entry.dn), std::move(attributes));
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

std::vector<std::string> BookAttributeList() {
  const auto names = BookAttributeNames();
  std::vector<std::string> list;
  for (const std::string_view name : names) {
    // Neither is an attribute a server is asked for: "distinguishedName"
    // falls back to the DN.
    if (!text::AsciiEqualsNoCase(name, "distinguishedName")) list.emplace_back(name);
  }
  return list;
}

// What one connection serves: the client, and the naming contexts read
// from the root DSE at logon.
struct Server {
  std::unique_ptr<Client> client;
  std::string url;
  std::string root;            // the forest root, "" when none is known
  std::string schema_context;  // where objectCategory short names point
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
    server_->client->Search(SearchBase(*server_, command.base_dn), scope,
                            ServerFilter(filter, server_->schema_context), attributes,
                            [&](Entry&& entry) { records->push_back(RecordOf(std::move(entry))); });
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
      : server_(std::move(server)), attributes_(BookAttributeList()) {}

  size_t size() const override { return WholeBook().size(); }
  uint32_t NthEntry(size_t n) const override { return WholeBook()[n]; }

  const BookEntry& entry(uint32_t index) const override { return entries_[index].entry; }

  std::optional<uint32_t> ByODN(std::string_view odn) const override {
    if (odn.empty()) return std::nullopt;
    if (const auto it = by_odn_.find(text::LCase(odn)); it != by_odn_.end()) return it->second;
    const auto found = SearchBook("(legacyExchangeDN=" + ldapfilter::EscapeValue(odn) + ")", 0);
    for (const uint32_t index : found) {
      if (text::LCase(entries_[index].entry.odn) == text::LCase(odn)) return index;
    }
    return std::nullopt;
  }

  std::vector<uint32_t> Members(const EntryRef& ref) const override {
    std::vector<uint32_t> members;
    if (ref.one_off()) return members;
    // Copies: reading members adds entries, which may not move the views
    // but the list's own values are read before the batch anyway.
    const auto values = entries_[ref.index].entry.object->Values("member");
    const std::vector<std::string> dns(values.begin(), values.end());
    std::vector<std::optional<uint32_t>> found(dns.size());
    std::vector<size_t> missing;
    for (size_t i = 0; i < dns.size(); ++i) {
      const auto it = by_dn_key_.find(platform::DnKey(dns[i]));
      if (it != by_dn_key_.end()) {
        found[i] = it->second;
      } else if (outside_.count(platform::DnKey(dns[i])) == 0) {
        missing.push_back(i);
      }
    }
    for (size_t start = 0; start < missing.size(); start += kMemberBatch) {
      const size_t end = std::min(missing.size(), start + kMemberBatch);
      std::vector<std::string> batch;
      for (size_t k = start; k < end; ++k) batch.push_back(dns[missing[k]]);
      auto read = server_->client->ReadMany(batch, attributes_);
      for (size_t k = start; k < end; ++k) {
        auto& entry = read[k - start];
        if (!entry) {
          outside_.insert(platform::DnKey(dns[missing[k]]));
          continue;
        }
        found[missing[k]] = Keep(RecordOf(std::move(*entry)));
        if (!found[missing[k]]) outside_.insert(platform::DnKey(dns[missing[k]]));
      }
    }
    for (const auto& index : found) {
      if (index) members.push_back(*index);
    }
    return members;
  }

 protected:
  std::vector<uint32_t> MatchAddress(std::string_view address, size_t limit) const override {
    const std::string escaped = ldapfilter::EscapeValue(address);
    const auto found =
        SearchBook("(|(mail=" + escaped + ")(proxyAddresses=smtp:" + escaped + "))", limit);
    std::vector<uint32_t> matches;
    const std::string wanted = text::LCase(address);
    for (const uint32_t index : found) {
      const DirRecord& object = *entries_[index].entry.object;
      bool match = false;
      for (const std::string_view mail : object.Values("mail")) {
        match = match || text::LCase(mail) == wanted;
      }
      for (const std::string_view proxy : object.Values("proxyAddresses")) {
        match = match ||
                (text::StartsWithNoCase(proxy, "smtp:") && text::LCase(proxy.substr(5)) == wanted);
      }
      if (match) matches.push_back(index);
    }
    return matches;
  }

  std::vector<uint32_t> MatchName(std::string_view lowered, size_t limit) const override {
    const std::string escaped = ldapfilter::EscapeValue(lowered);
    std::string filter = "(|(displayName=" + escaped + ")(mailNickname=" + escaped + ")";
    // The RDN's attribute differs from object to object; these are the
    // ones objects with mail are named by.
    for (const char* rdn : {"cn", "ou", "o", "uid"}) {
      filter += std::string("(") + rdn + "=" + escaped + ")";
    }
    filter += ")";
    std::vector<uint32_t> matches;
    for (const uint32_t index : SearchBook(filter, 0)) {
      const BookEntry& entry = entries_[index].entry;
      const DirRecord& object = *entry.object;
      if (text::LCase(object.First("displayName")) == lowered ||
          text::LCase(object.First("mailNickname")) == lowered ||
          text::LCase(object.RdnValue()) == lowered) {
        matches.push_back(index);
        if (matches.size() >= limit) break;
      }
    }
    return matches;
  }

  std::vector<uint32_t> MatchNamePrefix(std::string_view lowered, size_t limit) const override {
    const std::string escaped = ldapfilter::EscapeValue(lowered);
    std::string filter = "(|";
    for (const char* attribute : {"displayName", "givenName", "sn", "mailNickname"}) {
      filter += std::string("(") + attribute + "=" + escaped + "*)";
    }
    filter += ")";
    std::vector<uint32_t> matches;
    for (const uint32_t index : SearchBook(filter, 0)) {
      const DirRecord& object = *entries_[index].entry.object;
      bool match = false;
      for (const char* attribute : {"displayName", "givenName", "sn", "mailNickname"}) {
        match = match || text::StartsWith(text::LCase(object.First(attribute)), lowered);
      }
      if (match) {
        matches.push_back(index);
        if (matches.size() >= limit) break;
      }
    }
    return matches;
  }

 private:
  struct Held {
    std::unique_ptr<LdapRecord> record;
    BookEntry entry;
  };

  // Keeps an object met in a search; its book position, or std::nullopt
  // when it is not in the book. An object met before keeps its position.
  std::optional<uint32_t> Keep(std::unique_ptr<LdapRecord> record) const {
    const std::string key(record->DnKey());
    if (const auto it = by_dn_key_.find(key); it != by_dn_key_.end()) return it->second;
    const std::optional<BookEntry> entry = MakeBookEntry(*record, BookAttributesOf(*record));
    if (!entry) return std::nullopt;
    const auto index = static_cast<uint32_t>(entries_.size());
    entries_.push_back(Held{std::move(record), *entry});
    by_dn_key_.emplace(key, index);
    by_odn_.emplace(text::LCase(entry->odn), index);
    return index;
  }

  // The book entries a filter matches, in the server's order, without
  // repeats; at most `limit` when it is not 0. Only objects with a
  // legacyExchangeDN are asked for; the hidden ones are left out here.
  std::vector<uint32_t> SearchBook(const std::string& filter, size_t limit) const {
    std::vector<uint32_t> found;
    server_->client->Search(server_->root, Scope::kSubtree, "(&(legacyExchangeDN=*)" + filter + ")",
                            attributes_, [&](Entry&& entry) {
                              if (limit != 0 && found.size() >= limit) return;
                              if (const auto index = Keep(RecordOf(std::move(entry)))) {
                                if (std::find(found.begin(), found.end(), *index) == found.end()) {
                                  found.push_back(*index);
                                }
                              }
                            });
    return found;
  }

  // The positions of the whole book in the server's order, read once when
  // a caller asks for the whole book's size.
  const std::vector<uint32_t>& WholeBook() const {
    if (!whole_book_) whole_book_ = SearchBook("(objectClass=*)", 0);
    return *whole_book_;
  }

  std::shared_ptr<Server> server_;
  const std::vector<std::string> attributes_;
  // A deque, so that entries (and the views into their records) never move.
  mutable std::deque<Held> entries_;
  mutable std::unordered_map<std::string, uint32_t> by_dn_key_;
  mutable std::unordered_map<std::string, uint32_t> by_odn_;
  mutable std::unordered_set<std::string> outside_;  // DNs known not to be in the book
  mutable std::optional<std::vector<uint32_t>> whole_book_;
};

}  // namespace

std::string ServerFilter(const ldapfilter::Filter& filter,
                         const std::string& schema_naming_context) {
  const std::string strict = filter.ToRfc4515();
  std::string out;
  out.reserve(strict.size());
  constexpr std::string_view kCategory = "objectCategory=";
  size_t i = 0;
  while (i < strict.size()) {
    // In the strict form every item is "(" + attribute + operator + value +
    // ")", with "(", ")", "*" and "\" escaped inside values, so an item
    // starts at any "(" followed by an attribute name.
    const bool item_start =
        strict[i] == '(' && i + 1 < strict.size() &&
        text::StartsWithNoCase(std::string_view(strict).substr(i + 1), kCategory);
    if (!item_start) {
      out.push_back(strict[i++]);
      continue;
    }
    const size_t value_start = i + 1 + kCategory.size();
    const size_t close = strict.find(')', value_start);
    const std::string_view value =
        std::string_view(strict).substr(value_start, close - value_start);
    out.append(strict, i, value_start - i);
    if (value.find('=') == std::string_view::npos && value.find('*') == std::string_view::npos &&
        !value.empty()) {
      out += "CN=";
      out += value;
      out += ",";
      out += ldapfilter::EscapeValue(schema_naming_context);
    } else {
      out += value;
    }
    i = close;
  }
  return out;
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
    root_dse = server->client->ReadRootDse(
        {"rootDomainNamingContext", "namingContexts", "schemaNamingContext"});
  } catch (const PlatformError& e) {
    throw ServerDirectoryError(settings.url + ": cannot read the root DSE: " + e.description());
  }
  const auto first = [&](std::string_view name) -> std::string {
    for (const auto& attribute : root_dse.attributes) {
      if (text::AsciiEqualsNoCase(attribute.name, name) && !attribute.values.empty()) {
        return attribute.values.front();
      }
    }
    return {};
  };
  server->root = first("rootDomainNamingContext");
  if (server->root.empty()) server->root = settings.root_domain_naming_context;
  if (server->root.empty()) server->root = first("namingContexts");
  server->schema_context = first("schemaNamingContext");
  if (server->schema_context.empty()) {
    server->schema_context = "CN=Schema,CN=Configuration," + server->root;
  }
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
