// A directory object made of a fixed table of attributes, for evaluating
// filters without a directory (filter tests and the filter fuzz target).
#ifndef TARNWICK_TESTS_SUPPORT_ATTRIBUTE_TABLE_H_
#define TARNWICK_TESTS_SUPPORT_ATTRIBUTE_TABLE_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/memory/ldap_filter.h"
#include "platform/text.h"

namespace tarnwick_test {

class AttributeTable final : public platform::ldapfilter::AttributeSource {
 public:
  using Attributes = std::vector<std::pair<std::string, std::vector<std::string>>>;

  AttributeTable(std::initializer_list<Attributes::value_type> attributes)
      : attributes_(attributes) {}
  explicit AttributeTable(Attributes attributes) : attributes_(std::move(attributes)) {}

  // Names compared without regard to case, as the directory does.
  const std::vector<std::string>* Values(std::string_view attribute) const override {
    for (const auto& [name, values] : attributes_) {
      if (text::EqualsNoCase(name, attribute)) return &values;
    }
    return nullptr;
  }

 private:
  Attributes attributes_;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_TESTS_SUPPORT_ATTRIBUTE_TABLE_H_
