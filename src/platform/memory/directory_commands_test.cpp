#include "platform/memory/directory_commands.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/memory/directory_data.h"
#include "platform/memory/faults.h"
#include "platform/memory/memory_directory_search.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kRoot[] = "DC=harbor,DC=example";
constexpr char kPerson[] = "CN=Person,CN=Schema,CN=Configuration,DC=harbor,DC=example";
constexpr char kDynamic[] =
    "CN=ms-Exch-Dynamic-Distribution-List,CN=Schema,CN=Configuration,DC=harbor,DC=example";
constexpr char kSalesFilter[] = "(&(objectCategory=person)(department=Sales))";

// An object to add, owning its texts; DirectoryData::Add takes it through
// the views it hands out when asked, so it may be moved until then.
struct Entry {
  using Attributes = std::vector<std::pair<std::string, std::vector<std::string>>>;
  explicit Entry(std::string dn_in, Attributes attributes_in = {})
      : dn(std::move(dn_in)), attributes(std::move(attributes_in)) {}
  operator const DirectoryData::NewEntry&() const {
    view.dn = dn;
    view.values.clear();
    for (const auto& [name, values] : attributes) {
      for (const std::string& value : values) view.values.emplace_back(name, value);
    }
    return view;
  }
  std::string dn;
  Attributes attributes;
  mutable DirectoryData::NewEntry view;
};

// An organisation as the backend holds it: the data and the context in one
// object, the context handed out through an aliasing pointer.
struct Organisation {
  DirectoryData data;
  MemoryDirectorySearch search{data};
  DirectoryContext context;
  FaultPlan faults;
};

std::shared_ptr<Organisation> MakeOrganisation() {
  auto org = std::make_shared<Organisation>();
  DirectoryData& d = org->data;
  d.Add(Entry(kRoot, {{"objectClass", {"domainDNS"}}}));
  d.Add(Entry("OU=Staff,DC=harbor,DC=example", {{"objectClass", {"organizationalUnit"}}}));
  d.Add(Entry("CN=Ana Lima,OU=Staff,DC=harbor,DC=example",
              {{"objectCategory", {kPerson}},
               {"mail", {"Ana.Lima@harbor.example"}},
               {"legacyExchangeDN", {"/o=Harbor/ou=Staff/cn=Recipients/cn=ana"}},
               {"department", {"Sales"}},
               {"otherTelephone", {"+1 555 0100", "+1 555 0199"}}}));
  d.Add(Entry("OU=Sub,OU=Staff,DC=harbor,DC=example", {{"objectClass", {"organizationalUnit"}}}));
  d.Add(Entry("CN=Bo Brandt,OU=Sub,OU=Staff,DC=harbor,DC=example",
              {{"objectCategory", {kPerson}},
               {"name", {"Bo B."}},
               {"department", {"sales"}},
               {"distinguishedName", {"CN=Bo Brandt,OU=Sub,OU=Staff,DC=harbor,DC=example"}}}));
  // One RDN whose value holds an escaped comma: a child of the domain, not of OU=Staff.
  d.Add(Entry("CN=Odd\\,OU=Staff,DC=harbor,DC=example",
              {{"objectCategory", {kPerson}}, {"department", {"Sales"}}}));
  d.Add(Entry("OU=Lists,DC=harbor,DC=example", {{"objectClass", {"organizationalUnit"}}}));
  d.Add(Entry("CN=Sales Team,OU=Lists,DC=harbor,DC=example",
              {{"objectCategory", {kDynamic}},
               {"mail", {"sales@harbor.example"}},
               {"msExchDynamicDLFilter", {kSalesFilter}},
               {"msExchDynamicDLBaseDN", {"OU=Staff,DC=harbor,DC=example"}}}));
  // Its DN ends with "harbor,DC=example" but it is in another domain.
  d.Add(Entry("CN=Zed,DC=xharbor,DC=example",
              {{"objectCategory", {kPerson}}, {"department", {"Sales"}}}));
  org->context.search = &org->search;
  org->context.root_domain_naming_context = kRoot;
  org->context.faults = &org->faults;
  return org;
}

class DirectoryTest : public ::testing::Test {
 protected:
  DirectoryTest() : org_(MakeOrganisation()) {
    current_ = std::shared_ptr<const DirectoryContext>(org_, &org_->context);
  }

  DirectoryContextSource Source() {
    return [this] { return current_; };
  }

  std::shared_ptr<Connection> OpenConnection() {
    auto connection = NewConnection(Source());
    connection->SetProvider("ADsDSOObject");
    connection->Open("Active Directory Provider", "", "", -1);
    return connection;
  }

  std::shared_ptr<Recordset> Run(const std::string& command_text) {
    auto command = NewCommand(Source());
    command->SetActiveConnection(OpenConnection());
    command->SetCommandText(command_text);
    return command->Execute(-1);
  }

  // The first field of every row, in row order.
  static std::vector<std::string> Column(Recordset& rows) {
    std::vector<std::string> values;
    rows.MoveFirst();
    while (!rows.AtEOF()) {
      values.push_back(rows.FieldAt(0).ToText());
      rows.MoveNext();
    }
    return values;
  }

  std::vector<std::string> Names(const std::string& base, const std::string& filter,
                                 const std::string& scope) {
    return Column(*Run("<GC://" + base + ">;" + filter + ";name;" + scope));
  }

  // Turns the global catalog off (or on) for the objects asked from now on.
  void SetGlobalCatalog(bool on) {
    auto context = std::make_shared<DirectoryContext>(org_->context);
    context->global_catalog = on;
    current_ = context;
  }

  std::shared_ptr<Organisation> org_;
  std::shared_ptr<const DirectoryContext> current_;
};

// Runs `call` and gives the number it raised, 0 when it raised nothing.
template <class Call>
int32_t RaisedNumber(Call call, std::string* description = nullptr) {
  try {
    call();
  } catch (const PlatformError& e) {
    if (description != nullptr) *description = e.description();
    return e.number();
  }
  return 0;
}

