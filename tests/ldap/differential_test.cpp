// The same LDIF through both backends: the memory backend reading the file,
// the ldap backend asking a slapd loaded with it. The same command lines
// must give the same standard output, line for line, apart from the first
// line, which names the server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ldap/slapd_support.h"
#include "tests/support/binary_run.h"

namespace {

namespace fs = std::filesystem;
using tarnwick_test::ReadFile;
using tarnwick_test::TestSlapd;

constexpr char kDomain[] = "DC=diff,DC=example";
constexpr char kPerson[] = "CN=Person,CN=Schema,CN=Configuration,DC=diff,DC=example";
constexpr char kGroup[] = "CN=Group,CN=Schema,CN=Configuration,DC=diff,DC=example";
constexpr char kDynamic[] =
    "CN=ms-Exch-Dynamic-Distribution-List,CN=Schema,CN=Configuration,DC=diff,DC=example";
constexpr int kBigPersons = 2500;
constexpr int kPersons = 2600;

std::string PersonDn(int i) { return "CN=Person " + std::to_string(i) + ",OU=People," + kDomain; }
std::string Odn(const std::string& nickname) { return "/o=Diff/cn=Recipients/cn=" + nickname; }

// A list: a group, or a query-based list with `filter` (and `base`).
struct List {
  std::string name;
  std::string nickname;
  bool smtp = true;
  std::vector<std::string> members;  // DNs
  std::string filter;                // a query-based list when not empty
  std::string base;
};

std::string ListDn(const List& list) { return "CN=" + list.name + ",OU=Lists," + kDomain; }

// An organisation of a few thousand objects: 2,500 persons in one group
// and matched by one query-based list (past a server's 1,000-entry size
// limit), lists nested in a cycle, query-based lists with a base DN and a
// bitwise filter, a list without an SMTP address, and a query-based list
// whose filter does not parse.
std::string GeneratedLdif() {
  std::ostringstream out;
  out << "version: 1\n\n";
  out << "dn: " << kDomain << "\nobjectClass: top\nobjectClass: domainDNS\ndc: diff\n\n";
  for (const char* ou : {"People", "Lists", "Small"}) {
    out << "dn: OU=" << ou << "," << kDomain << "\nobjectClass: top\n"
        << "objectClass: organizationalUnit\nou: " << ou << "\n\n";
  }
  for (int i = 0; i < kPersons; ++i) {
    const std::string n = std::to_string(i);
    // The last hundred live in OU=Small, where a query-based list's base DN
    // points.
    const std::string dn =
        i < kBigPersons ? PersonDn(i) : "CN=Person " + n + ",OU=Small," + std::string(kDomain);
    out << "dn: " << dn << "\nobjectClass: top\nobjectClass: person\n"
        << "objectClass: organizationalPerson\nobjectClass: user\ncn: Person " << n
        << "\ndisplayName: Person " << n << "\ngivenName: Given" << n << "\nsn: Family" << n
        << "\nmailNickname: p" << n << "\nobjectCategory: " << kPerson
        << "\nlegacyExchangeDN: " << Odn("p" + n)
        << "\ndepartment: " << (i < kBigPersons ? "Big" : "Small")
        << "\nmsExchRecipientTypeDetails: " << (i % 7 == 0 ? 6 : 1) << "\ntitle: Title " << n
        << "\n";
    if (i == kPersons - 1) out << "msExchHideFromAddressLists: TRUE\n";
    if (i % 50 != 49) {
      out << "mail: p" << n << "@diff.example\nproxyAddresses: SMTP:p" << n
          << "@diff.example\nproxyAddresses: smtp:person" << n << "@diff.example\n";
    }
    out << "\n";
  }
  std::vector<List> lists;
  List big{"Big DL", "big-dl", true, {}, "", ""};
  for (int i = 0; i < kBigPersons; ++i) big.members.push_back(PersonDn(i));
  lists.push_back(big);
  lists.push_back(
      {"Big Query", "big-query", true, {}, "(&(objectCategory=person)(department=Big))", ""});
  lists.push_back({"Small Bits",
                   "small-bits",
                   true,
                   {},
                   "(&(objectCategory=person)(msExchRecipientTypeDetails:1.2.840.113556.1.4.803:="
                   "2))",
                   std::string("OU=Small,") + kDomain});
  lists.push_back(
      {"Broken Query", "broken-query", true, {}, "(&(objectCategory=person)(department=Big)", ""});
  // A class's short name in camel case, and "name", which a server outside
  // Active Directory holds as a supertype of cn, sn and givenName.
  lists.push_back({"Category Query",
                   "category-query",
                   true,
                   {},
                   "(&(objectCategory=msExchDynamicDistributionList)(mailNickname=small-bits))",
                   ""});
  lists.push_back({"Name Query",
                   "name-query",
                   true,
                   {},
                   "(&(objectCategory=person)(|(name=Family1*)(name=Person 255*)))",
                   ""});
  List mid_a{"Mid A", "mid-a", true, {}, "", ""};
  List mid_b{"Mid B", "mid-b", true, {}, "", ""};
  for (int i = kBigPersons; i < kBigPersons + 50; ++i) {
    mid_a.members.push_back("CN=Person " + std::to_string(i) + ",OU=Small," + kDomain);
  }
  // A member written in another spelling of its DN.
  mid_a.members.front() = "cn=person 2500 , ou=small,dc=DIFF,dc=example";
  for (int i = kBigPersons + 50; i < kPersons; ++i) {
    mid_b.members.push_back("CN=Person " + std::to_string(i) + ",OU=Small," + kDomain);
  }
  const List no_mail{"No Mail List", "no-mail", false, {PersonDn(3), PersonDn(49)}, "", ""};
  mid_a.members.push_back(ListDn(mid_b));
  mid_b.members.push_back(ListDn(mid_a));  // a cycle
  mid_b.members.push_back(ListDn(lists[2]));
  mid_b.members.push_back("CN=Nobody,OU=Lists," + std::string(kDomain));  // names no object
  lists.push_back(mid_a);
  lists.push_back(mid_b);
  lists.push_back(no_mail);
  lists.push_back({"Top", "top", true, {ListDn(mid_a), ListDn(no_mail), ListDn(lists[3])}, "", ""});
  for (const List& list : lists) {
    const bool query = !list.filter.empty();
    out << "dn: " << ListDn(list) << "\nobjectClass: top\nobjectClass: "
        << (query ? "msExchDynamicDistributionList" : "group") << "\ncn: " << list.name
        << "\ndisplayName: " << list.name << "\nmailNickname: " << list.nickname
        << "\nobjectCategory: " << (query ? kDynamic : kGroup)
        << "\nlegacyExchangeDN: " << Odn(list.nickname) << "\n";
    if (list.smtp) {
      out << "mail: " << list.nickname << "@diff.example\nproxyAddresses: SMTP:" << list.nickname
          << "@diff.example\n";
    }
    if (query) out << "msExchDynamicDLFilter: " << list.filter << "\n";
    if (!list.base.empty()) out << "msExchDynamicDLBaseDN: " << list.base << "\n";
    for (const std::string& member : list.members) out << "member: " << member << "\n";
    out << "\n";
  }
  return out.str();
}

class Differential : public ::testing::Test {
 protected:
  Differential()
      : dir_(tarnwick_test::ProgramFolder(
            "tarnwick-diff", ::testing::UnitTest::GetInstance()->current_test_info()->name(),
            TARNWICK_BINARY)) {}
  ~Differential() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }

