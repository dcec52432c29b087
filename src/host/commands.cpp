// The commands of tarnwick-host. Each is a declare function (its arguments
// and the operation reading them) and one row in the table at the end.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "engine/person_sink.h"
#include "folders/bas_cdo_folders.h"
#include "host/host.h"
#include "merge/bas_rdo_filter.h"
#include "platform/error.h"
#include "platform/helper_library.h"
#include "platform/on_error.h"
#include "platform/runtime.h"
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
  static bool GetMandatoryFolder(KVL& kvl) { return kvl.GetMandatoryFolder(); }
  static const std::shared_ptr<platform::Folder>& MCFolder(const KVL& kvl) { return kvl.MCFolder; }
  static std::shared_ptr<platform::Folder> GetHiddenFolder(
      KVL& kvl, const std::string& name, const std::shared_ptr<platform::Folder>& parent) {
    return kvl.GetHiddenFolder(name, parent);
  }
  static std::shared_ptr<platform::Message> FindMsgByTopicOrPIN(
      KVL& kvl, const std::shared_ptr<platform::Folder>& reg_folder, const std::string& topic,
      const std::string& pin) {
    kvl.RegFolder = reg_folder;
    return kvl.FindMsgByTopicOrPIN(topic, pin);
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

// A folder's identifier and name, read as the engine reads them: a member
// that fails leaves its value empty rather than ending the command.
std::vector<ResultWriter::Field> FolderFields(const std::shared_ptr<platform::Folder>& folder) {
  platform::OnError err;
  const std::string id = err.Run([&] { return platform::Obj(folder).ID(); });
  const std::string name = err.Run([&] { return platform::Obj(folder).Name(); });
  return {{"id", id}, {"name", name}};
}

int PrintFolder(Context& context, const std::shared_ptr<platform::Folder>& folder) {
  if (!folder) return kExitNoResult;
  context.out.Row(FolderFields(folder));
  return kExitResult;
}

// A message's identifier, class and subject, read as FolderFields reads a
// folder's.
std::vector<ResultWriter::Field> MessageFields(const std::shared_ptr<platform::Message>& message) {
  platform::OnError err;
  const std::string id = err.Run([&] { return platform::Obj(message).ID(); });
  const std::string message_class = err.Run([&] { return platform::Obj(message).Class(); });
  const std::string subject = err.Run([&] { return platform::Obj(message).Subject(); });
  return {{"id", id}, {"class", message_class}, {"subject", subject}};
}

Operation DeclareFolder(CLI::App& command) {
  struct Arguments {
    std::string path, id;
    bool by_id = false;  // an empty --id still names the identifier route
  };
  auto args = std::make_shared<Arguments>();
  auto* path = command.add_option(
      "PATH", args->path,
      "display path: \"Public Folders\\All Public Folders\\...\" or the mailbox store's name "
      "followed by folder names, separated by \"\\\"");
  auto* id = command.add_option("--id", args->id, "open the folder by its identifier instead");
  path->excludes(id);
  id->excludes(path);
  command.require_option(1);
  // The options belong to the parser, which is gone when the operation
  // runs: what they tell is taken while it still stands.
  command.callback([args, id] { args->by_id = id->count() > 0; });
  return [args](Context& context) {
    if (args->by_id) return PrintFolder(context, basCDO::GetFolder(args->id));
    return PrintFolder(context, basCDO::GetTargetFolder(args->path));
  };
}

Operation DeclareMessage(CLI::App& command) {
  auto id = std::make_shared<std::string>();
  command.add_option("ID", *id, "the message's identifier")->required();
  return [id](Context& context) {
    const auto message = basCDO::GetMessageByID(*id);
    if (!message) return kExitNoResult;
    context.out.Row(MessageFields(message));
    return kExitResult;
  };
}

Operation DeclarePublicStore(CLI::App& /*command*/) {
  return [](Context& context) {
    const std::string id = basCDO::GetPublicStoreID();
    if (id.empty()) return kExitNoResult;
    context.out.Row({{"id", id}});
    return kExitResult;
  };
}

Operation DeclareMandatory(CLI::App& command) {
  struct Arguments {
    std::string path, id;
    int calls = 1;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("--mc-path", args->path, "the Mandatory Contacts folder's display path");
  command.add_option("--mc-id", args->id, "the Mandatory Contacts folder's identifier");
  command
      .add_option("--calls", args->calls,
                  "calls to make on the one engine object (1 to 1000, default 1)")
      ->check(CLI::Range(1, 1000));
  return [args](Context& context) {
    basGlobals::MCFolderPath = args->path;
    basGlobals::MCFolderID = args->id;
    bool result = false;
    for (int call = 0; call < args->calls; ++call) {
      result = EngineAccess::GetMandatoryFolder(context.kvl);
      if (result) {
        auto fields = FolderFields(EngineAccess::MCFolder(context.kvl));
        fields.insert(fields.begin(), {"result", true});
        context.out.Row(fields);
      } else {
        context.out.Row({{"result", false},
                         {"id", nullptr, false},
                         {"name", nullptr, false}});
      }
    }
    return result ? kExitResult : kExitNoResult;
  };
}

Operation DeclareHiddenFolder(CLI::App& command) {
  struct Arguments {
    std::string parent, name;
  };
  auto args = std::make_shared<Arguments>();
  command
      .add_option("PARENT", args->parent,
                  "display path of the parent folder; \"\" passes no folder")
      ->required();
  // A blank name would add a folder that no display path can reach.
  command.add_option("NAME", args->name, "the subfolder's exact name")->required()->check(NotBlank());
  return [args](Context& context) {
    std::shared_ptr<platform::Folder> parent;
    if (!args->parent.empty()) {
      parent = basCDO::GetTargetFolder(args->parent);
      if (!parent) return kExitNoResult;
    }
    return PrintFolder(context, EngineAccess::GetHiddenFolder(context.kvl, args->name, parent));
  };
}

// One condition of filter-messages: "0xTAG=VALUE" (a whole property tag, 32-bit
// hexadecimal) or "NAME=VALUE" (a named property of the public strings, text);
// split at the first "=", so a value may hold "=". Anything else is refused
// while parsing, before the engine starts.
bool ParseCondition(const std::string& text, basRDO::FilterField* field, std::string* why) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    *why = "'" + text + "' is neither 0xTAG=VALUE nor NAME=VALUE";
    return false;
  }
  const std::string key = text.substr(0, equals);
  field->Value = text.substr(equals + 1);
  if (key.size() > 2 && key[0] == '0' && (key[1] == 'x' || key[1] == 'X')) {
    const std::string digits = key.substr(2);
    const bool hex = digits.size() <= 8 && digits.find_first_not_of("0123456789abcdefABCDEF") ==
                                               std::string::npos;
    if (!hex) {
      *why = "'" + key + "' is not a 32-bit hexadecimal property tag";
      return false;
    }
    field->Tag = static_cast<int32_t>(std::stoul(digits, nullptr, 16));
    if (field->Tag == 0) {
      *why = "'" + key + "' names no property (a tag of 0 stands for a property name)";
      return false;
    }
    return true;
  }
  if (key == "0x" || key == "0X") {
    *why = "'" + key + "' is not a 32-bit hexadecimal property tag";
    return false;
  }
  field->Name = key;
  field->PropType = 0;
  return true;
}

