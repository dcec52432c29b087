#include "platform/ldap/ldap_client.h"

#include <ldap.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "platform/error.h"
#include "platform/ldap/message_text.h"

namespace platform::ldap {
namespace {

constexpr int kPageSize = 1000;
// Base reads in flight at once in ReadMany: enough to hide the round trip,
// few enough that the server's per-connection queue is not flooded.
constexpr size_t kReadWindow = 64;
constexpr char kAnyObject[] = "(objectClass=*)";

bool IsLostConnection(int rc) {
  return rc == LDAP_SERVER_DOWN || rc == LDAP_UNAVAILABLE || rc == LDAP_CONNECT_ERROR ||
         rc == LDAP_TIMEOUT || rc == LDAP_BUSY;
}

bool IsMissingObject(int rc) {
  return rc == LDAP_NO_SUCH_OBJECT || rc == LDAP_REFERRAL || rc == LDAP_INVALID_DN_SYNTAX;
}

bool IsRefusedFilter(int rc) {
  return rc == LDAP_FILTER_ERROR || rc == LDAP_PROTOCOL_ERROR ||
         rc == LDAP_INAPPROPRIATE_MATCHING || rc == LDAP_UNWILLING_TO_PERFORM;
}

int ToLdapScope(Scope scope) {
  switch (scope) {
    case Scope::kBase:
      return LDAP_SCOPE_BASE;
    case Scope::kOneLevel:
      return LDAP_SCOPE_ONELEVEL;
    case Scope::kSubtree:
      break;
  }
  return LDAP_SCOPE_SUBTREE;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The NULL-terminated attribute list libldap takes; NULL for "all user
// attributes".
class AttributeList {
 public:
  explicit AttributeList(const std::vector<std::string>& names) {
    for (const std::string& name : names) pointers_.push_back(const_cast<char*>(name.c_str()));
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.size() == 1 ? nullptr : pointers_.data(); }

 private:
  std::vector<char*> pointers_;
};

struct MessageFree {
  void operator()(LDAPMessage* message) const { ldap_msgfree(message); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, MessageFree>;

// Removes every occurrence of the password from a server's diagnostic
// before it goes into an error line: it is the one part of the line that
// is not ours, and a server could echo what it was sent.
std::string WithoutPassword(std::string text, const std::string& password) {
  if (password.empty()) return text;
  for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at)) {
    text.replace(at, password.size(), "***");
    at += 3;
  }
  return text;
}

std::string DiagnosticOf(LDAP* ld) {
  char* diagnostic = nullptr;
  std::string text;
  if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
      diagnostic != nullptr) {
    text = diagnostic;
    ldap_memfree(diagnostic);
  }
  return text;
}

int ResultCodeOf(LDAP* ld) {
  int rc = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
  return rc;
}

}  // namespace

Entry EntryOf(const EntryView& view) {
  Entry entry;
  entry.dn = std::string(view.dn);
  entry.attributes.reserve(view.names.size());
  size_t next = 0;
  for (size_t i = 0; i < view.names.size(); ++i) {
    Attribute& attribute = entry.attributes.emplace_back();
    attribute.name = std::string(view.names[i]);
    attribute.values.reserve(view.counts[i]);
    for (uint32_t k = 0; k < view.counts[i]; ++k)
      attribute.values.emplace_back(view.values[next++]);
  }
  return entry;
}

// ---------------------------------------------------------------------------
// Ranges.

std::optional<RangedName> ParseRangedName(std::string_view description) {
  size_t start = description.find(';');
  while (start != std::string_view::npos) {
    const size_t end = description.find(';', start + 1);
    const std::string_view option = description.substr(
        start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
    constexpr std::string_view kRange = "range=";
    if (option.size() > kRange.size() &&
        EqualsAsciiNoCase(option.substr(0, kRange.size()), kRange)) {
      const std::string_view bounds = option.substr(kRange.size());
      const size_t dash = bounds.find('-');
      if (dash == std::string_view::npos) return std::nullopt;
      const std::string_view low_text = bounds.substr(0, dash);
      const std::string_view high_text = bounds.substr(dash + 1);
      RangedName ranged;
      auto parse = [](std::string_view text, uint64_t& out) {
        if (text.empty()) return false;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
        return ec == std::errc() && ptr == text.data() + text.size();
      };
      if (!parse(low_text, ranged.low)) return std::nullopt;
      if (high_text != "*") {
        uint64_t high = 0;
        if (!parse(high_text, high) || high < ranged.low) return std::nullopt;
        ranged.high = high;
      }
      ranged.name = std::string(description.substr(0, start));
      if (end != std::string_view::npos) ranged.name += description.substr(end);
      return ranged;
    }
    start = end;
  }
  return std::nullopt;
}

void CompleteRangedAttributes(Entry& entry, const RangeFetch& fetch) {
  for (Attribute& attribute : entry.attributes) {
    std::optional<RangedName> range = ParseRangedName(attribute.name);
    if (!range) continue;
    const std::string name = range->name;
    auto broken = [&](const std::string& what) {
      return PlatformError(errnum::kBadCommand, StandardDescription(errnum::kBadCommand) +
                                                    " (the server " + what + " of " + name +
                                                    " of " + entry.dn + ")");
    };
    while (range->high) {
      if (*range->high == UINT64_MAX) throw broken("gave a range past the last value");
      const uint64_t next = *range->high + 1;
      std::vector<Attribute> reply =
          fetch(entry.dn, name + ";range=" + std::to_string(next) + "-*");
      Attribute* part = nullptr;
      for (Attribute& candidate : reply) {
        std::optional<RangedName> candidate_range = ParseRangedName(candidate.name);
        if (candidate_range && EqualsAsciiNoCase(candidate_range->name, name)) {
          part = &candidate;
          range = std::move(candidate_range);
          break;
        }
      }
      if (part == nullptr) throw broken("left out the next range");
      // A range that does not start where the last one ended would lose or
      // repeat values; one that does not move on would never end.
      if (range->low != next) throw broken("skipped or repeated values");
      for (std::string& value : part->values) attribute.values.push_back(std::move(value));
    }
    attribute.name = name;
  }
}

// ---------------------------------------------------------------------------
// Client.

namespace {

// The one place a failed request becomes a PlatformError. Marks the
// connection dead for the failures after which it cannot be trusted.
[[noreturn]] void Fail(int rc, bool& lost) {
  // The server's own time limit ends the search as a time-out of ours
  // does; the connection is still sound.
  if (rc == LDAP_TIMELIMIT_EXCEEDED) throw PlatformError(errnum::kServerNotOperational);
  if (IsLostConnection(rc)) {
    if (rc != LDAP_BUSY) lost = true;
    throw PlatformError(errnum::kServerNotOperational);
  }
  if (IsMissingObject(rc)) throw PlatformError(errnum::kNoSuchObject);
  if (IsRefusedFilter(rc)) throw PlatformError(errnum::kBadCommand);
  throw PlatformError(errnum::kBadCommand,
                      StandardDescription(errnum::kBadCommand) + " (" + ldap_err2string(rc) + ")");
}

// An outstanding request: abandoned when it is let go before its final
// result came (an exception, a callback that threw), so that its late
// replies do not pile up in libldap.
class Pending {
 public:
  Pending(LDAP* ld, const bool& lost, int msgid) : ld_(ld), lost_(lost), msgid_(msgid) {}
  ~Pending() {
    if (!done_ && !lost_) ldap_abandon_ext(ld_, msgid_, nullptr, nullptr);
  }
  Pending(const Pending&) = delete;
  Pending& operator=(const Pending&) = delete;
  void Done() { done_ = true; }

 private:
  LDAP* ld_;
  const bool& lost_;
  int msgid_;
  bool done_ = false;
};

// Bounds the whole of Connect by the time-out. libldap keeps to
// LDAP_OPT_NETWORK_TIMEOUT for the TCP connect, but not during a TLS
// handshake (ldaps://, or after StartTLS): against a peer that takes the
// connection and never answers it spins until the peer goes away. At the
// deadline the watchdog shuts the socket down, which ends any wait inside
// libldap at once; the failure is then reported as the time-out it is.
// The socket is learnt from a connect callback, and forgotten before
// libldap closes it, so a reused descriptor is never touched.
class ConnectWatchdog {
 public:
  ConnectWatchdog(LDAP* ld, int seconds) : ld_(ld) {
    callback_.lc_add = &ConnectWatchdog::Added;
    callback_.lc_del = &ConnectWatchdog::Deleted;
    callback_.lc_arg = this;
    registered_ = ldap_set_option(ld_, LDAP_OPT_CONNECT_CB, &callback_) == LDAP_OPT_SUCCESS;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    thread_ = std::thread([this, deadline] {
      std::unique_lock lock(mutex_);
      if (wake_.wait_until(lock, deadline, [this] { return done_; })) return;
      fired_ = true;
      if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
    });
  }
  ~ConnectWatchdog() {
    Disarm();
    // Getting the option removes the callback whose address is given.
    if (registered_) ldap_get_option(ld_, LDAP_OPT_CONNECT_CB, &callback_);
  }
  ConnectWatchdog(const ConnectWatchdog&) = delete;
  ConnectWatchdog& operator=(const ConnectWatchdog&) = delete;

  bool fired() {
    std::lock_guard lock(mutex_);
    return fired_;
  }

  // Stops the watchdog; true when it had already fired (the socket is shut
  // down, however well the rest went).
  bool Disarm() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    return fired();
  }

 private:
  static int Added(LDAP*, Sockbuf* sb, LDAPURLDesc*, struct sockaddr*, ldap_conncb* context) {
    auto* self = static_cast<ConnectWatchdog*>(context->lc_arg);
    int fd = -1;
    if (sb != nullptr && ber_sockbuf_ctrl(sb, LBER_SB_OPT_GET_FD, &fd) == 1) {
      std::lock_guard lock(self->mutex_);
      self->fd_ = fd;
      if (self->fired_) ::shutdown(fd, SHUT_RDWR);
    }
    return 0;
  }
  static void Deleted(LDAP*, Sockbuf*, ldap_conncb* context) {
    auto* self = static_cast<ConnectWatchdog*>(context->lc_arg);
    std::lock_guard lock(self->mutex_);
    self->fd_ = -1;
  }

  LDAP* ld_;
  ldap_conncb callback_{};
  bool registered_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  int fd_ = -1;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

}  // namespace

Client::Client(LDAP* ld, std::string url, int timeout_seconds)
    : ld_(ld), url_(std::move(url)), timeout_seconds_(timeout_seconds) {}

Client::~Client() { ldap_unbind_ext(ld_, nullptr, nullptr); }

std::unique_ptr<Client> Client::Connect(const ServerOptions& options) {
  {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGPIPE, SIG_IGN);
    }
  }
  const std::string who = options.bind_dn.empty() ? std::string("anonymously")
                                                  : "as '" + Printable(options.bind_dn) + "'";
  const std::string server = Printable(options.url);
  auto failure = [&](const std::string& stage, int rc, const std::string& diagnostic) {
    std::string line = "Cannot connect to the directory server " + server + " " + who;
    if (!stage.empty()) line += ": " + stage;
    line += ": ";
    line += ldap_err2string(rc);
    if (!diagnostic.empty() && diagnostic != ldap_err2string(rc)) {
      line += " (" + WithoutPassword(Printable(diagnostic), options.password) + ")";
    }
    return ConnectError(line);
  };

