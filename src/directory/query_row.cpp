// Handing one person row of a member query on: its entry identifier is
// looked up from its ODN, and the member is reported.
#include <string>

#include "addressing/bas_rdo.h"
#include "driver/globals.h"
#include "driver/modtest.h"
#include "engine/kvl.h"
#include "platform/on_error.h"

using platform::Obj;
using platform::OnError;

namespace {

std::string FieldText(const std::shared_ptr<platform::Recordset>& rs, const std::string& name) {
  OnError err;
  return err.Run([&] {
    const platform::Variant value = Obj(rs).Field(name);
    return value.IsNull() ? std::string() : value.ToText();
  });
}

}  // namespace

void KVL::AddToSourceMCLFromQuery(const std::shared_ptr<platform::Recordset>& rs) {
  if (basGlobals::StopRequested) return;
  const std::string odn = FieldText(rs, "legacyExchangeDN");
  if (!odn.empty()) basRDO::GetIdForODN(odn);
  const std::string name = FieldText(rs, "name");
  if (!basGlobals::StopRequested) {
    modTest::WriteLog("KVL::AddToSourceMCLFromQuery:adding record for " + name,
                      modTest::kLevelDetail);
  }
}
