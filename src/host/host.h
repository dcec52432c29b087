// tarnwick-host: the engine's operations for a person or a script, one
// command per run. The program logs on like tarnwick, sets the globals a
// command needs, constructs one KVL object, runs the operation and prints
// its result on standard output as data.
//
// A command is one declare function (its arguments, and the operation that
// reads them) plus one row in the table of Commands(); parsing, help, the
// logon, the run log and the output format are the host's, the same for all.
#ifndef TARNWICK_HOST_HOST_H_
#define TARNWICK_HOST_HOST_H_

#include <cstdio>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "engine/kvl.h"

namespace host {

inline constexpr char kProgram[] = "tarnwick-host";

// Exit statuses besides a stop signal's 128 + number (as for tarnwick).
inline constexpr int kExitResult = 0;    // the operation gave its result
inline constexpr int kExitNoResult = 1;  // it gave none, or the logon failed
inline constexpr int kExitUsage = 2;     // the command line could not be used

// The results of a command: one line per row on the stream, either the
// values separated by tabs, or (JSON) one object with the fields' keys in
// their order; a field can be left out of the text form. Texts are written as they are, Booleans as
// true/false (JSON Booleans), arrays joined by ";" (JSON arrays). So that a row stays one line, a
// tab or line break inside a text value is written as a blank in the text form; JSON escapes it,
// and replaces bytes that are not UTF-8.
class ResultWriter {
 public:
  struct Field {
    std::string key;
    nlohmann::ordered_json value;
    bool in_text = true;  // false: JSON only
  };

  // A result made of named values: in text one line per value, its name, a
  // tab and the value; in JSON one object, as Row writes it.
  struct Named {
    std::string name;  // the text form's name ("X500Proxies")
    Field field;       // the JSON key ("x500Proxies") and the value
  };

  ResultWriter(std::FILE* out, bool json) : out_(out), json_(json) {}
  void Row(const std::vector<Field>& fields);
  void NamedValues(const std::vector<Named>& values);
  // Flushes the stream. False when any row could not be written whole.
  bool Finish();

 private:
  std::FILE* out_;
  bool json_;
  bool failed_ = false;
};

// What an operation works with: the run's one KVL object, constructed after
// the logon, and the writer of its results.
struct Context {
  KVL& kvl;
  ResultWriter& out;
};

// A parsed command, ready to run against the logged-on engine; returns the
// exit status (kExitResult or kExitNoResult). May raise nothing but what the
// engine lets through (std::bad_alloc).
using Operation = std::function<int(Context&)>;

struct CommandEntry {
  const char* name;
  // One line, for the program's --help.
  const char* summary;
  // Declares the command's arguments and options on its subcommand and
  // returns the operation, which reads their values once parsing succeeded.
  // Unusable values are refused here (validators), so that a usage error
  // never starts the engine.
  Operation (*declare)(CLI::App& command);
};

// Refuses a value that is empty or blanks only: it names nothing, and the
// engine would log its way through it instead of saying so.
CLI::Validator NotBlank();

// Every command, in the order --help lists them.
const std::vector<CommandEntry>& Commands();

struct Invocation {
  std::string server;
  std::string alias;
  bool json = false;
  bool quiet = false;
  Operation operation;
};

// Parses the arguments (argv[0] is the program). On success returns an
// invocation with its operation set. Otherwise the returned invocation has
// no operation and `status` is the exit status: 0 after --help (the help of
// the program or of the command, on `out`), kExitUsage after a usage error
// (a line naming what was wrong and the usage line, on `err`).
Invocation ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                            int& status);

// Runs the invocation as the engine's host; needs the runtime installed.
// The run log is echoed to the error stream unless `quiet`. The session is
// created and logged on with server, a line feed and alias; a failure is
// reported as "tarnwick-host: cannot log on to SERVER as ALIAS: DESCRIPTION"
// and gives kExitNoResult. Then GALEntries is set, one KVL object made, the
// operation run with results on standard output, the object released and
// the session logged off. Returns the operation's status, kExitNoResult when
// the results could not be written, or 128 + the signal's number (with a
// line on the error stream) when a stop signal arrived before the operation
// ended, since its output is then incomplete. An exception from the
// operation is logged and reported as by tarnwick (kExitNoResult). Leaves
// every global it set released.
int Run(const Invocation& invocation, std::FILE* results = stdout);

}  // namespace host

#endif  // TARNWICK_HOST_HOST_H_
