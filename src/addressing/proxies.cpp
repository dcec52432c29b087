// Proxy collection and the record filter built from a contact's addresses.
// The ";"-wrapped list form that GetAllProxies leaves is the one the
// '*;value;*' patterns of GetEmailValues search.
#include <cstdint>
#include <memory>
#include <string>

#include "driver/globals.h"
#include "driver/modtest.h"
#include "engine/kvl.h"
#include "platform/messaging.h"
#include "platform/on_error.h"
#include "platform/text.h"
#include "platform/variant.h"

using platform::Obj;
using platform::OnError;

namespace {

constexpr char kProxiesPrefix[] = "KVL::GetAllProxies:";

void LogProxies(const std::string& message, int32_t level) {
  modTest::WriteLog(kProxiesPrefix + message, level);
}

// Whole items only: "a@x" is not in "ba@x;c", and letter case does not count.
bool ListContains(const std::string& list, const std::string& item) {
  return text::ContainsNoCase(";" + list + ";", ";" + item + ";");
}

void Wrap(std::string& list) {
  if (!text::StartsWith(list, ";")) list.insert(0, ";");
  if (!text::EndsWith(list, ";")) list += ";";
}

// The address of a proxy of that type ("SMTP", "X500"), or nothing. The
// type is ASCII, so folding ASCII letters keeps the byte offset exact.
bool ProxyOfType(const std::string& proxy, const std::string& type, std::string& address) {
  const size_t prefix = type.size() + 1;
  if (proxy.size() < prefix || proxy[type.size()] != ':' ||
      !text::AsciiEqualsNoCase(std::string_view(proxy).substr(0, type.size()), type)) {
    return false;
  }
  address = proxy.substr(prefix);
  return true;
}

}  // namespace

