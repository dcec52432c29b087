// An LDIF text cut into records, as libldap's reader (ldif_read_record)
// cuts it, for a text that passed ScreenLdif, or that the caller screens
// record by record as it reads (then before libldap reads a line of it:
// CheckBeforeLibldap).
//
// libldap's reader reads through stdio, a line at a time, and copies every
// record into a buffer of its own: most of the cost of reading a large
// file. Nearly every record of a real file starts with an attribute line
// right after the blank lines that end the record before it, and there
// the reader's rules come down to "the lines up to the next blank line";
// such records are cut where they stand in the text, with no copy. The
// reader's other rules (comment lines before a record, a leading line
// number, "include:", a line starting with a blank) apply only at the
// start of a record that does not open with a letter: from the first such
// record on, libldap's reader reads the rest of the text itself, so that
// every rule it has keeps holding.
#ifndef TARNWICK_PLATFORM_MEMORY_LDIF_RECORDS_H_
#define TARNWICK_PLATFORM_MEMORY_LDIF_RECORDS_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::memory {

// Where a line of a record cut in place stands in the record's text: from
// `start` to `end`, its line end (LF or CR LF) not included.
struct LdifLineSpan {
  size_t start = 0;
  size_t end = 0;
};

// One record: its lines, each ended by LF or CR LF (the last line may end
// in neither), NUL-terminated.
struct LdifRecord {
  char* text = nullptr;
  size_t size = 0;
  // The line of the text where the record's first line stands, from 1.
  size_t first_line = 0;
  // Where the record ends in the text, when `text` points into the text;
  // 0 when it points into a buffer of the reader's own (valid until the
  // next call).
  size_t text_end = 0;
  // For a record cut in place: no line of it starts with a blank (a
  // continuation) or "#" (a comment), so each line is one logical line.
  bool plain_lines = false;
  // For a record with plain_lines, where each line stands, as the cutting
  // found them; valid until the next call.
  std::span<const LdifLineSpan> line_spans;
};

// A fault of the reading: the line it concerns (from 1) and what it is.
class LdifRecordError : public std::runtime_error {
 public:
  LdifRecordError(size_t line, const std::string& what) : std::runtime_error(what), line_(line) {}
  size_t line() const { return line_; }

 private:
  size_t line_;
};

// One line of a record, unfolded and NUL-terminated, taken apart as
// libldap's line parser (ldif_parse_line2) takes it: the attribute name and
// the value, views into the line, or for a value the parser had to decode
// (base64) into `decoded`, which the caller frees with ber_memfree. A line
// of a plain name, its colon and a plain value (nearly every line) is
// taken apart here, in one pass and without writing to it; any other goes
// to libldap's parser. False for a line the parser refuses.
struct LdifLine {
  std::string_view name;
  std::string_view value;
  char* decoded = nullptr;
};
// `size` is the line's length (line[size] is its NUL).
bool ParseLdifLine(char* line, size_t size, LdifLine& out);
// The plain form alone: false, touching nothing else, for a line that is
// not a plain name, its colon and a plain value (a name of letters, digits
// and hyphens only, a colon followed by neither ":" nor "<", blanks, and a
// value that starts with an ASCII byte).
bool ParsePlainLdifLine(const char* line, size_t size, LdifLine& out);

class LdifRecordReader {
 public:
  enum class Mode {
    kInPlace,      // cut records in place while they start plainly
    kLibldapOnly,  // every record through libldap's reader (to compare)
  };

  // `text` outlives the reader, and the reader writes to it: the byte
  // after a record handed out in place becomes its NUL (the first byte of
  // the line end that follows it, or text[text.size()], which must be
  // there and writable). Nothing else in the text changes.
  explicit LdifRecordReader(std::span<char> text, Mode mode = Mode::kInPlace);
  ~LdifRecordReader();
  LdifRecordReader(const LdifRecordReader&) = delete;
  LdifRecordReader& operator=(const LdifRecordReader&) = delete;

  // Called once, with the rest of the text and the line it starts on,
  // before libldap's reader reads any of it: a caller that screens the
  // text record by record as it goes screens that rest here, as a whole,
  // since libldap's reader acts on what it reads. What it raises ends the
  // reading, passed on by Next.
  using RestCheck = std::function<void(std::string_view rest, size_t first_line)>;
  void CheckBeforeLibldap(RestCheck check) { check_before_libldap_ = std::move(check); }

  // The next record; false when only blank lines (or nothing) are left.
  // Raises LdifRecordError for an include line (which the screen refuses;
  // this is the last line of defence), a record libldap's reader gives no
  // text for ("record without dn"), or a failure to read. The record stays
  // valid until the next call.
  bool Next(LdifRecord& record);

 private:
  bool NextInPlace(LdifRecord& record);
  bool NextFromLibldap(LdifRecord& record);

  struct Libldap;
  std::span<char> text_;
  size_t at_ = 0;         // where in-place reading goes on
  size_t line_ = 1;       // the line that starts at `at_`
  bool in_place_ = true;  // false once libldap's reader has taken over
  RestCheck check_before_libldap_;
  std::unique_ptr<Libldap> libldap_;
  std::vector<LdifLineSpan> line_spans_;  // of the record last cut in place
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_LDIF_RECORDS_H_
