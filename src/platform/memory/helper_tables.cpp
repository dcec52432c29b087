#include "platform/memory/helper_tables.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/memory/logon.h"
#include "platform/memory/organisation.h"
#include "platform/memory/session.h"
#include "platform/properties.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

// Helper objects never keep a logon alive; a logon that ended (or was never
// given) makes Enter raise MAPI_E_NOT_INITIALIZED.
using LogonRef = std::weak_ptr<LogonState>;

// The active logon of an attachment, then the fault check; `logon` keeps the
// organisation, and so the folder data, alive for the rest of the call.
template <OperationName kName>
bool EnterAttached(const LogonRef& attachment, std::shared_ptr<LogonState>* logon) {
  *logon = attachment.lock();
  return Enter<kName>(logon->get());
}

PlatformError InvalidParameter(const std::string& why) {
  return PlatformError(helper_errnum::kInvalidParameter, "MAPI_E_INVALID_PARAMETER: " + why);
}

PlatformError NoSupport(const std::string& why) {
  return PlatformError(helper_errnum::kNoSupport, "MAPI_E_NO_SUPPORT: " + why);
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", hexadecimal digits in any case.
bool IsGuidText(std::string_view text) {
  constexpr std::string_view kShape = "{00000000-0000-0000-0000-000000000000}";
  if (text.size() != kShape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char want = kShape[i];
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (want == '0' ? !hex : c != want) return false;
  }
  return true;
}

bool IsTextType(uint16_t type) {
  return type == prop_type::kString8 || type == prop_type::kUnicode;
}

// One node of a filter's restriction tree. An AND node uses only
// `children`; a content node only the comparison fields, and matches
// nothing until both `tag` and `value` are set.
struct RestrictionNode {
  explicit RestrictionNode(int32_t node_kind) : kind(node_kind) {}

  int32_t kind;
  int32_t fuzzy = fuzzy_level::kFullString;
  std::optional<uint32_t> tag;
  std::optional<std::string> value;
  std::vector<std::shared_ptr<RestrictionNode>> children;
};

bool IsRestrictionKind(int32_t kind) {
  return kind == restriction_kind::kAnd || kind == restriction_kind::kContent;
}

bool Matches(const RestrictionNode& node, const MessageData& message) {
  if (node.kind == restriction_kind::kAnd) {
    return std::all_of(node.children.begin(), node.children.end(),
                       [&](const auto& child) { return Matches(*child, message); });
  }
  if (!node.tag || !node.value) return false;
  const MessageProperty* property = message.Find(*node.tag);
  if (property == nullptr || !property->value.IsText()) return false;
  const std::string held = property->value.ToText();
  const std::string& wanted = *node.value;
  const bool ignore_case = (node.fuzzy & fuzzy_level::kIgnoreCase) != 0;
  switch (node.fuzzy & ~fuzzy_level::kIgnoreCase) {
    case fuzzy_level::kSubstring:
      return ignore_case ? text::ContainsNoCase(held, wanted) : text::Contains(held, wanted);
    case fuzzy_level::kPrefix:
      return ignore_case ? text::StartsWithNoCase(held, wanted) : text::StartsWith(held, wanted);
    default:
      return ignore_case ? text::EqualsNoCase(held, wanted) : held == wanted;
  }
}

// What a table and the filters it gave out share. The mark keeps the table
// counted while any of them is held.
struct TableState {
  explicit TableState(std::shared_ptr<OpenCounts> counts)
      : mark(std::move(counts), &OpenCounts::helper_tables, OpenMark::kUntilReleased) {}

  LogonRef logon;  // expired or empty while detached
  // The folder's messages when the table was attached; a deleted one stays
  // here (marked deleted) so that positions, the cursor among them, hold.
  std::vector<std::shared_ptr<MessageData>> rows;
  std::vector<uint32_t> columns;  // empty until SetColumns
  size_t cursor = 0;              // rows.size() once past the last row
  std::optional<size_t> match;    // the row of the last successful find
  std::shared_ptr<RestrictionNode> root;
  OpenMark mark;
};

Variant ColumnValue(const MessageData& message, uint32_t tag) {
  constexpr auto kLongTerm = static_cast<uint32_t>(tag::kLongTermEntryIdFromTable);
  if (PropId(tag) == PropId(kLongTerm) &&
      (PropType(tag) == prop_type::kUnspecified || PropType(tag) == PropType(kLongTerm))) {
    return BinaryOf(message.id);
  }
  const MessageProperty* property = message.Find(tag);
  return property != nullptr ? property->value : Variant();
}

class MemoryHelperRestriction final : public platform::HelperRestriction {
 public:
  MemoryHelperRestriction(LogonRef logon, std::shared_ptr<RestrictionNode> node)
      : logon_(std::move(logon)), node_(std::move(node)) {}

  std::shared_ptr<HelperRestriction> AddChild(int32_t kind) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRestriction.AddChild">(logon_, &logon)) return nullptr;
    if (node_->kind != restriction_kind::kAnd) {
      throw NoSupport("a content restriction takes no children");
    }
    if (!IsRestrictionKind(kind)) {
      throw InvalidParameter("restriction kind " + std::to_string(kind) +
                             ", not AND (0) or content (3)");
    }
    auto child = std::make_shared<RestrictionNode>(kind);
    node_->children.push_back(child);
    return std::make_shared<MemoryHelperRestriction>(logon_, std::move(child));
  }

  void SetFuzzyLevel(int32_t level) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRestriction.SetFuzzyLevel">(logon_, &logon)) return;
    RequireContent("a fuzzy level");
    const int32_t comparison = level & ~fuzzy_level::kIgnoreCase;
    if (comparison != fuzzy_level::kFullString && comparison != fuzzy_level::kSubstring &&
        comparison != fuzzy_level::kPrefix) {
      throw InvalidParameter("fuzzy level " + std::to_string(level));
    }
    node_->fuzzy = level;
  }

  void SetPropertyTag(int32_t property_tag) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRestriction.SetPropertyTag">(logon_, &logon)) return;
    RequireContent("a property tag");
    const auto tag = static_cast<uint32_t>(property_tag);
    if (PropType(tag) != prop_type::kUnspecified && !IsTextType(PropType(tag))) {
      throw PlatformError(helper_errnum::kTooComplex,
                          "MAPI_E_TOO_COMPLEX: content restriction on property type " +
                              std::to_string(PropType(tag)) + ", not text");
    }
    node_->tag = tag;
  }

  void SetValue(const Variant& value) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperRestriction.SetValue">(logon_, &logon)) return;
    RequireContent("a value");
    if (!value.IsText()) throw PlatformError(errnum::kTypeMismatch);
    node_->value = value.ToText();
  }

 private:
  void RequireContent(const char* what) const {
    if (node_->kind != restriction_kind::kContent) {
      throw NoSupport(std::string("an AND restriction takes no ") + what);
    }
  }

  LogonRef logon_;
  std::shared_ptr<RestrictionNode> node_;
};