  // Standard output of one run with the profile and alias, without its
  // first line (which names the server).
  std::string Run(const std::string& profile, const std::string& alias, const std::string& lists) {
    const std::string command = "cd '" + dir_.string() + "' && env LC_ALL=C ./tarnwick /s " +
                                profile + " /a " + alias + " /l '" + lists + "' >out 2>err";
    EXPECT_EQ(tarnwick_test::RunShell(command), 0) << command << "\n" << ReadFile(dir_ / "err");
    EXPECT_EQ(ReadFile(dir_ / "err"), "") << command;
    const std::string out = ReadFile(dir_ / "out");
    const size_t first = out.find('\n');
    return first == std::string::npos ? out : out.substr(first + 1);
  }

  void ExpectSameOnBothBackends(const std::string& alias, const std::vector<std::string>& runs) {
    for (const std::string& lists : runs) {
      const std::string memory = Run("memory.json", alias, lists);
      const std::string ldap = Run("ldap.json", alias, lists);
      EXPECT_EQ(ldap, memory) << "for /l " << lists;
      EXPECT_NE(memory.find("complete"), std::string::npos);
    }
  }

  fs::path dir_;
};

std::string CountOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return std::to_string(count);
}

TEST_F(Differential, ExampleOrganisationGivesTheSameLog) {
  TARNWICK_FIXTURE_URL_OR_SKIP(url);
  // The example profile, with its folders, over the file and over the
  // server loaded from the same file.
  std::string profile = ReadFile(fs::path(TARNWICK_SOURCE_DIR) / "examples/harbor/profile.json");
  const std::string key = "\"directory\": \"directory.ldif\"";
  const size_t at = profile.find(key);
  ASSERT_NE(at, std::string::npos);
  fs::copy_file(fs::path(TARNWICK_SOURCE_DIR) / "examples/harbor/directory.ldif",
                dir_ / "directory.ldif");
  Write("memory.json", profile);
  Write("ldap.json", profile.replace(at, key.size(), "\"directory\": \"" + url + "\""));
  ExpectSameOnBothBackends("ana", {"Sales Lists;all-staff@harbor.example;Loop A",
                                   "nobody@harbor.example;No Such Name;Ana Lima;ben;chloe",
                                   "loop-b@harbor.example;sales-everyone@harbor.example"});
  ExpectSameOnBothBackends("ben", {"Sales Team"});
}

