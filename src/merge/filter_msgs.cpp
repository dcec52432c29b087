// Message filtering through the helper library's table and filter, and the
// one engine operation built on it that raises to its caller.
//
// Every condition compares the whole value without regard to case. A
// failure of the search set-up must never read as "every message matches":
// an AND without children, or a find without a usable restriction, would
// report a broken search as a list of hits, so the search only runs once at
// least one condition stands.
#include "merge/bas_rdo_filter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "driver/value_helpers.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "platform/error.h"
#include "platform/on_error.h"
#include "platform/properties.h"
#include "platform/runtime.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace {

constexpr auto kConversationTopicTag = static_cast<int32_t>(
    platform::PropTag(platform::prop_id::kConversationTopic, platform::prop_type::kString8));

}  // namespace

namespace basRDO {

namespace {

constexpr int32_t kIdColumn = platform::tag::kLongTermEntryIdFromTable;
constexpr int32_t kConditionLevel = platform::fuzzy_level::kFullStringIgnoreCase;

constexpr int32_t kPtI2 = 2;
constexpr int32_t kPtLong = 3;
constexpr int32_t kPtBoolean = 11;
constexpr int32_t kPtString8 = 30;
constexpr int32_t kPtSysTime = 64;
constexpr int32_t kPtBinary = 258;

// The condition under an AND node; true when the child was added and every
// part of it was set. A child whose set-up failed half-way stays under the
// parent: the helper library then matches no row through it, which narrows
// the search instead of widening it.
bool AddCondition(const std::shared_ptr<platform::HelperRestriction>& parent, int32_t tag,
                  const std::string& value) {
  const std::string what = modTest::HexNumber(tag) + " for " + value;
  modTest::WriteLog("AddRestrictionRDO:adding restriction on &h" + what, modTest::kLevelTrace);
  OnError err;
  const auto child =
      err.Run([&] { return Obj(parent).AddChild(platform::restriction_kind::kContent); });
  err.Run([&] { Obj(child).SetFuzzyLevel(kConditionLevel); });
  err.Run([&] { Obj(child).SetPropertyTag(tag); });
  err.Run([&] { Obj(child).SetValue(platform::Variant(value)); });
  if (!err.Pending()) return true;
  modTest::WriteLog("AddRestrictionRDO:error adding restriction on &h" + what + ": " +
                        std::to_string(err.Number()) + " " + err.Description(),
                    modTest::kLevelError);
  return false;
}

// The tag a condition compares; writes the PropType default back. A named
// property whose identifier cannot be had leaves `err` pending: the tag
// would otherwise be the bare type, a property no message holds.
int32_t ConditionTag(OnError& err, const std::shared_ptr<platform::ZQMAPIFolder>& folder,
                     FilterField& field) {
  if (field.Tag != 0) return field.Tag;
  if (field.PropType == 0) field.PropType = kPtString8;
  const int32_t id = err.Run([&] {
    return Obj(folder).GetIDsFromNames(platform::kPsPublicStrings, platform::Variant(field.Name));
  });
  return id | field.PropType;
}

}  // namespace

std::vector<std::string> FilterMsgsRDO(const std::shared_ptr<platform::ZQMAPIFolder>& folder,
                                       std::vector<FilterField>& fields) {
  std::vector<std::string> ids;
  if (!folder) {
    modTest::WriteLog("FilterMsgsRDO:no folder supplied", modTest::kLevelInfo);
    return ids;
  }
  if (fields.empty()) {
    modTest::WriteLog("FilterMsgsRDO:no filter fields supplied", modTest::kLevelInfo);
    return ids;
  }

  OnError err;
  const auto items = err.Run([&] { return folder->Items(); });
  const auto table = err.Run([&] { return Obj(items).Table(); });
  const auto filter = err.Run([&] { return Obj(table).Filter(); });
  err.Run([&] { Obj(table).SetColumns({kIdColumn}); });

  // Whether a condition stands that the search may run under. Failures of
  // the set-up above need no test of their own: with no table or filter
  // every later call fails and the result stays empty.
  bool searchable = false;
  if (fields.size() > 1) {
    const auto root =
        err.Run([&] { return Obj(filter).CreateRestriction(platform::restriction_kind::kAnd); });
    // A named condition whose identifier cannot be had is never met, and it
    // cannot be added to say so: no search then. The other conditions still
    // get their type default.
    bool unnamed = false;
    for (FilterField& field : fields) {
      OnError lookup;
      const int32_t tag = ConditionTag(lookup, folder, field);
      if (lookup.Pending()) {
        unnamed = true;
        continue;
      }
      // A condition left out would widen the search: a subject alone finds
      // messages of any class. Every condition is still tried, so that each
      // failure gets its line.
      if (AddCondition(root, tag, field.Value)) {
        searchable = true;
      } else {
        unnamed = true;
      }
    }
    if (unnamed) searchable = false;
  } else {
    OnError single;
    const auto root = single.Run(
        [&] { return Obj(filter).CreateRestriction(platform::restriction_kind::kContent); });
    const int32_t tag = ConditionTag(single, folder, fields[0]);
    single.Run([&] { Obj(root).SetPropertyTag(tag); });
    single.Run([&] { Obj(root).SetValue(platform::Variant(fields[0].Value)); });
    single.Run([&] { Obj(root).SetFuzzyLevel(kConditionLevel); });
    searchable = !single.Pending();
  }

  if (searchable) {
    bool found = err.Run([&] { return Obj(filter).FindFirst(true); });
    while (found) {
      const platform::Variant row = err.Run([&] { return Obj(table).GetRow(); });
      if (row.IsEmpty()) break;
      const platform::VariantArray* columns = row.Array();
      const platform::Variant first = columns != nullptr && !columns->items.empty()
                                          ? columns->items.front()
                                          : platform::Variant();
      ids.push_back(GetRowVal(first, kIdColumn).ToText());
      platform::DoEvents();
      if (basGlobals::StopRequested) break;
      found = err.Run([&] { return Obj(filter).FindNext(true); });
    }
  }
  err.Run([&] { Obj(filter).Clear(); });
  return ids;
}

void AddRestrictionRDO(const std::shared_ptr<platform::HelperRestriction>& parent,
                       const int32_t& tag, const std::string& value) {
  AddCondition(parent, tag, value);
}

platform::Variant GetRowVal(const platform::Variant& value, const int32_t& tag) {
  // Every conversion is guarded by its type test, so none can raise.
  switch (GetPropType(tag)) {
    case kPtI2:
      return value.IsInteger() ? value : platform::Variant(int16_t{0});
    case kPtLong:
      return value.IsInt32() ? value : platform::Variant(int16_t{0});
    case kPtBoolean:
      return value.IsBool() ? value : platform::Variant(false);
    case kPtString8:
      return value.IsText() ? platform::Variant(text::Trim(value.ToText()))
                            : platform::Variant(std::string());
    case kPtSysTime:
      return value.IsDate() ? value : platform::Variant(platform::Date{});
    case kPtBinary:
      return value.IsArray() ? modTest::BytesToHex(value) : std::string();
    default:
      modTest::WriteLog("GetRowVal:No Match", modTest::kLevelTrace);
      return {};
  }
}

int32_t GetPropType(int32_t tag) {
  return static_cast<int32_t>(static_cast<uint32_t>(tag) & 0xFFFFu);
}

}  // namespace basRDO

