#include "platform/ldap/ldap_client.h"

#include <arpa/inet.h>
#include <lber.h>
#include <ldap.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/address_book.h"
#include "platform/error.h"
#include "platform/ldap/ldap_directory.h"
#include "tests/ldap/slapd_support.h"

namespace platform::ldap {
namespace {

using ::tarnwick_test::TestSlapd;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kSuffix[] = "dc=tarnwick,dc=test";
// An ordinary account: the server's limits apply to it, as they would to
// the run's service account (the admin has none).
constexpr char kReaderDn[] = "cn=reader,dc=tarnwick,dc=test";
constexpr char kReaderPassword[] = "reader-Secret-42";
constexpr int kPeople = 2500;
constexpr char kPeopleBase[] = "ou=people,dc=tarnwick,dc=test";

std::string PersonDn(int i) {
  char uid[16];
  std::snprintf(uid, sizeof uid, "p%04d", i);
  return std::string("uid=") + uid + "," + kPeopleBase;
}

// The people in an order that is not the order of their names, so that a
// result in the server's (load) order is told apart from a sorted one.
int PersonAt(int position) { return (position * 7) % kPeople; }

// The suffix entry, the reader and `count` people.
std::string PeopleLdif(int count) {
  std::string ldif = std::string("dn: ") + kSuffix +
                     "\nobjectClass: dcObject\nobjectClass: organization\ndc: tarnwick\n"
                     "o: Tarnwick test\n\n"
                     "dn: " +
                     kReaderDn + "\nobjectClass: person\ncn: reader\nsn: reader\nuserPassword: " +
                     kReaderPassword + "\n\ndn: " + kPeopleBase +
                     "\nobjectClass: organizationalUnit\nou: people\n\n";
  for (int position = 0; position < count; ++position) {
    const int i = PersonAt(position);
    const std::string dn = PersonDn(i);
    const std::string uid = dn.substr(4, 5);
    ldif += "dn: " + dn + "\nobjectClass: inetOrgPerson\nuid: " + uid + "\ncn: Person " + uid +
            "\nsn: " + uid + "\nmail: " + uid + "@tarnwick.test\n\n";
  }
  return ldif;
}

ServerOptions Reader(const std::string& url) {
  ServerOptions options;
  options.url = url;
  options.bind_dn = kReaderDn;
  options.password = kReaderPassword;
  options.timeout_seconds = 5;
  return options;
}

const Attribute* Find(const Entry& entry, std::string_view name) {
  for (const Attribute& attribute : entry.attributes) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

template <typename F>
int32_t ErrorNumberOf(F&& call) {
  try {
    call();
  } catch (const PlatformError& error) {
    return error.number();
  }
  return 0;
}

template <typename F>
std::string ConnectFailure(F&& call) {
  try {
    call();
  } catch (const ConnectError& error) {
    return error.what();
  }
  return "(no ConnectError)";
}

// A scripted LDAP server for what slapd never does (ranged attributes,
// refusing a filter): it accepts one connection, answers every bind with
// success and every search through `answer`, on its own thread.
class ScriptedServer {
 public:
  struct SearchRequest {
    int msgid;
    std::string base;
    std::vector<std::string> attributes;
  };
  // Writes the replies to one search: entries, then a final result.
  class Replies {
   public:
    Replies(int fd, int msgid) : fd_(fd), msgid_(msgid) {}
    void Entry(const std::string& dn, const std::vector<Attribute>& attributes) {
      BerElement* ber = ber_alloc_t(LBER_USE_DER);
      ber_printf(ber, "{it{s{", msgid_, static_cast<ber_tag_t>(LDAP_RES_SEARCH_ENTRY), dn.c_str());
      for (const Attribute& attribute : attributes) {
        ber_printf(ber, "{s[", attribute.name.c_str());
        for (const std::string& value : attribute.values) {
          ber_printf(ber, "o", value.data(), static_cast<ber_len_t>(value.size()));
        }
        ber_printf(ber, "]}");
      }
      ber_printf(ber, "}}}");
      Send(fd_, ber);
    }
    void Done(int code) {
      BerElement* ber = ber_alloc_t(LBER_USE_DER);
      ber_printf(ber, "{it{ess}}", msgid_, static_cast<ber_tag_t>(LDAP_RES_SEARCH_RESULT), code, "",
                 "");
      Send(fd_, ber);
    }
    static void Send(int fd, BerElement* ber) {
      berval bytes{};
      ber_flatten2(ber, &bytes, 0);
      EXPECT_EQ(::write(fd, bytes.bv_val, bytes.bv_len), static_cast<ssize_t>(bytes.bv_len));
      ber_free(ber, 1);
    }

   private:
    int fd_;
    int msgid_;
  };
  using Script = std::function<void(const SearchRequest&, Replies&)>;

  explicit ScriptedServer(Script answer) : answer_(std::move(answer)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listen_fd_, 1);
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    thread_.join();
    ::close(listen_fd_);
  }
  std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_) + "/"; }

