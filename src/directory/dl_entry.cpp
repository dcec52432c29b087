#include "directory/dl_entry.h"

#include "driver/globals.h"
#include "platform/on_error.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace basCDO {

std::shared_ptr<platform::AddressEntry> GetDLEntry(const std::string& name,
                                                   const std::string& smtp) {
  OnError err;
  auto entry = err.Run([&] { return Obj(basGlobals::GALEntries).ItemByName(name); });
  if (err.Pending() || !entry) return nullptr;
  const std::string display_name = err.Run([&] { return entry->Name(); });
  const std::string entry_smtp =
      err.Run([&] { return entry->Field(platform::tag::kSmtpAddress).ToText(); });
  const int32_t display_type = err.Run([&] { return entry->DisplayType(); });
  if (err.Pending()) return nullptr;
  if (text::EqualsNoCase(display_name, name) && text::EqualsNoCase(entry_smtp, smtp) &&
      display_type == platform::display_type::kDistList) {
    return entry;
  }
  return nullptr;
}

}  // namespace basCDO
