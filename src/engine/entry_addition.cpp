// Entry addition: a person is reported, an ordinary list is registered and
// walked depth first, a query-based list is registered and handed to the
// directory expansion. Registration comes before the walk, so a list that
// reaches itself is expanded once and then met as a repeat.
#include <memory>
#include <string>

#include "addressing/bas_cdo.h"
#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/kvl.h"
#include "engine/person_sink.h"
#include "platform/on_error.h"
#include "platform/runtime.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace {

// Adds the list to the run's registry; false when it was met before (or
// when there is no registry, outside a source-list parse).
bool Register(KeyedCollection* lists, const std::string& key) {
  OnError err;
  err.Run([&] { Obj(lists).Add(key, key); });
  return !err.Pending();
}

// The entry's address is an ODN only for an "EX" entry; a one-off entry's is
// its SMTP address, which the person already carries. The type costs a
// platform call, so it is read only for a sink.
void ReportPerson(engine::PersonSink& sink, const std::shared_ptr<platform::AddressEntry>& entry,
                  const std::string& name, const std::string& smtp, const std::string& address) {
  OnError err;
  const std::string type = err.Run([&] { return Obj(entry).Type(); });
  sink.OnPerson(engine::ReportedPerson{name, smtp, type == "EX" ? address : std::string(),
                                       engine::PersonRoad::kAddressBook});
}

// A person's detail line, made in a buffer kept by the thread: a walk
// writes one for each person it meets. Valid until the thread's next call;
// WriteLog is done with it when it returns.
const std::string& PersonLine(const std::string& name) {
  thread_local std::string line;
  line.assign("KVL::AddToSourceMCL:reading properties for ");
  line.append(name);
  return line;
}

}  // namespace

bool KVL::StopAtCheckpoint() {
  platform::DoEvents();
  return basGlobals::StopRequested;
}

void KVL::AddToSourceMCL(const std::shared_ptr<platform::AddressEntry>& entry) {
  OnError err;
  // Trimmed now, lower-cased only where a key or a report needs them: a
  // person without a sink needs neither, and persons are most of a walk.
  std::string smtp = text::Trim(basCDO::PrimarySMTPfromAE(entry));
  std::string address =
      text::Trim(err.Run([&] { return Obj(entry).Field(platform::tag::kEmailAddress).ToText(); }));
  const std::string raw_name = err.Run([&] { return Obj(entry).Name(); });
  const std::string name = text::Trim(raw_name);
  // An unreadable display type reads as 0: the entry is taken as a person.
  const int32_t display_type = err.Run([&] { return Obj(entry).DisplayType(); });
  const bool person = display_type == platform::display_type::kMailUser ||
                      display_type == platform::display_type::kRemoteMailUser;
  if (!person || PersonSink != nullptr) {
    smtp = text::LCase(smtp);
    address = text::LCase(address);
  }

  switch (display_type) {
    case platform::display_type::kMailUser:
    case platform::display_type::kRemoteMailUser:
      if (smtp.empty() && address.empty()) {
        modTest::WriteLog("KVL::AddToSourceMCL:skipping " + raw_name + ":no valid email address",
                          modTest::kLevelWarning);
      } else {
        modTest::WriteLog(PersonLine(name), modTest::kLevelDetail);
        if (PersonSink != nullptr) ReportPerson(*PersonSink, entry, name, smtp, address);
      }
      return;

    case platform::display_type::kDistList:
    case platform::display_type::kOrganization: {
      // A list without an SMTP address is registered under its ODN, so that
      // two different such lists are not taken for one; only a list with
      // neither shares the empty key.
      const std::string key = smtp.empty() ? address : smtp;
      if (!Register(ExpandedLists.get(), key)) {
        modTest::WriteLog("KVL::AddToSourceMCL:skipping repeat expansion of DL " + raw_name,
                          modTest::kLevelDetail);
        return;
      }
      const auto members = err.Run([&] { return entry->Members(); });
      const int32_t count = err.Run([&] { return Obj(members).Count(); });
      if (count <= 0) {
        modTest::WriteLog("KVL::AddToSourceMCL:skipping DL " + name + " because it has no members",
                          modTest::kLevelInfo);
        return;
      }
      if (smtp.empty()) {
        modTest::WriteLog("KVL::AddToSourceMCL:skipping " + name + ": no SMTP address",
                          modTest::kLevelWarning);
      }
      modTest::WriteLog("KVL::AddToSourceMCL:expanding DL " + name, modTest::kLevelDetail);
      for (int32_t i = 1; i <= count; ++i) {
        // A checkpoint per member, before the descent: a wide list or a deep
        // chain of lists would otherwise hold a stop until the whole walk
        // is done. It changes nothing until a stop is requested.
        if (StopAtCheckpoint()) return;
        const auto member = err.Run([&] { return members->Item(i); });
        if (member) AddToSourceMCL(member);
      }
      return;
    }

    case platform::display_type::kAgent:
      if (smtp.empty()) return;
      if (!Register(ExpandedLists.get(), smtp)) {
        modTest::WriteLog("KVL::AddToSourceMCL:skipping repeat expansion of " + raw_name,
                          modTest::kLevelInfo);
        return;
      }
      modTest::WriteLog("KVL::AddToSourceMCL:attempting to expand " + smtp + " as query-based DL",
                        modTest::kLevelDetail);
      ExpandQueryDL(smtp, true);
      return;

    default:
      return;
  }
}