class MemoryHelperFilter final : public platform::HelperFilter {
 public:
  explicit MemoryHelperFilter(std::shared_ptr<TableState> state) : state_(std::move(state)) {}

  std::shared_ptr<HelperRestriction> CreateRestriction(int32_t kind) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperFilter.CreateRestriction">(state_->logon, &logon)) return nullptr;
    if (!IsRestrictionKind(kind)) {
      throw InvalidParameter("restriction kind " + std::to_string(kind) +
                             ", not AND (0) or content (3)");
    }
    state_->root = std::make_shared<RestrictionNode>(kind);
    state_->match.reset();
    return std::make_shared<MemoryHelperRestriction>(state_->logon, state_->root);
  }

  bool FindFirst(bool forward) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperFilter.FindFirst">(state_->logon, &logon)) return false;
    RequireRestriction();
    return Find(forward ? 0 : Size() - 1, forward);
  }

  bool FindNext(bool forward) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperFilter.FindNext">(state_->logon, &logon)) return false;
    RequireRestriction();
    std::ptrdiff_t start = static_cast<std::ptrdiff_t>(state_->cursor);
    if (state_->match) start = static_cast<std::ptrdiff_t>(*state_->match) + (forward ? 1 : -1);
    return Find(start, forward);
  }

  void Clear() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperFilter.Clear">(state_->logon, &logon)) return;
    state_->root.reset();
    state_->match.reset();
  }

 private:
  std::ptrdiff_t Size() const { return static_cast<std::ptrdiff_t>(state_->rows.size()); }

  void RequireRestriction() const {
    if (!state_->root) throw InvalidParameter("the filter has no restriction");
  }

  // Searches from `start` (inclusive, clamped to the rows) in the direction;
  // a hit becomes the current match and the cursor's row.
  bool Find(std::ptrdiff_t start, bool forward) {
    const std::ptrdiff_t step = forward ? 1 : -1;
    if (!forward) start = std::min(start, Size() - 1);
    for (std::ptrdiff_t i = start; i >= 0 && i < Size(); i += step) {
      const MessageData& message = *state_->rows[static_cast<size_t>(i)];
      if (!message.deleted && Matches(*state_->root, message)) {
        state_->match = static_cast<size_t>(i);
        state_->cursor = static_cast<size_t>(i);
        return true;
      }
    }
    return false;
  }

  std::shared_ptr<TableState> state_;
};

