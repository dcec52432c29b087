// The helper library's folder, items, table, filter and restriction objects
// of the memory backend, over the folders and messages of a memory session.
//
// A helper folder attaches to a folder that a memory session gave out and
// refers to that folder's logon weakly, as the other helper objects do: once
// the logon ends, every member of the folder and of what it gave out (items,
// tables, filters, restrictions) raises MAPI_E_NOT_INITIALIZED, and so does
// every member but SetFolder / SetItems before the object is attached.
//
// Choices where the library's behaviour is open:
//  - A table takes its rows when it is attached: the messages of the items'
//    folder at that moment, in the folder's order. A message deleted later
//    keeps no row: GetRow, RowCount and the finds pass over it (the session
//    cannot add messages to a folder, so the rows are always what the folder
//    holds). The items keep the folder the helper folder had when they were
//    made, even if the helper folder is attached elsewhere afterwards.
//  - The cursor starts on the first row and moves only through GetRow and a
//    successful find. GetRow past the last row gives an empty variant and
//    leaves the cursor at the end; GetRow before SetColumns raises
//    MAPI_E_INVALID_PARAMETER without moving it. SetColumns keeps the cursor.
//  - A column of a type the message's property does not have reads empty,
//    as does one the message lacks; a column with a zero type part reads
//    the property whatever its type. The two text types count as one.
//  - A find that fails leaves the cursor and the current match where they
//    were. FindNext continues from the current match, not from the cursor,
//    so a loop of FindNext always ends; without a current match it starts
//    at the cursor's row. A find with no restriction (none created, or
//    cleared) raises MAPI_E_INVALID_PARAMETER rather than match everything.
//  - A content restriction without a tag or a value matches no row, so a
//    condition whose set-up failed narrows the search instead of widening
//    it; an AND without children matches every row, as in MAPI.
//  - A content restriction compares texts only: a tag of another type is
//    refused (MAPI_E_TOO_COMPLEX), a value that is not a text raises 13, and
//    a message whose property under a typeless tag is not a text does not
//    match. AND nodes may hold AND children as well as content ones.
//  - GetIDsFromNames wants the property set as a GUID in braces and a
//    non-empty name; a 16-bit integer name is taken as its unsigned value
//    (0x8083 written as a 16-bit literal is -32637, but means 0x8083).
#ifndef TARNWICK_PLATFORM_MEMORY_HELPER_TABLES_H_
#define TARNWICK_PLATFORM_MEMORY_HELPER_TABLES_H_

#include <memory>

#include "platform/helper_library.h"
#include "platform/memory/open_objects.h"

namespace platform::memory {

// A detached helper folder, counted in `counts` (when given) while held.
std::shared_ptr<platform::ZQMAPIFolder> NewZQMAPIFolder(
    std::shared_ptr<OpenCounts> counts = nullptr);
// A detached helper table, counted in `counts` (when given) while it or a
// filter of it is held.
std::shared_ptr<platform::ZQMAPITable> NewZQMAPITable(std::shared_ptr<OpenCounts> counts = nullptr);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_HELPER_TABLES_H_
