#include "platform/memory/address_book.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_test_support.h"
#include "platform/memory/organisation.h"

namespace platform::memory {
namespace {

using memtest::ErrorOf;

class MemoryAddressBookTest : public ::testing::Test {
 protected:
  MemoryAddressBookTest() : organisation_(LoadFromText("{}", memtest::kLdif, "t")) {}

  const MemoryAddressBook& book() const {
    return static_cast<const MemoryAddressBook&>(organisation_->address_book());
  }

  EntryRef Ref(const std::string& name) const {
    const auto index = book().FirstByName(name);
    EXPECT_TRUE(index.has_value()) << name;
    EntryRef ref;
    ref.index = index.value_or(0);
    return ref;
  }

  std::vector<std::string> Names(const std::vector<uint32_t>& indexes) const {
    std::vector<std::string> names;
    for (const uint32_t index : indexes) names.emplace_back(book().entry(index).name);
    return names;
  }

  // The resolved entry's name, "SMTP:<address>" for a one-off, or the error.
  std::string Resolved(const std::string& text) const {
    try {
      const EntryRef ref = book().Resolve(text);
      return ref.one_off() ? "SMTP:" + ref.address : book().Name(ref);
    } catch (const PlatformError& e) {
      return e.description();
    }
  }

  std::shared_ptr<Organisation> organisation_;
};

TEST_F(MemoryAddressBookTest, HoldsVisibleExchangeObjectsInFileOrder) {
  std::vector<uint32_t> all;
  for (uint32_t i = 0; i < book().size(); ++i) all.push_back(i);
  EXPECT_EQ(Names(all), (std::vector<std::string>{
                            "Ana Lima", "Ben Ortiz", "Benedikt Ahn", "Sales Team", "Dyn", "Org",
                            "Carla Contact", "Typed", "Twin", "Twin", "Shared A", "Shared B"}));
  const auto* hal = organisation_->directory().ByDN("CN=Hidden Hal,OU=People,DC=harbor,DC=example");
  ASSERT_NE(hal, nullptr);
  EXPECT_FALSE(book().IndexOf(*hal).has_value());
  EXPECT_FALSE(book().ByODN("/o=Harbor/cn=Recipients/cn=hal").has_value());
  EXPECT_EQ(book().ByODN("/O=HARBOR/CN=RECIPIENTS/CN=ANA"), book().FirstByName("ana lima"));
}

TEST_F(MemoryAddressBookTest, DisplayTypeComesFromTheAttributeElseTheObjectClass) {
  EXPECT_EQ(book().DisplayType(Ref("Ana Lima")), 0);
  EXPECT_EQ(book().DisplayType(Ref("Sales Team")), 1);
  EXPECT_EQ(book().DisplayType(Ref("Dyn")), 3) << "dynamic list wins over group";
  EXPECT_EQ(book().DisplayType(Ref("Org")), 4) << "object class compared without case";
  EXPECT_EQ(book().DisplayType(Ref("Carla Contact")), 6);
  EXPECT_EQ(book().DisplayType(Ref("Typed")), -2147483642);
  EntryRef one_off;
  one_off.address = "x@y.example";
  EXPECT_EQ(book().DisplayType(one_off), 0);
}

TEST_F(MemoryAddressBookTest, MembersFollowTheListOrderAndSkipObjectsOutsideTheBook) {
  EXPECT_EQ(Names(book().Members(Ref("Sales Team"))),
            (std::vector<std::string>{"Ben Ortiz", "Ana Lima"}));
  EXPECT_TRUE(book().Members(Ref("Ana Lima")).empty());
  EntryRef one_off;
  one_off.address = "x@y.example";
  EXPECT_TRUE(book().Members(one_off).empty());
}

TEST_F(MemoryAddressBookTest, FieldsGiveAddressesAndRaiseForWhatIsMissing) {
  const EntryRef ana = Ref("Ana Lima");
  EXPECT_EQ(book().Type(ana), "EX");
  EXPECT_EQ(book().Address(ana), "/o=Harbor/cn=Recipients/cn=ana");
  EXPECT_EQ(book().Field(ana, tag::kEmailAddress).ToText(), "/o=Harbor/cn=Recipients/cn=ana");
  EXPECT_EQ(book().Field(ana, tag::kSmtpAddress).ToText(), "ana.lima@harbor.example")
      << "the primary proxy, not the first one";
  const Variant proxies = book().Field(ana, tag::kProxyAddresses);
  ASSERT_NE(proxies.Array(), nullptr);
  ASSERT_EQ(proxies.Array()->items.size(), 3u);
  EXPECT_EQ(proxies.Array()->items[2].ToText(), "X500:/o=Old/cn=ana");

  const EntryRef ben = Ref("Ben Ortiz");
  EXPECT_EQ(book().Field(ben, tag::kSmtpAddress).ToText(), "ben.ortiz@harbor.example");
  EXPECT_EQ(ErrorOf([&] { book().Field(ben, tag::kProxyAddresses); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { book().Field(Ref("Dyn"), tag::kSmtpAddress); }), errnum::kNotFound);
  EXPECT_EQ(book().SmtpAddress(Ref("Dyn")), "");
  EXPECT_EQ(ErrorOf([&] { book().Field(ana, 0x3001001E); }), errnum::kNotFound);

  EntryRef one_off;
  one_off.address = "Someone@Outside.example";
  EXPECT_EQ(book().Type(one_off), "SMTP");
  EXPECT_EQ(book().Name(one_off), "Someone@Outside.example");
  EXPECT_EQ(book().Field(one_off, tag::kEmailAddress).ToText(), "Someone@Outside.example");
  EXPECT_EQ(book().Field(one_off, tag::kSmtpAddress).ToText(), "Someone@Outside.example");
  EXPECT_EQ(ErrorOf([&] { book().Field(one_off, tag::kProxyAddresses); }), errnum::kNotFound);
}

// The look-up of a prefixed array element reads the values where they lie;
// it must answer, and fail, exactly as reading the field and scanning it.
TEST_F(MemoryAddressBookTest, FirstTextWithPrefixAnswersAsTheFieldDoes) {
  const auto by_field = [&](const EntryRef& ref, int32_t field,
                            std::string_view prefix) -> std::string {
    try {
      const Variant value = book().Field(ref, field);
      if (value.Array() == nullptr) return "(none)";
      for (const Variant& element : value.Array()->items) {
        if (element.ToText().starts_with(prefix)) return element.ToText().substr(prefix.size());
      }
      return "(none)";
    } catch (const PlatformError& e) {
      return "error " + std::to_string(e.number());
    }
  };
  const auto direct = [&](const EntryRef& ref, int32_t field,
                          std::string_view prefix) -> std::string {
    try {
      return book().FirstTextWithPrefix(ref, field, prefix).value_or("(none)");
    } catch (const PlatformError& e) {
      return "error " + std::to_string(e.number());
    }
  };
  std::vector<EntryRef> refs;
  for (uint32_t i = 0; i < book().size(); ++i) refs.push_back(EntryRef{i, ""});
  refs.push_back(EntryRef{EntryRef::kOneOff, "Someone@Outside.example"});
  for (const EntryRef& ref : refs) {
    for (const int32_t field :
         {tag::kProxyAddresses, tag::kEmailAddress, tag::kSmtpAddress, int32_t{0x3001001E}}) {
      for (const std::string_view prefix : {"SMTP:", "smtp:", "X500:", ""}) {
        SCOPED_TRACE(std::to_string(ref.index) + " " + std::to_string(field) + " " +
                     std::string(prefix));
        EXPECT_EQ(direct(ref, field, prefix), by_field(ref, field, prefix));
      }
    }
  }
  EXPECT_EQ(direct(Ref("Ana Lima"), tag::kProxyAddresses, "SMTP:"), "ana.lima@harbor.example")
      << "the primary proxy, not the first one";
}

TEST_F(MemoryAddressBookTest, EntryIdentifiersRoundTrip) {
  const EntryRef ana = Ref("Ana Lima");
  const std::string id = book().EntryId(ana);
  EXPECT_EQ(id, HexOf("EX:/o=harbor/cn=recipients/cn=ana"));
  auto decoded = book().DecodeEntryId(id);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->index, ana.index);
  std::string lower = id;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(book().DecodeEntryId(lower)->index, ana.index);

  EntryRef one_off;
  one_off.address = "x@y.example";
  decoded = book().DecodeEntryId(book().EntryId(one_off));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(decoded->one_off());
  EXPECT_EQ(decoded->address, "x@y.example");

  for (const std::string& bad :
       std::vector<std::string>{"", "ABC", "ZZ", HexOf("EX:/o=Harbor/cn=Recipients/cn=hal"),
                                HexOf("XY:abc"), HexOf("SMTP:")}) {
    EXPECT_FALSE(book().DecodeEntryId(bad).has_value()) << bad;
  }
}

TEST_F(MemoryAddressBookTest, ResolutionRules) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // EX: + ODN, prefix in any case, ODN without regard to case.
      {"EX:/o=Harbor/cn=Recipients/cn=ben", "Ben Ortiz"},
      {"  ex:/O=HARBOR/cn=recipients/cn=BEN  ", "Ben Ortiz"},
      {"EX:/o=Harbor/cn=Recipients/cn=hal", "MAPI_E_NOT_FOUND"},
      {"EX:/o=Harbor/cn=Recipients/cn=nobody", "MAPI_E_NOT_FOUND"},
      // SMTP forms: proxies (any prefix case) and mail; one-off otherwise.
      {"SMTP:ana@harbor.example", "Ana Lima"},
      {"smtp:ANA.LIMA@harbor.example", "Ana Lima"},
      {"ben.ortiz@harbor.example", "Ben Ortiz"},
      {"shared@harbor.example", "MAPI_E_AMBIGUOUS_RECIP"},
      {"Who@Outside.example", "SMTP:Who@Outside.example"},
      {"smtp: who@outside.example ", "SMTP:who@outside.example"},
      {"SMTP:", "MAPI_E_NOT_FOUND"},
      // Whole names without regard to case: ODN, displayName, alias, RDN.
      {"/o=harbor/cn=recipients/cn=sales", "Sales Team"},
      {"sales team", "Sales Team"},
      {"SALES", "Sales Team"},
      {"  Sales  ", "Sales Team"},
      {"twin one", "Twin"},
      {"Twin", "MAPI_E_AMBIGUOUS_RECIP"},
      // An exact alias beats the prefix it shares with another entry.
      {"ben", "Ben Ortiz"},
      // Unique prefixes of displayName, givenName, sn, mailNickname.
      {"Bene", "Benedikt Ahn"},
      {"ahn", "Benedikt Ahn"},
      {"lim", "Ana Lima"},
      {"bah", "Benedikt Ahn"},
      {"Be", "MAPI_E_AMBIGUOUS_RECIP"},
      {"Ortiz Ben", "MAPI_E_NOT_FOUND"},
      // Not in the book.
      {"Hidden Hal", "MAPI_E_NOT_FOUND"},
      {"No Exchange", "MAPI_E_NOT_FOUND"},
      {"   ", "MAPI_E_NOT_FOUND"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Resolved(text), expected) << "'" << text << "'";
  }
}

