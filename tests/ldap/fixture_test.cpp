// What the ldap backend relies on in the test slapd, shown through libldap
// itself: if one of these breaks, the backend's own tests would fail for a
// reason that is not theirs.
#include <ldap.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/ldap/slapd_support.h"

namespace tarnwick_test {
namespace {

namespace fs = std::filesystem;

struct LdapCloser {
  void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};
using Connection = std::unique_ptr<LDAP, LdapCloser>;

struct MessageFreer {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using Message = std::unique_ptr<LDAPMessage, MessageFreer>;

// A connection with time-outs of `timeout_s` for connecting and for each
// result, and a simple bind; `bind_rc` gets the bind's result code.
Connection Connect(const std::string& url, const std::string& dn, const std::string& password,
                   int* bind_rc, int timeout_s = 10) {
  LDAP* raw = nullptr;
  *bind_rc = ldap_initialize(&raw, url.c_str());
  if (*bind_rc != LDAP_SUCCESS) return Connection();
  Connection ld(raw);
  const int version = LDAP_VERSION3;
  ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld.get(), LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  timeval tv{timeout_s, 0};
  ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &tv);
  ldap_set_option(ld.get(), LDAP_OPT_TIMEOUT, &tv);
  berval cred{static_cast<ber_len_t>(password.size()), const_cast<char*>(password.data())};
  *bind_rc = ldap_sasl_bind_s(ld.get(), dn.empty() ? nullptr : dn.c_str(), LDAP_SASL_SIMPLE, &cred,
                              nullptr, nullptr, nullptr);
  return ld;
}

struct SearchResult {
  int rc = LDAP_OTHER;  // the result code of the (last) search
  std::vector<std::string> dns;
  std::vector<std::vector<std::string>> values;  // of `attribute`, per entry
  int pages = 0;
};

// Searches the subtree; unpaged when page_size is 0, else page by page
// (RFC 2696) until the server's cookie is empty.
SearchResult Search(LDAP* ld, const std::string& base, const std::string& filter,
                    const std::string& attribute = "1.1", int page_size = 0,
                    int scope = LDAP_SCOPE_SUBTREE) {
  SearchResult out;
  berval cookie{0, nullptr};
  char* attrs[] = {const_cast<char*>(attribute.c_str()), nullptr};
  do {
    LDAPControl* page = nullptr;
    LDAPControl* controls[2] = {nullptr, nullptr};
    if (page_size > 0) {
      if (ldap_create_page_control(ld, page_size, &cookie, 0, &page) != LDAP_SUCCESS) {
        out.rc = LDAP_LOCAL_ERROR;
        break;
      }
      controls[0] = page;
    }
    LDAPMessage* raw = nullptr;
    timeval tv{30, 0};
    const int rc = ldap_search_ext_s(ld, base.c_str(), scope, filter.c_str(), attrs, 0, controls,
                                     nullptr, &tv, LDAP_NO_LIMIT, &raw);
    Message result(raw);
    if (page != nullptr) ldap_control_free(page);
    ber_memfree(cookie.bv_val);
    cookie = {0, nullptr};
    if (result == nullptr) {
      out.rc = rc;
      break;
    }
    ++out.pages;
    for (LDAPMessage* e = ldap_first_entry(ld, result.get()); e != nullptr;
         e = ldap_next_entry(ld, e)) {
      char* dn = ldap_get_dn(ld, e);
      out.dns.push_back(dn != nullptr ? dn : "");
      ldap_memfree(dn);
      std::vector<std::string> values;
      if (berval** vals = ldap_get_values_len(ld, e, attribute.c_str()); vals != nullptr) {
        for (berval** v = vals; *v != nullptr; ++v) values.emplace_back((*v)->bv_val, (*v)->bv_len);
        ldap_value_free_len(vals);
      }
      out.values.push_back(std::move(values));
    }
    LDAPControl** response_controls = nullptr;
    int result_code = LDAP_OTHER;
    if (ldap_parse_result(ld, result.get(), &result_code, nullptr, nullptr, nullptr,
                          &response_controls, 0) != LDAP_SUCCESS) {
      out.rc = LDAP_DECODING_ERROR;
      break;
    }
    out.rc = result_code;
    if (page_size > 0 && result_code == LDAP_SUCCESS) {
      LDAPControl* response =
          ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, response_controls, nullptr);
      ber_int_t estimate = 0;
      if (response == nullptr ||
          ldap_parse_pageresponse_control(ld, response, &estimate, &cookie) != LDAP_SUCCESS) {
        out.rc = LDAP_CONTROL_NOT_FOUND;
      }
    }
    ldap_controls_free(response_controls);
  } while (out.rc == LDAP_SUCCESS && cookie.bv_len > 0);
  ber_memfree(cookie.bv_val);
  return out;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The DNs of an LDIF file's entries, in file order (the fixture files keep
// each DN on one line).
std::vector<std::string> LdifDns(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> dns;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("dn: ", 0) == 0) dns.push_back(line.substr(4));
  }
  return dns;
}

