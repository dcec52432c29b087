// The directory side of the memory backend: GC:// bindings and the
// connection / command / record set objects, over an organisation's
// DirectoryData. Each object asks `current` for the directory of the
// logged-on organisation at the moment it is used; nullptr there means no
// directory can be reached (0x8007203A).
#ifndef TARNWICK_PLATFORM_MEMORY_DIRECTORY_COMMANDS_H_
#define TARNWICK_PLATFORM_MEMORY_DIRECTORY_COMMANDS_H_

#include <functional>
#include <memory>
#include <string>

#include "platform/directory.h"
#include "platform/memory/directory_data.h"
#include "platform/memory/faults.h"

namespace platform::memory {

struct DirectoryContext {
  const DirectoryData* data = nullptr;
  std::string root_domain_naming_context;  // DN of the forest root domain
  bool global_catalog = true;              // false: every GC:// binding fails
  FaultPlan* faults = nullptr;
};
// Gives the context of the logged-on organisation, kept alive by the
// pointer, or nullptr.
using DirectoryContextSource = std::function<std::shared_ptr<const DirectoryContext>()>;

std::shared_ptr<DirectoryBinder> NewDirectoryBinder(DirectoryContextSource current);
std::shared_ptr<Connection> NewConnection(DirectoryContextSource current);
std::shared_ptr<Command> NewCommand(DirectoryContextSource current);

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_DIRECTORY_COMMANDS_H_