TEST_F(MemoryAddressBookTest, CandidatesCollectEveryMatchUpToTheLimit) {
  EXPECT_EQ(Names(book().Candidates("shared@harbor.example").matches),
            (std::vector<std::string>{"Shared A", "Shared B"}));
  EXPECT_EQ(book().Candidates("b").matches.size(), 2u) << "Ben, Benedikt";
  EXPECT_EQ(book().Candidates("b", 1).matches.size(), 1u);
  const Resolution one_off = book().Candidates("x@y.example");
  EXPECT_TRUE(one_off.matches.empty());
  EXPECT_EQ(one_off.one_off, "x@y.example");
}

TEST_F(MemoryAddressBookTest, FirstByNameTakesTheEarliestEntry) {
  const auto twin = book().FirstByName("TWIN");
  ASSERT_TRUE(twin.has_value());
  EXPECT_EQ(book().entry(*twin).odn, "/o=Harbor/cn=Recipients/cn=twin1");
  EXPECT_FALSE(book().FirstByName("sales").has_value()) << "an alias is not a name";
  EXPECT_TRUE(book().FirstByName("dyn").has_value())
      << "the RDN names an entry without displayName";
}

// A list with one member value, and the people it could name.
std::string ListWithMember(const std::string& member) {
  std::string ldif = "dn: DC=x,DC=example\nobjectClass: domainDNS\n\n";
  for (const std::string rdn : {"CN=P1", "CN=Smith\\, John", "CN=P2", "CN=Ana Lima"}) {
    ldif += "dn: " + rdn + ",OU=People,DC=x,DC=example\nobjectClass: user\n" +
            "legacyExchangeDN: /o=x/cn=" + rdn.substr(3) + "\n\n";
  }
  return ldif + "dn: CN=List,DC=x,DC=example\nobjectClass: group\nlegacyExchangeDN: /o=x/cn=l\n" +
         "member: " + member + "\n";
}

