// A keyed collection of texts: the registry of lists expanded in one run.
// Adding under a key that is present raises 457 and changes nothing; that
// failure is how the engine tells a repeat. Keys compare exactly (callers
// lower-case them first).
#ifndef TARNWICK_ENGINE_KEYED_COLLECTION_H_
#define TARNWICK_ENGINE_KEYED_COLLECTION_H_

#include <cstddef>
#include <string>
#include <unordered_map>

#include "platform/error.h"

class KeyedCollection {
 public:
  void Add(const std::string& item, const std::string& key) {
    if (!items_.emplace(key, item).second)
      throw platform::PlatformError(platform::errnum::kKeyAlreadyPresent);
  }
  bool Contains(const std::string& key) const { return items_.count(key) != 0; }
  size_t Count() const { return items_.size(); }

 private:
  std::unordered_map<std::string, std::string> items_;
};

#endif  // TARNWICK_ENGINE_KEYED_COLLECTION_H_