TEST(DirectoryDataTest, AddFillsDerivedFieldsAndRefusesDuplicateDNs) {
  DirectoryData data;
  ASSERT_EQ(data.Add(Entry("CN=Lima\\, Ana,OU=Staff,DC=x", {{"Mail", {"A@x"}}})),
            DirectoryData::AddResult::kAdded);
  EXPECT_EQ(data.Add(Entry("cn=lima\\, ana,ou=staff,dc=X")),
            DirectoryData::AddResult::kDuplicateDn);
  ASSERT_EQ(data.Entries().size(), 1u);
  const DirEntry& entry = data.Entries().front();
  EXPECT_EQ(entry.dn_key, "cn=lima\\2C ana,ou=staff,dc=x");
  EXPECT_EQ(entry.RdnValue(), "Lima, Ana");
  // "name" falls back to the RDN value; attribute names ignore case.
  EXPECT_THAT(entry.Values("NAME"), ElementsAre("Lima, Ana"));
  EXPECT_EQ(entry.First("mail"), "A@x");
  EXPECT_EQ(entry.First("pager"), "");
  EXPECT_TRUE(entry.Values("pager").empty());
}

TEST(DirectoryDataTest, LookUpsIgnoreCaseAndKeepFileOrder) {
  DirectoryData data;
  data.Add(
      Entry("CN=One,DC=x", {{"proxyAddresses", {"SMTP:shared@x", "smtp:one@x", "X500:/o=a"}}}));
  data.Add(Entry("CN=Two,DC=x", {{"mail", {"Shared@X"}}, {"legacyExchangeDN", {"/o=H/cn=two"}}}));
  data.Add(Entry("CN=Three,DC=x", {{"mail", {"shared@x"}}, {"proxyAddresses", {"smtp:SHARED@x"}}}));
  EXPECT_EQ(data.ByDN("cn=two,dc=X"), &data.Entries()[1]);
  EXPECT_EQ(data.ByDN("CN=Four,DC=x"), nullptr);
  EXPECT_EQ(data.ByLegacyDN("/O=h/CN=TWO"), &data.Entries()[1]);
  EXPECT_EQ(data.ByLegacyDN(""), nullptr);
  EXPECT_THAT(data.ByMail("SHARED@x"), ElementsAre(&data.Entries()[1], &data.Entries()[2]));
  EXPECT_THAT(data.ByAddress("shared@X"),
              ElementsAre(&data.Entries()[0], &data.Entries()[1], &data.Entries()[2]));
  EXPECT_THAT(data.ByAddress("one@x"), ElementsAre(&data.Entries()[0]));
  EXPECT_TRUE(data.ByAddress("/o=a").empty());
}

// Index slots name an object and the place of one of its values; the key is
// read back through the object. Keys that are the second value of their
// attribute, or sit after other attributes' values, or after a proxy's
// prefix, must be found as such, also once the tables have grown past the
// first objects (a rehash reads every key again), and an address several
// objects hold must list them all, each once.
TEST(DirectoryDataTest, IndexSlotsReadTheirKeysThroughTheObjects) {
  DirectoryData data;
  constexpr int kObjects = 3000;
  for (int i = 0; i < kObjects; ++i) {
    const std::string n = std::to_string(i);
    ASSERT_EQ(data.Add(Entry("CN=P" + n + ",DC=x",
                             {{"cn", {"P" + n}},
                              {"proxyAddresses", {"X500:/o=p" + n, "SMTP:Proxy" + n + "@x"}},
                              {"mail", {"first" + n + "@x", "Second" + n + "@x"}},
                              {"legacyExchangeDN", {"/o=A/cn=" + n, "/o=B/cn=" + n}}})),
              DirectoryData::AddResult::kAdded);
  }
  // Holders of one address, in file order: by mail twice in one object,
  // by proxy, and by both in one object.
  data.Add(Entry("CN=S1,DC=x", {{"mail", {"team@x", "TEAM@x"}}}));
  data.Add(Entry("CN=S2,DC=x", {{"proxyAddresses", {"smtp:Team@X"}}}));
  data.Add(Entry("CN=S3,DC=x", {{"mail", {"team@x"}}, {"proxyAddresses", {"smtp:team@x"}}}));
  // A second object with a taken ODN is refused, and the ODN still finds
  // the first.
  EXPECT_EQ(data.Add(Entry("CN=L,DC=x", {{"legacyExchangeDN", {"/O=A/CN=7"}}})),
            DirectoryData::AddResult::kDuplicateLegacyDn);
  const auto& entries = data.Entries();
  ASSERT_EQ(entries.size(), static_cast<size_t>(kObjects) + 3);

  for (const int i : {0, 1, 7, 1234, kObjects - 1}) {
    const std::string n = std::to_string(i);
    const DirEntry* object = &entries[i];
    const auto at = static_cast<uint32_t>(i);
    EXPECT_EQ(data.ByDN("cn=p" + n + ",dc=X"), object) << n;
    EXPECT_EQ(data.ByDnKey("cn=p" + n + ",dc=x"), object) << n;
    EXPECT_EQ(data.ByDnKey("CN=P" + n + ",DC=x"), nullptr) << n;  // keys compare exactly
    EXPECT_THAT(data.MailPositions("FIRST" + n + "@X"), ElementsAre(at)) << n;
    EXPECT_THAT(data.MailPositions("second" + n + "@x"), ElementsAre(at)) << n;
    EXPECT_THAT(data.SmtpProxyPositions("proxy" + n + "@X"), ElementsAre(at)) << n;
    EXPECT_TRUE(data.SmtpProxyPositions("SMTP:Proxy" + n + "@x").empty()) << n;
    EXPECT_TRUE(data.SmtpProxyPositions("/o=p" + n).empty()) << n;
    EXPECT_TRUE(data.MailPositions("proxy" + n + "@x").empty()) << n;
    EXPECT_EQ(data.ByLegacyDN("/o=b/CN=" + n), object) << n;
    EXPECT_EQ(data.ByLegacyDN("/o=a/cn=" + n), object) << n;
  }
  EXPECT_TRUE(data.MailPositions("first@x").empty());
  EXPECT_TRUE(data.MailPositions("").empty());
  EXPECT_EQ(data.ByDN("CN=P3000,DC=x"), nullptr);

  const auto s1 = static_cast<uint32_t>(kObjects);
  EXPECT_THAT(data.MailPositions("Team@x"), ElementsAre(s1, s1 + 2));
  EXPECT_THAT(data.SmtpProxyPositions("TEAM@X"), ElementsAre(s1 + 1, s1 + 2));
  EXPECT_THAT(data.ByAddress("team@x"),
              ElementsAre(&entries[s1], &entries[s1 + 1], &entries[s1 + 2]));
  EXPECT_THAT(data.ByMail("team@X"), ElementsAre(&entries[s1], &entries[s1 + 2]));
  EXPECT_THAT(data.MailPositions("first7@x"), ElementsAre(7u));  // not shared with the others
}

