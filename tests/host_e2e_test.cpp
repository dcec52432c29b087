// End-to-end: the tarnwick-host binary, copied into a fresh folder so that
// its run log lands there, on the bundled example organisation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/binary_run.h"

namespace {

using tarnwick_test::ReadFile;

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  bool logged = false;  // whether Tarnwick.log was written
  std::string log;
};

constexpr char kLogon[] = "-s examples/harbor/profile.json -a ana ";

std::string Person(const std::string& name, const std::string& smtp, const std::string& nick) {
  return name + "\t" + smtp + "\t/o=harbor/ou=first administrative group/cn=recipients/cn=" + nick +
         "\n";
}

std::string Json(const std::string& name, const std::string& smtp, const std::string& nick,
                 const std::string& via) {
  return R"({"name":")" + name + R"(","smtp":")" + smtp +
         R"(","odn":"/o=harbor/ou=first administrative group/cn=recipients/cn=)" + nick +
         R"(","via":")" + via + "\"}\n";
}

class HostBinary : public ::testing::Test {
 protected:
  HostBinary()
      : dir_(tarnwick_test::ProgramFolder(
            "tarnwick-host-e2e", ::testing::UnitTest::GetInstance()->current_test_info()->name(),
            TARNWICK_HOST_BINARY)) {}
  ~HostBinary() override { fs::remove_all(dir_); }

  // Runs the copied binary with the argument text as shell words, in the
  // source folder, under the C locale.
  Outcome Start(const std::string& arguments) {
    fs::remove(dir_ / "Tarnwick.log");
    const std::string command = "cd '" + std::string(TARNWICK_SOURCE_DIR) + "' && env LC_ALL=C '" +
                                (dir_ / "tarnwick-host").string() + "' " + arguments + " >'" +
                                (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
    Outcome run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadFile(dir_ / "out");
    run.err = ReadFile(dir_ / "err");
    run.logged = fs::exists(dir_ / "Tarnwick.log");
    run.log = ReadFile(dir_ / "Tarnwick.log");
    return run;
  }

  fs::path dir_;
};

TEST_F(HostBinary, ExpandPrintsEachPersonOfNestedListsOnce) {
  // Loop A holds Chloe and Dev again, and Loop B, which holds Loop A.
  const Outcome run = Start(std::string(kLogon) + "expand 'All Staff;Loop A'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, Person("Ana Lima", "ana.lima@harbor.example", "ana") +
                         Person("Ben Ortiz", "ben.ortiz@harbor.example", "ben") +
                         Person("Chloe Park", "chloe.park@harbor.example", "chloe") +
                         Person("Emil Stone", "", "emil") +
                         Person("Dev Rao", "dev.rao@harbor.example", "dev"));
  // The run log is echoed to the error stream and written beside the program.
  EXPECT_THAT(run.err, StartsWith("KVL::Class_Initialize:instantiated MAPIUtils object\n"));
  EXPECT_THAT(run.err, HasSubstr("KVL::AddToSourceMCL:skipping repeat expansion of DL Loop A\n"));
  EXPECT_THAT(run.log, HasSubstr(": KVL::AddToSourceMCL:reading properties for Emil Stone\r\n"));
}

TEST_F(HostBinary, ExpandOfAQueryListTellsTheRoads) {
  // Ana and Ben come through the member list Sales Team first, then again
  // as rows of Sales Everyone's query; Dev only as a row.
  const Outcome text = Start(std::string(kLogon) + "expand 'Sales Lists'");
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out, Person("Ana Lima", "ana.lima@harbor.example", "ana") +
                          Person("Ben Ortiz", "ben.ortiz@harbor.example", "ben") +
                          Person("Dev Rao", "dev.rao@harbor.example", "dev"));