TEST(MemoryAddressBookMembersTest, MemberDnsMatchInAnySpellingOfTheSameDn) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"CN=P1,OU=People,DC=x,DC=example", "P1"},
      {"CN=P1, OU=People, DC=x, DC=example", "P1"},
      {"CN = P2 ,OU = People,DC=x,DC=example", "P2"},
      {"CN=Smith\\2C John,OU=People,DC=x,DC=example", "Smith, John"},
      {"CN=Ana\\20Lima,OU=People,DC=x,DC=example", "Ana Lima"},
      // Another value, or the same one elsewhere in the tree, is not the member.
      {"CN=P3,OU=People,DC=x,DC=example", ""},
      {"CN=Ana  Lima,OU=People,DC=x,DC=example", ""},
      {"CN=P1\\20,OU=People,DC=x,DC=example", ""},
      {"OU=P1,OU=People,DC=x,DC=example", ""},
      {"CN=P1;OU=People,DC=x,DC=example", ""},  // not a DN at all
  };
  for (const auto& [member, expected] : cases) {
    SCOPED_TRACE(member);
    const auto organisation = LoadFromText("{}", ListWithMember(member), "t");
    const AddressBook& book = organisation->address_book();
    const auto list = book.FirstByName("List");
    ASSERT_TRUE(list.has_value());
    const std::vector<uint32_t> members = book.Members(EntryRef{*list, ""});
    if (expected.empty()) {
      EXPECT_TRUE(members.empty());
    } else {
      ASSERT_EQ(members.size(), 1u);
      EXPECT_EQ(book.entry(members.front()).name, expected);
    }
  }
}

