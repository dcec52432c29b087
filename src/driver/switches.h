// The command line of the program: "/s <servername> /a <mailbox alias>
// /l <list smtp address>", the switches in any order.
#ifndef TARNWICK_DRIVER_SWITCHES_H_
#define TARNWICK_DRIVER_SWITCHES_H_

#include <string>
#include <string_view>

namespace modTest {

// The values of the three switches; each is "" until its switch is given.
struct Switches {
  std::string server;
  std::string alias;
  std::string list;
};

// The argument text of a process: its arguments after the program name,
// joined by single blanks. An argument that held blanks (quoted on the shell
// line) keeps them, so a value with blanks survives. Empty for none.
std::string JoinArguments(int argc, const char* const* argv);

// Reads the switches from the argument text. The text is cut at every " /"
// (exact match), so only the first piece can still start with "/". Each piece
// is taken by the first of "/a", "a", "/s", "s", "/l", "l" it starts with,
// compared case-sensitively ("/S" is not the server switch); the rest of the
// piece, with blanks (only) trimmed at both ends, is the value, and a later
// piece for the same switch replaces the earlier value. Pieces starting with
// anything else are ignored. Never fails.
Switches ParseSwitches(std::string_view argument_text);

}  // namespace modTest

#endif  // TARNWICK_DRIVER_SWITCHES_H_