// The indexes hash a text as text::LCase would give it without making the
// copy: texts equal under LCase must hash alike, at every length around
// the eight-byte words the hash reads, and with letters that fold from
// outside ASCII into it.
TEST(DirectoryDataTest, FoldedHashAgreesWithLowerCasing) {
  const std::vector<std::pair<std::string, std::string>> same = {
      {"", ""},
      {"A", "a"},
      {"Shared@X", "shared@x"},
      {"ABCDEFGH", "abcdefgh"},
      {"ABCDEFGHI", "abcdefghi"},
      {"@[`{ AZaz09", "@[`{ azaz09"},
      {"/O=Harbor/OU=First Administrative Group/CN=Recipients/CN=Ana",
       "/o=harbor/ou=first administrative group/cn=recipients/cn=ana"},
      {"\xE2\x84\xAA@x", "k@X"},                       // KELVIN SIGN
      {"J\xC3\x96RG.SMITH@x", "j\xC3\xB6rg.smith@X"},  // Ö and ö
      {"\xFF\xFE"
       "abc",
       "\xFF\xFE"
       "ABC"},  // not UTF-8: bytes kept
      // Of one size, ASCII words first and then a word that is not.
      {"ABCDEFGH\xE2\x84\xAA", "abcdefgh\xE2\x84\xAA"},
      {"K\xE2\x84\xAA", "\xE2\x84\xAAK"},  // both fold to "kk"
  };
  const FoldedHash hash;
  const FoldedEq eq;
  for (const auto& [a, b] : same) {
    EXPECT_TRUE(eq(a, b)) << a;
    EXPECT_EQ(hash(a), hash(b)) << a;
    EXPECT_EQ(hash(a), hash(text::LCase(a))) << a;
  }
  const std::vector<std::pair<std::string, std::string>> different = {
      {"a", "b"},
      {"@", "`"},
      {"[", "{"},
      {"abcdefgh", "abcdefgi"},
      {"a", "a "},
      {"k@x", "K@y"},
      {"abcdefghij", "abcdefghik"},
      // An ASCII word that differs decides, whatever comes after it.
      {"abcdefgx\xC3\x96", "abcdefgh\xC3\xB6"}};
  for (const auto& [a, b] : different) {
    EXPECT_FALSE(eq(a, b)) << a;
    EXPECT_NE(hash(a), hash(b)) << a;
  }
}

TEST(DirectoryDataTest, DnsAreKeyedInTheirNormalisedForm) {
  DirectoryData data;
  ASSERT_EQ(data.Add(Entry("CN=Smith\\, John,OU=People,DC=harbor,DC=example")),
            DirectoryData::AddResult::kAdded);
  ASSERT_EQ(data.Add(Entry("CN=P2,OU=People,DC=harbor,DC=example",
                           {{"distinguishedName", {"CN=P2, OU=People, DC=harbor, DC=example"}}})),
            DirectoryData::AddResult::kAdded);
  ASSERT_EQ(data.Add(Entry("CN=a;b,DC=x")),
            DirectoryData::AddResult::kAdded);  // not a DN: keyed by its lower case
  const DirEntry* smith = &data.Entries()[0];
  const DirEntry* p2 = &data.Entries()[1];
  const DirEntry* odd = &data.Entries()[2];

  const std::vector<std::pair<std::string, const DirEntry*>> lookups = {
      {"CN=Smith\\2C John,OU=People,DC=harbor,DC=example", smith},
      {"cn=SMITH\\2c JOHN, ou=people, dc=harbor, dc=example", smith},
      {"CN=P2, OU=People,DC=harbor,DC=example", p2},
      {"cn=A;B,dc=X", odd},
      {"CN=Smith,OU=People,DC=harbor,DC=example", nullptr},
      {"CN=Smith\\, John\\20,OU=People,DC=harbor,DC=example", nullptr},
      {"CN=a; b,DC=x", nullptr},
  };
  for (const auto& [dn, expected] : lookups) EXPECT_EQ(data.ByDN(dn), expected) << dn;

  // A second spelling of a DN present is a duplicate, whatever its letters.
  EXPECT_EQ(data.Add(Entry("cn=smith\\2C john, ou=People,dc=harbor,dc=example")),
            DirectoryData::AddResult::kDuplicateDn);
  EXPECT_EQ(data.Add(Entry("CN=P2 ,OU=People,DC=harbor,DC=example")),
            DirectoryData::AddResult::kDuplicateDn);
  EXPECT_EQ(data.Add(Entry("CN=A;B,DC=X")), DirectoryData::AddResult::kDuplicateDn);
  EXPECT_EQ(data.Entries().size(), 3u);

  // The DN stays as written, and every object answers for distinguishedName;
  // an attribute of its own is what it holds.
  EXPECT_EQ(smith->dn, "CN=Smith\\, John,OU=People,DC=harbor,DC=example");
  EXPECT_THAT(smith->Values("DistinguishedName"), ElementsAre(smith->dn));
  EXPECT_EQ(p2->First("distinguishedName"), "CN=P2, OU=People, DC=harbor, DC=example");
}