  // -q leaves out the echo only; --json is taken after the command too.
  const Outcome json = Start(std::string(kLogon) + "-q expand 'Sales Lists' --json");
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.out, Json("Ana Lima", "ana.lima@harbor.example", "ana", "address book") +
                          Json("Ben Ortiz", "ben.ortiz@harbor.example", "ben", "address book") +
                          Json("Dev Rao", "dev.rao@harbor.example", "dev", "directory"));
  EXPECT_EQ(json.err, "");
  EXPECT_THAT(json.log, HasSubstr("KVL::AddToSourceMCLFromQuery:adding record for Dev Rao\r\n"));
}

TEST_F(HostBinary, FailedLogonIsOneLineAndStatusOne) {
  const Outcome unknown = Start("-s examples/harbor/profile.json -a nobody expand 'All Staff'");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err,
            "examples/harbor/profile.json: no mailbox or directory user with alias 'nobody'\n"
            "tarnwick-host: cannot log on to examples/harbor/profile.json as nobody: "
            "MAPI_E_LOGON_FAILED\n");

  const Outcome missing = Start("-q -s no-such.json -a ana expand x");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "no-such.json: cannot open the file: No such file or directory\n"
            "tarnwick-host: cannot log on to no-such.json as ana: MAPI_E_LOGON_FAILED\n");
}

TEST_F(HostBinary, UsageErrorsExitWithTwoBeforeTheEngineStarts) {
  const struct {
    const char* arguments;
    const char* named;
  } cases[] = {
      {"-s examples/harbor/profile.json -a ana bogus x", "unknown command 'bogus'"},
      {"-s examples/harbor/profile.json -a ana --bogus expand x", "--bogus"},
      {"-s examples/harbor/profile.json -a ana expand", "LIST is required"},
      {"-s examples/harbor/profile.json -a ana expand ' '", "LIST: must not be empty"},
      {"-s examples/harbor/profile.json expand x", "--alias is required"},
      {"-s examples/harbor/profile.json -a ana", "A subcommand is required"},
      {"-s examples/harbor/profile.json -a ana expand x y", "not expected: y"},
      {"-s examples/harbor/profile.json -a ana email-filter a b c d", "At Most 3 required"},
      {"-s examples/harbor/profile.json -a ana proxies", "LOOKUP is required"},
      {"-s examples/harbor/profile.json -a ana proxies x --odn", "--odn"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome run = Start(c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_THAT(run.err, StartsWith("tarnwick-host: "));
    EXPECT_THAT(run.err, HasSubstr(c.named));
    EXPECT_THAT(run.err, HasSubstr("\nusage: tarnwick-host -s SERVER -a ALIAS"));
    EXPECT_FALSE(run.logged);
  }
}

TEST_F(HostBinary, HelpGoesToStandardOutput) {
  const Outcome program = Start("--help");
  EXPECT_EQ(program.status, 0);
  EXPECT_EQ(program.err, "");
  EXPECT_THAT(program.out,
              HasSubstr("  expand                      expand lists and print every person they "
                        "hold, once\n"));
  EXPECT_FALSE(program.logged);

  for (const char* line :
       {"  proxies                     gather the ODN and the SMTP and X500 proxies of an "
        "address\n",
        "  email-filter                build the record filter that finds a contact by its e-mail "
        "values\n"}) {
    EXPECT_THAT(program.out, HasSubstr(line));
  }

  const Outcome command = Start("-s x -a y expand --help");
  EXPECT_EQ(command.status, 0);
  EXPECT_THAT(command.out, HasSubstr("Usage: tarnwick-host expand [OPTIONS] LIST"));
  EXPECT_FALSE(command.logged);
}

// Ana holds a primary and a secondary SMTP proxy and an X500 proxy; the
// lists come back wrapped in ";" with the SMTP items lower-cased.
TEST_F(HostBinary, ProxiesGathersTheOdnAndBothProxyLists) {
  const std::string odn = "/o=Harbor/ou=First Administrative Group/cn=Recipients/cn=ana";
  const Outcome text = Start(std::string(kLogon) + "-q proxies ana --proxies 'Old@Harbor.example'");
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.err, "");
  EXPECT_EQ(text.out,
            "Proxies\t;Old@Harbor.example;ana.lima@harbor.example;ana@harbor.example;\n"
            "X500Proxies\t;" +
                odn +
                ";/o=Old/cn=ana;\n"
                "ODN\t" +
                odn + "\n");

  // A one-off address: the lookup itself joins Proxies; X500Proxies and the
  // ODN are left alone.
  const Outcome one_off =
      Start(std::string(kLogon) + "-q --json proxies partner@elsewhere.example --odn /o=x");
  EXPECT_EQ(one_off.status, 0);
  EXPECT_EQ(one_off.out,
            R"({"proxies":";partner@elsewhere.example;","x500Proxies":";","odn":"/o=x"})"
            "\n");

  // Already in a list: no resolution, the lists come back unwrapped.
  const Outcome existing = Start(std::string(kLogon) +
                                 "-q proxies ANA@harbor.example --proxies ';ana@harbor.example;' "
                                 "--check-existing");
  EXPECT_EQ(existing.out, "Proxies\tana@harbor.example\nX500Proxies\t\nODN\t\n");
  EXPECT_THAT(existing.log, HasSubstr(": KVL::GetAllProxies: found ANA@harbor.example in existing "
                                      "proxy string; no need to repeat expansion\r\n"));
}

TEST_F(HostBinary, EmailFilterBuildsTheFilterAndTheList) {
  const Outcome run = Start(std::string(kLogon) +
                            "-q email-filter ' /O=Harbor/cn=Ana ' Ben@Harbor.example \"o'neil\"");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "Filter\tODN LIKE '/o=harbor/cn=ana' OR X500Proxies Like '*;/o=harbor/cn=ana;*' OR "
            "SMTP LIKE 'ben@harbor.example' OR Proxies Like '*;ben@harbor.example;*'\n"
            "List\t/o=harbor/cn=ana;ben@harbor.example;o''neil\n");

  const Outcome none = Start(std::string(kLogon) + "-q --json email-filter");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, R"({"filter":"","list":""})"
                      "\n");
}

