#include "addressing/bas_cdo.h"

#include <optional>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "platform/on_error.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace basCDO {

std::string PrimarySMTPfromAE(const std::shared_ptr<platform::AddressEntry>& entry) {
  OnError err;
  const std::string type = err.Run([&] { return Obj(entry).Type(); });
  // The type tests are exact and the proxy test too (only the primary
  // proxy is written in upper case); the prefix strip ignores case.
  if (type == "SMTP") {
    std::string address = err.Run([&] { return entry->Address(); });
    if (text::StartsWithNoCase(address, "SMTP:")) address.erase(0, 5);
    return address;
  }
  if (type != "EX") return {};
  // The first proxy that starts with "SMTP:" exactly (the primary one); no
  // proxy field, or one that is not an array, gives nothing.
  return err
      .Run([&] { return entry->FirstTextWithPrefix(platform::tag::kProxyAddresses, "SMTP:"); })
      .value_or(std::string());
}

namespace {

// The host's global address list, when it set one: its entry for the ODN.
std::string SmtpFromGlobalAddressEntries(const std::string& odn) {
  const auto& gal = basGlobals::GALEntries;
  if (!gal) return {};
  OnError err;
  std::string result;
  err.Run([&] { gal->SetFilterAddress("EX:" + odn); });
  if (!err.Pending()) {
    const int32_t count = err.Run([&] { return gal->Count(); });
    if (!err.Pending() && count == 1) {
      result =
          err.Run([&] { return Obj(gal->Item(1)).Field(platform::tag::kSmtpAddress).ToText(); });
    }
  }
  // The filter is shared by every user of the collection: always clear it.
  err.Run([&] { gal->SetFilterAddress(std::nullopt); });
  return result;
}

}  // namespace

std::string PrimarySMTPfromODN(const std::string& odn) {
  std::string result = SmtpFromGlobalAddressEntries(odn);
  if (!result.empty()) return result;

  OnError err;
  auto message = err.Run(
      [] { return Obj(Obj(Obj(basGlobals::MAPISession).ScratchFolder()).Messages()).Add(); });
  auto recipients = err.Run([&] { return Obj(message).Recipients(); });
  auto recipient = err.Run([&] { return Obj(recipients).Add(odn); });
  err.Run([&] { Obj(recipient).Resolve(false); });
  std::optional<bool> resolved;
  err.Run([&] { resolved = Obj(recipients).Resolved(); });
  if (resolved.has_value() && *resolved) {
    auto entry = err.Run([&] { return Obj(recipient).AddressEntry(); });
    result = PrimarySMTPfromAE(entry);
  } else if (resolved.has_value()) {
    modTest::WriteLog("PrimarySMTPfromODN:failed to retrieve primary SMTP address for '" + odn +
                          "': address did not resolve",
                      modTest::kLevelWarning);
  }
  recipient.reset();
  recipients.reset();
  err.Run([&] { Obj(message).Delete(); });
  return result;
}

std::shared_ptr<platform::AddressEntry> GetDLEntry(const std::string& name,
                                                   const std::string& smtp) {
  OnError err;
  auto entry = err.Run([&] { return Obj(basGlobals::GALEntries).ItemByName(name); });
  if (err.Pending() || !entry) return nullptr;
  const std::string display_name = err.Run([&] { return entry->Name(); });
  const std::string entry_smtp =
      err.Run([&] { return entry->Field(platform::tag::kSmtpAddress).ToText(); });
  const int32_t display_type = err.Run([&] { return entry->DisplayType(); });
  if (err.Pending()) return nullptr;
  if (text::EqualsNoCase(display_name, name) && text::EqualsNoCase(entry_smtp, smtp) &&
      display_type == platform::display_type::kDistList) {
    return entry;
  }
  return nullptr;
}

}  // namespace basCDO