  if (options.timeout_seconds <= 0) {
    throw ConnectError("Cannot connect to the directory server " + server +
                       ": the time-out must be a positive number of seconds, not " +
                       std::to_string(options.timeout_seconds));
  }
  LDAP* raw = nullptr;
  int rc = ldap_initialize(&raw, options.url.c_str());
  if (rc != LDAP_SUCCESS || raw == nullptr) throw failure("", rc, "");
  // Owned from here, so that every failure below unbinds.
  std::unique_ptr<Client> client(new Client(raw, options.url, options.timeout_seconds));
  LDAP* ld = raw;

  const int version = LDAP_VERSION3;
  timeval limit{options.timeout_seconds, 0};
  if (ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
      ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
      // A signal (SIGINT asks the run to stop) must not look like a lost
      // connection: the wait goes on and the run stops at its next yield.
      ldap_set_option(ld, LDAP_OPT_RESTART, LDAP_OPT_ON) != LDAP_OPT_SUCCESS ||
      ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &limit) != LDAP_OPT_SUCCESS ||
      ldap_set_option(ld, LDAP_OPT_TIMEOUT, &limit) != LDAP_OPT_SUCCESS) {
    throw failure("setting the connection options", ResultCodeOf(ld), "");
  }
  ConnectWatchdog watchdog(ld, options.timeout_seconds);
  const std::string no_answer = "no answer within " + std::to_string(options.timeout_seconds) +
                                (options.timeout_seconds == 1 ? " second" : " seconds");

  if (options.start_tls) {
    rc = ldap_start_tls_s(ld, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
      if (watchdog.fired()) throw failure("StartTLS", LDAP_TIMEOUT, no_answer);
      throw failure("StartTLS", rc, DiagnosticOf(ld));
    }
  }

  // The simple bind is sent even when anonymous: it is what opens the
  // connection, so an unreachable server fails here and not at the first
  // search.
  berval credentials{options.password.size(), const_cast<char*>(options.password.data())};
  int msgid = -1;
  rc = ldap_sasl_bind(ld, options.bind_dn.empty() ? nullptr : options.bind_dn.c_str(),
                      LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) {
    if (watchdog.fired()) throw failure("", LDAP_TIMEOUT, no_answer);
    throw failure("", rc, DiagnosticOf(ld));
  }
  LDAPMessage* reply = nullptr;
  timeval wait = limit;
  rc = ldap_result(ld, msgid, LDAP_MSG_ALL, &wait, &reply);
  if (rc == 0 || (rc < 0 && watchdog.fired())) throw failure("", LDAP_TIMEOUT, no_answer);
  if (rc < 0) throw failure("", ResultCodeOf(ld), DiagnosticOf(ld));
  int result = LDAP_OTHER;
  char* diagnostic = nullptr;
  rc = ldap_parse_result(ld, reply, &result, nullptr, &diagnostic, nullptr, nullptr, 1);
  std::string diagnostic_text = diagnostic != nullptr ? diagnostic : "";
  ldap_memfree(diagnostic);
  if (rc != LDAP_SUCCESS) throw failure("", rc, DiagnosticOf(ld));
  if (result != LDAP_SUCCESS) throw failure("", result, diagnostic_text);
  if (watchdog.Disarm()) throw failure("", LDAP_TIMEOUT, no_answer);
  // libldap reads a plain TCP connection a message at a time, with a read
  // for each message's length and one for its body, and a poll before
  // each: three system calls an entry. A read-ahead buffer beneath the
  // message reader (and beneath TLS, where there is TLS) takes in what the
  // socket holds at once; libldap asks it whether data is buffered before
  // it polls. Nothing is buffered yet: the bind's reply was read whole.
  Sockbuf* socket_buffer = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_SOCKBUF, &socket_buffer) == LDAP_OPT_SUCCESS &&
      socket_buffer != nullptr) {
    ber_sockbuf_add_io(socket_buffer, &ber_sockbuf_io_readahead, LBER_SBIOD_LEVEL_PROVIDER,
                       nullptr);
  }
  return client;
}

