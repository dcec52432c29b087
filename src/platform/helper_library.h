// The product's helper library: extended address-book, folder-table and
// restriction access beyond the messaging session. Its objects are created
// by class name and attached to the logged-on session through its
// MAPIOBJECT before use; until then, or when that session is gone, their
// members raise MAPI_E_NOT_INITIALIZED.
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

class HelperAddressEntry : public AutomationObject {
 public:
  // Hexadecimal identifier; the messaging session's GetAddressEntry takes it.
  virtual std::string EntryID() = 0;
  // The entry's SMTP address, "" when it has none.
  virtual std::string SMTPAddress() = 0;
  virtual std::string Name() = 0;
  // "EX", "SMTP", ...
  virtual std::string AddressType() = 0;
};

class HelperRecipient : public AutomationObject {
 public:
  virtual std::string Address() = 0;
  virtual std::shared_ptr<platform::HelperAddressEntry> AddressEntry() = 0;
  virtual std::string EntryID() = 0;
};

class ZQMAPIUtils : public AutomationObject {
 public:
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
  virtual std::shared_ptr<RDOAddressLists> AddressLists() = 0;
};

class RDOSession : public AutomationObject {
 public:
  virtual void SetMAPIOBJECT(const MapiHandle& session) = 0;
  virtual std::shared_ptr<RDOAddressBook> AddressBook() = 0;
  // Raises MAPI_E_NOT_FOUND for an unknown identifier.
  virtual std::shared_ptr<HelperAddressEntry> GetAddressEntryFromID(
      const std::string& entry_id) = 0;
};

// Folder and table access, used by the message filter and contact readers.
class HelperRestriction : public AutomationObject {
 public:
  // Kind 3 (content) is the only child kind used.
  virtual std::shared_ptr<HelperRestriction> AddChild(int32_t kind) = 0;
  virtual void SetFuzzyLevel(int32_t level) = 0;
  virtual void SetPropertyTag(int32_t property_tag) = 0;
  virtual void SetValue(const Variant& value) = 0;
};

class HelperFilter : public AutomationObject {
 public:
  // Kind 0 is AND, 3 is content.
  virtual std::shared_ptr<HelperRestriction> CreateRestriction(int32_t kind) = 0;
  // True when a row matched; the table's cursor then stands on it.
  virtual bool FindFirst(bool forward) = 0;
  virtual bool FindNext(bool forward) = 0;
  virtual void Clear() = 0;
};

class HelperItems : public AutomationObject {};

class ZQMAPIFolder : public AutomationObject {
 public:
  virtual void SetFolder(const std::shared_ptr<Folder>& folder) = 0;
  // Tag of a named property, with a zero type part.
  virtual int32_t GetIDsFromNames(const std::string& property_set, const Variant& name) = 0;
  virtual std::shared_ptr<HelperItems> Items() = 0;
};

class ZQMAPITable : public AutomationObject {
 public:
  virtual void SetItems(const std::shared_ptr<HelperItems>& items) = 0;
  virtual int32_t RowCount() = 0;
  virtual void SetColumns(const std::vector<int32_t>& property_tags) = 0;
  // The values of the current row in column order, then moves on; an empty
  // variant after the last row.
  virtual Variant GetRow() = 0;
  virtual std::shared_ptr<HelperFilter> Filter() = 0;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_HELPER_LIBRARY_H_
