#include "platform/text.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// StartsWithNoCase and ContainsNoCase compare ASCII texts in place; they
// must answer as lower-casing both texts and comparing would, for ASCII,
// non-ASCII and mixed texts alike (KELVIN SIGN folds to "k", dotted capital
// I to "i", and bytes that are not UTF-8 stay as they are).
TEST(TextTest, NoCaseSearchesAnswerAsLowerCasing) {
  const std::vector<std::string> texts = {
      "",
      "s",
      "SMTP:",
      "smtp:Ana@x",
      "SmTp",
      "xsmtp:",
      "CN=Person,CN=Schema",
      "cn=person",
      "\xE2\x84\xAA@x",
      "k@x",
      "\xC4\xB0i",
      "ii",
      "J\xC3\x96RG",
      "j\xC3\xB6rg",
      "\xFF"
      "abc",
      "ABC",
      "[`{@",
      "{@",
  };
  for (const std::string& s : texts) {
    for (const std::string& t : texts) {
      const std::string ls = text::LCase(s);
      const std::string lt = text::LCase(t);
      EXPECT_EQ(text::StartsWithNoCase(s, t), ls.rfind(lt, 0) == 0) << s << " / " << t;
      EXPECT_EQ(text::ContainsNoCase(s, t), ls.find(lt) != std::string::npos) << s << " / " << t;
      EXPECT_EQ(text::EqualsNoCase(s, t), ls == lt) << s << " / " << t;
    }
  }
}

// LCase takes ASCII texts a word at a time: every ASCII byte, wherever it
// stands in a text of any length, changes only when it is A-Z; a text with
// one byte beyond ASCII anywhere is still lowered as a whole.
TEST(TextTest, LCaseLowersOnlyLettersAtEveryPlace) {
  for (size_t length = 1; length <= 19; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (int byte = 1; byte < 0x80; ++byte) {
        std::string s(length, 'Q');
        s[at] = static_cast<char>(byte);
        std::string expected(length, 'q');
        expected[at] = static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte);
        ASSERT_EQ(text::LCase(s), expected) << length << " " << at << " " << byte;
      }
      std::string mixed(length, 'Q');
      mixed.replace(at, 1, "\xC3\x96");  // Ö
      std::string lowered(length, 'q');
      lowered.replace(at, 1, "\xC3\xB6");
      ASSERT_EQ(text::LCase(mixed), lowered) << length << " " << at;
    }
  }
}

// AsciiEqualsNoCase folds A-Z to a-z and nothing else: every pair of bytes,
// at the start, the middle and the end of a text, against that reference.
TEST(TextTest, AsciiEqualsNoCaseFoldsOnlyAsciiLetters) {
  const auto fold = [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
  };
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const auto x = static_cast<unsigned char>(a);
      const auto y = static_cast<unsigned char>(b);
      const bool same = fold(x) == fold(y);
      for (const char* frame : {"%", "ab%", "%cd", "ab%cd"}) {
        std::string s(frame);
        std::string t(frame);
        s[s.find('%')] = static_cast<char>(x);
        t[t.find('%')] = static_cast<char>(y);
        ASSERT_EQ(text::AsciiEqualsNoCase(s, t), same) << a << " / " << b << " in " << frame;
      }
    }
  }
  EXPECT_TRUE(text::AsciiEqualsNoCase("legacyExchangeDN", "LEGACYEXCHANGEDN"));
  EXPECT_FALSE(text::AsciiEqualsNoCase("mail", "mails"));
  EXPECT_TRUE(text::AsciiEqualsNoCase("", ""));
}

// The overload for a string given up trims in place; both must agree.
// Every byte, high bit and NUL included, as two upper-case digits.
TEST(TextTest, HexOfBytesWritesTwoUpperCaseDigitsAByte) {
  EXPECT_EQ(text::HexOfBytes(std::string_view("\x00\x0F\x10\xA5\xFF", 5)), "000F10A5FF");
  EXPECT_EQ(text::HexOfBytes("EX:"), "45583A");
  EXPECT_EQ(text::HexOfBytes(""), "");
}

TEST(TextTest, TrimOfAGivenUpStringAgreesWithTrimOfAView) {
  for (const std::string sample : {"", " ", "   ", "a", " a", "a ", "  a b  ", "a  b", "\ta\t"}) {
    std::string given = sample;
    EXPECT_EQ(text::Trim(std::move(given)), text::Trim(std::string_view(sample)))
        << "'" << sample << "'";
  }
  EXPECT_EQ(text::Trim(std::string("  x  ")), "x");
  EXPECT_EQ(text::Trim(std::string(40, ' ') + "long enough to leave the small-string buffer "),
            "long enough to leave the small-string buffer");
}

}  // namespace
