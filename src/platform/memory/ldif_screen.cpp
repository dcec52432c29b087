#include "platform/memory/ldif_screen.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/memory/memory_backend.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view StripLeadingBlanks(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  return s.substr(i);
}

std::string_view StripTrailingBlanks(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t')) --n;
  return s.substr(0, n);
}

// The bytes of a keystring after its first letter: letters, digits, "-".
constexpr std::array<bool, 256> kKeystringBody = [] {
  std::array<bool, 256> body{};
  for (int c = 0; c < 256; ++c) {
    body[static_cast<size_t>(c)] =
        IsAsciiAlpha(static_cast<char>(c)) || IsAsciiDigit(static_cast<char>(c)) || c == '-';
  }
  return body;
}();

// RFC 4512: descr (keystring) or numericoid, each option after ";" a
// keystring body.
bool IsAttributeDescription(std::string_view name) {
  // Nearly every name is a plain keystring, taken in one pass; anything
  // else (options, an OID, a fault) goes the long way.
  if (!name.empty() && IsAsciiAlpha(name[0])) {
    size_t i = 1;
    while (i < name.size() && kKeystringBody[static_cast<unsigned char>(name[i])]) ++i;
    if (i == name.size()) return true;
  }
  const size_t semicolon = name.find(';');
  const std::string_view base = name.substr(0, semicolon);
  if (base.empty()) return false;
  if (IsAsciiAlpha(base[0])) {
    for (const char c : base) {
      if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != '-') return false;
    }
  } else {
    bool digit_seen = false;
    for (const char c : base) {
      if (IsAsciiDigit(c)) {
        digit_seen = true;
      } else if (c == '.' && digit_seen) {
        digit_seen = false;
      } else {
        return false;
      }
    }
    if (!digit_seen) return false;
  }
  if (semicolon == std::string_view::npos) return true;
  std::string_view options = name.substr(semicolon + 1);
  while (true) {
    const size_t next = options.find(';');
    const std::string_view option = options.substr(0, next);
    if (option.empty()) return false;
    for (const char c : option) {
      if (!IsAsciiAlpha(c) && !IsAsciiDigit(c) && c != '-') return false;
    }
    if (next == std::string_view::npos) return true;
    options = options.substr(next + 1);
  }
}

bool IsBase64Char(char c) { return IsAsciiAlpha(c) || IsAsciiDigit(c) || c == '+' || c == '/'; }

bool IsStrictBase64(std::string_view value) {
  if (value.empty() || value.size() % 4 != 0) return false;
  size_t padding = 0;
  if (value.back() == '=') padding = value[value.size() - 2] == '=' ? 2 : 1;
  for (size_t i = 0; i < value.size() - padding; ++i) {
    if (!IsBase64Char(value[i])) return false;
  }
  return true;
}

// A fault the screen found: its line, counted within the part of the text
// that was screened, and what is wrong there.
struct ScreenFault {
  size_t line;
  std::string what;
};

// Screens a text that starts at a line start and in which no logical line
// is open (the whole text, or the text after a blank line). Line numbers
// count from 1 at the start of that text; Run raises ScreenFault.
class Screen {
 public:
  explicit Screen(std::string_view text) : text_(text) {}

