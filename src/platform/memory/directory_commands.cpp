#include "platform/memory/directory_commands.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dn.h"
#include "platform/error.h"
#include "platform/memory/ldap_filter.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

// ADO numbers that platform/error.h does not carry yet.
constexpr int32_t kObjectOpen = 3705;
constexpr int32_t kProviderNotFound = 3706;
constexpr int32_t kConnectionUnusable = 3709;

constexpr char kObjectOpenText[] = "Operation is not allowed when the object is open.";
constexpr char kProviderNotFoundText[] =
    "Provider cannot be found. It may not be properly installed.";
constexpr char kConnectionUnusableText[] =
    "The connection cannot be used to perform this operation. It is either closed or invalid in "
    "this context.";

constexpr std::string_view kScheme = "GC://";
constexpr std::string_view kRootDse = "rootDSE";
constexpr std::string_view kProvider = "ADsDSOObject";

using ContextPtr = std::shared_ptr<const DirectoryContext>;

// The fault plan of the organisation behind a call, for FaultHit; none
// without a context.
FaultPlan* Faults(const ContextPtr& context) {
  return context != nullptr ? context->faults : nullptr;
}

bool Reachable(const ContextPtr& context) { return context != nullptr && context->data != nullptr; }

Variant FromValues(std::span<const std::string_view> values) {
  if (values.size() == 1) return Variant(std::string(values.front()));
  return Variant::TextArray(std::vector<std::string>(values.begin(), values.end()));
}

// An attribute of an entry as a field or property value ("distinguishedName"
// and "name" always have one); empty when the entry has none.
Variant EntryValue(const DirEntry& entry, std::string_view attribute) {
  const auto values = entry.Values(attribute);
  if (!values.empty()) return FromValues(values);
  return Variant();
}

// The positions of the only objects that can match the filter, in file
// order, when an equality the filter requires is on an indexed attribute
// (mail, or an SMTP proxy); std::nullopt when the directory must be
// scanned. The index gives a superset (the whole filter is still tested
// on each), so a list lookup "((mail=x))" costs one hash look-up, not a
// pass over every object.
std::optional<std::vector<uint32_t>> IndexedCandidates(const DirectoryData& data,
                                                       const ldapfilter::Filter& filter) {
  constexpr std::string_view kSmtp = "smtp:";
  for (const auto& [attribute, value] : filter.RequiredEqualities()) {
    // An empty value is not indexed (nor a proxy that is only the prefix).
    if (text::AsciiEqualsNoCase(attribute, "mail") && !value.empty()) {
      return data.MailPositions(value);
    }
    if (text::AsciiEqualsNoCase(attribute, "proxyAddresses") && value.size() > kSmtp.size() &&
        text::StartsWithNoCase(value, kSmtp)) {
      return data.SmtpProxyPositions(value.substr(kSmtp.size()));
    }
  }
  return std::nullopt;
}

enum class Scope { kBase, kOneLevel, kSubTree };

// Whether the object with DN key `key` is in a oneLevel or subTree search
// from the base with key `base_key` ("" being the top of the directory).
// Keys are normalised DNs, so the base's spelling in the command does not
// matter, and an escaped comma inside an RDN value never counts as a level.
bool InScope(std::string_view key, std::string_view base_key, Scope scope) {
  const std::optional<size_t> levels = DnLevelsBelow(key, base_key);
  if (!levels) return false;
  return scope == Scope::kOneLevel ? *levels == 1 : true;
}

struct ParsedCommand {
  std::string base_dn;  // "" for the whole directory
  std::string filter;
  std::vector<std::string> attributes;
  Scope scope = Scope::kSubTree;
};

