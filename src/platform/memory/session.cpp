#include "platform/memory/session.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/memory/address_book.h"
#include "platform/memory/organisation.h"
#include "platform/properties.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace platform::memory {

struct RecipientData {
  std::string name;                // as added
  std::optional<EntryRef> entry;   // set once resolved
  std::optional<int32_t> failure;  // the error of the last failed Resolve
};

namespace {

constexpr char kScratchFolderName[] = "Drafts";
constexpr char kScratchClass[] = "IPM.Note";

std::string UpperHex(std::string_view id) {
  std::string out(id);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string ClassOf(const MessageData& message) { return message.Text(prop_id::kMessageClass); }

std::vector<StoreData*> StoresOf(const LogonState& logon) {
  std::vector<StoreData*> stores{logon.mailbox};
  if (StoreData* store = logon.organisation->public_store()) stores.push_back(store);
  return stores;
}

const AddressBook& BookOf(const LogonState& logon) { return logon.organisation->address_book(); }

std::shared_ptr<platform::Folder> NewFolder(std::shared_ptr<LogonState> logon, FolderData* folder);
std::shared_ptr<platform::Message> NewMessage(std::shared_ptr<LogonState> logon,
                                              std::shared_ptr<MessageData> message);

class MemoryRecipient final : public platform::Recipient {
 public:
  MemoryRecipient(std::shared_ptr<LogonState> logon, std::shared_ptr<RecipientData> data)
      : logon_(std::move(logon)), data_(std::move(data)) {}

  std::string Name() override {
    if (Enter<"Recipient.Name">(logon_.get())) return {};
    return data_->entry ? BookOf(*logon_).Name(*data_->entry) : data_->name;
  }

  void Resolve(bool /*show_dialog*/) override {
    if (Enter<"Recipient.Resolve">(logon_.get())) return;
    try {
      data_->entry = BookOf(*logon_).Resolve(data_->name);
      data_->failure.reset();
    } catch (const PlatformError& e) {
      data_->entry.reset();
      data_->failure = e.number();
      throw;
    }
  }

  std::shared_ptr<platform::AddressEntry> AddressEntry() override {
    if (Enter<"Recipient.AddressEntry">(logon_.get())) return nullptr;
    if (!data_->entry) throw PlatformError(data_->failure.value_or(errnum::kNotFound));
    return NewAddressEntry(logon_, *data_->entry);
  }

 private:
  std::shared_ptr<LogonState> logon_;
  std::shared_ptr<RecipientData> data_;
};

class MemoryRecipients final : public platform::Recipients {
 public:
  MemoryRecipients(std::shared_ptr<LogonState> logon, std::shared_ptr<MessageData> message)
      : logon_(std::move(logon)), message_(std::move(message)) {}

  std::shared_ptr<Recipient> Add(const std::string& name) override {
    if (Enter<"Recipients.Add">(logon_.get())) return nullptr;
    auto data = std::make_shared<RecipientData>();
    data->name = name;
    message_->recipients.push_back(data);
    return std::make_shared<MemoryRecipient>(logon_, std::move(data));
  }

  int32_t Count() override {
    if (Enter<"Recipients.Count">(logon_.get())) return 0;
    return static_cast<int32_t>(message_->recipients.size());
  }

  bool Resolved() override {
    if (Enter<"Recipients.Resolved">(logon_.get())) return false;
    const auto& recipients = message_->recipients;
    return !recipients.empty() && std::all_of(recipients.begin(), recipients.end(),
                                              [](const std::shared_ptr<RecipientData>& r) {
                                                return r->entry.has_value();
                                              });
  }

 private:
  std::shared_ptr<LogonState> logon_;
  std::shared_ptr<MessageData> message_;
};

class MemoryMessage final : public platform::Message {
 public:
  MemoryMessage(std::shared_ptr<LogonState> logon, std::shared_ptr<MessageData> message)
      : logon_(std::move(logon)), message_(std::move(message)) {}
  // A scratch message: counted open for as long as this object is held.
  MemoryMessage(std::shared_ptr<LogonState> logon, std::shared_ptr<MessageData> message,
                OpenMark scratch_mark)
      : MemoryMessage(std::move(logon), std::move(message)) {
    scratch_mark_ = std::move(scratch_mark);
  }

  std::shared_ptr<platform::Recipients> Recipients() override {
    if (Enter<"Message.Recipients">(logon_.get())) return nullptr;
    CheckPresent();
    return std::make_shared<MemoryRecipients>(logon_, message_);
  }

  void Delete() override {
    if (Enter<"Message.Delete">(logon_.get())) return;
    CheckPresent();
    logon_->organisation->RemoveMessage(*message_);
  }

  std::string ID() override {
    if (Enter<"Message.ID">(logon_.get())) return {};
    CheckPresent();
    return message_->id;
  }

  std::string Subject() override {
    if (Enter<"Message.Subject">(logon_.get())) return {};
    CheckPresent();
    return message_->Text(prop_id::kSubject);
  }

  std::string Class() override {
    if (Enter<"Message.Class">(logon_.get())) return {};
    CheckPresent();
    return message_->Text(prop_id::kMessageClass);
  }

  Variant FieldByName(const std::string& name) override {
    if (Enter<"Message.FieldByName">(logon_.get())) return {};
    CheckPresent();
    // Only the public-strings set is reachable by name; a name never asked
    // for has no identifier, so no message holds it.
    const auto id = logon_->organisation->named_properties().Find(kPsPublicStrings, name);
    if (!id) throw PlatformError(errnum::kNotFound);
    const MessageProperty* field = message_->Find(PropTag(*id, prop_type::kUnspecified));
    if (field == nullptr) throw PlatformError(errnum::kNotFound);
    return field->value;
  }

 private:
  void CheckPresent() const {
    if (message_->deleted) throw PlatformError(errnum::kNotFound);
  }

  std::shared_ptr<LogonState> logon_;
  std::shared_ptr<MessageData> message_;
  OpenMark scratch_mark_;
};

class MemoryMessages final : public platform::Messages {
 public:
  MemoryMessages(std::shared_ptr<LogonState> logon, FolderData* folder)
      : logon_(std::move(logon)), folder_(folder) {}

  std::shared_ptr<Message> Add() override {
    if (Enter<"Messages.Add">(logon_.get())) return nullptr;
    // Held only by the object handed out: a run that makes thousands of
    // scratch messages does not grow the folder.
    auto message = std::make_shared<MessageData>();
    message->id = logon_->organisation->NewScratchId();
    message->Set(PropTag(prop_id::kMessageClass, prop_type::kString8), kScratchClass);
    OpenMark mark(logon_->organisation->open_counts(), &OpenCounts::scratch_messages,
                  OpenMark::kUntilReleased);
    return std::make_shared<MemoryMessage>(logon_, std::move(message), std::move(mark));
  }

  int32_t Count() override {
    if (Enter<"Messages.Count">(logon_.get())) return 0;
    int32_t count = 0;
    for (const auto& message : folder_->messages) {
      if (Passes(*message)) ++count;
    }
    return count;
  }

  std::shared_ptr<Message> Item(int32_t position) override {
    if (Enter<"Messages.Item">(logon_.get())) return nullptr;
    int32_t seen = 0;
    if (position >= 1) {
      for (const auto& message : folder_->messages) {
        if (Passes(*message) && ++seen == position) return NewMessage(logon_, message);
      }
    }
    throw PlatformError(errnum::kNotFound);
  }

  std::shared_ptr<Message> GetFirst(const std::string& message_class) override {
    if (Enter<"Messages.GetFirst">(logon_.get())) return nullptr;
    for (const auto& message : folder_->messages) {
      const bool wanted = message_class.empty()
                              ? Passes(*message)
                              : text::EqualsNoCase(ClassOf(*message), message_class);
      if (wanted) return NewMessage(logon_, message);
    }
    return nullptr;
  }

  void SetFilterClass(const std::optional<std::string>& message_class) override {
    if (Enter<"Messages.SetFilterClass">(logon_.get())) return;
    filter_ = message_class;
  }

 private:
  bool Passes(const MessageData& message) const {
    return !filter_ || text::EqualsNoCase(ClassOf(message), *filter_);
  }

  std::shared_ptr<LogonState> logon_;
  FolderData* folder_;
  std::optional<std::string> filter_;
};

class MemoryFolders final : public platform::Folders {
 public:
  MemoryFolders(std::shared_ptr<LogonState> logon, FolderData* folder)
      : logon_(std::move(logon)), folder_(folder) {}

  int32_t Count() override {
    if (Enter<"Folders.Count">(logon_.get())) return 0;
    return static_cast<int32_t>(folder_->folders.size());
  }

  std::shared_ptr<Folder> Item(int32_t position) override {
    if (Enter<"Folders.Item">(logon_.get())) return nullptr;
    if (position < 1 || static_cast<size_t>(position) > folder_->folders.size()) {
      throw PlatformError(errnum::kNotFound);
    }
    return NewFolder(logon_, folder_->folders[static_cast<size_t>(position - 1)].get());
  }

  std::shared_ptr<Folder> ItemByName(const std::string& name) override {
    if (Enter<"Folders.ItemByName">(logon_.get())) return nullptr;
    for (const auto& child : folder_->folders) {
      if (child->name == name) return NewFolder(logon_, child.get());
    }
    throw PlatformError(errnum::kNotFound);
  }

  std::shared_ptr<Folder> Add(const std::string& name) override {
    if (Enter<"Folders.Add">(logon_.get())) return nullptr;
    return NewFolder(logon_, logon_->organisation->AddFolder(*folder_, name));
  }

 private:
  std::shared_ptr<LogonState> logon_;
  FolderData* folder_;
};

class MemoryFolder final : public platform::Folder {
 public:
  MemoryFolder(std::shared_ptr<LogonState> logon, FolderData* folder)
      : logon_(std::move(logon)), folder_(folder) {}

  std::shared_ptr<platform::Messages> Messages() override {
    if (Enter<"Folder.Messages">(logon_.get())) return nullptr;
    return std::make_shared<MemoryMessages>(logon_, folder_);
  }
  std::shared_ptr<platform::Folders> Folders() override {
    if (Enter<"Folder.Folders">(logon_.get())) return nullptr;
    return std::make_shared<MemoryFolders>(logon_, folder_);
  }
  std::string ID() override {
    if (Enter<"Folder.ID">(logon_.get())) return {};
    return folder_->id;
  }
  std::string StoreID() override {
    if (Enter<"Folder.StoreID">(logon_.get())) return {};
    return folder_->store->id;
  }
  std::string Name() override {
    if (Enter<"Folder.Name">(logon_.get())) return {};
    return folder_->name;
  }

  FolderAccess Access() const { return FolderAccess{logon_, folder_}; }

 private:
  std::shared_ptr<LogonState> logon_;
  FolderData* folder_;
};

class MemoryInfoStore final : public platform::InfoStore {
 public:
  MemoryInfoStore(std::shared_ptr<LogonState> logon, StoreData* store)
      : logon_(std::move(logon)), store_(store) {}

  std::string ID() override {
    if (Enter<"InfoStore.ID">(logon_.get())) return {};
    return store_->id;
  }
  std::string Name() override {
    if (Enter<"InfoStore.Name">(logon_.get())) return {};
    return store_->name;
  }
  std::shared_ptr<Folder> RootFolder() override {
    if (Enter<"InfoStore.RootFolder">(logon_.get())) return nullptr;
    return NewFolder(logon_, store_->root.get());
  }
  Variant Field(int32_t property_tag) override {
    if (Enter<"InfoStore.Field">(logon_.get())) return {};
    if (property_tag == tag::kPublicFoldersEntryId && store_->public_top != nullptr) {
      return Variant(store_->public_top->id);
    }
    throw PlatformError(errnum::kNotFound);
  }

 private:
  std::shared_ptr<LogonState> logon_;
  StoreData* store_;
};

class MemoryInfoStores final : public platform::InfoStores {
 public:
  explicit MemoryInfoStores(std::shared_ptr<LogonState> logon)
      : logon_(std::move(logon)), stores_(StoresOf(*logon_)) {}

  int32_t Count() override {
    if (Enter<"InfoStores.Count">(logon_.get())) return 0;
    return static_cast<int32_t>(stores_.size());
  }
  std::shared_ptr<InfoStore> Item(int32_t position) override {
    if (Enter<"InfoStores.Item">(logon_.get())) return nullptr;
    if (position < 1 || static_cast<size_t>(position) > stores_.size()) {
      throw PlatformError(errnum::kNotFound);
    }
    return std::make_shared<MemoryInfoStore>(logon_, stores_[static_cast<size_t>(position - 1)]);
  }
  std::shared_ptr<InfoStore> ItemByName(const std::string& name) override {
    if (Enter<"InfoStores.ItemByName">(logon_.get())) return nullptr;
    if (name.empty()) return std::make_shared<MemoryInfoStore>(logon_, logon_->mailbox);
    for (StoreData* store : stores_) {
      if (store->name == name) return std::make_shared<MemoryInfoStore>(logon_, store);
    }
    throw PlatformError(errnum::kNotFound);
  }

 private:
  std::shared_ptr<LogonState> logon_;
  std::vector<StoreData*> stores_;
};

std::shared_ptr<platform::Folder> NewFolder(std::shared_ptr<LogonState> logon, FolderData* folder) {
  return std::make_shared<MemoryFolder>(std::move(logon), folder);
}

std::shared_ptr<platform::Message> NewMessage(std::shared_ptr<LogonState> logon,
                                              std::shared_ptr<MessageData> message) {
  return std::make_shared<MemoryMessage>(std::move(logon), std::move(message));
}

class MemorySession final : public platform::Session {
 public:
  MemorySession(OrganisationSource source, std::shared_ptr<LogonRegistry> registry)
      : source_(std::move(source)), registry_(std::move(registry)) {}
  ~MemorySession() override { EndLogon(); }
  MemorySession(const MemorySession&) = delete;
  MemorySession& operator=(const MemorySession&) = delete;

  void Logon(const std::string& profile_info) override {
    EndLogon();
    const auto split = profile_info.find('\n');
    const std::string server = profile_info.substr(0, split);
    const std::string alias =
        split == std::string::npos ? std::string() : text::Trim(profile_info.substr(split + 1));
    std::shared_ptr<Organisation> organisation;
    try {
      if (source_) organisation = source_(server);
    } catch (const ProfileError& e) {
      ReportLogonError(e.what());
      throw PlatformError(errnum::kLogonFailed);
    }
    if (!organisation) throw PlatformError(errnum::kLogonFailed);
    if (FaultHit<"Session.Logon">(&organisation->faults())) return;
    StoreData* mailbox = nullptr;
    try {
      mailbox = organisation->MailboxStore(alias);
    } catch (const PlatformError& e) {
      // A directory on a server that fails the user look-up fails the logon.
      ReportLogonError(server + ": the directory user '" + alias +
                       "' could not be looked up: " + e.description());
      throw PlatformError(errnum::kLogonFailed);
    }
    if (mailbox == nullptr) {
      ReportLogonError(server + ": no mailbox or directory user with alias '" + alias + "'");
      throw PlatformError(errnum::kLogonFailed);
    }
    auto logon = std::make_shared<LogonState>();
    logon->organisation = std::move(organisation);
    logon->mailbox = mailbox;
    logon_ = std::move(logon);
    mapi_ = std::make_shared<MemoryMapiObject>(logon_);
    if (registry_) registry_->Add(logon_);
  }

  void Logoff() override {
    if (!logon_) return;
    if (FaultHit<"Session.Logoff">(&logon_->organisation->faults())) return;
    EndLogon();
  }

  MapiHandle MAPIOBJECT() override {
    if (Enter<"Session.MAPIOBJECT">(logon_.get())) return nullptr;
    return mapi_;
  }

  std::shared_ptr<AddressEntry> GetAddressEntry(const std::string& entry_id) override {
    if (Enter<"Session.GetAddressEntry">(logon_.get())) return nullptr;
    auto ref = BookOf(*logon_).DecodeEntryId(entry_id);
    if (!ref) throw PlatformError(errnum::kNotFound);
    return NewAddressEntry(logon_, std::move(*ref));
  }

  std::shared_ptr<Folder> GetFolder(const std::string& folder_id,
                                    const std::optional<std::string>& store_id) override {
    if (Enter<"Session.GetFolder">(logon_.get())) return nullptr;
    StoreData* store = StoreFor(store_id);
    const auto it = store->folders_by_id.find(UpperHex(folder_id));
    if (it == store->folders_by_id.end()) throw PlatformError(errnum::kNotFound);
    return NewFolder(logon_, it->second);
  }

  std::shared_ptr<Message> GetMessage(const std::string& message_id,
                                      const std::optional<std::string>& store_id) override {
    if (Enter<"Session.GetMessage">(logon_.get())) return nullptr;
    StoreData* store = StoreFor(store_id);
    const auto it = store->messages_by_id.find(UpperHex(message_id));
    if (it == store->messages_by_id.end()) throw PlatformError(errnum::kNotFound);
    return NewMessage(logon_, it->second);
  }

  std::shared_ptr<platform::InfoStores> InfoStores() override {
    if (Enter<"Session.InfoStores">(logon_.get())) return nullptr;
    return std::make_shared<MemoryInfoStores>(logon_);
  }

  bool CompareIDs(const std::string& a, const std::string& b) override {
    if (Enter<"Session.CompareIDs">(logon_.get())) return false;
    return !a.empty() && UpperHex(a) == UpperHex(b);
  }

  std::shared_ptr<Folder> ScratchFolder() override {
    if (Enter<"Session.ScratchFolder">(logon_.get())) return nullptr;
    FolderData* root = logon_->mailbox->root.get();
    for (const auto& child : root->folders) {
      if (child->name == kScratchFolderName) return NewFolder(logon_, child.get());
    }
    return NewFolder(logon_, root);
  }

  std::shared_ptr<AddressEntries> GlobalAddressEntries() override {
    if (Enter<"Session.GlobalAddressEntries">(logon_.get())) return nullptr;
    return NewAddressEntries(logon_, {}, true);
  }

 private:
  void EndLogon() {
    if (logon_) logon_->active = false;
    logon_.reset();
    mapi_.reset();
  }

  StoreData* StoreFor(const std::optional<std::string>& store_id) const {
    if (!store_id) return logon_->mailbox;
    const std::string wanted = UpperHex(*store_id);
    for (StoreData* store : StoresOf(*logon_)) {
      if (UpperHex(store->id) == wanted) return store;
    }
    throw PlatformError(errnum::kNotFound);
  }

  static void ReportLogonError(const std::string& what) {
    const auto& process = CurrentRuntime().process;
    if (process)
      process->ReportError(text::ReplaceAll(text::ReplaceAll(what, "\r", ""), "\n", " "));
  }

  OrganisationSource source_;
  std::shared_ptr<LogonRegistry> registry_;
  std::shared_ptr<LogonState> logon_;
  std::shared_ptr<const MemoryMapiObject> mapi_;
};

}  // namespace

FolderAccess AccessFolder(const platform::Folder& folder) {
  const auto* memory = dynamic_cast<const MemoryFolder*>(&folder);
  if (memory == nullptr) throw PlatformError(errnum::kTypeMismatch);
  return memory->Access();
}

std::shared_ptr<platform::Session> NewSession(OrganisationSource source,
                                              std::shared_ptr<LogonRegistry> registry) {
  return std::make_shared<MemorySession>(std::move(source), std::move(registry));
}

}  // namespace platform::memory
