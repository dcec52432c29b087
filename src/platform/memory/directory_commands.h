// The directory side of the memory organisation: GC:// bindings and the
// connection / command / record set objects, over the organisation's
// DirectorySearch (its LDIF directory, or a server's). Each object asks `current` for the directory
// of the logged-on organisation at the moment it is used; nullptr there (or a context without data)
// means no directory can be reached (0x8007203A).
//
// Every operation first offers itself to the context's FaultPlan under the
// names "DirectoryBinder.Bind", "DirectoryObject.Get",
// "DirectoryObject.ADsPath", "Connection.Open", "Connection.Close",
// "Command.Execute", "Recordset.MoveNext", "Recordset.MoveFirst",
// "Recordset.Field" (FieldAt and Field), "Recordset.State",
// "Recordset.AtEOF", "Recordset.RecordCount" and "Recordset.Close". A fault
// that gives no object makes Bind and Execute give nullptr, Get and Field
// an empty Variant, ADsPath "", State and RecordCount 0, AtEOF false, and
// the other operations do nothing.
//
// Paths: "GC://rootDSE" ("rootDSE" in any case) and "GC://" + DN; the
// scheme is written in capitals, as ADSI wants it. There is no server part:
// everything after "GC://" is the DN, so a DN holding "/" needs no escape.
// A DN names an object in any spelling of its DN (blanks, escapes, letter
// case: platform/dn.h). Any other path fails with 0x80072030 and a
// description that names it.
//
// Command text: platform/directory_command.h. A text that does not fit
// raises 0x80040E14 with a description naming the fault; a base DN that is
// not in the directory raises 0x80072030.
//
// Rows are the matching objects in directory order; the record set keeps
// them alive (through the context it holds, or the search's own holder).
// Field values: a text for one value, an array of texts for several, null
// when the object lacks the attribute; "ADsPath" is "GC://" + the DN as
// written in the directory; "distinguishedName" falls back to that DN and
// "name" to the RDN value.
//
// ADO numbers raised here beyond those of platform/error.h: 3705 (Open on
// an open connection), 3706 (provider other than "ADsDSOObject"), 3709
// (Execute without an open connection of this backend).
#ifndef TARNWICK_PLATFORM_MEMORY_DIRECTORY_COMMANDS_H_
#define TARNWICK_PLATFORM_MEMORY_DIRECTORY_COMMANDS_H_

#include <functional>
#include <memory>
#include <string>

#include "platform/directory.h"
#include "platform/directory_search.h"
#include "platform/memory/faults.h"
#include "platform/memory/open_objects.h"

namespace platform::memory {

// What the directory objects see of the logged-on organisation; connections
// and record sets are counted in `open_counts`. `search` and `faults` must
// stay valid as long as the shared_ptr holding this context
// lives (the backend keeps them in the same organisation object).
struct DirectoryContext {
  const DirectorySearch* search = nullptr;
  std::string root_domain_naming_context;  // DN of the forest root domain
  bool global_catalog = true;              // false: every GC:// binding fails
  FaultPlan* faults = nullptr;
  std::shared_ptr<OpenCounts> open_counts;
};
// Gives the context of the logged-on organisation, kept alive by the
// pointer, or nullptr.
using DirectoryContextSource = std::function<std::shared_ptr<const DirectoryContext>()>;

// Bind: 0x8007203A without a context or with the global catalog off;
// "GC://rootDSE" gives an object whose Get serves "rootDomainNamingContext"
// and "defaultNamingContext" (0x8000500D for other attributes, or when the
// context has no naming context) and whose ADsPath is "GC://rootDSE";
// "GC://" + DN gives the object with that DN (normalised DNs compared),
// 0x80072030 when there is none. A bound object keeps the context
// it was bound in.
std::shared_ptr<DirectoryBinder> NewDirectoryBinder(DirectoryContextSource current);

// Open raises 3706 unless the provider set is "ADsDSOObject" (any case),
// 3705 when already open, 0x8007203A without a context. Close raises 3704
// when not open.
std::shared_ptr<Connection> NewConnection(DirectoryContextSource current);

// Execute raises 3709 unless the active connection is an open connection
// from NewConnection, 0x8007203A without a context or with the global
// catalog off, 0x80040E14 for a command text or filter that does not
// parse, 0x80072030 for an unknown base. Its record set is open and on the
// first row.
std::shared_ptr<Command> NewCommand(DirectoryContextSource current);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_DIRECTORY_COMMANDS_H_