TEST_F(DirectoryTest, BindsRootDseAndDomain) {
  auto binder = NewDirectoryBinder(Source());
  auto root_dse = binder->Bind("GC://RootDse");
  ASSERT_NE(root_dse, nullptr);
  EXPECT_EQ(root_dse->Get("rootDomainNamingContext").ToText(), kRoot);
  EXPECT_EQ(root_dse->Get("DEFAULTNAMINGCONTEXT").ToText(), kRoot);
  EXPECT_EQ(RaisedNumber([&] { root_dse->Get("schemaNamingContext"); }), errnum::kPropertyNotFound);
  EXPECT_EQ(root_dse->ADsPath(), "GC://rootDSE");

  auto domain = binder->Bind("GC://dc=HARBOR,dc=example");
  ASSERT_NE(domain, nullptr);
  EXPECT_EQ(domain->ADsPath(), "GC://DC=harbor,DC=example");
  // Any spelling of the DN binds; the path reports it as the directory has it.
  auto spelled = binder->Bind("GC://cn=ana lima, ou=staff, dc=harbor, dc=example");
  ASSERT_NE(spelled, nullptr);
  EXPECT_EQ(spelled->ADsPath(), "GC://CN=Ana Lima,OU=Staff,DC=harbor,DC=example");
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("GC://CN=Ana  Lima,OU=Staff,DC=harbor,DC=example"); }),
            errnum::kNoSuchObject);

  auto ana = binder->Bind("GC://CN=Ana Lima,OU=Staff,DC=harbor,DC=example");
  EXPECT_EQ(ana->Get("mail").ToText(), "Ana.Lima@harbor.example");
  EXPECT_EQ(ana->Get("name").ToText(), "Ana Lima");
  EXPECT_EQ(ana->Get("distinguishedName").ToText(), "CN=Ana Lima,OU=Staff,DC=harbor,DC=example");
  const Variant phones = ana->Get("otherTelephone");
  ASSERT_NE(phones.Array(), nullptr);
  EXPECT_EQ(phones.Array()->items.size(), 2u);
  EXPECT_EQ(phones.Array()->items[1].ToText(), "+1 555 0199");
  EXPECT_EQ(RaisedNumber([&] { ana->Get("pager"); }), errnum::kPropertyNotFound);
}

TEST_F(DirectoryTest, BindFailures) {
  auto binder = NewDirectoryBinder(Source());
  std::string description;
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("GC://CN=Nobody,DC=harbor,DC=example"); }),
            errnum::kNoSuchObject);
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("GC://"); }), errnum::kNoSuchObject);
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("LDAP://DC=harbor,DC=example"); }, &description),
            errnum::kNoSuchObject);
  EXPECT_THAT(description, HasSubstr("LDAP://DC=harbor,DC=example"));

  // A root DSE without a naming context: the read fails, the bind does not.
  auto context = std::make_shared<DirectoryContext>(org_->context);
  context->root_domain_naming_context.clear();
  current_ = context;
  auto root_dse = binder->Bind("GC://rootDSE");
  EXPECT_EQ(RaisedNumber([&] { root_dse->Get("rootDomainNamingContext"); }),
            errnum::kPropertyNotFound);

  SetGlobalCatalog(false);
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("GC://rootDSE"); }), errnum::kServerNotOperational);
  EXPECT_EQ(RaisedNumber([&] { binder->Bind(std::string("GC://") + kRoot); }),
            errnum::kServerNotOperational);

  current_ = nullptr;  // not logged on
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("GC://rootDSE"); }), errnum::kServerNotOperational);
}

TEST_F(DirectoryTest, ConnectionOpenAndClose) {
  auto connection = NewConnection(Source());
  EXPECT_EQ(RaisedNumber([&] { connection->Open("Active Directory Provider", "", "", -1); }), 3706);
  connection->SetProvider("adsdsoobject");
  current_ = nullptr;
  EXPECT_EQ(RaisedNumber([&] { connection->Open("Active Directory Provider", "", "", -1); }),
            errnum::kServerNotOperational);
  current_ = std::shared_ptr<const DirectoryContext>(org_, &org_->context);
  connection->Open("Active Directory Provider", "", "", -1);
  EXPECT_EQ(RaisedNumber([&] { connection->Open("Active Directory Provider", "", "", -1); }), 3705);
  connection->Close();
  EXPECT_EQ(RaisedNumber([&] { connection->Close(); }), errnum::kOperationNotAllowedClosed);
}

TEST_F(DirectoryTest, ExecuteNeedsAnOpenConnectionAndADirectory) {
  auto command = NewCommand(Source());
  command->SetCommandText(std::string("<GC://") + kRoot + ">;(cn=*);cn;subTree");
  EXPECT_EQ(command->CommandText(), std::string("<GC://") + kRoot + ">;(cn=*);cn;subTree");
  EXPECT_EQ(RaisedNumber([&] { command->Execute(-1); }), 3709);
  auto connection = NewConnection(Source());
  connection->SetProvider("ADsDSOObject");
  command->SetActiveConnection(connection);
  EXPECT_EQ(RaisedNumber([&] { command->Execute(-1); }), 3709);
  connection->Open("Active Directory Provider", "", "", -1);
  EXPECT_NE(command->Execute(-1), nullptr);
  connection->Close();
  EXPECT_EQ(RaisedNumber([&] { command->Execute(-1); }), 3709);

  connection->Open("Active Directory Provider", "", "", -1);
  SetGlobalCatalog(false);
  EXPECT_EQ(RaisedNumber([&] { command->Execute(-1); }), errnum::kServerNotOperational);
  current_ = nullptr;
  EXPECT_EQ(RaisedNumber([&] { command->Execute(-1); }), errnum::kServerNotOperational);
}

