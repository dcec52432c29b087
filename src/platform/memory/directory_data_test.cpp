#include "platform/memory/directory_data.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace platform::memory {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Adds an object whose (name, value) pairs are kept by the test.
bool AddObject(DirectoryData& data, const std::string& dn, const Pairs& pairs) {
  DirectoryData::NewEntry entry;
  entry.dn = dn;
  for (const auto& [name, value] : pairs) entry.values.emplace_back(name, value);
  return data.Add(entry) == DirectoryData::AddResult::kAdded;
}

DirectoryData::AddResult Add(DirectoryData& data, const std::string& dn, const Pairs& pairs) {
  DirectoryData::NewEntry entry;
  entry.dn = dn;
  for (const auto& [name, value] : pairs) entry.values.emplace_back(name, value);
  return data.Add(entry);
}

std::vector<std::string> Dns(const std::vector<const DirEntry*>& found) {
  std::vector<std::string> dns;
  for (const DirEntry* entry : found) dns.emplace_back(entry->dn);
  return dns;
}

// Lent room is handed out in the order lent and before any block of the
// arena's own; what does not fit the next piece gets a block of its own and
// leaves the piece in use; nothing handed out overlaps or leaves its room.
TEST(ArenaTest, LentRoomIsUsedInOrderAndNeverOverrun) {
  Arena arena;
  constexpr size_t kFirst = 1000;
  constexpr size_t kSecond = 12000;
  auto owned = std::make_unique<char[]>(16384);
  char* const first = owned.get();
  char* const second = owned.get() + 1024;
  arena.Adopt(std::move(owned));
  arena.Lend(first, kFirst);
  arena.Lend(second, kSecond);
  EXPECT_EQ(arena.LentLeft(), kFirst + kSecond);
  EXPECT_EQ(arena.Reserved(), 0U);
  const auto in = [](const void* at, size_t size, const char* piece, size_t piece_size) {
    const auto* p = static_cast<const char*>(at);
    return p >= piece && p + size <= piece + piece_size;
  };
  char* a = arena.Bytes(600);
  EXPECT_TRUE(in(a, 600, first, kFirst));
  // 600 + 500 passes the first piece's end: on to the second.
  char* b = arena.Bytes(500);
  EXPECT_TRUE(in(b, 500, second, kSecond));
  // Too large for the rest of the second piece: a block of its own, and
  // the piece stays the room in use.
  char* big = arena.Bytes(20000);
  EXPECT_FALSE(in(big, 20000, first, 16384));
  auto* views = arena.Make<std::string_view>(3);
  EXPECT_TRUE(in(views, 3 * sizeof(std::string_view), second, kSecond));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(views) % alignof(std::string_view), 0U);
  std::memset(a, 'a', 600);
  std::memset(b, 'b', 500);
  std::memset(big, 'c', 20000);
  EXPECT_EQ(std::string_view(a, 600), std::string(600, 'a'));
  EXPECT_EQ(std::string_view(b, 500), std::string(500, 'b'));
  // With the lent room used up, the arena takes blocks of its own.
  const size_t own = arena.Reserved();
  while (arena.LentLeft() > 0) {
    char* at = arena.Bytes(1);
    EXPECT_TRUE(in(at, 1, second, kSecond));
  }
  arena.Bytes(1);
  EXPECT_GT(arena.Reserved(), own);
}

// Room lent while a block of the arena's own is in use is used at once.
TEST(ArenaTest, RoomLentAfterABlockIsUsedFirst) {
  Arena arena;
  char* own = arena.Bytes(10);
  auto lent = std::make_unique<char[]>(256);
  char* const piece = lent.get();
  arena.Adopt(std::move(lent));
  arena.Lend(piece, 256);
  char* next = arena.Bytes(10);
  EXPECT_GE(next, piece);
  EXPECT_LE(next + 10, piece + 256);
  EXPECT_NE(next, own + 10);
}

