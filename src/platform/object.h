// Automation objects and the factory that creates them by class name.
#ifndef TARNWICK_PLATFORM_OBJECT_H_
#define TARNWICK_PLATFORM_OBJECT_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform {

// Base of every platform object. Objects are reference counted through
// std::shared_ptr: an object is released when its last holder lets go.
class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
};

// Creates objects by class name ("MAPI.Session", "ZQHelper.ZQMAPIUtils",
// "ADODB.Connection", ...). A backend registers the names it serves; a
// creator may itself raise (for example 429 when its library is switched off).
class ObjectFactory {
 public:
  using Creator = std::function<std::shared_ptr<AutomationObject>()>;

  void Register(const std::string& class_name, Creator creator);
  void Unregister(const std::string& class_name);

  // The new object. Raises 429 for a name nobody registered, or whatever the
  // creator raises. May give nullptr when the creator yields no object.
  std::shared_ptr<AutomationObject> Create(std::string_view class_name) const;

  // Create() as the interface T; raises 13 (type mismatch) when the object is
  // not a T.
  template <class T>
  std::shared_ptr<T> CreateAs(std::string_view class_name) const {
    auto object = Create(class_name);
    if (!object) return nullptr;
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (!typed) throw PlatformError(errnum::kTypeMismatch);
    return typed;
  }

 private:
  // Searched by view: a class name given as a constant makes no string.
  std::map<std::string, Creator, std::less<>> creators_;
};

}  // namespace platform

#endif  // TARNWICK_PLATFORM_OBJECT_H_
