#include "driver/switches.h"

#include <array>

#include "platform/text.h"

namespace modTest {

std::string JoinArguments(int argc, const char* const* argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  return joined;
}

Switches ParseSwitches(std::string_view argument_text) {
  Switches switches;
  struct Rule {
    std::string_view prefix;
    std::string Switches::*target;
  };
  // The order matters: a piece "/a..." must be taken by "/a" before "a"
  // could see it, and "a" is tested before "s" and "l".
  static constexpr std::array<Rule, 6> kRules = {{
      {"/a", &Switches::alias},
      {"a", &Switches::alias},
      {"/s", &Switches::server},
      {"s", &Switches::server},
      {"/l", &Switches::list},
      {"l", &Switches::list},
  }};
  for (const std::string& piece : text::Split(argument_text, " /")) {
    for (const Rule& rule : kRules) {
      if (text::StartsWith(piece, rule.prefix)) {
        switches.*rule.target = text::Trim(std::string_view(piece).substr(rule.prefix.size()));
        break;
      }
    }
  }
  return switches;
}

}  // namespace modTest
