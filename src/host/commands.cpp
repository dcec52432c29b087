// The commands of tarnwick-host. Each is a declare function (its arguments
// and the operation reading them) and one row in the table at the end.
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/kvl.h"
#include "engine/person_sink.h"
#include "host/host.h"

namespace host {
namespace {

// Prints each person the first time it is met. A person is known by its ODN,
// else its SMTP address, else (a directory row with neither) its name: the
// engine reports the same person once per road and per list that holds it.
class FirstMetPersons final : public engine::PersonSink {
 public:
  explicit FirstMetPersons(ResultWriter& out) : out_(out) {}

  void OnPerson(const engine::ReportedPerson& person) override {
    const std::string key = !person.odn.empty()    ? "odn:" + person.odn
                            : !person.smtp.empty() ? "smtp:" + person.smtp
                                                   : "name:" + person.name;
    if (!seen_.insert(key).second) return;
    // The text form is name, SMTP, ODN; the road is in the JSON form only.
    out_.Row({{"name", person.name},
              {"smtp", person.smtp},
              {"odn", person.odn},
              {"via", engine::RoadName(person.road), false}});
  }

 private:
  ResultWriter& out_;
  std::unordered_set<std::string> seen_;
};

Operation DeclareExpand(CLI::App& command) {
  auto list = std::make_shared<std::string>();
  command
      .add_option("LIST", *list,
                  "addresses, names or ODNs separated by \";\", as tarnwick's /l takes them")
      ->required()
      ->check(NotBlank());
  return [list](Context& context) {
    FirstMetPersons persons(context.out);
    context.kvl.AttachPersonSink(&persons);
    context.kvl.ParseSourceMCL(*list);
    context.kvl.AttachPersonSink(nullptr);
    return kExitResult;
  };
}

}  // namespace

const std::vector<CommandEntry>& Commands() {
  static const std::vector<CommandEntry> commands = {
      {"expand", "expand lists and print every person they hold, once", DeclareExpand},
  };
  return commands;
}

}  // namespace host