platform::Variant KVL::GetAllProxies(const std::string& lookup, std::string& proxies,
                                     std::string& x500Proxies, std::string& odn,
                                     const bool& replaceODN, const bool& checkExisting) {
  if (basGlobals::StopRequested) return {};
  if (lookup.empty()) return {};
  modTest::TrimDelimiter(proxies, ";");
  modTest::TrimDelimiter(x500Proxies, ";");
  if (checkExisting && (ListContains(proxies, lookup) || ListContains(x500Proxies, lookup))) {
    LogProxies(" found " + lookup + " in existing proxy string; no need to repeat expansion",
               modTest::kLevelDetail);
    return {};
  }

  OnError err;
  // Never saved or sent; deleted below on every path that made it.
  const auto message = err.Run(
      [] { return Obj(Obj(Obj(basGlobals::MAPISession).ScratchFolder()).Messages()).Add(); });
  const auto recipients = err.Run([&] { return Obj(message).Recipients(); });
  const auto recipient = err.Run([&] { return Obj(recipients).Add(lookup); });
  err.Run([&] { Obj(recipient).Resolve(false); });
  const bool resolved = err.Run([&] { return Obj(recipients).Resolved(); });
  LogProxies(std::string("for ") + lookup + " resolved=" + (resolved ? "True" : "False"),
             modTest::kLevelTrace);

  if (resolved) {
    const auto entry = err.Run([&] { return Obj(recipient).AddressEntry(); });
    const std::string type = err.Run([&] { return Obj(entry).Type(); });
    if (type != "EX") {
      // A one-off or foreign entry has no ODN or proxies of its own: the
      // address it was found by is the one thing that identifies it.
      if (!ListContains(proxies, lookup)) proxies += ";" + lookup;
      LogProxies("Proxies for " + lookup + " = " + proxies, modTest::kLevelDetail);
    } else {
      const std::string address = err.Run([&] { return Obj(entry).Address(); });
      if (!address.empty() && (odn.empty() || replaceODN)) {
        const int32_t display_type = err.Run([&] { return Obj(entry).DisplayType(); });
        if (display_type == platform::display_type::kMailUser) {
          LogProxies("evaluating mailbox ODN '" + address + "'", modTest::kLevelTrace);
          if (text::LCase(address) != text::LCase(odn)) {
            LogProxies(odn.empty() ? "adding ODN '" + address + "' from lookup of " + lookup
                                   : "changing ODN from '" + odn + "' to '" + address +
                                         "' from lookup of " + lookup,
                       modTest::kLevelDetail);
            odn = address;
          }
        } else if (text::LCase(address) == text::LCase(odn)) {
          // The caller took a list (or another non-person) for the person;
          // its ODN still identifies the address, so it stays an X500 proxy.
          LogProxies("invalidating supplied ODN '" + odn + "' but including value in X500Proxies",
                     modTest::kLevelInfo);
          odn.clear();
        } else {
          LogProxies(
              "ignoring ODN '" + address + "' for DisplayType " + std::to_string(display_type),
              modTest::kLevelTrace);
        }
      }
      // An empty item would stand as ";;" inside the list: never added.
      if (!address.empty() && !ListContains(x500Proxies, address)) x500Proxies += ";" + address;

      const platform::Variant values =
          err.Run([&] { return Obj(entry).Field(platform::tag::kProxyAddresses); });
      if (modTest::IsValidArray(values)) {
        for (const platform::Variant& value : values.Array()->items) {
          // An element that is not text reads as "" and matches no type.
          const std::string proxy = err.Run([&] { return value.ToText(); });
          std::string item;
          if (ProxyOfType(proxy, "SMTP", item)) {
            item = text::LCase(item);
            LogProxies("found " + proxy + " proxy for " + lookup, modTest::kLevelTrace);
            if (!item.empty() && !ListContains(proxies, item)) {
              proxies += ";" + item;
              LogProxies("adding '" + item + "' to Proxies for " + lookup, modTest::kLevelDetail);
            }
          } else if (ProxyOfType(proxy, "X500", item)) {
            LogProxies("found " + proxy + " proxy for " + lookup, modTest::kLevelTrace);
            if (!item.empty() && !ListContains(x500Proxies, item)) {
              x500Proxies += ";" + item;
              LogProxies("adding '" + item + "' to X500Proxies for " + lookup,
                         modTest::kLevelDetail);
            }
          }
        }
      }
      if (!proxies.empty()) {
        LogProxies("Proxies for " + lookup + " = " + proxies, modTest::kLevelDetail);
      }
      if (!x500Proxies.empty()) {
        LogProxies("X500Proxies for " + lookup + " = " + x500Proxies, modTest::kLevelDetail);
      }
    }
    Wrap(proxies);
    Wrap(x500Proxies);
  }

  // The message goes whether or not anything above failed; the recipient and
  // the entry go with the scope.
  err.Run([&] { Obj(message).Delete(); });
  return {};
}

void KVL::GetEmailValues(platform::Variant values, std::string& filter, std::string& list) {
  filter.clear();
  list.clear();
  const platform::VariantArray* array = values.Array();
  const int64_t array_lower_bound = array != nullptr ? array->lower_bound : 0;
  for (int32_t index = 1; index <= 3; ++index) {
    if (basGlobals::StopRequested) return;
    // A missing element (no array, an index outside its bounds) is empty,
    // never the previous element again.
    platform::Variant element;
    const int64_t offset = int64_t{index} - array_lower_bound;
    if (array != nullptr && array->sized && offset >= 0 &&
        static_cast<uint64_t>(offset) < array->items.size()) {
      element = array->items[static_cast<size_t>(offset)];
    }
    const std::string v = QuoteFilterValue(text::LCase(GetTypedVal(element, kTypedText).ToText()));
    if (v.empty()) continue;
    if (text::Contains(v, "=")) {
      filter += "ODN LIKE '" + v + "' OR X500Proxies Like '*;" + v + ";*' OR ";
    } else if (text::Contains(v, "@") && text::Contains(v, ".")) {
      filter += "SMTP LIKE '" + v + "' OR Proxies Like '*;" + v + ";*' OR ";
    }
    list += v + ";";
  }
  if (!list.empty()) list.pop_back();
  if (!filter.empty()) filter.resize(filter.size() - 4);
}