namespace {

LDAPMessage* WaitForReply(LDAP* ld, int msgid, int timeout_seconds, bool& lost) {
  timeval wait{timeout_seconds, 0};
  LDAPMessage* message = nullptr;
  const int rc = ldap_result(ld, msgid, LDAP_MSG_ONE, &wait, &message);
  if (rc == 0) {
    // A server that does not answer in time cannot be told apart from one
    // that is gone, and a late reply must not be taken for another one.
    lost = true;
    throw PlatformError(errnum::kServerNotOperational);
  }
  if (rc < 0 || message == nullptr) {
    // The stream is broken whatever the code says; nothing more can be
    // read from it.
    lost = true;
    throw PlatformError(errnum::kServerNotOperational);
  }
  return message;
}

// The names and values of one entry, as views into its message; kept by a
// reader and reused from entry to entry, so that decoding allocates only
// while the vectors still grow.
struct Decoded {
  std::vector<std::string_view> names;
  std::vector<uint32_t> counts;
  std::vector<std::string_view> values;

  EntryView View(std::string_view dn) const { return EntryView{dn, names, counts, values}; }
};

// Decodes an entry in place (ldap_get_dn_ber, ldap_get_attribute_ber):
// names and values are seen where they lie in the message, valid while it
// is; libldap's copying readers would allocate each name and value, and
// find each attribute again from the start of the entry.
std::string_view Decode(LDAP* ld, LDAPMessage* message, Decoded& out, bool& lost) {
  struct BerFree {
    void operator()(BerElement* ber) const { ber_free(ber, 0); }
  };
  struct ValuesFree {
    void operator()(berval* values) const { ldap_memfree(values); }
  };
  out.names.clear();
  out.counts.clear();
  out.values.clear();
  BerElement* raw = nullptr;
  berval dn{0, nullptr};
  const int rc = ldap_get_dn_ber(ld, message, &raw, &dn);
  std::unique_ptr<BerElement, BerFree> ber(raw);
  if (rc != LDAP_SUCCESS || dn.bv_val == nullptr) Fail(ResultCodeOf(ld), lost);
  for (;;) {
    berval name{0, nullptr};
    berval* raw_values = nullptr;
    const int got = ldap_get_attribute_ber(ld, message, ber.get(), &name, &raw_values);
    std::unique_ptr<berval, ValuesFree> values(raw_values);
    if (got != LDAP_SUCCESS) Fail(got, lost);
    if (name.bv_val == nullptr) break;  // no more attributes
    out.names.emplace_back(name.bv_val, name.bv_len);
    uint32_t count = 0;
    for (const berval* value = values.get(); value != nullptr && value->bv_val != nullptr;
         ++value, ++count) {
      out.values.emplace_back(value->bv_val, value->bv_len);
    }
    out.counts.push_back(count);
  }
  return std::string_view(dn.bv_val, dn.bv_len);
}

Entry ToEntry(LDAP* ld, LDAPMessage* message, bool& lost) {
  Decoded decoded;
  const std::string_view dn = Decode(ld, message, decoded, lost);
  return EntryOf(decoded.View(dn));
}

// The views of an entry held whole.
Decoded ViewsOf(const Entry& entry) {
  Decoded decoded;
  for (const Attribute& attribute : entry.attributes) {
    decoded.names.emplace_back(attribute.name);
    decoded.counts.push_back(static_cast<uint32_t>(attribute.values.size()));
    for (const std::string& value : attribute.values) decoded.values.emplace_back(value);
  }
  return decoded;
}

// The result code of a final search result, and its paged-results cookie
// (empty when there is none, or no more pages).
int ParseFinal(LDAP* ld, LDAPMessage* message, std::string* cookie, bool& lost) {
  int result = LDAP_OTHER;
  LDAPControl** controls = nullptr;
  const int rc = ldap_parse_result(ld, message, &result, nullptr, nullptr, nullptr,
                                   cookie != nullptr ? &controls : nullptr, 0);
  if (rc != LDAP_SUCCESS) Fail(rc, lost);
  if (cookie != nullptr) {
    cookie->clear();
    LDAPControl* page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr);
    if (page != nullptr) {
      ber_int_t estimate = 0;
      berval value{0, nullptr};
      if (ldap_parse_pageresponse_control(ld, page, &estimate, &value) == LDAP_SUCCESS &&
          value.bv_val != nullptr) {
        cookie->assign(value.bv_val, value.bv_len);
        ber_memfree(value.bv_val);
      }
    }
    if (controls != nullptr) ldap_controls_free(controls);
  }
  return result;
}

}  // namespace