// The example's folders: "Mailbox - Ana Lima" with Contacts (A0A0...C01),
// and the public tree with Company Contacts (B0B0...C01) holding Suppliers
// (B0B0...C02), and Mandatory Contacts (B0B0...D01).
TEST_F(HostBinary, FolderOpensByDisplayPathOrIdentifier) {
  const Outcome mailbox = Start(std::string(kLogon) + "-q folder 'Mailbox - Ana Lima\\Contacts'");
  EXPECT_EQ(mailbox.status, 0);
  EXPECT_EQ(mailbox.out, "A0A0000000000C01\tContacts\n");
  EXPECT_EQ(mailbox.err, "");

  const Outcome deep = Start(std::string(kLogon) +
                             "--json folder 'Public Folders\\All Public Folders\\company "
                             "contacts\\\\ Suppliers \\'");
  EXPECT_EQ(deep.status, 1) << "an empty part names no folder";
  EXPECT_EQ(deep.out, "");
  EXPECT_THAT(deep.err, HasSubstr("basCDO::GetTargetFolder error:  folder could not be found in "
                                  "specified location.\n"));

  const Outcome suppliers = Start(std::string(kLogon) +
                                  "-q --json folder 'Public Folders\\All Public Folders\\company "
                                  "contacts\\ Suppliers \\'");
  EXPECT_EQ(suppliers.status, 0);
  EXPECT_EQ(suppliers.out, R"({"id":"B0B0000000000C02","name":"Suppliers"})"
                           "\n");

  const Outcome missing = Start(std::string(kLogon) + "folder 'Mailbox - Ana Lima\\Nowhere'");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_THAT(missing.log, HasSubstr("basCDO::GetTargetFolder error: Nowhere folder could not be "
                                     "found in specified location.\r\n"));

  // By identifier: the public folder opens on the second try, in the public
  // store; the same identifier in lower case opens the folder too, which
  // then reports another text than the one asked for.
  const Outcome by_id = Start(std::string(kLogon) + "folder --id B0B0000000000C02");
  EXPECT_EQ(by_id.status, 0);
  EXPECT_EQ(by_id.out, "B0B0000000000C02\tSuppliers\n");
  EXPECT_EQ(by_id.err, "KVL::Class_Initialize:instantiated MAPIUtils object\n")
      << "the fall-back to the public store writes nothing when it finds the folder";

  const Outcome lower = Start(std::string(kLogon) + "-q folder --id b0b0000000000c02");
  EXPECT_EQ(lower.status, 1);
  EXPECT_EQ(lower.out, "");
  EXPECT_THAT(lower.log, HasSubstr("GetFolder:GetFolder returned folder with ID=B0B0000000000C02 "
                                   "<> supplied ID=b0b0000000000c02\r\n"));
}

