// Shared pieces of the memory backend's tests: a small organisation that
// exercises every address-book rule, and a runtime whose error stream is
// recorded.
#ifndef TARNWICK_PLATFORM_MEMORY_MEMORY_TEST_SUPPORT_H_
#define TARNWICK_PLATFORM_MEMORY_MEMORY_TEST_SUPPORT_H_

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/memory/faults.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace platform::memory::memtest {

// Entries and their traps:
//  - the sub-domain comes before the forest root, so the default root DN
//    has to be chosen by length, not by order;
//  - Ana's first proxy is a secondary "smtp:" one, the primary comes later;
//  - Ben has mail but no proxies; Benedikt shares the prefix "Ben";
//  - Sales lists Ben, a hidden user, a DN outside the directory and Ana (in
//    another letter case), in that order;
//  - Dyn has no displayName and is both group and dynamic list;
//  - the two Twins share a display name; Shared A and B share an address;
//  - Noex is a user without legacyExchangeDN (not in the book).
inline const char kLdif[] =
    "version: 1\n"
    "\n"
    "dn: DC=sub,DC=harbor,DC=example\n"
    "objectClass: domainDNS\n"
    "\n"
    "dn: DC=harbor,DC=example\n"
    "objectClass: domainDNS\n"
    "\n"
    "dn: CN=Ana Lima,OU=People,DC=harbor,DC=example\n"
    "objectClass: top\n"
    "objectClass: user\n"
    "displayName: Ana Lima\n"
    "givenName: Ana\n"
    "sn: Lima\n"
    "mailNickname: ana\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=ana\n"
    "mail: ana@harbor.example\n"
    "proxyAddresses: smtp:ana@harbor.example\n"
    "proxyAddresses: SMTP:ana.lima@harbor.example\n"
    "proxyAddresses: X500:/o=Old/cn=ana\n"
    "\n"
    "dn: CN=Ben Ortiz,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "displayName: Ben Ortiz\n"
    "givenName: Ben\n"
    "sn: Ortiz\n"
    "mailNickname: ben\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=ben\n"
    "mail: ben.ortiz@harbor.example\n"
    "\n"
    "dn: CN=Benedikt Ahn,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "displayName: Benedikt Ahn\n"
    "givenName: Benedikt\n"
    "sn: Ahn\n"
    "mailNickname: bahn\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=bahn\n"
    "\n"
    "dn: CN=Hidden Hal,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "displayName: Hidden Hal\n"
    "mailNickname: hal\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=hal\n"
    "msExchHideFromAddressLists: true\n"
    "\n"
    "dn: CN=Sales,OU=Lists,DC=harbor,DC=example\n"
    "objectClass: group\n"
    "displayName: Sales Team\n"
    "mailNickname: sales\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=sales\n"
    "mail: sales@harbor.example\n"
    "member: CN=Ben Ortiz,OU=People,DC=harbor,DC=example\n"
    "member: CN=Hidden Hal,OU=People,DC=harbor,DC=example\n"
    "member: CN=Nobody,OU=Gone,DC=harbor,DC=example\n"
    "member: cn=ana lima,ou=people,dc=harbor,dc=example\n"
    "\n"
    "dn: CN=Dyn,OU=Lists,DC=harbor,DC=example\n"
    "objectClass: group\n"
    "objectClass: msExchDynamicDistributionList\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=dyn\n"
    "\n"
    "dn: CN=Org,DC=harbor,DC=example\n"
    "objectClass: Organization\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=org\n"
    "\n"
    "dn: CN=Carla Contact,OU=People,DC=harbor,DC=example\n"
    "objectClass: contact\n"
    "displayName: Carla Contact\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=carla\n"
    "targetAddress: SMTP:carla@outside.example\n"
    "\n"
    "dn: CN=Typed,OU=Lists,DC=harbor,DC=example\n"
    "objectClass: group\n"
    "msExchRecipientDisplayType: -2147483642\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=typed\n"
    "\n"
    "dn: CN=Twin One,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "displayName: Twin\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=twin1\n"
    "\n"
    "dn: CN=Twin Two,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "displayName: Twin\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=twin2\n"
    "\n"
    "dn: CN=Shared A,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=shareda\n"
    "mail: shared@harbor.example\n"
    "\n"
    "dn: CN=Shared B,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "legacyExchangeDN: /o=Harbor/cn=Recipients/cn=sharedb\n"
    "proxyAddresses: smtp:shared@harbor.example\n"
    "\n"
    "dn: CN=Noex,OU=People,DC=harbor,DC=example\n"
    "objectClass: user\n"
    "displayName: No Exchange\n"
    "mailNickname: noex\n";

inline const char kProfile[] = R"({
  "mailboxes": [
    { "alias": "ana", "store": "Mailbox - Ana Lima",
      "folders": [
        { "name": "Inbox" },
        { "name": "Drafts" },
        { "name": "Contacts", "id": "c0ffee",
          "messages": [
            { "id": "AB01", "class": "IPM.Contact", "subject": "Ben Ortiz",
              "email1": "ben.ortiz@harbor.example",
              "fields": { "Count": 3, "Flag": true, "Tags": ["a", "b"], "Nothing": null } },
            { "class": "IPM.Note", "subject": "a note" },
            { "class": "ipm.contact", "subject": "Carla" }
          ] }
      ] },
    { "alias": "Ben" }
  ],
  "publicFolders": { "folders": [ { "name": "Company Contacts", "folders": [ { "name": "Sub" } ] } ] }
})";

// Process services that record what is written to the error stream.
class RecordingProcess final : public ProcessServices {
 public:
  std::string ProgramDirectory() override { return "/tmp"; }
  std::tm LocalNow() override { return std::tm{}; }
  bool AppendToFile(const std::string&, const std::string&) override { return false; }
  std::shared_ptr<TextStream> StandardOutput() override { return nullptr; }
  void ReportError(const std::string& text) override { errors.push_back(text); }
  void DoEvents() override {}
  void OnStopRequest(std::function<void()>) override {}

  std::vector<std::string> errors;
};

// Installs a runtime with a recording process for the life of a test.
class RuntimeTest : public ::testing::Test {
 protected:
  RuntimeTest() : process_(std::make_shared<RecordingProcess>()) { runtime_.process = process_; }

  Runtime runtime_;
  std::shared_ptr<RecordingProcess> process_;
  RuntimeScope scope_{runtime_};
};

// A fault that raises the number (with its standard description unless one
// is given), after `skip` calls, `times` times (-1: always).
inline Fault Raise(int32_t number, std::string description = "", int skip = 0, int times = -1) {
  Fault fault;
  fault.number = number;
  fault.description = std::move(description);
  fault.skip = skip;
  fault.times = times;
  return fault;
}

// A fault that makes the call give no object (or an empty value).
inline Fault NoObject() {
  Fault fault;
  fault.no_object = true;
  return fault;
}

// The number a call raises; 0 when it raises nothing.
template <class F>
int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const PlatformError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace platform::memory::memtest

#endif  // TARNWICK_PLATFORM_MEMORY_MEMORY_TEST_SUPPORT_H_