// A list's members are looked up a few ahead of the one being taken; the
// answer keeps the list's order whatever mix of spellings it holds.
TEST(MemoryAddressBookMembersTest, ManyMembersInMixedSpellingsKeepTheListOrder) {
  std::string ldif = ListWithMember("CN=P2,OU=People,DC=x,DC=example");
  ldif += "member: CN=Nobody,OU=People,DC=x,DC=example\n";
  ldif += "member: CN=Smith\\2C John,OU=People,DC=x,DC=example\n";
  ldif += "member: cn=zo\xc3\xab \xc3\xbcnal, ou=people,DC=x,DC=example\n";
  ldif += "member: CN = P1 ,OU = People,DC=x,DC=example\n";
  for (int i = 0; i < 12; ++i) {
    ldif += i % 2 == 0 ? "member: cn=ana lima,OU=PEOPLE,DC=x,DC=example\n"
                       : "member: CN=P3,OU=People,DC=x,DC=example\n";
  }
  ldif += "member: CN=P1;OU=People,DC=x,DC=example\n";
  ldif += "member: CN=P1,OU=People,DC=x,DC=example\n";
  ldif +=
      "\ndn: CN=Zo\xc3\xab \xc3\x9cnal,OU=People,DC=x,DC=example\nobjectClass: user\n"
      "legacyExchangeDN: /o=x/cn=zoe\n";
  const auto organisation = LoadFromText("{}", ldif, "t");
  const AddressBook& book = organisation->address_book();
  const auto list = book.FirstByName("List");
  ASSERT_TRUE(list.has_value());
  std::vector<std::string> names;
  for (const uint32_t member : book.Members(EntryRef{*list, ""})) {
    names.emplace_back(book.entry(member).name);
  }
  std::vector<std::string> expected = {"P2", "Smith, John", "Zo\xc3\xab \xc3\x9cnal", "P1"};
  for (int i = 0; i < 6; ++i) expected.emplace_back("Ana Lima");
  expected.emplace_back("P1");
  EXPECT_EQ(names, expected);
}

