// Fuzz target "filter": the LDAP filter parser, its evaluator and its
// strict renderer.
//
// The input is the filter text. A text Parse refuses (PlatformError
// 0x80040E14) ends the run for that input. For a filter that parses:
//  - its strict rendering must parse again, render to the same text, and
//    be accepted by libldap's filter encoder (what a search on the ldap
//    backend hands the text to);
//  - both filters must give the same Matches result on each of a few fixed
//    objects;
//  - what the ldap backend sends a server (the strict rendering with its
//    short names and, outside Active Directory, "name" and
//    "distinguishedName" rewritten) must parse and be accepted by libldap.
// A failure of any of these is a finding.
#include <lber.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/finding.h"
#include "platform/error.h"
#include "platform/ldap/ldap_directory.h"
#include "platform/ldap_filter.h"
#include "platform/text.h"
#include "tests/support/attribute_table.h"

// libldap's own filter encoder, used by ldap_search_ext and friends. Not in
// its public headers, but exported; it is the one way to ask libldap
// whether it takes a filter text without a server to send it to.
extern "C" int ldap_pvt_put_filter(BerElement* ber, const char* text);

namespace {

using platform::ldapfilter::AttributeSource;
using platform::ldapfilter::Filter;

using Object = tarnwick_test::AttributeTable;

// A person whose DN holds an escaped comma and whose names are not all
// ASCII, with numbers for the ordering and bitwise rules (negative, beyond
// 32 bits, beyond int64); a query-based list whose category has hyphens;
// and an object without attributes, where every item is FALSE.
const std::vector<Object>& Objects() {
  static const std::vector<Object> objects = {
      Object{
          {"distinguishedName", {"CN=Smith\\2C John,OU=People,DC=harbor,DC=example"}},
          {"objectClass", {"top", "person", "organizationalPerson", "user"}},
          {"objectCategory", {"CN=Person,CN=Schema,CN=Configuration,DC=harbor,DC=example"}},
          {"cn", {"Smith, John"}},
          {"displayName", {"J\xC3\xB6rg Smith"}},
          {"mailNickname", {"jsmith"}},
          {"mail", {"john.smith@harbor.example"}},
          {"proxyAddresses",
           {"SMTP:john.smith@harbor.example", "smtp:js@harbor.example", "X500:/o=Old/cn=js"}},
          {"legacyExchangeDN", {"/o=Harbor/ou=First Administrative Group/cn=Recipients/cn=js"}},
          {"department", {"Sales"}},
          {"userAccountControl", {"512"}},
          {"groupType", {"-2147483646"}},
          {"msExchRecipientDisplayType", {"4294967297"}},
          {"msExchRecipientTypeDetails", {"1"}},
          {"uSNChanged", {"18446744073709551615"}},
          {"employeeNumber", {"0042"}},
      },
      Object{
          {"distinguishedName", {"CN=Sales Everyone,OU=Lists,DC=harbor,DC=example"}},
          {"objectClass", {"top", "msExchDynamicDistributionList"}},
          {"objectCategory",
           {"CN=ms-Exch-Dynamic-Distribution-List,CN=Schema,CN=Configuration,DC=harbor,"
            "DC=example"}},
          {"name", {"Sales Everyone"}},
          {"mailNickname", {"sales-everyone"}},
          {"mail", {"sales-everyone@harbor.example"}},
          {"msExchRecipientDisplayType", {"3"}},
          {"msExchDynamicDLFilter", {"(&(objectClass=user)(department=Sales))"}},
      },
      Object{},
  };
  return objects;
}

std::unique_ptr<Filter> ParseOrNull(std::string_view text) {
  try {
    return platform::ldapfilter::Parse(text);
  } catch (const platform::PlatformError& e) {
    if (e.number() != platform::errnum::kBadCommand) {
      fuzz::Finding("Parse raised a number other than 0x80040E14", e.what());
    }
    return nullptr;
  }
}

bool LibldapEncodes(const std::string& text) {
  BerElement* const ber = ber_alloc_t(LBER_USE_DER);
  if (ber == nullptr) return true;  // out of memory says nothing about the text
  const int rc = ldap_pvt_put_filter(ber, text.c_str());
  ber_free(ber, 1);
  return rc == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  const std::unique_ptr<Filter> parsed = ParseOrNull(input);
  if (!parsed) return 0;

  const std::string strict = parsed->ToRfc4515();
  const std::string context = "input:  " + std::string(input) + "\nstrict: " + strict;
  const std::unique_ptr<Filter> reparsed = ParseOrNull(strict);
  if (!reparsed) fuzz::Finding("the strict rendering does not parse", context);
  if (const std::string again = reparsed->ToRfc4515(); again != strict) {
    fuzz::Finding("rendering the reparsed filter gives another text",
                  context + "\nagain:  " + again);
  }
  if (!LibldapEncodes(strict)) fuzz::Finding("libldap refuses the strict rendering", context);

  for (const bool active_directory : {false, true}) {
    const std::string sent = platform::ldap::ServerFilter(
        *parsed, {"CN=Schema,CN=Configuration,DC=harbor,DC=example", active_directory});
    if (!ParseOrNull(sent))
      fuzz::Finding("the filter for a server does not parse", context + "\nsent:   " + sent);
    if (!LibldapEncodes(sent))
      fuzz::Finding("libldap refuses the filter for a server", context + "\nsent:   " + sent);
  }

  const std::vector<Object>& objects = Objects();
  for (size_t i = 0; i < objects.size(); ++i) {
    if (parsed->Matches(objects[i]) != reparsed->Matches(objects[i])) {
      fuzz::Finding("the strict rendering matches differently",
                    context + "\nobject: " + std::to_string(i));
    }
  }
  return 0;
}