TEST_F(HostBinary, MessageAndPublicStoreGiveTheirIdentifiers) {
  const Outcome message = Start(std::string(kLogon) + "-q message b0b0000000000d11");
  EXPECT_EQ(message.status, 0);
  EXPECT_EQ(message.out, "B0B0000000000D11\tIPM.Contact\tChloe Park\n");

  const Outcome json = Start(std::string(kLogon) + "-q --json message A0A0000000000C11");
  EXPECT_EQ(json.out, R"({"id":"A0A0000000000C11","class":"IPM.Contact","subject":"Ben Ortiz"})"
                      "\n");

  const Outcome unknown = Start(std::string(kLogon) + "message 0123");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, "");
  EXPECT_FALSE(unknown.log.empty());
  EXPECT_THAT(unknown.log, Not(HasSubstr("0123"))) << "the message look-up logs nothing";

  const Outcome store = Start(std::string(kLogon) + "-q public-store");
  EXPECT_EQ(store.status, 0);
  EXPECT_EQ(store.out, "B0B0000000000001\n");

  // An organisation without public folders.
  const fs::path profile = dir_ / "no-public.json";
  std::ofstream(profile) << R"({"directory": ")" << TARNWICK_SOURCE_DIR
                         << R"(/examples/harbor/directory.ldif", "mailboxes": [{"alias": "ana"}]})";
  const Outcome none = Start("-s '" + profile.string() + "' -a ana public-store");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_THAT(none.log, HasSubstr("GetPublicStoreID:failed to get ID of Public Folder Store\r\n"));
}

TEST_F(HostBinary, MandatoryOpensTheFolderOnceAndReopensItByIdentifier) {
  const Outcome by_id =
      Start(std::string(kLogon) + "-q mandatory --mc-id B0B0000000000D01 --calls 2");
  EXPECT_EQ(by_id.status, 0);
  EXPECT_EQ(by_id.out,
            "true\tB0B0000000000D01\tMandatory Contacts\n"
            "true\tB0B0000000000D01\tMandatory Contacts\n");

  // By path: the look-up by the empty identifier fails with its own lines
  // and the warning, then the path opens the folder.
  const Outcome by_path = Start(std::string(kLogon) +
                                "--json mandatory --mc-path 'Public Folders\\All Public "
                                "Folders\\Mandatory Contacts'");
  EXPECT_EQ(by_path.status, 0);
  EXPECT_EQ(by_path.out, R"({"result":true,"id":"B0B0000000000D01","name":"Mandatory Contacts"})"
                         "\n");
  EXPECT_THAT(by_path.log, HasSubstr("KVL::GetMandatoryFolder: unable to retrieve MC folder using "
                                     "GetFolder; try GetTargetFolder"));

  const Outcome unset = Start(std::string(kLogon) + "-q --json mandatory");
  EXPECT_EQ(unset.status, 1);
  EXPECT_EQ(unset.out, R"({"result":false,"id":null,"name":null})"
                       "\n");
  const Outcome plain = Start(std::string(kLogon) + "-q mandatory --mc-id 0123");
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out, "false\n");
}

