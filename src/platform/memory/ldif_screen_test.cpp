#include "platform/memory/ldif_screen.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/memory/memory_backend.h"

namespace platform::memory {
namespace {

constexpr size_t kNeverSplit = std::numeric_limits<size_t>::max();

// What a screen says about a text: its fault, or what it counted.
std::string Verdict(const std::string& text, size_t split_from) {
  LdifCounts counts;
  try {
    ScreenLdif(text, "d.ldif", &counts, split_from);
  } catch (const ProfileError& error) {
    return error.what();
  }
  return "records " + std::to_string(counts.records) + ", mails " + std::to_string(counts.mails) +
         ", proxies " + std::to_string(counts.proxies);
}

std::string Person(int i) {
  // Every third has two proxy addresses, one of them folded with its name
  // in another letter case; a comment names an attribute that must not
  // count.
  const std::string n = std::to_string(i);
  std::string person = "dn: CN=P" + n + ",DC=x\nobjectClass: user\nmail: p" + n + "@x\n";
  if (i % 3 == 0)
    person += "proxyAddresses: SMTP:p" + n + "@x\nPROXYADDRESSES: smtp:q" + n + "\n @x\n";
  return person + "# mail: not counted\n\n";
}

// A text screened in two halves on two threads gives what it gives whole:
// the same first fault with the same line number, whichever half holds it
// and whether a fault sits in both, and the same record count.
TEST(LdifScreenTest, TwoHalvesSayWhatTheWholeSays) {
  std::string clean;
  for (int i = 0; i < 40; ++i) clean += Person(i);
  const size_t middle = clean.size() / 2;
  const std::vector<std::string> faults = {
      "include: other.ldif\n",
      "jpegPhoto:< file:///etc/passwd\n",
      "display Name: x\n",
      "photo:: abc\n",
      "msExchRecipientDisplayType: 99999999999\n",
      std::string("cn: a\0b\n", 8),
      "cn: a\rb\n",
      "cn: fine\n <folded\n",
  };
  std::vector<std::string> texts = {clean, "", "\n\n\n", "dn: CN=A,DC=x\n"};
  for (const std::string& fault : faults) {
    for (const size_t at : {size_t{0}, middle - 40, middle, middle + 40, clean.size()}) {
      // The fault goes in as a record line at the start of the line at or
      // after `at`.
      size_t line_start = clean.rfind('\n', at == 0 ? 0 : at - 1);
      line_start = line_start == std::string::npos || at == 0 ? 0 : line_start + 1;
      std::string text = clean;
      text.insert(line_start, fault);
      texts.push_back(text);
      // The same fault in both halves: the first must win.
      std::string twice = text;
      twice.insert(twice.size() - 1, fault);
      texts.push_back(twice);
    }
  }
  std::string crlf = clean;
  for (size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
    crlf.insert(at, "\r");
  }
  texts.push_back(crlf);
  texts.push_back(crlf + "cn: x\r");
  texts.push_back("\xEF\xBB\xBF" + clean + "bad name: x\n");

  for (const std::string& text : texts) {
    EXPECT_EQ(Verdict(text, 0), Verdict(text, kNeverSplit)) << text.substr(0, 200);
  }
  EXPECT_EQ(Verdict(clean, 0), "records 40, mails 40, proxies 28");
  std::string late = clean + "include: x\n";
  EXPECT_EQ(Verdict(late, 0),
            "d.ldif:" + std::to_string(std::count(clean.begin(), clean.end(), '\n') + 1) +
                ": include directives are not accepted");
}

// The look for a NUL or a CR finds either at every place: before, at and
// after the sixteen-byte steps, from starts on and off them; never in a
// text without one, nor just past the end of the text it is given.
TEST(LdifScreenTest, HoldsCrOrNulFindsEitherAnywhere) {
  const std::string clean(100, 'x');
  EXPECT_FALSE(HoldsCrOrNul(""));
  for (size_t start = 0; start < 17; ++start) {
    EXPECT_FALSE(HoldsCrOrNul(std::string_view(clean).substr(start)));
    for (size_t at = start; at < clean.size(); ++at) {
      for (const char c : {'\r', '\0'}) {
        std::string text = clean;
        text[at] = c;
        EXPECT_TRUE(HoldsCrOrNul(std::string_view(text).substr(start)))
            << "at " << at << " from " << start;
      }
    }
  }
  const std::string followed = clean + "\r";
  for (size_t size = 0; size <= clean.size(); ++size) {
    EXPECT_FALSE(HoldsCrOrNul(std::string_view(followed).substr(clean.size() - size, size)));
  }
}

}  // namespace
}  // namespace platform::memory