 private:
  // One whole BER element off the socket: tag, length, content.
  static bool ReadMessage(int fd, std::string& message) {
    auto read_bytes = [fd](std::string& into, size_t n) {
      while (n > 0) {
        char buffer[4096];
        const ssize_t got = ::read(fd, buffer, std::min(n, sizeof buffer));
        if (got <= 0) return false;
        into.append(buffer, static_cast<size_t>(got));
        n -= static_cast<size_t>(got);
      }
      return true;
    };
    message.clear();
    if (!read_bytes(message, 2)) return false;
    size_t length = static_cast<unsigned char>(message[1]);
    if (length & 0x80) {
      const size_t octets = length & 0x7f;
      if (!read_bytes(message, octets)) return false;
      length = 0;
      for (size_t i = 0; i < octets; ++i) {
        length = (length << 8) | static_cast<unsigned char>(message[2 + i]);
      }
    }
    return read_bytes(message, length);
  }

  void Serve() {
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) return;
    std::string message;
    while (ReadMessage(fd, message)) {
      berval bytes{message.size(), message.data()};
      BerElement* ber = ber_init(&bytes);
      ber_int_t msgid = 0;
      ber_tag_t op = LBER_DEFAULT;
      ber_scanf(ber, "{it", &msgid, &op);
      if (op == LDAP_REQ_BIND) {
        BerElement* reply = ber_alloc_t(LBER_USE_DER);
        ber_printf(reply, "{it{ess}}", msgid, static_cast<ber_tag_t>(LDAP_RES_BIND), LDAP_SUCCESS,
                   "", "");
        Replies::Send(fd, reply);
      } else if (op == LDAP_REQ_SEARCH) {
        berval base{};
        char** attributes = nullptr;
        ber_scanf(ber, "{mxxxxxxv", &base, &attributes);
        SearchRequest request{msgid, std::string(base.bv_val, base.bv_len), {}};
        for (char** a = attributes; a != nullptr && *a != nullptr; ++a) {
          request.attributes.push_back(*a);
        }
        ber_memvfree(reinterpret_cast<void**>(attributes));
        Replies replies(fd, msgid);
        answer_(request, replies);
      } else if (op == LDAP_REQ_UNBIND) {
        ber_free(ber, 1);
        break;
      }
      ber_free(ber, 1);
    }
    ::close(fd);
  }

  Script answer_;
  int listen_fd_ = -1;
  int port_ = -1;
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// Against slapd.

// One server for the suite: loading 2,500 people is the slow part.
class LdapClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_.emplace(TestSlapd::FromLdif(PeopleLdif(kPeople))); }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override { TARNWICK_REQUIRE_RUNNING(*server_); }
  static std::optional<TestSlapd> server_;
};
std::optional<TestSlapd> LdapClientTest::server_;

