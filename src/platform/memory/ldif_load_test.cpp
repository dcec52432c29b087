// Loading a large LDIF text, which is read on one thread while its records
// are added on another: the same objects, the same first fault, the same
// stop, as a small text read and added in turns.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/memory/memory_backend.h"
#include "platform/memory/organisation.h"

namespace platform::memory {
namespace {

// Persons of four lines each (blank line included), from line 1: over
// 1 MiB for 16,000 of them.
std::string People(int count, const std::string& line_end = "\n") {
  std::string ldif;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    ldif += "dn: CN=Person " + n + ",DC=x" + line_end + "mail: p" + n + "@x" + line_end +
            "legacyExchangeDN: /o=X/cn=p" + n + line_end + line_end;
  }
  return ldif;
}

constexpr int kPeople = 16000;

std::string LoadError(const std::string& ldif) {
  try {
    LoadFromText("{}", ldif, "t");
  } catch (const ProfileError& e) {
    return e.what();
  }
  return "(loaded)";
}

TEST(LdifLoadTest, ALargeTextLoadsEveryRecordInFileOrder) {
  for (const std::string line_end : {"\n", "\r\n"}) {
    const std::string ldif = "version: 1" + line_end + line_end + People(kPeople, line_end);
    ASSERT_GT(ldif.size(), size_t{1} << 20);
    const auto organisation = LoadFromText("{}", ldif, "t");
    const auto& objects = organisation->directory().Entries();
    ASSERT_EQ(objects.size(), size_t{kPeople});
    for (const int i : {0, 255, 256, 257, 1023, 1024, kPeople - 1}) {
      const std::string n = std::to_string(i);
      const DirEntry& object = objects[static_cast<size_t>(i)];
      EXPECT_EQ(object.dn, "CN=Person " + n + ",DC=x");
      EXPECT_EQ(object.line, size_t{3} + 4 * static_cast<size_t>(i));
      EXPECT_EQ(object.First("mail"), "p" + n + "@x");
      EXPECT_EQ(object.RdnValue(), "Person " + n);
      EXPECT_EQ(organisation->directory().ByLegacyDN("/O=X/CN=P" + n), &object);
    }
  }
}

// A text of several MiB is lent to the directory's arena piece by piece as
// it is read, and later objects are copied into it: every object must still
// hold its own values, the first and the last alike, and a base64 value
// decoded on the way.
TEST(LdifLoadTest, ObjectsKeepTheirValuesAfterTheTextIsLetGo) {
  constexpr int kMany = 120000;  // about 10 MiB of text
  const std::string ldif = People(kMany) + "dn: CN=Coded,DC=x\nmail:: Y29kZWRAeA==\n";
  ASSERT_GT(ldif.size(), size_t{8} << 20);
  const auto organisation = LoadFromText("{}", ldif, "t");
  const auto& objects = organisation->directory().Entries();
  ASSERT_EQ(objects.size(), size_t{kMany} + 1);
  for (int i = 0; i < kMany; ++i) {
    const std::string n = std::to_string(i);
    const DirEntry& object = objects[static_cast<size_t>(i)];
    ASSERT_EQ(object.dn, "CN=Person " + n + ",DC=x");
    ASSERT_EQ(object.RdnValue(), "Person " + n);
    ASSERT_EQ(object.First("mail"), "p" + n + "@x");
    ASSERT_EQ(object.First("legacyExchangeDN"), "/o=X/cn=p" + n);
  }
  EXPECT_EQ(objects.back().First("mail"), "coded@x");
  EXPECT_EQ(organisation->directory().ByDN("cn=person 0,dc=x"), &objects.front());
  // The copies went into the text's own pages behind the records added:
  // the arena took blocks of its own only while it waited for the next
  // piece. (Copied into blocks of its own, they would take more than the
  // text.)
  EXPECT_LT(organisation->directory().ArenaBytes(), ldif.size() / 2);
  // What the arena was lent and did not use went back to the system.
  EXPECT_EQ(organisation->directory().LentRoomLeft(), 0U);
}

// Each fault after a large good part is reported as it is after a small one,
// with its line; and of two faults the first in the file wins, whichever
// side of the loading finds it.
TEST(LdifLoadTest, TheFirstFaultOfALargeTextIsReportedWithItsLine) {
  const std::string good = People(kPeople);
  const auto line = [](int l) { return "t.ldif:" + std::to_string(l) + ": "; };
  const int next = 4 * kPeople + 1;  // the line after the good part
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good + "dn: CN=b,DC=x\ncn b\n", line(next + 1) + "malformed line in entry \"CN=b,DC=x\""},
      {good + "dn: cn=person 7,dc=X\ncn: again\n",
       line(next) + "duplicate dn 'cn=person 7,dc=X' (first at line 29)"},
      {good + "dn: CN=c,DC=x\nlegacyExchangeDN: /O=X/CN=P9\n",
       line(next) + "duplicate legacyExchangeDN '/O=X/CN=P9' (first at line 37)"},
      {good + "cn: orphan\n", line(next) + "record without dn"},
      {good + "dn: not a dn\ncn: x\n", line(next) + "'not a dn' is not a valid DN"},
      {good + "no colon here\n", line(next) + "malformed line"},
      // A large text is screened as it is read: a URL value in a record
      // read in place, and an include line in the rest that libldap's
      // reader would read, are refused with their lines all the same.
      {good + "dn: CN=u,DC=x\ncn: u\nmail:< file:///etc/passwd\n",
       line(next + 2) + "the value of 'mail' is a URL"},
      {good + "# the rest goes to libldap's reader\ndn: CN=i,DC=x\n\ninclude: file:///etc/passwd\n",
       line(next + 3) + "include directives are not accepted"},
      {"1ver\n\n" + good, line(1) + "record without dn"},
      // Two faults: the earlier one is reported.
      {"dn: CN=Person 3,DC=x\n\n" + good + "no colon here\n",
       "t.ldif:15: duplicate dn 'CN=Person 3,DC=x' (first at line 1)"},
      {People(300) + "dn: bad\n\n" + good + "cn: orphan\n", line(1201) + "'bad' is not a valid DN"},
      // A fault in adding, then one in reading in the record after it.
      {good + "dn: cn=person 7,dc=X\n\ndn: CN=b,DC=x\ncn b\n",
       line(next) + "duplicate dn 'cn=person 7,dc=X' (first at line 29)"},
  };
  for (const auto& [ldif, expected] : cases) {
    const std::string error = LoadError(ldif);
    EXPECT_EQ(error.rfind(expected, 0), 0u)
        << ldif.substr(ldif.size() - 60) << "\n gave: " << error;
  }
}