namespace {

// The checks Search makes before anything is sent: a base or filter
// libldap would send other than given. 0 when they pass, else the
// directory number to fail with.
int32_t RefusedText(std::string_view base, std::string_view filter) {
  // libldap takes C strings: a NUL would send a shorter base or filter
  // than the caller gave.
  if (base.find('\0') != std::string_view::npos) return errnum::kNoSuchObject;
  // libldap would take an empty filter for "(objectClass=*)": a filter
  // lost on the way must not match everything.
  if (filter.empty() || filter.find('\0') != std::string_view::npos) return errnum::kBadCommand;
  return 0;
}

}  // namespace

int Client::SendPage(const std::string& base, Scope scope, const std::string& filter,
                     const std::vector<std::string>& attributes, const std::string& cookie,
                     bool paged) {
  AttributeList list(attributes);
  LDAPControl* page = nullptr;
  if (paged) {
    berval cookie_value{cookie.size(), const_cast<char*>(cookie.data())};
    const int rc = ldap_create_page_control(ld_, kPageSize, &cookie_value, 0, &page);
    if (rc != LDAP_SUCCESS) Fail(rc, lost_);
  }
  LDAPControl* server_controls[] = {page, nullptr};
  int msgid = -1;
  const int rc =
      ldap_search_ext(ld_, base.c_str(), ToLdapScope(scope), filter.c_str(), list.get(), 0,
                      paged ? server_controls : nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &msgid);
  if (page != nullptr) ldap_control_free(page);
  if (rc != LDAP_SUCCESS) Fail(rc, lost_);
  return msgid;
}