class MemoryHelperItems;

class MemoryZQMAPITable final : public platform::ZQMAPITable {
 public:
  explicit MemoryZQMAPITable(std::shared_ptr<OpenCounts> counts)
      : state_(std::make_shared<TableState>(std::move(counts))) {}

  // Takes the folder's messages as rows; the caller has checked the logon.
  void Attach(LogonRef logon, const FolderData& folder) {
    state_->logon = std::move(logon);
    state_->rows = folder.messages;
    state_->cursor = 0;
    state_->match.reset();
  }

  void Detach() {
    state_->logon.reset();
    state_->rows.clear();
    state_->cursor = 0;
    state_->match.reset();
  }

  void SetItems(const std::shared_ptr<HelperItems>& items) override;

  int32_t RowCount() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPITable.RowCount">(state_->logon, &logon)) return 0;
    return static_cast<int32_t>(
        std::count_if(state_->rows.begin(), state_->rows.end(),
                      [](const std::shared_ptr<MessageData>& m) { return !m->deleted; }));
  }

  void SetColumns(const std::vector<int32_t>& property_tags) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPITable.SetColumns">(state_->logon, &logon)) return;
    if (property_tags.empty()) throw InvalidParameter("no columns given");
    state_->columns.assign(property_tags.begin(), property_tags.end());
  }

  Variant GetRow() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPITable.GetRow">(state_->logon, &logon)) return {};
    if (state_->columns.empty()) throw InvalidParameter("GetRow before SetColumns");
    auto& rows = state_->rows;
    size_t& cursor = state_->cursor;
    while (cursor < rows.size() && rows[cursor]->deleted) ++cursor;
    if (cursor >= rows.size()) return {};
    const MessageData& message = *rows[cursor++];
    VariantArray row;
    row.items.reserve(state_->columns.size());
    for (const uint32_t tag : state_->columns) row.items.push_back(ColumnValue(message, tag));
    return Variant(std::move(row));
  }

  std::shared_ptr<HelperFilter> Filter() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPITable.Filter">(state_->logon, &logon)) return nullptr;
    return std::make_shared<MemoryHelperFilter>(state_);
  }

 private:
  std::shared_ptr<TableState> state_;
};

