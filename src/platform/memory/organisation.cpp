#include "platform/memory/organisation.h"

#include <ldap.h>
#include <ldif.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/memory/memory_backend.h"
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

uint64_t Fnv1a(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ULL;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string HashId(std::string_view seed) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  uint64_t hash = Fnv1a(seed);
  std::string id(16, '0');
  for (int i = 15; i >= 0; --i) {
    id[static_cast<size_t>(i)] = kDigits[hash & 0xF];
    hash >>= 4;
  }
  return id;
}

std::string Upper(std::string_view hex) {
  std::string out(hex);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Attribute names are ASCII (RFC 4512 keystrings); comparing them without
// lower-cased copies keeps a record's attribute merge cheap.
bool AsciiEqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if ((x | y) >= 0x80) return text::EqualsNoCase(a, b);
    const int lx = (x >= 'A' && x <= 'Z') ? x - 'A' + 'a' : x;
    const int ly = (y >= 'A' && y <= 'Z') ? y - 'A' + 'a' : y;
    if (lx != ly) return false;
  }
  return true;
}

bool HasObjectClass(const DirEntry& object, std::string_view object_class) {
  const auto* classes = object.Values("objectClass");
  if (classes == nullptr) return false;
  return std::any_of(classes->begin(), classes->end(),
                     [&](const std::string& c) { return text::EqualsNoCase(c, object_class); });
}

