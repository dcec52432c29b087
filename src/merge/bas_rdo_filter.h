// Module basRDO, message filtering: the messages of a folder found by
// property conditions through the helper library's folder table, and the
// conversions of table values.
#ifndef TARNWICK_MERGE_BAS_RDO_FILTER_H_
#define TARNWICK_MERGE_BAS_RDO_FILTER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/helper_library.h"
#include "platform/variant.h"

namespace basRDO {

// One condition: the property equals Value, whole and without regard to
// case. Tag, when not 0, is the property's whole tag; otherwise the
// property is the named property Name of the public-strings set, of type
// PropType (0 stands for 30, text, and is written back as 30).
struct FilterField {
  std::string Name;
  int32_t PropType = 0;
  int32_t Tag = 0;
  std::string Value;
};

// The long-term entry identifiers (upper-case hexadecimal) of the folder's
// messages that meet every condition, in the order the table's search
// meets them; empty when nothing matches and after any failure. May write
// the PropType default back into `fields`. Only a condition that cannot be
// added under the AND is logged, and the search runs without it; when none
// could be added, or a named condition's identifier or the single
// condition cannot be set up, there is no search at all, since the
// restriction left would match messages the conditions exclude. A stop
// request ends the walk with the identifiers met so far.
std::vector<std::string> FilterMsgsRDO(const std::shared_ptr<platform::ZQMAPIFolder>& folder,
                                       std::vector<FilterField>& fields);

// Adds a content condition (tag equals value, whole, ignoring case) under
// an AND restriction; a failure is logged and the condition left out.
void AddRestrictionRDO(const std::shared_ptr<platform::HelperRestriction>& parent,
                       const int32_t& tag, const std::string& value);

// A table value as the tag's property type expects it, or that type's
// neutral value; an empty variant for a type it does not know.
platform::Variant GetRowVal(const platform::Variant& value, const int32_t& tag);

// The property type of a tag: its low 16 bits.
int32_t GetPropType(int32_t tag);

}  // namespace basRDO

#endif  // TARNWICK_MERGE_BAS_RDO_FILTER_H_
