// Expanding a query-based list: look the list up by its mail address to read
// the filter and base DN it stores, run that filter as the member query and
// walk the rows. Each call owns its connection, command and record sets and
// closes them on every path; only ExpandedLists is shared across calls.
#include <array>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "addressing/bas_cdo.h"
#include "directory/filter_value.h"
#include "directory/row_fields.h"
#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/kvl.h"
#include "platform/on_error.h"
#include "platform/runtime.h"
#include "platform/text.h"

using directory::FieldText;
using platform::Obj;
using platform::OnError;

namespace {

constexpr char kPrefix[] = "KVL::ExpandQueryDL:";
constexpr char kLookupAttributes[] = "msExchDynamicDLFilter,msExchDynamicDLBaseDN";
constexpr char kRowAttributes[] =
    "name,mail,legacyExchangeDN,mobile,telephoneNumber,facsimileTelephoneNumber,homePhone,pager,"
    "otherTelephone,otherHomePhone,title,company,department,physicalDeliveryOfficeName,"
    "streetAddress,l,st,postalCode,co,givenName,sn,objectCategory";
constexpr char kLogRowAttributes[] = "name,mail,legacyExchangeDN,objectCategory";

// Logs the pieces as one message behind the operation's prefix. The
// message is made in a buffer the thread keeps: a query-based list logs a
// line per row, and joining the pieces with `+` makes a string for each.
void Log(std::initializer_list<std::string_view> pieces, int32_t level) {
  thread_local std::string message;
  message.assign(kPrefix);
  for (const std::string_view piece : pieces) message.append(piece);
  modTest::WriteLog(message, level);
}

std::string NumberAndDescription(const OnError& err) {
  return std::to_string(err.Number()) + " " + err.Description();
}

std::string Join(const std::array<std::string, 4>& parts) {
  return parts[0] + ";" + parts[1] + ";" + parts[2] + ";" + parts[3];
}

// Registers a member list under its lower-cased mail. False when it was
// met before, or when its mail cannot serve as a key (none at all).
bool RegisterMemberList(KeyedCollection* lists, const std::shared_ptr<platform::Recordset>& rs) {
  OnError err;
  err.Run([&] {
    const std::string key = text::LCase(Obj(rs).Field("mail").ToText());
    Obj(lists).Add(key, key);
  });
  return !err.Pending();
}

// Closes what the call opened; a record set or connection that is closed
// already, or never opened, is no error here. It also runs while an
// exception that is no PlatformError (std::bad_alloc) unwinds the walk, and
// a destructor that throws then ends the process: whatever Close raises
// stays here.
class CloseOnExit {
 public:
  CloseOnExit(std::shared_ptr<platform::Recordset>& rs,
              std::shared_ptr<platform::Connection>& connection)
      : rs_(rs), connection_(connection) {}
  ~CloseOnExit() {
    try {
      if (rs_) rs_->Close();
    } catch (...) {
    }
    rs_.reset();
    try {
      if (connection_) connection_->Close();
    } catch (...) {
    }
    connection_.reset();
  }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  std::shared_ptr<platform::Recordset>& rs_;
  std::shared_ptr<platform::Connection>& connection_;
};

}  // namespace