// The directory user whose mailNickname is the alias. Logon and loading
// are the only callers, once each, so a pass over the directory is cheap.
const DirEntry* DirectoryUser(const DirectoryData& directory, std::string_view alias) {
  const std::string wanted = text::LCase(alias);
  for (const DirEntry& object : directory.Entries()) {
    const auto* nicknames = object.Values("mailNickname");
    if (nicknames == nullptr || nicknames->empty()) continue;
    if (text::LCase(nicknames->front()) == wanted && HasObjectClass(object, "user")) {
      return &object;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// LDIF

// libldap's record parser writes its diagnostics straight to stderr. They
// name the offending line, which the user needs, so they are caught here
// (glibc lets a program point stderr elsewhere for a while) and turned into
// the error text instead of cluttering the error stream.
int ParseRecordQuietly(berval* buffer, unsigned long line, LDIFRecord* record,
                       std::string* diagnostics) {
  char* captured = nullptr;
  size_t captured_size = 0;
  FILE* capture = open_memstream(&captured, &captured_size);
  FILE* const saved = stderr;
  if (capture != nullptr) stderr = capture;
  const int rc =
      ldap_parse_ldif_record(buffer, line, record, "", LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS);
  stderr = saved;
  if (capture != nullptr) {
    std::fclose(capture);
    const std::unique_ptr<char, decltype(&std::free)> owner(captured, &std::free);
    if (captured != nullptr) diagnostics->assign(captured, captured_size);
  }
  return rc;
}

// Turns libldap's diagnostic ("<prefix>: invalid format (line 7) entry:
// ...") into a line number and a text without the prefix and the line.
void ReadDiagnostic(const std::string& diagnostic, size_t* line, std::string* what) {
  std::string message;
  for (const std::string& piece : text::Split(diagnostic, "\n")) {
    std::string part = text::Trim(piece);
    if (text::StartsWith(part, ":")) part = text::Trim(part.substr(1));
    // Internal function names ("ldap_pvt_decode_b64_inplace: ...") mean
    // nothing to the user.
    if (text::StartsWith(part, "ldap_") || text::StartsWith(part, "ldif_")) {
      const auto colon = part.find(": ");
      if (colon != std::string::npos) part = part.substr(colon + 2);
    }
    if (part.empty()) continue;
    const auto at = part.find("(line ");
    if (at != std::string::npos) {
      size_t end = at + 6;
      size_t number = 0;
      bool digits = false;
      while (end < part.size() && part[end] >= '0' && part[end] <= '9') {
        number = number * 10 + static_cast<size_t>(part[end] - '0');
        ++end;
        digits = true;
      }
      if (digits) {
        *line = number;
        if (end < part.size() && part[end] == ')') {
          part.erase(at, end + 1 - at);
        } else if (part.compare(end, 2, ", ") == 0) {
          part.erase(at + 1, end + 2 - (at + 1));
        }
        part = text::ReplaceAll(text::Trim(part), "  ", " ");
        part = text::ReplaceAll(part, "invalid format entry:", "malformed line in entry");
      }
    }
    if (!message.empty()) message += "; ";
    message += part;
  }
  if (!message.empty()) *what = message;
}

const char* ChangeTypeName(ber_tag_t op) {
  switch (op) {
    case LDAP_REQ_MODIFY:
      return "modify";
    case LDAP_REQ_DELETE:
      return "delete";
    case LDAP_REQ_MODDN:
      return "modrdn";
    default:
      return "unknown";
  }
}

struct DnParts {
  std::string rdn_value;
  bool domain_only = false;  // every RDN is a single DC= component
  size_t components = 0;
};

std::optional<DnParts> SplitDn(const std::string& dn) {
  LDAPDN parsed = nullptr;
  if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS ||
      parsed == nullptr || parsed[0] == nullptr || parsed[0][0] == nullptr) {
    if (parsed != nullptr) ldap_dnfree(parsed);
    return std::nullopt;
  }
  DnParts parts;
  const LDAPAVA* first = parsed[0][0];
  parts.rdn_value.assign(first->la_value.bv_val, first->la_value.bv_len);
  parts.domain_only = true;
  for (size_t i = 0; parsed[i] != nullptr; ++i) {
    ++parts.components;
    const LDAPRDN rdn = parsed[i];
    const bool single = rdn[0] != nullptr && rdn[1] == nullptr;
    const bool dc =
        single &&
        text::EqualsNoCase(std::string_view(rdn[0]->la_attr.bv_val, rdn[0]->la_attr.bv_len), "dc");
    if (!dc) parts.domain_only = false;
  }
  ldap_dnfree(parsed);
  return parts;
}

struct LdifCloser {
  void operator()(LDIFFP* fp) const { ldif_close(fp); }
};
struct BerFree {
  void operator()(char* p) const { ber_memfree(p); }
};

// True when the record holds nothing but comments and a version line.
bool IsVersionOnly(const char* raw) {
  std::vector<char> copy(raw, raw + std::strlen(raw) + 1);
  char* next = copy.data();
  bool version = false;
  while (char* line = ldif_getline(&next)) {
    if (*line == '#' || *line == '\0') continue;
    berval type{};
    berval value{};
    int free_value = 0;
    if (ldif_parse_line2(line, &type, &value, &free_value) < 0) return false;
    const bool is_version =
        text::EqualsNoCase(std::string_view(type.bv_val, type.bv_len), "version");
    if (free_value != 0) ber_memfree(value.bv_val);
    if (!is_version || version) return false;
    version = true;
  }
  return version;
}

class LdifLoader {
 public:
  LdifLoader(std::string file, DirectoryData& directory)
      : file_(std::move(file)), directory_(directory) {}

  // Reads every record. `root_dn` receives the default root domain naming
  // context.
  void Read(LDIFFP* fp, std::string* root_dn) {
    unsigned long lineno = 0;
    char* raw = nullptr;
    int raw_size = 0;
    std::unique_ptr<char, BerFree> buffer;
    size_t best_components = std::numeric_limits<size_t>::max();
    bool first_record = true;
    while (true) {
      const unsigned long before = lineno;
      const int rc = ldif_read_record(fp, &lineno, &raw, &raw_size);
      // The reader grows its buffer with realloc, so the old pointer is
      // already gone: hand the owner the new one without freeing the old.
      (void)buffer.release();
      buffer.reset(raw);
      if (fp->prev != nullptr || rc < 0) {
        // An include pulls in a file the profile does not name; refuse it
        // rather than read files behind the user's back.
        Fail(before + 1, "include directives are not accepted");
      }
      if (std::ferror(fp->fp)) Fail(lineno, "cannot read the file");
      if (rc == 0) break;
      const size_t lines = static_cast<size_t>(std::count(raw, raw + std::strlen(raw), '\n'));
      const size_t start =
          std::feof(fp->fp) ? lineno + 1 - std::max<size_t>(lines, 1) : lineno - lines;
      // RFC 2849 lets the file open with "version: 1"; libldap reads it as
      // a record of its own when a blank line follows.
      if (first_record && IsVersionOnly(raw)) {
        first_record = false;
        continue;
      }
      first_record = false;
      DirEntry entry = ParseRecord(raw, start);
      const auto parts = SplitDn(entry.dn);
      if (!parts) Fail(start, "'" + entry.dn + "' is not a valid DN");
      entry.rdn_value = parts->rdn_value;
      entry.rdn_value_list = {entry.rdn_value};
      if (parts->domain_only && parts->components < best_components) {
        best_components = parts->components;
        *root_dn = entry.dn;
      }
      const std::string dn = entry.dn;
      if (!directory_.Add(std::move(entry))) {
        const DirEntry* first = directory_.ByDN(dn);
        Fail(start, "duplicate dn '" + dn + "'" +
                        (first != nullptr ? " (first at line " + std::to_string(first->line) + ")"
                                          : std::string()));
      }
    }
  }

  [[noreturn]] void Fail(size_t line, const std::string& what) const {
    throw ProfileError(file_ + ":" + std::to_string(line) + ": " + what);
  }

 private:
  DirEntry ParseRecord(char* raw, size_t start) const {
    LDIFRecord record;
    std::memset(&record, 0, sizeof record);
    berval bv;
    bv.bv_val = raw;
    bv.bv_len = std::strlen(raw);
    std::string diagnostic;
    if (ParseRecordQuietly(&bv, start, &record, &diagnostic) != LDAP_SUCCESS) {
      size_t line = start;
      std::string what = "malformed LDIF record";
      ReadDiagnostic(diagnostic, &line, &what);
      Fail(line, what);
    }
    struct RecordDone {
      LDIFRecord* record;
      ~RecordDone() { ldap_ldif_record_done(record); }
    } done{&record};
    if (record.lr_op == 0 || record.lr_dn.bv_val == nullptr) Fail(start, "record without dn");
    if (record.lr_op != LDAP_REQ_ADD) {
      Fail(start, std::string("changetype ") + ChangeTypeName(record.lr_op) +
                      " is not accepted; only add records are");
    }
    DirEntry entry;
    entry.dn.assign(record.lr_dn.bv_val, record.lr_dn.bv_len);
    if (text::Trim(entry.dn).empty()) Fail(start, "record with an empty dn");
    entry.dn_lower = text::LCase(entry.dn);
    entry.line = start;
    for (LDAPMod** mod = record.lrop_mods; mod != nullptr && *mod != nullptr; ++mod) {
      const std::string name((*mod)->mod_type);
      auto slot = std::find_if(entry.attributes.begin(), entry.attributes.end(),
                               [&](const auto& a) { return AsciiEqualsNoCase(a.first, name); });
      if (slot == entry.attributes.end()) {
        entry.attributes.emplace_back(name, std::vector<std::string>());
        slot = entry.attributes.end() - 1;
      }
      if (((*mod)->mod_op & LDAP_MOD_BVALUES) != 0) {
        for (berval** v = (*mod)->mod_bvalues; v != nullptr && *v != nullptr; ++v) {
          slot->second.emplace_back((*v)->bv_val, (*v)->bv_len);
        }
      } else {
        for (char** v = (*mod)->mod_values; v != nullptr && *v != nullptr; ++v) {
          slot->second.emplace_back(*v);
        }
      }
    }
    return entry;
  }

  std::string file_;
  DirectoryData& directory_;
};

void LoadLdifFile(const std::string& file, DirectoryData& directory, std::string* root_dn) {
  LdifLoader loader(file, directory);
  errno = 0;
  const std::unique_ptr<LDIFFP, LdifCloser> fp(ldif_open(file.c_str(), "r"));
  if (!fp) {
    throw ProfileError(file +
                       ": cannot open the file: " + std::strerror(errno != 0 ? errno : ENOENT));
  }
  loader.Read(fp.get(), root_dn);
}

void LoadLdifText(const std::string& ldif, const std::string& name, DirectoryData& directory,
                  std::string* root_dn) {
  if (ldif.empty()) return;  // fmemopen refuses an empty buffer
  LdifLoader loader(name, directory);
  std::vector<char> bytes(ldif.begin(), ldif.end());
  const std::unique_ptr<LDIFFP, LdifCloser> fp(ldif_open_mem(bytes.data(), bytes.size(), "r"));
  if (!fp) throw ProfileError(name + ": cannot read the text");
  loader.Read(fp.get(), root_dn);
}

// ---------------------------------------------------------------------------
// Profile

Json ParseJson(const std::string& json_text, const std::string& file) {
  try {
    return Json::parse(json_text);
  } catch (const Json::parse_error& e) {
    const size_t end = std::min<size_t>(e.byte > 0 ? e.byte - 1 : 0, json_text.size());
    const size_t line =
        1 + static_cast<size_t>(std::count(
                json_text.begin(), json_text.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    std::string what = e.what();
    const auto at = what.find("parse error");
    if (at != std::string::npos) {
      const auto colon = what.find(": ", at);
      if (colon != std::string::npos) what = what.substr(colon + 2);
    }
    throw ProfileError(file + ":" + std::to_string(line) + ": " + what);
  }
}

}  // namespace

// Builds an organisation from a parsed profile; friend of Organisation.
class OrganisationLoader {
 public:
  OrganisationLoader(std::string file, Organisation& organisation)
      : file_(std::move(file)), organisation_(organisation) {}

  static std::shared_ptr<Organisation> Build(const std::string& json_text,
                                             const std::string& profile_name,
                                             const std::string* ldif_text, std::string ldif_name);

  [[noreturn]] void Fail(const std::string& path, const std::string& must) const {
    throw ProfileError(file_ + ": key '" + path + "' must " + must);
  }

  void CheckKeys(const Json& object, const std::string& path,
                 std::initializer_list<std::string_view> allowed) const {
    for (const auto& [key, value] : object.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        throw ProfileError(file_ + ": unknown key '" + Join(path, key) + "'");
      }
    }
  }

  static std::string Join(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
  }

  std::optional<std::string> Text(const Json& object, const std::string& path,
                                  const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (!it->is_string()) Fail(Join(path, key), "be a text");
    return it->get<std::string>();
  }

  std::string RequiredText(const Json& object, const std::string& path, const char* key) const {
    auto value = Text(object, path, key);
    if (!value) Fail(Join(path, key), "be given (a text)");
    return *value;
  }

  std::optional<bool> Bool(const Json& object, const std::string& path, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (!it->is_boolean()) Fail(Join(path, key), "be true or false");
    return it->get<bool>();
  }

  std::optional<std::string> Hex(const Json& object, const std::string& path,
                                 const char* key) const {
    auto value = Text(object, path, key);
    if (value && !IsHexText(*value)) Fail(Join(path, key), "be hexadecimal text");
    return value;
  }

  const Json* Array(const Json& object, const std::string& path, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return nullptr;
    if (!it->is_array()) Fail(Join(path, key), "be an array");
    return &*it;
  }

  void RequireObject(const Json& value, const std::string& path) const {
    if (!value.is_object()) Fail(path, "be an object");
  }

  // Registers a profile identifier; refuses one used before.
  std::string TakeId(const std::string& id, const std::string& path) {
    const std::string upper = Upper(id);
    if (!organisation_.ids_.insert(upper).second) {
      Fail(path, "be unique; '" + id + "' is used before");
    }
    return id;
  }

  void ReadSettings(const Json& profile, const std::string& ldif_root_dn) {
    OrganisationSettings& settings = organisation_.settings_;
    settings.root_domain_naming_context =
        Text(profile, "", "rootDomainNamingContext").value_or(ldif_root_dn);
    settings.global_catalog = Bool(profile, "", "globalCatalog").value_or(true);
    settings.helper_library = Bool(profile, "", "helperLibrary").value_or(true);
  }

  void ReadMailboxes(const Json& profile) {
    const Json* mailboxes = Array(profile, "", "mailboxes");
    if (mailboxes == nullptr) return;
    for (size_t i = 0; i < mailboxes->size(); ++i) {
      const std::string path = "mailboxes[" + std::to_string(i) + "]";
      const Json& mailbox = (*mailboxes)[i];
      RequireObject(mailbox, path);
      CheckKeys(mailbox, path, {"alias", "store", "folders"});
      const std::string alias = RequiredText(mailbox, path, "alias");
      if (text::Trim(alias).empty()) Fail(Join(path, "alias"), "not be empty");
      const std::string key = text::LCase(text::Trim(alias));
      if (organisation_.mailboxes_.count(key) != 0) {
        Fail(Join(path, "alias"), "be unique; '" + alias + "' is used before");
      }
      std::string name;
      if (auto store = Text(mailbox, path, "store")) {
        name = *store;
      } else {
        const DirEntry* user = DirectoryUser(organisation_.directory_, alias);
        const std::string display = user != nullptr ? user->First("displayName") : "";
        name = "Mailbox - " + (display.empty() ? alias : display);
      }
      auto store = organisation_.NewStore(name, kMailboxRootName);
      if (const Json* folders = Array(mailbox, path, "folders")) {
        ReadFolders(*folders, Join(path, "folders"), *store->root, name);
      }
      organisation_.mailboxes_.emplace(key, std::move(store));
    }
  }

  void ReadPublicFolders(const Json& profile) {
    const auto it = profile.find("publicFolders");
    if (it == profile.end()) return;
    RequireObject(*it, "publicFolders");
    CheckKeys(*it, "publicFolders", {"folders"});
    auto store = organisation_.NewStore(kPublicStoreName, kPublicRootName);
    FolderData* top = organisation_.AddFolder(*store->root, kPublicTopName);
    store->public_top = top;
    if (const Json* folders = Array(*it, "publicFolders", "folders")) {
      ReadFolders(*folders, "publicFolders.folders", *top,
                  std::string(kPublicStoreName) + "\\" + kPublicTopName);
    }
    organisation_.public_store_ = std::move(store);
  }

 private:
  void ReadFolders(const Json& folders, const std::string& path, FolderData& parent,
                   const std::string& seed) {
    for (size_t i = 0; i < folders.size(); ++i) {
      const std::string here = path + "[" + std::to_string(i) + "]";
      const Json& folder = folders[i];
      RequireObject(folder, here);
      CheckKeys(folder, here, {"name", "id", "folders", "messages"});
      const std::string name = RequiredText(folder, here, "name");
      const std::string folder_seed = seed + "\\" + name;
      FolderData* data = nullptr;
      if (auto id = Hex(folder, here, "id")) {
        data = AddFolderWithId(parent, name, TakeId(*id, Join(here, "id")));
      } else {
        data = organisation_.AddFolder(parent, name);
      }
      if (const Json* messages = Array(folder, here, "messages")) {
        ReadMessages(*messages, Join(here, "messages"), *data, folder_seed);
      }
      if (const Json* children = Array(folder, here, "folders")) {
        ReadFolders(*children, Join(here, "folders"), *data, folder_seed);
      }
    }
  }

  FolderData* AddFolderWithId(FolderData& parent, const std::string& name, const std::string& id) {
    auto folder = std::make_unique<FolderData>();
    folder->id = id;
    folder->name = name;
    folder->parent = &parent;
    folder->store = parent.store;
    FolderData* raw = folder.get();
    parent.store->folders_by_id.emplace(Upper(id), raw);
    parent.folders.push_back(std::move(folder));
    return raw;
  }

  void ReadMessages(const Json& messages, const std::string& path, FolderData& folder,
                    const std::string& seed) {
    for (size_t i = 0; i < messages.size(); ++i) {
      const std::string here = path + "[" + std::to_string(i) + "]";
      const Json& message = messages[i];
      RequireObject(message, here);
      CheckKeys(message, here,
                {"id", "class", "subject", "topic", "fields", "email1", "email2", "email3",
                 "email1EntryId", "email2EntryId", "email3EntryId"});
      auto data = std::make_shared<MessageData>();
      data->message_class = RequiredText(message, here, "class");
      data->subject = RequiredText(message, here, "subject");
      data->topic = Text(message, here, "topic").value_or("");
      if (auto fields = message.find("fields"); fields != message.end()) {
        RequireObject(*fields, Join(here, "fields"));
        for (const auto& [name, value] : fields->items()) {
          AddField(*data, name, FieldValue(value, Join(Join(here, "fields"), name)),
                   Join(here, "fields"));
        }
      }
      for (const char* key : {"email1", "email2", "email3"}) {
        if (auto value = Text(message, here, key)) AddField(*data, key, Variant(*value), here);
      }
      for (const char* key : {"email1EntryId", "email2EntryId", "email3EntryId"}) {
        if (auto value = Hex(message, here, key)) AddField(*data, key, Variant(*value), here);
      }
      if (auto id = Hex(message, here, "id")) {
        data->id = TakeId(*id, Join(here, "id"));
      } else {
        data->id = organisation_.MakeId(seed + "#" + std::to_string(i));
      }
      data->folder = &folder;
      folder.store->messages_by_id.emplace(Upper(data->id), data);
      folder.messages.push_back(std::move(data));
    }
  }

  void AddField(MessageData& message, const std::string& name, Variant value,
                const std::string& path) const {
    for (const auto& field : message.fields) {
      if (text::EqualsNoCase(field.first, name)) {
        Fail(Join(path, name), "be given once; the message has a field '" + field.first + "'");
      }
    }
    message.fields.emplace_back(name, std::move(value));
  }

  Variant FieldValue(const Json& value, const std::string& path) const {
    if (value.is_string()) return Variant(value.get<std::string>());
    if (value.is_boolean()) return Variant(value.get<bool>());
    if (value.is_null()) return Variant(Variant::Null{});
    if (value.is_number_integer()) {
      const bool fits =
          value.is_number_unsigned()
              ? value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
              : value.get<int64_t>() >= std::numeric_limits<int32_t>::min() &&
                    value.get<int64_t>() <= std::numeric_limits<int32_t>::max();
      if (fits) return Variant(static_cast<int32_t>(value.get<int64_t>()));
    }
    if (value.is_array() &&
        std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_string(); })) {
      return Variant::TextArray(value.get<std::vector<std::string>>());
    }
    Fail(path, "be a text, a 32-bit integer, true, false, null or an array of texts");
  }

  std::string file_;
  Organisation& organisation_;
};