class MemoryHelperItems final : public platform::HelperItems {
 public:
  MemoryHelperItems(LogonRef logon, FolderData* folder)
      : logon_(std::move(logon)), folder_(folder) {}

  std::shared_ptr<ZQMAPITable> Table() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"HelperItems.Table">(logon_, &logon)) return nullptr;
    auto table = std::make_shared<MemoryZQMAPITable>(logon->organisation->open_counts());
    table->Attach(logon_, *folder_);
    return table;
  }

  const LogonRef& logon() const { return logon_; }
  const FolderData& folder() const { return *folder_; }

 private:
  LogonRef logon_;
  FolderData* folder_;  // valid while the logon's organisation lives
};

void MemoryZQMAPITable::SetItems(const std::shared_ptr<HelperItems>& items) {
  if (!items) {
    Detach();
    return;
  }
  const auto* memory = dynamic_cast<const MemoryHelperItems*>(items.get());
  if (memory == nullptr) throw PlatformError(errnum::kTypeMismatch);
  std::shared_ptr<LogonState> logon;
  if (EnterAttached<"ZQMAPITable.SetItems">(memory->logon(), &logon)) return;
  Attach(memory->logon(), memory->folder());
}

class MemoryZQMAPIFolder final : public platform::ZQMAPIFolder {
 public:
  explicit MemoryZQMAPIFolder(std::shared_ptr<OpenCounts> counts)
      : open_mark_(std::move(counts), &OpenCounts::helper_folders, OpenMark::kUntilReleased) {}

  void SetFolder(const std::shared_ptr<Folder>& folder) override {
    if (!folder) {
      logon_.reset();
      folder_ = nullptr;
      return;
    }
    const FolderAccess access = AccessFolder(*folder);
    if (Enter<"ZQMAPIFolder.SetFolder">(access.logon.get())) return;
    logon_ = access.logon;
    folder_ = access.folder;
  }

  int32_t GetIDsFromNames(const std::string& property_set, const Variant& name) override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPIFolder.GetIDsFromNames">(logon_, &logon)) return 0;
    if (!IsGuidText(property_set)) {
      throw InvalidParameter("property set '" + property_set + "' is not a GUID in braces");
    }
    NamedProperties& named = logon->organisation->named_properties();
    std::optional<uint16_t> id;
    if (name.IsText()) {
      const std::string text = name.ToText();
      if (text.empty()) throw InvalidParameter("empty property name");
      id = named.Id(property_set, text);
    } else if (name.IsInt16()) {
      id = named.Id(property_set, static_cast<uint16_t>(static_cast<int16_t>(name.ToInt32())));
    } else if (name.IsInt32()) {
      id = named.Id(property_set, name.ToInt32());
    } else {
      throw PlatformError(errnum::kTypeMismatch);
    }
    if (!id) {
      throw PlatformError(helper_errnum::kNotEnoughResources,
                          "MAPI_E_NOT_ENOUGH_RESOURCES: every named-property identifier is taken");
    }
    return static_cast<int32_t>(PropTag(*id, prop_type::kUnspecified));
  }

  std::shared_ptr<HelperItems> Items() override {
    std::shared_ptr<LogonState> logon;
    if (EnterAttached<"ZQMAPIFolder.Items">(logon_, &logon)) return nullptr;
    return std::make_shared<MemoryHelperItems>(logon_, folder_);
  }

 private:
  LogonRef logon_;
  FolderData* folder_ = nullptr;  // valid while the logon's organisation lives
  OpenMark open_mark_;
};

}  // namespace

std::shared_ptr<platform::ZQMAPIFolder> NewZQMAPIFolder(std::shared_ptr<OpenCounts> counts) {
  return std::make_shared<MemoryZQMAPIFolder>(std::move(counts));
}

std::shared_ptr<platform::ZQMAPITable> NewZQMAPITable(std::shared_ptr<OpenCounts> counts) {
  return std::make_shared<MemoryZQMAPITable>(std::move(counts));
}

}  // namespace platform::memory
