#include "addressing/bas_rdo.h"

#include <memory>
#include <string>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "platform/helper_library.h"
#include "platform/on_error.h"
#include "platform/runtime.h"

using platform::Obj;
using platform::OnError;

namespace basRDO {
namespace {

// A helper session attached to the program's logon; failures stay pending.
std::shared_ptr<platform::RDOSession> AttachedHelperSession(OnError& err) {
  auto session = err.Run(
      [] { return platform::CreateObjectAs<platform::RDOSession>(platform::kRdoSessionClass); });
  err.Run([&] { Obj(session).SetMAPIOBJECT(Obj(basGlobals::MAPISession).MAPIOBJECT()); });
  return session;
}

}  // namespace

std::string GetIdForODN(const std::string& odn) {
  if (odn.empty()) return {};
  OnError err;
  const auto session = AttachedHelperSession(err);
  std::shared_ptr<platform::RDOAddressList> list;
  {
    const auto book = err.Run([&] { return Obj(session).AddressBook(); });
    const auto lists = err.Run([&] { return Obj(book).AddressLists(); });
    // Made once: the name is past the short-string room, and a
    // query-based list looks an entry up per member.
    static const std::string kGlobalList = "Global Address List";
    list = err.Run([&] { return Obj(lists).Item(kGlobalList); });
  }
  const auto entry = err.Run([&] { return Obj(list).GetEntryByODN(odn); });
  if (err.Pending() || !entry) {
    modTest::WriteLog("GetIdForODN error for '" + odn + "' " + err.Description(),
                      modTest::kLevelError);
    return {};
  }
  return err.Run([&] { return entry->EntryID(); });
}

std::string GetAddressEntryFromId(const std::string& entry_id) {
  if (entry_id.empty()) return {};
  OnError err;
  const auto session = AttachedHelperSession(err);
  const auto entry = err.Run([&] { return Obj(session).GetAddressEntryFromID(entry_id); });
  if (err.Pending() || !entry) {
    modTest::WriteLog("GetAddressEntryFromId failed " + err.Description(), modTest::kLevelError);
    return {};
  }
  const std::string smtp = err.Run([&] { return entry->SMTPAddress(); });
  if (!smtp.empty()) return smtp;
  const std::string name = err.Run([&] { return entry->Name(); });
  const std::string type = err.Run([&] { return entry->AddressType(); });
  return "no SMTP address for " + name + "; Type: " + type;
}

}  // namespace basRDO