// `ldif_text` null: read the file that the profile names; else parse the
// text under the name `ldif_name`.
std::shared_ptr<Organisation> OrganisationLoader::Build(const std::string& json_text,
                                                        const std::string& profile_name,
                                                        const std::string* ldif_text,
                                                        std::string ldif_name) {
  const Json profile = ParseJson(json_text, profile_name);
  auto organisation = std::make_shared<Organisation>();
  OrganisationLoader loader(profile_name, *organisation);
  if (!profile.is_object()) {
    throw ProfileError(profile_name + ": the profile must be a JSON object");
  }
  loader.CheckKeys(profile, "",
                   {"directory", "rootDomainNamingContext", "globalCatalog", "helperLibrary",
                    "mailboxes", "publicFolders"});
  if (ldif_text == nullptr) {
    const std::string directory = loader.RequiredText(profile, "", "directory");
    const std::filesystem::path base = std::filesystem::path(profile_name).parent_path();
    ldif_name = (base / directory).string();
  }
  // Types of the simple keys are checked before the directory is read, so
  // a slip there is reported without waiting for a large LDIF file.
  loader.ReadSettings(profile, "");
  std::string root_dn;
  if (ldif_text == nullptr) {
    LoadLdifFile(ldif_name, organisation->directory_, &root_dn);
  } else {
    LoadLdifText(*ldif_text, ldif_name, organisation->directory_, &root_dn);
  }
  loader.ReadSettings(profile, root_dn);
  organisation->address_book_ = std::make_unique<AddressBook>(organisation->directory_);
  loader.ReadMailboxes(profile);
  loader.ReadPublicFolders(profile);
  organisation->directory_context_.data = &organisation->directory_;
  organisation->directory_context_.root_domain_naming_context =
      organisation->settings_.root_domain_naming_context;
  organisation->directory_context_.global_catalog = organisation->settings_.global_catalog;
  organisation->directory_context_.faults = &organisation->faults_;
  return organisation;
}

