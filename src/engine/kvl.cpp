#include "engine/kvl.h"

#include <string>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "platform/on_error.h"
#include "platform/runtime.h"

using platform::Obj;
using platform::OnError;

KVL::KVL() {
  OnError err;
  MAPIUtils = err.Run(
      [] { return platform::CreateObjectAs<platform::ZQMAPIUtils>(platform::kUtilsClass); });
  if (err.Pending() || !MAPIUtils) {
    MAPIUtils.reset();
    modTest::WriteLog("KVL::Class_Initialize:error instantiating MAPIUtils object " +
                          std::to_string(err.Number()) + " " + err.Description(),
                      modTest::kLevelError);
    return;
  }
  // A session that is not logged on has no MAPIOBJECT; the hand-over then
  // fails quietly and the utilities object stays unattached.
  err.Run([&] { MAPIUtils->SetMAPIOBJECT(Obj(basGlobals::MAPISession).MAPIOBJECT()); });
  modTest::WriteLog("KVL::Class_Initialize:instantiated MAPIUtils object", modTest::kLevelInfo);
}

KVL::~KVL() { MAPIUtils.reset(); }
