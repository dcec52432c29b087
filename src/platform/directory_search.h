// What the directory commands (GC:// bindings, ADO connection, command and
// record set) ask of a backend's directory: one object by DN, and the
// objects a command selects. The memory backend answers from its indexes,
// the ldap backend with searches on its server.
#ifndef TARNWICK_PLATFORM_DIRECTORY_SEARCH_H_
#define TARNWICK_PLATFORM_DIRECTORY_SEARCH_H_

#include <memory>
#include <string_view>
#include <vector>

#include "platform/dir_record.h"
#include "platform/directory_command.h"
#include "platform/ldap_filter.h"

namespace platform {

class DirectorySearch {
 public:
  virtual ~DirectorySearch() = default;

  // The object with that DN in any spelling of it (blanks, escapes, letter
  // case); nullptr when there is none. Raises 0x8007203A when the
  // directory cannot be reached.
  virtual std::shared_ptr<const DirRecord> Find(std::string_view dn) const = 0;

  // What a search gives: the rows in directory order, valid as long as
  // `keep` (or, when `keep` is null, as long as the directory).
  struct Rows {
    std::vector<const DirRecord*> rows;
    std::shared_ptr<const void> keep;
  };
  // The objects of the command's scope below its base that the filter (the
  // command's filter, parsed) matches. A "base" search from the empty base
  // gives no rows. Raises 0x80072030 when the base names no object,
  // 0x8007203A when the directory cannot be reached, 0x80040E14 when the
  // directory refuses the filter. Rows carry at least the command's
  // attributes.
  virtual Rows Search(const DirectoryCommand& command, const ldapfilter::Filter& filter) const = 0;

  // A record set names the row after its current one, a row of this
  // search's: the directory may start fetching what reading that row will
  // cost, while the caller works on the current one. Changes no answer
  // and never raises; the default does nothing.
  virtual void Anticipate(const DirRecord& /*next_row*/) const {}
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_DIRECTORY_SEARCH_H_