  void Run() {
    size_t line_number = 1;
    size_t at = 0;
    const char* const data = text_.data();
    // One look at the whole text tells whether any line can hold a NUL or
    // a CR; most files hold neither, and their lines need not be searched
    // for them one by one.
    const bool any_nul = std::memchr(data, '\0', text_.size()) != nullptr;
    const bool any_cr = std::memchr(data, '\r', text_.size()) != nullptr;
    while (at < text_.size()) {
      const auto* newline =
          static_cast<const char*>(std::memchr(data + at, '\n', text_.size() - at));
      const size_t end = newline == nullptr ? text_.size() : static_cast<size_t>(newline - data);
      std::string_view line = text_.substr(at, end - at);
      if (any_nul || any_cr) {
        // The first fault of the line wins: a NUL byte, or a CR not
        // followed by LF (only the line's last byte may be a CR, and only
        // before a LF).
        const auto* nul = static_cast<const char*>(std::memchr(line.data(), '\0', line.size()));
        const auto* cr = static_cast<const char*>(std::memchr(line.data(), '\r', line.size()));
        const bool lone_cr =
            cr != nullptr && (cr + 1 < line.data() + line.size() || newline == nullptr);
        if (nul != nullptr && (!lone_cr || nul < cr)) Fail(line_number, "NUL byte in the line");
        if (lone_cr) {
          Fail(line_number,
               "the line ends with a lone carriage return; only LF and CR LF line ends are "
               "accepted");
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      }
      Physical(line, line_number);
      at = end + 1;
      ++line_number;
    }
    FinishLogical();
  }

  const LdifCounts& counts() const { return counts_; }

 private:
  [[noreturn]] static void Fail(size_t line, std::string what) {
    throw ScreenFault{line, std::move(what)};
  }

  // A logical line is held as a view into the text until a continuation
  // line comes; only a folded line is copied together.
  void Physical(std::string_view line, size_t line_number) {
    // A continuation line may still reach the reader as a line of its own
    // (at the start of a record, after a comment), so its URL marker is
    // refused wherever it stands.
    size_t colon = std::string_view::npos;
    bool plain_name = false;
    if (!line.empty() && IsAsciiAlpha(line[0])) {
      // Nearly every line opens with a plain keystring and its colon: one
      // pass finds the colon and shows the name valid.
      size_t i = 1;
      while (i < line.size() && kKeystringBody[static_cast<unsigned char>(line[i])]) ++i;
      if (i < line.size() && line[i] == ':' && (i + 1 == line.size() || line[i + 1] != '<')) {
        colon = i;
        plain_name = true;
      } else {
        colon = RefuseUrl(line, line_number);
      }
    } else if (line.empty() || line[0] != '#') {
      colon = RefuseUrl(StripLeadingBlanks(line), line_number);
    }
    if (!line.empty() && line[0] == ' ') {
      if (!in_comment_ && logical_start_ != 0) {
        if (!folded_) {
          logical_.assign(pending_);
          folded_ = true;
        }
        logical_.append(line.substr(1));
      }
      return;
    }
    FinishLogical();
    in_comment_ = !line.empty() && line[0] == '#';
    if (in_comment_ || line.empty()) return;
    pending_ = line;
    pending_colon_ = colon;
    pending_plain_name_ = plain_name;
    folded_ = false;
    logical_start_ = line_number;
  }

  // Returns where the line's first colon stands (npos for none).
  size_t RefuseUrl(std::string_view line, size_t line_number) const {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon + 1 >= line.size() || line[colon + 1] != '<') {
      return colon;
    }
    Fail(line_number, "the value of '" + std::string(line.substr(0, colon)) +
                          "' is a URL (\":<\"); values that name files are not accepted");
  }

  void FinishLogical() {
    if (logical_start_ == 0) return;
    Logical(folded_ ? std::string_view(logical_) : pending_, logical_start_, folded_);
    logical_.clear();
    folded_ = false;
    logical_start_ = 0;
  }

  // `folded`: the line was put together from several; an unfolded one had
  // its URL marker looked for by Physical already.
  void Logical(std::string_view line, size_t line_number, bool folded) {
    const std::string_view stripped = StripLeadingBlanks(line);
    const size_t colon = folded ? stripped.find(':') : pending_colon_;
    // A line without a colon is libldap's to report.
    if (colon == std::string_view::npos) return;
    const std::string_view name = stripped.substr(0, colon);
    if (text::AsciiEqualsNoCase(name, "dn")) ++counts_.records;
    if (text::AsciiEqualsNoCase(name, "mail")) ++counts_.mails;
    if (text::AsciiEqualsNoCase(name, "proxyAddresses")) ++counts_.proxies;
    if (text::AsciiEqualsNoCase(name, "include")) {
      Fail(line_number, "include directives are not accepted");
    }
    if (folded) RefuseUrl(stripped, line_number);
    if (!(pending_plain_name_ && !folded) && !IsAttributeDescription(name)) {
      Fail(line_number, "'" + std::string(name) + "' is not a valid attribute name");
    }
    std::string_view value = stripped.substr(colon + 1);
    const bool base64 = !value.empty() && value[0] == ':';
    if (base64) {
      value = StripTrailingBlanks(StripLeadingBlanks(value.substr(1)));
      if (!IsStrictBase64(value)) {
        Fail(line_number, "invalid base64 value of attribute " + std::string(name));
      }
      return;
    }
    if (text::AsciiEqualsNoCase(name, "msExchRecipientDisplayType") &&
        !IsDisplayTypeValue(StripLeadingBlanks(value))) {
      Fail(line_number, "msExchRecipientDisplayType must be a 32-bit integer, not '" +
                            std::string(StripLeadingBlanks(value)) + "'");
    }
  }

  std::string_view text_;
  std::string_view pending_;         // the open logical line while it is not folded
  size_t pending_colon_ = 0;         // where its first colon stands, blanks stripped
  bool pending_plain_name_ = false;  // its name is a keystring, seen whole
  std::string logical_;              // the open logical line once folded
  bool folded_ = false;
  size_t logical_start_ = 0;  // 0: no logical line open
  bool in_comment_ = false;
  LdifCounts counts_;
};