TEST_F(LdapClientTest, PagedSearchGivesEveryEntryPastTheSizeLimitInServerOrder) {
  // The limit is real for this account: an unpaged search is cut at 1,000.
  {
    LDAP* ld = nullptr;
    ASSERT_EQ(ldap_initialize(&ld, server_->url().c_str()), LDAP_SUCCESS);
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    berval password{std::strlen(kReaderPassword), const_cast<char*>(kReaderPassword)};
    ASSERT_EQ(
        ldap_sasl_bind_s(ld, kReaderDn, LDAP_SASL_SIMPLE, &password, nullptr, nullptr, nullptr),
        LDAP_SUCCESS);
    LDAPMessage* result = nullptr;
    EXPECT_EQ(ldap_search_ext_s(ld, kPeopleBase, LDAP_SCOPE_SUBTREE, "(objectClass=inetOrgPerson)",
                                nullptr, 0, nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &result),
              LDAP_SIZELIMIT_EXCEEDED);
    EXPECT_EQ(ldap_count_entries(ld, result), 1000);
    ldap_msgfree(result);
    ldap_unbind_ext(ld, nullptr, nullptr);
  }

  auto client = Client::Connect(Reader(server_->url()));
  std::vector<std::string> dns;
  bool only_asked = true;
  client->Search(kPeopleBase, Scope::kSubtree, "(objectClass=inetOrgPerson)", {"uid", "cn"},
                 [&](Entry&& entry) {
                   dns.push_back(entry.dn);
                   only_asked = only_asked && entry.attributes.size() == 2 &&
                                Find(entry, "uid") != nullptr && Find(entry, "cn") != nullptr;
                 });
  ASSERT_EQ(dns.size(), static_cast<size_t>(kPeople));
  for (int position = 0; position < kPeople; ++position) {
    ASSERT_EQ(dns[position], PersonDn(PersonAt(position))) << "at " << position;
  }
  EXPECT_TRUE(only_asked);

  // One level, and an empty list asks for every user attribute.
  std::vector<Entry> one;
  client->Search(kPeopleBase, Scope::kOneLevel, "(uid=p0042)", {},
                 [&](Entry&& entry) { one.push_back(std::move(entry)); });
  ASSERT_EQ(one.size(), 1u);
  ASSERT_NE(Find(one[0], "mail"), nullptr);
  EXPECT_EQ(Find(one[0], "mail")->values, std::vector<std::string>{"p0042@tarnwick.test"});
  EXPECT_EQ(Find(one[0], "entryUUID"), nullptr);  // operational: only when named
}

