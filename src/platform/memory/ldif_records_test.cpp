#include "platform/memory/ldif_records.h"

#include <cstddef>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <ldap.h>
#include <stdio.h>  // ldif.h uses FILE without including it

#include <ldif.h>

namespace platform::memory {
namespace {

// What a reading gave: each record as (first line, its lines with LF line
// ends and a final LF), then the fault that ended it, if any.
struct Reading {
  std::vector<std::pair<size_t, std::string>> records;
  std::string fault;
  bool operator==(const Reading&) const = default;
};

std::string Normalised(const char* text, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\r' && i + 1 < size && text[i + 1] == '\n') continue;
    out += text[i];
  }
  if (out.empty() || out.back() != '\n') out += '\n';
  return out;
}

Reading Read(std::string text, LdifRecordReader::Mode mode, size_t* in_place = nullptr) {
  Reading reading;
  LdifRecordReader reader(std::span<char>(text.data(), text.size()), mode);
  try {
    LdifRecord record;
    while (reader.Next(record)) {
      reading.records.emplace_back(record.first_line, Normalised(record.text, record.size));
      if (in_place != nullptr && record.text_end != 0) ++*in_place;
    }
  } catch (const LdifRecordError& e) {
    reading.fault = std::to_string(e.line()) + ": " + e.what();
  }
  return reading;
}

std::string Describe(const Reading& reading) {
  std::string out;
  for (const auto& [line, text] : reading.records) out += std::to_string(line) + "|" + text + "~\n";
  return out + "fault: " + reading.fault;
}

TEST(LdifRecordsTest, PlainRecordsAreCutInPlaceWithTheirLineNumbers) {
  std::string text = "\n\ndn: a\nmail: x\n folded\n\r\n\ndn: b\r\ncn: b\r\n\r\ndn: c";
  const std::string before = text;
  LdifRecordReader reader(std::span<char>(text.data(), text.size()));
  LdifRecord record;
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.first_line, 3u);
  EXPECT_EQ(std::string(record.text, record.size), "dn: a\nmail: x\n folded\n");
  EXPECT_EQ(record.text, text.data() + 2);
  EXPECT_EQ(record.text_end, 2 + record.size);
  EXPECT_EQ(record.text[record.size], '\0');
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.first_line, 8u);
  EXPECT_EQ(std::string(record.text, record.size), "dn: b\r\ncn: b\r\n");
  ASSERT_TRUE(reader.Next(record));
  EXPECT_EQ(record.first_line, 11u);
  EXPECT_EQ(std::string(record.text, record.size), "dn: c");
  EXPECT_FALSE(reader.Next(record));
  EXPECT_FALSE(reader.Next(record));
  // Only the first byte of each line end after a record became its NUL.
  size_t changed = 0;
  for (size_t i = 0; i < text.size(); ++i) changed += text[i] != before[i];
  EXPECT_EQ(changed, 2u);
}

