#include "platform/ldap_filter.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/text.h"
#include "tests/support/attribute_table.h"

namespace platform::ldapfilter {
namespace {

using FakeObject = tarnwick_test::AttributeTable;

constexpr char kPerson[] = "CN=Person,CN=Schema,CN=Configuration,DC=harbor,DC=example";
constexpr char kGroup[] = "CN=Group,CN=Schema,CN=Configuration,DC=harbor,DC=example";
constexpr char kDynamic[] =
    "CN=ms-Exch-Dynamic-Distribution-List,CN=Schema,CN=Configuration,DC=harbor,DC=example";
const std::vector<std::string> kUserClasses = {"top", "person", "organizationalPerson", "user"};

using Attributes = std::vector<std::pair<std::string, std::vector<std::string>>>;

// A mailbox user that the list filter below would take, with `changes`
// replacing its attributes of the same name.
FakeObject Candidate(const std::string& name, const std::string& department,
                     const Attributes& changes = {}) {
  Attributes attributes = {{"objectClass", kUserClasses},
                           {"objectCategory", {kPerson}},
                           {"name", {name}},
                           {"mailNickname", {name}},
                           {"department", {department}}};
  for (const auto& change : changes) {
    const auto it =
        std::find_if(attributes.begin(), attributes.end(),
                     [&change](const auto& attribute) { return attribute.first == change.first; });
    if (it == attributes.end()) {
      attributes.push_back(change);
    } else {
      it->second = change.second;
    }
  }
  return FakeObject(std::move(attributes));
}

const std::map<std::string, FakeObject>& Objects() {
  static const std::map<std::string, FakeObject> objects{
      {"ana",
       {{"objectClass", kUserClasses},
        {"objectCategory", {kPerson}},
        {"cn", {"Ana Lima"}},
        {"name", {"Ana Lima"}},
        {"distinguishedName", {"CN=Ana Lima,OU=Sales,DC=harbor,DC=example"}},
        {"mail", {"Ana.Lima@harbor.example"}},
        {"mailNickname", {"ana"}},
        {"givenName", {"Ana"}},
        {"sn", {"Lima"}},
        {"department", {"Sales"}},
        {"title", {"Zo\xC3\xAB \xC3\x84rger"}},  // "Zoë Ärger"
        {"description", {"a(b)c*d\\e"}},
        {"employeeNumber", {"42"}},
        {"userAccountControl", {"514"}},
        {"msExchRecipientTypeDetails", {"1"}},
        {"otherTelephone", {"+1 555 0100", "+1 555 0199"}}}},
      {"system", Candidate("SystemMailbox{1f05a927-3be2-4fb9-aa03-b59fe3b56f4c}", "Sales")},
      {"arbitration",
       Candidate("Arbitration", "sales", {{"msExchRecipientTypeDetails", {"16777216"}}})},
      {"bo", Candidate("Bo", "Marketing", {{"msExchRecipientTypeDetails", {"1099511627776"}}})},
      {"contact", Candidate("Cy", "Sales", {{"objectClass", {"top", "person", "contact"}}})},
      {"unmailed", Candidate("Di", "Sales", {{"mailNickname", {}}})},
      {"group",
       {{"objectClass", {"top", "group"}},
        {"objectCategory", {kGroup}},
        {"groupType", {"-2147483646"}}}},
      {"dynamic",
       {{"objectClass", {"top", "msExchDynamicDistributionList"}}, {"objectCategory", {kDynamic}}}},
      // DN-valued attributes written in other spellings than the filters use.
      {"smith",
       {{"distinguishedName", {"CN=Smith\\2C John+employeeID=6,OU=People,DC=harbor,DC=example"}},
        {"member", {"CN=Ana Lima, OU=Sales, DC=harbor, DC=example", "CN=Bo,OU=Sales,DC=x"}},
        {"manager", {"not a DN; kept as text"}}}},
  };
  return objects;
}

constexpr char kSalesList[] =
    "(&(objectClass=user)(objectCategory=person)(mailNickname=*)(department=Sales)"
    "(!(name=SystemMailbox{*))(!(msExchRecipientTypeDetails=16777216)))";
constexpr char kUndefined[] = "(cn:1.2.3.4:=Ana Lima)";

struct MatchCase {
  std::string filter;
  std::string object;
  bool expected;
};

const std::vector<MatchCase>& MatchCases() {
  static const std::vector<MatchCase> cases{
      // Equality, letter case of names and values, Unicode letters.
      {"(mail=ana.lima@HARBOR.example)", "ana", true},
      {"(MAIL=Ana.Lima@harbor.example)", "ana", true},
      {"(mail=bo@harbor.example)", "ana", false},
      {"(title=ZO\xC3\x8B \xC3\xA4RGER)", "ana", true},
      {"(title=Zoe Arger)", "ana", false},
      {"(otherTelephone=+1 555 0199)", "ana", true},
      // Presence.
      {"(mailNickname=*)", "ana", true},
      {"(pager=*)", "ana", false},
      // Substrings: position, order, no overlap of initial and final.
      {"(cn=ana*)", "ana", true},
      {"(cn=*LIMA)", "ana", true},
      {"(cn=*n* L*)", "ana", true},
      {"(cn=A*a*a)", "ana", true},
      {"(cn=Ana*na Lima)", "ana", false},
      {"(cn=*m*l*)", "ana", false},
      {"(cn=a**a)", "ana", true},
      // A middle piece may overlap neither the initial nor the final one.
      {"(cn=*li*ma)", "ana", true},
      {"(cn=*ima*ma)", "ana", false},
      {"(cn=*lima*a)", "ana", false},
      {"(cn=An*na*)", "ana", false},
      {"(title=*\xC3\x84R*)", "ana", true},
      // Ordering: numeric when both sides are integers, else text.
      {"(employeeNumber>=9)", "ana", true},
      {"(employeeNumber<=100)", "ana", true},
      {"(employeeNumber<=41)", "ana", false},
      {"(employeeNumber>=abc)", "ana", false},
      {"(sn>=lima)", "ana", true},
      {"(sn>=LIMB)", "ana", false},
      {"(sn<=M)", "ana", true},
      {"(givenName~=ANA)", "ana", true},
      // Escapes, either case of hex digit; an escaped star is no wildcard.
      {"(description=a\\28b\\29c\\2ad\\5Ce)", "ana", true},
      {"(description=a\\28b\\29c*)", "ana", true},
      {"(cn=\\41na Lima)", "ana", true},
      {"(title=zo\\c3\\ab \\C3\\84rger)", "ana", true},
      {"(cn=Ana\\2a)", "ana", false},
      // Bitwise rules; groupType is a negative 32-bit value.
      {"(userAccountControl:1.2.840.113556.1.4.803:=2)", "ana", true},
      {"(userAccountControl:1.2.840.113556.1.4.803:=3)", "ana", false},
      {"(userAccountControl:1.2.840.113556.1.4.804:=3)", "ana", true},
      {"(userAccountControl:1.2.840.113556.1.4.804:=1)", "ana", false},
      {"(groupType:1.2.840.113556.1.4.803:=2147483648)", "group", true},
      {"(groupType:1.2.840.113556.1.4.803:=-2147483646)", "group", true},
      {"(groupType:1.2.840.113556.1.4.803:=4)", "group", false},
      {"(msExchRecipientTypeDetails:1.2.840.113556.1.4.803:=1099511627776)", "bo", true},
      {"(msExchRecipientTypeDetails:1.2.840.113556.1.4.804:=1)", "bo", false},
      {"(title:1.2.840.113556.1.4.804:=1)", "ana", false},
      {"(!(title:1.2.840.113556.1.4.804:=1))", "ana", true},
      // Unknown matching rule: Undefined through NOT, AND and OR.
      {kUndefined, "ana", false},
      {std::string("(!") + kUndefined + ")", "ana", false},
      {std::string("(|") + kUndefined + "(mail=*))", "ana", true},
      {std::string("(!(|") + kUndefined + "(pager=*)))", "ana", false},
      {std::string("(!(&") + kUndefined + "(mail=*)))", "ana", false},
      {std::string("(!(&") + kUndefined + "(pager=*)))", "ana", true},
      // Extensible equality, with and without the DN's attributes.
      {"(cn:=ana lima)", "ana", true},
      {"(ou:dn:=sales)", "ana", true},
      {"(ou:=Sales)", "ana", false},
      // objectCategory short names and DNs.
      {"(objectCategory=person)", "ana", true},
      {"(objectCategory=PERSON)", "ana", true},
      {"(objectCategory=group)", "ana", false},
      {"(objectCategory=group)", "group", true},
      {"(objectCategory=Schema)", "ana", false},
      {"(objectCategory=msExchDynamicDistributionList)", "dynamic", true},
      {std::string("(objectCategory=") + kPerson + ")", "ana", true},
      {"(objectCategory=cn=person,cn=schema,cn=configuration,dc=harbor,dc=example)", "ana", true},
      {"(objectCategory=CN=Person)", "ana", false},
      {"(objectCategory=CN=Person, CN=Schema, CN=Configuration, DC=harbor, DC=example)", "ana",
       true},
      // Equality on DN values compares normalised DNs: blanks, escapes (the
      // filter's \5C is the DN's backslash) and case do not matter.
      {"(distinguishedName=CN=Ana Lima, OU=Sales, DC=harbor, DC=example)", "ana", true},
      {"(distinguishedName=CN=Ana Lima,OU=Sales,DC=harbor)", "ana", false},
      {"(distinguishedName=CN=Ana  Lima,OU=Sales,DC=harbor,DC=example)", "ana", false},
      {"(distinguishedName=CN=Smith\\5c, John+employeeID=6,OU=People,DC=harbor,DC=example)",
       "smith", true},
      {"(distinguishedName=employeeID=6 + cn=smith\\5c, john,OU=People,DC=harbor,DC=example)",
       "smith", true},
      {"(distinguishedName=CN=Smith\\5c, John,OU=People,DC=harbor,DC=example)", "smith", false},
      {"(distinguishedName~=CN=Ana Lima , OU=Sales,DC=harbor,DC=example)", "ana", true},
      {"(distinguishedName:=CN=Ana Lima, OU=Sales,DC=harbor,DC=example)", "ana", true},
      {"(member=cn=ana lima,ou=sales,dc=harbor,dc=example)", "smith", true},
      {"(member=CN=Bo, OU=Sales, DC=x)", "smith", true},
      {"(member=CN=Bo,OU=Sales)", "smith", false},
      {"(manager=NOT A DN; KEPT AS TEXT)", "smith", true},
      // Substrings and ordering still compare the texts as stored.
      {"(distinguishedName=CN=Ana Lima,OU=Sales*)", "ana", true},
      {"(distinguishedName=CN=Ana Lima, OU=Sales*)", "ana", false},
      // ":dn" takes the values of the DN's own RDNs, escapes undone.
      {"(ou:dn:=People)", "smith", true},
      {"(ou:dn:=Peop)", "smith", false},
      {"(ou:dn:=Sales)", "smith", false},
      {"(cn:dn:=Smith, John)", "smith", true},
      {"(employeeID:dn:=6)", "smith", true},
      {"(employeeID:dn:1.2.840.113556.1.4.803:=2)", "smith", true},
      {"(employeeID:dn:1.2.840.113556.1.4.803:=1)", "smith", false},
      {"(employeeID:1.2.840.113556.1.4.803:=2)", "smith", false},
      {"(dc:dn:=HARBOR)", "ana", true},
      // Composition; RFC 4526 empty sets.
      {"(&)", "ana", true},
      {"(|)", "ana", false},
      {"(!(&))", "ana", false},
      // Lenient forms.
      {"((mail=ana.lima@harbor.example))", "ana", true},
      {"(((cn=Ana Lima)))", "ana", true},
      {"(!cn=Bo)", "ana", true},
      {"(!cn=Ana*)", "ana", false},
      {"(&((cn=Ana*))(!sn=x))", "ana", true},
      {"cn=Ana Lima", "ana", true},
      {"(& (cn=Ana*)\r\n\t(sn=Lima) )", "ana", true},
      // A real list filter against each kind of object it must tell apart.
      {kSalesList, "ana", true},
      {kSalesList, "system", false},
      {kSalesList, "arbitration", false},
      {kSalesList, "bo", false},
      {kSalesList, "contact", false},
      {kSalesList, "unmailed", false},
  };
  return cases;
}

TEST(LdapFilterTest, MatchesEveryFeature) {
  for (const MatchCase& c : MatchCases()) {
    SCOPED_TRACE(c.filter + " on " + c.object);
    const auto filter = Parse(c.filter);
    const FakeObject& object = Objects().at(c.object);
    EXPECT_EQ(filter->Matches(object), c.expected);
    // The strict form the ldap backend sends must select the same objects.
    const auto strict = Parse(filter->ToRfc4515());
    EXPECT_EQ(strict->Matches(object), c.expected) << filter->ToRfc4515();
  }
}

TEST(LdapFilterTest, RefusesMalformedFiltersNamingThePosition) {
  struct BadCase {
    std::string filter;
    int position;
    std::string fault;
  };
  const std::vector<BadCase> cases = {
      {"", 1, "empty"},
      {"   ", 4, "empty"},
      {"(", 2, "missing ')'"},
      {"(cn=x", 6, "missing ')'"},
      {"(&(cn=x)", 9, "missing ')'"},
      {"(cn=x))", 7, "unbalanced ')'"},
      {"()", 2, "empty filter item"},
      {"(&())", 4, "empty filter item"},
      {"(cn)", 4, "missing '='"},
      {"(=x)", 2, "missing attribute"},
      {"(cn=\\zz)", 5, "bad escape"},
      {"(cn=x\\)", 6, "bad escape"},
      {"(cn=\\*)", 5, "bad escape"},
      {"(cn=x)garbage", 7, "after the filter"},
      {"(cn=x)(sn=y)", 7, "after the filter"},
      {"((cn=x)(sn=y))", 8, "several filters"},
      {"(!(cn=x)(sn=y))", 9, "exactly one"},
      {"(&(cn=x)sn=y)", 9, "expected '('"},
      {"(cn=a(b)", 6, "unescaped '('"},
      {"(cn>=a*)", 7, "unescaped '*'"},
      {"(cn~x)", 5, "expected '='"},
      {"(c n=x)", 3, "blank"},
      {"(1cn=x)", 2, "bad attribute name"},
      {std::string("(cn=a\0b)", 8), 6, "NUL"},
      {"(userAccountControl:1.2.840.113556.1.4.803:=abc)", 45, "decimal integer"},
      {"(userAccountControl:1.2.840.113556.1.4.803=2)", 43, "missing ':='"},
      {"(cn:1..2:=x)", 5, "bad matching rule"},
      {"(:=x)", 2, "needs an attribute or a matching rule"},
      {"(!)", 3, "missing attribute"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.filter);
    try {
      Parse(c.filter);
      ADD_FAILURE() << "parsed";
    } catch (const PlatformError& e) {
      EXPECT_EQ(e.number(), errnum::kBadCommand);
      EXPECT_NE(e.description().find("at position " + std::to_string(c.position) + ":"),
                std::string::npos)
          << e.description();
      EXPECT_NE(e.description().find(c.fault), std::string::npos) << e.description();
    }
  }
}

TEST(LdapFilterTest, RefusesNestingThatWouldExhaustTheStack) {
  const std::string deep = std::string(100000, '(') + "cn=x" + std::string(100000, ')');
  EXPECT_THROW(Parse(deep), PlatformError);
  const std::string fine = std::string(50, '(') + "cn=x" + std::string(50, ')');
  EXPECT_EQ(Parse(fine)->ToRfc4515(), "(cn=x)");

  // A bare NOT renders with parentheses around its item, one level deeper:
  // at the limit it must be refused, not accepted and then unparsable in
  // its own strict form.
  const auto nots = [](int n, const std::string& inner) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "(!";
    return text + inner + std::string(static_cast<size_t>(n), ')');
  };
  EXPECT_THROW(Parse(nots(199, "(!cn=x)")), PlatformError);
  const auto below = Parse(nots(198, "(!cn=x)"));
  EXPECT_NO_THROW(Parse(below->ToRfc4515()));
}

TEST(LdapFilterTest, RendersStrictForm) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"((mail=ana@harbor.example))", "(mail=ana@harbor.example)"},
      {"(!cn=x)", "(!(cn=x))"},
      {"cn=x", "(cn=x)"},
      {"(& (a=b) (c<=5) (d>=6) (e~=f))", "(&(a=b)(c<=5)(d>=6)(e~=f))"},
      {"(&)", "(&)"},
      {"(|)", "(|)"},
      {"(cn=a\\28b\\29*\\2a)", "(cn=a\\28b\\29*\\2A)"},
      {"(title=Zo\xC3\xAB)", "(title=Zo\\C3\\AB)"},
      {"(cn=a**b)", "(cn=a*b)"},
      {"(cn=*x*)", "(cn=*x*)"},
      {"(cn=)", "(cn=)"},
      {"(ou:DN:=Sales)", "(ou:dn:=Sales)"},
      {"(userAccountControl:1.2.840.113556.1.4.803:=2)",
       "(userAccountControl:1.2.840.113556.1.4.803:=2)"},
      {kSalesList, kSalesList},
  };
  for (const auto& [input, strict] : cases) {
    SCOPED_TRACE(input);
    EXPECT_EQ(Parse(input)->ToRfc4515(), strict);
    EXPECT_EQ(Parse(strict)->ToRfc4515(), strict);
  }
}