namespace {

// Gives the entry of `message` to `each`, its ranged attributes read to
// their end first (base reads through `fetch`, on the same connection).
void GiveEntry(LDAP* ld, bool& lost, LDAPMessage* message, Decoded& decoded,
               const RangeFetch& fetch, const std::function<void(const EntryView&)>& each) {
  const std::string_view dn = Decode(ld, message, decoded, lost);
  bool ranged = false;
  for (const std::string_view name : decoded.names) {
    ranged = ranged || ParseRangedName(name).has_value();
  }
  if (!ranged) {
    each(decoded.View(dn));
    return;
  }
  // Rare: the further ranges are read into a copy of the entry.
  Entry entry = EntryOf(decoded.View(dn));
  CompleteRangedAttributes(entry, fetch);
  const Decoded whole = ViewsOf(entry);
  each(whole.View(entry.dn));
}

}  // namespace

void Client::ReadPage(int msgid, bool paged, std::string& cookie,
                      const std::function<void(const EntryView&)>& each) {
  const RangeFetch fetch = RangeReader();
  Pending pending(ld_, lost_, msgid);
  Decoded decoded;
  for (bool final = false; !final;) {
    MessagePtr message(WaitForReply(ld_, msgid, timeout_seconds_, lost_));
    switch (ldap_msgtype(message.get())) {
      case LDAP_RES_SEARCH_ENTRY:
        GiveEntry(ld_, lost_, message.get(), decoded, fetch, each);
        break;
      case LDAP_RES_SEARCH_RESULT: {
        pending.Done();
        final = true;
        const int result = ParseFinal(ld_, message.get(), paged ? &cookie : nullptr, lost_);
        if (result != LDAP_SUCCESS) Fail(result, lost_);
        break;
      }
      default:  // search references and intermediate responses
        break;
    }
  }
}

