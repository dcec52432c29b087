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
  // Made once: a name past the short-string room would be allocated for
  // every row.
  static const std::string kOdnField = "legacyExchangeDN";
  const std::string odn = FieldText(rs, kOdnField);
  if (!odn.empty()) basRDO::GetIdForODN(odn);
  const std::string name = FieldText(rs, "name");
  if (!basGlobals::StopRequested) {
    // Made in a buffer the thread keeps: this line is logged for every row.
    thread_local std::string line;
    line.assign("KVL::AddToSourceMCLFromQuery:adding record for ").append(name);
    modTest::WriteLog(line, modTest::kLevelDetail);
    if (PersonSink != nullptr) {
      PersonSink->OnPerson(
          engine::ReportedPerson{name, text::LCase(text::Trim(FieldText(rs, "mail"))),
                                 text::LCase(text::Trim(odn)), engine::PersonRoad::kDirectory});
    }
  }
}
