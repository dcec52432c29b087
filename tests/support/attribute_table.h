// A directory object made of a fixed table of attributes, for evaluating
// filters without a directory (filter tests and the filter fuzz target).
#ifndef TARNWICK_TESTS_SUPPORT_ATTRIBUTE_TABLE_H_
#define TARNWICK_TESTS_SUPPORT_ATTRIBUTE_TABLE_H_

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ldap_filter.h"
#include "platform/text.h"

namespace tarnwick_test {

class AttributeTable final : public platform::ldapfilter::AttributeSource {
 public:
  using Attributes = std::vector<std::pair<std::string, std::vector<std::string>>>;

  AttributeTable(std::initializer_list<Attributes::value_type> attributes)
      : attributes_(attributes) {
    MakeViews();
  }
  explicit AttributeTable(Attributes attributes) : attributes_(std::move(attributes)) {
    MakeViews();
  }
  AttributeTable(const AttributeTable& other) : attributes_(other.attributes_) { MakeViews(); }
  AttributeTable& operator=(const AttributeTable&) = delete;

  // Names compared without regard to case, as the directory does.
  std::span<const std::string_view> Values(std::string_view attribute) const override {
    for (size_t i = 0; i < attributes_.size(); ++i) {
      if (text::EqualsNoCase(attributes_[i].first, attribute)) return views_[i];
    }
    return {};
  }

 private:
  // The values as views, made once the strings no longer move.
  void MakeViews() {
    for (const auto& [name, values] : attributes_) {
      views_.emplace_back(values.begin(), values.end());
    }
  }

  Attributes attributes_;
  std::vector<std::vector<std::string_view>> views_;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_TESTS_SUPPORT_ATTRIBUTE_TABLE_H_
