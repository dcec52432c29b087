#include "platform/memory/memory_backend.h"

#include <functional>
#include <string_view>
#include <utility>

#include "platform/directory.h"
#include "platform/error.h"
#include "platform/helper_library.h"
#include "platform/memory/directory_commands.h"
#include "platform/memory/helper_objects.h"
#include "platform/memory/helper_tables.h"
#include "platform/memory/logon.h"
#include "platform/memory/organisation.h"
#include "platform/memory/session.h"
#include "platform/text.h"

namespace platform::memory {

std::shared_ptr<Organisation> LoadProfile(const std::string& profile_path) {
  return LoadOrganisationFile(profile_path);
}

std::shared_ptr<Organisation> LoadFromText(const std::string& profile_json, const std::string& ldif,
                                           const std::string& origin) {
  return LoadOrganisationText(profile_json, ldif, origin);
}

FaultPlan& Faults(Organisation& organisation) { return organisation.faults(); }

OpenCounts OpenObjects(const Organisation& organisation) { return *organisation.open_counts(); }

OrganisationSource ProfileFileSource(std::function<bool()> stop,
                                     ServerDirectoryOpener open_server) {
  return [stop = std::move(stop), open_server = std::move(open_server)](
             const std::string& server) -> std::shared_ptr<Organisation> {
    if (IsServerUrl(server)) {
      if (!open_server) throw ProfileError(server + ": directory servers cannot be reached here");
      ServerDirectorySettings settings;
      settings.url = server;
      settings.origin = server;
      try {
        return OrganisationOverServer(open_server(settings));
      } catch (const ServerDirectoryError& e) {
        throw ProfileError(e.what());
      }
    }
    if (server.empty()) return nullptr;
    // Every other server is taken for a profile path, so a misspelt one is
    // reported as the file it names ("cannot open the file: No such file
    // or directory") instead of failing the logon without a word.
    return LoadOrganisationFile(server, stop, open_server);
  };
}

OrganisationSource FixedSource(std::shared_ptr<Organisation> organisation) {
  return [organisation = std::move(organisation)](const std::string& /*server*/) {
    return organisation;
  };
}

namespace {

// What every creator of one installed backend shares: the logons of the
// sessions it made, so that the factory and the directory follow the
// organisation of the most recent one.
struct Backend {
  OrganisationSource source;
  LogonRegistry logons;

  std::shared_ptr<Organisation> Current() {
    const auto logon = logons.Current();
    return logon ? logon->organisation : nullptr;
  }

  // The fault plan of the most recent logon, for the creators' FaultHit;
  // none while nothing is logged on.
  FaultPlan* Faults() { return FaultsOf(Current().get()); }
  static FaultPlan* FaultsOf(Organisation* organisation) {
    return organisation != nullptr ? &organisation->faults() : nullptr;
  }
};

// The creator of a helper library class: the creation fault, then the
// library's presence, then the object, all for the organisation of the
// most recent logon, looked up once (a query-based list creates a helper
// session per member).
template <OperationName kFault, class Make>
ObjectFactory::Creator HelperCreator(std::shared_ptr<Backend> backend, Make make) {
  return [backend = std::move(backend), make]() -> std::shared_ptr<AutomationObject> {
    const auto organisation = backend->Current();
    if (FaultHit<kFault>(Backend::FaultsOf(organisation.get()))) return nullptr;
    if (organisation && !organisation->settings().helper_library) {
      throw PlatformError(errnum::kClassNotRegistered);
    }
    return make(organisation ? organisation->open_counts() : nullptr);
  };
}

// The fault names of the creators are spelt out, so that they are fixed at
// compile time; they must stay those of the class names.
constexpr bool IsCreateName(std::string_view operation, std::string_view class_name) {
  constexpr std::string_view kPrefix = "CreateObject:";
  return operation.substr(0, kPrefix.size()) == kPrefix &&
         operation.substr(kPrefix.size()) == class_name;
}
static_assert(IsCreateName("CreateObject:ZQHelper.ZQMAPIUtils", kUtilsClass));
static_assert(IsCreateName("CreateObject:ZQHelper.RDOSession", kRdoSessionClass));
static_assert(IsCreateName("CreateObject:ZQHelper.ZQMAPIFolder", kHelperFolderClass));
static_assert(IsCreateName("CreateObject:ZQHelper.ZQMAPITable", kHelperTableClass));
static_assert(IsCreateName("CreateObject:ADODB.Connection", kConnectionClass));
static_assert(IsCreateName("CreateObject:ADODB.Command", kCommandClass));

}  // namespace

void Install(Runtime& runtime, OrganisationSource source) {
  auto backend = std::make_shared<Backend>();
  backend->source = std::move(source);
  // The registry is shared with every session through an aliasing pointer,
  // so sessions keep it alive without owning the factory.
  const std::shared_ptr<LogonRegistry> registry(backend, &backend->logons);

  const DirectoryContextSource context = [backend]() -> std::shared_ptr<const DirectoryContext> {
    const auto organisation = backend->Current();
    if (!organisation) return nullptr;
    return std::shared_ptr<const DirectoryContext>(organisation,
                                                   &organisation->directory_context());
  };

  runtime.factory.Register("MAPI.Session",
                           [backend, registry]() -> std::shared_ptr<AutomationObject> {
                             if (FaultHit<"CreateObject:MAPI.Session">(backend->Faults()))
                               return nullptr;
                             return NewSession(backend->source, registry);
                           });
  runtime.factory.Register(
      kUtilsClass, HelperCreator<"CreateObject:ZQHelper.ZQMAPIUtils">(
                       backend, [](const auto& /*open_counts*/) { return NewZQMAPIUtils(); }));
  runtime.factory.Register(kRdoSessionClass,
                           HelperCreator<"CreateObject:ZQHelper.RDOSession">(
                               backend, [](const auto& counts) { return NewRDOSession(counts); }));
  runtime.factory.Register(
      kHelperFolderClass, HelperCreator<"CreateObject:ZQHelper.ZQMAPIFolder">(
                              backend, [](const auto& counts) { return NewZQMAPIFolder(counts); }));
  runtime.factory.Register(kHelperTableClass,
                           HelperCreator<"CreateObject:ZQHelper.ZQMAPITable">(
                               backend, [](const auto& counts) { return NewZQMAPITable(counts); }));
  runtime.factory.Register(kConnectionClass,
                           [backend, context]() -> std::shared_ptr<AutomationObject> {
                             if (FaultHit<"CreateObject:ADODB.Connection">(backend->Faults()))
                               return nullptr;
                             return NewConnection(context);
                           });
  runtime.factory.Register(kCommandClass,
                           [backend, context]() -> std::shared_ptr<AutomationObject> {
                             if (FaultHit<"CreateObject:ADODB.Command">(backend->Faults()))
                               return nullptr;
                             return NewCommand(context);
                           });
  runtime.directory = NewDirectoryBinder(context);
}

}  // namespace platform::memory
