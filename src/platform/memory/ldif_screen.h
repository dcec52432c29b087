// The checks an LDIF text passes before libldap's reader sees it.
//
// libldap's reader does more than read: a value written "attr:< URL" makes
// it fetch the URL (a local file, /dev/zero, a FIFO), and an "include:"
// line makes it open another file, both before the caller sees the record.
// It also treats a NUL byte as the end of a line and so glues the next line
// onto the value, reads a file with CR-only line ends as one long line, and
// reports a bad base64 value with a diagnostic that names none of it. The
// screen refuses all of these up front, naming the line, so that nothing is
// opened that the user did not name and no record is quietly changed.
//
// Lines are counted from 1 as a text editor counts them (LF ends a line; a
// CR LF pair is one line end). A line that begins with a space continues
// the one before (RFC 2849 folding); the checks that look at a line's
// attribute and value work on the unfolded line and report the line where
// it starts.
#ifndef TARNWICK_PLATFORM_MEMORY_LDIF_SCREEN_H_
#define TARNWICK_PLATFORM_MEMORY_LDIF_SCREEN_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::memory {

// Screens the LDIF text. Returns the number of leading bytes to skip (3 for
// a UTF-8 byte-order mark, else 0). Raises ProfileError "<file>:<line>:
// <what>" for:
//  - a NUL byte;
//  - a CR that is not followed by LF;
//  - an "include:" line (in any letter case);
//  - a value given as a URL ("attr:<"), whatever the attribute, also when
//    the line is indented or sits inside a folded value, since the reader
//    strips leading blanks and tabs before it looks;
//  - an attribute name that is not an RFC 4512 attribute description
//    (letters, digits and hyphens, options after ";", or a dotted OID):
//    "display Name" is refused rather than loaded as an attribute that no
//    filter can name;
//  - a base64 value ("attr::") that is empty, holds a character outside
//    the base64 alphabet, or is not whole groups of four with padding only
//    at the end (libldap would silently stop at the first "=");
//  - an msExchRecipientDisplayType value that is not a decimal integer of
//    32 bits (from -2147483648 to 4294967295): a larger one would wrap into
//    another display type.
// Comment lines (starting with "#") and their continuations are not read.
// `counts`, when given, receives how many "dn:", "mail:" and
// "proxyAddresses:" lines the text holds (names in any letter case): what
// a loader sizes its tables by. A text of `split_from` bytes or more is
// screened in two halves on two threads; the fault reported is the same
// either way.
struct LdifCounts {
  size_t records = 0;
  size_t mails = 0;
  size_t proxies = 0;
};
inline constexpr size_t kSplitScreenFrom = 1 << 20;
size_t ScreenLdif(std::string_view text, const std::string& file, LdifCounts* counts = nullptr,
                  size_t split_from = kSplitScreenFrom);

// Screens a part of an LDIF text as ScreenLdif screens the whole: `part`
// starts where a line starts and no logical line is open in the text there
// (at a record's first line, or after a blank line), and its first line is
// line `first_line` of the file. Raises the fault ScreenLdif would report
// first among these lines. For a loader that screens a large text piece
// by piece as it reads it, ahead of anything libldap reads.
void ScreenLdifPart(std::string_view part, size_t first_line, const std::string& file);

// The "dn:", "mail:" and "proxyAddresses:" lines of a part as ScreenLdif
// counts them, without screening it: for a loader that sizes its tables
// from a sample of a text it screens as it reads.
LdifCounts CountLdifLines(std::string_view part);

// Whether the text holds a NUL or a CR byte, which only a screen of the
// whole text deals with: a loader that screens as it reads needs a text
// without either.
bool HoldsCrOrNul(std::string_view text);

// True for a decimal integer from -2147483648 to 4294967295, blanks around
// it allowed: the values an msExchRecipientDisplayType may hold.
bool IsDisplayTypeValue(std::string_view value);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_LDIF_SCREEN_H_
