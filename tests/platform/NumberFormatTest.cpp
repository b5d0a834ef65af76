#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "platform/NumberFormat.h"

namespace orb {
namespace {

const NumberFormat kDot{'.', ','};
const NumberFormat kComma{',', '.'};

TEST(NumberFormat, DefaultFloatFormatTable) {
  struct Case {
    double value;
    const char* dot;
    const char* comma;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {0.0, "0", "0"},
      {-0.0, "0", "0"},
      {1.0, "1", "1"},
      {-2.5, "-2.5", "-2,5"},
      {10e6, "10000000", "10000000"},
      {0.1, "0.1", "0,1"},
      {1.0 / 3, "0.333333333333333", "0,333333333333333"},
      {2.0 / 3, "0.666666666666667", "0,666666666666667"},
      {1e-5, "0.00001", "0,00001"},
      {1.25e-5, "0.0000125", "0,0000125"},
      {9.99e-6, "9.99E-6", "9,99E-6"},
      {1e-9, "1E-9", "1E-9"},
      {-2.5e-7, "-2.5E-7", "-2,5E-7"},
      {123456789012345.0, "123456789012345", "123456789012345"},
      {999999999999999.4, "999999999999999", "999999999999999"},
      {999999999999999.9, "1E15", "1E15"},
      {1.5e20, "1.5E20", "1,5E20"},
      {1e100, "1E100", "1E100"},
      {std::nan(""), "NAN", "NAN"},
      {inf, "INF", "INF"},
      {-inf, "-INF", "-INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToText(c.value, kDot), c.dot) << c.value;
    EXPECT_EQ(FloatToText(c.value, kComma), c.comma) << c.value;
  }
}

TEST(NumberFormat, DefaultFloatFormatRoundTripsThroughTheParser) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int i = 0; i < 20000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    for (const NumberFormat& format : {kDot, kComma}) {
      const std::string text = FloatToText(value, format);
      double parsed = 0;
      ASSERT_TRUE(TryTextToFloat(text, parsed, format)) << text;
      EXPECT_NEAR(parsed, value, std::fabs(value) * 1e-14) << text;
      EXPECT_EQ(FloatToText(parsed, format), text);
    }
  }
}

TEST(NumberFormat, ShortestTextReadsBackExactly) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> any(-1e6, 1e6);
  for (int i = 0; i < 10000; ++i) {
    const double value = any(random);
    double parsed = 0;
    ASSERT_TRUE(TryTextToFloat(FloatToShortestText(value, kComma), parsed, kComma));
    EXPECT_EQ(parsed, value);
  }
  EXPECT_EQ(FloatToShortestText(1.5, kComma), "1,5");
}

TEST(NumberFormat, FixedNotation) {
  EXPECT_EQ(FloatToFixed(2.0005, 3, kDot), "2.001");  // binary value just above the half
  EXPECT_EQ(FloatToFixed(-0.0001, 3, kComma), "-0,000");
  EXPECT_EQ(FloatToFixedWidth(3.14159, 14, 3, kDot), "         3.142");
  EXPECT_EQ(FloatToFixedWidth(12345678.5, 22, 11, kComma), "  12345678,50000000000");
  EXPECT_EQ(FloatToFixedWidth(1e20, 5, 1, kDot), "100000000000000000000.0");  // never cut
  EXPECT_EQ(LongDoubleToFixed(1.0L / 3, 12, kComma), "0,333333333333");
  std::string limited;
  AppendFloatFixedSignificant(limited, 10000000.0, 16, 18, kDot);
  EXPECT_EQ(limited, "10000000.0000000000000000");
  limited.clear();
  AppendFloatFixedSignificant(limited, 1.0 / 3, 12, 5, kComma);
  EXPECT_EQ(limited, "0,333330000000");
  limited.clear();
  AppendFloatFixedSignificant(limited, 123456.0, 2, 3, kDot);
  EXPECT_EQ(limited, "123456.00");
  limited.clear();
  AppendFloatFixedSignificant(limited, std::nan(""), 2, 13, kDot);
  EXPECT_EQ(limited, "NAN");
  EXPECT_EQ(FloatToGeneral(0.000123456, 3, kComma), "0,000123");
  EXPECT_EQ(FloatToScientific(91.229450, 6, kDot), "9.122945e+01");
  EXPECT_EQ(FloatToScientific(-2.5e-123, 2, kComma), "-2,50e-123");
  EXPECT_EQ(FloatToScientific(0.0, 3, kDot), "0.000e+00");
}