TEST_F(LdapClientTest, CallbackMayUseTheClientWhileASearchIsUnderWay) {
  auto client = Client::Connect(Reader(server_->url()));
  int seen = 0;
  int nested_found = 0;
  client->Search(
      kPeopleBase, Scope::kSubtree, "(objectClass=inetOrgPerson)", {"uid"}, [&](Entry&&) {
        if (++seen % 500 == 0) {
          auto read = client->ReadMany(
              {PersonDn(1), PersonDn(2), "uid=none," + std::string(kPeopleBase)}, {"uid"});
          nested_found += read[0].has_value() + read[1].has_value() + read[2].has_value();
        }
      });
  EXPECT_EQ(seen, kPeople);
  EXPECT_EQ(nested_found, 2 * (kPeople / 500));

  // A callback that throws abandons its search; the connection stays good.
  EXPECT_THROW(client->Search(kPeopleBase, Scope::kSubtree, "(uid=*)", {"uid"},
                              [](Entry&&) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  int again = 0;
  client->Search(kPeopleBase, Scope::kSubtree, "(uid=p000*)", {"uid"}, [&](Entry&&) { ++again; });
  EXPECT_EQ(again, 10);
}

TEST_F(LdapClientTest, SearchesSentAheadGiveWhatSearchGives) {
  auto client = Client::Connect(Reader(server_->url()));
  const auto all = [&](const std::string& filter) {
    std::vector<std::string> dns;
    client->Search(kPeopleBase, Scope::kSubtree, filter, {"uid"},
                   [&](Entry&& entry) { dns.push_back(entry.dn); });
    return dns;
  };
  const std::vector<std::string> everyone = all("(objectClass=inetOrgPerson)");
  const std::vector<std::string> few = all("(uid=p000*)");
  ASSERT_EQ(everyone.size(), static_cast<size_t>(kPeople));

  // Several out at once, finished in another order than sent: one read
  // whole once Ready, one past the server's size limit, and another search
  // in between.
  auto big = client->Send(kPeopleBase, Scope::kSubtree, "(objectClass=inetOrgPerson)", {"uid"});
  auto small = client->Send(kPeopleBase, Scope::kSubtree, "(uid=p000*)", {"uid"});
  auto dropped = client->Send(kPeopleBase, Scope::kSubtree, "(uid=*)", {"uid"});
  ASSERT_TRUE(big && small && dropped);
  for (int i = 0; i < 500 && !client->Ready(*small); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(client->Ready(*small));
  EXPECT_EQ(all("(uid=p000*)"), few);
  // Unpaged, the server may send them in another order (slapd's by name).
  std::vector<std::string> got;
  client->Finish(*small, [&](Entry&& entry) { got.push_back(entry.dn); });
  std::vector<std::string> sorted_few = few;
  std::sort(sorted_few.begin(), sorted_few.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, sorted_few);
  // Cut at the server's size limit, it is made again paged, from the start.
  got.clear();
  client->Finish(*big, [&](Entry&& entry) { got.push_back(entry.dn); });
  EXPECT_EQ(got, everyone);
  dropped.reset();  // abandoned unread: the connection stays good
  EXPECT_EQ(all("(uid=p000*)"), few);

  // What Search refuses is not sent; a callback that throws ends it.
  EXPECT_EQ(client->Send(kPeopleBase, Scope::kSubtree, "", {"uid"}), nullptr);
  EXPECT_EQ(client->Send(std::string("ou=a\0", 6), Scope::kSubtree, "(uid=*)", {}), nullptr);
  auto thrown = client->Send(kPeopleBase, Scope::kSubtree, "(uid=*)", {"uid"});
  ASSERT_TRUE(thrown);
  EXPECT_THROW(client->Finish(*thrown, [](Entry&&) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  EXPECT_EQ(all("(uid=p000*)"), few);

  // A refusal comes from Finish, as from Search.
  auto refused = client->Send("ou=missing," + std::string(kSuffix), Scope::kSubtree, "(uid=*)", {});
  ASSERT_TRUE(refused);
  try {
    client->Finish(*refused, [](Entry&&) {});
    ADD_FAILURE() << "no error";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.number(), errnum::kNoSuchObject);
  }
}

TEST_F(LdapClientTest, ReadManyGivesResultIForDnIAndNothingForMissingOnes) {
  auto client = Client::Connect(Reader(server_->url()));
  std::vector<std::string> dns;
  for (int i = 0; i < kPeople; ++i) {
    dns.push_back(i % 9 == 4 ? "uid=gone" + std::to_string(i) + "," + kPeopleBase : PersonDn(i));
  }
  dns.push_back("this is not a DN");
  dns.push_back("UID=P0003,OU=People,DC=tarnwick,DC=test");       // another spelling
  dns.push_back(std::string("uid=p0001,ou=nowhere,") + kSuffix);  // parent missing
  const auto results = client->ReadMany(dns, {"mail"});
  ASSERT_EQ(results.size(), dns.size());
  for (int i = 0; i < kPeople; ++i) {
    if (i % 9 == 4) {
      EXPECT_FALSE(results[i].has_value()) << dns[i];
      continue;
    }
    ASSERT_TRUE(results[i].has_value()) << dns[i];
    EXPECT_EQ(results[i]->dn, dns[i]);
    ASSERT_NE(Find(*results[i], "mail"), nullptr);
    EXPECT_EQ(Find(*results[i], "mail")->values[0], dns[i].substr(4, 5) + "@tarnwick.test");
  }
  EXPECT_FALSE(results[kPeople].has_value());
  ASSERT_TRUE(results[kPeople + 1].has_value());
  EXPECT_EQ(Find(*results[kPeople + 1], "mail")->values[0], "p0003@tarnwick.test");
  EXPECT_FALSE(results[kPeople + 2].has_value());
  EXPECT_TRUE(client->ReadMany({}, {}).empty());
}

TEST_F(LdapClientTest, RootDseGivesTheNamedOperationalAttributes) {
  auto client = Client::Connect(ServerOptions{server_->url(), "", "", false, 5});
  const Entry root = client->ReadRootDse({"namingContexts", "rootDomainNamingContext"});
  EXPECT_EQ(root.dn, "");
  ASSERT_NE(Find(root, "namingContexts"), nullptr);
  EXPECT_EQ(Find(root, "namingContexts")->values, std::vector<std::string>{kSuffix});
  ASSERT_NE(Find(root, "rootDomainNamingContext"), nullptr);
  EXPECT_EQ(Find(root, "rootDomainNamingContext")->values, std::vector<std::string>{kSuffix});
  // Only what is named: the server has more to give.
  const Entry one = client->ReadRootDse({"namingContexts"});
  ASSERT_EQ(one.attributes.size(), 1u);
  EXPECT_EQ(one.attributes[0].name, "namingContexts");
}

TEST_F(LdapClientTest, RequestErrorsCarryTheDirectoryNumbersAndLeaveTheClientUsable) {
  auto client = Client::Connect(Reader(server_->url()));
  auto search = [&](std::string_view base, std::string_view filter) {
    return ErrorNumberOf(
        [&] { client->Search(base, Scope::kSubtree, filter, {"uid"}, [](Entry&&) {}); });
  };
  EXPECT_EQ(search(std::string("ou=nowhere,") + kSuffix, "(uid=*)"), errnum::kNoSuchObject);
  EXPECT_EQ(search("not a dn", "(uid=*)"), errnum::kNoSuchObject);
  EXPECT_EQ(search(kPeopleBase, "(uid=p0001"), errnum::kBadCommand);  // libldap refuses it
  EXPECT_EQ(search(kPeopleBase, ""), errnum::kBadCommand);  // libldap would match everything
  EXPECT_EQ(search(kPeopleBase, std::string_view("(uid=p0001)\0(uid=*)", 19)), errnum::kBadCommand);
  try {
    client->Search(kPeopleBase, Scope::kSubtree, "((uid=x))", {}, [](Entry&&) {});
    ADD_FAILURE() << "no error";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.description(), "One or more errors occurred during processing of command.");
  }
  int found = 0;
  client->Search(kPeopleBase, Scope::kSubtree, "(uid=p0001)", {"uid"}, [&](Entry&&) { ++found; });
  EXPECT_EQ(found, 1);
}

TEST_F(LdapClientTest, ConnectFailuresNameTheServerAndWhatWentWrong) {
  ServerOptions wrong = Reader(server_->url());
  wrong.password = "Not-The-Reader-Password";
  std::string line = ConnectFailure([&] { Client::Connect(wrong); });
  EXPECT_THAT(line, HasSubstr(server_->url()));
  EXPECT_THAT(line, HasSubstr("Invalid credentials"));
  EXPECT_THAT(line, HasSubstr(kReaderDn));
  EXPECT_THAT(line, Not(HasSubstr(wrong.password)));
  EXPECT_EQ(line.find('\n'), std::string::npos);

  const std::string closed = tarnwick_test::ClosedPortUrl();
  line = ConnectFailure([&] { Client::Connect(Reader(closed)); });
  EXPECT_THAT(line, HasSubstr(closed));
  EXPECT_THAT(line, HasSubstr("Can't contact LDAP server"));
  EXPECT_THAT(line, Not(HasSubstr(kReaderPassword)));

  // slapd here has no certificate: StartTLS is refused, and said so.
  ServerOptions tls = Reader(server_->url());
  tls.start_tls = true;
  line = ConnectFailure([&] { Client::Connect(tls); });
  EXPECT_THAT(line, HasSubstr(server_->url()));
  EXPECT_THAT(line, HasSubstr("StartTLS"));
  EXPECT_THAT(line, Not(HasSubstr(kReaderPassword)));

  // A server that takes the connection and never answers: the bind, and
  // StartTLS, give up after the time-out instead of waiting for ever.
  TestSlapd silent = TestSlapd::Silent();
  ASSERT_EQ(silent.state(), TestSlapd::State::kRunning) << silent.error();
  ServerOptions quiet = Reader(silent.url());
  quiet.timeout_seconds = 1;
  line = ConnectFailure([&] { Client::Connect(quiet); });
  EXPECT_THAT(line, HasSubstr(silent.url()));
  EXPECT_THAT(line, HasSubstr("Timed out"));
  EXPECT_THAT(line, Not(HasSubstr(kReaderPassword)));
  quiet.start_tls = true;
  line = ConnectFailure([&] { Client::Connect(quiet); });
  EXPECT_THAT(line, HasSubstr(silent.url()));
  EXPECT_THAT(line, HasSubstr("StartTLS: Timed out"));
  // libldap's own TLS handshake does not keep to the network time-out.
  quiet.start_tls = false;
  quiet.url = "ldaps" + silent.url().substr(4);
  line = ConnectFailure([&] { Client::Connect(quiet); });
  EXPECT_THAT(line, HasSubstr(quiet.url));
  EXPECT_THAT(line, HasSubstr("Timed out"));
}

TEST(LdapClientLostTest, AStoppedServerFailsEveryLaterCallAtOnce) {
  TestSlapd server = TestSlapd::FromLdif(PeopleLdif(300));
  TARNWICK_REQUIRE_RUNNING(server);
  auto client = Client::Connect(Reader(server.url()));
  std::vector<std::string> dns;
  for (int i = 0; i < 300; ++i) dns.push_back(PersonDn(i));
  ASSERT_EQ(client->ReadMany(dns, {"uid"}).size(), dns.size());

  // Sent before the server went: finished after, it fails as a search
  // would; once the connection is known lost nothing more is sent.
  auto sent = client->Send(kPeopleBase, Scope::kSubtree, "(uid=*)", {"uid"});
  ASSERT_TRUE(sent);
  ASSERT_TRUE(server.Stop()) << server.error();
  std::vector<std::string> partial;
  EXPECT_EQ(ErrorNumberOf([&] {
              client->Finish(*sent, [&](Entry&& entry) { partial.push_back(entry.dn); });
              client->Search(kPeopleBase, Scope::kSubtree, "(uid=*)", {}, [](Entry&&) {});
            }),
            errnum::kServerNotOperational);
  EXPECT_EQ(client->Send(kPeopleBase, Scope::kSubtree, "(uid=*)", {"uid"}), nullptr);
  // Many pipelined writes to a closed connection: the process must get an
  // error, not a SIGPIPE.
  EXPECT_EQ(ErrorNumberOf([&] { client->ReadMany(dns, {"uid"}); }), errnum::kServerNotOperational);
  EXPECT_EQ(ErrorNumberOf([&] {
              client->Search(kPeopleBase, Scope::kSubtree, "(uid=*)", {}, [](Entry&&) {});
            }),
            errnum::kServerNotOperational);
  EXPECT_EQ(ErrorNumberOf([&] { client->ReadRootDse({}); }), errnum::kServerNotOperational);
}

TEST(LdapClientLostTest, AServerThatStopsAnsweringTimesOutAndStaysDead) {
  TestSlapd server = TestSlapd::FromLdif(PeopleLdif(10));
  TARNWICK_REQUIRE_RUNNING(server);
  ServerOptions options = Reader(server.url());
  options.timeout_seconds = 2;
  auto client = Client::Connect(options);
  ASSERT_TRUE(server.Freeze()) << server.error();
  // A search sent ahead is never ready and Ready never waits; finishing it
  // waits the time-out, as the search itself does.
  auto sent = client->Send(kPeopleBase, Scope::kSubtree, "(uid=*)", {});
  ASSERT_TRUE(sent);
  EXPECT_FALSE(client->Ready(*sent));
  try {
    client->Finish(*sent, [](Entry&&) {});
    ADD_FAILURE() << "no error";
  } catch (const PlatformError& error) {
    EXPECT_EQ(error.number(), errnum::kServerNotOperational);
    EXPECT_EQ(error.description(), "The server is not operational.");
  }
  ASSERT_TRUE(server.Thaw()) << server.error();
  // Answering again does not bring the connection back: a late reply to
  // the timed-out search must never be taken for the answer to this one.
  EXPECT_EQ(ErrorNumberOf([&] { client->ReadMany({PersonDn(1)}, {}); }),
            errnum::kServerNotOperational);
}

// ---------------------------------------------------------------------------
// Against a scripted server.

TEST(LdapClientScriptedTest, ServerRefusalsMapToDirectoryNumbers) {
  const std::map<std::string, int> codes = {{"ou=matching", LDAP_INAPPROPRIATE_MATCHING},
                                            {"ou=unwilling", LDAP_UNWILLING_TO_PERFORM},
                                            {"ou=filter", LDAP_FILTER_ERROR},
                                            {"ou=size", LDAP_SIZELIMIT_EXCEEDED},
                                            {"ou=referral", LDAP_REFERRAL},
                                            {"ou=missing", LDAP_NO_SUCH_OBJECT},
                                            {"ou=busy", LDAP_UNAVAILABLE}};
  ScriptedServer server(
      [&](const ScriptedServer::SearchRequest& request, ScriptedServer::Replies& replies) {
        replies.Entry("cn=partial," + request.base, {{"cn", {"partial"}}});
        replies.Done(codes.at(request.base));
      });
  auto client = Client::Connect(ServerOptions{server.url(), "", "", false, 5});
  auto search = [&](const std::string& base) -> std::pair<int32_t, std::string> {
    try {
      client->Search(base, Scope::kSubtree, "(cn=*)", {}, [](Entry&&) {});
    } catch (const PlatformError& error) {
      return {error.number(), error.description()};
    }
    return {0, ""};
  };
  const std::string bad = "One or more errors occurred during processing of command.";
  EXPECT_EQ(search("ou=matching"), std::make_pair(errnum::kBadCommand, bad));
  EXPECT_EQ(search("ou=unwilling"), std::make_pair(errnum::kBadCommand, bad));
  EXPECT_EQ(search("ou=filter"), std::make_pair(errnum::kBadCommand, bad));
  // A result the server cut short is a failure, never a short success.
  EXPECT_EQ(search("ou=size"), std::make_pair(errnum::kBadCommand, bad + " (Size limit exceeded)"));
  EXPECT_EQ(search("ou=referral").first, errnum::kNoSuchObject);
  EXPECT_EQ(
      search("ou=missing"),
      std::make_pair(errnum::kNoSuchObject, std::string("There is no such object on the server.")));
  EXPECT_EQ(search("ou=busy").first, errnum::kServerNotOperational);
  EXPECT_EQ(search("ou=matching").first, errnum::kServerNotOperational);  // dead since "busy"
}

TEST(LdapClientScriptedTest, RangedAttributesAreReadToTheirEnd) {
  const std::string group = "cn=big,ou=groups";
  ScriptedServer server(
      [&](const ScriptedServer::SearchRequest& request, ScriptedServer::Replies& replies) {
        const std::string asked = request.attributes.empty() ? "" : request.attributes[0];
        if (request.base == group && asked == "member;range=2-*") {
          replies.Entry(group, {{"member;range=2-3", {"m2", "m3"}}});
        } else if (request.base == group && asked == "member;range=4-*") {
          replies.Entry(group, {{"member;range=4-*", {"m4"}}});
        } else if (request.base == group || request.base == "ou=groups") {
          replies.Entry(group, {{"cn", {"big"}}, {"member;range=0-1", {"m0", "m1"}}});
        }
        replies.Done(LDAP_SUCCESS);
      });
  auto client = Client::Connect(ServerOptions{server.url(), "", "", false, 5});
  const std::vector<std::string> all = {"m0", "m1", "m2", "m3", "m4"};
  std::vector<Entry> found;
  client->Search("ou=groups", Scope::kSubtree, "(cn=big)", {"cn", "member"},
                 [&](Entry&& entry) { found.push_back(std::move(entry)); });
  ASSERT_EQ(found.size(), 1u);
  ASSERT_NE(Find(found[0], "member"), nullptr);
  EXPECT_EQ(Find(found[0], "member")->values, all);
  EXPECT_EQ(Find(found[0], "cn")->values, std::vector<std::string>{"big"});

  const auto read = client->ReadMany({group}, {"member"});
  ASSERT_TRUE(read[0].has_value());
  ASSERT_NE(Find(*read[0], "member"), nullptr);
  EXPECT_EQ(Find(*read[0], "member")->values, all);
}

// A server that refuses the back-link search (as one that does not know
// memberOf may) gets the list's members asked by RDN value, then and for
// every later list: the refusal is never the run's.
TEST(LdapClientScriptedTest, AServerThatRefusesBackLinkSearchesIsAskedByName) {
  const auto person = [](const std::string& name) {
    return std::vector<Attribute>{{"objectClass", {"user"}},
                                  {"legacyExchangeDN", {"/o=x/cn=" + name}},
                                  {"displayName", {name}}};
  };
  int member_searches = 0;
  ScriptedServer server(
      [&](const ScriptedServer::SearchRequest& request, ScriptedServer::Replies& replies) {
        const bool with_member = std::find(request.attributes.begin(), request.attributes.end(),
                                           "member") != request.attributes.end();
        if (request.base.empty()) {
          replies.Entry("", {{"rootDomainNamingContext", {"dc=x"}}});
        } else if (request.base == "cn=L,dc=x") {  // the list's member values
          replies.Entry("cn=L,dc=x", {{"member", {"cn=S,dc=x", "cn=A,dc=x", "cn=B,dc=x"}}});
        } else if (!with_member) {  // resolution
          replies.Entry("cn=L,dc=x", {{"objectClass", {"group"}},
                                      {"legacyExchangeDN", {"/o=x/cn=l"}},
                                      {"displayName", {"L"}}});
        } else if (++member_searches == 1) {  // the back-link search
          replies.Done(LDAP_INAPPROPRIATE_MATCHING);
          return;
        } else {  // by RDN value: whatever the filter, every object
          auto list = person("S");
          list[0].values = {"group"};
          list.push_back({"member", {"cn=C,dc=x"}});
          replies.Entry("cn=S,dc=x", list);
          for (const char* name : {"A", "B", "C"}) {
            replies.Entry(std::string("cn=") + name + ",dc=x", person(name));
          }
        }
        replies.Done(LDAP_SUCCESS);
      });
  ServerDirectory directory = tarnwick_test::OpenAnonymously(server.url());
  const AddressBook& book = *directory.address_book;
  const auto names = [&](const std::vector<uint32_t>& members) {
    std::vector<std::string> out;
    for (const uint32_t index : members) out.emplace_back(book.entry(index).name);
    return out;
  };
  const std::vector<uint32_t> members = book.Members(book.Resolve("L"));
  EXPECT_EQ(names(members), (std::vector<std::string>{"S", "A", "B"}));
  ASSERT_FALSE(members.empty());
  EntryRef sub;
  sub.index = members.front();
  EXPECT_EQ(names(book.Members(sub)), std::vector<std::string>{"C"});
  EXPECT_EQ(member_searches, 3) << "one refused back-link search, one search by name a list";
}

// ---------------------------------------------------------------------------
// Range parsing and continuation.

TEST(AttributeRangeTest, ParsesTheRangeOptionOnly) {
  auto ranged = ParseRangedName("member;range=0-1499");
  ASSERT_TRUE(ranged);
  EXPECT_EQ(ranged->name, "member");
  EXPECT_EQ(ranged->low, 0u);
  EXPECT_EQ(ranged->high, 1499u);
  ranged = ParseRangedName("member;Range=1500-*");
  ASSERT_TRUE(ranged);
  EXPECT_EQ(ranged->low, 1500u);
  EXPECT_FALSE(ranged->high);
  ranged = ParseRangedName("member;binary;range=3-4;x-opt");
  ASSERT_TRUE(ranged);
  EXPECT_EQ(ranged->name, "member;binary;x-opt");
  for (const char* no : {"member", "member;binary", "member;range=", "member;range=5",
                         "member;range=5-4", "member;range=-4", "member;range=a-*",
                         "member;range=1-2x", "member;range=99999999999999999999-*"}) {
    EXPECT_FALSE(ParseRangedName(no)) << no;
  }
}

TEST(AttributeRangeTest, ContinuationAsksFromTheLastHighAndChecksTheReply) {
  std::vector<std::string> asked;
  auto server = [&](std::vector<std::vector<Attribute>> replies) {
    return [&asked, replies, next = size_t{0}](const std::string& dn,
                                               const std::string& request) mutable {
      asked.push_back(dn + " " + request);
      return next < replies.size() ? replies[next++] : std::vector<Attribute>{};
    };
  };
  Entry entry{"cn=g", {{"cn", {"g"}}, {"Member;range=0-1", {"a", "b"}}}};
  CompleteRangedAttributes(entry, server({{{"member;range=2-3", {"c", "d"}}},
                                          {{"cn", {"g"}}, {"member;range=4-*", {"e"}}}}));
  EXPECT_EQ(asked, (std::vector<std::string>{"cn=g Member;range=2-*", "cn=g Member;range=4-*"}));
  ASSERT_EQ(entry.attributes.size(), 2u);
  EXPECT_EQ(entry.attributes[1].name, "Member");
  EXPECT_EQ(entry.attributes[1].values, (std::vector<std::string>{"a", "b", "c", "d", "e"}));

  // Replies that would lose, repeat or never end the values fail.
  Entry skipped{"cn=g", {{"member;range=0-1", {"a", "b"}}}};
  EXPECT_EQ(ErrorNumberOf([&] {
              CompleteRangedAttributes(skipped, server({{{"member;range=5-*", {"f"}}}}));
            }),
            errnum::kBadCommand);
  Entry repeated{"cn=g", {{"member;range=0-1", {"a", "b"}}}};
  EXPECT_EQ(ErrorNumberOf([&] {
              CompleteRangedAttributes(repeated, server({{{"member;range=0-1", {"a", "b"}}}}));
            }),
            errnum::kBadCommand);
  Entry dropped{"cn=g", {{"member;range=0-1", {"a", "b"}}}};
  EXPECT_EQ(ErrorNumberOf([&] {
              CompleteRangedAttributes(dropped, server({{{"cn", {"g"}}}}));
            }),
            errnum::kBadCommand);
}

}  // namespace
}  // namespace platform::ldap
