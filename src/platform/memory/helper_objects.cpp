#include "platform/memory/helper_objects.h"

#include <string>
#include <utility>

#include "platform/error.h"
#include "platform/memory/address_book.h"
#include "platform/memory/logon.h"

namespace platform::memory {
namespace {

constexpr char kGlobalAddressList[] = "Global Address List";

using Attachment = std::shared_ptr<const MemoryMapiObject>;

// The active logon of an attachment; raises MAPI_E_NOT_INITIALIZED (through
// Enter) when there is none. `logon` keeps the organisation alive for the
// rest of the call.
template <OperationName kName>
bool EnterAttached(const Attachment& attachment, std::shared_ptr<LogonState>* logon) {
  *logon = attachment ? attachment->Lock() : nullptr;
  return Enter<kName>(logon->get());
}

class MemoryHelperAddressEntry final : public platform::HelperAddressEntry {
 public:
  MemoryHelperAddressEntry(Attachment attachment, EntryRef ref)
      : attachment_(std::move(attachment)), ref_(std::move(ref)) {}

  std::string EntryID() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperAddressEntry.EntryID">(attachment_, &logon)) return {};
    return logon->organisation->address_book().EntryId(ref_);
  }
  std::string SMTPAddress() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperAddressEntry.SMTPAddress">(attachment_, &logon)) return {};
    return logon->organisation->address_book().SmtpAddress(ref_);
  }
  std::string Name() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperAddressEntry.Name">(attachment_, &logon)) return {};
    return logon->organisation->address_book().Name(ref_);
  }
  std::string AddressType() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperAddressEntry.AddressType">(attachment_, &logon)) return {};
    return logon->organisation->address_book().Type(ref_);
  }

 private:
  Attachment attachment_;
  EntryRef ref_;
};

class MemoryHelperRecipient final : public platform::HelperRecipient {
 public:
  MemoryHelperRecipient(Attachment attachment, EntryRef ref)
      : attachment_(std::move(attachment)), ref_(std::move(ref)) {}

  std::string Address() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRecipient.Address">(attachment_, &logon)) return {};
    return logon->organisation->address_book().Address(ref_);
  }
  std::shared_ptr<platform::HelperAddressEntry> AddressEntry() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRecipient.AddressEntry">(attachment_, &logon)) return nullptr;
    return std::make_shared<MemoryHelperAddressEntry>(attachment_, ref_);
  }
  std::string EntryID() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRecipient.EntryID">(attachment_, &logon)) return {};
    return logon->organisation->address_book().EntryId(ref_);
  }

 private:
  Attachment attachment_;
  EntryRef ref_;
};

// Takes the MAPIOBJECT given to a helper object: nothing detaches, a handle
// of another backend is refused.
template <OperationName kName>
void Attach(const MapiHandle& session, Attachment* attachment) {
  auto memory = std::dynamic_pointer_cast<const MemoryMapiObject>(session);
  if (session && !memory) throw PlatformError(errnum::kTypeMismatch);
  if (memory) {
    if (const auto logon = memory->Lock();
        logon && FaultHit<kName>(&logon->organisation->faults())) {
      return;
    }
  }
  *attachment = std::move(memory);
}

class MemoryZQMAPIUtils final : public platform::ZQMAPIUtils {
 public:
  void SetMAPIOBJECT(const MapiHandle& session) override {
    Attach<"ZQMAPIUtils.SetMAPIOBJECT">(session, &attachment_);
  }

  std::shared_ptr<HelperRecipient> CreateRecipient(const std::string& address, int32_t /*flags*/,
                                                   int32_t /*reserved*/) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPIUtils.CreateRecipient">(attachment_, &logon)) return nullptr;
    const Resolution resolution = logon->organisation->address_book().Candidates(address, 2);
    EntryRef ref;
    if (resolution.matches.size() == 1) {
      ref.index = resolution.matches.front();
    } else if (resolution.matches.empty() && resolution.one_off) {
      ref.address = *resolution.one_off;
    } else {
      return nullptr;
    }
    return std::make_shared<MemoryHelperRecipient>(attachment_, std::move(ref));
  }

 private:
  Attachment attachment_;
};

class MemoryRDOAddressList final : public platform::RDOAddressList {
 public:
  explicit MemoryRDOAddressList(Attachment attachment) : attachment_(std::move(attachment)) {}

  std::shared_ptr<HelperAddressEntry> GetEntryByODN(const std::string& odn) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"RDOAddressList.GetEntryByODN">(attachment_, &logon)) return nullptr;
    const auto index = logon->organisation->address_book().ByODN(odn);
    if (!index) throw PlatformError(errnum::kNotFound);
    EntryRef ref;
    ref.index = *index;
    return std::make_shared<MemoryHelperAddressEntry>(attachment_, std::move(ref));
  }

 private:
  Attachment attachment_;
};

class MemoryRDOAddressLists final : public platform::RDOAddressLists {
 public:
  explicit MemoryRDOAddressLists(Attachment attachment) : attachment_(std::move(attachment)) {}

  std::shared_ptr<RDOAddressList> Item(const std::string& name) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"RDOAddressLists.Item">(attachment_, &logon)) return nullptr;
    if (name != kGlobalAddressList) throw PlatformError(errnum::kNotFound);
    return std::make_shared<MemoryRDOAddressList>(attachment_);
  }

 private:
  Attachment attachment_;
};

class MemoryRDOAddressBook final : public platform::RDOAddressBook {
 public:
  explicit MemoryRDOAddressBook(Attachment attachment) : attachment_(std::move(attachment)) {}

  std::shared_ptr<RDOAddressLists> AddressLists() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"RDOAddressBook.AddressLists">(attachment_, &logon)) return nullptr;
    return std::make_shared<MemoryRDOAddressLists>(attachment_);
  }

 private:
  Attachment attachment_;
};

class MemoryRDOSession final : public platform::RDOSession {
 public:
  explicit MemoryRDOSession(std::shared_ptr<OpenCounts> counts)
      : open_mark_(std::move(counts), &OpenCounts::helper_sessions, OpenMark::kUntilReleased) {}

  void SetMAPIOBJECT(const MapiHandle& session) override {
    Attach<"RDOSession.SetMAPIOBJECT">(session, &attachment_);
  }

  std::shared_ptr<RDOAddressBook> AddressBook() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"RDOSession.AddressBook">(attachment_, &logon)) return nullptr;
    return std::make_shared<MemoryRDOAddressBook>(attachment_);
  }

  std::shared_ptr<HelperAddressEntry> GetAddressEntryFromID(const std::string& entry_id) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"RDOSession.GetAddressEntryFromID">(attachment_, &logon)) return nullptr;
    auto ref = logon->organisation->address_book().DecodeEntryId(entry_id);
    if (!ref) throw PlatformError(errnum::kNotFound);
    return std::make_shared<MemoryHelperAddressEntry>(attachment_, std::move(*ref));
  }

 private:
  Attachment attachment_;
  OpenMark open_mark_;
};

}  // namespace

std::shared_ptr<platform::ZQMAPIUtils> NewZQMAPIUtils() {
  return std::make_shared<MemoryZQMAPIUtils>();
}

std::shared_ptr<platform::RDOSession> NewRDOSession(std::shared_ptr<OpenCounts> counts) {
  return std::make_shared<MemoryRDOSession>(std::move(counts));
}

}  // namespace platform::memory