void Client::Search(std::string_view base, Scope scope, std::string_view filter,
                    const std::vector<std::string>& attributes,
                    const std::function<void(Entry&&)>& each) {
  SearchViews(base, scope, filter, attributes, [&](const EntryView& view) { each(EntryOf(view)); });
}

void Client::SearchViews(std::string_view base, Scope scope, std::string_view filter,
                         const std::vector<std::string>& attributes,
                         const std::function<void(const EntryView&)>& each) {
  if (lost_) throw PlatformError(errnum::kServerNotOperational);
  if (const int32_t refused = RefusedText(base, filter); refused != 0) {
    throw PlatformError(refused);
  }
  const std::string base_text(base);
  const std::string filter_text(filter);
  const bool paged = scope != Scope::kBase;
  std::string cookie;
  do {
    const int msgid = SendPage(base_text, scope, filter_text, attributes, cookie, paged);
    ReadPage(msgid, paged, cookie, each);
  } while (paged && !cookie.empty());
}

std::unique_ptr<PendingSearch> Client::Send(std::string_view base, Scope scope,
                                            std::string_view filter,
                                            const std::vector<std::string>& attributes) {
  if (lost_ || RefusedText(base, filter) != 0) return nullptr;
  std::unique_ptr<PendingSearch> search(new PendingSearch);
  search->client_ = this;
  search->base_ = std::string(base);
  search->filter_ = std::string(filter);
  search->scope_ = scope;
  search->attributes_ = attributes;
  // A lost connection found here is left for the search made when the
  // answer is needed: it fails at once then, as every later call does.
  try {
    // Unpaged: a server may keep one paged search a connection (OpenLDAP
    // does), and one sent ahead must not end the paging of another.
    search->msgid_ = SendPage(search->base_, scope, search->filter_, attributes, "", false);
  } catch (const PlatformError&) {
    return nullptr;
  }
  return search;
}

