#include "platform/memory/organisation.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <initializer_list>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/directory_command.h"
#include "platform/dn.h"
#include "platform/error.h"
#include "platform/ldap_filter.h"
#include "platform/memory/address_book.h"
#include "platform/memory/ldif_loader.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_directory_search.h"
#include "platform/memory/profile_json.h"
#include "platform/memory/regular_file.h"
#include "platform/properties.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

using Json = nlohmann::json;

constexpr std::array<const char*, 7> kUsualFolders = {
    "Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Contacts", "Calendar"};
constexpr char kMailboxRootName[] = "Top of Information Store";
constexpr char kPublicStoreName[] = "Public Folders";
constexpr char kPublicRootName[] = "IPM_SUBTREE";
constexpr char kPublicTopName[] = "All Public Folders";

constexpr uint64_t kFnvOffset = 14695981039346656037ULL;

// FNV-1a is a running hash, so the hash of a long seed can continue from
// the hash of its prefix: folder identifiers deep in a tree then cost the
// length of their own name, not of their whole path.
uint64_t Fnv1a(std::string_view bytes, uint64_t hash = kFnvOffset) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string HexOfHash(uint64_t hash) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string id(16, '0');
  for (int i = 15; i >= 0; --i) {
    id[static_cast<size_t>(i)] = kDigits[hash & 0xF];
    hash >>= 4;
  }
  return id;
}

std::string HashId(std::string_view seed) { return HexOfHash(Fnv1a(seed)); }

std::string Upper(std::string_view hex) {
  std::string out(hex);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// What a mailbox store is named after: the directory user (objectClass
// user) whose mailNickname is the alias, without regard to case.
struct DirectoryUserNames {
  std::string display_name;
  std::string rdn_value;
};
std::optional<DirectoryUserNames> DirectoryUser(const DirectorySearch& search,
                                                std::string_view alias) {
  DirectoryCommand command;
  command.filter =
      "(&(objectClass=user)(mailNickname=" + ldapfilter::EscapeValue(text::Trim(alias)) + "))";
  command.attributes = {"displayName"};
  const auto filter = ldapfilter::Parse(command.filter);
  const DirectorySearch::Rows found = search.Search(command, *filter);
  if (found.rows.empty()) return std::nullopt;
  const DirRecord& user = *found.rows.front();
  return DirectoryUserNames{std::string(user.First("displayName")), std::string(user.RdnValue())};
}

// ---------------------------------------------------------------------------
// Profile

}  // namespace

// Where a value sits in the profile, as a chain through the caller's stack
// frames: making one costs nothing, and the text ("mailboxes[0].folders[1]
// .name") is only written when a fault is reported, so a deep folder tree
// loads in time linear in its size.
struct KeyPath {
  const KeyPath* parent = nullptr;
  std::string_view key;  // empty for an index
  size_t index = 0;

  KeyPath Key(std::string_view name) const { return KeyPath{this, name, 0}; }
  KeyPath Index(size_t position) const { return KeyPath{this, std::string_view(), position}; }

  std::string Text() const {
    std::vector<const KeyPath*> chain;
    for (const KeyPath* at = this; at != nullptr && at->parent != nullptr; at = at->parent) {
      chain.push_back(at);
    }
    std::string text;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const KeyPath& at = **it;
      if (at.key.empty()) {
        text += "[" + std::to_string(at.index) + "]";
      } else {
        if (!text.empty()) text += ".";
        text += at.key;
      }
    }
    return text;
  }
};

// Builds an organisation from a parsed profile; friend of Organisation.
class OrganisationLoader {
 public:
  OrganisationLoader(std::string file, Organisation& organisation)
      : file_(std::move(file)), organisation_(organisation) {}