TEST_F(DirectoryTest, RefusesMalformedCommandTexts) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "empty"},
      {"GC://DC=harbor,DC=example;(cn=*);cn;subTree", "must start with '<'"},
      {"<GC://DC=harbor,DC=example;(cn=*);cn;subTree", "missing '>'"},
      {"<LDAP://DC=harbor,DC=example>;(cn=*);cn;subTree", "GC:// path"},
      {"<GC://DC=harbor,DC=example>(cn=*);cn;subTree", "expected ';' after the base"},
      {"<GC://DC=harbor,DC=example>;(cn=*);subTree", "expected <GC://base>"},
      {"<GC://DC=harbor,DC=example>;(cn=*)", "expected <GC://base>"},
      {"<GC://DC=harbor,DC=example>;(cn=*);;subTree", "no attributes"},
      {"<GC://DC=harbor,DC=example>;(cn=*);cn,,mail;subTree", "empty attribute name"},
      {"<GC://DC=harbor,DC=example>;(cn=*);cn mail;subTree", "bad attribute name 'cn mail'"},
      {"<GC://DC=harbor,DC=example>;(cn=*);cn;everywhere", "unknown scope 'everywhere'"},
      {"<GC://DC=harbor,DC=example>;(cn=*);cn;", "unknown scope ''"},
      // Filter faults reach the caller with the filter's own description.
      {"<GC://DC=harbor,DC=example>;;cn;subTree", "the filter is empty"},
      {"<GC://DC=harbor,DC=example>;(&(cn=*);cn;subTree", "missing ')'"},
      {"<GC://DC=harbor,DC=example>;(cn=\\zz);cn;subTree", "bad escape"},
      {"<GC://DC=harbor,DC=example>;(cn=*)x;cn;subTree", "after the filter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    std::string description;
    EXPECT_EQ(RaisedNumber([&] { Run(c.first); }, &description), errnum::kBadCommand);
    EXPECT_THAT(description, HasSubstr(c.second));
  }
  EXPECT_EQ(RaisedNumber([&] { Run("<GC://OU=Gone,DC=harbor,DC=example>;(cn=*);cn;subTree"); }),
            errnum::kNoSuchObject);
}

TEST_F(DirectoryTest, AcceptsLooseButUnambiguousCommandTexts) {
  // ";" inside a filter value, blanks around parts, a ">" escaped in the DN
  // of the base is not its end (and that base does not exist).
  EXPECT_THAT(
      Column(*Run(" <GC://DC=harbor,DC=example> ; (|(cn=a;b)(mail=ana*)) ; name ; SUBTREE ")),
      ElementsAre("Ana Lima"));
  EXPECT_THAT(Column(*Run("<GC://>;mail=ana*;name;subtree")), ElementsAre("Ana Lima"));
  EXPECT_EQ(RaisedNumber([&] { Run("<GC://CN=a\\>b,DC=harbor,DC=example>;(cn=*);cn;base"); }),
            errnum::kNoSuchObject);
}

TEST_F(DirectoryTest, ScopesAndBaseNarrowing) {
  const std::string sales = "(department=Sales)";
  EXPECT_THAT(Names("", sales, "subTree"), ElementsAre("Ana Lima", "Bo B.", "Odd,OU=Staff", "Zed"));
  EXPECT_THAT(Names(kRoot, sales, "subTree"), ElementsAre("Ana Lima", "Bo B.", "Odd,OU=Staff"));
  EXPECT_THAT(Names("ou=staff,dc=HARBOR,dc=example", sales, "SubTree"),
              ElementsAre("Ana Lima", "Bo B."));
  EXPECT_THAT(Names("OU=Staff,DC=harbor,DC=example", sales, "oneLevel"), ElementsAre("Ana Lima"));
  EXPECT_THAT(Names(kRoot, sales, "ONELEVEL"), ElementsAre("Odd,OU=Staff"));
  EXPECT_THAT(Names(kRoot, "(|(objectClass=*)(objectCategory=*))", "oneLevel"),
              ElementsAre("Staff", "Odd,OU=Staff", "Lists"));
  EXPECT_THAT(Names("CN=Ana Lima,OU=Staff,DC=harbor,DC=example", sales, "base"),
              ElementsAre("Ana Lima"));
  EXPECT_THAT(Names("OU=Staff,DC=harbor,DC=example", sales, "base"), ElementsAre());
  EXPECT_THAT(Names("", "(objectClass=*)", "base"), ElementsAre());
}

TEST_F(DirectoryTest, BaseAndScopeIgnoreHowTheBaseIsSpelled) {
  const std::string sales = "(department=Sales)";
  struct Case {
    std::string base;
    std::string scope;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"OU=Staff, DC=harbor, DC=example", "subTree", {"Ana Lima", "Bo B."}},
      {"ou = staff ,dc=HARBOR,dc=example", "oneLevel", {"Ana Lima"}},
      {"OU=\\53taff,DC=harbor,DC=example", "subTree", {"Ana Lima", "Bo B."}},
      {"OU=Sub, OU=Staff,DC=harbor,DC=example", "oneLevel", {"Bo B."}},
      {"DC=harbor, DC=example", "oneLevel", {"Odd,OU=Staff"}},
      {"CN=Ana Lima, OU=Staff, DC=harbor, DC=example", "base", {"Ana Lima"}},
      // One RDN holding an escaped comma, in either escape.
      {"CN=Odd\\2COU=Staff,DC=harbor,DC=example", "base", {"Odd,OU=Staff"}},
      {"cn=odd\\,ou=staff, dc=harbor, dc=example", "subTree", {"Odd,OU=Staff"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Names(c.base, sales, c.scope), c.names) << c.base << " " << c.scope;
  }
}

