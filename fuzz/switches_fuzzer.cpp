// Fuzz target "switches": the command-line switch parser, ParseSwitches.
//
// The input is the argument text. ParseSwitches never fails, so the target
// checks what its values promise instead:
//  - a value has no blank at either end and never holds " /" (the text is
//    cut there);
//  - written back as "/s<server> /a<alias> /l<list>", the values read the
//    same again. Any value can be written that way, so a value the program
//    reads is one a user can also pass on purpose.
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/switches.h"
#include "fuzz/finding.h"

namespace {

void CheckValue(std::string_view name, const std::string& value, std::string_view input) {
  const bool blank_at_end = !value.empty() && (value.front() == ' ' || value.back() == ' ');
  if (blank_at_end || value.find(" /") != std::string::npos) {
    fuzz::Finding(std::string("the ") + std::string(name) + " value is not a trimmed piece",
                  "input: " + std::string(input) + "\nvalue: [" + value + "]");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  const modTest::Switches switches = modTest::ParseSwitches(input);
  CheckValue("server", switches.server, input);
  CheckValue("alias", switches.alias, input);
  CheckValue("list", switches.list, input);

  const std::string written =
      "/s" + switches.server + " /a" + switches.alias + " /l" + switches.list;
  const modTest::Switches again = modTest::ParseSwitches(written);
  if (again.server != switches.server || again.alias != switches.alias ||
      again.list != switches.list) {
    fuzz::Finding("the values read differently once written back",
                  "input:   " + std::string(input) + "\nwritten: " + written);
  }
  return 0;
}
