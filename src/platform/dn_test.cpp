#include "platform/dn.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

struct Pair {
  std::string a;
  std::string b;
};

TEST(DnTest, SpellingsOfOneDnShareTheirNormalisedForm) {
  const std::vector<Pair> same = {
      {"CN=P1,DC=x,DC=example", "CN=P1, DC=x, DC=example"},
      {"CN=P2,DC=x", "CN = P2 , DC = x"},
      {"CN=Smith\\, John,DC=x", "CN=Smith\\2C John,DC=x"},
      {"CN=Smith\\, John,DC=x", "cn=SMITH\\2c JOHN,dc=X"},
      {"CN=Ana Lima,DC=x", "CN=Ana\\20Lima,DC=x"},
      {"CN=\\23hash,DC=x", "CN=\\#hash,DC=x"},
      {"CN=a=b,DC=x", "CN=a\\=b,DC=x"},
      // Non-ASCII letters fold too, written raw or as escaped UTF-8.
      {"CN=\xC3\x84rger,DC=x", "cn=\xC3\xA4RGER,dc=x"},
      {"CN=\xC3\x84rger,DC=x", "CN=\\C3\\A4rger,DC=x"},
      {"CN=#0402686A,DC=x", "cn=#0402686a,dc=X"},  // BER bytes, in either hex case
      // The assertions of a multi-valued RDN form a set.
      {"CN=a+UID=b,DC=x", "uid=B + cn=A,dc=x"},
  };
  for (const Pair& pair : same) {
    const auto a = NormaliseDn(pair.a);
    ASSERT_TRUE(a.has_value()) << pair.a;
    EXPECT_EQ(a, NormaliseDn(pair.b)) << pair.a << " | " << pair.b;
    EXPECT_EQ(DnKey(pair.a), DnKey(pair.b)) << pair.a << " | " << pair.b;
    EXPECT_TRUE(DnMatchesKey(pair.b, *a)) << pair.a << " | " << pair.b;
  }

  const std::vector<Pair> different = {
      {"CN=Ana Lima,DC=x", "CN=Ana  Lima,DC=x"},     // inner blanks are part of the value
      {"CN=Ana Lima,DC=x", "CN=Ana Lima\\20,DC=x"},  // so is an escaped blank at the end
      {"CN=Ana Lima,DC=x", "CN=Ana Lim,DC=x"},
      {"CN=Ana Lima,DC=x", "OU=Ana Lima,DC=x"},
      {"CN=Ana Lima,DC=x", "CN=Ana Lima,DC=x,DC=example"},
      {"CN=a\\,OU=b,DC=x", "CN=a,OU=b,DC=x"},  // one RDN holding a comma, not two RDNs
      {"CN=a+UID=b,DC=x", "CN=a,UID=b,DC=x"},
      {"CN=hi,DC=x", "CN=#04026869,DC=x"},  // a BER value is not the text
      {"CN=a,DC=x", "2.5.4.3=a,DC=x"},      // types are not looked up in a schema
  };
  for (const Pair& pair : different) {
    const auto a = NormaliseDn(pair.a);
    ASSERT_TRUE(a.has_value()) << pair.a;
    ASSERT_TRUE(NormaliseDn(pair.b).has_value()) << pair.b;
    EXPECT_NE(a, NormaliseDn(pair.b)) << pair.a << " | " << pair.b;
    EXPECT_FALSE(DnMatchesKey(pair.b, *a)) << pair.a << " | " << pair.b;
  }
}

// Most DNs take the path that only lower-cases the text; any DN must get
// the same form whichever path it takes. Blanks after the separators force
// the parsing path, so each character of the value is tried both ways.
TEST(DnTest, PlainlyWrittenDnsGetTheSameFormAsParsedOnes) {
  for (int c = 0x20; c < 0x7F; ++c) {
    if (c == '\\') continue;  // an escape, not a character of the value
    for (const std::string& value :
         {std::string("x") + static_cast<char>(c) + "Y", std::string(1, static_cast<char>(c))}) {
      const std::string plain = "CN=" + value + ",OU=Staff,DC=X";
      const std::string parsed = "CN=" + value + ", OU=Staff, DC=X";
      const auto normalised = NormaliseDn(plain);
      EXPECT_EQ(normalised, NormaliseDn(parsed)) << plain;
      if (!normalised) continue;  // ";", "<", ... unescaped: neither is a DN
      EXPECT_EQ(DnKey(plain), *normalised) << plain;
      EXPECT_TRUE(DnMatchesKey(plain, *normalised)) << plain;
      EXPECT_TRUE(DnMatchesKey(parsed, *normalised)) << plain;
    }
  }
  EXPECT_EQ(NormaliseDn("CN=Ana Lima,OU=Staff,DC=X"), "cn=ana lima,ou=staff,dc=x");
}