TEST_F(DirectoryTest, FiltersSeeEveryObjectsDn) {
  // Only Bo carries a distinguishedName attribute; the others answer with their DN.
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"(distinguishedName=cn=ana lima, ou=staff, dc=harbor, dc=example)", {"Ana Lima"}},
      {"(distinguishedName=CN=Bo Brandt,OU=Sub, OU=Staff,DC=harbor,DC=example)", {"Bo B."}},
      {"(distinguishedName=CN=Odd\\5c2COU=Staff,DC=harbor,DC=example)", {"Odd,OU=Staff"}},
      {"(distinguishedName=CN=Ana Lima,DC=harbor,DC=example)", {}},
      // Odd's only RDN is CN=Odd\,OU=Staff: no OU=Staff in it.
      {"(ou:dn:=Staff)", {"Staff", "Ana Lima", "Sub", "Bo B."}},
      {"(ou:dn:=sub)", {"Sub", "Bo B."}},
      {"(cn:dn:=Ana Lima)", {"Ana Lima"}},
      {"(cn:dn:=Odd,OU=Staff)", {"Odd,OU=Staff"}},
      {"(&(dc:dn:=xharbor)(department=Sales))", {"Zed"}},
  };
  for (const auto& [filter, names] : cases) {
    EXPECT_EQ(Names("", filter, "subTree"), names) << filter;
  }
  auto rows = Run("<GC://OU=Staff, DC=harbor, DC=example>;(ou:dn:=Staff);distinguishedName;base");
  EXPECT_THAT(Column(*rows), ElementsAre("OU=Staff,DC=harbor,DC=example")) << "as written";
}

TEST_F(DirectoryTest, FieldsFollowTheAttributeList) {
  auto rows = Run(std::string("<GC://") + kRoot +
                  ">;(mail=ana*);pager,otherTelephone,name,ADsPath,distinguishedName,MAIL;subTree");
  ASSERT_EQ(rows->RecordCount(), 1);
  EXPECT_TRUE(rows->FieldAt(0).IsNull());
  const Variant phones = rows->FieldAt(1);
  ASSERT_NE(phones.Array(), nullptr);
  EXPECT_EQ(phones.Array()->items[0].ToText(), "+1 555 0100");
  EXPECT_EQ(phones.Array()->items[1].ToText(), "+1 555 0199");
  EXPECT_EQ(rows->FieldAt(2).ToText(), "Ana Lima");
  EXPECT_EQ(rows->FieldAt(3).ToText(), "GC://CN=Ana Lima,OU=Staff,DC=harbor,DC=example");
  EXPECT_EQ(rows->FieldAt(4).ToText(), "CN=Ana Lima,OU=Staff,DC=harbor,DC=example");
  EXPECT_EQ(rows->FieldAt(5).ToText(), "Ana.Lima@harbor.example");
  EXPECT_EQ(rows->Field("mail").ToText(), "Ana.Lima@harbor.example");
  EXPECT_EQ(rows->Field("adspath").ToText(), rows->FieldAt(3).ToText());
  EXPECT_EQ(RaisedNumber([&] { rows->FieldAt(6); }), errnum::kItemNotFound);
  EXPECT_EQ(RaisedNumber([&] { rows->FieldAt(-1); }), errnum::kItemNotFound);
  EXPECT_EQ(RaisedNumber([&] { rows->Field("department"); }), errnum::kItemNotFound);
}

// A record set remembers where the last few field names it was asked for
// are: more spellings than it keeps, asked in turn on every row, must each
// still read their own column, and a name that is no column must keep
// raising.
TEST_F(DirectoryTest, FieldNamesAskedInTurnReadTheirOwnColumns) {
  auto rows = Run(std::string("<GC://") + kRoot +
                  ">;(objectClass=*);name,mail,distinguishedName,ADsPath,legacyExchangeDN;subTree");
  ASSERT_GE(rows->RecordCount(), 3);
  const std::vector<std::pair<std::string, int32_t>> asked = {
      {"name", 0}, {"MAIL", 1}, {"distinguishedname", 2}, {"AdsPath", 3}, {"legacyExchangeDN", 4},
      {"Name", 0}, {"mail", 1}, {"LEGACYEXCHANGEDN", 4}};
  const auto text = [](const Variant& value) { return value.IsNull() ? "(null)" : value.ToText(); };
  int32_t seen = 0;
  for (rows->MoveFirst(); !rows->AtEOF(); rows->MoveNext(), ++seen) {
    for (const auto& [name, column] : asked) {
      // Twice: the second read is answered from what the first remembered.
      for (int time = 0; time < 2; ++time) {
        EXPECT_EQ(text(rows->Field(name)), text(rows->FieldAt(column))) << name << " row " << seen;
      }
      EXPECT_EQ(RaisedNumber([&] { rows->Field("department"); }), errnum::kItemNotFound);
    }
  }
  EXPECT_EQ(seen, rows->RecordCount());
}

TEST_F(DirectoryTest, LookUpAndMemberQueryOfAQueryBasedList) {
  // The two commands the list expansion sends, as it builds them.
  auto lookup = Run(std::string("<GC://") + kRoot +
                    ">;((mail=SALES@harbor.example));msExchDynamicDLFilter,msExchDynamicDLBaseDN;"
                    "subTree");
  ASSERT_EQ(lookup->State(), 1);
  ASSERT_FALSE(lookup->AtEOF());
  const std::string filter = lookup->FieldAt(0).ToText();
  const std::string base = lookup->FieldAt(1).ToText();
  EXPECT_EQ(filter, kSalesFilter);
  lookup->Close();
  auto members =
      Run("<GC://" + base + ">;" + filter + ";name,mail,legacyExchangeDN,objectCategory;subTree");
  ASSERT_EQ(members->RecordCount(), 2);
  EXPECT_EQ(members->Field("legacyExchangeDN").ToText(), "/o=Harbor/ou=Staff/cn=Recipients/cn=ana");
  members->MoveNext();
  EXPECT_EQ(members->Field("name").ToText(), "Bo B.");
  EXPECT_TRUE(members->Field("mail").IsNull());
  EXPECT_EQ(members->Field("objectCategory").ToText(), kPerson);
}