[[noreturn]] void BadCommand(std::string_view command_text, const std::string& fault) {
  throw PlatformError(errnum::kBadCommand,
                      "Bad directory command \"" + std::string(command_text) + "\": " + fault);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// The length of the parenthesised filter at the start of `s`, or npos when
// its parentheses do not balance (the filter parser then says where).
size_t BalancedLength(std::string_view s) {
  int depth = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == '(') {
      ++depth;
    } else if (s[i] == ')' && --depth == 0) {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

bool IsAttributeNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == ';' || c == '=';
}

ParsedCommand ParseCommandText(std::string_view command_text) {
  constexpr char kShape[] = "expected <GC://base>;filter;attributes;scope";
  const std::string_view t = TrimBlanks(command_text);
  if (t.empty()) BadCommand(command_text, "the command text is empty");
  if (t.front() != '<') BadCommand(command_text, std::string(kShape) + ", it must start with '<'");
  size_t close = 1;
  while (close < t.size() && t[close] != '>') close += t[close] == '\\' ? 2 : 1;
  if (close >= t.size()) BadCommand(command_text, "missing '>' after the base");

  ParsedCommand parsed;
  const std::string_view path = TrimBlanks(t.substr(1, close - 1));
  if (path.substr(0, kScheme.size()) != kScheme) {
    BadCommand(command_text, "the base must be a GC:// path, not '" + std::string(path) + "'");
  }
  parsed.base_dn = std::string(path.substr(kScheme.size()));

  std::string_view rest = TrimBlanks(t.substr(close + 1));
  if (rest.empty() || rest.front() != ';') BadCommand(command_text, "expected ';' after the base");
  rest.remove_prefix(1);
  const size_t last = rest.rfind(';');
  if (last == std::string_view::npos) BadCommand(command_text, kShape);
  const std::string_view scope = TrimBlanks(rest.substr(last + 1));
  const std::string_view middle = rest.substr(0, last);

  const size_t offset = std::min(middle.find_first_not_of(' '), middle.size());
  const std::string_view lead = middle.substr(offset);
  size_t separator = std::string_view::npos;
  if (!lead.empty() && lead.front() == '(') {
    const size_t length = BalancedLength(lead);
    separator =
        length == std::string_view::npos ? middle.rfind(';') : middle.find(';', offset + length);
  } else {
    separator = middle.find(';');
  }
  if (separator == std::string_view::npos) BadCommand(command_text, kShape);
  parsed.filter = std::string(TrimBlanks(middle.substr(0, separator)));

  const std::string_view attributes = TrimBlanks(middle.substr(separator + 1));
  if (attributes.empty()) BadCommand(command_text, "no attributes are listed");
  for (const std::string& piece : text::Split(attributes, ",")) {
    const std::string name = text::Trim(piece);
    if (name.empty()) {
      BadCommand(command_text, "empty attribute name in '" + std::string(attributes) + "'");
    }
    for (const char c : name) {
      if (!IsAttributeNameChar(c)) BadCommand(command_text, "bad attribute name '" + name + "'");
    }
    parsed.attributes.push_back(name);
  }

  if (text::EqualsNoCase(scope, "subTree")) {
    parsed.scope = Scope::kSubTree;
  } else if (text::EqualsNoCase(scope, "oneLevel")) {
    parsed.scope = Scope::kOneLevel;
  } else if (text::EqualsNoCase(scope, "base")) {
    parsed.scope = Scope::kBase;
  } else {
    BadCommand(command_text,
               "unknown scope '" + std::string(scope) + "' (subTree, oneLevel or base)");
  }
  return parsed;
}

class RootDseObject final : public DirectoryObject {
 public:
  explicit RootDseObject(ContextPtr context) : context_(std::move(context)) {}

  Variant Get(const std::string& attribute) override {
    if (FaultHit<"DirectoryObject.Get">(Faults(context_))) return Variant();
    const bool naming_context = text::EqualsNoCase(attribute, "rootDomainNamingContext") ||
                                text::EqualsNoCase(attribute, "defaultNamingContext");
    if (!naming_context || context_->root_domain_naming_context.empty()) {
      throw PlatformError(errnum::kPropertyNotFound);
    }
    return Variant(context_->root_domain_naming_context);
  }

  std::string ADsPath() override {
    if (FaultHit<"DirectoryObject.ADsPath">(Faults(context_))) return {};
    return std::string(kScheme) + std::string(kRootDse);
  }

 private:
  const ContextPtr context_;
};

class EntryObject final : public DirectoryObject {
 public:
  EntryObject(ContextPtr context, const DirEntry* entry)
      : context_(std::move(context)), entry_(entry) {}

  Variant Get(const std::string& attribute) override {
    if (FaultHit<"DirectoryObject.Get">(Faults(context_))) return Variant();
    Variant value = EntryValue(*entry_, attribute);
    if (value.IsEmpty()) throw PlatformError(errnum::kPropertyNotFound);
    return value;
  }

  std::string ADsPath() override {
    if (FaultHit<"DirectoryObject.ADsPath">(Faults(context_))) return {};
    return std::string(kScheme) + std::string(entry_->dn);
  }

 private:
  const ContextPtr context_;  // keeps *entry_ alive
  const DirEntry* const entry_;
};

class MemoryBinder final : public DirectoryBinder {
 public:
  explicit MemoryBinder(DirectoryContextSource current) : current_(std::move(current)) {}

  std::shared_ptr<DirectoryObject> Bind(const std::string& path) override {
    ContextPtr context = current_();
    if (FaultHit<"DirectoryBinder.Bind">(Faults(context))) return nullptr;
    if (!Reachable(context) || !context->global_catalog) {
      throw PlatformError(errnum::kServerNotOperational);
    }
    if (path.substr(0, kScheme.size()) != kScheme) {
      throw PlatformError(errnum::kNoSuchObject, StandardDescription(errnum::kNoSuchObject) +
                                                     " Only GC:// paths are served here, not '" +
                                                     path + "'.");
    }
    const std::string_view dn = std::string_view(path).substr(kScheme.size());
    if (text::EqualsNoCase(dn, kRootDse)) return std::make_shared<RootDseObject>(context);
    const DirEntry* entry = dn.empty() ? nullptr : context->data->ByDN(dn);
    if (entry == nullptr) throw PlatformError(errnum::kNoSuchObject);
    return std::make_shared<EntryObject>(std::move(context), entry);
  }

 private:
  const DirectoryContextSource current_;
};

class MemoryConnection final : public Connection {
 public:
  explicit MemoryConnection(DirectoryContextSource current) : current_(std::move(current)) {}

  void SetProvider(const std::string& provider) override { provider_ = provider; }

  void Open(const std::string& /*connection_string*/, const std::string& /*user*/,
            const std::string& /*password*/, int32_t /*options*/) override {
    const ContextPtr context = current_();
    if (FaultHit<"Connection.Open">(Faults(context))) return;
    if (open_) throw PlatformError(kObjectOpen, kObjectOpenText);
    if (!text::EqualsNoCase(provider_, kProvider)) {
      throw PlatformError(kProviderNotFound, kProviderNotFoundText);
    }
    if (!Reachable(context)) throw PlatformError(errnum::kServerNotOperational);
    open_ = true;
    open_mark_ = OpenMark(context->open_counts, &OpenCounts::connections, OpenMark::kUntilClosed);
  }

  void Close() override {
    if (FaultHit<"Connection.Close">(Faults(current_()))) return;
    if (!open_) throw PlatformError(errnum::kOperationNotAllowedClosed);
    open_ = false;
    open_mark_.Release();
  }

  bool IsOpen() const { return open_; }

 private:
  const DirectoryContextSource current_;
  std::string provider_;
  bool open_ = false;
  OpenMark open_mark_;
};

class MemoryRecordset final : public Recordset {
 public:
  MemoryRecordset(ContextPtr context, const std::vector<std::string>& attributes,
                  std::vector<const DirEntry*> rows)
      : context_(std::move(context)),
        rows_(std::move(rows)),
        open_mark_(context_ ? context_->open_counts : nullptr, &OpenCounts::record_sets,
                   OpenMark::kUntilClosed) {
    // Worked out once here rather than for each of the many field reads.
    columns_.reserve(attributes.size());
    for (const std::string& attribute : attributes) {
      Column column{attribute, text::LCase(attribute), ColumnKind::kAttribute};
      if (column.lowered == "adspath") column.kind = ColumnKind::kADsPath;
      columns_.push_back(std::move(column));
    }
  }

  int32_t State() override {
    if (FaultHit<"Recordset.State">(Faults(context_))) return 0;
    return open_ ? 1 : 0;
  }

  bool AtEOF() override {
    if (FaultHit<"Recordset.AtEOF">(Faults(context_))) return false;
    RequireOpen();
    return current_ >= rows_.size();
  }

  Variant FieldAt(int32_t position) override {
    if (FaultHit<"Recordset.Field">(Faults(context_))) return Variant();
    RequireOpen();
    if (position < 0 || static_cast<size_t>(position) >= columns_.size()) {
      throw PlatformError(errnum::kItemNotFound);
    }
    return Value(static_cast<size_t>(position));
  }

  Variant Field(const std::string& name) override {
    if (FaultHit<"Recordset.Field">(Faults(context_))) return Variant();
    RequireOpen();
    const std::string lowered = text::LCase(name);
    for (size_t i = 0; i < columns_.size(); ++i) {
      if (columns_[i].lowered == lowered) return Value(i);
    }
    throw PlatformError(errnum::kItemNotFound);
  }

  int32_t RecordCount() override {
    if (FaultHit<"Recordset.RecordCount">(Faults(context_))) return 0;
    RequireOpen();
    return static_cast<int32_t>(rows_.size());
  }

  // On a record set without rows this does nothing, so a walk that starts
  // with MoveFirst and then tests EOF sees no error.
  void MoveFirst() override {
    if (FaultHit<"Recordset.MoveFirst">(Faults(context_))) return;
    RequireOpen();
    current_ = 0;
  }

  void MoveNext() override {
    if (FaultHit<"Recordset.MoveNext">(Faults(context_))) return;
    RequireOpen();
    if (current_ >= rows_.size()) throw PlatformError(errnum::kNoCurrentRecord);
    ++current_;
  }

  void Close() override {
    if (FaultHit<"Recordset.Close">(Faults(context_))) return;
    RequireOpen();
    open_ = false;
    open_mark_.Release();
    rows_.clear();
    rows_.shrink_to_fit();
  }

 private:
  void RequireOpen() const {
    if (!open_) throw PlatformError(errnum::kOperationNotAllowedClosed);
  }

  Variant Value(size_t position) const {
    if (current_ >= rows_.size()) throw PlatformError(errnum::kNoCurrentRecord);
    const DirEntry& entry = *rows_[current_];
    const Column& column = columns_[position];
    if (column.kind == ColumnKind::kADsPath)
      return Variant(std::string(kScheme) + std::string(entry.dn));
    const auto values = entry.Values(column.name);
    if (!values.empty()) return FromValues(values);
    return Variant(Variant::Null{});
  }

  enum class ColumnKind { kAttribute, kADsPath };
  struct Column {
    std::string name;
    std::string lowered;
    ColumnKind kind;
  };

  const ContextPtr context_;  // keeps the entries behind rows_ alive
  std::vector<Column> columns_;
  std::vector<const DirEntry*> rows_;
  size_t current_ = 0;
  bool open_ = true;
  OpenMark open_mark_;
};

class MemoryCommand final : public Command {
 public:
  explicit MemoryCommand(DirectoryContextSource current) : current_(std::move(current)) {}

  void SetActiveConnection(const std::shared_ptr<Connection>& connection) override {
    connection_ = connection;
  }

  void SetCommandText(const std::string& command_text) override { command_text_ = command_text; }

  std::string CommandText() override { return command_text_; }

  std::shared_ptr<Recordset> Execute(int32_t /*options*/) override {
    ContextPtr context = current_();
    if (FaultHit<"Command.Execute">(Faults(context))) return nullptr;
    const auto* connection = dynamic_cast<const MemoryConnection*>(connection_.get());
    if (connection == nullptr || !connection->IsOpen()) {
      throw PlatformError(kConnectionUnusable, kConnectionUnusableText);
    }
    if (!Reachable(context)) throw PlatformError(errnum::kServerNotOperational);
    ParsedCommand parsed = ParseCommandText(command_text_);
    const std::unique_ptr<ldapfilter::Filter> filter = ldapfilter::Parse(parsed.filter);
    if (!context->global_catalog) throw PlatformError(errnum::kServerNotOperational);

    const DirectoryData& data = *context->data;
    const DirEntry* base_entry = nullptr;
    if (!parsed.base_dn.empty()) {
      base_entry = data.ByDN(parsed.base_dn);
      if (base_entry == nullptr) throw PlatformError(errnum::kNoSuchObject);
    }
    std::vector<const DirEntry*> rows;
    if (parsed.scope == Scope::kBase) {
      if (base_entry != nullptr && filter->Matches(*base_entry)) rows.push_back(base_entry);
    } else {
      const std::string_view base =
          base_entry == nullptr ? std::string_view() : std::string_view(base_entry->dn_key);
      const auto test = [&](const DirEntry& entry) {
        if (InScope(entry.dn_key, base, parsed.scope) && filter->Matches(entry)) {
          rows.push_back(&entry);
        }
      };
      if (const auto candidates = IndexedCandidates(data, *filter)) {
        for (const uint32_t position : *candidates) test(data.Entries()[position]);
      } else {
        for (const DirEntry& entry : data.Entries()) test(entry);
      }
    }
    return std::make_shared<MemoryRecordset>(std::move(context), parsed.attributes,
                                             std::move(rows));
  }

 private:
  const DirectoryContextSource current_;
  std::shared_ptr<Connection> connection_;
  std::string command_text_;
};

}  // namespace

std::shared_ptr<DirectoryBinder> NewDirectoryBinder(DirectoryContextSource current) {
  return std::make_shared<MemoryBinder>(std::move(current));
}

std::shared_ptr<Connection> NewConnection(DirectoryContextSource current) {
  return std::make_shared<MemoryConnection>(std::move(current));
}

std::shared_ptr<Command> NewCommand(DirectoryContextSource current) {
  return std::make_shared<MemoryCommand>(std::move(current));
}

}  // namespace platform::memory
