// Fuzz target "command": the four-part directory command text
// ("<GC://base>;filter;attributes;scope") of the memory backend.
//
// The command parser sits behind Command::Execute, so the input is set as
// the text of a command on an open connection to a small fixed directory
// and executed. PlatformError is the command refusing bad text (or naming
// a base that is not there), which is right. For a command that runs, the
// whole record set is read: every field of every row, and the row count
// must agree with the rows the walk met. Anything else escaping is a
// finding.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/finding.h"
#include "platform/directory.h"
#include "platform/error.h"
#include "platform/memory/directory_commands.h"
#include "platform/memory/organisation.h"

namespace {

using platform::memory::DirectoryContext;

// DNs with escaped specials (a comma, a ">" that must not end the base), a
// non-ASCII name, and the attributes the engine's queries read, so that
// filters and scopes reach real rows.
constexpr char kLdif[] = R"(version: 1

dn: DC=harbor,DC=example
objectClass: domainDNS
dc: harbor

dn: OU=People,DC=harbor,DC=example
objectClass: organizationalUnit
ou: People

dn: CN=Ana Lima,OU=People,DC=harbor,DC=example
objectClass: top
objectClass: person
objectClass: user
cn: Ana Lima
displayName: Ana Lima
mailNickname: ana
objectCategory: CN=Person,CN=Schema,CN=Configuration,DC=harbor,DC=example
legacyExchangeDN: /o=Harbor/cn=Recipients/cn=ana
department: Sales
mail: ana.lima@harbor.example
proxyAddresses: SMTP:ana.lima@harbor.example
proxyAddresses: smtp:ana@harbor.example
userAccountControl: 512

dn: CN=Smith\2C John,OU=People,DC=harbor,DC=example
objectClass: user
cn: Smith, John
displayName:: SsO2cmcgU21pdGg=
mail: john.smith@harbor.example
groupType: -2147483646

dn: CN=a\>b,OU=People,DC=harbor,DC=example
objectClass: contact
cn: a>b

dn: OU=Lists,DC=harbor,DC=example
objectClass: organizationalUnit
ou: Lists

dn: CN=Sales Everyone,OU=Lists,DC=harbor,DC=example
objectClass: top
objectClass: msExchDynamicDistributionList
name: Sales Everyone
mailNickname: sales-everyone
objectCategory: CN=ms-Exch-Dynamic-Distribution-List,CN=Schema,CN=Configuration,DC=harbor,DC=example
legacyExchangeDN: /o=Harbor/cn=Recipients/cn=sales-everyone
mail: sales-everyone@harbor.example
msExchDynamicDLFilter: (&(objectClass=user)(department=Sales))
msExchDynamicDLBaseDN: OU=People,DC=harbor,DC=example

dn: CN=Sales Team,OU=Lists,DC=harbor,DC=example
objectClass: group
mail: sales-team@harbor.example
member: CN=Ana Lima,OU=People,DC=harbor,DC=example
member: CN=Smith\2C John,OU=People,DC=harbor,DC=example
)";

struct World {
  std::shared_ptr<platform::memory::Organisation> organisation;
  std::shared_ptr<platform::Connection> connection;
  platform::memory::DirectoryContextSource source;
};

World MakeWorld() {
  World world;
  world.organisation = platform::memory::LoadOrganisationText("{}", kLdif, "fuzz-command");
  world.source = [organisation = world.organisation]() {
    return std::shared_ptr<const DirectoryContext>(organisation,
                                                   &organisation->directory_context());
  };
  world.connection = platform::memory::NewConnection(world.source);
  world.connection->SetProvider("ADsDSOObject");
  world.connection->Open("Active Directory Provider", "", "", -1);
  return world;
}

World& TheWorld() {
  static World world = MakeWorld();
  return world;
}

// Reads every field of the current row; gives the number of columns.
int32_t ReadRow(platform::Recordset& rows) {
  for (int32_t column = 0;; ++column) {
    try {
      rows.FieldAt(column);
    } catch (const platform::PlatformError& e) {
      if (e.number() != platform::errnum::kItemNotFound) throw;
      return column;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& world = TheWorld();
  const std::string text(fuzz::AsText(data, size));
  const auto command = platform::memory::NewCommand(world.source);
  command->SetActiveConnection(world.connection);
  command->SetCommandText(text);
  std::shared_ptr<platform::Recordset> rows;
  try {
    rows = command->Execute(-1);
  } catch (const platform::PlatformError&) {
    return 0;
  }
  if (!rows) fuzz::Finding("Execute gave no record set and raised nothing", text);

  const int32_t count = rows->RecordCount();
  int32_t walked = 0;
  int32_t columns = -1;
  for (rows->MoveFirst(); !rows->AtEOF(); rows->MoveNext()) {
    const int32_t row_columns = ReadRow(*rows);
    if (row_columns == 0 || (columns >= 0 && row_columns != columns)) {
      fuzz::Finding("rows of one record set have different or no columns", text);
    }
    columns = row_columns;
    ++walked;
  }
  if (walked != count) fuzz::Finding("RecordCount disagrees with the rows walked", text);
  rows->Close();
  return 0;
}
