// The search base of directory commands: the forest root through the
// global catalog, and rebasing a command on a list's own base DN.
#include <string>

#include "driver/run_log.h"
#include "engine/kvl.h"
#include "platform/on_error.h"
#include "platform/runtime.h"

using platform::Obj;
using platform::OnError;

namespace {

std::string NumberAndDescription(const OnError& err) {
  return std::to_string(err.Number()) + " " + err.Description();
}

}  // namespace

std::string KVL::GetRootADsPath() {
  OnError err;
  const auto root_dse = err.Run([] { return platform::GetObject("GC://rootDSE"); });
  if (err.Pending() || !root_dse) {
    modTest::WriteLog(
        "KVL::GetRootADsPath:unable to create rootDSE object " + NumberAndDescription(err),
        modTest::kLevelError);
    return {};
  }
  const std::string naming_context =
      err.Run([&] { return root_dse->Get("rootDomainNamingContext").ToText(); });
  if (err.Pending()) {
    modTest::WriteLog(
        "KVL::GetRootADsPath:error retrieving rootDomainNamingContext " + NumberAndDescription(err),
        modTest::kLevelError);
    return {};
  }
  const auto domain = err.Run([&] { return platform::GetObject("GC://" + naming_context); });
  if (err.Pending()) {
    modTest::WriteLog("KVL::GetRootADsPath:error retrieving Domain object using " + naming_context +
                          ": " + NumberAndDescription(err),
                      modTest::kLevelError);
    return {};
  }
  return err.Run([&] { return Obj(domain).ADsPath(); });
}

void KVL::SetBaseDN(std::string& strCommand, const std::string& strBaseDN) {
  // Everything up to and with the last "/" stays (the scheme of the path);
  // with no "/" at all nothing of the old command is kept.
  const auto last_slash = strCommand.rfind('/');
  const size_t keep = last_slash == std::string::npos ? 0 : last_slash + 1;
  strCommand = strCommand.substr(0, keep) + strBaseDN + ">";
}
