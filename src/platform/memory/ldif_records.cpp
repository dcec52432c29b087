#include "platform/memory/ldif_records.h"

#include <ldap.h>
#include <stdio.h>  // ldif.h uses FILE without including it
#include <stdio_ext.h>

#include <ldif.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/text.h"

namespace platform::memory {
namespace {

struct LdifCloser {
  void operator()(LDIFFP* fp) const { ldif_close(fp); }
};
struct BerFree {
  void operator()(char* p) const { ber_memfree(p); }
};

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Letters, digits and "-": the bytes of an attribute name after its first.
constexpr std::array<bool, 256> kNameByte = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                    (c >= '0' && c <= '9') || c == '-';
  }
  return table;
}();
bool IsNameByte(unsigned char c) { return kNameByte[c]; }

// The blanks libldap's parser passes between the colon and the value, as
// the C library's isspace sees them in the "C" locale.
bool IsAsciiSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "include:" in any letter case at the start.
bool StartsInclude(const char* at, size_t size) {
  constexpr std::string_view kInclude = "include:";
  return size >= kInclude.size() &&
         text::AsciiEqualsNoCase(std::string_view(at, kInclude.size()), kInclude);
}

}  // namespace

bool ParsePlainLdifLine(const char* line, size_t size, LdifLine& out) {
  out.decoded = nullptr;
  // The plain form: a letter, name bytes, a colon that is not "::" or
  // ":<", ASCII blanks, then a value that starts with an ASCII byte (what
  // the parser's isspace makes of other bytes depends on the locale).
  const auto* bytes = reinterpret_cast<const unsigned char*>(line);
  if (!IsAsciiLetter(line[0])) return false;
  size_t colon = 1;
  while (IsNameByte(bytes[colon])) ++colon;
  if (bytes[colon] != ':' || bytes[colon + 1] == ':' || bytes[colon + 1] == '<') return false;
  size_t value = colon + 1;
  while (IsAsciiSpace(bytes[value])) ++value;
  if (bytes[value] >= 0x80) return false;
  out.name = std::string_view(line, colon);
  // The scans stopped at the line's NUL at the latest: value <= size.
  out.value = std::string_view(line + value, size - value);
  return true;
}

bool ParseLdifLine(char* line, size_t size, LdifLine& out) {
  if (ParsePlainLdifLine(line, size, out)) return true;
  berval type{};
  berval value{};
  int free_value = 0;
  if (ldif_parse_line2(line, &type, &value, &free_value) < 0) return false;
  if (free_value != 0) out.decoded = value.bv_val;
  out.name = std::string_view(type.bv_val, type.bv_len);
  out.value =
      value.bv_val == nullptr ? std::string_view() : std::string_view(value.bv_val, value.bv_len);
  return true;
}

// libldap's reader over the text from `offset` on.
struct LdifRecordReader::Libldap {
  std::unique_ptr<LDIFFP, LdifCloser> fp;  // null for nothing left to read
  size_t offset = 0;
  // Lines read, as the reader counts them, with the lines before `offset`.
  unsigned long lineno = 0;
  std::unique_ptr<char, BerFree> raw;  // the reader's record buffer
  int raw_size = 0;
};

LdifRecordReader::LdifRecordReader(std::span<char> text, Mode mode)
    : text_(text), in_place_(mode == Mode::kInPlace) {}

LdifRecordReader::~LdifRecordReader() = default;

bool LdifRecordReader::Next(LdifRecord& record) {
  return in_place_ ? NextInPlace(record) : NextFromLibldap(record);
}

bool LdifRecordReader::NextInPlace(LdifRecord& record) {
  char* const text = text_.data();
  const size_t size = text_.size();
  // Where the line at `from` ends (before its CR LF or LF), and where the
  // next line starts.
  size_t next = 0;
  const auto line_at = [&](size_t from) {
    const void* lf = std::memchr(text + from, '\n', size - from);
    if (lf == nullptr) {
      next = size;
      return size;
    }
    const auto end = static_cast<size_t>(static_cast<const char*>(lf) - text);
    next = end + 1;
    return end > from && text[end - 1] == '\r' ? end - 1 : end;
  };
  while (at_ < size && line_at(at_) == at_) {  // blank lines before the record
    at_ = next;
    ++line_;
  }
  if (at_ >= size) return false;
  // Whatever the reader treats otherwise at a record's start (a comment, a
  // line number, a continuation) starts with no letter, or is an include
  // line (which the reader refuses here, as the last line of defence).
  if (!IsAsciiLetter(text[at_]) || StartsInclude(text + at_, size - at_)) {
    in_place_ = false;
    return NextFromLibldap(record);
  }
  record.text = text + at_;
  record.first_line = line_;
  record.plain_lines = true;
  const size_t first = at_;
  line_spans_.clear();
  size_t end = at_;
  while (at_ < size) {
    const size_t line_end = line_at(at_);
    if (line_end == at_) break;
    line_spans_.push_back(LdifLineSpan{at_ - first, line_end - first});
    at_ = next;
    end = next;
    ++line_;
    if (at_ < size && (text[at_] == ' ' || text[at_] == '#')) record.plain_lines = false;
  }
  record.line_spans = line_spans_;
  // The blank line that ends the record (if any) is passed before its
  // first byte becomes the record's NUL.
  if (at_ < size) {
    (void)line_at(at_);
    at_ = next;
    ++line_;
  }
  text[end] = '\0';
  record.size = static_cast<size_t>(text + end - record.text);
  record.text_end = end;
  return true;
}