TEST(DnTest, TextsThatAreNotDnsFallBackToTheirLowerCase) {
  const std::vector<std::string> not_dns = {
      "no equals sign",
      "CN=a;b,DC=x",
      "CN=a,,DC=x",
      "CN=a,DC=x,",
      " ",
      "CN=\xFF\xFE,DC=x",
      "CN=\\FF\\FE,DC=x",  // not UTF-8
      std::string("CN=a\0b,DC=x", 11),
  };
  for (const std::string& text : not_dns) {
    EXPECT_EQ(NormaliseDn(text), std::nullopt) << text;
    EXPECT_EQ(ParseDn(text), std::nullopt) << text;
  }
  EXPECT_EQ(DnKey("CN=A;B,DC=X"), "cn=a;b,dc=x");
  EXPECT_TRUE(DnMatchesKey("cn=A;b,DC=x", DnKey("CN=a;B,dc=X")));
  EXPECT_FALSE(DnMatchesKey("CN=a; b,DC=x", DnKey("CN=a;b,DC=x")));
  EXPECT_EQ(NormaliseDn(""), "");
  ASSERT_TRUE(ParseDn("").has_value());
  EXPECT_TRUE(ParseDn("")->empty());
}

TEST(DnTest, LevelsBelowABase) {
  struct Case {
    std::string dn;
    std::string base;
    std::optional<size_t> levels;
  };
  const std::vector<Case> cases = {
      {"OU=Staff,DC=x", "ou=staff, dc=X", 0},
      {"CN=a,OU=Staff,DC=x", "OU=Staff, DC=x", 1},
      {"CN=a,OU=Sub,OU=Staff,DC=x", "OU=Staff,DC=x", 2},
      {"CN=a,OU=Staff,DC=x", "", 3},
      {"", "", 0},
      // The escaped comma is inside one RDN value: a child of DC=x only.
      {"CN=a\\,OU=Staff,DC=x", "OU=Staff,DC=x", std::nullopt},
      {"CN=a\\,OU=Staff,DC=x", "DC=x", 1},
      {"CN=a\\2C OU=Staff,DC=x", "DC=x", 1},
      // A suffix of the text that is not a whole RDN.
      {"CN=a,DC=xharbor,DC=example", "DC=harbor,DC=example", std::nullopt},
      {"DC=x", "CN=a,DC=x", std::nullopt},
      {"CN=a,DC=y", "DC=x", std::nullopt},
      // Texts that are not DNs still split at unescaped commas.
      {"CN=a;b,DC=x;y", "DC=x;y", 1},
      {"CN=a;b\\,DC=x;y", "DC=x;y", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DnLevelsBelow(DnKey(c.dn), DnKey(c.base)), c.levels) << c.dn << " | " << c.base;
  }
}

TEST(DnTest, FirstRdnValueUndoesEscapes) {
  EXPECT_EQ(FirstRdnValue("CN=Ana Lima,OU=Staff,DC=harbor,DC=example"), "Ana Lima");
  EXPECT_EQ(FirstRdnValue("CN=Lima\\, Ana,OU=Staff"), "Lima, Ana");
  EXPECT_EQ(FirstRdnValue("CN=\\23hash\\2Bplus,DC=x"), "#hash+plus");
  EXPECT_EQ(FirstRdnValue("CN = Bo ,DC=x"), "Bo");
  EXPECT_EQ(FirstRdnValue("CN=a+UID=b,DC=x"), "a");
  EXPECT_EQ(FirstRdnValue("DC=example"), "example");
  EXPECT_EQ(FirstRdnValue("no equals sign"), "");
  EXPECT_EQ(FirstRdnValue(""), "");
}

}  // namespace
}  // namespace platform
