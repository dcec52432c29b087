#include <gtest/gtest.h>

#include <string>

#include "driver/value_helpers.h"
#include "platform/variant.h"

namespace modTest {
namespace {

using platform::Variant;
using platform::VariantArray;

Variant Numbers(std::initializer_list<int32_t> values) {
  VariantArray array;
  for (const int32_t v : values) array.items.emplace_back(v);
  return Variant(std::move(array));
}

TEST(TrimDelimiterTest, RemovesWholeDelimitersAtBothEndsInPlace) {
  std::string text = ";;a;b;;";
  EXPECT_EQ(TrimDelimiter(text, ";"), "a;b");
  EXPECT_EQ(text, "a;b");

  std::string only = ";;;";
  EXPECT_EQ(TrimDelimiter(only, ";"), "");
  std::string inner = "a;b";
  EXPECT_EQ(TrimDelimiter(inner, ";"), "a;b");

  // Longer delimiters: only whole occurrences go, a part of one stays.
  std::string multi = "<>x<><";
  EXPECT_EQ(TrimDelimiter(multi, "<>"), "x<><");
  std::string overlap = ";;;";
  EXPECT_EQ(TrimDelimiter(overlap, ";;"), ";");
}

TEST(TrimDelimiterTest, EmptyDelimiterLeavesTextUnchanged) {
  std::string text = ";a;";
  EXPECT_EQ(TrimDelimiter(text, ""), ";a;");
  EXPECT_EQ(text, ";a;");
}

TEST(IsValidArrayTest, OnlySizedArraysAreValid) {
  EXPECT_FALSE(IsValidArray(Variant()));
  EXPECT_FALSE(IsValidArray(Variant(Variant::Null{})));
  EXPECT_FALSE(IsValidArray(Variant("0A")));
  VariantArray never_sized;
  never_sized.sized = false;
  EXPECT_FALSE(IsValidArray(Variant(never_sized)));
  EXPECT_TRUE(IsValidArray(Variant(VariantArray{})));
  EXPECT_TRUE(IsValidArray(Numbers({1, 2})));
}

TEST(BytesToHexTest, EachElementGivesAtLeastTwoUppercaseDigits) {
  EXPECT_EQ(BytesToHex(Numbers({0, 10, 255})), "000AFF");
  EXPECT_EQ(BytesToHex(Numbers({0x1234, 1})), "123401");
  EXPECT_EQ(BytesToHex(Variant(VariantArray{})), "");
  // Elements held as short integers or as texts of numbers convert too.
  VariantArray mixed;
  mixed.items = {Variant(int16_t{171}), Variant("15")};
  EXPECT_EQ(BytesToHex(Variant(mixed)), "AB0F");
}

TEST(BytesToHexTest, AnythingButAValidArrayOfNumbersGivesEmptyText) {
  EXPECT_EQ(BytesToHex(Variant()), "");
  EXPECT_EQ(BytesToHex(Variant("00FF")), "");
  EXPECT_EQ(BytesToHex(Variant(int32_t{255})), "");
  VariantArray never_sized;
  never_sized.sized = false;
  never_sized.items.emplace_back(int32_t{1});
  EXPECT_EQ(BytesToHex(Variant(never_sized)), "");
  // A partial identifier would name another object: no text at all.
  VariantArray broken;
  broken.items = {Variant(int32_t{1}), Variant(Variant::Null{}), Variant(int32_t{2})};
  EXPECT_EQ(BytesToHex(Variant(broken)), "");
}

}  // namespace
}  // namespace modTest