bool LdifRecordReader::NextFromLibldap(LdifRecord& record) {
  if (!libldap_) {
    if (check_before_libldap_) {
      check_before_libldap_(std::string_view(text_.data() + at_, text_.size() - at_), line_);
    }
    auto reader = std::make_unique<Libldap>();
    reader->offset = at_;
    reader->lineno = line_ - 1;
    if (at_ < text_.size()) {  // fmemopen refuses an empty buffer
      reader->fp.reset(ldif_open_mem(text_.data() + at_, text_.size() - at_, "r"));
      if (!reader->fp) throw LdifRecordError(line_, "cannot read the text");
      // One thread at a time reads the stream, so stdio's per-call lock,
      // taken once a process has a second thread, buys nothing: it was a
      // fifth of reading.
      (void)__fsetlocking(reader->fp->fp, FSETLOCKING_BYCALLER);
    }
    libldap_ = std::move(reader);
  }
  Libldap& in = *libldap_;
  if (!in.fp) return false;
  const unsigned long before = in.lineno;
  const long from = std::ftell(in.fp->fp);
  // A fault names the record's first line: past the blank lines that the
  // reader skipped before it.
  const auto record_line = [&] {
    size_t line = before + 1;
    if (from < 0) return line;
    size_t at = in.offset + static_cast<size_t>(from);
    while (at < text_.size()) {
      size_t blank = text_[at] == '\n' ? 1 : 0;
      if (text_[at] == '\r' && at + 1 < text_.size() && text_[at + 1] == '\n') blank = 2;
      if (blank == 0) break;
      at += blank;
      ++line;
    }
    return line;
  };
  // A record of nothing but a line number leaves the buffer as it was, and
  // the reader would hand out the record before it a second time: the
  // buffer is emptied first, so that such a record shows as the empty
  // record it is.
  if (in.raw && in.raw_size > 0) in.raw.get()[0] = '\0';
  char* raw = in.raw.get();
  const int rc = ldif_read_record(in.fp.get(), &in.lineno, &raw, &in.raw_size);
  // The reader grows its buffer with realloc, so the old pointer is
  // already gone: hand the owner the new one without freeing the old.
  (void)in.raw.release();
  in.raw.reset(raw);
  if (in.fp->prev != nullptr || rc < 0) {
    throw LdifRecordError(record_line(), "include directives are not accepted");
  }
  if (std::ferror(in.fp->fp)) throw LdifRecordError(in.lineno, "cannot read the file");
  if (rc == 0) return false;
  // The reader answers a record whose first line it cannot take (no
  // colon, not "dn:" or "version:") with no text at all.
  if (raw == nullptr || raw[0] == '\0') throw LdifRecordError(record_line(), "record without dn");
  const size_t length = std::strlen(raw);
  const auto line_ends = static_cast<size_t>(std::count(raw, raw + length, '\n'));
  record.first_line =
      std::feof(in.fp->fp) ? in.lineno + 1 - std::max<size_t>(line_ends, 1) : in.lineno - line_ends;
  record.text = raw;
  record.size = length;
  record.text_end = 0;
  record.plain_lines = false;
  record.line_spans = {};

  // The same bytes stand in the text just before where the reader stopped
  // (before the blank line that ended the record, or at the end of the
  // text), unless the reader put the record together otherwise (CR LF
  // made LF, a line end added at the end). Found there, the record is
  // handed out in place, NUL-terminated on the blank line, which is read.
  const long stopped = std::ftell(in.fp->fp);
  if (stopped < 0) return true;
  const size_t end = in.offset + static_cast<size_t>(stopped);
  if (end > text_.size()) return true;
  const std::string_view text(text_.data(), text_.size());
  size_t blank = 0;
  if (end >= 2 && text.substr(end - 2, 2) == "\r\n" && (end < 3 || text[end - 3] == '\n')) {
    blank = 2;
  } else if (end >= 1 && text[end - 1] == '\n') {
    blank = 1;
  } else if (end != text_.size()) {
    return true;
  }
  if (end < blank + length) return true;
  char* in_text = text_.data() + (end - blank - length);
  if (std::memcmp(in_text, raw, length) != 0) return true;
  in_text[length] = '\0';
  record.text = in_text;
  record.text_end = end - blank;
  return true;
}

}  // namespace platform::memory