// Lent room taken back is the room not handed out, and the arena uses none
// of it afterwards.
TEST(ArenaTest, LentRoomTakenBackIsWhatWasNotHandedOut) {
  Arena arena;
  auto owned = std::make_unique<char[]>(3000);
  char* const first = owned.get();
  char* const second = owned.get() + 2000;
  arena.Adopt(std::move(owned));
  arena.Lend(first, 1000);
  arena.Lend(second, 1000);
  char* used = arena.Bytes(300);
  EXPECT_EQ(used, first);
  const std::vector<std::span<char>> unused = arena.TakeBackLent();
  ASSERT_EQ(unused.size(), 2U);
  EXPECT_EQ(unused[0].data(), first + 300);
  EXPECT_EQ(unused[0].size(), 700U);
  EXPECT_EQ(unused[1].data(), second);
  EXPECT_EQ(unused[1].size(), 1000U);
  EXPECT_EQ(arena.LentLeft(), 0U);
  char* after = arena.Bytes(10);
  EXPECT_FALSE(after >= first && after < first + 3000);
  EXPECT_TRUE(arena.TakeBackLent().empty());
}

// Objects of one kind come in runs and share their grouping; an object
// that differs from the one before only in a name's letter case, in the
// order of its names, or in how many values it has must be grouped afresh,
// and each object's indexed values must be its own.
TEST(DirectoryDataTest, RunsOfLikeObjectsKeepTheirOwnAttributesAndIndexes) {
  DirectoryData data;
  ASSERT_TRUE(AddObject(data, "CN=A,DC=x",
                        {{"objectClass", "user"},
                         {"mail", "a@x"},
                         {"objectClass", "person"},
                         {"proxyAddresses", "SMTP:a.p@x"},
                         {"legacyExchangeDN", "/o=X/cn=a"}}));
  ASSERT_TRUE(AddObject(data, "CN=B,DC=x",
                        {{"objectClass", "user"},
                         {"mail", "b@x"},
                         {"objectClass", "person"},
                         {"proxyAddresses", "smtp:b.p@x"},
                         {"legacyExchangeDN", "/o=X/cn=b"}}));
  // The same names in another letter case: one attribute per name still.
  ASSERT_TRUE(AddObject(data, "CN=C,DC=x",
                        {{"OBJECTCLASS", "user"},
                         {"Mail", "c@x"},
                         {"objectclass", "person"},
                         {"ProxyAddresses", "Smtp:c.p@x"},
                         {"LegacyExchangeDN", "/o=X/cn=c"}}));
  // Another order, and one value fewer.
  ASSERT_TRUE(AddObject(data, "CN=D,DC=x",
                        {{"legacyExchangeDN", "/o=X/cn=d"},
                         {"mail", "d@x"},
                         {"objectClass", "user"},
                         {"proxyAddresses", "smtp:d.p@x"}}));
  // Names like the last object's, but a different count of values.
  ASSERT_TRUE(AddObject(data, "CN=E,DC=x",
                        {{"legacyExchangeDN", "/o=X/cn=e"},
                         {"mail", "e@x"},
                         {"objectClass", "user"},
                         {"proxyAddresses", "smtp:e.p@x"},
                         {"proxyAddresses", "smtp:e.q@x"}}));

  const auto& objects = data.Entries();
  ASSERT_EQ(objects.size(), 5u);
  for (const DirEntry& object : objects) {
    const std::string letter = std::string(object.RdnValue());
    std::string lower = letter;
    lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
    EXPECT_EQ(object.First("mail"), lower + "@x") << letter;
    EXPECT_EQ(object.First("legacyexchangedn"), "/o=X/cn=" + lower) << letter;
    EXPECT_EQ(Dns(data.ByMail(lower + "@X")), std::vector<std::string>{std::string(object.dn)});
    EXPECT_EQ(Dns(data.ByAddress(lower + ".p@x")),
              std::vector<std::string>{std::string(object.dn)});
    EXPECT_EQ(data.ByLegacyDN("/O=x/CN=" + letter), &object);
  }
  const auto classes = objects[2].Values("objectClass");
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_EQ(classes[0], "user");
  EXPECT_EQ(classes[1], "person");
  EXPECT_EQ(objects[2].attributes().size(), 4u);
  EXPECT_EQ(objects[3].Values("objectClass").size(), 1u);
  EXPECT_EQ(Dns(data.ByAddress("e.q@x")), std::vector<std::string>{"CN=E,DC=x"});
}

