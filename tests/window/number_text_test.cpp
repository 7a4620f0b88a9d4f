#include "ui/number_text.h"

#include <climits>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <string>

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

// printf's "%.1f" in the "C" locale, the reference for every register value shown.
std::string CFormat(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// Puts the process in a decimal-comma locale, as a toolkit does from the environment.
class DecimalCommaLocale {
 public:
  DecimalCommaLocale() : saved_(std::setlocale(LC_ALL, nullptr)) {
    active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  }
  ~DecimalCommaLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
  bool active() const { return active_; }

 private:
  std::string saved_;
  bool active_ = false;
};

TEST(FormatOneDecimal, WritesEveryRegisterValueAsPrintfDoesInTheCLocale) {
  for (unsigned raw = 0; raw <= 0xFFFF; ++raw) {
    const double version = raw * 0.1;                                          // double, as shown
    const double volts = static_cast<double>(static_cast<float>(raw * 0.1f));  // single
    ASSERT_EQ(FormatOneDecimal("%.1f", version), CFormat(version)) << raw;
    ASSERT_EQ(FormatOneDecimal("%.1f", volts), CFormat(volts)) << raw;
  }
  EXPECT_EQ(FormatOneDecimal("Ver%.1f", 1.0), "Ver1.0");
  EXPECT_EQ(FormatOneDecimal("：%.1fV", 12.4f), "：12.4V");
  EXPECT_EQ(FormatOneDecimal("Ver%.1f", 6553.5), "Ver6553.5");
}

TEST(FormatOneDecimal, KeepsTheFullStopUnderADecimalCommaLocale) {
  const DecimalCommaLocale german;
  if (!german.active()) GTEST_SKIP() << "de_DE.UTF-8 is not installed (localedef makes it)";
  ASSERT_EQ(CFormat(1.5), "1,5") << "the locale is in effect";
  EXPECT_EQ(FormatOneDecimal("Ver%.1f", 1.2), "Ver1.2");
  EXPECT_EQ(FormatOneDecimal("：%.1fV", 12.5f), "：12.5V");
  EXPECT_EQ(TextToInt("1.500"), 1) << "and typed numbers are read the same way";
}

}  // namespace
