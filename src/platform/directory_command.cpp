#include "platform/directory_command.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dn.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kScheme = "GC://";

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

}  // namespace

DirectoryCommand ParseDirectoryCommand(std::string_view command_text) {
  constexpr char kShape[] = "expected <GC://base>;filter;attributes;scope";
  const std::string_view t = TrimBlanks(command_text);
  if (t.empty()) BadCommand(command_text, "the command text is empty");
  if (t.front() != '<') BadCommand(command_text, std::string(kShape) + ", it must start with '<'");
  size_t close = 1;
  while (close < t.size() && t[close] != '>') close += t[close] == '\\' ? 2 : 1;
  if (close >= t.size()) BadCommand(command_text, "missing '>' after the base");

  DirectoryCommand parsed;
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
  // Every query-based list runs a command: the pieces are looked at where
  // they stand, and only the names kept are copied.
  for (size_t start = 0; start <= attributes.size();) {
    const size_t comma = std::min(attributes.find(',', start), attributes.size());
    const std::string_view name = TrimBlanks(attributes.substr(start, comma - start));
    if (name.empty()) {
      BadCommand(command_text, "empty attribute name in '" + std::string(attributes) + "'");
    }
    for (const char c : name) {
      if (!IsAttributeNameChar(c)) {
        BadCommand(command_text, "bad attribute name '" + std::string(name) + "'");
      }
    }
    parsed.attributes.emplace_back(name);
    start = comma + 1;
  }

  if (text::EqualsNoCase(scope, "subTree")) {
    parsed.scope = SearchScope::kSubTree;
  } else if (text::EqualsNoCase(scope, "oneLevel")) {
    parsed.scope = SearchScope::kOneLevel;
  } else if (text::EqualsNoCase(scope, "base")) {
    parsed.scope = SearchScope::kBase;
  } else {
    BadCommand(command_text,
               "unknown scope '" + std::string(scope) + "' (subTree, oneLevel or base)");
  }
  return parsed;
}

bool InScope(std::string_view key, std::string_view base_key, SearchScope scope) {
  const std::optional<size_t> levels = DnLevelsBelow(key, base_key);
  if (!levels) return false;
  return scope == SearchScope::kOneLevel ? *levels == 1 : true;
}

}  // namespace platform