  static std::shared_ptr<Organisation> Build(const std::string& json_text,
                                             const std::string& profile_name,
                                             const std::string* ldif_text, std::string ldif_name,
                                             const std::function<bool()>& stop,
                                             const ServerDirectoryOpener& open_server);
  // Points the directory commands at the organisation's directory and
  // settings; the last step of every way of making an organisation.
  static void Finish(Organisation& organisation);

  [[noreturn]] void Fail(const KeyPath& at, const std::string& must) const {
    throw ProfileError(file_ + ": key '" + at.Text() + "' must " + must);
  }

  void CheckKeys(const Json& object, const KeyPath& at,
                 std::initializer_list<std::string_view> allowed) const {
    for (const auto& [key, value] : object.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        throw ProfileError(file_ + ": unknown key '" + at.Key(key).Text() + "'");
      }
    }
  }

  std::optional<std::string> Text(const Json& object, const KeyPath& at, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (!it->is_string()) Fail(at.Key(key), "be a text");
    return it->get<std::string>();
  }

  std::string RequiredText(const Json& object, const KeyPath& at, const char* key) const {
    auto value = Text(object, at, key);
    if (!value) Fail(at.Key(key), "be given (a text)");
    return *value;
  }

  std::optional<bool> Bool(const Json& object, const KeyPath& at, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (!it->is_boolean()) Fail(at.Key(key), "be true or false");
    return it->get<bool>();
  }

  std::optional<std::string> Hex(const Json& object, const KeyPath& at, const char* key) const {
    auto value = Text(object, at, key);
    if (value && (!IsHexText(*value) || value->size() % 2 != 0)) {
      Fail(at.Key(key), "be hexadecimal text of whole bytes (an even number of digits 0-9, A-F)");
    }
    return value;
  }

  const Json* Array(const Json& object, const KeyPath& at, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return nullptr;
    if (!it->is_array()) Fail(at.Key(key), "be an array");
    return &*it;
  }

  void RequireObject(const Json& value, const KeyPath& at) const {
    if (!value.is_object()) Fail(at, "be an object");
  }

  // The profile's "directory": an LDIF file or a server URL.
  std::string DirectoryText(const Json& profile, const KeyPath& top) const {
    const std::string directory = RequiredText(profile, top, "directory");
    if (directory.find('\0') != std::string::npos) {
      Fail(top.Key("directory"), "not hold a NUL character");
    }
    if (directory.empty()) {
      Fail(top.Key("directory"), "not be empty (name the LDIF file or the server's URL)");
    }
    return directory;
  }

  // A file the profile names, relative to the profile's folder.
  std::string RelativeToProfile(const std::string& name) const {
    const std::filesystem::path base = std::filesystem::path(file_).parent_path();
    return (base / name).string();
  }

  ServerDirectorySettings ServerSettings(const Json& profile, const KeyPath& top,
                                         const std::string& url) const {
    ServerDirectorySettings settings;
    settings.url = url;
    settings.origin = file_;
    settings.bind_dn = Text(profile, top, "bindDN");
    if (auto file = Text(profile, top, "passwordFile")) {
      if (file->empty() || file->find('\0') != std::string::npos) {
        Fail(top.Key("passwordFile"), "name a file");
      }
      settings.password_file = RelativeToProfile(*file);
    }
    settings.start_tls = Bool(profile, top, "startTLS").value_or(false);
    if (const auto it = profile.find("timeoutSeconds"); it != profile.end()) {
      if (!it->is_number_integer() || it->get<int64_t>() < 1 || it->get<int64_t>() > 86400) {
        Fail(top.Key("timeoutSeconds"), "be a whole number of seconds from 1 to 86400");
      }
      settings.timeout_seconds = static_cast<int>(it->get<int64_t>());
    }
    settings.root_domain_naming_context =
        Text(profile, top, "rootDomainNamingContext").value_or("");
    return settings;
  }

  // The keys of a server directory mean nothing beside an LDIF file; one
  // given there is a slip (or a profile half-moved to a server).
  void RefuseServerKeys(const Json& profile, const KeyPath& top) const {
    for (const char* key : {"bindDN", "passwordFile", "startTLS", "timeoutSeconds"}) {
      if (profile.contains(key)) {
        throw ProfileError(file_ + ": key '" + top.Key(key).Text() +
                           "' is only for a directory on a server (an ldap:// URL in 'directory')");
      }
    }
  }

  // Registers a profile identifier and gives its upper-case form; refuses
  // one used before, naming the place of the first use.
  std::string TakeId(const std::string& id, const KeyPath& at) {
    std::string upper = Upper(id);
    if (!organisation_.ids_.insert(upper).second) {
      const auto first = id_places_.find(upper);
      Fail(at, "be unique; '" + id + "' is already the identifier of " +
                   (first != id_places_.end() ? "'" + first->second + "'"
                                              : std::string("an object whose identifier the "
                                                            "backend made")));
    }
    id_places_.emplace(upper, at.Text());
    return upper;
  }

  void ReadSettings(const Json& profile, const KeyPath& top, const std::string& ldif_root_dn) {
    OrganisationSettings& settings = organisation_.settings_;
    settings.root_domain_naming_context =
        Text(profile, top, "rootDomainNamingContext").value_or(ldif_root_dn);
    settings.global_catalog = Bool(profile, top, "globalCatalog").value_or(true);
    settings.helper_library = Bool(profile, top, "helperLibrary").value_or(true);
  }

  void ReadMailboxes(const Json& profile, const KeyPath& top) {
    const Json* mailboxes = Array(profile, top, "mailboxes");
    if (mailboxes == nullptr) return;
    const KeyPath list = top.Key("mailboxes");
    for (size_t i = 0; i < mailboxes->size(); ++i) {
      const KeyPath at = list.Index(i);
      const Json& mailbox = (*mailboxes)[i];
      RequireObject(mailbox, at);
      CheckKeys(mailbox, at, {"alias", "store", "id", "folders"});
      const std::string alias = RequiredText(mailbox, at, "alias");
      if (text::Trim(alias).empty()) Fail(at.Key("alias"), "not be empty");
      const std::string key = text::LCase(text::Trim(alias));
      if (organisation_.mailboxes_.count(key) != 0) {
        Fail(at.Key("alias"), "be unique; '" + alias + "' is used before");
      }
      std::string name;
      if (auto store = Text(mailbox, at, "store")) {
        // The store's name is the root of its display paths; an empty one
        // would be found in every path.
        if (text::Trim(*store).empty()) Fail(at.Key("store"), "not be empty");
        name = *store;
      } else {
        std::optional<DirectoryUserNames> user;
        try {
          user = DirectoryUser(*organisation_.directory_search_, alias);
        } catch (const PlatformError& e) {
          // A directory on a server can fail the look-up (no rights, no
          // such base, gone); the logon then fails saying which.
          throw ProfileError(file_ + ": key '" + at.Key("alias").Text() +
                             "': the directory user '" + alias +
                             "' could not be looked up: " + e.description());
        }
        const std::string display = user ? user->display_name : "";
        name = "Mailbox - " + (display.empty() ? alias : display);
      }
      std::optional<std::string> id;
      if (auto given = Hex(mailbox, at, "id")) id = TakeId(*given, at.Key("id"));
      auto store = organisation_.NewStore(name, kMailboxRootName, id);
      if (const Json* folders = Array(mailbox, at, "folders")) {
        ReadFolders(*folders, at.Key("folders"), *store->root, Fnv1a(name));
      }
      organisation_.mailboxes_.emplace(key, std::move(store));
    }
  }

  void ReadPublicFolders(const Json& profile, const KeyPath& top) {
    const auto it = profile.find("publicFolders");
    if (it == profile.end()) return;
    const KeyPath at = top.Key("publicFolders");
    RequireObject(*it, at);
    CheckKeys(*it, at, {"id", "folders"});
    std::optional<std::string> id;
    if (auto given = Hex(*it, at, "id")) id = TakeId(*given, at.Key("id"));
    auto store = organisation_.NewStore(kPublicStoreName, kPublicRootName, id);
    FolderData* top_folder = organisation_.AddFolder(*store->root, kPublicTopName);
    store->public_top = top_folder;
    if (const Json* folders = Array(*it, at, "folders")) {
      ReadFolders(*folders, at.Key("folders"), *top_folder,
                  Fnv1a(std::string(kPublicStoreName) + "\\" + kPublicTopName));
    }
    organisation_.public_store_ = std::move(store);
  }

 private:
  // `seed_hash`: the running hash of the seed of the messages' identifiers
  // ("<store>\<folder>\...", without the root folder's name).
  void ReadFolders(const Json& folders, const KeyPath& list, FolderData& parent,
                   uint64_t seed_hash) {
    for (size_t i = 0; i < folders.size(); ++i) {
      const KeyPath at = list.Index(i);
      const Json& folder = folders[i];
      RequireObject(folder, at);
      CheckKeys(folder, at, {"name", "id", "folders", "messages"});
      const std::string name = RequiredText(folder, at, "name");
      if (name.empty()) Fail(at.Key("name"), "not be empty");
      if (name.find('\\') != std::string::npos) {
        Fail(at.Key("name"), "not hold '\\', the separator of folder paths");
      }
      const uint64_t folder_seed = Fnv1a(name, Fnv1a("\\", seed_hash));
      FolderData* data = nullptr;
      if (auto id = Hex(folder, at, "id")) {
        data = AddFolderWithId(parent, name, TakeId(*id, at.Key("id")));
      } else {
        data = organisation_.AddFolder(parent, name);
      }
      if (const Json* messages = Array(folder, at, "messages")) {
        ReadMessages(*messages, at.Key("messages"), *data, folder_seed);
      }
      if (const Json* children = Array(folder, at, "folders")) {
        ReadFolders(*children, at.Key("folders"), *data, folder_seed);
      }
    }
  }

  FolderData* AddFolderWithId(FolderData& parent, const std::string& name, const std::string& id) {
    auto folder = std::make_unique<FolderData>();
    folder->id = id;
    folder->name = name;
    folder->parent = &parent;
    folder->store = parent.store;
    folder->path_hash = Fnv1a(name, Fnv1a("\\", parent.path_hash));
    FolderData* raw = folder.get();
    parent.store->folders_by_id.emplace(Upper(id), raw);
    parent.folders.push_back(std::move(folder));
    return raw;
  }

  void ReadMessages(const Json& messages, const KeyPath& list, FolderData& folder,
                    uint64_t seed_hash) {
    for (size_t i = 0; i < messages.size(); ++i) {
      const KeyPath at = list.Index(i);
      const Json& message = messages[i];
      RequireObject(message, at);
      CheckKeys(message, at,
                {"id", "class", "subject", "topic", "fields", "email1", "email2", "email3",
                 "email1EntryId", "email2EntryId", "email3EntryId"});
      auto data = std::make_shared<MessageData>();
      const std::string message_class = RequiredText(message, at, "class");
      if (message_class.empty()) Fail(at.Key("class"), "not be empty");
      data->Set(PropTag(prop_id::kMessageClass, prop_type::kString8), message_class);
      data->Set(PropTag(prop_id::kSubject, prop_type::kString8),
                RequiredText(message, at, "subject"));
      if (auto topic = Text(message, at, "topic")) {
        data->Set(PropTag(prop_id::kConversationTopic, prop_type::kString8), *topic);
      }
      if (auto fields = message.find("fields"); fields != message.end()) {
        const KeyPath fields_at = at.Key("fields");
        RequireObject(*fields, fields_at);
        std::vector<std::string_view> names;
        for (const auto& [name, value] : fields->items()) {
          const KeyPath field_at = fields_at.Key(name);
          if (name.empty()) Fail(fields_at, "not hold a field with an empty name");
          for (const std::string_view seen : names) {
            if (text::EqualsNoCase(seen, name)) {
              Fail(field_at, "be given once; the message has a field '" + std::string(seen) + "'");
            }
          }
          names.push_back(name);
          auto [field_type, field_value] = FieldValue(value, field_at);
          const uint16_t id = NamedId(organisation_.named_properties_.Id(kPsPublicStrings, name));
          data->Set(PropTag(id, field_type), std::move(field_value));
        }
      }
      for (int slot = 0; slot < 3; ++slot) {
        const std::string key = "email" + std::to_string(slot + 1);
        NamedProperties& named = organisation_.named_properties_;
        if (auto value = Text(message, at, key.c_str())) {
          const uint16_t id = NamedId(named.Id(kPsetidAddress, kEmailAddressLids[slot]));
          data->Set(PropTag(id, prop_type::kString8), *value);
        }
        if (auto value = Hex(message, at, (key + "EntryId").c_str())) {
          const uint16_t id = NamedId(named.Id(kPsetidAddress, kEmailEntryIdLids[slot]));
          data->Set(PropTag(id, prop_type::kBinary), BinaryOf(*value));
        }
      }
      if (auto id = Hex(message, at, "id")) {
        data->id = TakeId(*id, at.Key("id"));
      } else {
        data->id = organisation_.MakeIdFromHash(Fnv1a("#" + std::to_string(i), seed_hash));
      }
      data->folder = &folder;
      folder.store->messages_by_id.emplace(Upper(data->id), data);
      folder.messages.push_back(std::move(data));
    }
  }

  uint16_t NamedId(std::optional<uint16_t> id) const {
    if (!id) {
      throw ProfileError(file_ + ": more distinct field names than named properties can hold");
    }
    return *id;
  }

  // The property type and value of a field of the profile.
  std::pair<uint16_t, Variant> FieldValue(const Json& value, const KeyPath& at) const {
    if (value.is_string()) return {prop_type::kString8, Variant(value.get<std::string>())};
    if (value.is_boolean()) return {prop_type::kBoolean, Variant(value.get<bool>())};
    if (value.is_null()) return {prop_type::kNull, Variant(Variant::Null{})};
    if (value.is_number_integer()) {
      const bool fits =
          value.is_number_unsigned()
              ? value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
              : value.get<int64_t>() >= std::numeric_limits<int32_t>::min() &&
                    value.get<int64_t>() <= std::numeric_limits<int32_t>::max();
      if (fits) return {prop_type::kLong, Variant(static_cast<int32_t>(value.get<int64_t>()))};
    }
    if (value.is_array() &&
        std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_string(); })) {
      return {prop_type::kMultiString8, Variant::TextArray(value.get<std::vector<std::string>>())};
    }
    Fail(at, "be a text, a 32-bit integer, true, false, null or an array of texts");
  }

  std::string file_;
  Organisation& organisation_;
  // Upper-case identifier -> where the profile gave it.
  std::unordered_map<std::string, std::string> id_places_;
};

