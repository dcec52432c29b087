// The product's helper library: extended address-book, folder-table and
// restriction access beyond the messaging session. Its objects are created
// by class name and attached before use, to the logged-on session through
// its MAPIOBJECT or (the folder and table objects) to a session folder;
// until then, or when that logon is gone, their members raise
// MAPI_E_NOT_INITIALIZED, and so do the objects they gave out. Methods that
// give an object raise rather than give nullptr unless their comment says
// otherwise.
#ifndef TARNWICK_PLATFORM_HELPER_LIBRARY_H_
#define TARNWICK_PLATFORM_HELPER_LIBRARY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/messaging.h"
#include "platform/object.h"
#include "platform/variant.h"

namespace platform {

inline constexpr char kUtilsClass[] = "ZQHelper.ZQMAPIUtils";
inline constexpr char kRdoSessionClass[] = "ZQHelper.RDOSession";
inline constexpr char kHelperFolderClass[] = "ZQHelper.ZQMAPIFolder";
inline constexpr char kHelperTableClass[] = "ZQHelper.ZQMAPITable";

// An address-book entry, or a one-off internet address, as the helper
// library sees it.
class HelperAddressEntry : public AutomationObject {
 public:
  // Hexadecimal identifier; the messaging session's GetAddressEntry and the
  // helper session's GetAddressEntryFromID take it.
  virtual std::string EntryID() = 0;
  // The entry's primary SMTP address, "" when it has none.
  virtual std::string SMTPAddress() = 0;
  // The display name.
  virtual std::string Name() = 0;
  // "EX" for a directory entry, "SMTP" for a one-off address.
  virtual std::string AddressType() = 0;
};

// A recipient that CreateRecipient resolved: it always has an entry.
class HelperRecipient : public AutomationObject {
 public:
  // The ODN of an "EX" entry, the address of a one-off entry.
  virtual std::string Address() = 0;
  // The resolved entry; never nullptr.
  virtual std::shared_ptr<platform::HelperAddressEntry> AddressEntry() = 0;
  // The entry's identifier, as HelperAddressEntry::EntryID.
  virtual std::string EntryID() = 0;
};

class ZQMAPIUtils : public AutomationObject {
 public:
  // Works on that logon from now on; nothing detaches. A handle of another
  // backend raises 13 (type mismatch).
  virtual void SetMAPIOBJECT(const MapiHandle& session) = 0;
  // A resolved recipient for the address, or nullptr when it resolves to
  // nothing or to several entries. The two flags are the library's own; the
  // engine passes 0 for both.
  virtual std::shared_ptr<HelperRecipient> CreateRecipient(const std::string& address,
                                                           int32_t flags, int32_t reserved) = 0;
};

class RDOAddressList : public AutomationObject {
 public:
  // The entry with that ODN (compared without regard to case); raises
  // MAPI_E_NOT_FOUND.
  virtual std::shared_ptr<HelperAddressEntry> GetEntryByODN(const std::string& odn) = 0;
};

class RDOAddressLists : public AutomationObject {
 public:
  // The list with exactly that name; raises MAPI_E_NOT_FOUND.
  virtual std::shared_ptr<RDOAddressList> Item(const std::string& name) = 0;
};

class RDOAddressBook : public AutomationObject {
 public:
  // The address lists of the logon; never nullptr.
  virtual std::shared_ptr<RDOAddressLists> AddressLists() = 0;
};

class RDOSession : public AutomationObject {
 public:
  // As ZQMAPIUtils::SetMAPIOBJECT.
  virtual void SetMAPIOBJECT(const MapiHandle& session) = 0;
  // The address book of the logon; never nullptr.
  virtual std::shared_ptr<RDOAddressBook> AddressBook() = 0;
  // Raises MAPI_E_NOT_FOUND for an unknown identifier.
  virtual std::shared_ptr<HelperAddressEntry> GetAddressEntryFromID(
      const std::string& entry_id) = 0;
};

// Folder and table access, used by the message filter and the contact
// readers. A helper folder attaches to a session folder; its contents give
// an items object; a helper table over the items reads the folder's messages
// as rows, one per message in the folder's order, and its filter searches
// those rows by a restriction.
//
// Every member of these objects raises MAPI_E_NOT_INITIALIZED while the
// object is not attached (no folder, no items) or once the logon of the
// folder it works on has ended; the objects never keep that logon alive.

// Kinds of restriction a filter builds (MAPI's RES_ values).
namespace restriction_kind {
inline constexpr int32_t kAnd = 0;      // RES_AND: every child matches
inline constexpr int32_t kContent = 3;  // RES_CONTENT: a property compared with a text
}  // namespace restriction_kind

// Fuzzy levels of a content restriction (MAPI's FL_ values): one of the
// three comparisons in the low word, optionally with kIgnoreCase.
namespace fuzzy_level {
inline constexpr int32_t kFullString = 0x00000000;  // the whole value equals the text
inline constexpr int32_t kSubstring = 0x00000001;   // the value contains the text
inline constexpr int32_t kPrefix = 0x00000002;      // the value starts with the text
inline constexpr int32_t kIgnoreCase = 0x00010000;
// The level the engine's conditions use: whole value, case ignored.
inline constexpr int32_t kFullStringIgnoreCase = kFullString | kIgnoreCase;
}  // namespace fuzzy_level

namespace tag {
// A message's long-term identifier as a table column (binary): the bytes of
// its identifier, so that their hexadecimal text opens the message.
inline constexpr int32_t kLongTermEntryIdFromTable = 0x66700102;  // PR_LONGTERM_ENTRYID_FROM_TABLE
}  // namespace tag

// Errors of the folder, table and restriction objects beyond those of the
// messaging model (their descriptions name the MAPI error and the reason).
namespace helper_errnum {
// A value the call cannot take: an unknown restriction kind or fuzzy level,
// a malformed property set, an empty column list, a call out of order.
inline constexpr int32_t kInvalidParameter = static_cast<int32_t>(0x80070057);
// A member that the restriction's kind does not have (AddChild on a content
// restriction, SetValue on an AND).
inline constexpr int32_t kNoSupport = static_cast<int32_t>(0x80040102);
// A content restriction on a property type that is not text.
inline constexpr int32_t kTooComplex = static_cast<int32_t>(0x80040117);
// Every named-property identifier up to 0xFFFE is taken.
inline constexpr int32_t kNotEnoughResources = static_cast<int32_t>(0x8004010E);
}  // namespace helper_errnum

// One node of a filter's restriction: an AND node (children only) or a
// content node (fuzzy level, tag and value only). A member the node's kind
// does not have raises helper_errnum::kNoSupport. Changes take effect at the
// filter's next find.
class HelperRestriction : public AutomationObject {
 public:
  // A new child of an AND node, given back to be filled in:
  // restriction_kind::kContent (the engine's conditions) or kAnd; any other
  // kind raises kInvalidParameter.
  virtual std::shared_ptr<HelperRestriction> AddChild(int32_t kind) = 0;
  // A fuzzy_level value; an unknown level raises kInvalidParameter. Until
  // it is set the comparison is kFullString with letter case counting.
  virtual void SetFuzzyLevel(int32_t level) = 0;
  // The property compared: a text-typed tag (type 30 or 31), or a tag with
  // a zero type part (then only a text value of the property can match).
  // Any other type raises kTooComplex.
  virtual void SetPropertyTag(int32_t property_tag) = 0;
  // The text compared with; a value that is not a text raises 13 (type
  // mismatch). A content node without a tag or a value matches no row.
  virtual void SetValue(const Variant& value) = 0;
};

// The search of one table. Protocol: CreateRestriction, fill in the
// restriction, then FindFirst and FindNext until one gives false; each find
// that gives true places the table's cursor on the found row, so the next
// GetRow reads it. A row matches a content node when the message holds the
// property as a text that compares as the fuzzy level says (a message
// without the property does not match), an AND node when every child does
// (an AND without children matches every row). Rows of messages deleted
// since the table was attached are passed over.
class HelperFilter : public AutomationObject {
 public:
  // The new root restriction, replacing any earlier one and forgetting the
  // current match: restriction_kind::kAnd or kContent; any other kind
  // raises kInvalidParameter.
  virtual std::shared_ptr<HelperRestriction> CreateRestriction(int32_t kind) = 0;
  // Searches from the first row (forward) or the last (backward). True
  // when a row matched: it becomes the current match and the cursor stands
  // on it. False leaves the cursor and the current match as they were.
  // Raises kInvalidParameter when no restriction was created.
  virtual bool FindFirst(bool forward) = 0;
  // Searches from the row after the current match (before it, backward),
  // whatever GetRow did in between, so repeated calls walk every match once
  // and end with false. Without a current match (no successful find since
  // the restriction was created or cleared) it searches from the cursor's
  // row. Otherwise as FindFirst.
  virtual bool FindNext(bool forward) = 0;
  // Drops the restriction and the current match; the cursor stays.
  // Restriction objects given out before no longer affect this filter.
  virtual void Clear() = 0;
};

class ZQMAPITable;

// The contents of a helper folder: the messages of the folder it was
// attached to when the items were asked for.
class HelperItems : public AutomationObject {
 public:
  // A new helper table attached to these items (as SetItems does).
  virtual std::shared_ptr<ZQMAPITable> Table() = 0;
};

class ZQMAPIFolder : public AutomationObject {
 public:
  // Attaches to a folder of the messaging session; nothing detaches. A
  // folder of another backend raises 13 (type mismatch); a folder whose
  // logon has ended raises MAPI_E_NOT_INITIALIZED.
  virtual void SetFolder(const std::shared_ptr<Folder>& folder) = 0;
  // The tag of a named property, with a zero type part: the identifier
  // (0x8000 up) that the whole run gives the pair (property set, name or
  // number), the same one the session's field by name reads. The property
  // set is a GUID text in braces and the name a non-empty text or an
  // integer (kInvalidParameter, 13 for a name of another type).
  virtual int32_t GetIDsFromNames(const std::string& property_set, const Variant& name) = 0;
  // The folder's contents.
  virtual std::shared_ptr<HelperItems> Items() = 0;
};

// Rows are the messages of the items' folder when the table was attached,
// in the folder's order; the cursor starts on the first row.
class ZQMAPITable : public AutomationObject {
 public:
  // Attaches to items (of this backend: 13 otherwise) and puts the cursor
  // on the first row; nothing detaches. The columns are kept, the filter's
  // current match is forgotten.
  virtual void SetItems(const std::shared_ptr<HelperItems>& items) = 0;
  // Rows whose message is not deleted.
  virtual int32_t RowCount() = 0;
  // The columns of later rows, in this order; an empty list raises
  // kInvalidParameter. The cursor does not move.
  virtual void SetColumns(const std::vector<int32_t>& property_tags) = 0;
  // The row under the cursor, then the cursor moves on: an array (lower
  // bound 0) of the values in column order, each as the message holds it
  // (binary as an array of byte values) or empty when the message has no
  // property of the column's identifier and type; tag::
  // kLongTermEntryIdFromTable gives the bytes of the message identifier.
  // An empty variant once no row is left. Raises kInvalidParameter before
  // SetColumns (the cursor then stays).
  virtual Variant GetRow() = 0;
  // The table's filter; every filter object of a table shares one
  // restriction and one current match.
  virtual std::shared_ptr<HelperFilter> Filter() = 0;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_HELPER_LIBRARY_H_