// An equality on mail or on an SMTP proxy is answered from the index; the
// rows must be those of a scan, in file order. "(|f)" never uses the
// index, so it is the scan's answer for f.
TEST(DirectoryIndexTest, IndexedEqualityAnswersAsTheScan) {
  auto org = std::make_shared<Organisation>();
  DirectoryData& d = org->data;
  d.Add(Entry(kRoot));
  d.Add(Entry("OU=A,DC=harbor,DC=example"));
  d.Add(Entry("CN=One,OU=A,DC=harbor,DC=example",
              {{"mail", {"Shared@X"}}, {"proxyAddresses", {"SMTP:one@x", "smtp:Shared@x"}}}));
  d.Add(Entry("CN=Two,DC=harbor,DC=example",
              {{"Mail", {"shared@x"}}, {"department", {"Sales"}}, {"mail", {"two@x"}}}));
  d.Add(Entry("CN=Three,OU=A,DC=harbor,DC=example",
              {{"mail", {"", "\xE2\x84\xAA@x"}},  // KELVIN SIGN folds to "k"
               {"proxyAddresses", {"X500:shared@x", "smtp:", "sMtP:K@X"}},
               {"department", {"sales"}}}));
  d.Add(Entry("CN=Four,OU=A,DC=harbor,DC=example", {{"mail", {"SHARED@x"}}}));
  org->context.search = &org->search;
  org->context.root_domain_naming_context = kRoot;
  org->context.faults = &org->faults;
  const auto context = std::shared_ptr<const DirectoryContext>(org, &org->context);
  const DirectoryContextSource source = [context] { return context; };

  const auto dns = [&](const std::string& base, const std::string& filter,
                       const std::string& scope) {
    auto connection = NewConnection(source);
    connection->SetProvider("ADsDSOObject");
    connection->Open("Active Directory Provider", "", "", -1);
    auto command = NewCommand(source);
    command->SetActiveConnection(connection);
    command->SetCommandText("<GC://" + base + ">;" + filter + ";distinguishedName;" + scope);
    auto rows = command->Execute(-1);
    std::vector<std::string> found;
    for (rows->MoveFirst(); !rows->AtEOF(); rows->MoveNext()) {
      found.push_back(rows->FieldAt(0).ToText());
    }
    return found;
  };
  const std::string one = "CN=One,OU=A,DC=harbor,DC=example";
  const std::string two = "CN=Two,DC=harbor,DC=example";
  const std::string three = "CN=Three,OU=A,DC=harbor,DC=example";
  const std::string four = "CN=Four,OU=A,DC=harbor,DC=example";
  struct Case {
    std::string base;
    std::string filter;
    std::string scope;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {kRoot, "((mail=shared@X))", "subTree", {one, two, four}},
      {kRoot, "(mail~=SHARED@x)", "subTree", {one, two, four}},
      {kRoot, "(mail=two@x)", "subTree", {two}},
      {kRoot, "(mail=k@x)", "subTree", {three}},
      {kRoot, "(mail=)", "subTree", {three}},  // an empty value is not indexed
      {kRoot, "(mail=nobody@x)", "subTree", {}},
      {kRoot, "(&(department=sales)(mail=shared@x))", "subTree", {two}},
      {kRoot, "(&(mail=shared@x)(!(mail=two@x)))", "subTree", {one, four}},
      {"OU=A,DC=harbor,DC=example", "(mail=shared@x)", "oneLevel", {one, four}},
      {"ou=a, dc=HARBOR,dc=example", "(mail=shared@x)", "subTree", {one, four}},
      {kRoot, "(mail=shared@x)", "oneLevel", {two}},
      {kRoot, "(proxyAddresses=smtp:SHARED@x)", "subTree", {one}},
      {kRoot, "(proxyAddresses=SMTP:k@x)", "subTree", {three}},
      {kRoot, "(proxyAddresses=smtp:)", "subTree", {three}},
      {kRoot, "(proxyAddresses=x500:shared@x)", "subTree", {three}},
      {kRoot, "(&(proxyAddresses=smtp:one@x)(mail=shared@x))", "subTree", {one}},
  };
  for (const Case& c : cases) {
    const auto indexed = dns(c.base, c.filter, c.scope);
    EXPECT_EQ(indexed, c.expected) << c.filter << " " << c.scope;
    EXPECT_EQ(indexed, dns(c.base, "(|" + c.filter + ")", c.scope)) << c.filter;
  }
}

TEST_F(DirectoryTest, RecordSetWalkAndErrors) {
  auto rows = Run(std::string("<GC://") + kRoot + ">;(department=sales);name;subTree");
  EXPECT_EQ(rows->State(), 1);
  EXPECT_EQ(rows->RecordCount(), 3);
  EXPECT_THAT(Column(*rows), ElementsAre("Ana Lima", "Bo B.", "Odd,OU=Staff"));
  EXPECT_TRUE(rows->AtEOF());
  EXPECT_EQ(RaisedNumber([&] { rows->MoveNext(); }), errnum::kNoCurrentRecord);
  EXPECT_EQ(RaisedNumber([&] { rows->FieldAt(0); }), errnum::kNoCurrentRecord);
  EXPECT_EQ(RaisedNumber([&] { rows->FieldAt(1); }), errnum::kItemNotFound);
  rows->MoveFirst();
  EXPECT_EQ(rows->Field("name").ToText(), "Ana Lima");
  rows->Close();
  EXPECT_EQ(rows->State(), 0);
  for (const auto& call : std::vector<std::function<void()>>{
           [&] { rows->AtEOF(); }, [&] { rows->FieldAt(0); }, [&] { rows->Field("name"); },
           [&] { rows->RecordCount(); }, [&] { rows->MoveFirst(); }, [&] { rows->MoveNext(); },
           [&] { rows->Close(); }}) {
    EXPECT_EQ(RaisedNumber(call), errnum::kOperationNotAllowedClosed);
  }

  auto none = Run(std::string("<GC://") + kRoot + ">;(department=Nobody);name;subTree");
  EXPECT_EQ(none->State(), 1);
  EXPECT_TRUE(none->AtEOF());
  EXPECT_EQ(none->RecordCount(), 0);
  none->MoveFirst();
  EXPECT_TRUE(none->AtEOF());
}

