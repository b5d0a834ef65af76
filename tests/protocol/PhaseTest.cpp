#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "protocol/QM_CommonTypes.h"

namespace orb {
namespace {

const NumberFormat kDot{'.', ','};
const NumberFormat kComma{',', '.'};

TEST(Phase, NormalizeTable) {
  struct Case {
    Phase in;
    Phase out;
  };
  const Case cases[] = {
      {{5, -0.25}, {4, 0.75}},  {{-5, 0.25}, {-4, -0.75}}, {{0, -2.5}, {-2, -0.5}},
      {{5, -2.0}, {3, 0.0}},    {{-5, 2.0}, {-3, 0.0}},    {{1, 2.5}, {3, 0.5}},
      {{-1, -2.5}, {-3, -0.5}}, {{0, 0.0}, {0, 0.0}},      {{-1, 1.5}, {0, 0.5}},
      {{1, -1e-17}, {1, 0.0}},  // the fraction rounds to a whole cycle
  };
  for (const Case& c : cases) {
    Phase p = c.in;
    EXPECT_TRUE(p.Normalize());
    EXPECT_EQ(p.High, c.out.High) << c.in.High << " " << c.in.Low;
    EXPECT_EQ(p.Low, c.out.Low) << c.in.High << " " << c.in.Low;
  }
}

TEST(Phase, ValuesBeyondHighStayInLow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (const double x : {nan, inf, -inf, 1e300, -1e19}) {
    Phase p;
    p.FromDouble(x);
    EXPECT_EQ(p.High, 0) << x;
    EXPECT_TRUE(std::isnan(x) ? std::isnan(p.Low) : p.Low == x) << x;
    Phase n{3, x};
    EXPECT_FALSE(n.Normalize()) << x;
    EXPECT_EQ(n.High, 3);
  }
  const Phase byZero = Phase::DivBy(Phase{10, 0.5}, 0.0);
  EXPECT_EQ(byZero.High, 0);
  EXPECT_TRUE(std::isinf(byZero.Low));
  const Phase huge = Phase::MulBy(Phase{INT64_MAX, 0.5}, 1e10);
  EXPECT_EQ(huge.High, 0);
  EXPECT_GT(huge.Low, 9e28);
}

TEST(Phase, Arithmetic) {
  Phase p;
  p.FromDouble(-3.75);
  EXPECT_EQ(p, (Phase{-3, -0.75}));
  EXPECT_EQ(p.ToDouble(), -3.75);
  EXPECT_EQ(Phase::Add(Phase{1, 0.75}, Phase{2, 0.5}), (Phase{4, 0.25}));
  EXPECT_EQ(Phase::Sub(Phase{1, 0.25}, Phase{2, 0.5}), (Phase{-1, -0.25})) << "not normalised";
  EXPECT_EQ(Phase::DivBy(Phase{5, 0.5}, 2), (Phase{2, 0.75}));
  EXPECT_EQ(Phase::MulBy(Phase{3, 0.5}, 3), (Phase{10, 0.5}));
  const Phase big = Phase::Add(Phase{int64_t{1} << 40, 0.5}, Phase{int64_t{1} << 40, 0.75});
  EXPECT_EQ(big, (Phase{(int64_t{1} << 41) + 1, 0.25}));
  p.Clear();
  EXPECT_TRUE(p.IsCleared());
}

TEST(Phase, FromText) {
  struct Case {
    const char* text;
    int digits;
    Phase phase;
  };
  const Case cases[] = {
      {"12.345", 3, {12, 0.345}}, {"12,5", 1, {12, 0.5}},
      {"-3.5", 1, {-3, -0.5}},    {"-0.25", 2, {0, -0.25}},
      {"7", 0, {7, 0}},           {"8589934592.125", 3, {8589934592, 0.125}},
      {"abc", -1, {99, 9}},       {"1.2e3", -1, {99, 9}},
      {"1.-2", -1, {99, 9}},      {"", -1, {99, 9}},
      // Around the lengths where the quick reading hands over to the
      // general one: both must agree.
      {" \t-123456789012345678.5", 1, {-123456789012345678, -0.5}},
      {"1234567890123456789.5", 1, {1234567890123456789, 0.5}},
      {"99999999999999999999.5", -1, {99, 9}},
      {"0.123456789012345", 15, {0, 0.123456789012345}},
      {"0.1234567890123456", 16, {0, 0.1234567890123456}},
      {"12.5 ", -1, {99, 9}},     {"-.5", -1, {99, 9}},
      // A counter's 26-character field, and a stray character in the last
      // eight, which the quick reading takes as one word.
      {"      1234567.890123456789", 12, {1234567, 0.890123456789}},
      {"   1234.56789x1", -1, {99, 9}},
  };
  for (const Case& c : cases) {
    Phase p{99, 9};
    EXPECT_EQ(p.FromText(c.text), c.digits) << c.text;
    EXPECT_EQ(p, c.phase) << c.text;
  }
}

TEST(Phase, FixedTextCarriesRoundedFractions) {
  struct Case {
    Phase phase;
    int decimals;
    const NumberFormat* format;
    const char* text;
  };
  const Case cases[] = {
      {{2, 0.9996}, 3, &kDot, "3.000"},
      {{2, 0.25}, 3, &kComma, "2,250"},
      {{0, -0.5}, 3, &kDot, "-0.500"},
      {{0, -0.9996}, 3, &kDot, "-1.000"},
      {{-5, 0.25}, 2, &kDot, "-4.75"},
      {{5, -2.0}, 3, &kDot, "3.000"},
      {{123, 0.125}, 11, &kDot, "123.12500000000"},
      // The most negative whole count has no positive counterpart.
      {{std::numeric_limits<int64_t>::min(), -0.5}, 3, &kDot, "-9223372036854775808.500"},
  };
  for (const Case& c : cases) {
    const std::string text = Phase::ToFixedText(c.phase, c.decimals, *c.format);
    const std::string trimmed = c.text;
    EXPECT_EQ(text, std::string(26 - trimmed.size(), ' ') + trimmed)
        << c.phase.High << " " << c.phase.Low;
  }
  EXPECT_EQ(Phase::ToFixedText(Phase{7, 0.75}, 0, kDot), std::string(24, ' ') + "8");
  EXPECT_EQ(Phase::ToFixedText(Phase{INT64_MAX, 0.5}, 11, kDot).size(), 26u) << "cut to 26";
}

}  // namespace
}  // namespace orb