// A refused object leaves nothing behind: the next one takes its place and
// is found through every index.
// A value equal to the one in the same place of the object before (of the
// same names) is kept once and shared; anything else is the object's own.
TEST(DirectoryDataTest, RepeatedValuesAreSharedAndNothingElseIs) {
  DirectoryData data;
  const Pairs sales = {{"objectClass", "top"}, {"objectClass", "person"}, {"dept", "Sales"}};
  ASSERT_TRUE(AddObject(data, "CN=A,DC=x", sales));
  ASSERT_TRUE(AddObject(data, "CN=B,DC=x", sales));
  ASSERT_FALSE(AddObject(data, "CN=a,DC=x", {{"objectClass", "top"}, {"mail", "x@x"}}));
  ASSERT_TRUE(AddObject(data, "CN=C,DC=x",
                        {{"objectClass", "top"}, {"objectClass", "user"}, {"dept", "Salez"}}));
  ASSERT_TRUE(AddObject(data, "CN=D,DC=x", {{"dept", "Sales"}, {"objectClass", "top"}}));
  ASSERT_TRUE(AddObject(data, "CN=E,DC=x", {{"dept", "Sales"}, {"objectClass", "person"}}));
  const auto& objects = data.Entries();
  ASSERT_EQ(objects.size(), 5u);
  const auto values = [&](size_t i, const char* name) {
    const auto found = objects[i].Values(name);
    return std::vector<std::string>(found.begin(), found.end());
  };
  using Texts = std::vector<std::string>;
  EXPECT_EQ(values(1, "objectClass"), (Texts{"top", "person"}));
  EXPECT_EQ(values(2, "objectClass"), (Texts{"top", "user"}));
  EXPECT_EQ(values(2, "dept"), Texts{"Salez"});
  EXPECT_EQ(values(3, "dept"), Texts{"Sales"});
  EXPECT_EQ(values(3, "objectClass"), Texts{"top"});
  EXPECT_EQ(values(4, "objectClass"), Texts{"person"});
  // B shares A's copies. C comes after an object of other names (refused,
  // but looked at), so it shares nothing; E shares D's department only.
  EXPECT_EQ(objects[1].Values("objectClass")[1].data(), objects[0].Values("objectClass")[1].data());
  EXPECT_EQ(objects[1].Values("dept")[0].data(), objects[0].Values("dept")[0].data());
  EXPECT_NE(objects[2].Values("objectClass")[0].data(), objects[1].Values("objectClass")[0].data());
  EXPECT_EQ(objects[4].Values("dept")[0].data(), objects[3].Values("dept")[0].data());
  EXPECT_NE(objects[4].Values("objectClass")[0].data(), objects[3].Values("objectClass")[0].data());
}