// A search that answers as the organisation's and notes each row a record
// set names as its next.
class AnticipationRecorder final : public DirectorySearch {
 public:
  explicit AnticipationRecorder(const DirectorySearch& inner) : inner_(inner) {}
  std::shared_ptr<const DirRecord> Find(std::string_view dn) const override {
    return inner_.Find(dn);
  }
  Rows Search(const DirectoryCommand& command, const ldapfilter::Filter& filter) const override {
    return inner_.Search(command, filter);
  }
  void Anticipate(const DirRecord& next_row) const override {
    anticipated.emplace_back(next_row.RdnValue());
  }
  mutable std::vector<std::string> anticipated;

 private:
  const DirectorySearch& inner_;
};

TEST_F(DirectoryTest, RecordSetsNameOnlyTheRowAfterTheCurrentOne) {
  AnticipationRecorder recorder(org_->search);
  auto context = std::make_shared<DirectoryContext>(org_->context);
  context->search = &recorder;
  current_ = context;
  auto rows = Run(std::string("<GC://") + kRoot + ">;(department=sales);name;subTree");
  EXPECT_THAT(recorder.anticipated, ElementsAre("Bo Brandt"));
  rows->MoveNext();
  rows->MoveNext();  // onto the last row: there is no next one
  rows->MoveNext();  // past it
  rows->MoveFirst();
  EXPECT_THAT(recorder.anticipated, ElementsAre("Bo Brandt", "Odd,OU=Staff", "Bo Brandt"));

  recorder.anticipated.clear();
  auto one = Run(std::string("<GC://") + kRoot + ">;(mail=ana.lima@harbor.example);name;subTree");
  EXPECT_EQ(one->RecordCount(), 1);
  one->MoveFirst();
  one->MoveNext();
  EXPECT_THAT(recorder.anticipated, ElementsAre());
}

TEST_F(DirectoryTest, RecordSetOutlivesTheOrganisationsLogon) {
  auto rows = Run(std::string("<GC://") + kRoot + ">;(department=sales);name;subTree");
  current_ = nullptr;
  org_.reset();
  // The record set holds the context, which holds the entries it points at.
  EXPECT_THAT(Column(*rows), ElementsAre("Ana Lima", "Bo B.", "Odd,OU=Staff"));
}

TEST_F(DirectoryTest, FaultInjection) {
  FaultPlan& faults = org_->faults;
  auto binder = NewDirectoryBinder(Source());
  faults.Inject(NoObject("DirectoryBinder.Bind").Times(1));
  EXPECT_EQ(binder->Bind("GC://rootDSE"), nullptr);
  EXPECT_NE(binder->Bind("GC://rootDSE"), nullptr);
  faults.Inject(Raise("DirectoryBinder.Bind", errnum::kLogonFailed).Skip(1));
  auto root_dse = binder->Bind("GC://rootDSE");
  EXPECT_EQ(RaisedNumber([&] { binder->Bind("GC://rootDSE"); }), errnum::kLogonFailed);
  faults.Inject(NoObject("DirectoryObject.Get"));
  EXPECT_TRUE(root_dse->Get("rootDomainNamingContext").IsEmpty());
  faults.Clear();

  // A connection whose Open gives nothing stays closed.
  faults.Inject(NoObject("Connection.Open").Times(1));
  auto connection = NewConnection(Source());
  connection->SetProvider("ADsDSOObject");
  connection->Open("Active Directory Provider", "", "", -1);
  EXPECT_EQ(RaisedNumber([&] { connection->Close(); }), errnum::kOperationNotAllowedClosed);

  const std::string text = std::string("<GC://") + kRoot + ">;(department=sales);name;subTree";
  faults.Inject(NoObject("Command.Execute").Times(1));
  EXPECT_EQ(Run(text), nullptr);
  faults.Inject(Raise("Command.Execute", errnum::kServerNotOperational).Times(1));
  EXPECT_EQ(RaisedNumber([&] { Run(text); }), errnum::kServerNotOperational);

  auto rows = Run(text);
  faults.Inject(Raise("Recordset.MoveNext", errnum::kNoCurrentRecord).Skip(1).Times(1));
  rows->MoveNext();
  EXPECT_EQ(RaisedNumber([&] { rows->MoveNext(); }), errnum::kNoCurrentRecord);
  EXPECT_EQ(rows->Field("name").ToText(), "Bo B.");
  faults.Inject(NoObject("Recordset.Field").Times(1));
  EXPECT_TRUE(rows->Field("name").IsEmpty());
  EXPECT_EQ(rows->FieldAt(0).ToText(), "Bo B.");
  faults.Inject(NoObject("Recordset.State").Times(1));
  faults.Inject(Raise("Recordset.RecordCount", 7).Times(1));
  EXPECT_EQ(rows->State(), 0);
  EXPECT_EQ(RaisedNumber([&] { rows->RecordCount(); }), 7);
  EXPECT_EQ(rows->RecordCount(), 3);
  faults.Inject(NoObject("Recordset.Close").Times(1));
  rows->Close();
  EXPECT_EQ(rows->State(), 1);
}

}  // namespace
}  // namespace platform::memory