// What a caller may answer from an index: only equalities that every match
// must satisfy, with the escapes of the value undone.
TEST(LdapFilterTest, NamesTheEqualitiesAFilterRequires) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  const std::vector<std::pair<std::string, Pairs>> cases = {
      {"((mail=A@x))", {{"mail", "A@x"}}},
      {"mail~=a@x", {{"mail", "a@x"}}},
      {"(&(objectClass=user)(&(mail=a\\2Ab@x)(cn=*)))",
       {{"objectClass", "user"}, {"mail", "a*b@x"}}},
      {"(|(mail=a@x)(mail=b@x))", {}},  // either may hold
      {"(!(mail=a@x))", {}},
      {"(mail=a*)", {}},
      {"(mail>=a)", {}},
      {"(mail:=a@x)", {}},
      {"(&)", {}},
      // Compared as DNs or as class names, not as text.
      {"(&(member=CN=a,DC=x)(objectCategory=person)(mail=a@x))", {{"mail", "a@x"}}},
  };
  for (const auto& [text, expected] : cases) {
    Pairs got;
    const auto filter = Parse(text);
    for (const auto& [attribute, value] : filter->RequiredEqualities()) {
      got.emplace_back(attribute, value);
    }
    EXPECT_EQ(got, expected) << text;
  }
}

TEST(LdapFilterTest, EscapesValuesForFilters) {
  EXPECT_EQ(EscapeValue("a*b(c)d\\e"), "a\\2Ab\\28c\\29d\\5Ce");
  EXPECT_EQ(EscapeValue(std::string("x\0y", 3)), "x\\00y");
  EXPECT_EQ(EscapeValue("SystemMailbox{1}"), "SystemMailbox{1}");
  EXPECT_EQ(EscapeValue(""), "");
  // An escaped value is matched literally.
  const FakeObject object{{"cn", {"a*(b)"}}};
  EXPECT_TRUE(Parse("(cn=" + EscapeValue("a*(b)") + ")")->Matches(object));
  EXPECT_FALSE(Parse("(cn=" + EscapeValue("a*") + ")")->Matches(object));
}

}  // namespace
}  // namespace platform::ldapfilter
