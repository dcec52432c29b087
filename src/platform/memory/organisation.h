// The organisation of the memory backend: the settings of a profile, its
// directory, the address book built on it, the mailbox and public folder
// stores with their folder trees, and the fault plan that every object of
// the organisation consults.
//
// Loading (LoadOrganisationFile / LoadOrganisationText) builds everything
// into a local object and hands it out only when the whole profile and the
// whole LDIF file were accepted; any fault raises ProfileError and leaves
// nothing behind. Error texts name the file and, where there is one, the
// line: "<file>:<line>: <what>" for JSON syntax and LDIF faults,
// "<file>: key '<path>' must be <kind>" for a profile value of the wrong
// type, where <path> is the key's path inside the profile
// ("mailboxes[0].folders[1].name").
//
// Profile rules beyond the documented format, chosen so that a typing slip
// never passes unnoticed:
//  - the top level must be an object, and every object of the profile takes
//    only its documented keys: an unknown key is refused ("unknown key");
//  - "mailboxes" may be absent (no profile mailboxes); a mailbox needs a
//    non-empty "alias" (unique without regard to case); its "store" is
//    optional (not blank) and defaults to "Mailbox - " + the displayName of the directory
//    user whose mailNickname is the alias, else "Mailbox - " + the alias;
//  - a folder needs a non-empty "name" without "\" (the separator of display
//    paths, so a folder named with it could never be reached by path); a
//    message needs a non-empty "class" and a "subject";
//  - "id" values (of mailboxes, the public folders, folders and messages)
//    and "emailNEntryId" values are hexadecimal text of whole bytes: an even
//    number of digits and A-F in any case, not empty. Identifiers are kept
//    in upper case and must be unique over the whole profile, compared
//    without regard to case; a duplicate names both places;
//  - field names are not empty;
//  - "fields" values may be texts, integers (32-bit), Booleans, null or
//    arrays of texts;
//  - a key given twice in one object is refused, and so is a "directory"
//    that is empty or holds a NUL character.
// Identifiers left out are made from the store name and the folder path
// (16 upper-case hex digits of a 64-bit FNV-1a hash), so they stay the same
// from run to run.
//
// LDIF rules: RFC 2849 through libldap's reader, after the screen of
// ldif_screen.h (no URL values, no include directives, no NUL bytes or
// CR-only line ends, valid attribute names and base64; a UTF-8 byte-order
// mark is skipped). Only "add" records (or records without changetype) are
// accepted; a record without dn, with an empty or malformed dn, a duplicate
// dn, or a legacyExchangeDN that another entry has (compared without regard
// to case; entry identifiers derive from it) is refused with the file and
// the line where the record starts, and for duplicates the line of the
// first. LoadOrganisationText names the texts "<origin>.json" and
// "<origin>.ldif" in its messages.
//
// The default rootDomainNamingContext is the DN with the fewest components
// among those made only of DC= components (the first such in file order on
// a tie), "" when there is none.
#ifndef TARNWICK_PLATFORM_MEMORY_ORGANISATION_H_
#define TARNWICK_PLATFORM_MEMORY_ORGANISATION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/address_book.h"
#include "platform/directory_search.h"
#include "platform/memory/directory_commands.h"
#include "platform/memory/directory_data.h"
#include "platform/memory/faults.h"
#include "platform/memory/named_properties.h"
#include "platform/memory/open_objects.h"
#include "platform/server_directory.h"
#include "platform/variant.h"

namespace platform::memory {

struct OrganisationSettings {
  std::string root_domain_naming_context;
  bool global_catalog = true;
  bool helper_library = true;
};

struct RecipientData;

struct FolderData;

// One property of a message: its full tag (the type part says how the value
// is to be read) and its value.
struct MessageProperty {
  uint32_t tag = 0;
  Variant value;
};

struct MessageData {
  std::string id;  // upper-case hexadecimal
  // At most one property per identifier, in the order first set: the
  // message class, subject and topic under their own identifiers, the named
  // fields under the identifiers of the organisation's NamedProperties.
  std::vector<MessageProperty> properties;
  // Recipients added to the message; never saved.
  std::vector<std::shared_ptr<RecipientData>> recipients;
  FolderData* folder = nullptr;  // nullptr for a scratch message
  bool deleted = false;

  // The property with the tag's identifier; when the tag names a type, only
  // a property of that type (the two text types count as one). nullptr
  // when there is none.
  const MessageProperty* Find(uint32_t tag) const;
  // Sets or replaces the property with the tag's identifier.
  void Set(uint32_t tag, Variant value);
  // A text property by identifier; "" when it is missing or not a text.
  std::string Text(uint16_t id) const;
};

struct StoreData;

struct FolderData {
  std::string id;
  std::string name;
  FolderData* parent = nullptr;
  StoreData* store = nullptr;
  // Running hash of "<store name>\<root name>\...\<name>", the seed of the
  // identifiers made for this folder's subfolders.
  uint64_t path_hash = 0;
  // Owned here; a folder is never removed, so pointers to folders stay
  // valid for the life of the organisation.
  std::vector<std::unique_ptr<FolderData>> folders;
  std::vector<std::shared_ptr<MessageData>> messages;
};

struct StoreData {
  std::string id;
  std::string name;
  std::unique_ptr<FolderData> root;
  // The "All Public Folders" top folder of the public store; nullptr for a
  // mailbox store.
  FolderData* public_top = nullptr;
  // Upper-cased identifier -> object of this store.
  std::unordered_map<std::string, FolderData*> folders_by_id;
  std::unordered_map<std::string, std::shared_ptr<MessageData>> messages_by_id;
};

class Organisation {
 public:
  Organisation();
  Organisation(const Organisation&) = delete;
  Organisation& operator=(const Organisation&) = delete;

