// Fuzz target "host_args": the command line of tarnwick-host,
// host::ParseCommandLine (CLI11 and the command table).
//
// The input is the argument list after the program name, the arguments
// separated by NUL bytes. Parsing must end in one of three ways, whatever
// the words: an invocation to run (server, alias and operation all set, the
// server and alias not blank), help (status 0, text on the output stream),
// or a usage error (status 2, a line on the error stream naming what was
// wrong). Anything else, and any exception, is a finding.
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/finding.h"
#include "host/host.h"

namespace {

bool Blank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  std::vector<std::string> words = {"tarnwick-host"};
  size_t start = 0;
  while (start <= input.size()) {
    const size_t end = std::min(input.find('\0', start), input.size());
    words.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  argv.reserve(words.size());
  for (const std::string& word : words) argv.push_back(word.c_str());

  std::ostringstream out;
  std::ostringstream err;
  int status = -1;
  const host::Invocation invocation =
      host::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, status);
  if (invocation.operation) {
    if (Blank(invocation.server) || Blank(invocation.alias)) {
      fuzz::Finding("an invocation with a blank server or alias", std::string(input));
    }
    return 0;
  }
  if (status == 0) {
    if (out.str().empty()) fuzz::Finding("help with no text", std::string(input));
  } else if (status == host::kExitUsage) {
    if (err.str().empty()) fuzz::Finding("a usage error without a line", std::string(input));
  } else {
    fuzz::Finding("parsing ended with status " + std::to_string(status), std::string(input));
  }
  return 0;
}