TEST_F(HostBinary, HiddenFolderFindsOrAddsTheExactName) {
  const std::string company = "'Public Folders\\All Public Folders\\Company Contacts' ";
  const Outcome existing = Start(std::string(kLogon) + "-q hidden-folder " + company + "Suppliers");
  EXPECT_EQ(existing.status, 0);
  EXPECT_EQ(existing.out, "B0B0000000000C02\tSuppliers\n");

  // Differing only in letter case: a folder of the exact name is added,
  // with an identifier of its own that stays the same from run to run.
  const Outcome added = Start(std::string(kLogon) + "-q hidden-folder " + company + "suppliers");
  EXPECT_EQ(added.status, 0);
  EXPECT_THAT(added.out, ::testing::MatchesRegex("[0-9A-F]{16}\tsuppliers\n"));
  EXPECT_NE(added.out.substr(0, 16), "B0B0000000000C02");
  EXPECT_EQ(Start(std::string(kLogon) + "-q hidden-folder " + company + "suppliers").out,
            added.out);

  const Outcome no_parent = Start(std::string(kLogon) + "hidden-folder '' Sync");
  EXPECT_EQ(no_parent.status, 1);
  EXPECT_EQ(no_parent.out, "");
  EXPECT_THAT(no_parent.err,
              HasSubstr("KVL::GetHiddenFolder:unable to retrieve Sync; parent not supplied\n"));

  const Outcome lost = Start(std::string(kLogon) + "-q hidden-folder 'Mailbox - Ana Lima\\Nope' X");
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(lost.out, "");
  EXPECT_THAT(lost.log, HasSubstr("basCDO::GetTargetFolder error: Nope folder could not be found"));
  EXPECT_THAT(lost.log, Not(HasSubstr("GetHiddenFolder"))) << "no operation without its parent";

  const Outcome blank = Start(std::string(kLogon) + "hidden-folder '' ' '");
  EXPECT_EQ(blank.status, 2);
  EXPECT_THAT(blank.err, HasSubstr("NAME: must not be empty"));
  const Outcome both = Start(std::string(kLogon) + "folder x --id 01");
  EXPECT_EQ(both.status, 2);
  const Outcome neither = Start(std::string(kLogon) + "folder");
  EXPECT_EQ(neither.status, 2);
}

constexpr char kConfiguration[] = "'Public Folders\\All Public Folders\\Tarnwick Configuration'";
constexpr char kCompany[] = "'Public Folders\\All Public Folders\\Company Contacts'";

TEST_F(HostBinary, FilterMessagesPrintsTheMatchingIdentifiers) {
  // Whole values, without regard to letter case; every condition must hold.
  const Outcome acfs = Start(std::string(kLogon) + "-q filter-messages " + kConfiguration +
                             " 0x001A001E=ipm.post.acf");
  EXPECT_EQ(acfs.status, 0);
  EXPECT_EQ(acfs.out, "B0B0000000000F12\nB0B0000000000F13\n");

  const Outcome both = Start(std::string(kLogon) + "-q --json filter-messages " + kConfiguration +
                             " 0x001A001E=IPM.Post.ACF 0x0037001E=SUPPLIERS");
  EXPECT_EQ(both.out, R"({"id":"B0B0000000000F13"})"
                      "\n");

  // A named field; the value may hold "=".
  const Outcome named = Start(std::string(kLogon) + "-q filter-messages " + kConfiguration +
                              " 'ACF EntryID=b0b0000000000e01'");
  EXPECT_EQ(named.out, "B0B0000000000F12\n");
  const Outcome partial = Start(std::string(kLogon) + "-q filter-messages " + kConfiguration +
                                " 0x001A001E=IPM.Post");
  EXPECT_EQ(partial.status, 1) << "a part of the value is no match";
  EXPECT_EQ(partial.out, "");

  const Outcome none = Start(std::string(kLogon) + "filter-messages " + kConfiguration);
  EXPECT_EQ(none.status, 1);
  EXPECT_THAT(none.log, HasSubstr("FilterMsgsRDO:no filter fields supplied\r\n"));

  for (const char* bad : {"bogus", "=x", "0xZZ=1", "0x123456789=1", "0x=1", "0x0=1"}) {
    SCOPED_TRACE(bad);
    const Outcome run =
        Start(std::string(kLogon) + "filter-messages " + kConfiguration + " '" + bad + "'");
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("CONDITION"));
    EXPECT_FALSE(run.logged);
  }
}

