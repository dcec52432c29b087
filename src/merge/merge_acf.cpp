// The Alternate Contact Folder merge: the Master Contact Repository folder
// first, then every active ACF in trust-ranking order, each read by
// AddFromACF. The merge is all-or-nothing in its result only: folders read
// before an abort stay read.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "merge/bas_rdo_filter.h"
#include "platform/on_error.h"
#include "platform/properties.h"
#include "platform/runtime.h"

using platform::Obj;
using platform::OnError;

namespace {

constexpr char kMcrClass[] = "IPM.Post.Master Contact Repository";
constexpr char kAcfClass[] = "IPM.Post.ACF";
constexpr char kM[] = "KVL::MergeACF:";

constexpr auto kClassTag = static_cast<int32_t>(
    platform::PropTag(platform::prop_id::kMessageClass, platform::prop_type::kString8));
constexpr auto kSubjectTag = static_cast<int32_t>(
    platform::PropTag(platform::prop_id::kSubject, platform::prop_type::kString8));

std::string FieldText(const std::shared_ptr<platform::Message>& message, const char* name) {
  OnError err;
  return err.Run([&] { return Obj(message).FieldByName(name).ToText(); });
}

std::string SubjectOf(const std::shared_ptr<platform::Message>& message) {
  OnError err;
  return err.Run([&] { return Obj(message).Subject(); });
}

// The ranking split at every "|"; an empty piece is a name too, so a
// ranking ending in "|" asks for an ACF with an empty subject.
std::vector<std::string> SplitRanking(const std::string& ranking) {
  std::vector<std::string> names;
  size_t start = 0;
  for (;;) {
    const size_t bar = ranking.find('|', start);
    names.push_back(ranking.substr(start, bar == std::string::npos ? bar : bar - start));
    if (bar == std::string::npos) return names;
    start = bar + 1;
  }
}

// The last ACF message of the collection whose subject and class equal the
// name and the ACF class exactly (letter case counts, unlike the filter).
std::shared_ptr<platform::Message> ExactAcf(const std::shared_ptr<platform::Messages>& messages,
                                            const std::string& name) {
  OnError err;
  std::shared_ptr<platform::Message> kept;
  const int32_t count = err.Run([&] { return Obj(messages).Count(); });
  for (int32_t position = 1; position <= count; ++position) {
    const auto message = err.Run([&] { return messages->Item(position); });
    if (!message) continue;
    if (err.Run([&] { return message->Subject(); }) != name) continue;
    if (err.Run([&] { return message->Class(); }) != kAcfClass) continue;
    kept = message;
  }
  return kept;
}

}  // namespace

std::shared_ptr<platform::Message> KVL::GetMsgMCR() {
  OnError err;
  const auto messages = err.Run([] { return Obj(basGlobals::ConfigFolder).Messages(); });
  err.Run([&] { Obj(messages).SetFilterClass(std::string(kMcrClass)); });
  if (err.Pending()) {
    // Without the class filter the positions below would be those of every
    // message of the folder, and the surplus deletion would remove ACF
    // messages: nothing is counted or deleted.
    err.Run([&] { Obj(messages).SetFilterClass(std::nullopt); });
    return nullptr;
  }
  const int32_t count = err.Run([&] { return messages->Count(); });
  std::shared_ptr<platform::Message> result;
  if (count >= 1) result = err.Run([&] { return messages->GetFirst(kMcrClass); });
  // From the last position down, so that each deletion leaves the positions
  // still to be visited where they were; position 1 is the one kept.
  for (int32_t position = count; position >= 2; --position) {
    err.Run([&] { Obj(messages->Item(position)).Delete(); });
  }
  // A filter left set would hide the ACF messages from later readers of
  // the collection: a failed reset fails the look-up too.
  err.Run([&] { messages->SetFilterClass(std::nullopt); });
  return err.Pending() ? nullptr : result;
}

