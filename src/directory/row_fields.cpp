#include "directory/row_fields.h"

#include <utility>

#include "platform/on_error.h"

namespace directory {
namespace {

// Taken by value: a row's text is moved out of it, not copied.
std::string TextOrEmpty(platform::Variant value) {
  return value.IsNull() ? std::string() : std::move(value).ToText();
}

}  // namespace

std::string FieldText(const std::shared_ptr<platform::Recordset>& rs, const std::string& name) {
  platform::OnError err;
  return err.Run([&] { return TextOrEmpty(platform::Obj(rs).Field(name)); });
}

std::string FieldText(const std::shared_ptr<platform::Recordset>& rs, int32_t position) {
  platform::OnError err;
  return err.Run([&] { return TextOrEmpty(platform::Obj(rs).FieldAt(position)); });
}

}  // namespace directory