std::shared_ptr<platform::Message> KVL::FindMsgByTopicOrPIN(const std::string& topic,
                                                            const std::string& pin) {
  // No continue-on-error here: a caller must be able to tell "no such
  // message" (nullptr) from "the search could not run" (PlatformError).
  // The helper folder is made and attached before the arguments are looked
  // at, so a missing RegFolder shows even on a call with nothing to find.
  const auto helper =
      platform::CreateObjectAs<platform::ZQMAPIFolder>(platform::kHelperFolderClass);
  if (!RegFolder) throw platform::PlatformError(platform::errnum::kObjectNotSet);
  Obj(helper).SetFolder(RegFolder);

  std::vector<basRDO::FilterField> fields(1);
  if (!topic.empty()) {
    // Stored topics were written through the same quoting as record-filter
    // values (quotes doubled, "%" and "_" escaped), so the search must quote
    // the same way to meet them; the PIN is not used then.
    fields[0].Tag = kConversationTopicTag;
    fields[0].Value = QuoteFilterValue(platform::Variant(topic));
  } else if (!pin.empty()) {
    fields[0].Name = "PIN";
    fields[0].PropType = platform::prop_type::kString8;
    fields[0].Value = pin;
  } else {
    return nullptr;
  }
  const std::vector<std::string> ids = basRDO::FilterMsgsRDO(helper, fields);
  const std::string id = ids.empty() ? std::string() : ids.front();
  if (id.empty()) return nullptr;
  // A message that vanished between the search and the look-up is no
  // failure of the search: it reads as no match.
  return basCDO::GetMessageByID(id);
}