bool KVL::CheckInactive(const std::shared_ptr<platform::Message>& message) {
  OnError err;
  const platform::Variant flag = err.Run([&] { return Obj(message).FieldByName("KVL.Inactive"); });
  if (err.Pending()) return false;
  return err.Run([&] { return flag.ToBool(); });
}

bool KVL::MergeACF() {
  OnError err;
  const auto messages = err.Run([] { return Obj(basGlobals::ConfigFolder).Messages(); });
  const auto repository = GetMsgMCR();
  if (!repository) return false;

  const std::string mcr_id = FieldText(repository, "MCR EntryID");
  err.Clear();
  auto folder = basCDO::GetFolder(mcr_id);
  if (err.Pending() || !folder) {
    modTest::WriteLog(std::string(kM) +
                          " error retrieving Master Contact Repository using EntryID=" + mcr_id +
                          " " + err.Description(),
                      modTest::kLevelError);
    return false;
  }
  OnError name_err;
  modTest::WriteLog(std::string(kM) + " adding data from Master Contact Repository folder:" +
                        name_err.Run([&] { return folder->Name(); }),
                    modTest::kLevelDetail);
  if (!AddFromACF(folder, true)) {
    modTest::WriteLog(std::string(kM) + "error retrieving data from Master Contact Repository",
                      modTest::kLevelError);
    return false;
  }
  folder.reset();

  const std::string ranking = FieldText(repository, "ACF Trust Ranking");
  if (ranking.empty()) return true;
  const std::vector<std::string> names = SplitRanking(ranking);

  // A helper folder that cannot be made shows as FilterMsgsRDO's "no
  // folder" line and then as the first ACF not found.
  const auto helper = err.Run([] {
    return platform::CreateObjectAs<platform::ZQMAPIFolder>(platform::kHelperFolderClass);
  });
  err.Run([&] { Obj(helper).SetFolder(basGlobals::ConfigFolder); });
  std::vector<basRDO::FilterField> conditions(2);
  conditions[0].Tag = kClassTag;
  conditions[0].Value = kAcfClass;
  conditions[1].Tag = kSubjectTag;

  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    const std::string number = std::to_string(i + 1);
    modTest::WriteLog(std::string(kM) + "searching for ACF #" + number + " named " + name,
                      modTest::kLevelDetail);
    conditions[1].Value = name;
    const std::vector<std::string> ids = basRDO::FilterMsgsRDO(helper, conditions);
    auto message = ids.empty() ? nullptr : basCDO::GetMessageByID(ids.front());
    // The filter ignores letter case; the ranking does not.
    if (message && SubjectOf(message) != name) message = ExactAcf(messages, name);
    if (!message) {
      modTest::WriteLog(std::string(kM) + "unable to locate ACF #" + number + " named " + name +
                            "; aborting merge",
                        modTest::kLevelWarning);
      return false;
    }

    if (CheckInactive(message)) {
      modTest::WriteLog(
          std::string(kM) + "skipping " + SubjectOf(message) + ", Inactive flag is set",
          modTest::kLevelInfo);
    } else if (const std::string acf_id = FieldText(message, "ACF EntryID"); !acf_id.empty()) {
      err.Clear();
      auto acf_folder = basCDO::GetFolder(acf_id);
      if (err.Pending() || !acf_folder) {
        modTest::WriteLog(std::string(kM) + " error retrieving Alternate Contact Folder " +
                              SubjectOf(message) + " using EntryID=" + acf_id + " " +
                              err.Description(),
                          modTest::kLevelError);
        return false;
      }
      OnError acf_name_err;
      modTest::WriteLog(std::string(kM) + " merging data from Alternate Contact Folder:" +
                            acf_name_err.Run([&] { return acf_folder->Name(); }),
                        modTest::kLevelDetail);
      if (!AddFromACF(acf_folder, false)) return false;
    }
    message.reset();
    if (StopAtCheckpoint()) return false;
  }
  return true;
}