Organisation::Organisation() = default;

StoreData* Organisation::MailboxStore(std::string_view alias) {
  const std::string key = text::LCase(text::Trim(alias));
  if (key.empty()) return nullptr;
  if (const auto it = mailboxes_.find(key); it != mailboxes_.end()) return it->second.get();
  const DirEntry* user = DirectoryUser(directory_, key);
  if (user == nullptr) return nullptr;
  const std::string display = user->First("displayName");
  auto store =
      NewStore("Mailbox - " + (display.empty() ? user->RdnValue() : display), kMailboxRootName);
  for (const char* name : kUsualFolders) AddFolder(*store->root, name);
  StoreData* raw = store.get();
  mailboxes_.emplace(key, std::move(store));
  return raw;
}

std::string Organisation::MakeId(const std::string& seed) {
  std::string id = HashId(seed);
  for (int salt = 1; !ids_.insert(id).second; ++salt) {
    id = HashId(seed + "#" + std::to_string(salt));
  }
  return id;
}

std::unique_ptr<StoreData> Organisation::NewStore(const std::string& name,
                                                  const std::string& root_name) {
  auto store = std::make_unique<StoreData>();
  store->name = name;
  store->id = MakeId("store:" + name);
  store->root = std::make_unique<FolderData>();
  store->root->name = root_name;
  store->root->id = MakeId(name + "\\");
  store->root->store = store.get();
  store->folders_by_id.emplace(store->root->id, store->root.get());
  return store;
}

