#include "platform/ldap/ldap_record.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/address_book.h"
#include "platform/dn.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/ldap_filter.h"
#include "tests/ldap/slapd_support.h"

namespace platform::ldap {
namespace {

std::vector<std::string> Texts(std::span<const std::string_view> values) {
  return {values.begin(), values.end()};
}

TEST(LdapRecordTest, ReadsAsAnLdifObjectReads) {
  const LdapRecord record("cn=Lima\\, Ana,ou=People,dc=harbor,dc=example",
                          {{"mail", {"ana@harbor.example"}},
                           {"proxyAddresses", {"SMTP:ana@harbor.example"}},
                           {"Mail", {"lima@harbor.example"}},
                           {"department", {}}});
  EXPECT_EQ(Texts(record.Values("MAIL")),
            (std::vector<std::string>{"ana@harbor.example", "lima@harbor.example"}))
      << "values under one name in any case are one attribute";
  EXPECT_EQ(record.First("proxyaddresses"), "SMTP:ana@harbor.example");
  EXPECT_TRUE(record.Values("department").empty()) << "an attribute without values is absent";
  EXPECT_EQ(record.RdnValue(), "Lima, Ana");
  EXPECT_EQ(Texts(record.Values("name")), (std::vector<std::string>{"Lima, Ana"}))
      << "name is the RDN value, never the server's supertype";
  EXPECT_EQ(record.First("distinguishedName"), "cn=Lima\\, Ana,ou=People,dc=harbor,dc=example");
  EXPECT_EQ(record.DnKey(), platform::DnKey("CN=Lima\\2C Ana, OU=People,DC=Harbor,DC=Example"));
}

std::string Sent(const std::string& filter, bool active_directory = false) {
  return ServerFilter(*ldapfilter::Parse(filter),
                      ServerDialect{"CN=Schema,CN=Configuration,DC=x", active_directory});
}

TEST(ServerFilterTest, IsStrictWithCategoryShortNamesExpanded) {
  EXPECT_EQ(Sent("((mail=a@x))"), "(mail=a@x)");
  EXPECT_EQ(Sent("(!cn=x)"), "(!(cn=x))");
  EXPECT_EQ(Sent("(&(objectCategory=person)(objectClass=user))"),
            "(&(objectCategory=CN=person,CN=Schema,CN=Configuration,DC=x)(objectClass=user))");
  EXPECT_EQ(Sent("(OBJECTCATEGORY=Group)"),
            "(OBJECTCATEGORY=CN=Group,CN=Schema,CN=Configuration,DC=x)")
      << "the attribute in any case";
  // A class named in camel case may be stored under its hyphenated name.
  EXPECT_EQ(Sent("(objectCategory=msExchDynamicDistributionList)"),
            "(|(objectCategory=CN=msExchDynamicDistributionList,CN=Schema,CN=Configuration,DC=x)"
            "(objectCategory=CN=ms-Exch-Dynamic-Distribution-List,CN=Schema,CN=Configuration,"
            "DC=x))");
  // A whole DN, a presence test, a substring and other operators stay.
  EXPECT_EQ(Sent("(objectCategory=CN=Person,CN=Schema,DC=y)"),
            "(objectCategory=CN=Person,CN=Schema,DC=y)");
  EXPECT_EQ(Sent("(objectCategory=*)"), "(objectCategory=*)");
  EXPECT_EQ(Sent("(objectCategory=pers*)"), "(objectCategory=pers*)");
  EXPECT_EQ(Sent("(objectCategory>=person)"), "(objectCategory>=person)");
  EXPECT_EQ(Sent("(objectCategoryX=person)"), "(objectCategoryX=person)");
  // A value that only looks like an item stays a value.
  EXPECT_EQ(Sent("(description=\\28objectCategory=person\\29)"),
            "(description=\\28objectCategory=person\\29)");
  EXPECT_EQ(Sent("(&(a=1)(|(objectCategory=person)(!(objectCategory=group))))"),
            "(&(a=1)(|(objectCategory=CN=person,CN=Schema,CN=Configuration,DC=x)"
            "(!(objectCategory=CN=group,CN=Schema,CN=Configuration,DC=x))))");
}

TEST(ServerFilterTest, NameAndDistinguishedNameMeanWhatTheyMeanInAFile) {
  // Outside Active Directory "name" is a supertype of cn, sn, givenName...:
  // sent as it is, "(name=Lima*)" would match a person by surname.
  EXPECT_EQ(Sent("(!(name=SystemMailbox{*))"),
            "(!(|(cn=SystemMailbox{*)(ou=SystemMailbox{*)(o=SystemMailbox{*)(dc=SystemMailbox{*)"
            "(l=SystemMailbox{*)(uid=SystemMailbox{*)))");
  EXPECT_EQ(Sent("(distinguishedName=CN=a,DC=x)"), "(entryDN=CN=a,DC=x)");
  EXPECT_EQ(Sent("(cn:dn:=a)"), "(cn:dn:=a)") << "extensible items stay";
  // Active Directory stores both itself.
  EXPECT_EQ(Sent("(name=x)", true), "(name=x)");
  EXPECT_EQ(Sent("(distinguishedName=CN=a,DC=x)", true), "(distinguishedName=CN=a,DC=x)");
}

TEST(ServerNamingTest, TheRootDseComesFirstThenTheProfileThenTheNamingContexts) {
  const Entry full{
      "",
      {{"namingContexts", {"dc=first,dc=example", "dc=second,dc=example"}},
       {"rootDomainNamingContext", {"DC=forest,DC=example"}},
       {"schemaNamingContext", {"CN=Schema,CN=Configuration,DC=forest,DC=example"}},
       {"supportedCapabilities", {"1.2.840.113556.1.4.1670", "1.2.840.113556.1.4.800"}}}};
  const ServerNaming ad = NamingOf(full, "DC=profile");
  EXPECT_EQ(ad.root, "DC=forest,DC=example") << "the server's own root wins over the profile's";
  EXPECT_EQ(ad.dialect.schema_naming_context, "CN=Schema,CN=Configuration,DC=forest,DC=example");
  EXPECT_TRUE(ad.dialect.active_directory);

  const Entry plain{"", {{"namingContexts", {"dc=first,dc=example", "dc=second,dc=example"}}}};
  const ServerNaming with_profile = NamingOf(plain, "DC=profile");
  EXPECT_EQ(with_profile.root, "DC=profile");
  EXPECT_EQ(with_profile.dialect.schema_naming_context, "CN=Schema,CN=Configuration,DC=profile");
  EXPECT_FALSE(with_profile.dialect.active_directory);
  EXPECT_EQ(NamingOf(plain, "").root, "dc=first,dc=example");
  EXPECT_EQ(NamingOf(Entry{}, "").root, "") << "a server that names nothing";
}

// A list's members on the server: Members must give them in "member" order
// whatever the server's back-links say.
constexpr char kMembersLdif[] = R"(dn: DC=m,DC=example
objectClass: top
objectClass: domainDNS
dc: m

dn: CN=Ann,OU=P,DC=m,DC=example
objectClass: top
objectClass: user
cn: Ann
legacyExchangeDN: /o=M/cn=ann
memberOf: CN=L,OU=L,DC=m,DC=example

dn: CN=Bo,OU=P,DC=m,DC=example
objectClass: top
objectClass: user
cn: Bo
legacyExchangeDN: /o=M/cn=bo
memberOf: CN=L,OU=L,DC=m,DC=example

dn: CN=Cy,OU=P,DC=m,DC=example
objectClass: top
objectClass: user
cn: Cy
legacyExchangeDN: /o=M/cn=cy

dn: CN=Ed,OU=P,DC=m,DC=example
objectClass: top
objectClass: user
cn: Ed
legacyExchangeDN: /o=M/cn=ed
memberOf: CN=L,OU=L,DC=m,DC=example

dn: CN=Hid,OU=P,DC=m,DC=example
objectClass: top
objectClass: user
cn: Hid
legacyExchangeDN: /o=M/cn=hid
msExchHideFromAddressLists: TRUE
memberOf: CN=L,OU=L,DC=m,DC=example

dn: CN=Sub,OU=L,DC=m,DC=example
objectClass: top
objectClass: group
cn: Sub
legacyExchangeDN: /o=M/cn=sub
member: CN=Bo,OU=P,DC=m,DC=example
member: CN=Ann,OU=P,DC=m,DC=example
memberOf: CN=L,OU=L,DC=m,DC=example

dn: CN=L,OU=L,DC=m,DC=example
objectClass: top
objectClass: group
cn: L
legacyExchangeDN: /o=M/cn=l
member: CN=Sub,OU=L,DC=m,DC=example
member: cn=cy, ou=p,dc=M,dc=example
member: CN=Nobody,OU=P,DC=m,DC=example
member: CN=Bo,OU=P,DC=m,DC=example
member: CN=Hid,OU=P,DC=m,DC=example
member: CN=Ann,OU=P,DC=m,DC=example
member: CN=Bo,OU=P,DC=m,DC=example
)";

std::vector<std::string> MemberNames(const AddressBook& book, const std::string& list) {
  std::vector<std::string> names;
  for (const uint32_t index : book.Members(book.Resolve(list))) {
    names.emplace_back(book.entry(index).name);
  }
  return names;
}

// The back-links answer in load order, one member (Cy) has none, one
// object (Ed) has a stale one and the hidden member (Hid) is outside the
// book; a server without back-links must give the same.
TEST(LdapAddressBookTest, MembersComeInMemberOrderWhateverTheBackLinksSay) {
  const std::vector<std::string> expected = {"Sub", "Cy", "Bo", "Ann", "Bo"};
  for (const auto member_of :
       {tarnwick_test::TestSlapd::MemberOf::kKept, tarnwick_test::TestSlapd::MemberOf::kNone}) {
    std::string ldif = kMembersLdif;
    if (member_of == tarnwick_test::TestSlapd::MemberOf::kNone) {
      for (size_t at = ldif.find("memberOf:"); at != std::string::npos;
           at = ldif.find("memberOf:", at)) {
        ldif.erase(at, ldif.find('\n', at) + 1 - at);
      }
    }
    auto server = tarnwick_test::TestSlapd::FromLdif(ldif, "", member_of);
    TARNWICK_REQUIRE_RUNNING(server);
    ServerDirectory directory = tarnwick_test::OpenAnonymously(server.url());
    const AddressBook& book = *directory.address_book;
    EXPECT_EQ(MemberNames(book, "L"), expected);
    // Sub came with its member values; they are its own, in its order.
    EXPECT_EQ(MemberNames(book, "Sub"), (std::vector<std::string>{"Bo", "Ann"}));
    EXPECT_EQ(MemberNames(book, "L"), expected) << "a second expansion";
  }
}

}  // namespace
}  // namespace platform::ldap