TEST(MemoryAddressBookMembersTest, LoaderRefusesTheSameDnSpelledTwice) {
  const std::string ldif = ListWithMember("CN=P1,OU=People,DC=x,DC=example") +
                           "\ndn: cn=smith\\2c JOHN, ou=people, dc=x, dc=example\n"
                           "objectClass: user\n";
  try {
    LoadFromText("{}", ldif, "t");
    ADD_FAILURE() << "loaded";
  } catch (const ProfileError& e) {
    EXPECT_NE(std::string(e.what()).find("duplicate dn"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("first at line 8"), std::string::npos) << e.what();
  }
}

// Large enough that the name keys are sorted on two threads.
TEST(MemoryAddressBookScaleTest, LargeDirectoryResolvesEveryForm) {
  std::string ldif;
  for (int i = 0; i < 22000; ++i) {
    const std::string n = std::to_string(i);
    ldif += "dn: CN=User " + n + ",DC=x\nobjectClass: user\ndisplayName: User " + n +
            "\nmailNickname: u" + n + "\nlegacyExchangeDN: /o=x/cn=u" + n + "\nmail: u" + n +
            "@x.example\n\n";
  }
  // Names beyond ASCII sort by their bytes among the others.
  for (int i = 10; i < 110; ++i) {
    const std::string n = std::to_string(i);
    ldif += "dn: CN=E" + n + ",DC=x\nobjectClass: user\ndisplayName: \xC3\x89mile " + n +
            "\nlegacyExchangeDN: /o=x/cn=e" + n + "\n\n";
  }
  const auto organisation = LoadFromText("{}", ldif, "big");
  const AddressBook& book = organisation->address_book();
  ASSERT_EQ(book.size(), 22100u);
  EXPECT_EQ(book.Name(book.Resolve("\xC3\xA9mile 42")), "\xC3\x89mile 42");
  EXPECT_EQ(book.Candidates("\xC3\xA9mile 4", 100).matches.size(), 10u);
  EXPECT_EQ(book.Candidates("\xC3\xA9mile 10", 100).matches.size(), 1u);
  EXPECT_EQ(book.Candidates("\xC3\xA9mile 1", 100).matches.size(), 20u);  // 10-19, 100-109
  EXPECT_EQ(book.Candidates("user 1999", 100).matches.size(), 1u);
  EXPECT_EQ(book.Candidates("user 199", 100).matches.size(), 1u) << "exact name first";
  EXPECT_EQ(book.Candidates("user 19", 1000).matches.size(), 1u);
  EXPECT_EQ(book.Name(book.Resolve("user 12345")), "User 12345");
  EXPECT_EQ(book.Name(book.Resolve("U19999")), "User 19999");
  EXPECT_EQ(book.Name(book.Resolve("u7@x.example")), "User 7");
  EXPECT_EQ(book.Name(book.Resolve("EX:/o=x/cn=u42")), "User 42");
  EXPECT_EQ(ErrorOf([&] { book.Resolve("User 1"); }), 0) << "exact name before prefix";
  EXPECT_EQ(ErrorOf([&] { book.Resolve("User 1999"); }), 0);
  EXPECT_EQ(ErrorOf([&] { book.Resolve("User 199"); }), 0);
  EXPECT_EQ(ErrorOf([&] { book.Resolve("User 1999 "); }), 0);
  EXPECT_EQ(ErrorOf([&] { book.Resolve("User 22000"); }), errnum::kNotFound);
  EXPECT_EQ(ErrorOf([&] { book.Resolve("Use"); }), errnum::kAmbiguousRecip);
}

// A large directory's book is made in two halves at once; joined, they
// must be the book made in one pass: every object with a legacyExchangeDN,
// in directory order, each knowing its place.
TEST(MemoryAddressBookBuildTest, ALargeDirectoryMakesTheSameBookInDirectoryOrder) {
  DirectoryData directory;
  constexpr uint32_t kObjects = 70000;  // past the size made on two threads
  directory.Reserve(kObjects, 0, 0);
  for (uint32_t i = 0; i < kObjects; ++i) {
    const std::string n = std::to_string(i);
    DirectoryData::NewEntry entry;
    const std::string dn = "CN=P" + n + ",DC=x";
    const std::string odn = "/o=X/cn=p" + n;
    entry.dn = dn;
    entry.values.emplace_back("displayName", dn);
    // Every third object stays out of the book, so that the halves hold
    // different numbers of entries.
    if (i % 3 != 1) entry.values.emplace_back("legacyExchangeDN", odn);
    ASSERT_EQ(directory.Add(entry), DirectoryData::AddResult::kAdded);
  }
  const MemoryAddressBook book(directory);
  uint32_t expected = 0;
  for (uint32_t i = 0; i < kObjects; ++i) {
    const DirEntry& object = directory.Entries()[i];
    const std::optional<uint32_t> index = book.IndexOf(object);
    if (i % 3 == 1) {
      ASSERT_FALSE(index.has_value()) << i;
      continue;
    }
    ASSERT_EQ(index, expected) << i;
    ASSERT_EQ(book.entry(expected).object, &object) << i;
    ++expected;
  }
  EXPECT_EQ(book.size(), expected);
}

// Where an object keeps the attributes the book reads is worked out once
// for a run of objects of one shape: an object whose names come in another
// order, another case, or with other counts must be read by its own names,
// and a later object of an earlier shape by that shape's.
TEST(MemoryAddressBookBuildTest, EachShapeIsReadByItsOwnNames) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  const std::vector<std::pair<std::string, Pairs>> objects = {
      {"CN=A,DC=x",
       {{"displayName", "A"}, {"legacyExchangeDN", "/o=x/cn=a"}, {"objectClass", "group"}}},
      {"CN=B,DC=x",
       {{"legacyExchangeDN", "/o=x/cn=b"}, {"displayName", "B"}, {"objectClass", "group"}}},
      {"CN=C,DC=x",
       {{"DISPLAYNAME", "C"}, {"LEGACYEXCHANGEDN", "/o=x/cn=c"}, {"OBJECTCLASS", "group"}}},
      {"CN=D,DC=x", {{"legacyExchangeDN", "/o=x/cn=d"}}},
      {"CN=E,DC=x", {{"legacyExchangeDN", "/o=x/cn=e"}, {"msExchHideFromAddressLists", "TRUE"}}},
      {"CN=F,DC=x",
       {{"displayName", "F"}, {"legacyExchangeDN", "/o=x/cn=f"}, {"objectClass", "contact"}}},
      {"CN=G,DC=x",
       {{"displayName", "G"},
        {"displayName", "G2"},
        {"legacyExchangeDN", "/o=x/cn=g"},
        {"objectClass", "organization"}}},
      {"CN=H,DC=x", {}},
  };
  DirectoryData directory;
  for (const auto& [dn, pairs] : objects) {
    DirectoryData::NewEntry entry;
    entry.dn = dn;
    for (const auto& [name, value] : pairs) entry.values.emplace_back(name, value);
    ASSERT_EQ(directory.Add(entry), DirectoryData::AddResult::kAdded) << dn;
  }
  const MemoryAddressBook book(directory);
  struct Expected {
    std::string name;
    std::string odn;
    int32_t display_type;
  };
  const std::vector<std::optional<Expected>> expected = {Expected{"A", "/o=x/cn=a", 1},
                                                         Expected{"B", "/o=x/cn=b", 1},
                                                         Expected{"C", "/o=x/cn=c", 1},
                                                         Expected{"D", "/o=x/cn=d", 0},
                                                         std::nullopt,
                                                         Expected{"F", "/o=x/cn=f", 6},
                                                         Expected{"G", "/o=x/cn=g", 4},
                                                         std::nullopt};
  for (size_t i = 0; i < objects.size(); ++i) {
    const std::optional<uint32_t> index = book.IndexOf(directory.Entries()[i]);
    ASSERT_EQ(index.has_value(), expected[i].has_value()) << objects[i].first;
    if (!index) continue;
    EXPECT_EQ(book.entry(*index).name, expected[i]->name) << objects[i].first;
    EXPECT_EQ(book.entry(*index).odn, expected[i]->odn) << objects[i].first;
    EXPECT_EQ(book.entry(*index).display_type, expected[i]->display_type) << objects[i].first;
  }
}

}  // namespace
}  // namespace platform::memory
