#include "directory/row_fields.h"

#include "platform/on_error.h"

namespace directory {
namespace {

std::string TextOrEmpty(const platform::Variant& value) {
  return value.IsNull() ? std::string() : value.ToText();
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
