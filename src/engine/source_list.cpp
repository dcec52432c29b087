// Resolving the source list: each ";"-separated piece becomes an Exchange
// address entry of the messaging session, first through the helper library,
// else through the session's own recipient resolution.
#include <memory>
#include <string>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/kvl.h"
#include "platform/on_error.h"
#include "platform/runtime.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

void KVL::ParseSourceMCL(std::string source) {
  modTest::WriteLog("KVL::ParseSourceMCL:expanding " + source, modTest::kLevelDetail);
  OnError err;
  // One scratch message carries the recipients of every piece that needs the
  // session's resolution; it is never saved and goes with this call.
  const auto message = err.Run(
      [] { return Obj(Obj(Obj(basGlobals::MAPISession).ScratchFolder()).Messages()).Add(); });
  const auto recipients = err.Run([&] { return Obj(message).Recipients(); });
  const auto pieces = text::Split(source, ";");
  ExpandedLists = std::make_unique<KeyedCollection>();

  for (const auto& piece : pieces) {
    // An empty piece ends the list: "a;;b" gives only a.
    if (text::Trim(piece).empty()) break;
    std::shared_ptr<platform::Recipient> recipient;
    auto entry = GetExAE(piece);
    if (!entry) {
      modTest::WriteLog("KVL::ParseSourceMCL:using CDO to resolve " + piece, modTest::kLevelInfo);
      const std::string name = text::Contains(piece, "=") ? "EX:" + piece : piece;
      recipient = err.Run([&] { return Obj(recipients).Add(name); });
      err.Run([&] { Obj(recipient).Resolve(false); });
      err.Clear();
      entry = err.Run([&] { return Obj(recipient).AddressEntry(); });
    }
    if (err.Pending() || !entry) {
      OnError name_err;
      const std::string name =
          recipient ? name_err.Run([&] { return recipient->Name(); }) : std::string();
      modTest::WriteLog("KVL::ParseSourceMCL: unable to retrieve EX AddressEntry for " + name +
                            " " + err.Description(),
                        modTest::kLevelError);
      err.Clear();
    } else {
      const std::string type = err.Run([&] { return entry->Type(); });
      const std::string entry_name = err.Run([&] { return entry->Name(); });
      if (type == "EX") {
        modTest::WriteLog("KVL::ParseSourceMCL:adding " + entry_name, modTest::kLevelInfo);
        AddToSourceMCL(entry);
      } else {
        modTest::WriteLog(
            "KVL::ParseSourceMCL: skipping " + entry_name + "; invalid AddressType:" + type,
            modTest::kLevelInfo);
      }
      // A failed Type or Name read belongs to this piece alone: left
      // pending, it would make the next piece, though it resolves, be
      // skipped with this piece's error.
      err.Clear();
    }
    platform::DoEvents();
    // A stop leaves the registry in place: the run was cut short.
    if (basGlobals::StopRequested) return;
  }
  ExpandedLists.reset();
}

std::shared_ptr<platform::AddressEntry> KVL::GetExAE(const std::string& address) {
  if (!MAPIUtils) return nullptr;
  OnError err;
  err.Run([&] { MAPIUtils->SetMAPIOBJECT(Obj(basGlobals::MAPISession).MAPIOBJECT()); });
  const auto recipient = err.Run([&] { return MAPIUtils->CreateRecipient(address, 0, 0); });
  if (!recipient) {
    modTest::WriteLog(
        "KVL::GetExAE:nothing returned by CreateRecipient for " + address + " " + err.Description(),
        modTest::kLevelWarning);
    return nullptr;
  }
  const std::string resolved_address = err.Run([&] { return recipient->Address(); });
  const std::string type = err.Run([&] { return Obj(recipient->AddressEntry()).AddressType(); });
  modTest::WriteLog("KVL::GetExAE:CreateRecipient for " + address +
                        " returned Address = " + resolved_address + "; AddressEntry.Type = " + type,
                    modTest::kLevelInfo);
  if (type != "EX") return nullptr;
  const std::string entry_id = err.Run([&] { return recipient->EntryID(); });
  return err.Run([&] { return Obj(basGlobals::MAPISession).GetAddressEntry(entry_id); });
}