// `ldif_text` null: read the file that the profile names; else parse the
// text under the name `ldif_name`.
std::shared_ptr<Organisation> OrganisationLoader::Build(const std::string& json_text,
                                                        const std::string& profile_name,
                                                        const std::string* ldif_text,
                                                        std::string ldif_name,
                                                        const std::function<bool()>& stop,
                                                        const ServerDirectoryOpener& open_server) {
  const Json profile = ParseProfileJson(json_text, profile_name);
  auto organisation = std::make_shared<Organisation>();
  OrganisationLoader loader(profile_name, *organisation);
  if (!profile.is_object()) {
    throw ProfileError(profile_name + ": the profile must be a JSON object");
  }
  const KeyPath top;
  loader.CheckKeys(
      profile, top,
      {"directory", "rootDomainNamingContext", "globalCatalog", "helperLibrary", "mailboxes",
       "publicFolders", "bindDN", "passwordFile", "startTLS", "timeoutSeconds"});
  std::optional<ServerDirectorySettings> server;
  if (ldif_text == nullptr) {
    const std::string directory = loader.DirectoryText(profile, top);
    if (IsServerUrl(directory)) {
      server = loader.ServerSettings(profile, top, directory);
    } else {
      ldif_name = loader.RelativeToProfile(directory);
    }
  }
  if (!server) loader.RefuseServerKeys(profile, top);
  // Types of the simple keys are checked before the directory is read, so
  // a slip there is reported without waiting for a large LDIF file.
  loader.ReadSettings(profile, top, "");
  std::string root_dn;
  if (server) {
    if (!open_server) {
      throw ProfileError(profile_name + ": a directory on a server ('" + server->url +
                         "') cannot be reached from here");
    }
    ServerDirectory opened;
    try {
      opened = open_server(*server);
    } catch (const ServerDirectoryError& e) {
      throw ProfileError(e.what());
    }
    organisation->address_book_ = std::move(opened.address_book);
    organisation->directory_search_ = std::move(opened.search);
    root_dn = opened.root_domain_naming_context;
    loader.ReadSettings(profile, top, root_dn);
    // The server's forest root comes first; the profile's is the fall-back
    // the opener was given.
    organisation->settings_.root_domain_naming_context = root_dn;
  } else {
    if (ldif_text == nullptr) {
      LoadLdifFile(ldif_name, organisation->directory_, &root_dn, stop);
    } else {
      LoadLdifText(*ldif_text, ldif_name, organisation->directory_, &root_dn, stop);
    }
    loader.ReadSettings(profile, top, root_dn);
    organisation->address_book_ = std::make_unique<MemoryAddressBook>(organisation->directory_);
    organisation->directory_search_ =
        std::make_unique<MemoryDirectorySearch>(organisation->directory_);
  }
  loader.ReadMailboxes(profile, top);
  loader.ReadPublicFolders(profile, top);
  Finish(*organisation);
  return organisation;
}