// Fixed notation writes the exact binary value rounded half to even, also
// beyond the 17 digits a double holds (frequencies with 11 decimals).
TEST(NumberFormat, FixedNotationIsExact) {
  const struct {
    double Value;
    int Decimals;
    const char* Text;
  } cases[] = {
      {0.125, 2, "0.12"},  // ties go to the even digit
      {0.375, 2, "0.38"},
      {2.5, 0, "2"},
      {3.5, 0, "4"},
      {-2.5, 0, "-2"},
      {0.000244140625, 11, "0.00024414062"},
      {0.000244140625, 12, "0.000244140625"},
      {123456.0000005, 6, "123456.000001"},
      {0.1, 19, "0.1000000000000000056"},
      {0.1, 20, "0.10000000000000000555"},
      {10000000.123, 11, "10000000.12299999967"},
      {9999999.369295588, 11, "9999999.36929558776"},
      {5e-324, 3, "0.000"},
      {-0.0, 2, "-0.00"},
      {4611686018427387904.0, 2, "4611686018427387904.00"},
      {1e19, 0, "10000000000000000000"},
      {1.8e19, 1, "18000000000000000000.0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FloatToFixed(c.Value, c.Decimals, kDot), c.Text) << c.Value << " " << c.Decimals;
  }
  std::string text = "x";
  AppendFloatFixedWidth(text, 9999999.369295588, 22, 11, kComma);
  EXPECT_EQ(text, "x   9999999,36929558776");
}

TEST(NumberFormat, IntegerTextAndHex) {
  std::string out;
  AppendIntText(out, INT64_MIN);
  EXPECT_EQ(out, "-9223372036854775808");
  out.clear();
  AppendIntHex(out, 0xAB, 4);
  AppendIntHex(out, 0x123456789ULL, 4);
  EXPECT_EQ(out, "00AB123456789");
  EXPECT_EQ(IntToHex(0x7f, 2), "7F");
  uint32_t value = 0;
  EXPECT_TRUE(TryHexTextToUInt32("7fFf", value));
  EXPECT_EQ(value, 0x7FFFu);
  for (const char* bad : {"", "-1", "+1", "12345678A", "0x12", " 12", "1G"}) {
    EXPECT_FALSE(TryHexTextToUInt32(bad, value)) << bad;
  }
}

TEST(NumberFormat, DigitGrouping) {
  struct Case {
    int64_t value;
    const char* text;
  };
  const Case cases[] = {{0, "0"},
                        {999, "999"},
                        {1000, "1.000"},
                        {-1234567, "-1.234.567"},
                        {INT64_MIN, "-9.223.372.036.854.775.808"}};
  for (const Case& c : cases) EXPECT_EQ(IntToGroupedText(c.value, '.'), c.text);
}

TEST(NumberFormat, HexText) {
  EXPECT_EQ(IntToHex(0, 8), "00000000");
  EXPECT_EQ(IntToHex(0x1A2B, 8), "00001A2B");
  EXPECT_EQ(IntToHex(0xFFFFFFFFu, 8), "FFFFFFFF");
  EXPECT_EQ(IntToHex(0x123456789ull, 8), "123456789");
}

TEST(NumberFormat, ParsingTable) {
  struct Case {
    const char* text;
    NumberFormat format;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"1.5", kDot, true, 1.5},      {" -1.5 ", kDot, true, -1.5}, {"+2", kDot, true, 2},
      {"1,5", kComma, true, 1.5},    {"1.5", kComma, false, 0},    {"1,5", kDot, false, 0},
      {"1.234,5", kComma, false, 0}, {"1E-9", kDot, true, 1e-9},   {"1,5E20", kComma, true, 1.5e20},
      {"", kDot, false, 0},          {"  ", kDot, false, 0},       {"abc", kDot, false, 0},
      {"1.5x", kDot, false, 0},      {"+-1", kDot, false, 0},      {"1e999", kDot, false, 0},
      {",5", kComma, true, 0.5},
  };
  for (const Case& c : cases) {
    double value = -99;
    EXPECT_EQ(TryTextToFloat(c.text, value, c.format), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : -99) << c.text;
  }
  double value = 0;
  EXPECT_TRUE(TryTextToFloat("NAN", value));
  EXPECT_TRUE(std::isnan(value));
  EXPECT_TRUE(TryTextToFloat("-INF", value));
  EXPECT_EQ(value, -std::numeric_limits<double>::infinity());
}

TEST(NumberFormat, IntegerParsing) {
  int64_t wide = 0;
  EXPECT_TRUE(TryTextToInt64(" -9223372036854775808", wide));
  EXPECT_EQ(wide, INT64_MIN);
  EXPECT_FALSE(TryTextToInt64("9223372036854775808", wide));
  EXPECT_FALSE(TryTextToInt64("12a", wide));
  EXPECT_FALSE(TryTextToInt64("", wide));
  int32_t narrow = 0;
  EXPECT_TRUE(TryTextToInt32("+2147483647", narrow));
  EXPECT_EQ(narrow, INT32_MAX);
  EXPECT_FALSE(TryTextToInt32("2147483648", narrow));
}

TEST(NumberFormat, DecimalSeparatorNormalisation) {
  struct Case {
    const char* text;
    char separator;
    const char* result;
  };
  const Case cases[] = {{"1,5", '.', "1.5"},    {"1.5", ',', "1,5"}, {",5", '.', ",5"},
                        {".5", ',', ".5"},      {"1.5", '.', "1.5"}, {"12", ',', "12"},
                        {"1.2,3", ',', "1,2,3"}};
  for (const Case& c : cases) {
    EXPECT_EQ(NormalizeDecimalSeparator(c.text, c.separator), c.result) << c.text;
  }
}

}  // namespace
}  // namespace orb
