// Handing one person row of a member query on: its entry identifier is
// looked up from its ODN, and the member is reported.
#include <string>

#include "addressing/bas_rdo.h"
#include "directory/row_fields.h"
#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/kvl.h"
#include "engine/person_sink.h"
#include "platform/text.h"

using directory::FieldText;

void KVL::AddToSourceMCLFromQuery(const std::shared_ptr<platform::Recordset>& rs) {
  if (basGlobals::StopRequested) return;
  const std::string odn = FieldText(rs, "legacyExchangeDN");
  if (!odn.empty()) basRDO::GetIdForODN(odn);
  const std::string name = FieldText(rs, "name");
  if (!basGlobals::StopRequested) {
    modTest::WriteLog("KVL::AddToSourceMCLFromQuery:adding record for " + name,
                      modTest::kLevelDetail);
    if (PersonSink != nullptr) {
      PersonSink->OnPerson(
          engine::ReportedPerson{name, text::LCase(text::Trim(FieldText(rs, "mail"))),
                                 text::LCase(text::Trim(odn)), engine::PersonRoad::kDirectory});
    }
  }
}