void OrganisationLoader::Finish(Organisation& organisation) {
  organisation.directory_context_.search = organisation.directory_search_.get();
  organisation.directory_context_.root_domain_naming_context =
      organisation.settings_.root_domain_naming_context;
  organisation.directory_context_.global_catalog = organisation.settings_.global_catalog;
  organisation.directory_context_.faults = &organisation.faults_;
  organisation.directory_context_.open_counts = organisation.open_counts_;
}

std::shared_ptr<Organisation> OrganisationOverServer(ServerDirectory directory) {
  auto organisation = std::make_shared<Organisation>();
  organisation->address_book_ = std::move(directory.address_book);
  organisation->directory_search_ = std::move(directory.search);
  organisation->settings_.root_domain_naming_context = directory.root_domain_naming_context;
  OrganisationLoader::Finish(*organisation);
  return organisation;
}

Organisation::Organisation() = default;

StoreData* Organisation::MailboxStore(std::string_view alias) {
  const std::string key = text::LCase(text::Trim(alias));
  if (key.empty()) return nullptr;
  if (const auto it = mailboxes_.find(key); it != mailboxes_.end()) return it->second.get();
  const auto user = DirectoryUser(*directory_search_, key);
  if (!user) return nullptr;
  auto store =
      NewStore("Mailbox - " + (user->display_name.empty() ? user->rdn_value : user->display_name),
               kMailboxRootName);
  for (const char* name : kUsualFolders) AddFolder(*store->root, name);
  StoreData* raw = store.get();
  mailboxes_.emplace(key, std::move(store));
  return raw;
}