const fs::path kHarbor = fs::path(TARNWICK_SOURCE_DIR) / "examples/harbor/directory.ldif";
constexpr char kHarborBase[] = "DC=harbor,DC=example";

// A scratch file removed with the object.
class ScratchFile {
 public:
  ScratchFile(const std::string& name, const std::string& text)
      : path_(fs::temp_directory_path() / (std::to_string(::getpid()) + "-" + name)) {
    std::ofstream(path_) << text;
  }
  ~ScratchFile() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The shared server holds the example organisation.

TEST(SharedSlapdTest, RootDseNamesTheForestRootAndBindsWork) {
  TARNWICK_FIXTURE_URL_OR_SKIP(url);
  int rc = 0;
  Connection anonymous = Connect(url, "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  const SearchResult dse =
      Search(anonymous.get(), "", "(objectClass=*)", "rootDomainNamingContext", 0, LDAP_SCOPE_BASE);
  ASSERT_EQ(dse.rc, LDAP_SUCCESS) << ldap_err2string(dse.rc);
  ASSERT_EQ(dse.values.size(), 1u);
  EXPECT_EQ(dse.values[0], std::vector<std::string>{kHarborBase});

  Connection admin = Connect(url, std::string("CN=admin,") + kHarborBase, kAdminPassword, &rc);
  EXPECT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  Connection wrong = Connect(url, std::string("CN=admin,") + kHarborBase, "not-it", &rc);
  EXPECT_EQ(rc, LDAP_INVALID_CREDENTIALS) << ldap_err2string(rc);
}

TEST(SharedSlapdTest, TextAttributesMatchWithoutRegardToCase) {
  TARNWICK_FIXTURE_URL_OR_SKIP(url);
  int rc = 0;
  Connection ld = Connect(url, "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  const std::string ana = "cn=Ana Lima,ou=People,dc=harbor,dc=example";
  struct Case {
    const char* filter;
    std::vector<std::string> dns;
  };
  const Case cases[] = {
      {"(mail=ANA.LIMA@Harbor.Example)", {ana}},
      {"(proxyAddresses=smtp:ANA@HARBOR.EXAMPLE)", {ana}},
      {"(legacyExchangeDN=/O=HARBOR/OU=First Administrative Group/cn=Recipients/CN=ANA)", {ana}},
      {"(mailNickname=ANA)", {ana}},
      {"(displayName=*LIMA)", {ana}},
      {"(&(objectClass=USER)(department=sales)(givenName=a*))", {ana}},
      {"(objectCategory=cn=person,cn=schema,cn=configuration,dc=HARBOR,dc=example)",
       {ana, "cn=Ben Ortiz,ou=People,dc=harbor,dc=example",
        "cn=Chloe Park,ou=People,dc=harbor,dc=example", "cn=Dev Rao,ou=People,dc=harbor,dc=example",
        "cn=Emil Stone,ou=People,dc=harbor,dc=example"}},
      {"(member=cn=ana lima,ou=people,dc=harbor,dc=example)",
       {"cn=Sales Team,ou=Lists,dc=harbor,dc=example"}},
  };
  for (const Case& c : cases) {
    const SearchResult r = Search(ld.get(), kHarborBase, c.filter);
    EXPECT_EQ(r.rc, LDAP_SUCCESS) << c.filter << ": " << ldap_err2string(r.rc);
    EXPECT_EQ(r.dns, c.dns) << c.filter;
  }
  // libldap refuses the lax filter forms before sending them: the backend
  // must rewrite them into strict RFC 4515 text.
  EXPECT_EQ(Search(ld.get(), kHarborBase, "((mail=ana.lima@harbor.example))").rc,
            LDAP_FILTER_ERROR);
}

TEST(SharedSlapdTest, EntriesAndValuesComeBackInFileOrder) {
  TARNWICK_FIXTURE_URL_OR_SKIP(url);
  int rc = 0;
  Connection ld = Connect(url, "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  const SearchResult all = Search(ld.get(), kHarborBase, "(objectClass=*)");
  ASSERT_EQ(all.rc, LDAP_SUCCESS) << ldap_err2string(all.rc);
  const std::vector<std::string> file_dns = LdifDns(kHarbor);
  ASSERT_EQ(all.dns.size(), file_dns.size());
  for (size_t i = 0; i < file_dns.size(); ++i) {
    // slapd returns entry DNs with its schema's spelling of the attribute
    // types (cn, ou, dc) and the values as written.
    EXPECT_EQ(Lower(all.dns[i]), Lower(file_dns[i])) << i;
  }
  EXPECT_EQ(all.dns[3], "cn=Ana Lima,ou=People,dc=harbor,dc=example");

  // An indexed filter's candidates keep load order too.
  const SearchResult lists = Search(ld.get(), kHarborBase, "(objectClass=group)");
  EXPECT_EQ(lists.dns, (std::vector<std::string>{"cn=Sales Team,ou=Lists,dc=harbor,dc=example",
                                                 "cn=All Staff,ou=Lists,dc=harbor,dc=example",
                                                 "cn=Loop A,ou=Lists,dc=harbor,dc=example",
                                                 "cn=Loop B,ou=Lists,dc=harbor,dc=example"}));

  // DN-valued attributes keep the text and order of the file.
  const SearchResult staff = Search(ld.get(), kHarborBase, "(cn=All Staff)", "member");
  ASSERT_EQ(staff.values.size(), 1u);
  EXPECT_EQ(staff.values[0], (std::vector<std::string>{
                                 "CN=Sales Team,OU=Lists,DC=harbor,DC=example",
                                 "CN=Chloe Park,OU=People,DC=harbor,DC=example",
                                 "CN=Emil Stone,OU=People,DC=harbor,DC=example",
                                 "CN=Dev Rao,OU=People,DC=harbor,DC=example",
                             }));
}

// A private server over a generated organisation of more persons than one
// unpaged search may return.

constexpr int kPersons = 1234;

std::string LargeOrganisation() {
  std::string ldif = "version: 1\n\n";
  ldif += "dn: DC=big,DC=example\nobjectClass: top\nobjectClass: domainDNS\ndc: big\n\n";
  ldif += "dn: OU=People,DC=big,DC=example\nobjectClass: organizationalUnit\nou: People\n\n";
  for (int i = 0; i < kPersons; ++i) {
    // Bit 16 on every odd person; bit 2^32 on person 7 alone, so that a
    // filter on it shows the rules work on 64-bit values.
    const long long details = (i % 2 == 1 ? 16 : 0) + (i == 7 ? 4294967296LL : 0) + 1;
    ldif += "dn: CN=Person " + std::to_string(i) + ",OU=People,DC=big,DC=example\n" +
            "objectClass: top\nobjectClass: person\nobjectClass: organizationalPerson\n"
            "objectClass: user\ncn: Person " +
            std::to_string(i) + "\nsn: Family\nmail: p" + std::to_string(i) +
            "@big.example\nmsExchRecipientTypeDetails: " + std::to_string(details) + "\n\n";
  }
  return ldif;
}

// A private server holding LargeOrganisation(), and an anonymous connection
// to it.
class LargeOrganisationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TARNWICK_REQUIRE_RUNNING(server_);
    int rc = 0;
    ld_ = Connect(server_.url(), "", "", &rc);
    ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  }

  TestSlapd server_ = TestSlapd::FromLdif(LargeOrganisation());
  Connection ld_;
};

TEST_F(LargeOrganisationTest, UnpagedSearchIsCutAtOneThousandAndPagedOneReturnsAll) {
  const SearchResult unpaged = Search(ld_.get(), "DC=big,DC=example", "(objectClass=person)");
  EXPECT_EQ(unpaged.rc, LDAP_SIZELIMIT_EXCEEDED) << ldap_err2string(unpaged.rc);
  EXPECT_EQ(unpaged.dns.size(), 1000u);

  const SearchResult paged =
      Search(ld_.get(), "DC=big,DC=example", "(objectClass=person)", "1.1", 1000);
  ASSERT_EQ(paged.rc, LDAP_SUCCESS) << ldap_err2string(paged.rc);
  EXPECT_EQ(paged.pages, 2);
  ASSERT_EQ(paged.dns.size(), static_cast<size_t>(kPersons));
  for (int i = 0; i < kPersons; ++i) {
    ASSERT_EQ(paged.dns[i], "cn=Person " + std::to_string(i) + ",ou=People,dc=big,dc=example")
        << "not in load order at " << i;
  }
}

TEST_F(LargeOrganisationTest, BitwiseMatchingRulesWorkOnIntegers) {
  struct Case {
    const char* filter;
    size_t count;
  };
  const Case cases[] = {
      {"(msExchRecipientTypeDetails:1.2.840.113556.1.4.803:=16)", kPersons / 2},
      {"(msExchRecipientTypeDetails:integerBitAndMatch:=17)", kPersons / 2},
      {"(msExchRecipientTypeDetails:1.2.840.113556.1.4.803:=4294967296)", 1},
      {"(msExchRecipientTypeDetails:1.2.840.113556.1.4.804:=48)", kPersons / 2},
      {"(msExchRecipientTypeDetails:1.2.840.113556.1.4.804:=2)", 0},
      // An entry without the attribute meets the NOT: the domain and OU.
      {"(!(msExchRecipientTypeDetails=1))", kPersons / 2 + 2},
  };
  for (const Case& c : cases) {
    const SearchResult r = Search(ld_.get(), "DC=big,DC=example", c.filter, "1.1", 1000);
    EXPECT_EQ(r.rc, LDAP_SUCCESS) << c.filter << ": " << ldap_err2string(r.rc);
    EXPECT_EQ(r.dns.size(), c.count) << c.filter;
  }
}

// The back-link the backend asks a list's members by: one indexed search
// "(memberOf=<list DN>)" answers for all of them. It is operational, so
// a search for every user attribute reads what the LDIF file holds.
TEST(SharedSlapdTest, GroupsAreBackLinkedFromTheirMembers) {
  TARNWICK_FIXTURE_URL_OR_SKIP(url);
  int rc = 0;
  Connection ld = Connect(url, "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  const SearchResult team =
      Search(ld.get(), kHarborBase, "(memberOf=cn=sales team, ou=lists,dc=harbor,dc=example)");
  ASSERT_EQ(team.rc, LDAP_SUCCESS) << ldap_err2string(team.rc);
  EXPECT_EQ(team.dns, (std::vector<std::string>{"cn=Ana Lima,ou=People,dc=harbor,dc=example",
                                                "cn=Ben Ortiz,ou=People,dc=harbor,dc=example"}));
  // Not among the user attributes ("*").
  char star[] = "*";
  char* all[] = {star, nullptr};
  LDAPMessage* raw = nullptr;
  ASSERT_EQ(
      ldap_search_ext_s(ld.get(), "CN=Ana Lima,OU=People,DC=harbor,DC=example", LDAP_SCOPE_BASE,
                        "(objectClass=*)", all, 0, nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &raw),
      LDAP_SUCCESS);
  Message everything(raw);
  LDAPMessage* entry = ldap_first_entry(ld.get(), everything.get());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(ldap_get_values_len(ld.get(), entry, "memberOf"), nullptr);
  berval** mail = ldap_get_values_len(ld.get(), entry, "mail");
  EXPECT_EQ(ldap_count_values_len(mail), 1);
  ldap_value_free_len(mail);
  const SearchResult links = Search(ld.get(), "CN=Ana Lima,OU=People,DC=harbor,DC=example",
                                    "(objectClass=*)", "memberOf", 0, LDAP_SCOPE_BASE);
  ASSERT_EQ(links.values.size(), 1u);
  EXPECT_NE(std::find(links.values[0].begin(), links.values[0].end(),
                      "CN=Sales Team,OU=Lists,DC=harbor,DC=example"),
            links.values[0].end());
}

TEST(PrivateSlapdTest, BackLinksAreAsTheFileSaysOrNone) {
  const std::string ldif =
      "dn: DC=b,DC=example\nobjectClass: domainDNS\ndc: b\n\n"
      "dn: CN=P,DC=b,DC=example\nobjectClass: container\ncn: P\n"
      "memberOf: CN=Other,DC=b,DC=example\n\n"
      "dn: CN=G,DC=b,DC=example\nobjectClass: group\ncn: G\nmember: CN=P,DC=b,DC=example\n";
  const auto members_of = [](const TestSlapd& server, const std::string& group) {
    int rc = 0;
    Connection ld = Connect(server.url(), "", "", &rc);
    return Search(ld.get(), "DC=b,DC=example", "(memberOf=" + group + ")").dns;
  };
  // A file that writes its own back-links gets those alone.
  TestSlapd own = TestSlapd::FromLdif(ldif);
  TARNWICK_REQUIRE_RUNNING(own);
  EXPECT_EQ(members_of(own, "CN=Other,DC=b,DC=example"),
            std::vector<std::string>{"cn=P,dc=b,dc=example"});
  EXPECT_TRUE(members_of(own, "CN=G,DC=b,DC=example").empty());
  // Without them, the fixture writes them; with --no-memberof, nothing.
  std::string plain = ldif;
  plain.erase(plain.find("memberOf:"), std::string("memberOf: CN=Other,DC=b,DC=example\n").size());
  TestSlapd kept = TestSlapd::FromLdif(plain);
  TARNWICK_REQUIRE_RUNNING(kept);
  EXPECT_EQ(members_of(kept, "CN=G,DC=b,DC=example"),
            std::vector<std::string>{"cn=P,dc=b,dc=example"});
  TestSlapd none = TestSlapd::FromLdif(plain, "", TestSlapd::MemberOf::kNone);
  TARNWICK_REQUIRE_RUNNING(none);
  EXPECT_TRUE(members_of(none, "CN=G,DC=b,DC=example").empty());
}

TEST(PrivateSlapdTest, MissingParentsAreMadeAndBadInputIsNamed) {
  // No domain or OU entry, a version line, CR LF line ends, a folded line.
  ScratchFile orphan("orphan.ldif",
                     "version: 1\r\n\r\n"
                     "dn: CN=Solo,OU=Deep,OU=People,DC=o,DC=example\r\n"
                     "objectClass: user\r\ncn: Solo\r\nmail: so\r\n lo@o.example\r\n");
  // A second file whose version line has no blank line after it.
  ScratchFile second("second.ldif",
                     "version: 1\ndn: CN=Other,OU=People,DC=o,DC=example\nobjectClass: user\n"
                     "cn: Other\nmail: other@o.example\n");
  TestSlapd server({orphan.path(), second.path()});
  TARNWICK_REQUIRE_RUNNING(server);
  int rc = 0;
  Connection ld = Connect(server.url(), "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  const SearchResult all = Search(ld.get(), "DC=o,DC=example", "(objectClass=*)", "mail");
  ASSERT_EQ(all.rc, LDAP_SUCCESS) << ldap_err2string(all.rc);
  EXPECT_EQ(all.dns, (std::vector<std::string>{"dc=o,dc=example", "ou=People,dc=o,dc=example",
                                               "ou=Deep,ou=People,dc=o,dc=example",
                                               "cn=Solo,ou=Deep,ou=People,dc=o,dc=example",
                                               "cn=Other,ou=People,dc=o,dc=example"}));
  ASSERT_EQ(all.values.size(), 5u);
  EXPECT_EQ(all.values[3], std::vector<std::string>{"solo@o.example"});

  // An attribute no schema knows: the start fails and says what slapadd said.
  ScratchFile bad("bad.ldif", "dn: DC=bad,DC=example\nobjectClass: domainDNS\nnoSuchThing: x\n");
  TestSlapd refused({bad.path()});
  if (refused.state() != TestSlapd::State::kNotInstalled) {
    EXPECT_EQ(refused.state(), TestSlapd::State::kFailed);
    EXPECT_NE(refused.error().find("slapadd could not load"), std::string::npos) << refused.error();
    EXPECT_NE(Lower(refused.error()).find("nosuchthing"), std::string::npos) << refused.error();
    EXPECT_FALSE(fs::exists(refused.dir()));
  }

  const ScriptResult no_file = RunFixtureScript({"start", server.dir().string() + "-x", "/nope"});
  EXPECT_EQ(no_file.status, 1);
  EXPECT_NE(no_file.output.find("cannot read LDIF file /nope"), std::string::npos)
      << no_file.output;
}

TEST(PrivateSlapdTest, StoppedServerFailsTheConnectionAndFolderIsGone) {
  TestSlapd server({kHarbor});
  TARNWICK_REQUIRE_RUNNING(server);
  const std::string url = server.url();
  int rc = 0;
  Connection ld = Connect(url, "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  ASSERT_EQ(Search(ld.get(), kHarborBase, "(cn=Ana Lima)").dns.size(), 1u);

  ASSERT_TRUE(server.Stop()) << server.error();
  EXPECT_FALSE(fs::exists(server.dir()));
  EXPECT_EQ(Search(ld.get(), kHarborBase, "(cn=Ana Lima)").rc, LDAP_SERVER_DOWN);
  Connection again = Connect(url, "", "", &rc);
  EXPECT_EQ(rc, LDAP_SERVER_DOWN) << ldap_err2string(rc);
  EXPECT_TRUE(server.Stop());
}

TEST(PrivateSlapdTest, FrozenServerAnswersNothingUntilThawedAndStillStops) {
  TestSlapd server =
      TestSlapd::FromLdif("dn: DC=frozen,DC=example\nobjectClass: domainDNS\ndc: frozen\n");
  TARNWICK_REQUIRE_RUNNING(server);
  ASSERT_TRUE(server.Freeze()) << server.error();
  int rc = 0;
  Connection frozen = Connect(server.url(), "", "", &rc, 1);
  EXPECT_EQ(rc, LDAP_TIMEOUT) << ldap_err2string(rc);

  ASSERT_TRUE(server.Thaw()) << server.error();
  Connection thawed = Connect(server.url(), "", "", &rc);
  ASSERT_EQ(rc, LDAP_SUCCESS) << ldap_err2string(rc);
  EXPECT_EQ(Search(thawed.get(), "DC=frozen,DC=example", "(dc=frozen)").dns.size(), 1u);

  // A frozen server holds SIGTERM until it goes on: stop must not need the
  // SIGKILL that follows a server that never ends.
  ASSERT_TRUE(server.Freeze()) << server.error();
  const ScriptResult stop = RunFixtureScript({"stop", server.dir().string()});
  EXPECT_EQ(stop.status, 0);
  EXPECT_EQ(stop.output, "");
  EXPECT_FALSE(fs::exists(server.dir()));
  EXPECT_FALSE(server.Freeze());
}

TEST(PrivateSlapdTest, SilentServerAcceptsButNeverAnswers) {
  TestSlapd silent = TestSlapd::Silent();
  ASSERT_EQ(silent.state(), TestSlapd::State::kRunning) << silent.error();
  int rc = 0;
  // The connection is made (no LDAP_SERVER_DOWN); the bind's answer never
  // comes, so the result time-out ends it.
  Connection ld = Connect(silent.url(), "", "", &rc, 1);
  EXPECT_EQ(rc, LDAP_TIMEOUT) << ldap_err2string(rc);
}

}  // namespace
}  // namespace tarnwick_test