TEST(DirectoryDataTest, DuplicateDnAddsNothingAndTheNextObjectIsWhole) {
  DirectoryData data;
  ASSERT_TRUE(AddObject(data, "CN=A,DC=x", {{"mail", "a@x"}}));
  EXPECT_FALSE(AddObject(data, "cn=a,dc=X", {{"mail", "dup@x"}, {"legacyExchangeDN", "/o=d"}}));
  EXPECT_FALSE(AddObject(data, "CN=A, DC=x", {{"mail", "dup@x"}}));
  EXPECT_EQ(data.Entries().size(), 1u);
  EXPECT_TRUE(data.ByMail("dup@x").empty());
  EXPECT_EQ(data.ByLegacyDN("/o=d"), nullptr);

  ASSERT_TRUE(AddObject(data, "CN=B,DC=x", {{"mail", "b@x"}, {"legacyExchangeDN", "/o=b"}}));
  ASSERT_EQ(data.Entries().size(), 2u);
  const DirEntry* b = &data.Entries()[1];
  EXPECT_EQ(data.ByDN("cn=b,dc=X"), b);
  EXPECT_EQ(data.ByDN("CN = B , DC = x"), b);
  EXPECT_EQ(b->dn_key, "cn=b,dc=x");
  // A plainly written DN is looked up as it stands, folded as it is
  // compared: it must still miss a DN one letter or one byte away.
  EXPECT_EQ(data.ByDN("CN=C,DC=x"), nullptr);
  EXPECT_EQ(data.ByDN("CN=B,DC=xy"), nullptr);
  EXPECT_EQ(data.ByDN("CN=B,DC="), nullptr);
  EXPECT_EQ(data.ByLegacyDN("/O=B"), b);
  EXPECT_EQ(Dns(data.ByMail("B@X")), std::vector<std::string>{"CN=B,DC=x"});
  // Compared eight bytes at a time: a DN one byte away, wherever that
  // byte stands, is another DN; the same DN in other letter case is not.
  const std::string long_dn = "CN=Ana Lima,OU=People,DC=harbor,DC=example";
  ASSERT_TRUE(AddObject(data, long_dn, {{"mail", "long@x"}}));
  const DirEntry* long_entry = &data.Entries().back();
  for (size_t i = 0; i < long_dn.size(); ++i) {
    std::string other = long_dn;
    other[i] = other[i] == '~' ? '}' : '~';
    EXPECT_EQ(data.ByDN(other), nullptr) << other;
    std::string upper = long_dn;
    upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
    EXPECT_EQ(data.ByDN(upper), long_entry) << upper;
  }
  // ... and find an object whose DN was written otherwise.
  ASSERT_TRUE(AddObject(data, "CN = E , DC = x", {{"mail", "e@x"}}));
  EXPECT_EQ(data.ByDN("cn=E,DC=X"), &data.Entries().back());
  // Keys that no plainly written DN has: escapes, letters beyond ASCII,
  // a text that is no DN. Each is found by any spelling, and a look-up
  // that is one escape away misses.
  ASSERT_TRUE(AddObject(data, "CN=Lima\\, Ana,DC=x", {}));
  const DirEntry* escaped = &data.Entries().back();
  EXPECT_EQ(data.ByDN("cn=LIMA\\, ANA,dc=X"), escaped);
  EXPECT_EQ(data.ByDN("CN=Lima\\2C Ana,DC=x"), escaped);
  EXPECT_EQ(data.ByDN("CN=Lima\\2c Ana, DC=x"), escaped);
  EXPECT_EQ(data.ByDN("CN=Lima\\2D Ana,DC=x"), nullptr);
  ASSERT_TRUE(AddObject(data, "CN=\\C3\\89mile,DC=x", {}));
  const DirEntry* accented = &data.Entries().back();
  EXPECT_EQ(data.ByDN("cn=\\c3\\a9mile,dc=x"), accented);
  EXPECT_EQ(data.ByDN("cn=\\C3\\A9MILE,DC=X"), accented);
  ASSERT_TRUE(AddObject(data, "not a dn", {}));
  EXPECT_EQ(data.ByDN("NOT A DN"), &data.Entries().back());
  EXPECT_EQ(data.ByDN("not a dn,"), nullptr);
}

// Keys are hashed and compared a word at a time, their last bytes apart:
// every length of tail, in short keys and long, must tell apart keys one
// byte away at any place and join keys that differ in letter case only.
TEST(DirectoryDataTest, KeysOfEveryLengthAreFoundByTheirOwnBytesOnly) {
  DirectoryData data;
  std::vector<std::string> mails;
  std::vector<std::string> dns;
  for (size_t length = 1; length <= 20; ++length) {
    std::string mail;
    for (size_t i = 0; i < length; ++i) mail += static_cast<char>('a' + (length + i) % 26);
    mails.push_back(mail);
    dns.push_back("C=" + mail);
    ASSERT_TRUE(AddObject(data, dns.back(), {{"mail", mail}}));
  }
  for (size_t k = 0; k < mails.size(); ++k) {
    const DirEntry* entry = &data.Entries()[k];
    for (size_t i = 0; i < mails[k].size(); ++i) {
      std::string upper = mails[k];
      upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
      EXPECT_EQ(Dns(data.ByMail(upper)), std::vector<std::string>{dns[k]}) << upper;
      EXPECT_EQ(data.ByDN("C=" + upper), entry) << upper;
      std::string other = mails[k];
      other[i] = '~';
      EXPECT_TRUE(data.ByMail(other).empty()) << other;
      EXPECT_EQ(data.ByDN("C=" + other), nullptr) << other;
    }
  }
}