std::string Organisation::MakeId(const std::string& seed) { return MakeIdFromHash(Fnv1a(seed)); }

std::string Organisation::MakeIdFromHash(uint64_t seed_hash) {
  std::string id = HexOfHash(seed_hash);
  for (int salt = 1; !ids_.insert(id).second; ++salt) {
    id = HexOfHash(Fnv1a("#" + std::to_string(salt), seed_hash));
  }
  return id;
}

std::unique_ptr<StoreData> Organisation::NewStore(const std::string& name,
                                                  const std::string& root_name,
                                                  const std::optional<std::string>& id) {
  auto store = std::make_unique<StoreData>();
  store->name = name;
  store->id = id ? *id : MakeId("store:" + name);
  store->root = std::make_unique<FolderData>();
  store->root->name = root_name;
  store->root->id = MakeId(name + "\\");
  store->root->store = store.get();
  store->root->path_hash = Fnv1a(name + "\\" + root_name);
  store->folders_by_id.emplace(store->root->id, store->root.get());
  return store;
}

FolderData* Organisation::AddFolder(FolderData& parent, const std::string& name) {
  auto folder = std::make_unique<FolderData>();
  folder->path_hash = Fnv1a(name, Fnv1a("\\", parent.path_hash));
  folder->id = MakeIdFromHash(folder->path_hash);
  folder->name = name;
  folder->parent = &parent;
  folder->store = parent.store;
  FolderData* raw = folder.get();
  parent.store->folders_by_id.emplace(raw->id, raw);
  parent.folders.push_back(std::move(folder));
  return raw;
}