// Where a text may be cut in two for two screens: just after a blank line
// (a line that is empty, or a lone CR before its LF), where no logical
// line is open, so that each half screens as it would within the whole.
// The first such place at or after the middle; 0 when there is none.
size_t HalfwayAfterBlankLine(std::string_view text) {
  size_t at = text.size() / 2;
  while (true) {
    at = text.find('\n', at);
    if (at == std::string_view::npos) return 0;
    if (at + 1 < text.size() && text[at + 1] == '\n') return at + 2;
    if (at + 2 < text.size() && text[at + 1] == '\r' && text[at + 2] == '\n') return at + 3;
    ++at;
  }
}

[[noreturn]] void Raise(const std::string& file, size_t line, const std::string& what) {
  throw ProfileError(file + ":" + std::to_string(line) + ": " + what);
}

}  // namespace

size_t ScreenLdif(std::string_view text, const std::string& file, LdifCounts* counts,
                  size_t split_from) {
  const size_t skip = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? 3 : 0;
  text.remove_prefix(skip);
  // A large text is screened in two halves at once, the second on a thread
  // of its own; the first fault in file order is still the one reported,
  // and the second half's line numbers are placed only when it has one.
  const size_t half = text.size() >= split_from ? HalfwayAfterBlankLine(text) : 0;
  Screen first(text.substr(0, half == 0 ? text.size() : half));
  Screen second(half == 0 ? std::string_view() : text.substr(half));
  std::optional<ScreenFault> second_fault;
  std::exception_ptr second_error;
  std::thread helper;
  if (half != 0) {
    try {
      helper = std::thread([&] {
        try {
          second.Run();
        } catch (ScreenFault& fault) {
          second_fault = std::move(fault);
        } catch (...) {
          second_error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: the second half is screened after the first.
    }
  }
  std::optional<ScreenFault> first_fault;
  try {
    first.Run();
  } catch (ScreenFault& fault) {
    first_fault = std::move(fault);
  } catch (...) {
    if (helper.joinable()) helper.join();
    throw;
  }
  if (helper.joinable()) {
    helper.join();
  } else if (half != 0 && !first_fault) {
    try {
      second.Run();
    } catch (ScreenFault& fault) {
      second_fault = std::move(fault);
    }
  }
  if (first_fault) Raise(file, first_fault->line, first_fault->what);
  if (second_error) std::rethrow_exception(second_error);
  if (second_fault) {
    const std::string_view before = text.substr(0, half);
    const auto lines_before = static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
    Raise(file, lines_before + second_fault->line, second_fault->what);
  }
  if (counts != nullptr) {
    counts->records = first.counts().records + second.counts().records;
    counts->mails = first.counts().mails + second.counts().mails;
    counts->proxies = first.counts().proxies + second.counts().proxies;
  }
  return skip;
}

void ScreenLdifPart(std::string_view part, size_t first_line, const std::string& file) {
  Screen screen(part);
  try {
    screen.Run();
  } catch (ScreenFault& fault) {
    Raise(file, first_line - 1 + fault.line, fault.what);
  }
}

LdifCounts CountLdifLines(std::string_view part) {
  LdifCounts counts;
  size_t at = 0;
  while (at < part.size()) {
    const size_t end = std::min(part.find('\n', at), part.size());
    const std::string_view line = StripLeadingBlanks(part.substr(at, end - at));
    // A continuation line starts with a blank; nothing else it holds is a
    // name. Comments hold none either.
    if (end > at && part[at] != ' ' && part[at] != '#') {
      const std::string_view name = line.substr(0, line.find(':'));
      if (name.size() < line.size()) {
        if (text::AsciiEqualsNoCase(name, "dn")) ++counts.records;
        if (text::AsciiEqualsNoCase(name, "mail")) ++counts.mails;
        if (text::AsciiEqualsNoCase(name, "proxyAddresses")) ++counts.proxies;
      }
    }
    at = end + 1;
  }
  return counts;
}

namespace {

bool IsCrOrNul(char c) { return c == '\r' || c == '\0'; }

}  // namespace

bool HoldsCrOrNul(std::string_view text) {
  // Sixteen bytes at a time where it can: a loader looks at tens of
  // megabytes, a piece at a time as it reads them.
  const char* from = text.data();
  const char* const to = from + text.size();
#if defined(__SSE2__)
  while (from < to && reinterpret_cast<uintptr_t>(from) % 16 != 0) {
    if (IsCrOrNul(*from++)) return true;
  }
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i nul = _mm_setzero_si128();
  for (; to - from >= 16; from += 16) {
    const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(from));
    const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, nul));
    if (_mm_movemask_epi8(hits) != 0) return true;
  }
#endif
  return std::any_of(from, to, IsCrOrNul);
}

bool IsDisplayTypeValue(std::string_view value) {
  value = StripTrailingBlanks(StripLeadingBlanks(value));
  if (value.empty()) return false;
  int64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  return error == std::errc() && end == value.data() + value.size() &&
         number >= INT64_C(-2147483648) && number <= INT64_C(4294967295);
}

}  // namespace platform::memory
