// Hostile and malformed organisations through the tarnwick binary: each
// must end as a failed logon with one line on the error stream that says
// what is wrong, and the run must still reach "complete" — never a crash, a
// hang, or a file read that the user did not name. Every case runs under
// coreutils' timeout, so a hang fails its case instead of stalling the
// suite.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/binary_run.h"

namespace {

using tarnwick_test::ReadFile;

namespace fs = std::filesystem;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kSecret[] = "tarnwick-secret-4711";
constexpr int kTimedOut = 124;  // coreutils timeout's status for a command it had to stop

// A small organisation that loads: the domain, one user "ana", one list.
const std::string kGoodLdif =
    "dn: DC=x,DC=example\n"            // 1
    "objectClass: domain\n"            // 2
    "\n"                               // 3
    "dn: CN=Ana,DC=x,DC=example\n"     // 4
    "objectClass: user\n"              // 5
    "mailNickname: ana\n"              // 6
    "mail: ana@x.example\n"            // 7
    "legacyExchangeDN: /o=X/cn=ana\n"  // 8
    "displayName: Ana\n";              // 9

constexpr char kArguments[] = "/s p.json /a ana /l ana@x.example";

struct Case {
  const char* name;
  std::string profile;  // written to p.json
  std::string ldif;     // written to d.ldif
  std::string error;    // the one line expected on the error stream
  std::function<void(const fs::path&)> prepare = nullptr;
  std::string arguments = kArguments;
};

std::string Profile(const std::string& directory, const std::string& more = "") {
  return "{\"directory\": \"" + directory + "\"" + more + "}";
}

// Runs the binary copied into the folder, with the folder as working
// directory; status 124 means it had to be stopped.
int RunIn(const fs::path& dir, const std::string& arguments) {
  const std::string command = "cd '" + dir.string() +
                              "' && LC_ALL=C timeout -s KILL 60 ./tarnwick " + arguments +
                              " >out 2>err </dev/null";
  return tarnwick_test::RunShell(command);
}

fs::path FreshFolder(const std::string& name) {
  return tarnwick_test::ProgramFolder("tarnwick-hostile", name, TARNWICK_BINARY);
}

std::vector<Case> Cases() {
  const std::string good = Profile("d.ldif");
  const std::string secret_url = "file:///tmp/tarnwick-hostile-secret";
  return {
      {"NumberOverflowingADouble", Profile("d.ldif", ",\n\"globalCatalog\": 1e400"), kGoodLdif,
       "p.json:2: number overflow parsing '1e400'"},
      {"NumberOverflowInsideAnUnknownKey", Profile("d.ldif", ", \"x\": {\"y\": [-1e999]}"),
       kGoodLdif, "p.json:1: number overflow parsing '-1e999'"},
      {"DuplicateJsonKey", "{\"directory\": \"d.ldif\", \"directory\": \"e.ldif\"}", kGoodLdif,
       "p.json: duplicate key 'directory'"},
      {"NulEscapedInThePath", Profile("d.ldif\\u0000junk"), kGoodLdif,
       "p.json: key 'directory' must not hold a NUL character"},
      {"EmptyDirectoryKey", Profile(""), kGoodLdif,
       "p.json: key 'directory' must not be empty (name the LDIF file or the server's URL)"},
      {"DirectoryIsAFolder", Profile("."), kGoodLdif, ".: is a directory, not a file"},
      {"DirectoryIsDevZero", Profile("/dev/zero"), kGoodLdif,
       "/dev/zero: is a device, not a regular file"},
      {"DirectoryIsAFifo", Profile("fifo.ldif"), kGoodLdif,
       "fifo.ldif: is a FIFO, not a regular file",
       [](const fs::path& dir) { ASSERT_EQ(::mkfifo((dir / "fifo.ldif").c_str(), 0600), 0); }},
      {"MissingLdif", Profile("none.ldif"), kGoodLdif,
       "none.ldif: cannot open the file: No such file or directory"},
      {"EmptyLdif", good, "", "d.ldif: the file holds no directory entries"},
      {"UrlValueNamingAFile", good, kGoodLdif + "description:< " + secret_url + "\n",
       "d.ldif:10: the value of 'description' is a URL (\":<\"); values that name files are not "
       "accepted"},
      {"UrlValueInAStoredFilter", good,
       kGoodLdif + "\ndn: CN=Q,DC=x,DC=example\nmsExchDynamicDLFilter:< file:///dev/zero\n",
       "d.ldif:12: the value of 'msExchDynamicDLFilter' is a URL (\":<\"); values that name files "
       "are not accepted"},
      {"UrlValueFoldedIntoTheNextLine", good,
       kGoodLdif + "msExchDynamicDLBaseDN:\n < " + secret_url + "\n",
       "d.ldif:10: the value of 'msExchDynamicDLBaseDN' is a URL (\":<\"); values that name "
       "files are not accepted"},
      {"IncludeOfAnEndlessFile", good, kGoodLdif + "\nInclude: file:///dev/zero\n",
       "d.ldif:11: include directives are not accepted"},
      {"NulByteGluingTheNextLine", good,
       kGoodLdif + std::string("description: a\0b\n", 17) + "member: CN=Ana,DC=x,DC=example\n",
       "d.ldif:10: NUL byte in the line"},
      {"CarriageReturnOnlyLineEnds", good, "dn: DC=x,DC=example\robjectClass: domain\r",
       "d.ldif:1: the line ends with a lone carriage return; only LF and CR LF line ends are "
       "accepted"},
      {"InvalidBase64", good, kGoodLdif + "description:: a#==\n",
       "d.ldif:10: invalid base64 value of attribute description"},
      {"DisplayTypeBeyond32Bits", good, kGoodLdif + "msExchRecipientDisplayType: 4294967297\n",
       "d.ldif:10: msExchRecipientDisplayType must be a 32-bit integer, not '4294967297'"},
      {"AttributeNameWithABlank", good, kGoodLdif + "display Name: x\n",
       "d.ldif:10: 'display Name' is not a valid attribute name"},
      {"DuplicateLegacyExchangeDn", good,
       kGoodLdif + "\ndn: CN=Bob,DC=x,DC=example\nlegacyExchangeDN: /O=X/CN=ANA\n",
       "d.ldif:11: duplicate legacyExchangeDN '/O=X/CN=ANA' (first at line 4)"},
      {"MisspeltProfilePath", good, kGoodLdif,
       "q.json: cannot open the file: No such file or directory", nullptr,
       "/s q.json /a ana /l ana@x.example"},
      {"ProfilePathIsAFolder", good, kGoodLdif, "sub: is a directory, not a file",
       [](const fs::path& dir) { fs::create_directory(dir / "sub"); },
       "/s sub /a ana /l ana@x.example"},
      {"AliasWithoutAMailbox", good, kGoodLdif,
       "p.json: no mailbox or directory user with alias 'nobody'", nullptr,
       "/s p.json /a nobody /l ana@x.example"},
  };
}

class HostileInput : public ::testing::TestWithParam<Case> {
 protected:
  HostileInput() : dir_(FreshFolder(GetParam().name)) {
    std::ofstream("/tmp/tarnwick-hostile-secret") << kSecret << "\n";
  }
  ~HostileInput() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_P(HostileInput, EndsAsAFailedLogonWithOneLineSayingWhy) {
  const Case& c = GetParam();
  std::ofstream(dir_ / "p.json", std::ios::binary) << c.profile;
  std::ofstream(dir_ / "d.ldif", std::ios::binary) << c.ldif;
  if (c.prepare) c.prepare(dir_);

  const int status = RunIn(dir_, c.arguments);
  ASSERT_NE(status, kTimedOut) << "the run hung";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(dir_ / "err"), c.error + "\n");
  const std::string out = ReadFile(dir_ / "out");
  const std::string log = ReadFile(dir_ / "Tarnwick.log");
  EXPECT_THAT(out, HasSubstr("logging on using "));
  EXPECT_THAT(out, EndsWith("complete\n"));
  EXPECT_THAT(log, EndsWith(": complete\r\n"));
  // Nothing of the organisation was used: the person is never reported.
  EXPECT_THAT(out, Not(HasSubstr("reading properties for")));
  EXPECT_THAT(out + log, Not(HasSubstr(kSecret)));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInput, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The control: the same organisation loads and reports the person, also
// behind a UTF-8 byte-order mark and with CR LF line ends.
TEST(HostileInputControl, TheGoodOrganisationLoadsWithAByteOrderMarkAndCrLf) {
  const fs::path dir = FreshFolder("control");
  std::string crlf;
  for (const char c : kGoodLdif) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::ofstream(dir / "p.json") << Profile("d.ldif");
  std::ofstream(dir / "d.ldif", std::ios::binary) << "\xEF\xBB\xBF" << crlf;
  EXPECT_EQ(RunIn(dir, kArguments), 0);
  EXPECT_EQ(ReadFile(dir / "err"), "");
  EXPECT_THAT(ReadFile(dir / "out"), HasSubstr("reading properties for"));
  fs::remove_all(dir);
}

}  // namespace
