#include "host/host.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "driver/globals.h"
#include "driver/modtest.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "platform/messaging.h"
#include "platform/on_error.h"
#include "platform/process.h"
#include "platform/runtime.h"

namespace host {
namespace {

constexpr char kUsageLine[] =
    "usage: tarnwick-host -s SERVER -a ALIAS [--json] [-q] COMMAND [ARGUMENTS] "
    "(tarnwick-host --help lists the commands)";

// The host's StdOut: the run log's echo goes to the error stream, so that
// standard output carries the results alone.
class ErrorStreamEcho final : public platform::TextStream {
 public:
  explicit ErrorStreamEcho(std::shared_ptr<platform::ProcessServices> process)
      : process_(std::move(process)) {}
  bool WriteLine(const std::string& line) override {
    process_->ReportError(line);
    return true;
  }

 private:
  std::shared_ptr<platform::ProcessServices> process_;
};

// StdOut under -q. A stream that takes nothing, rather than none: the
// failure report of a run would otherwise borrow standard output for its
// echo, among the results.
class Discard final : public platform::TextStream {
 public:
  bool WriteLine(const std::string&) override { return true; }
};

std::string TextValue(const nlohmann::ordered_json& value) {
  std::string text;
  if (value.is_string()) {
    text = value.get<std::string>();
  } else if (value.is_boolean()) {
    text = value.get<bool>() ? "true" : "false";
  } else if (value.is_array()) {
    for (const auto& element : value) {
      if (!text.empty()) text += ';';
      text += TextValue(element);
    }
    return text;
  } else if (!value.is_null()) {
    text = value.dump();
  }
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

void UsageError(std::ostream& err, const std::string& what) {
  err << kProgram << ": " << what << '\n' << kUsageLine << '\n';
}

int RunLoggedOn(const Invocation& invocation, platform::ProcessServices& process,
                std::FILE* results) {
  ResultWriter out(results, invocation.json);
  int status = kExitNoResult;
  {
    // The object is released (and its destruction done) before the logoff.
    KVL kvl;
    Context context{kvl, out};
    status = invocation.operation(context);
  }
  // A stop that arrived by now cut the operation short, or would have at
  // its next checkpoint: its output cannot be taken for the whole result.
  const int stop_status = modTest::CompletedRunStatus(&process);
  platform::OnError err;
  err.Run([] { basGlobals::MAPISession->Logoff(); });
  if (!out.Finish()) {
    process.ReportError(std::string(kProgram) + ": cannot write the results to standard output");
    status = kExitNoResult;
  }
  if (stop_status != modTest::kExitComplete) {
    process.ReportError(std::string(kProgram) + ": stopped early " + modTest::StopCause(&process) +
                        "; the output is incomplete");
    return stop_status;
  }
  return status;
}

}  // namespace

CLI::Validator NotBlank() {
  return CLI::Validator(
      [](std::string& value) {
        return value.find_first_not_of(' ') == std::string::npos ? std::string("must not be empty")
                                                                 : std::string();
      },
      "", "NotBlank");
}

void ResultWriter::Row(const std::vector<Field>& fields) {
  std::string line;
  if (json_) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const Field& field : fields) object[field.key] = field.value;
    line = object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  } else {
    bool first = true;
    for (const Field& field : fields) {
      if (!field.in_text) continue;
      if (!first) line += '\t';
      line += TextValue(field.value);
      first = false;
    }
  }
  line += '\n';
  if (std::fwrite(line.data(), 1, line.size(), out_) != line.size()) failed_ = true;
}

void ResultWriter::NamedValues(const std::vector<Named>& values) {
  if (json_) {
    std::vector<Field> fields;
    fields.reserve(values.size());
    for (const Named& named : values) fields.push_back(named.field);
    Row(fields);
    return;
  }
  for (const Named& named : values) Row({{"name", named.name}, named.field});
}

bool ResultWriter::Finish() {
  if (std::fflush(out_) != 0) failed_ = true;
  return !failed_;
}

Invocation ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                            int& status) {
  Invocation invocation;
  CLI::App app(
      "Runs one operation of the contact-list engine against an organisation and prints its "
      "result: tab-separated text, or one JSON object a line with --json. The run log goes to "
      "Tarnwick.log beside the program and is echoed to standard error.",
      kProgram);
  app.add_option("-s,--server", invocation.server,
                 "profile file of the organisation, or the ldap:// URL of its directory server")
      ->required()
      ->check(NotBlank())
      ->type_name("SERVER");
  app.add_option("-a,--alias", invocation.alias, "alias of the mailbox to log on as")
      ->required()
      ->check(NotBlank())
      ->type_name("ALIAS");
  app.add_flag("--json", invocation.json, "print each result as one JSON object a line");
  app.add_flag("-q,--quiet", invocation.quiet, "do not echo the run log to standard error");
  app.require_subcommand(1);
  // The program's options are accepted after the command too.
  app.fallthrough();

  std::vector<std::pair<CLI::App*, Operation>> commands;
  for (const CommandEntry& entry : Commands()) {
    CLI::App* command = app.add_subcommand(entry.name, entry.summary);
    commands.emplace_back(command, entry.declare(*command));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    status = 0;
    return invocation;
  } catch (const CLI::ParseError& e) {
    // CLI11 would only say that a command is required; name the word it
    // could not take for one.
    const auto left = app.remaining();
    if (app.get_subcommands().empty() && !left.empty() && left.front().rfind('-', 0) != 0) {
      UsageError(err, "unknown command '" + left.front() + "'");
    } else {
      UsageError(err, e.what());
    }
    status = kExitUsage;
    return invocation;
  }
  for (const auto& [command, operation] : commands) {
    if (command->parsed()) invocation.operation = operation;
  }
  status = 0;
  return invocation;
}

int Run(const Invocation& invocation, std::FILE* results) {
  const basGlobals::SessionRelease release;
  // The public store of an earlier run's organisation is not this one's.
  basCDO::ResetPublicStoreID();
  const std::shared_ptr<platform::ProcessServices> process = platform::CurrentRuntime().process;
  basGlobals::ServerName = invocation.server;
  basGlobals::MailboxAlias = invocation.alias;
  basGlobals::StdOut = invocation.quiet
                           ? std::shared_ptr<platform::TextStream>(std::make_shared<Discard>())
                           : std::make_shared<ErrorStreamEcho>(process);
  try {
    platform::OnError err;
    basGlobals::MAPISession =
        err.Run([] { return platform::CreateObjectAs<platform::Session>("MAPI.Session"); });
    if (err.Pending() || !basGlobals::MAPISession) {
      process->ReportError(std::string(kProgram) + ": cannot create the messaging session: " +
                           std::to_string(err.Number()) + " " + err.Description());
      return kExitNoResult;
    }
    err.Run([&] { basGlobals::MAPISession->Logon(invocation.server + "\n" + invocation.alias); });
    if (err.Pending()) {
      process->ReportError(std::string(kProgram) + ": cannot log on to " + invocation.server +
                           " as " + invocation.alias + ": " + err.Description());
      return kExitNoResult;
    }
    // Member lists met inside query-based lists are looked up there by name.
    basGlobals::GALEntries =
        err.Run([] { return basGlobals::MAPISession->GlobalAddressEntries(); });
    return RunLoggedOn(invocation, *process, results);
  } catch (...) {
    // Reported while StdOut is still the host's, so that the echo of the
    // failure line stays off standard output.
    return modTest::ReportFailure(std::current_exception(), kProgram);
  }
}

}  // namespace host