TEST_F(Differential, GeneratedOrganisationGivesTheSameLogPastTheSizeLimit) {
  const std::string ldif = GeneratedLdif();
  Write("directory.ldif", ldif);
  TestSlapd server({dir_ / "directory.ldif"});
  TARNWICK_REQUIRE_RUNNING(server);
  Write("memory.json", R"({"directory": "directory.ldif"})");
  Write("ldap.json", R"({"directory": ")" + server.url() + R"("})");
  ExpectSameOnBothBackends("p1", {"top@diff.example", "Broken Query;No Mail List;small-bits",
                                  "category-query@diff.example;name-query@diff.example",
                                  "unknown@diff.example;Person 12;person13@diff.example;Given4"});
  // The camel-case class name and "name" select on the server what they
  // select in the file (not nothing, and not every Family1... surname).
  const std::string picked =
      Run("ldap.json", "p1", "category-query@diff.example;name-query@diff.example");
  EXPECT_NE(picked.find("query returned 1 rows"), std::string::npos) << picked;
  EXPECT_NE(picked.find("query returned 11 rows"), std::string::npos) << picked;
  // Both 2,500-member lists come out whole, past the server's limit of
  // 1,000 entries a search.
  const std::string big_dl = Run("ldap.json", "p1", "big-dl@diff.example");
  EXPECT_EQ(CountOf(big_dl, "reading properties for Person "), std::to_string(kBigPersons));
  EXPECT_EQ(big_dl, Run("memory.json", "p1", "big-dl@diff.example"));
  const std::string big_query = Run("ldap.json", "p1", "big-query@diff.example");
  EXPECT_NE(big_query.find("query returned 2500 rows"), std::string::npos)
      << big_query.substr(0, 800);
  EXPECT_EQ(CountOf(big_query, "adding record for Person "), std::to_string(kBigPersons));
  EXPECT_EQ(big_query, Run("memory.json", "p1", "big-query@diff.example"));
}

// A server that keeps no memberOf back-link: every member comes through
// the searches by RDN value, with the same log.
TEST_F(Differential, ServerWithoutBackLinksGivesTheSameLog) {
  Write("directory.ldif", GeneratedLdif());
  TestSlapd server({dir_ / "directory.ldif"}, "", TestSlapd::MemberOf::kNone);
  TARNWICK_REQUIRE_RUNNING(server);
  Write("memory.json", R"({"directory": "directory.ldif"})");
  Write("ldap.json", R"({"directory": ")" + server.url() + R"("})");
  ExpectSameOnBothBackends("p1", {"top@diff.example;big-dl@diff.example", "No Mail List"});
}

}  // namespace
