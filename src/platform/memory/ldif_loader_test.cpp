// A large text is screened record by record as it is read, not in a pass
// before: random texts, with and without one fault of each kind the screen
// refuses, must load the same objects, or fail with the same fault, either
// way.
#include "platform/memory/ldif_loader.h"

#include <cstddef>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/memory/directory_data.h"
#include "platform/memory/memory_backend.h"

namespace platform::memory {
namespace {

constexpr size_t kNever = std::numeric_limits<size_t>::max();

// What a load gives: every object with its line and values, or the fault.
std::string Loaded(const std::string& ldif, size_t screen_while_reading_from) {
  DirectoryData directory;
  std::string root_dn;
  try {
    LoadLdifText(ldif, "t.ldif", directory, &root_dn, {}, screen_while_reading_from);
  } catch (const ProfileError& e) {
    return std::string("fault ") + e.what();
  }
  std::string out = "root " + root_dn + "\n";
  for (const DirEntry& object : directory.Entries()) {
    out += std::string(object.dn) + " @" + std::to_string(object.line) + "\n";
    for (const DirAttribute attribute : object.attributes()) {
      for (const std::string_view value : attribute.values()) {
        out += " " + std::string(attribute.name()) + "=" + std::string(value) + "\n";
      }
    }
  }
  return out;
}

// Lines the screen passes, some of them taken by libldap's line parser.
const std::vector<std::string> kGoodLines = {
    "cn: plain",
    "mail: a@x.example",
    "proxyAddresses: SMTP:a@x.example",
    "description:: aGVsbG8=",
    "objectClass: user",
    "msExchRecipientDisplayType: 1",
    "msExchRecipientDisplayType:  -2147483648",
    "telephoneNumber:   +1 555",
    "cn;lang-en: tagged",
    "2.5.4.3: by oid",
    "x-custom-attr: dash",
    "description: folded\n  onto two lines",
    "# a comment\n  with a continuation: that is not read",
    "info: a colon: and a <",
    "info: caf\xc3\xa9",
    "info:",
    "changetype: add",
};

// Lines the screen refuses, one kind each.
const std::vector<std::string> kBadLines = {
    "mail:< file:///etc/passwd",
    "description: value\n continued:< file:///etc/passwd",
    "# a comment\n  whose continuation:< is still looked at",
    "include: file:///etc/passwd",
    "InClUdE: other.ldif",
    "display name: blank in the name",
    "-lead: hyphen first",
    "description:: not base64!",
    "description:: abc",
    "msExchRecipientDisplayType: 4294967296",
    "msExchRecipientDisplayType: one",
    "cn;: empty option",
    "1.2.: bad oid",
};

// A text of `records` records made of good lines, the i-th record opening
// as the reader's fast path takes it unless `odd_start` says otherwise.
std::string RandomText(std::mt19937& random, int records, const std::string& bad_line,
                       int bad_at) {
  std::string ldif = random() % 2 == 0 ? "version: 1\n\n" : "";
  for (int r = 0; r < records; ++r) {
    // Now and then a record opens with what sends the rest of the text to
    // libldap's reader: a comment line before it.
    if (random() % 12 == 0) ldif += "# note\n";
    ldif += "dn: CN=R" + std::to_string(r) + ",DC=x\n";
    const int lines = static_cast<int>(random() % 5);
    for (int l = 0; l < lines; ++l) ldif += kGoodLines[random() % kGoodLines.size()] + "\n";
    if (r == bad_at) ldif += bad_line + "\n";
    if (random() % 3 == 0) ldif += kGoodLines[random() % kGoodLines.size()] + "\n";
    ldif += random() % 4 == 0 ? "\n\n" : "\n";
  }
  return ldif;
}

TEST(LdifLoaderTest, ScreeningAsItReadsLoadsAndRefusesAsScreeningFirst) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 400; ++round) {
    const int records = 1 + static_cast<int>(random() % 8);
    const bool with_fault = round % 4 != 0;
    const std::string bad = with_fault ? kBadLines[random() % kBadLines.size()] : "";
    const int bad_at = with_fault ? static_cast<int>(random() % records) : -1;
    const std::string ldif = RandomText(random, records, bad, bad_at);
    SCOPED_TRACE(ldif);
    const std::string first = Loaded(ldif, kNever);
    EXPECT_EQ(Loaded(ldif, 0), first);
    if (with_fault) {
      EXPECT_EQ(first.rfind("fault ", 0), 0u) << first;
    }
  }
}

// A fault in the record that sends the text to libldap's reader, or in one
// after it, is found before libldap reads it.
TEST(LdifLoaderTest, TheRestGivenToLibldapIsScreenedFirst) {
  const std::string good = "dn: CN=a,DC=x\ncn: a\n\n";
  for (const std::string& rest :
       {std::string("# c\ndn: CN=b,DC=x\nmail:< file:///etc/passwd\n"),
        std::string(" continued:< file:///etc/passwd\ndn: CN=b,DC=x\n"),
        std::string("include: file:///etc/passwd\n"),
        std::string("1\ndn: CN=b,DC=x\ncn: b\n\ndn: CN=c,DC=x\nbad name: c\n")}) {
    SCOPED_TRACE(rest);
    const std::string ldif = good + rest;
    const std::string first = Loaded(ldif, kNever);
    EXPECT_EQ(first.rfind("fault t.ldif:", 0), 0u) << first;
    EXPECT_EQ(Loaded(ldif, 0), first);
  }
}

// Only a text without NUL and CR bytes is screened as it is read: the
// others are screened first, with the same faults.
TEST(LdifLoaderTest, TextsWithNulOrCrAreScreenedFirst) {
  const std::string nul = std::string("dn: CN=a,DC=x\ncn: a\0b\n", 22);
  EXPECT_EQ(Loaded(nul, 0), "fault t.ldif:2: NUL byte in the line");
  const std::string crlf = "dn: CN=a,DC=x\r\ncn: a\r\n\r\ndn: CN=b,DC=x\r\nmail:< x\r\n";
  EXPECT_EQ(Loaded(crlf, 0), Loaded(crlf, kNever));
  EXPECT_EQ(Loaded(crlf, 0).rfind("fault t.ldif:5: ", 0), 0u);
  const std::string marked = "\xEF\xBB\xBF" "dn: CN=a,DC=x\ncn: a\n";
  EXPECT_EQ(Loaded(marked, 0), Loaded(marked, kNever));
  EXPECT_EQ(Loaded(marked, 0).rfind("root \nCN=a,DC=x @1\n", 0), 0u);
}

}  // namespace
}  // namespace platform::memory