// Random texts of the shapes a file takes, including every case in which
// libldap's reader has rules of its own at a record's start (comments, a
// line number, a continuation, a line that opens with another character),
// long lines that its line buffer takes in pieces, CR LF ends and a last
// line without an end: cutting in place must give the records, the line
// numbers and the faults that libldap's reader gives on its own.
TEST(LdifRecordsTest, CutsEveryTextAsLibldapsReaderDoes) {
  std::mt19937 random(20261208);
  const auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  const std::vector<std::string> first_lines = {"dn: cn=a,dc=x",
                                                "DN: cn=b,dc=x",
                                                "version: 1",
                                                "# a comment",
                                                "#",
                                                "1",
                                                "12 dn: cn=c",
                                                " continued",
                                                "-dn: cn=d",
                                                "dn:: Y249ZQ==",
                                                "x",
                                                "Include: file:///nonexistent/x",
                                                "include:file:///nonexistent/y",
                                                "includes: x"};
  const std::vector<std::string> lines = {"mail: a@x",
                                          " folded",
                                          "# comment",
                                          "member: cn=m,dc=x",
                                          "description:",
                                          "  two blanks",
                                          "cn: " + std::string(5000, 'v'),
                                          "objectClass: top",
                                          "1: one",
                                          "dn: second"};
  size_t in_place = 0;
  size_t total = 0;
  for (int round = 0; round < 3000; ++round) {
    const bool crlf_text = pick(3) == 0;
    const auto end = [&] { return crlf_text || pick(8) == 0 ? std::string("\r\n") : "\n"; };
    std::string text;
    for (size_t b = pick(3); b > 0; --b) text += end();
    const size_t records = 1 + pick(5);
    for (size_t r = 0; r < records; ++r) {
      // Mostly plain records, so that reading goes in place for a while.
      text += pick(4) == 0 ? first_lines[pick(first_lines.size())] : first_lines[pick(2)];
      for (size_t l = pick(5); l > 0; --l) text += end() + lines[pick(lines.size())];
      if (r + 1 < records || pick(2) == 0) text += end();
      if (r + 1 < records) {
        for (size_t b = 1 + pick(2); b > 0; --b) text += end();
      }
    }
    if (pick(4) == 0) text += end();
    size_t this_in_place = 0;
    const Reading cut = Read(text, LdifRecordReader::Mode::kInPlace, &this_in_place);
    const Reading libldap = Read(text, LdifRecordReader::Mode::kLibldapOnly);
    ASSERT_EQ(Describe(cut), Describe(libldap)) << "text: " << testing::PrintToString(text);
    in_place += this_in_place;
    total += cut.records.size();
  }
  // Both ways of reading were exercised.
  EXPECT_GT(in_place, total / 3);
  EXPECT_LT(in_place, total);
}

// Lines of every shape, from bytes that matter to libldap's line parser
// (colons, "<", blanks of each kind, ";", bytes beyond ASCII): taking a
// plain line apart here must give what the parser gives, and any other
// line must reach the parser.
TEST(LdifRecordsTest, LinesAreTakenApartAsLibldapsParserDoes) {
  std::mt19937 random(8122026);
  const std::string alphabet = "aZ9-:;< \t\v\f=#,\xA0\x85xQ";
  size_t plain = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    if (random() % 2 == 0) line = random() % 2 == 0 ? "cn" : "mail";
    for (size_t n = random() % 9; n > 0; --n) line += alphabet[random() % alphabet.size()];
    if (random() % 3 == 0) line = "sn: " + line;

    std::string ours = line;
    LdifLine parsed;
    const bool taken = ParseLdifLine(ours.data(), ours.size(), parsed);
    const bool in_place = parsed.decoded == nullptr && parsed.value.data() >= ours.data() &&
                          parsed.value.data() <= ours.data() + ours.size();
    std::string theirs = line;
    berval type{};
    berval value{};
    int free_value = 0;
    const bool accepted = ldif_parse_line2(theirs.data(), &type, &value, &free_value) == 0;
    ASSERT_EQ(taken, accepted) << testing::PrintToString(line);
    if (accepted) {
      EXPECT_EQ(parsed.name, std::string_view(type.bv_val, type.bv_len))
          << testing::PrintToString(line);
      EXPECT_EQ(parsed.value, value.bv_val == nullptr
                                  ? std::string_view()
                                  : std::string_view(value.bv_val, value.bv_len))
          << testing::PrintToString(line);
      plain += in_place && ours == line;  // taken apart here, the line untouched
    }
    if (free_value != 0) ber_memfree(value.bv_val);
    if (parsed.decoded != nullptr) ber_memfree(parsed.decoded);
  }
  EXPECT_GT(plain, 1000u);
}

TEST(LdifRecordsTest, AnEmptyOrBlankTextHasNoRecords) {
  for (const std::string text : {"", "\n", "\r\n\n\r\n"}) {
    for (const auto mode :
         {LdifRecordReader::Mode::kInPlace, LdifRecordReader::Mode::kLibldapOnly}) {
      EXPECT_TRUE(Read(text, mode).records.empty()) << text;
      EXPECT_EQ(Read(text, mode).fault, "");
    }
  }
}

}  // namespace
}  // namespace platform::memory
