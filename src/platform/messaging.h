// The messaging session and its objects, as the engine uses them.
//
// Every method may raise PlatformError. A session that is not logged on raises
// MAPI_E_NOT_INITIALIZED from every member but Logon and Logoff, and so do
// the objects it gave out once it is logged off. Methods that give an object
// raise rather than give nullptr unless their comment says otherwise.
#ifndef TARNWICK_PLATFORM_MESSAGING_H_
#define TARNWICK_PLATFORM_MESSAGING_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/object.h"
#include "platform/variant.h"

namespace platform {

// Property tags the engine reads.
namespace tag {
inline constexpr int32_t kEmailAddress = 0x3003001E;  // PR_EMAIL_ADDRESS
inline constexpr int32_t kSmtpAddress = 0x39FE001E;   // PR_SMTP_ADDRESS
inline constexpr int32_t kProxyAddresses = static_cast<int32_t>(0x800F101E);
inline constexpr int32_t kPublicFoldersEntryId = 0x66310102;  // PR_IPM_PUBLIC_FOLDERS_ENTRYID
}  // namespace tag

// MAPI display types.
namespace display_type {
inline constexpr int32_t kMailUser = 0;
inline constexpr int32_t kDistList = 1;
inline constexpr int32_t kForum = 2;
inline constexpr int32_t kAgent = 3;
inline constexpr int32_t kOrganization = 4;
inline constexpr int32_t kPrivateDistList = 5;
inline constexpr int32_t kRemoteMailUser = 6;
}  // namespace display_type

// The underlying MAPI session of a logged-on messaging session. Opaque: it
// is only handed from the session to helper-library objects, which then work
// on the same logon.
class MapiObject {
 public:
  virtual ~MapiObject() = default;
};
using MapiHandle = std::shared_ptr<const MapiObject>;

class AddressEntries;

class AddressEntry : public AutomationObject {
 public:
  // "EX" for a directory entry, "SMTP" for a one-off internet address.
  virtual std::string Type() = 0;
  // The ODN of an "EX" entry, the e-mail address of an "SMTP" entry.
  virtual std::string Address() = 0;
  // The display name ("" for a one-off entry that was given none).
  virtual std::string Name() = 0;
  // Hexadecimal identifier, accepted by Session::GetAddressEntry.
  virtual std::string ID() = 0;
  // One of display_type (a person, a list, a query-based list, ...).
  virtual int32_t DisplayType() = 0;
  // The members of a distribution list, in the list's order; an empty
  // collection for an entry that has none.
  virtual std::shared_ptr<AddressEntries> Members() = 0;
  // The value of the field with that property tag; raises MAPI_E_NOT_FOUND
  // when the entry has no such field.
  virtual Variant Field(int32_t property_tag) = 0;
  // Of a field that holds an array, the first element whose text starts
  // with `prefix` (compared exactly), without the prefix (an element that
  // does not convert to a text is passed over);
  // std::nullopt when no element is, or the field holds no array (or an
  // unsized one). Raises as Field does, and is the same call for a backend
  // that counts or fails calls. This one reads Field; a backend that holds
  // the values overrides it to look at them where they are, sparing the
  // array and a copy of every element (the walk reads the primary SMTP
  // proxy of every person it meets).
  virtual std::optional<std::string> FirstTextWithPrefix(int32_t property_tag,
                                                         std::string_view prefix);
};

class AddressEntries : public AutomationObject {
 public:
  // Number of entries, honouring the filter.
  virtual int32_t Count() = 0;
  // Entry at a 1-based position, honouring the filter; raises
  // MAPI_E_NOT_FOUND outside 1..Count().
  virtual std::shared_ptr<AddressEntry> Item(int32_t position) = 0;
  // The first entry whose Name equals the text without regard to case;
  // raises MAPI_E_NOT_FOUND when there is none.
  virtual std::shared_ptr<AddressEntry> ItemByName(const std::string& name) = 0;
  // Restricts the collection to entries that resolve from the address
  // ("EX:" + ODN or "SMTP:" + address); std::nullopt clears the filter.
  virtual void SetFilterAddress(const std::optional<std::string>& address) = 0;
};

class Recipient : public AutomationObject {
 public:
  // The resolved entry's name once resolved, else the text it was added with.
  virtual std::string Name() = 0;
  // Resolves the name against the address book, never with user interaction.
  // Raises MAPI_E_NOT_FOUND or MAPI_E_AMBIGUOUS_RECIP when it does not resolve.
  virtual void Resolve(bool show_dialog) = 0;
  // The resolved entry; raises the failure of the last Resolve, or
  // MAPI_E_NOT_FOUND when Resolve was never called.
  virtual std::shared_ptr<platform::AddressEntry> AddressEntry() = 0;
};

class Recipients : public AutomationObject {
 public:
  // A new, unresolved recipient for the text, added to the message.
  virtual std::shared_ptr<Recipient> Add(const std::string& name) = 0;
  // Recipients added so far.
  virtual int32_t Count() = 0;
  // True when every recipient of the collection is resolved (and there is one).
  virtual bool Resolved() = 0;
};

// A message holds its properties by property tag (platform/properties.h);
// its named fields are properties whose identifiers the session's named-
// property map gives, so a field read by name here and a column read by tag
// through a helper table see the same value. Every member of a message that
// was deleted raises MAPI_E_NOT_FOUND.
class Message : public AutomationObject {
 public:
  // The recipients of the message (empty for a new one).
  virtual std::shared_ptr<platform::Recipients> Recipients() = 0;
  // Removes the message from its folder and from look-ups by identifier.
  virtual void Delete() = 0;
  // The identifier, upper-case hexadecimal; GetMessage opens it.
  virtual std::string ID() = 0;
  // PR_SUBJECT; "" when the message has none.
  virtual std::string Subject() = 0;
  // PR_MESSAGE_CLASS ("IPM.Note", "IPM.Contact", ...).
  virtual std::string Class() = 0;
  // The value of the named field of the public-strings property set with
  // that name (compared without regard to case); raises MAPI_E_NOT_FOUND
  // when the message has none.
  virtual Variant FieldByName(const std::string& name) = 0;
};

// The messages of one folder, in the folder's order. The class filter is
// the collection's own: Count and Item see only the messages that pass it.
class Messages : public AutomationObject {
 public:
  // A new message, class "IPM.Note", that is never saved: it is not among
  // the folder's messages and no identifier opens it; it is gone with its
  // last holder.
  virtual std::shared_ptr<Message> Add() = 0;
  // Messages that pass the filter.
  virtual int32_t Count() = 0;
  // 1-based position among the messages that pass the filter; raises
  // MAPI_E_NOT_FOUND outside 1..Count().
  virtual std::shared_ptr<Message> Item(int32_t position) = 0;
  // The first message whose class is `message_class` (without regard to
  // case), whatever the filter; "" gives the first that passes the filter.
  // nullptr, without an error, when there is none.
  virtual std::shared_ptr<Message> GetFirst(const std::string& message_class) = 0;
  // Restricts the collection to one message class (without regard to
  // case); std::nullopt clears the filter.
  virtual void SetFilterClass(const std::optional<std::string>& message_class) = 0;
};

class Folder;

// The subfolders of one folder, in a stable order (new ones last).
class Folders : public AutomationObject {
 public:
  virtual int32_t Count() = 0;
  // 1-based position; raises MAPI_E_NOT_FOUND outside 1..Count().
  virtual std::shared_ptr<Folder> Item(int32_t position) = 0;
  // The first subfolder with exactly that name (letter case counts);
  // raises MAPI_E_NOT_FOUND when there is none.
  virtual std::shared_ptr<Folder> ItemByName(const std::string& name) = 0;
  // A new, empty subfolder of that name with an identifier of its own, even
  // when a subfolder of the name exists; kept for the life of the session's
  // organisation, never written back to where it was loaded from.
  virtual std::shared_ptr<Folder> Add(const std::string& name) = 0;
};

class Folder : public AutomationObject {
 public:
  // The folder's messages, unfiltered.
  virtual std::shared_ptr<platform::Messages> Messages() = 0;
  // The folder's subfolders.
  virtual std::shared_ptr<platform::Folders> Folders() = 0;
  // The identifier, upper-case hexadecimal, unique in the organisation.
  virtual std::string ID() = 0;
  // The identifier of the store that holds the folder.
  virtual std::string StoreID() = 0;
  virtual std::string Name() = 0;
};

class InfoStore : public AutomationObject {
 public:
  // The identifier, upper-case hexadecimal; GetFolder and GetMessage take
  // it to search this store.
  virtual std::string ID() = 0;
  // The display name ("Mailbox - Ana Lima", "Public Folders").
  virtual std::string Name() = 0;
  // The top of the store's folder tree, as a mail client shows it.
  virtual std::shared_ptr<Folder> RootFolder() = 0;
  // Raises MAPI_E_NOT_FOUND when the store has no such field (a mailbox store
  // has no public top-folder identifier).
  virtual Variant Field(int32_t property_tag) = 0;
};

// The session's stores: the mailbox store (the default store) first.
class InfoStores : public AutomationObject {
 public:
  virtual int32_t Count() = 0;
  // 1-based, in a stable order; raises MAPI_E_NOT_FOUND outside.
  virtual std::shared_ptr<InfoStore> Item(int32_t position) = 0;
  // "" names the default store; raises MAPI_E_NOT_FOUND for an unknown name.
  virtual std::shared_ptr<InfoStore> ItemByName(const std::string& name) = 0;
};

class Session : public AutomationObject {
 public:
  // Profile information: the server, a line feed, the mailbox alias. Raises
  // MAPI_E_LOGON_FAILED when the organisation or the mailbox is unknown; the
  // session then stays logged off.
  virtual void Logon(const std::string& profile_info) = 0;
  // Ends the logon; does nothing on a session that is not logged on.
  virtual void Logoff() = 0;
  // The underlying session, for helper-library objects.
  virtual MapiHandle MAPIOBJECT() = 0;
  // The entry with that identifier; raises MAPI_E_NOT_FOUND.
  virtual std::shared_ptr<AddressEntry> GetAddressEntry(const std::string& entry_id) = 0;
  // The folder with that identifier (compared without regard to case; the
  // folder then reports its own form) in the store with that identifier,
  // or in the default store when none is given. Raises MAPI_E_NOT_FOUND
  // for an unknown store or a folder that the store does not hold.
  virtual std::shared_ptr<Folder> GetFolder(const std::string& folder_id,
                                            const std::optional<std::string>& store_id) = 0;
  // The same for a message.
  virtual std::shared_ptr<Message> GetMessage(const std::string& message_id,
                                              const std::optional<std::string>& store_id) = 0;
  // The stores of the logon, in a stable order.
  virtual std::shared_ptr<platform::InfoStores> InfoStores() = 0;
  // True when both identifiers name the same object (equal without regard
  // to case); an empty identifier names nothing.
  virtual bool CompareIDs(const std::string& a, const std::string& b) = 0;
  // The folder where scratch messages are added, resolved and deleted; they
  // are never saved or sent.
  virtual std::shared_ptr<Folder> ScratchFolder() = 0;
  // The global address list's entries, for hosts that fill GALEntries.
  virtual std::shared_ptr<AddressEntries> GlobalAddressEntries() = 0;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_MESSAGING_H_
