#include "driver/modtest.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/large_stack.h"
#include "platform/error.h"
#include "platform/messaging.h"
#include "tests/support/fake_process.h"

namespace modTest {
namespace {

using tarnwick_test::MakeTime;
using tarnwick_test::TestRuntime;

// The stamp the fake clock gives under the C locale.
constexpr char kStamp[] = "12/31/2008 11:59:07 PM";

// Switches LC_TIME of this thread for the scope.
class ThreadTimeLocale {
 public:
  explicit ThreadTimeLocale(const char* name)
      : locale_(newlocale(LC_TIME_MASK, name, static_cast<locale_t>(nullptr))) {
    if (locale_ != nullptr) previous_ = uselocale(locale_);
  }
  ~ThreadTimeLocale() {
    if (locale_ == nullptr) return;
    uselocale(previous_);
    freelocale(locale_);
  }
  bool ok() const { return locale_ != nullptr; }

 private:
  locale_t locale_;
  locale_t previous_ = nullptr;
};

class WriteLogTest : public ::testing::Test {
 protected:
  WriteLogTest() : c_locale_("C") { basGlobals::StdOut = env_.process().StandardOutput(); }
  tarnwick_test::FakeProcess& process() { return env_.process(); }

  TestRuntime env_;
  ThreadTimeLocale c_locale_;
};

TEST_F(WriteLogTest, AppendsStampedLinesAcrossRunsWithCrLf) {
  WriteLog("first", kLevelInfo);
  ASSERT_TRUE(process().LogExists());
  WriteLog("second", kLevelDetail);
  // A later run (new streams, same directory) appends below.
  basGlobals::StdOut = process().StandardOutput();
  WriteLog("third", kLevelInfo);
  const std::string expected =
      std::string(kStamp) + ": first\r\n" + kStamp + ": second\r\n" + kStamp + ": third\r\n";
  EXPECT_EQ(process().LogText(), expected);
}

TEST_F(WriteLogTest, MarkersOnlyInTheFileForErrorsAndWarnings) {
  WriteLog("bad", kLevelError);
  WriteLog("odd", kLevelWarning);
  WriteLog("zero", 0);
  WriteLog("three", 3);
  WriteLog("multi\nline", kLevelInfo);
  const std::vector<std::string> expected_file = {
      std::string(kStamp) + ": [Error] bad", std::string(kStamp) + ": [Warning] odd",
      std::string(kStamp) + ": zero", std::string(kStamp) + ": three",
      std::string(kStamp) + ": multi\nline"};
  EXPECT_EQ(process().LogLines(), expected_file);
  const std::vector<std::string> expected_stdout = {"bad", "odd", "zero", "three", "multi\nline"};
  EXPECT_EQ(process().StdoutLines(), expected_stdout);
}

TEST_F(WriteLogTest, EmptyMessageStillGivesStampMarkerAndEmptyEcho) {
  WriteLog("", kLevelInfo);
  EXPECT_EQ(process().LogText(), std::string(kStamp) + ": \r\n");
  EXPECT_EQ(process().StdoutLines(), std::vector<std::string>{""});
}

TEST_F(WriteLogTest, TraceLevelWritesNothingAnywhere) {
  WriteLog("hidden", kLevelTrace);
  EXPECT_FALSE(process().LogExists());
  EXPECT_TRUE(process().StdoutLines().empty());
}

TEST_F(WriteLogTest, EachOutputFailsAlone) {
  process().SetProgramDirectory(process().TempDirectory() + "/missing");
  WriteLog("echoed", kLevelError);
  EXPECT_EQ(process().StdoutLines(), std::vector<std::string>{"echoed"});

  process().SetProgramDirectory(process().TempDirectory());
  basGlobals::StdOut.reset();
  WriteLog("filed", kLevelInfo);
  EXPECT_EQ(process().LogText(), std::string(kStamp) + ": filed\r\n");
}

TEST(FormatTimestampTest, UsFormUnderTheCLocale) {
  ThreadTimeLocale c_locale("C");
  ASSERT_TRUE(c_locale.ok());
  EXPECT_EQ(FormatTimestamp(MakeTime(2008, 12, 31, 23, 59, 7)), "12/31/2008 11:59:07 PM");
  EXPECT_EQ(FormatTimestamp(MakeTime(2009, 1, 5, 9, 3, 0)), "1/5/2009 9:03:00 AM");
  EXPECT_EQ(FormatTimestamp(MakeTime(2009, 1, 5, 12, 0, 0)), "1/5/2009 12:00:00 PM");
  EXPECT_EQ(FormatTimestamp(MakeTime(2009, 1, 5, 0, 0, 1)), "1/5/2009 12:00:01 AM");
  // Exactly midnight: the date alone.
  EXPECT_EQ(FormatTimestamp(MakeTime(2009, 1, 5, 0, 0, 0)), "1/5/2009");
}

TEST(FormatTimestampTest, PosixAndCUtf8AreTheCLocale) {
  for (const char* name : {"POSIX", "C.UTF-8"}) {
    ThreadTimeLocale locale(name);
    if (!locale.ok()) continue;
    EXPECT_EQ(FormatTimestamp(MakeTime(2008, 12, 31, 23, 59, 7)), "12/31/2008 11:59:07 PM") << name;
  }
}

TEST(FormatTimestampTest, OtherLocalesUseTheirOwnDateAndTimeForms) {
  ThreadTimeLocale german("de_DE.UTF-8");
  ASSERT_TRUE(german.ok()) << "de_DE.UTF-8 is not installed; scripts/setup generates it";
  EXPECT_EQ(FormatTimestamp(MakeTime(2008, 12, 31, 23, 59, 7)), "31.12.2008 23:59:07");
  EXPECT_EQ(FormatTimestamp(MakeTime(2008, 12, 31, 0, 0, 0)), "31.12.2008");
}

// A stamp is remembered from one line to the next: the same time under
// another locale, and the next second, must still be formatted afresh.
TEST(FormatTimestampTest, ARepeatedTimeFollowsTheLocaleInForce) {
  const std::tm time = MakeTime(2008, 12, 31, 23, 59, 7);
  {
    ThreadTimeLocale c_locale("C");
    ASSERT_TRUE(c_locale.ok());
    EXPECT_EQ(FormatTimestamp(time), "12/31/2008 11:59:07 PM");
    EXPECT_EQ(FormatTimestamp(time), "12/31/2008 11:59:07 PM");
    EXPECT_EQ(FormatTimestamp(MakeTime(2008, 12, 31, 23, 59, 8)), "12/31/2008 11:59:08 PM");
  }
  {
    ThreadTimeLocale german("de_DE.UTF-8");
    ASSERT_TRUE(german.ok()) << "de_DE.UTF-8 is not installed; scripts/setup generates it";
    EXPECT_EQ(FormatTimestamp(time), "31.12.2008 23:59:07");
  }
  ThreadTimeLocale c_again("C");
  ASSERT_TRUE(c_again.ok());
  EXPECT_EQ(FormatTimestamp(time), "12/31/2008 11:59:07 PM");
}

TEST(LocaleTest, OnlyTheTimeStampFollowsTheEnvironment) {
  // The process's locale is global: each case runs in a child.
  EXPECT_EXIT(
      {
        ::setenv("LC_ALL", "de_DE.UTF-8", 1);
        UseLocaleForTimeStampsOnly();
        if (std::string(std::setlocale(LC_TIME, nullptr)) != "de_DE.UTF-8") _exit(3);
        for (const int category : {LC_CTYPE, LC_COLLATE, LC_NUMERIC, LC_MONETARY, LC_MESSAGES}) {
          if (std::string(std::setlocale(category, nullptr)) != "C") _exit(4);
        }
        if (FormatTimestamp(MakeTime(2008, 12, 31, 23, 59, 7)) != "31.12.2008 23:59:07") _exit(5);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  // A locale the machine lacks leaves the C time stamp.
  EXPECT_EXIT(
      {
        ::setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
        UseLocaleForTimeStampsOnly();
        if (std::string(std::setlocale(LC_ALL, nullptr)) != "C") _exit(3);
        if (FormatTimestamp(MakeTime(2008, 12, 31, 23, 59, 7)) != kStamp) _exit(4);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

// A messaging session that records what the driver asks of it.
class FakeSession final : public platform::Session {
 public:
  struct Record {
    std::vector<std::string> logons;
    int logoffs = 0;
    size_t stdout_lines_at_logon = 0;
    bool gal_given = false;
    // Run inside Logon and Logoff: what happens to the process meanwhile.
    std::function<void()> during_logon;
    std::function<void()> during_logoff;
  };

  FakeSession(std::shared_ptr<Record> record, tarnwick_test::FakeProcess* process,
              bool refuse_logon)
      : record_(std::move(record)), process_(process), refuse_logon_(refuse_logon) {}

  void Logon(const std::string& profile_info) override {
    record_->logons.push_back(profile_info);
    record_->stdout_lines_at_logon = process_->StdoutLines().size();
    if (record_->during_logon) record_->during_logon();
    if (refuse_logon_) throw platform::PlatformError(platform::errnum::kLogonFailed);
    logged_on_ = true;
  }
  void Logoff() override {
    if (record_->during_logoff) record_->during_logoff();
    ++record_->logoffs;
    logged_on_ = false;
  }
  platform::MapiHandle MAPIOBJECT() override { return Refuse<platform::MapiHandle>(); }
  std::shared_ptr<platform::AddressEntry> GetAddressEntry(const std::string&) override {
    return Refuse<std::shared_ptr<platform::AddressEntry>>();
  }
  std::shared_ptr<platform::Folder> GetFolder(const std::string&,
                                              const std::optional<std::string>&) override {
    return Refuse<std::shared_ptr<platform::Folder>>();
  }
  std::shared_ptr<platform::Message> GetMessage(const std::string&,
                                                const std::optional<std::string>&) override {
    return Refuse<std::shared_ptr<platform::Message>>();
  }
  std::shared_ptr<platform::InfoStores> InfoStores() override {
    return Refuse<std::shared_ptr<platform::InfoStores>>();
  }
  bool CompareIDs(const std::string&, const std::string&) override { return Refuse<bool>(); }
  std::shared_ptr<platform::Folder> ScratchFolder() override {
    return Refuse<std::shared_ptr<platform::Folder>>();
  }
  std::shared_ptr<platform::AddressEntries> GlobalAddressEntries() override {
    if (!logged_on_) throw platform::PlatformError(platform::errnum::kNotInitialized);
    record_->gal_given = true;
    return std::make_shared<NoEntries>();
  }

 private:
  class NoEntries final : public platform::AddressEntries {
   public:
    int32_t Count() override { return 0; }
    std::shared_ptr<platform::AddressEntry> Item(int32_t) override { throw NotFound(); }
    std::shared_ptr<platform::AddressEntry> ItemByName(const std::string&) override {
      throw NotFound();
    }
    void SetFilterAddress(const std::optional<std::string>&) override {}

   private:
    static platform::PlatformError NotFound() {
      return platform::PlatformError(platform::errnum::kNotFound);
    }
  };

  // The engine's own calls: this fake serves only the driver, so they fail
  // as on a session that cannot reach its organisation.
  template <class T>
  T Refuse() {
    throw platform::PlatformError(platform::errnum::kNotInitialized);
  }

  std::shared_ptr<Record> record_;
  tarnwick_test::FakeProcess* process_;
  bool refuse_logon_;
  bool logged_on_ = false;
};

class MainTest : public ::testing::Test {
 protected:
  MainTest() : c_locale_("C"), record_(std::make_shared<FakeSession::Record>()) {}

  tarnwick_test::FakeProcess& process() { return env_.process(); }

  void RegisterSession(bool refuse_logon = false) {
    auto record = record_;
    auto* process = &env_.process();
    env_.runtime().factory.Register("MAPI.Session", [record, process, refuse_logon] {
      return std::make_shared<FakeSession>(record, process, refuse_logon);
    });
  }

  // The file's lines without their time stamps.
  std::vector<std::string> LogMessages() {
    std::vector<std::string> messages;
    for (const std::string& line : env_.process().LogLines()) {
      messages.push_back(line.substr(std::string(kStamp).size()));
    }
    return messages;
  }

  // Every global the driver set was let go.
  void ExpectGlobalsReleased() const {
    EXPECT_EQ(basGlobals::StdOut, nullptr);
    EXPECT_EQ(basGlobals::MAPISession, nullptr);
    EXPECT_EQ(basGlobals::GALEntries, nullptr);
  }

  TestRuntime env_;
  ThreadTimeLocale c_locale_;
  std::shared_ptr<FakeSession::Record> record_;
};

TEST_F(MainTest, EmptyArgumentTextPrintsUsageToStdoutOnly) {
  RegisterSession();
  EXPECT_EQ(Main(""), kExitUsage);
  EXPECT_EQ(process().StdoutLines(),
            std::vector<std::string>{"missing parameters: you must supply /s <servername> /a "
                                     "<mailbox alias> /l <list smtp address>"});
  EXPECT_FALSE(process().LogExists());
  EXPECT_TRUE(process().ErrorLines().empty());
  EXPECT_TRUE(record_->logons.empty());
  ExpectGlobalsReleased();
}

TEST_F(MainTest, UsageThatCannotBePrintedGoesToTheErrorStream) {
  process().RemoveStandardOutput();
  EXPECT_EQ(Main(""), kExitUsage);
  EXPECT_EQ(process().ErrorLines(),
            std::vector<std::string>{"91 Object variable or With block variable not set"});

  tarnwick_test::TestRuntime refusing;
  refusing.process().SetStandardOutputFailing(true);
  EXPECT_EQ(Main(""), kExitUsage);
  EXPECT_EQ(refusing.process().ErrorLines(), std::vector<std::string>{"57 Device I/O error"});
}

TEST_F(MainTest, MissingServerOrAliasEndsBeforeAnySession) {
  RegisterSession();
  EXPECT_EQ(Main("/a box /l list@example.com"), kExitUsage);
  EXPECT_EQ(Main("/x"), kExitUsage);  // both missing: the alias is not tested
  EXPECT_EQ(Main("/S srv /A box"), kExitUsage);
  EXPECT_EQ(Main("/s srv /l list@example.com"), kExitUsage);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{
                               ": [Error] missing Server Name", ": [Error] missing Server Name",
                               ": [Error] missing Server Name", ": [Error] missing Alias"}));
  EXPECT_EQ(process().StdoutLines(),
            (std::vector<std::string>{"missing Server Name", "missing Server Name",
                                      "missing Server Name", "missing Alias"}));
  EXPECT_TRUE(record_->logons.empty());
  ExpectGlobalsReleased();
}

TEST_F(MainTest, SessionThatCannotBeCreatedIsLoggedWithItsDescription) {
  EXPECT_EQ(Main("/s srv /a box"), kExitNoSession);
  env_.runtime().factory.Register("MAPI.Session",
                                  [] { return std::shared_ptr<platform::AutomationObject>(); });
  EXPECT_EQ(Main("/s srv /a box"), kExitNoSession);
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{
                ": [Error] error instantiating MAPI session ActiveX component can't create object",
                ": [Error] error instantiating MAPI session "}));
  EXPECT_EQ(process().StdoutLines().size(), 2u);  // no logon line
  ExpectGlobalsReleased();
}

TEST_F(MainTest, RunLogsOnRunsTheEngineAndEndsWithCompleteAndLogoff) {
  RegisterSession();
  EXPECT_EQ(Main("/l  /a box /s  srv  "), kExitComplete);
  EXPECT_EQ(basGlobals::ServerName, "srv");
  EXPECT_EQ(basGlobals::MailboxAlias, "box");
  EXPECT_EQ(record_->logons, std::vector<std::string>{"srv\nbox"});
  EXPECT_EQ(record_->stdout_lines_at_logon, 0u);  // the logon line follows the call
  EXPECT_TRUE(record_->gal_given);
  EXPECT_EQ(record_->logoffs, 1);

  const std::vector<std::string> out = process().StdoutLines();
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.front(), "logging on using srv\\box");
  EXPECT_EQ(out.back(), "complete");
  const std::vector<std::string> log = LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), ": complete");
  for (const std::string& line : log) EXPECT_NE(line, ": logging on using srv\\box");
  ExpectGlobalsReleased();
}

