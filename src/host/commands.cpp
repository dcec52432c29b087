// The commands of tarnwick-host. Each is a declare function (its arguments
// and the operation reading them) and one row in the table at the end.
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "engine/kvl.h"
#include "engine/person_sink.h"
#include "host/host.h"
#include "platform/variant.h"

namespace host {

// The operations of the engine that only a host calls; KVL keeps them
// internal and names this class its friend.
class EngineAccess {
 public:
  static void GetAllProxies(KVL& kvl, const std::string& lookup, std::string& proxies,
                            std::string& x500, std::string& odn, bool replace_odn,
                            bool check_existing) {
    kvl.GetAllProxies(lookup, proxies, x500, odn, replace_odn, check_existing);
  }
  static void GetEmailValues(KVL& kvl, const platform::Variant& values, std::string& filter,
                             std::string& list) {
    kvl.GetEmailValues(values, filter, list);
  }
};

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

Operation DeclareProxies(CLI::App& command) {
  struct Arguments {
    std::string lookup, proxies, x500, odn;
    bool replace_odn = false;
    bool check_existing = false;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("LOOKUP", args->lookup, "the address, name or ODN to resolve")
      ->required()
      ->check(NotBlank());
  command.add_option("--proxies", args->proxies, "the SMTP proxy list to extend (\";\"-separated)");
  command.add_option("--x500", args->x500, "the X500 proxy list to extend");
  command.add_option("--odn", args->odn, "the person's current ODN");
  command.add_flag("--replace-odn", args->replace_odn,
                   "weigh a set ODN against the entry found, which may replace or clear it");
  command.add_flag("--check-existing", args->check_existing,
                   "stop at once when LOOKUP is already in either list");
  return [args](Context& context) {
    std::string proxies = args->proxies;
    std::string x500 = args->x500;
    std::string odn = args->odn;
    EngineAccess::GetAllProxies(context.kvl, args->lookup, proxies, x500, odn, args->replace_odn,
                                args->check_existing);
    context.out.NamedValues({{"Proxies", {"proxies", proxies}},
                             {"X500Proxies", {"x500Proxies", x500}},
                             {"ODN", {"odn", odn}}});
    return kExitResult;
  };
}

Operation DeclareEmailFilter(CLI::App& command) {
  auto values = std::make_shared<std::vector<std::string>>();
  command.add_option("VALUES", *values, "up to three e-mail values of a contact")->expected(0, 3);
  return [values](Context& context) {
    // The operation reads the elements at indices 1 to 3 of a 1-based array.
    platform::VariantArray items;
    items.lower_bound = 1;
    for (const std::string& value : *values) items.items.emplace_back(value);
    const platform::Variant array(std::move(items));
    std::string filter;
    std::string list;
    EngineAccess::GetEmailValues(context.kvl, array, filter, list);
    context.out.NamedValues({{"Filter", {"filter", filter}}, {"List", {"list", list}}});
    return kExitResult;
  };
}

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
      {"proxies", "gather the ODN and the SMTP and X500 proxies of an address", DeclareProxies},
      {"email-filter", "build the record filter that finds a contact by its e-mail values",
       DeclareEmailFilter},
  };
  return commands;
}

}  // namespace host
