#include "platform/object.h"

#include <utility>

namespace platform {

void ObjectFactory::Register(const std::string& class_name, Creator creator) {
  creators_[class_name] = std::move(creator);
}

void ObjectFactory::Unregister(const std::string& class_name) { creators_.erase(class_name); }

std::shared_ptr<AutomationObject> ObjectFactory::Create(std::string_view class_name) const {
  const auto it = creators_.find(class_name);
  if (it == creators_.end()) throw PlatformError(errnum::kClassNotRegistered);
  return it->second();
}

}  // namespace platform