bool Client::Ready(PendingSearch& search) {
  if (search.chain_ != nullptr) return true;
  if (lost_ || search.msgid_ < 0) return false;
  // A poll of libldap reads at most one message from the connection, and
  // the replies to other requests may come before this one's: it polls
  // while the connection holds something to read. What it reads for other
  // requests waits in libldap for them.
  int fd = -1;
  Sockbuf* buffer = nullptr;
  if (ldap_get_option(ld_, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0 ||
      ldap_get_option(ld_, LDAP_OPT_SOCKBUF, &buffer) != LDAP_OPT_SUCCESS || buffer == nullptr) {
    return false;
  }
  for (;;) {
    timeval zero{0, 0};
    LDAPMessage* chain = nullptr;
    const int rc = ldap_result(ld_, search.msgid_, LDAP_MSG_ALL, &zero, &chain);
    if (rc > 0 && chain != nullptr) {
      search.chain_ = chain;
      return true;
    }
    if (rc < 0) return false;
    pollfd readable{fd, POLLIN, 0};
    if (ber_sockbuf_ctrl(buffer, LBER_SB_OPT_DATA_READY, nullptr) == 0 &&
        ::poll(&readable, 1, 0) <= 0) {
      return false;
    }
  }
}

void Client::Finish(PendingSearch& search, const std::function<void(Entry&&)>& each) {
  FinishViews(search, [&](const EntryView& view) { each(EntryOf(view)); });
}

void Client::FinishViews(PendingSearch& search, const std::function<void(const EntryView&)>& each) {
  const int msgid = search.msgid_;
  MessagePtr chain(search.chain_);
  // Finished from here whatever happens: the request is abandoned (or its
  // reply freed) below.
  search.msgid_ = -1;
  search.chain_ = nullptr;
  if (msgid < 0) throw std::logic_error("a pending search finished twice");
  if (lost_) throw PlatformError(errnum::kServerNotOperational);
  // The whole reply, the final result last: the chain Ready took in, or
  // the replies read now, each waited for as Search waits for it.
  std::vector<MessagePtr> read;
  std::vector<LDAPMessage*> replies;
  if (chain) {
    for (LDAPMessage* message = ldap_first_message(ld_, chain.get()); message != nullptr;
         message = ldap_next_message(ld_, message)) {
      replies.push_back(message);
    }
  } else {
    Pending pending(ld_, lost_, msgid);
    do {
      read.emplace_back(WaitForReply(ld_, msgid, timeout_seconds_, lost_));
      replies.push_back(read.back().get());
    } while (ldap_msgtype(replies.back()) != LDAP_RES_SEARCH_RESULT);
    pending.Done();
  }
  if (replies.empty() || ldap_msgtype(replies.back()) != LDAP_RES_SEARCH_RESULT) {
    // A whole reply ends with its final result; without one the stream
    // is broken.
    lost_ = true;
    throw PlatformError(errnum::kServerNotOperational);
  }
  const int result = ParseFinal(ld_, replies.back(), nullptr, lost_);
  // The search went unpaged: a server that cut it at its size limit is
  // asked again, paged, before any entry is given.
  if (result == LDAP_SIZELIMIT_EXCEEDED) {
    read.clear();
    chain.reset();
    SearchViews(search.base_, search.scope_, search.filter_, search.attributes_, each);
    return;
  }
  const RangeFetch fetch = RangeReader();
  Decoded decoded;
  for (LDAPMessage* message : replies) {
    if (ldap_msgtype(message) == LDAP_RES_SEARCH_ENTRY) {
      GiveEntry(ld_, lost_, message, decoded, fetch, each);
    }
  }
  if (result != LDAP_SUCCESS) Fail(result, lost_);
}

PendingSearch::~PendingSearch() {
  if (chain_ != nullptr) ldap_msgfree(chain_);
  if (chain_ == nullptr && msgid_ >= 0 && !client_->lost_) {
    ldap_abandon_ext(client_->ld_, msgid_, nullptr, nullptr);
  }
}

namespace {

// Base reads of `dns`, kReadWindow in flight. Replies are taken for one
// request at a time, the oldest first, by its own message id: libldap keeps
// the replies to the others (and to any search the caller is inside of)
// until they are asked for, so nothing is taken for another request.
std::vector<std::optional<Entry>> ReadBase(LDAP* ld, bool& lost, int timeout_seconds,
                                           const std::vector<std::string>& dns,
                                           const std::vector<std::string>& attributes) {
  std::vector<std::optional<Entry>> results(dns.size());
  AttributeList list(attributes);
  // (msgid, index into dns), oldest first. Whatever is left here when an
  // exception leaves is abandoned.
  std::deque<std::pair<int, size_t>> in_flight;
  struct AbandonLeft {
    LDAP* ld;
    const bool& lost;
    std::deque<std::pair<int, size_t>>& left;
    ~AbandonLeft() {
      if (lost) return;
      for (const auto& [msgid, index] : left) ldap_abandon_ext(ld, msgid, nullptr, nullptr);
    }
  } abandon{ld, lost, in_flight};

  size_t next = 0;
  while (next < dns.size() || !in_flight.empty()) {
    while (next < dns.size() && in_flight.size() < kReadWindow) {
      const std::string& dn = dns[next];
      if (dn.find('\0') != std::string::npos) {
        ++next;  // not a DN: no such object
        continue;
      }
      int msgid = -1;
      const int rc = ldap_search_ext(ld, dn.c_str(), LDAP_SCOPE_BASE, kAnyObject, list.get(), 0,
                                     nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &msgid);
      if (rc != LDAP_SUCCESS) Fail(rc, lost);
      in_flight.emplace_back(msgid, next++);
    }
    if (in_flight.empty()) break;
    const auto [msgid, index] = in_flight.front();
    MessagePtr message(WaitForReply(ld, msgid, timeout_seconds, lost));
    switch (ldap_msgtype(message.get())) {
      case LDAP_RES_SEARCH_ENTRY:
        results[index] = ToEntry(ld, message.get(), lost);
        break;
      case LDAP_RES_SEARCH_RESULT: {
        in_flight.pop_front();
        const int result = ParseFinal(ld, message.get(), nullptr, lost);
        if (result != LDAP_SUCCESS && !IsMissingObject(result)) Fail(result, lost);
        if (result != LDAP_SUCCESS) results[index].reset();
        break;
      }
      default:
        break;
    }
  }
  return results;
}

}  // namespace

RangeFetch Client::RangeReader() {
  return [this](const std::string& dn, const std::string& request) {
    if (lost_) throw PlatformError(errnum::kServerNotOperational);
    std::vector<std::optional<Entry>> read =
        ReadBase(ld_, lost_, timeout_seconds_, {dn}, {request});
    if (!read[0]) throw PlatformError(errnum::kNoSuchObject);
    return std::move(read[0]->attributes);
  };
}

std::vector<std::optional<Entry>> Client::ReadMany(const std::vector<std::string>& dns,
                                                   const std::vector<std::string>& attributes) {
  if (lost_) throw PlatformError(errnum::kServerNotOperational);
  std::vector<std::optional<Entry>> results =
      ReadBase(ld_, lost_, timeout_seconds_, dns, attributes);
  // Only after every read is in, so that the continuation reads do not
  // wait behind the window.
  const RangeFetch fetch = RangeReader();
  for (std::optional<Entry>& entry : results) {
    if (entry) CompleteRangedAttributes(*entry, fetch);
  }
  return results;
}

Entry Client::ReadRootDse(const std::vector<std::string>& attributes) {
  Entry root;
  Search("", Scope::kBase, kAnyObject, attributes,
         [&root](Entry&& entry) { root = std::move(entry); });
  return root;
}

}  // namespace platform::ldap
