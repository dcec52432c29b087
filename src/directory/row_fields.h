// Reading member-query rows: a field as text, where a missing or unreadable
// value reads as "" and leaves no error behind.
#ifndef TARNWICK_DIRECTORY_ROW_FIELDS_H_
#define TARNWICK_DIRECTORY_ROW_FIELDS_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/directory.h"

namespace directory {

std::string FieldText(const std::shared_ptr<platform::Recordset>& rs, const std::string& name);
std::string FieldText(const std::shared_ptr<platform::Recordset>& rs, int32_t position);

}  // namespace directory

#endif  // TARNWICK_DIRECTORY_ROW_FIELDS_H_