TEST_F(MainTest, FailedLogonStillReachesCompleteAndLogoff) {
  RegisterSession(/*refuse_logon=*/true);
  EXPECT_EQ(Main("s srv /a box /l list@example.com"), kExitComplete);
  EXPECT_EQ(record_->logons, std::vector<std::string>{"srv\nbox"});
  EXPECT_FALSE(record_->gal_given);
  EXPECT_EQ(record_->logoffs, 1);
  EXPECT_EQ(process().StdoutLines().front(), "logging on using srv\\box");
  EXPECT_EQ(LogMessages().back(), ": complete");
  ExpectGlobalsReleased();
}

TEST_F(MainTest, StopBeforeCompleteKeepsTheLogAndNamesTheSignalInTheStatus) {
  // The stop arrives where the engine does not yield (as during the loading
  // of an organisation at logon); it is not served, yet the run was cut.
  RegisterSession();
  record_->during_logon = [this] { process().RequestStop(SIGTERM); };
  EXPECT_EQ(Main("/s srv /a box /l list@example.com"), kExitTerminated);
  EXPECT_EQ(LogMessages().back(), ": complete");
  EXPECT_EQ(record_->logoffs, 1);
  EXPECT_EQ(process().ErrorLines(),
            std::vector<std::string>{"tarnwick: stopped early by SIGTERM; the run did not finish"});
  ExpectGlobalsReleased();
}

