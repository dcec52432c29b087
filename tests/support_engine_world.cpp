#include "tests/support/engine_world.h"

#include "driver/globals.h"
#include "driver/large_stack.h"
#include "driver/modtest.h"
#include "platform/messaging.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace tarnwick_test {
namespace {

constexpr char kBase[] = "DC=t,DC=example";
constexpr char kSchema[] = "CN=Schema,CN=Configuration,DC=t,DC=example";
constexpr char kOdn[] = "/o=T/ou=First Administrative Group/cn=Recipients/cn=";

}  // namespace

std::string PersonDn(const std::string& cn) { return "CN=" + cn + ",OU=People," + kBase; }
std::string ListDn(const std::string& cn) { return "CN=" + cn + ",OU=Lists," + kBase; }

std::string DomainRecords() {
  return std::string("version: 1\n\ndn: ") + kBase + "\nobjectClass: domainDNS\ndc: t\n\n" +
         "dn: OU=People," + kBase + "\nobjectClass: organizationalUnit\nou: People\n\n" +
         "dn: OU=Lists," + kBase + "\nobjectClass: organizationalUnit\nou: Lists\n\n";
}

std::string Person(const std::string& cn, const std::string& nick, const std::string& mail,
                   const std::string& extra) {
  std::string r = "dn: " + PersonDn(cn) +
                  "\nobjectClass: top\nobjectClass: person\nobjectClass: user\ncn: " + cn +
                  "\ndisplayName: " + cn + "\nmailNickname: " + nick +
                  "\nobjectCategory: CN=Person," + kSchema + "\nlegacyExchangeDN: " + kOdn + nick +
                  "\n";
  if (!mail.empty()) r += "mail: " + mail + "\nproxyAddresses: SMTP:" + mail + "\n";
  return r + extra + "\n";
}

std::string Group(const std::string& cn, const std::string& nick, const std::string& mail,
                  const std::vector<std::string>& members, const std::string& extra) {
  std::string r = "dn: " + ListDn(cn) + "\nobjectClass: top\nobjectClass: group\ncn: " + cn +
                  "\ndisplayName: " + cn + "\nmailNickname: " + nick +
                  "\nobjectCategory: CN=Group," + kSchema + "\nlegacyExchangeDN: " + kOdn + nick +
                  "\n";
  if (!mail.empty()) r += "mail: " + mail + "\nproxyAddresses: SMTP:" + mail + "\n";
  for (const auto& m : members) r += "member: " + m + "\n";
  return r + extra + "\n";
}

std::string QueryList(const std::string& cn, const std::string& nick, const std::string& mail,
                      const std::string& filter, const std::string& base_dn) {
  std::string r = "dn: " + ListDn(cn) +
                  "\nobjectClass: top\nobjectClass: msExchDynamicDistributionList\ncn: " + cn +
                  "\ndisplayName: " + cn + "\nmailNickname: " + nick +
                  "\nobjectCategory: CN=ms-Exch-Dynamic-Distribution-List," + kSchema +
                  "\nlegacyExchangeDN: " + kOdn + nick + "\n";
  if (!mail.empty()) r += "mail: " + mail + "\nproxyAddresses: SMTP:" + mail + "\n";
  if (!filter.empty()) r += "msExchDynamicDLFilter: " + filter + "\n";
  if (!base_dn.empty()) r += "msExchDynamicDLBaseDN: " + base_dn + "\n";
  return r + "\n";
}

EngineWorld::EngineWorld(const std::string& records, const std::string& profile_json) {
  const std::string ldif =
      DomainRecords() + Person("Ana Mailbox", "ana", "ana@t.example") + records;
  organisation_ = platform::memory::LoadFromText(profile_json, ldif, "test");
  platform::memory::Install(test_runtime_.runtime(), platform::memory::FixedSource(organisation_));
}

EngineWorld::~EngineWorld() { basGlobals::Reset(); }

platform::memory::OpenCounts EngineWorld::OpenObjects() const {
  return platform::memory::OpenObjects(*organisation_);
}

platform::memory::FaultPlan& EngineWorld::Faults() {
  return platform::memory::Faults(*organisation_);
}

void EngineWorld::Logon(const std::string& alias) {
  basGlobals::StdOut = Process().StandardOutput();
  basGlobals::MAPISession = platform::CreateObjectAs<platform::Session>("MAPI.Session");
  basGlobals::MAPISession->Logon("test\n" + alias);
  basGlobals::GALEntries = basGlobals::MAPISession->GlobalAddressEntries();
}

int EngineWorld::RunMain(const std::string& argument_text) {
  int status = -1;
  driver::RunWithLargeStack([&] { status = modTest::Main(argument_text); });
  return status;
}

int EngineWorld::RunList(const std::string& list) { return RunMain("/s test /a ana /l " + list); }

std::vector<std::string> EngineWorld::Out() const {
  return const_cast<EngineWorld*>(this)->Process().StdoutLines();
}

std::vector<std::string> EngineWorld::OutWith(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const auto& line : Out()) {
    if (text::StartsWith(line, prefix)) lines.push_back(line);
  }
  return lines;
}

}  // namespace tarnwick_test