// A legacyExchangeDN that another object holds, in any letter case, refuses
// the object, before its DN is looked at; the same value twice in one
// object does not. A refused object leaves no slot behind in any index.
TEST(DirectoryDataTest, DuplicateLegacyDnAddsNothing) {
  using Result = DirectoryData::AddResult;
  DirectoryData data;
  ASSERT_EQ(Add(data, "CN=A,DC=x", {{"legacyExchangeDN", "/o=a"}, {"legacyExchangeDN", "/O=A"}}),
            Result::kAdded);
  EXPECT_EQ(Add(data, "CN=B,DC=x",
                {{"legacyExchangeDN", "/o=b"}, {"mail", "b@x"}, {"legacyExchangeDN", "/O=a"}}),
            Result::kDuplicateLegacyDn);
  EXPECT_EQ(Add(data, "cn=a,dc=x", {{"legacyExchangeDN", "/o=a"}}), Result::kDuplicateLegacyDn);
  EXPECT_EQ(Add(data, "cn=a,dc=x", {{"legacyExchangeDN", "/o=c"}}), Result::kDuplicateDn);
  EXPECT_EQ(data.Entries().size(), 1u);
  EXPECT_EQ(data.ByLegacyDN("/o=a"), &data.Entries()[0]);
  EXPECT_EQ(data.ByLegacyDN("/o=b"), nullptr);
  EXPECT_EQ(data.ByLegacyDN("/o=c"), nullptr);
  EXPECT_TRUE(data.ByMail("b@x").empty());
  EXPECT_EQ(data.ByDN("CN=B,DC=x"), nullptr);
  ASSERT_EQ(Add(data, "CN=B,DC=x", {{"legacyExchangeDN", "/o=b"}, {"legacyExchangeDN", "/o=c"}}),
            Result::kAdded);
  EXPECT_EQ(data.ByLegacyDN("/O=C"), &data.Entries()[1]);
  EXPECT_EQ(data.ByLegacyDN("/o=a"), &data.Entries()[0]);
}

// Where a name was found in an object's shape is remembered by the name's
// address: a name written over in place, another name of the same size or
// the same name in other letter case, must still find its own values, and
// an object of another shape its own.
TEST(DirectoryDataTest, NamesAreFoundByTheirTextWhateverTheirAddress) {
  DirectoryData data;
  ASSERT_TRUE(AddObject(data, "CN=A,DC=x", {{"mail", "a@x"}, {"dept", "Sales"}, {"cn", "A"}}));
  ASSERT_TRUE(AddObject(data, "CN=B,DC=x", {{"dept", "Ops"}, {"cn", "B"}}));
  const DirEntry& a = data.Entries()[0];
  const DirEntry& b = data.Entries()[1];
  std::string name = "mail";
  for (int round = 0; round < 2; ++round) {
    name = "mail";
    EXPECT_EQ(a.First(name), "a@x");
    name = "dept";
    EXPECT_EQ(a.First(name), "Sales");
    EXPECT_EQ(b.First(name), "Ops");
    name = "DEPT";
    EXPECT_EQ(b.First(name), "Ops");
    name = "mail";
    EXPECT_TRUE(b.Values(name).empty());
    name = "Mail";
    EXPECT_EQ(a.First(name), "a@x");
    name = "cn\xC3\x96";  // a name beyond ASCII of the same size
    EXPECT_TRUE(a.Values(name).empty());
  }
}

// A directory made after another one is gone may get the same addresses
// for its shapes: what was remembered of the first must not answer for
// the second, whose attributes stand elsewhere.
TEST(DirectoryDataTest, NamesAreFoundInADirectoryMadeWhereAnotherWas) {
  for (int round = 0; round < 4; ++round) {
    {
      auto first = std::make_unique<DirectoryData>();
      ASSERT_TRUE(AddObject(*first, "CN=X,DC=a", {{"aa", "one"}, {"member", "CN=M,DC=a"}}));
      EXPECT_EQ(first->Entries()[0].First("member"), "CN=M,DC=a");
      EXPECT_EQ(first->Entries()[0].Values("aa").size(), 1u);
    }
    auto second = std::make_unique<DirectoryData>();
    ASSERT_TRUE(
        AddObject(*second, "CN=X,DC=a", {{"aa", "one"}, {"aa", "two"}, {"member", "CN=M,DC=a"}}));
    EXPECT_EQ(second->Entries()[0].First("member"), "CN=M,DC=a");
    EXPECT_EQ(second->Entries()[0].Values("aa").size(), 2u);
    auto third = std::make_unique<DirectoryData>();
    ASSERT_TRUE(AddObject(*third, "CN=X,DC=a", {{"member", "CN=N,DC=a"}}));
    EXPECT_EQ(third->Entries()[0].First("member"), "CN=N,DC=a");
    EXPECT_TRUE(third->Entries()[0].Values("aa").empty());
  }
}

