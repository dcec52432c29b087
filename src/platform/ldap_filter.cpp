#include "platform/ldap_filter.h"

#include <ldap.h>

#include <charconv>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>

#include "platform/dn.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform::ldapfilter {
namespace {

constexpr std::string_view kBitAndRule = "1.2.840.113556.1.4.803";
constexpr std::string_view kBitOrRule = "1.2.840.113556.1.4.804";
constexpr std::string_view kObjectCategory = "objectCategory";
constexpr std::string_view kDistinguishedName = "distinguishedName";

// Attributes whose values are DNs: equality on them compares normalised
// DNs. objectCategory is one only for a value that is not a short name.
constexpr std::string_view kDnAttributes[] = {kDistinguishedName, kObjectCategory, "member",
                                              "memberOf",         "manager",       "directReports"};

// Deep enough for any filter a person or a program writes; it keeps a
// hostile "((((..." from exhausting the stack of the recursive parser.
constexpr int kMaxDepth = 200;

enum class Truth { kFalse, kTrue, kUndefined };

enum class Kind {
  kAnd,
  kOr,
  kNot,
  kEqual,
  kApprox,
  kGreaterOrEqual,
  kLessOrEqual,
  kPresent,
  kSubstrings,
  kExtensible,
};

enum class Rule { kEquality, kBitAnd, kBitOr, kUndefined };

// One assertion text: `raw` as decoded from the filter (kept for rendering),
// `lowered` for matching, so that evaluation never lower-cases the filter's
// side again.
struct Text {
  std::string raw;
  std::string lowered;
};

Text MakeText(std::string raw) {
  std::string lowered = text::LCase(raw);
  return Text{std::move(raw), std::move(lowered)};
}

struct Node {
  Kind kind = Kind::kEqual;
  std::vector<Node> children;  // and / or: the parts; not: exactly one
  std::string attribute;       // as written, options included
  Text value;                  // equality, ordering, approximate, extensible
  // Integer form of `value` when it is a decimal integer: ordering compares
  // numerically, the bitwise rules use `bits`.
  bool has_integer = false;
  int64_t integer = 0;
  bool has_bits = false;
  uint64_t bits = 0;
  // objectCategory with a value that is a class name rather than a DN.
  bool category_short_name = false;
  // Equality on an attribute of kDnAttributes: stored values are compared
  // as DNs with this key of the assertion value.
  bool dn_equality = false;
  std::string dn_key;
  // Substrings: initial and final are empty when absent; `any` holds no
  // empty pieces ("a**b" is "a*b").
  Text initial;
  std::vector<Text> any;
  Text final;
  // Extensible match.
  std::string rule;
  bool dn_attributes = false;
  Rule rule_kind = Rule::kEquality;
};

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsAttributeChar(char c) { return IsAsciiAlnum(c) || c == '-' || c == '.' || c == ';'; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAscii(char c) { return static_cast<unsigned char>(c) < 0x80; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Case-insensitive equality of a stored value with a lower-cased assertion.
// ASCII letters are folded in place; from the first non-ASCII byte on the
// rest is lower-cased properly (such a letter may fold to ASCII, so the
// remaining lengths need not agree).
bool EqualsLowered(std::string_view stored, std::string_view lowered) {
  size_t i = 0;
  for (; i < stored.size(); ++i) {
    const char c = stored[i];
    if (!IsAscii(c)) return text::LCase(stored.substr(i)) == lowered.substr(i);
    if (i >= lowered.size() || AsciiLower(c) != lowered[i]) return false;
  }
  return i == lowered.size();
}

// Lower-cases into a buffer the caller reuses across values.
void LowerInto(std::string_view s, std::string& out) {
  bool ascii = true;
  for (const char c : s) {
    if (!IsAscii(c)) {
      ascii = false;
      break;
    }
  }
  if (!ascii) {
    out = text::LCase(s);
    return;
  }
  out.resize(s.size());
  for (size_t i = 0; i < s.size(); ++i) out[i] = AsciiLower(s[i]);
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool ParseInt64(std::string_view s, int64_t& out) {
  if (s.empty()) return false;
  const char* end = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(s.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// A 64-bit decimal as its bit pattern: signed values in two's complement
// (groupType holds -2147483646), unsigned ones up to 2^64-1.
bool ParseBits(std::string_view s, uint64_t& bits) {
  int64_t signed_value = 0;
  if (ParseInt64(s, signed_value)) {
    bits = static_cast<uint64_t>(signed_value);
    return true;
  }
  if (s.empty() || s.front() == '-') return false;
  const char* end = s.data() + s.size();
  const auto [ptr, ec] = std::from_chars(s.data(), end, bits);
  return ec == std::errc() && ptr == end;
}

bool CategoryMatches(std::string_view stored, const std::string& lowered) {
  const std::string_view raw = FirstRdnRawValue(stored);
  std::string unescaped;
  std::string_view name = raw;
  if (raw.find('\\') != std::string_view::npos) {
    unescaped = UnescapeDnValue(raw);
    name = unescaped;
  }
  if (EqualsLowered(name, lowered)) return true;
  if (name.find('-') == std::string_view::npos) return false;
  // The class's display name is its common name without the hyphens.
  std::string folded;
  LowerInto(name, folded);
  std::erase(folded, '-');
  return folded == lowered;
}

bool SubstringsMatch(std::string_view value, const Node& node) {
  const std::string& initial = node.initial.lowered;
  const std::string& final = node.final.lowered;
  if (value.size() < initial.size() + final.size()) return false;
  if (value.substr(0, initial.size()) != initial) return false;
  if (value.substr(value.size() - final.size()) != final) return false;
  size_t at = initial.size();
  const size_t end = value.size() - final.size();
  for (const Text& piece : node.any) {
    const size_t found = value.find(piece.lowered, at);
    if (found == std::string_view::npos || found + piece.lowered.size() > end) return false;
    at = found + piece.lowered.size();
  }
  return true;
}

bool OrderingMatches(std::string_view stored, const Node& node, std::string& buffer) {
  const bool at_least = node.kind == Kind::kGreaterOrEqual;
  int64_t number = 0;
  if (node.has_integer && ParseInt64(stored, number)) {
    return at_least ? number >= node.integer : number <= node.integer;
  }
  LowerInto(stored, buffer);
  return at_least ? buffer >= node.value.lowered : buffer <= node.value.lowered;
}

// An extensible item's rule applied to one value, leaving DN syntax aside.
bool RuleMatches(std::string_view stored, const Node& node) {
  if (node.rule_kind == Rule::kEquality) return EqualsLowered(stored, node.value.lowered);
  uint64_t bits = 0;
  if (!ParseBits(stored, bits)) return false;
  if (node.rule_kind == Rule::kBitAnd) return (bits & node.bits) == node.bits;
  return (bits & node.bits) != 0;
}

// ":dn": the values of the RDNs of the object's DN (its distinguishedName)
// whose type is the item's attribute count as values of that attribute.
// A distinguishedName value that is not a DN offers none.
bool DnAttributesMatch(const Node& node, const AttributeSource& object) {
  for (const std::string_view dn : object.Values(kDistinguishedName)) {
    const auto rdns = ParseDn(dn);
    if (!rdns) continue;
    for (const DnRdn& rdn : *rdns) {
      for (const DnAva& ava : rdn) {
        if (!ava.binary && EqualsNoCaseAscii(ava.type, node.attribute) &&
            RuleMatches(ava.value, node)) {
          return true;
        }
      }
    }
  }
  return false;
}

bool ValueMatches(std::string_view stored, const Node& node, std::string& buffer) {
  switch (node.kind) {
    case Kind::kEqual:
    case Kind::kApprox:
      if (node.category_short_name) return CategoryMatches(stored, node.value.lowered);
      if (node.dn_equality) return DnMatchesKey(stored, node.dn_key);
      return EqualsLowered(stored, node.value.lowered);
    case Kind::kGreaterOrEqual:
    case Kind::kLessOrEqual:
      return OrderingMatches(stored, node, buffer);
    case Kind::kPresent:
      return true;
    case Kind::kSubstrings:
      LowerInto(stored, buffer);
      return SubstringsMatch(buffer, node);
    case Kind::kExtensible:
      if (node.dn_equality && node.rule_kind == Rule::kEquality) {
        return DnMatchesKey(stored, node.dn_key);
      }
      return RuleMatches(stored, node);
    default:
      return false;
  }
}

Truth EvaluateItem(const Node& node, const AttributeSource& object) {
  if (node.kind == Kind::kExtensible && node.rule_kind == Rule::kUndefined) {
    return Truth::kUndefined;
  }
  const auto values = object.Values(node.attribute);
  if (!values.empty()) {
    std::string buffer;
    for (const std::string_view value : values) {
      if (ValueMatches(value, node, buffer)) return Truth::kTrue;
    }
  }
  if (node.kind == Kind::kExtensible && node.dn_attributes && DnAttributesMatch(node, object)) {
    return Truth::kTrue;
  }
  return Truth::kFalse;
}

Truth Evaluate(const Node& node, const AttributeSource& object) {
  switch (node.kind) {
    case Kind::kAnd: {
      Truth result = Truth::kTrue;
      for (const Node& child : node.children) {
        const Truth t = Evaluate(child, object);
        if (t == Truth::kFalse) return Truth::kFalse;
        if (t == Truth::kUndefined) result = Truth::kUndefined;
      }
      return result;
    }
    case Kind::kOr: {
      Truth result = Truth::kFalse;
      for (const Node& child : node.children) {
        const Truth t = Evaluate(child, object);
        if (t == Truth::kTrue) return Truth::kTrue;
        if (t == Truth::kUndefined) result = Truth::kUndefined;
      }
      return result;
    }
    case Kind::kNot: {
      const Truth t = Evaluate(node.children.front(), object);
      if (t == Truth::kUndefined) return t;
      return t == Truth::kTrue ? Truth::kFalse : Truth::kTrue;
    }
    default:
      return EvaluateItem(node, object);
  }
}

void Render(const Node& node, std::string& out) {
  out.push_back('(');
  switch (node.kind) {
    case Kind::kAnd:
    case Kind::kOr:
    case Kind::kNot:
      out.push_back(node.kind == Kind::kAnd ? '&' : node.kind == Kind::kOr ? '|' : '!');
      for (const Node& child : node.children) Render(child, out);
      break;
    case Kind::kEqual:
      out += node.attribute + "=" + EscapeValue(node.value.raw);
      break;
    case Kind::kApprox:
      out += node.attribute + "~=" + EscapeValue(node.value.raw);
      break;
    case Kind::kGreaterOrEqual:
      out += node.attribute + ">=" + EscapeValue(node.value.raw);
      break;
    case Kind::kLessOrEqual:
      out += node.attribute + "<=" + EscapeValue(node.value.raw);
      break;
    case Kind::kPresent:
      out += node.attribute + "=*";
      break;
    case Kind::kSubstrings:
      out += node.attribute + "=" + EscapeValue(node.initial.raw) + "*";
      for (const Text& piece : node.any) out += EscapeValue(piece.raw) + "*";
      out += EscapeValue(node.final.raw);
      break;
    case Kind::kExtensible:
      out += node.attribute;
      if (node.dn_attributes) out += ":dn";
      if (!node.rule.empty()) out += ":" + node.rule;
      out += ":=" + EscapeValue(node.value.raw);
      break;
  }
  out.push_back(')');
}

bool IsNumericOid(std::string_view s) {
  if (s.empty() || s.front() == '.' || s.back() == '.') return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '.') {
      if (s[i + 1] == '.') return false;
    } else if (!IsAsciiDigit(s[i])) {
      return false;
    }
  }
  return true;
}

bool IsDescriptor(std::string_view s) {
  if (s.empty() || !IsAsciiAlpha(s.front())) return false;
  for (const char c : s) {
    if (!IsAsciiAlnum(c) && c != '-') return false;
  }
  return true;
}

std::string Quote(char c) {
  if (c == ' ') return "blank";
  const auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7F) return "control character";
  if (byte >= 0x80) return "non-ASCII character";
  return std::string("'") + c + "'";
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Node ParseWhole() {
    SkipBlanks();
    if (AtEnd()) Fail(pos_, "the filter is empty");
    Node root = Peek() == '(' ? ParseFilter() : ParseItem();
    SkipBlanks();
    if (!AtEnd()) {
      Fail(pos_,
           Peek() == ')' ? "unbalanced ')'" : "unexpected " + Quote(Peek()) + " after the filter");
    }
    return root;
  }

 private:
  [[noreturn]] void Fail(size_t at, const std::string& fault) const {
    throw PlatformError(errnum::kBadCommand, "Bad search filter \"" + std::string(text_) +
                                                 "\" at position " + std::to_string(at + 1) + ": " +
                                                 fault);
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  void SkipBlanks() {
    while (!AtEnd() && IsBlank(Peek())) ++pos_;
  }

  void ExpectClose() {
    if (AtEnd()) Fail(pos_, "missing ')'");
    if (Peek() != ')') Fail(pos_, "expected ')' but found " + Quote(Peek()));
    ++pos_;
  }

  // At "(": one filter up to and including its ")".
  Node ParseFilter() {
    if (++depth_ > kMaxDepth) Fail(pos_, "filter nested too deeply");
    const size_t open = pos_++;
    SkipBlanks();
    if (AtEnd()) Fail(pos_, "missing ')' for the '(' at position " + std::to_string(open + 1));
    Node node;
    switch (Peek()) {
      case '&':
      case '|': {
        node.kind = Peek() == '&' ? Kind::kAnd : Kind::kOr;
        const char op = Peek();
        ++pos_;
        while (true) {
          SkipBlanks();
          if (AtEnd() || Peek() != '(') break;
          node.children.push_back(ParseFilter());
        }
        if (!AtEnd() && Peek() != ')') {
          Fail(pos_, std::string("expected '(' to start the next part of '") + op + "'");
        }
        ExpectClose();
        break;
      }
      case '!': {
        node.kind = Kind::kNot;
        ++pos_;
        SkipBlanks();
        if (!AtEnd() && Peek() == '(') {
          node.children.push_back(ParseFilter());
        } else {
          // The strict form gives the bare item its own parentheses, so it
          // counts as a level: whatever parses renders to a filter that
          // parses too.
          if (depth_ + 1 > kMaxDepth) Fail(pos_, "filter nested too deeply");
          node.children.push_back(ParseItem());
        }
        SkipBlanks();
        if (!AtEnd() && Peek() == '(') Fail(pos_, "'!' takes exactly one filter");
        ExpectClose();
        break;
      }
      case '(': {
        // Redundant parentheses: "((mail=x))" is "(mail=x)".
        node = ParseFilter();
        SkipBlanks();
        if (!AtEnd() && Peek() == '(') {
          Fail(pos_, "several filters inside one pair of parentheses; join them with '&' or '|'");
        }
        ExpectClose();
        break;
      }
      case ')':
        Fail(pos_, "empty filter item '()'");
      default:
        node = ParseItem();
        ExpectClose();
        break;
    }
    --depth_;
    return node;
  }

  // An item without its parentheses; stops before ")" or at the end.
  Node ParseItem() {
    const size_t start = pos_;
    while (!AtEnd() && IsAttributeChar(Peek())) ++pos_;
    const std::string_view attribute = text_.substr(start, pos_ - start);
    if (AtEnd() || Peek() == ')') {
      Fail(pos_, attribute.empty() ? "missing attribute and '='"
                                   : "missing '=' after '" + std::string(attribute) + "'");
    }
    const char op = Peek();
    if (attribute.empty() && op != ':') {
      if (op == '=' || op == '~' || op == '>' || op == '<') Fail(pos_, "missing attribute name");
      Fail(pos_, "unexpected " + Quote(op) + " where an attribute name belongs");
    }
    if (!attribute.empty()) CheckAttribute(attribute, start);

    Node node;
    node.attribute = std::string(attribute);
    switch (op) {
      case '=': {
        ++pos_;
        std::vector<std::string> pieces = ReadValue(true);
        if (pieces.size() == 1) {
          node.kind = Kind::kEqual;
          SetValue(node, std::move(pieces.front()));
        } else if (pieces.size() == 2 && pieces[0].empty() && pieces[1].empty()) {
          node.kind = Kind::kPresent;
        } else {
          node.kind = Kind::kSubstrings;
          node.initial = MakeText(std::move(pieces.front()));
          node.final = MakeText(std::move(pieces.back()));
          for (size_t i = 1; i + 1 < pieces.size(); ++i) {
            if (!pieces[i].empty()) node.any.push_back(MakeText(std::move(pieces[i])));
          }
        }
        break;
      }
      case '~':
      case '>':
      case '<': {
        if (pos_ + 1 >= text_.size() || text_[pos_ + 1] != '=') {
          Fail(pos_ + 1, std::string("expected '=' after '") + op + "'");
        }
        pos_ += 2;
        node.kind = op == '~'   ? Kind::kApprox
                    : op == '>' ? Kind::kGreaterOrEqual
                                : Kind::kLessOrEqual;
        SetValue(node, ReadSingleValue());
        break;
      }
      case ':':
        ParseExtensible(node, start);
        break;
      default:
        Fail(pos_, "unexpected " + Quote(op) + " in attribute name");
    }
    return node;
  }

  // At the ":" after the (possibly empty) attribute: [":dn"] [":" rule] ":=" value.
  void ParseExtensible(Node& node, size_t start) {
    node.kind = Kind::kExtensible;
    while (true) {
      if (AtEnd() || Peek() != ':') Fail(pos_, "missing ':=' in extensible match");
      ++pos_;
      if (!AtEnd() && Peek() == '=') {
        ++pos_;
        break;
      }
      const size_t token_start = pos_;
      while (!AtEnd() && (IsAsciiAlnum(Peek()) || Peek() == '.' || Peek() == '-')) ++pos_;
      const std::string_view token = text_.substr(token_start, pos_ - token_start);
      if (token.empty()) Fail(pos_, "missing matching rule after ':'");
      if (!node.dn_attributes && node.rule.empty() && EqualsNoCaseAscii(token, "dn")) {
        node.dn_attributes = true;
      } else if (node.rule.empty()) {
        if (!IsNumericOid(token) && !IsDescriptor(token)) {
          Fail(token_start, "bad matching rule '" + std::string(token) + "'");
        }
        node.rule = std::string(token);
      } else {
        Fail(token_start, "unexpected '" + std::string(token) + "' after the matching rule");
      }
    }
    if (node.attribute.empty() && node.rule.empty()) {
      Fail(start, "extensible match needs an attribute or a matching rule");
    }
    const size_t value_start = pos_;
    SetValue(node, ReadSingleValue());
    if (node.rule.empty()) {
      node.rule_kind = Rule::kEquality;
    } else if (node.rule == kBitAndRule || node.rule == kBitOrRule) {
      node.rule_kind = node.rule == kBitAndRule ? Rule::kBitAnd : Rule::kBitOr;
      if (!node.has_bits) {
        Fail(value_start,
             "the bitwise matching rule needs a decimal integer, not '" + node.value.raw + "'");
      }
    } else {
      node.rule_kind = Rule::kUndefined;
    }
    // No attribute: "any attribute with this rule" is not something the
    // memory directory can answer.
    if (node.attribute.empty()) node.rule_kind = Rule::kUndefined;
  }

  void CheckAttribute(std::string_view attribute, size_t start) {
    const std::string_view type = attribute.substr(0, attribute.find(';'));
    if (!IsDescriptor(type) && !IsNumericOid(type)) {
      Fail(start, "bad attribute name '" + std::string(attribute) + "'");
    }
    if (type.size() == attribute.size()) return;
    for (const std::string& option : text::Split(attribute.substr(type.size() + 1), ";")) {
      if (option.empty() || !IsDescriptor(option)) {
        Fail(start, "bad attribute option in '" + std::string(attribute) + "'");
      }
    }
  }

  static void SetValue(Node& node, std::string raw) {
    node.has_integer = ParseInt64(raw, node.integer);
    node.has_bits = ParseBits(raw, node.bits);
    node.category_short_name =
        EqualsNoCaseAscii(node.attribute, kObjectCategory) && raw.find('=') == std::string::npos;
    if (!node.category_short_name && IsDnAttribute(node.attribute)) {
      node.dn_equality = true;
      node.dn_key = DnKey(raw);
    }
    node.value = MakeText(std::move(raw));
  }

  static bool IsDnAttribute(std::string_view attribute) {
    for (const std::string_view name : kDnAttributes) {
      if (EqualsNoCaseAscii(attribute, name)) return true;
    }
    return false;
  }

  std::string ReadSingleValue() { return std::move(ReadValue(false).front()); }

  // Reads a value up to ")" or the end, undoing escapes; with `stars` the
  // value is cut at each unescaped "*" (one piece more than stars).
  std::vector<std::string> ReadValue(bool stars) {
    std::vector<std::string> pieces(1);
    while (!AtEnd()) {
      const char c = Peek();
      if (c == ')') break;
      if (c == '(') Fail(pos_, "unescaped '(' in a value (write \\28)");
      if (c == '\0') Fail(pos_, "NUL character in a value (write \\00)");
      if (c == '*') {
        if (!stars) Fail(pos_, "unescaped '*' in a value (write \\2A)");
        pieces.emplace_back();
        ++pos_;
        continue;
      }
      if (c == '\\') {
        const int high = pos_ + 1 < text_.size() ? HexValue(text_[pos_ + 1]) : -1;
        const int low = pos_ + 2 < text_.size() ? HexValue(text_[pos_ + 2]) : -1;
        if (high < 0 || low < 0) {
          Fail(pos_, "bad escape '" + std::string(text_.substr(pos_, 3)) +
                         "' (a backslash takes two hexadecimal digits)");
        }
        pieces.back().push_back(static_cast<char>(high * 16 + low));
        pos_ += 3;
        continue;
      }
      pieces.back().push_back(c);
      ++pos_;
    }
    return pieces;
  }

  std::string_view text_;
  size_t pos_ = 0;
  int depth_ = 0;
};

class ParsedFilter final : public Filter {
 public:
  explicit ParsedFilter(Node root) : root_(std::move(root)) {}

  bool Matches(const AttributeSource& object) const override {
    return Evaluate(root_, object) == Truth::kTrue;
  }

  std::string ToRfc4515() const override {
    std::string out;
    Render(root_, out);
    return out;
  }

  std::vector<RequiredEquality> RequiredEqualities() const override {
    std::vector<RequiredEquality> found;
    CollectRequired(root_, found);
    return found;
  }

 private:
  static void CollectRequired(const Node& node, std::vector<RequiredEquality>& found) {
    switch (node.kind) {
      case Kind::kAnd:
        for (const Node& child : node.children) CollectRequired(child, found);
        return;
      case Kind::kEqual:
      case Kind::kApprox:
        if (!node.category_short_name && !node.dn_equality) {
          found.push_back(RequiredEquality{node.attribute, node.value.raw});
        }
        return;
      default:
        return;
    }
  }

  const Node root_;
};

// The same escapes as libldap, for when it cannot allocate.
std::string HandEscape(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || c == '*' || c == '(' || c == ')' || c == '\\') {
      out.push_back('\\');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::unique_ptr<Filter> Parse(std::string_view text) {
  return std::make_unique<ParsedFilter>(Parser(text).ParseWhole());
}

std::string EscapeValue(std::string_view value) {
  if (value.empty()) return {};
  std::string copy(value);  // libldap takes a non-const buffer
  berval in{static_cast<ber_len_t>(copy.size()), copy.data()};
  berval out{0, nullptr};
  if (ldap_bv2escaped_filter_value(&in, &out) != 0 || out.bv_val == nullptr) {
    return HandEscape(value);
  }
  std::string escaped(out.bv_val, out.bv_len);
  ber_memfree(out.bv_val);
  return escaped;
}

}  // namespace platform::ldapfilter
