// Shared pieces of the memory backend's tests: a small organisation that
// exercises every address-book rule, and a runtime over the fake process
// services whose error stream is recorded.
#ifndef TARNWICK_PLATFORM_MEMORY_MEMORY_TEST_SUPPORT_H_
#define TARNWICK_PLATFORM_MEMORY_MEMORY_TEST_SUPPORT_H_

#include <cstdint>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/runtime.h"
#include "tests/support/fake_process.h"

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

// Installs a runtime with the shared fake process services (its error
// stream recorded) for the life of a test.
class RuntimeTest : public ::testing::Test {
 protected:
  tarnwick_test::TestRuntime test_runtime_;
  Runtime& runtime_ = test_runtime_.runtime();
  tarnwick_test::FakeProcess& process_ = test_runtime_.process();
};

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