TEST_F(HostBinary, FindMessageByTopicOrPin) {
  const std::string dev = "B0B0000000000C11\tIPM.Contact\tDev Rao\n";
  const Outcome topic =
      Start(std::string(kLogon) + "-q find-message " + kCompany + " --topic 'dev rao'");
  EXPECT_EQ(topic.status, 0);
  EXPECT_EQ(topic.out, dev);
  EXPECT_EQ(Start(std::string(kLogon) + "-q find-message " + kCompany + " --pin 4711").out, dev);
  // The topic is taken first; a PIN is then not used.
  const Outcome both =
      Start(std::string(kLogon) + "-q find-message " + kCompany + " --topic nobody --pin 4711");
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.out, "");
  const Outcome neither = Start(std::string(kLogon) + "-q find-message " + kCompany);
  EXPECT_EQ(neither.status, 1);

  // Without the helper library the operation raises, and the host says so.
  const fs::path profile = dir_ / "no-helper.json";
  std::ofstream(profile) << R"({"directory": ")" << TARNWICK_SOURCE_DIR
                         << R"(/examples/harbor/directory.ldif", "helperLibrary": false,
                               "mailboxes": [{"alias": "ana", "folders": [{"name": "Contacts"}]}]})";
  const Outcome raised = Start("-q -s '" + profile.string() +
                               "' -a ana find-message 'Mailbox - Ana Lima\\Contacts' --topic x");
  EXPECT_EQ(raised.status, 1);
  EXPECT_EQ(raised.out, "");
  EXPECT_EQ(raised.err, "tarnwick-host: 429 ActiveX component can't create object\n");
}

// An address-book entry's identifier: the bytes of "EX:" and the
// lower-cased ODN, in hexadecimal.
std::string EntryId(const std::string& odn) {
  std::string text = "EX:";
  for (const char c : odn) text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string hex;
  for (const char c : text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

// The configuration folder ranks Partners before Suppliers; Suppliers is
// switched off. Each contact read is printed as the merge reads it.
TEST_F(HostBinary, MergeReadsTheRepositoryThenTheActiveAcfs) {
  const std::string recipients = "/o=Harbor/ou=First Administrative Group/cn=Recipients/cn=";
  const Outcome run = Start(std::string(kLogon) + "merge " + kConfiguration);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "Company Contacts\tDev Rao\tdev.rao@harbor.example\t\t\n"
                     "Company Contacts\tChloe Park\tchloe.park@harbor.example\t" +
                         recipients + "chloe\t" + EntryId(recipients + "chloe") +
                         "\n"
                         "Company Contacts\tEmil Stone (old entry)\t\t\t\n"
                         "Partner Contacts\tPartner at Elsewhere\tpartner@elsewhere.example;"
                         "ben.ortiz@harbor.example\t" +
                         recipients + "ben\t" + EntryId(recipients + "ben") +
                         "\n"
                         "true\n");
  EXPECT_THAT(run.log, HasSubstr("KVL::AddFromACF:GetIdForODN failed for Email1 (" + recipients +
                                 "estone) on Emil Stone (old entry)\r\n"));
  EXPECT_THAT(run.log, HasSubstr("KVL::MergeACF:skipping Suppliers, Inactive flag is set\r\n"));

  const Outcome json = Start(std::string(kLogon) + "-q --json merge " + kConfiguration);
  EXPECT_THAT(json.out,
              HasSubstr(R"({"folder":"Company Contacts","repository":true,"name":"Dev Rao",)"
                        R"("smtp":["dev.rao@harbor.example"],"odn":"","entryId":""})"
                        "\n"));
  EXPECT_THAT(json.out, HasSubstr(R"({"folder":"Partner Contacts","repository":false,)"));
  EXPECT_THAT(json.out, ::testing::EndsWith("{\"result\":true}\n"));

  // A folder without a repository message: false, and no contact read.
  const Outcome empty = Start(std::string(kLogon) + "-q merge " + kCompany);
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, "false\n");
}

}  // namespace