void KVL::ExpandQueryDL(const std::string& address, bool addRows) {
  if (basGlobals::StopRequested) return;
  OnError err;
  std::shared_ptr<platform::Connection> connection;
  std::shared_ptr<platform::Recordset> rs;
  connection = err.Run(
      [] { return platform::CreateObjectAs<platform::Connection>(platform::kConnectionClass); });
  if (err.Pending() || !connection) {
    Log({"unable to create ADO connection object ", NumberAndDescription(err)},
        modTest::kLevelError);
    return;
  }
  const CloseOnExit close_on_exit(rs, connection);

  err.Run([&] { connection->SetProvider("ADsDSOObject"); });
  err.Run([&] { connection->Open("Active Directory Provider", "", "", -1); });
  if (err.Pending()) {
    Log({"error opening Active Directory Provider ", NumberAndDescription(err)},
        modTest::kLevelError);
    return;
  }
  if (basGlobals::StopRequested) return;
  const auto command =
      err.Run([] { return platform::CreateObjectAs<platform::Command>(platform::kCommandClass); });
  if (err.Pending() || !command) {
    Log({"unable to create ADO Command object ", NumberAndDescription(err)}, modTest::kLevelError);
    return;
  }
  err.Run([&] { command->SetActiveConnection(connection); });

  if (basGlobals::StopRequested) return;
  const std::string root = GetRootADsPath();
  if (root.empty()) {
    Log({"failed to get root query path"}, modTest::kLevelWarning);
    return;
  }
  Log({"searching for ", address, " in ", root}, modTest::kLevelTrace);

  // The address goes into the filter escaped: a "*" or ")" in it must not
  // turn the look-up into a pattern or break the filter.
  std::array<std::string, 4> parts = {"<" + root + ">",
                                      "((mail=" + directory::EscapeFilterValue(address) + "))",
                                      kLookupAttributes, "subTree"};
  err.Run([&] { command->SetCommandText(Join(parts)); });
  if (basGlobals::StopRequested) return;
  rs = err.Run([&] { return command->Execute(-1); });
  if (err.Pending() || !rs) {
    OnError text_err;
    const std::string command_text = text_err.Run([&] { return command->CommandText(); });
    Log({"error executing query (", command_text, "): ", NumberAndDescription(err)},
        modTest::kLevelError);
    return;
  }
  const int32_t lookup_state = err.Run([&] { return rs->State(); });
  const bool lookup_empty = err.Run([&] { return rs->AtEOF(); });
  if (lookup_state != 1 || lookup_empty) {
    Log({"no query returned on lookup for ", address, ";address is not a query-based DL in domain ",
         root},
        modTest::kLevelDetail);
    return;
  }
  const std::string filter = FieldText(rs, 0);
  const std::string base_dn = FieldText(rs, 1);
  if (!base_dn.empty()) SetBaseDN(parts[0], base_dn);
  err.Run([&] { rs->Close(); });
  if (filter.empty()) {
    Log({"no query returned on lookup for ", address, ";address is not a query-based DL"},
        modTest::kLevelDetail);
    return;
  }
  Log({"expanding query-based DL ", address}, modTest::kLevelDetail);
  Log({"query filter: ", filter}, modTest::kLevelTrace);

  parts[1] = filter;
  parts[2] = addRows ? kRowAttributes : kLogRowAttributes;
  err.Run([&] { command->SetCommandText(Join(parts)); });
  err.Clear();
  rs = err.Run([&] { return command->Execute(-1); });
  if (err.Pending() || !rs) {
    Log({"error running query for ", address, ": ", NumberAndDescription(err)},
        modTest::kLevelError);
    return;
  }
  if (err.Run([&] { return rs->State(); }) != 1) {
    const std::string command_text = err.Run([&] { return command->CommandText(); });
    Log({"no results returned on ", command_text}, modTest::kLevelDetail);
    return;
  }
  Log({"query returned ", std::to_string(err.Run([&] { return rs->RecordCount(); })), " rows"},
      modTest::kLevelDetail);
  err.Run([&] { rs->MoveFirst(); });

  while (true) {
    // A walk that cannot tell where it stands, or cannot move on, stops
    // here rather than handle the same row again without end.
    err.Clear();
    const bool at_end = err.Run([&] { return rs->AtEOF(); });
    if (err.Pending()) {
      Log({"error reading the rows of the query for ", address, ": ", NumberAndDescription(err)},
          modTest::kLevelError);
      return;
    }
    if (at_end) break;
    if (basGlobals::StopRequested) return;

    const std::string category = FieldText(rs, "objectCategory");
    if (text::ContainsNoCase(category, "CN=Person")) {
      Log({"adding row with objectCategory='", category, "'"}, modTest::kLevelDetail);
      if (addRows) AddToSourceMCLFromQuery(rs);
    } else if (text::ContainsNoCase(category, "CN=Group,")) {
      if (!RegisterMemberList(ExpandedLists.get(), rs)) {
        Log({"skipping repeat expansion of ", FieldText(rs, "name")}, modTest::kLevelDetail);
      } else {
        const std::string name = FieldText(rs, "name");
        const std::string mail = FieldText(rs, "mail");
        const auto list = basCDO::GetDLEntry(name, mail);
        if (!list) {
          Log({"unable to retrieve address entry for DL named '", name, "'"},
              modTest::kLevelWarning);
        } else {
          Log({"expanding member DL named '", name, "'"}, modTest::kLevelDetail);
          if (addRows) {
            OnError walk_err;
            const auto members = walk_err.Run([&] { return list->Members(); });
            const int32_t count = walk_err.Run([&] { return Obj(members).Count(); });
            for (int32_t i = 1; i <= count; ++i) {
              // As in the member walk of AddToSourceMCL: a wide member list
              // must not hold a stop until its end.
              if (StopAtCheckpoint()) return;
              const auto member = walk_err.Run([&] { return members->Item(i); });
              if (member) AddToSourceMCL(member);
            }
          }
        }
      }
    } else if (text::ContainsNoCase(category, "CN=ms-Exch-Dynamic-Distribution-List,")) {
      // The walk yields only after a row is done, which for a nested
      // query-based list is after its whole expansion: a chain of such lists
      // would reach its end before a stop is seen, so yield before descending.
      if (StopAtCheckpoint()) return;
      if (!RegisterMemberList(ExpandedLists.get(), rs)) {
        Log({"skipping repeat expansion of ", FieldText(rs, "name")}, modTest::kLevelDetail);
      } else {
        Log({"expanding member query-based DL named '", FieldText(rs, "name"), "'"},
            modTest::kLevelDetail);
        ExpandQueryDL(FieldText(rs, "mail"), addRows);
      }
    } else {
      Log({"ignoring row with objectCategory='", category, "'"}, modTest::kLevelDetail);
    }

    err.Clear();
    err.Run([&] { rs->MoveNext(); });
    if (err.Pending()) {
      Log({"error moving to the next row of the query for ", address, ": ",
           NumberAndDescription(err)},
          modTest::kLevelError);
      return;
    }
    platform::DoEvents();
    if (basGlobals::StopRequested) return;
  }
  err.Run([&] { rs->Close(); });
}