FolderData* Organisation::AddFolder(FolderData& parent, const std::string& name) {
  std::string seed = name;
  for (const FolderData* up = &parent; up != nullptr; up = up->parent) {
    seed = up->name + "\\" + seed;
  }
  auto folder = std::make_unique<FolderData>();
  folder->id = MakeId(parent.store->name + "\\" + seed);
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

void Organisation::RemoveMessage(MessageData& message) {
  message.deleted = true;
  FolderData* folder = message.folder;
  if (folder == nullptr) return;
  message.folder = nullptr;
  folder->store->messages_by_id.erase(Upper(message.id));
  std::erase_if(folder->messages,
                [&](const std::shared_ptr<MessageData>& m) { return m.get() == &message; });
}

std::shared_ptr<Organisation> LoadOrganisationFile(const std::string& profile_path) {
  std::ifstream in(profile_path, std::ios::binary);
  if (!in) {
    throw ProfileError(profile_path +
                       ": cannot open the file: " + std::strerror(errno != 0 ? errno : ENOENT));
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw ProfileError(profile_path + ": cannot read the file");
  return OrganisationLoader::Build(bytes.str(), profile_path, nullptr, "");
}

std::shared_ptr<Organisation> LoadOrganisationText(const std::string& profile_json,
                                                   const std::string& ldif,
                                                   const std::string& origin) {
  return OrganisationLoader::Build(profile_json, origin + ".json", &ldif, origin + ".ldif");
}

std::string HexOf(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

bool IsHexText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace platform::memory