TEST_F(MainTest, StopAfterCompleteChangesNothing) {
  RegisterSession();
  record_->during_logoff = [this] { process().RequestStop(SIGINT); };
  EXPECT_EQ(Main("/s srv /a box /l list@example.com"), kExitComplete);
  EXPECT_EQ(LogMessages().back(), ": complete");
  EXPECT_TRUE(process().ErrorLines().empty());
}

TEST_F(MainTest, OutOfMemoryLeavesMainWithTheGlobalsReleasedAndIsReportedOnce) {
  RegisterSession();
  record_->during_logon = [] { throw std::bad_alloc(); };
  // Through the engine's thread, as the program runs it.
  EXPECT_THROW(driver::RunWithLargeStack([] { Main("/s srv /a box /l list@example.com"); }),
               std::bad_alloc);
  ExpectGlobalsReleased();

  const size_t out_before = process().StdoutLines().size();
  EXPECT_EQ(ReportFailure(std::make_exception_ptr(std::bad_alloc())), kExitFailure);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{": [Error] out of memory"});
  EXPECT_EQ(process().StdoutLines().size(), out_before + 1);
  EXPECT_EQ(process().StdoutLines().back(), "out of memory");
  EXPECT_EQ(process().ErrorLines(),
            std::vector<std::string>{"tarnwick: out of memory; the run did not finish"});
  ExpectGlobalsReleased();

  EXPECT_EQ(ReportFailure(std::make_exception_ptr(std::runtime_error("bad state"))), kExitFailure);
  EXPECT_EQ(LogMessages().back(), ": [Error] internal error: bad state");
}

}  // namespace
}  // namespace modTest
