#include "ui/number_text.h"

#include <climits>

#include <gtest/gtest.h>

namespace {

TEST(TextToInt, ReadsLikeAtoi) {
  EXPECT_EQ(TextToInt("12ab"), 12);
  EXPECT_EQ(TextToInt(""), 0);
  EXPECT_EQ(TextToInt("ab"), 0);
  EXPECT_EQ(TextToInt("  \t-7"), -7);
  EXPECT_EQ(TextToInt("+300"), 300);
  EXPECT_EQ(TextToInt("- 5"), 0);
  EXPECT_EQ(TextToInt("1 2"), 1);
}

TEST(TextToInt, SaturatesBeyondTheRangeOfInt) {
  EXPECT_EQ(TextToInt("2147483647"), INT_MAX);
  EXPECT_EQ(TextToInt("2147483648"), INT_MAX);
  EXPECT_EQ(TextToInt("-2147483648"), INT_MIN);
  EXPECT_EQ(TextToInt("-99999999999999999999999"), INT_MIN);
  EXPECT_EQ(TextToInt("99999999999999999999999ms"), INT_MAX);
}

}  // namespace