std::string Organisation::NewScratchId() {
  return HashId("scratch#" + std::to_string(++scratch_counter_));
}

const MessageProperty* MessageData::Find(uint32_t tag) const {
  const uint16_t id = PropId(tag);
  const uint16_t type = PropType(tag);
  const auto is_text = [](uint16_t t) {
    return t == prop_type::kString8 || t == prop_type::kUnicode;
  };
  for (const MessageProperty& property : properties) {
    if (PropId(property.tag) != id) continue;
    const uint16_t held = PropType(property.tag);
    if (type == prop_type::kUnspecified || held == type || (is_text(held) && is_text(type))) {
      return &property;
    }
    return nullptr;
  }
  return nullptr;
}

void MessageData::Set(uint32_t tag, Variant value) {
  for (MessageProperty& property : properties) {
    if (PropId(property.tag) == PropId(tag)) {
      property = MessageProperty{tag, std::move(value)};
      return;
    }
  }
  properties.push_back(MessageProperty{tag, std::move(value)});
}

std::string MessageData::Text(uint16_t id) const {
  const MessageProperty* property = Find(PropTag(id, prop_type::kUnspecified));
  return property != nullptr && property->value.IsText() ? property->value.ToText() : "";
}

void Organisation::RemoveMessage(MessageData& message) {
  message.deleted = true;
  FolderData* folder = message.folder;
  if (folder == nullptr) return;
  message.folder = nullptr;
  folder->store->messages_by_id.erase(message.id);
  std::erase_if(folder->messages,
                [&](const std::shared_ptr<MessageData>& m) { return m.get() == &message; });
}

std::shared_ptr<Organisation> LoadOrganisationFile(const std::string& profile_path,
                                                   const std::function<bool()>& stop,
                                                   const ServerDirectoryOpener& open_server) {
  return OrganisationLoader::Build(ReadRegularFile(profile_path), profile_path, nullptr, "", stop,
                                   open_server);
}

std::shared_ptr<Organisation> LoadOrganisationText(const std::string& profile_json,
                                                   const std::string& ldif,
                                                   const std::string& origin) {
  return OrganisationLoader::Build(profile_json, origin + ".json", &ldif, origin + ".ldif", {}, {});
}

std::string HexOf(std::string_view bytes) { return text::HexOfBytes(bytes); }

Variant BinaryOf(std::string_view hex) {
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
  };
  VariantArray bytes;
  bytes.items.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.items.emplace_back(static_cast<int16_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  }
  return Variant(std::move(bytes));
}

bool IsHexText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace platform::memory