// A file of 8 MiB and more is read in two halves at once: the record that
// spans the middle, and every other, loads whole.
TEST(LdifLoadTest, ALargeFileReadInTwoHalvesLoadsWhole) {
  char folder[] = "/tmp/ldif_load_test.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::filesystem::path dir(folder);
  constexpr int kLong = 20000;
  std::string ldif;
  for (int i = 0; i < kLong; ++i) {
    const std::string n = std::to_string(i);
    ldif += "dn: CN=P" + n +
            ",DC=x\ndescription: " + std::string(420, static_cast<char>('a' + i % 26)) +
            "\nmail: p" + n + "@x\n\n";
  }
  ASSERT_GT(ldif.size(), size_t{8} << 20);
  std::ofstream(dir / "big.ldif") << ldif;
  std::ofstream(dir / "p.json") << R"({"directory": "big.ldif"})";
  const auto organisation = LoadOrganisationFile((dir / "p.json").string(), nullptr);
  const auto& objects = organisation->directory().Entries();
  ASSERT_EQ(objects.size(), size_t{kLong});
  for (int i = 0; i < kLong; ++i) {
    const std::string n = std::to_string(i);
    const DirEntry& object = objects[static_cast<size_t>(i)];
    ASSERT_EQ(object.dn, "CN=P" + n + ",DC=x");
    ASSERT_EQ(object.First("description"), std::string(420, static_cast<char>('a' + i % 26))) << n;
    ASSERT_EQ(object.First("mail"), "p" + n + "@x");
  }
  std::filesystem::remove_all(dir);
}

// Whether a large text holds a CR or a NUL, which decides whether it can be
// screened as it is read, is looked at as a file is read, in pieces on both
// reading threads. A CR LF line end in the second half of a file read in
// two halves must be seen: the whole text then goes through the screen
// first, which reports the include line at its end before the duplicate DN
// near its start that screening as it reads meets first.
TEST(LdifLoadTest, ACrInTheSecondHalfOfALargeFileIsSeen) {
  char folder[] = "/tmp/ldif_load_test.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::filesystem::path dir(folder);
  std::string ldif;
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(i);
    ldif += "dn: CN=P" + n + ",DC=x\ndescription: " + std::string(420, 'd') + "\nmail: p" + n +
            "@x\n\n";
    if (i == 2) ldif += "dn: CN=P1,DC=x\n\n";  // line 13
  }
  ldif += "\ninclude: file:///etc/passwd\n";
  const auto include_line = std::count(ldif.begin(), ldif.end(), '\n');
  ASSERT_GT(ldif.size(), size_t{8} << 20);
  const std::string file = (dir / "big.ldif").string();
  const auto fault = [&](const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    std::ofstream(dir / "p.json") << R"({"directory": "big.ldif"})";
    try {
      LoadOrganisationFile((dir / "p.json").string(), nullptr);
    } catch (const ProfileError& e) {
      return std::string(e.what());
    }
    return std::string("(loaded)");
  };
  EXPECT_EQ(fault(ldif), file + ":13: duplicate dn 'CN=P1,DC=x' (first at line 5)");
  std::string crlf = ldif;
  const size_t late = crlf.find("@x\n", crlf.size() * 3 / 4);
  crlf.insert(late + 2, "\r");
  EXPECT_EQ(
      fault(crlf).rfind(
          file + ":" + std::to_string(include_line) + ": include directives are not accepted", 0),
      0u)
      << fault(crlf);
  std::filesystem::remove_all(dir);
}

TEST(LdifLoadTest, AStopRequestAbandonsALargeLoadOnTheCallingThread) {
  char folder[] = "/tmp/ldif_load_test.XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::filesystem::path dir(folder);
  std::ofstream(dir / "big.ldif") << People(kPeople);
  std::ofstream(dir / "p.json") << R"({"directory": "big.ldif"})";
  const std::thread::id caller = std::this_thread::get_id();
  int asked = 0;
  bool elsewhere = false;
  try {
    LoadOrganisationFile((dir / "p.json").string(), [&] {
      elsewhere = elsewhere || std::this_thread::get_id() != caller;
      return ++asked == 20;
    });
    ADD_FAILURE() << "loaded";
  } catch (const ProfileError& e) {
    EXPECT_EQ(std::string(e.what()),
              (dir / "big.ldif").string() + ": loading stopped by a stop request");
  }
  EXPECT_EQ(asked, 20);
  EXPECT_FALSE(elsewhere);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform::memory
