// The engine's text and value helpers. None keeps state, none logs, none
// raises: a value that cannot be converted gives "" or false.
#include <cstdio>
#include <string>

#include <unicode/utf8.h>

#include "addressing/bas_cdo.h"
#include "driver/globals.h"
#include "engine/kvl.h"
#include "platform/on_error.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace {

std::string TextOf(const platform::Variant& value) {
  OnError err;
  return err.Run([&] { return value.ToText(); });
}

}  // namespace

std::string KVL::GetFieldVal(const std::shared_ptr<platform::AddressEntry>& object, int32_t tag) {
  OnError err;
  return text::Trim(err.Run([&] { return Obj(object).Field(tag).ToText(); }));
}

std::string KVL::StrToHex(const std::string& text) {
  // The narrow character set is taken as Latin-1: code points above 255
  // have no narrow form and are written as "?" (3F), as a narrow conversion
  // does with unmappable characters. Invalid UTF-8 bytes stand for themselves.
  std::string out;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    unsigned code = 0;
    if (c < 0) {
      code = bytes[start];
      i = start + 1;
    } else {
      code = c <= 0xFF ? static_cast<unsigned>(c) : 0x3Fu;
    }
    char buffer[3];
    std::snprintf(buffer, sizeof buffer, "%02X", code);
    out += buffer;
  }
  return out;
}

std::string KVL::StripQuotes(const platform::Variant& value) {
  const std::string text = TextOf(value);
  const auto first = text.find_first_not_of('\'');
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of('\'');
  return text.substr(first, last - first + 1);
}

std::string KVL::QuoteFilterValue(const platform::Variant& value) {
  std::string v = StripQuotes(value);
  // Collapse runs of quotes first so that a value quoted once already is
  // not doubled again: O''Brien and O'Brien both give O''Brien.
  while (text::Contains(v, "''")) v = text::ReplaceAll(v, "''", "'");
  v = text::ReplaceAll(v, "'", "''");
  return EscapeLike(v);
}

std::string KVL::EscapeLike(const std::string& text) {
  return text::ReplaceAll(text::ReplaceAll(text, "%", "#25"), "_", "#95");
}

std::string KVL::UnescapeLike(const std::string& text) {
  return text::ReplaceAll(text::ReplaceAll(text, "#25", "%"), "#95", "_");
}

bool KVL::IsEmailAddr(const platform::Variant& value) {
  const std::string text = TextOf(value);
  const auto at = text.find('@');
  if (at == std::string::npos) return false;
  return text.find('.', at) != std::string::npos;
}

bool KVL::IsODN(const platform::Variant& value) {
  return text::ContainsNoCase(TextOf(value), "/cn=");
}

std::string KVL::ResolveSMTP(const std::string& name) {
  OnError err;
  const auto message = err.Run(
      [] { return Obj(Obj(Obj(basGlobals::MAPISession).ScratchFolder()).Messages()).Add(); });
  const auto recipient = err.Run([&] { return Obj(Obj(message).Recipients()).Add(name); });
  err.Run([&] { Obj(recipient).Resolve(false); });
  const auto entry = err.Run([&] { return Obj(recipient).AddressEntry(); });
  const std::string type = err.Run([&] { return Obj(entry).Type(); });
  if (type == "EX") return text::LCase(basCDO::PrimarySMTPfromAE(entry));
  return text::LCase(name);
}

bool KVL::IsNullText(const std::string& text) { return text::EqualsNoCase(text, "<null>"); }