// The keys hashed ahead of adding are the ones the indexes take: a plain DN,
// non-empty ODN and mail values, SMTP proxies after their prefix; each as
// its folded form hashes, so that a key in other letter case lands alike.
TEST(DirectoryDataTest, KeysAreHashedAheadAsTheIndexesTakeThem) {
  using Hashes = DirectoryData::KeyHashes;
  const std::vector<std::pair<std::string_view, std::string_view>> values = {
      {"cn", "A"},
      {"mail", "A@X"},
      {"legacyExchangeDN", ""},
      {"proxyAddresses", "X500:/o=a"},
      {"proxyAddresses", "SMTP:a@x"},
      {"proxyAddresses", "smtp:"},
      {"LEGACYEXCHANGEDN", "/o=A"}};
  Hashes plain;
  DirectoryData::HashKeys("CN=A,DC=x", true, values, plain);
  ASSERT_EQ(plain.count, 4u);
  EXPECT_EQ(std::vector<int>(plain.index.begin(), plain.index.begin() + 4),
            (std::vector<int>{0, 2, 3, 1}));
  Hashes lower;
  const std::vector<std::pair<std::string_view, std::string_view>> lowered = {
      {"mail", "a@x"}, {"proxyAddresses", "smtp:A@X"}, {"legacyExchangeDN", "/O=a"}};
  DirectoryData::HashKeys("cn=a,dc=X", true, lowered, lower);
  ASSERT_EQ(lower.count, 4u);
  EXPECT_EQ(plain.hash[0], lower.hash[0]);
  EXPECT_EQ(plain.hash[1], lower.hash[1]);
  EXPECT_EQ(plain.hash[2], lower.hash[2]);
  EXPECT_EQ(plain.hash[3], lower.hash[3]);
  EXPECT_EQ(plain.hash[1], plain.hash[2]);  // the mail and the proxy's address
  // A DN not written plainly is left out; more keys than fit are dropped.
  Hashes other;
  const std::vector<std::pair<std::string_view, std::string_view>> many(20, {"mail", "m@x"});
  DirectoryData::HashKeys("CN = A , DC = x", false, many, other);
  EXPECT_EQ(other.count, Hashes::kMax);
  EXPECT_EQ(other.index[0], 2);
}

// Only "smtp:" proxies in any letter case, with an address after the
// prefix, are indexed; other proxy types and a bare prefix are not.
TEST(DirectoryDataTest, OnlySmtpProxiesWithAnAddressAreIndexed) {
  DirectoryData data;
  ASSERT_TRUE(AddObject(data, "CN=P,DC=x",
                        {{"proxyAddresses", "SMTP:one@x"},
                         {"proxyAddresses", "sMtP:two@x"},
                         {"proxyAddresses", "X400:c=us;a=;p=x"},
                         {"proxyAddresses", "smtp:"},
                         {"proxyAddresses", "smtpthree@x"},
                         {"proxyAddresses", "\xC5\xBFmtp:four@x"}}));
  EXPECT_EQ(data.SmtpProxyPositions("ONE@x"), std::vector<uint32_t>{0});
  EXPECT_EQ(data.SmtpProxyPositions("two@X"), std::vector<uint32_t>{0});
  EXPECT_TRUE(data.SmtpProxyPositions("c=us;a=;p=x").empty());
  EXPECT_TRUE(data.SmtpProxyPositions("").empty());
  EXPECT_TRUE(data.SmtpProxyPositions("three@x").empty());
  EXPECT_TRUE(data.SmtpProxyPositions("four@x").empty());
}

}  // namespace
}  // namespace platform::memory