  const OrganisationSettings& settings() const { return settings_; }
  // The LDIF directory; empty when the directory is on a server.
  const DirectoryData& directory() const { return directory_; }
  const AddressBook& address_book() const { return *address_book_; }
  const DirectorySearch& directory_search() const { return *directory_search_; }
  FaultPlan& faults() { return faults_; }
  // Named properties of the whole run: the profile's fields, and whatever
  // the session and the helper library ask for later.
  NamedProperties& named_properties() { return named_properties_; }
  // What the organisation's objects have open now (see open_objects.h);
  // shared with the objects that count themselves in it.
  const std::shared_ptr<OpenCounts>& open_counts() const { return open_counts_; }
  // What the directory commands work on; its data and fault plan point into
  // this organisation.
  const DirectoryContext& directory_context() const { return directory_context_; }

  // The mailbox store of an alias (compared without regard to case): a
  // profile mailbox, else the mailbox of the directory user (objectClass
  // user) with that mailNickname, made on first use with the usual empty
  // folders and kept for later logons. nullptr when the alias names neither.
  StoreData* MailboxStore(std::string_view alias);
  // The public folder store; nullptr when the profile has none.
  StoreData* public_store() { return public_store_.get(); }

  // A new folder under the parent, with a stable identifier unique in the
  // organisation. Never fails.
  FolderData* AddFolder(FolderData& parent, const std::string& name);
  // A fresh identifier for a scratch message; scratch messages are never
  // indexed, so the identifier only has to differ from the others.
  std::string NewScratchId();
  // Takes a message out of its folder and the store's index; a scratch
  // message is only marked deleted.
  void RemoveMessage(MessageData& message);

 private:
  friend class OrganisationLoader;
  friend std::shared_ptr<Organisation> OrganisationOverServer(ServerDirectory directory);

  // A stable identifier from the seed, unique among those already taken.
  std::string MakeId(const std::string& seed);
  // The same from the running hash of a seed.
  std::string MakeIdFromHash(uint64_t seed_hash);
  // A store with its root folder; its identifier is `id` (already taken)
  // when given, else a stable one made from the name.
  std::unique_ptr<StoreData> NewStore(const std::string& name, const std::string& root_name,
                                      const std::optional<std::string>& id = std::nullopt);

  OrganisationSettings settings_;
  DirectoryData directory_;
  std::unique_ptr<AddressBook> address_book_;
  std::unique_ptr<DirectorySearch> directory_search_;
  FaultPlan faults_;
  NamedProperties named_properties_;
  std::shared_ptr<OpenCounts> open_counts_ = std::make_shared<OpenCounts>();
  DirectoryContext directory_context_;
  // Profile mailboxes by lower-cased alias, and directory users' mailboxes
  // made at logon.
  std::unordered_map<std::string, std::unique_ptr<StoreData>> mailboxes_;
  std::unique_ptr<StoreData> public_store_;
  // Every identifier handed out (upper case): stores, folders, messages.
  std::unordered_set<std::string> ids_;
  uint64_t scratch_counter_ = 0;
};

// Loads a profile file and the LDIF file it names (relative to the
// profile's folder). Raises ProfileError. Only regular files are read (a
// directory, FIFO or device is refused before anything is read from it),
// and the LDIF must hold at least one entry. `stop`, when given, is asked
// between records of the LDIF; once it answers true the load ends with
// ProfileError "<file>: loading stopped by a stop request".
//
// A profile whose "directory" is a server URL (platform/server_directory.h)
// takes the keys "bindDN", "passwordFile" (relative to the profile's
// folder), "startTLS" and "timeoutSeconds" (1 to 86400), and its directory
// is opened with `open_server`; without an opener such a profile is
// refused. Those keys with an LDIF directory are refused too. The
// opener's ServerDirectoryError becomes a ProfileError with its text.
std::shared_ptr<Organisation> LoadOrganisationFile(const std::string& profile_path,
                                                   const std::function<bool()>& stop = {},
                                                   const ServerDirectoryOpener& open_server = {});

// An organisation without a profile over a directory on a server: no
// profile mailboxes (a directory user's mailbox is made at logon), no public
// folders, the global catalog and the helper library on.
std::shared_ptr<Organisation> OrganisationOverServer(ServerDirectory directory);

// The same from texts; the profile's "directory" key is ignored. Raises
// ProfileError naming "<origin>.json" or "<origin>.ldif".
std::shared_ptr<Organisation> LoadOrganisationText(const std::string& profile_json,
                                                   const std::string& ldif,
                                                   const std::string& origin);

// The bytes of hexadecimal text of whole bytes as a binary value: an array
// of byte values (16-bit integers 0 to 255), lower bound 0.
Variant BinaryOf(std::string_view hex);
// Upper-case hexadecimal of the bytes.
std::string HexOf(std::string_view bytes);
// True for a non-empty text of hexadecimal digits only.
bool IsHexText(std::string_view text);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_ORGANISATION_H_
