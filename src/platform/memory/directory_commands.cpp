#include "platform/memory/directory_commands.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/directory_command.h"
#include "platform/dn.h"
#include "platform/error.h"
#include "platform/ldap_filter.h"
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

bool Reachable(const ContextPtr& context) {
  return context != nullptr && context->search != nullptr;
}

Variant FromValues(std::span<const std::string_view> values) {
  if (values.size() == 1) return Variant(std::string(values.front()));
  return Variant::TextArray(std::vector<std::string>(values.begin(), values.end()));
}

// An attribute of an entry as a field or property value ("distinguishedName"
// and "name" always have one); empty when the entry has none.
Variant EntryValue(const DirRecord& entry, std::string_view attribute) {
  const auto values = entry.Values(attribute);
  if (!values.empty()) return FromValues(values);
  return Variant();
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
  EntryObject(ContextPtr context, std::shared_ptr<const DirRecord> entry)
      : context_(std::move(context)), entry_(std::move(entry)) {}

  Variant Get(const std::string& attribute) override {
    if (FaultHit<"DirectoryObject.Get">(Faults(context_))) return Variant();
    Variant value = EntryValue(*entry_, attribute);
    if (value.IsEmpty()) throw PlatformError(errnum::kPropertyNotFound);
    return value;
  }

  std::string ADsPath() override {
    if (FaultHit<"DirectoryObject.ADsPath">(Faults(context_))) return {};
    return std::string(kScheme) + std::string(entry_->Dn());
  }

 private:
  const ContextPtr context_;  // keeps the directory behind entry_ alive
  const std::shared_ptr<const DirRecord> entry_;
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
    std::shared_ptr<const DirRecord> entry = dn.empty() ? nullptr : context->search->Find(dn);
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
                  DirectorySearch::Rows rows)
      : context_(std::move(context)),
        rows_(std::move(rows.rows)),
        keep_(std::move(rows.keep)),
        open_mark_(context_ ? context_->open_counts : nullptr, &OpenCounts::record_sets,
                   OpenMark::kUntilClosed) {
    AnticipateNext();
    // Worked out once here rather than for each of the many field reads.
    columns_.reserve(attributes.size());
    for (const std::string& attribute : attributes) {
      Column column{attribute, text::LCase(attribute), ColumnKind::kAttribute, false};
      column.ascii = text::IsAsciiText(column.lowered);
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
    return Value(ColumnOf(name));
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
    AnticipateNext();
  }

  void MoveNext() override {
    if (FaultHit<"Recordset.MoveNext">(Faults(context_))) return;
    RequireOpen();
    if (current_ >= rows_.size()) throw PlatformError(errnum::kNoCurrentRecord);
    ++current_;
    AnticipateNext();
  }

  void Close() override {
    if (FaultHit<"Recordset.Close">(Faults(context_))) return;
    RequireOpen();
    open_ = false;
    open_mark_.Release();
    rows_.clear();
    rows_.shrink_to_fit();
    keep_.reset();
  }

 private:
  void RequireOpen() const {
    if (!open_) throw PlatformError(errnum::kOperationNotAllowedClosed);
  }

  // Rows are read in order: the search may fetch ahead for the next one.
  void AnticipateNext() const {
    if (context_ && context_->search && current_ + 1 < rows_.size()) {
      context_->search->Anticipate(*rows_[current_ + 1]);
    }
  }

  // The column a field name reads, the name compared without regard to
  // case; raises 3265 when there is none. A query-based list asks every
  // row for the same few fields, so the columns found last are tried
  // first. One of them answers only when its name is ASCII and equals the
  // asked name but for letter case: then the name is ASCII too, that is
  // the look-up's own test for it, and no column before the remembered
  // one passes it (else that one would have been found and remembered).
  size_t ColumnOf(const std::string& name) {
    for (const uint32_t column : found_) {
      if (column != kNoColumn && columns_[column].ascii &&
          text::AsciiEqualsNoCase(columns_[column].lowered, name)) {
        return column;
      }
    }
    const size_t column = FindColumn(name);
    found_[next_found_] = static_cast<uint32_t>(column);
    next_found_ = (next_found_ + 1) % found_.size();
    return column;
  }

  size_t FindColumn(const std::string& name) const {
    // An ASCII name (nearly all) is matched without a lower-cased copy.
    if (text::IsAsciiText(name)) {
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (text::AsciiEqualsNoCase(columns_[i].lowered, name)) return i;
      }
    } else {
      const std::string lowered = text::LCase(name);
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].lowered == lowered) return i;
      }
    }
    throw PlatformError(errnum::kItemNotFound);
  }

  Variant Value(size_t position) const {
    if (current_ >= rows_.size()) throw PlatformError(errnum::kNoCurrentRecord);
    const DirRecord& entry = *rows_[current_];
    const Column& column = columns_[position];
    if (column.kind == ColumnKind::kADsPath)
      return Variant(std::string(kScheme) + std::string(entry.Dn()));
    const auto values = entry.Values(column.name);
    if (!values.empty()) return FromValues(values);
    return Variant(Variant::Null{});
  }

  enum class ColumnKind { kAttribute, kADsPath };
  struct Column {
    std::string name;
    std::string lowered;
    ColumnKind kind;
    bool ascii;  // of `lowered`
  };

  static constexpr uint32_t kNoColumn = UINT32_MAX;

  const ContextPtr context_;  // keeps the directory behind rows_ alive
  std::vector<Column> columns_;
  // The columns found last, replaced in turn (kNoColumn: none yet).
  std::array<uint32_t, 4> found_ = {kNoColumn, kNoColumn, kNoColumn, kNoColumn};
  size_t next_found_ = 0;
  std::vector<const DirRecord*> rows_;
  std::shared_ptr<const void> keep_;  // what rows_ point into, when the search made it
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
    DirectoryCommand parsed = ParseDirectoryCommand(command_text_);
    const std::unique_ptr<ldapfilter::Filter> filter = ldapfilter::Parse(parsed.filter);
    if (!context->global_catalog) throw PlatformError(errnum::kServerNotOperational);

    DirectorySearch::Rows rows = context->search->Search(parsed, *filter);
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