CLI::Validator Condition() {
  return CLI::Validator(
      [](std::string& value) {
        basRDO::FilterField field;
        std::string why;
        return ParseCondition(value, &field, &why) ? std::string() : why;
      },
      "", "Condition");
}

// A helper folder attached to the folder, or nullptr when the helper
// library cannot give one (the operations then log that they have none).
std::shared_ptr<platform::ZQMAPIFolder> HelperFolderFor(
    const std::shared_ptr<platform::Folder>& folder) {
  platform::OnError err;
  auto helper = err.Run(
      [] { return platform::CreateObjectAs<platform::ZQMAPIFolder>(platform::kHelperFolderClass); });
  err.Run([&] { platform::Obj(helper).SetFolder(folder); });
  return err.Pending() ? nullptr : helper;
}

Operation DeclareFilterMessages(CLI::App& command) {
  struct Arguments {
    std::string folder;
    std::vector<std::string> conditions;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("FOLDER", args->folder, "display path of the folder to search")->required();
  command
      .add_option("CONDITION", args->conditions,
                  "0xTAG=VALUE or NAME=VALUE; a message must meet all (whole value, any letter "
                  "case)")
      ->check(Condition());
  return [args](Context& context) {
    const auto folder = basCDO::GetTargetFolder(args->folder);
    if (!folder) return kExitNoResult;
    std::vector<basRDO::FilterField> fields;
    for (const std::string& text : args->conditions) {
      basRDO::FilterField field;
      std::string why;
      ParseCondition(text, &field, &why);
      fields.push_back(std::move(field));
    }
    const std::vector<std::string> ids = basRDO::FilterMsgsRDO(HelperFolderFor(folder), fields);
    for (const std::string& id : ids) context.out.Row({{"id", id}});
    return ids.empty() ? kExitNoResult : kExitResult;
  };
}

Operation DeclareFindMessage(CLI::App& command) {
  struct Arguments {
    std::string folder, topic, pin;
  };
  auto args = std::make_shared<Arguments>();
  command.add_option("REGFOLDER", args->folder, "display path of the folder to search")
      ->required();
  command.add_option("--topic", args->topic, "the conversation topic to find (taken first)");
  command.add_option("--pin", args->pin, "the \"PIN\" field to find when no topic is given");
  return [args](Context& context) {
    const auto folder = basCDO::GetTargetFolder(args->folder);
    if (!folder) return kExitNoResult;
    std::shared_ptr<platform::Message> message;
    try {
      message = EngineAccess::FindMsgByTopicOrPIN(context.kvl, folder, args->topic, args->pin);
    } catch (const platform::PlatformError& e) {
      // The one operation that raises: its failure is the host's to report.
      platform::CurrentRuntime().process->ReportError(
          std::string(kProgram) + ": " + std::to_string(e.number()) + " " + e.description());
      return kExitNoResult;
    }
    if (!message) return kExitNoResult;
    context.out.Row(MessageFields(message));
    return kExitResult;
  };
}

// Prints every contact the merge reads, as it reads it.
class ContactRows final : public engine::ContactSink {
 public:
  explicit ContactRows(ResultWriter& out) : out_(out) {}

  void OnContact(const engine::ContactRead& contact) override {
    nlohmann::ordered_json smtp = nlohmann::ordered_json::array();
    for (const std::string& address : contact.smtp) smtp.push_back(address);
    out_.Row({{"folder", contact.folder},
              {"repository", contact.repository, false},
              {"name", contact.name},
              {"smtp", smtp},
              {"odn", contact.odn},
              {"entryId", contact.entry_id}});
  }

 private:
  ResultWriter& out_;
};

Operation DeclareMerge(CLI::App& command) {
  auto folder = std::make_shared<std::string>();
  command
      .add_option("CONFIGFOLDER", *folder,
                  "display path of the folder holding the repository and ACF messages")
      ->required();
  return [folder](Context& context) {
    basGlobals::ConfigFolder = basCDO::GetTargetFolder(*folder);
    if (!basGlobals::ConfigFolder) return kExitNoResult;
    ContactRows rows(context.out);
    context.kvl.AttachContactSink(&rows);
    const bool result = context.kvl.MergeACF();
    context.kvl.AttachContactSink(nullptr);
    context.out.Row({{"result", result}});
    return result ? kExitResult : kExitNoResult;
  };
}

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
      {"folder", "open a folder by display path or identifier; print its identifier and name",
       DeclareFolder},
      {"message", "open a message by identifier; print its identifier, class and subject",
       DeclareMessage},
      {"public-store", "print the identifier of the public folder store", DeclarePublicStore},
      {"mandatory", "open the Mandatory Contacts folder, once or more on one engine object",
       DeclareMandatory},
      {"hidden-folder", "find or add the subfolder of a name under a folder", DeclareHiddenFolder},
      {"filter-messages", "print the identifiers of a folder's messages that meet conditions",
       DeclareFilterMessages},
      {"find-message", "find a message of a folder by conversation topic or PIN",
       DeclareFindMessage},
      {"merge", "read the repository's and the active ACFs' contacts, in trust-ranking order",
       DeclareMerge},
  };
  return commands;
}

}  // namespace host
