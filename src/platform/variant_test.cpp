#include "platform/variant.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"

namespace platform {
namespace {

// A value about to go hands its text over; any other value converts as a
// kept one does, failures included.
TEST(VariantTest, ToTextOfAGoingValueConvertsAsOfAKeptOne) {
  const std::string long_text(40, 'x');  // past the small-string buffer
  for (const Variant& kept :
       {Variant(long_text), Variant("short"), Variant(int32_t{7}), Variant(true), Variant()}) {
    Variant going = kept;
    EXPECT_EQ(std::move(going).ToText(), kept.ToText());
  }
  for (Variant going : {Variant(Variant::Null{}), Variant::TextArray(std::vector<std::string>{})}) {
    EXPECT_THROW(std::move(going).ToText(), PlatformError);
  }
}

// The array made from views holds copies, in order, and looks at texts in
// place.
TEST(VariantTest, TextArrayFromViewsCopiesEachText) {
  std::string first = "SMTP:a@x";
  const std::vector<std::string_view> views = {first, "smtp:b@x"};
  const Variant array = Variant::TextArray(views);
  first[0] = 'X';
  ASSERT_NE(array.Array(), nullptr);
  ASSERT_EQ(array.Array()->items.size(), 2u);
  ASSERT_NE(array.Array()->items[0].Text(), nullptr);
  EXPECT_EQ(*array.Array()->items[0].Text(), "SMTP:a@x");
  EXPECT_EQ(array.Array()->items[1].ToText(), "smtp:b@x");
  EXPECT_EQ(Variant(int32_t{3}).Text(), nullptr);
}

}  // namespace
}  // namespace platform
