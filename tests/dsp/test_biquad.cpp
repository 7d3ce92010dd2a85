#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "dsp/biquad.h"

namespace {

using dcservo::BiquadCoefficients;

constexpr double kTwoTo31 = 2147483648.0;

// SF = 2^n with 2^(n-1) <= max|c| < 2^n: the ceiling of log2 except at exact powers of two,
// where +2^31 would not fit 32 bits.
TEST(QuantizeBiquad, ScaleFactorKeepsEveryCoefficientInside32Bits) {
  struct Case {
    const char* name;
    BiquadCoefficients c;
    double sf;
  };
  const double just_below_one = 1.0 - std::ldexp(1.0, -33);
  const Case cases[] = {
      {"largest below 1", {0.5, 0.25, 0, -0.999, 0.1}, 1},
      {"largest exactly 1", {0.5, 0.25, 0, 1.0, 0.1}, 2},
      {"largest exactly -1", {0.5, 0.25, 0, -1.0, 0.1}, 2},
      {"largest 1.142930", {0.07, 0.13, 0.07, -1.142930, 0.41}, 2},
      {"largest exactly 2", {1.0, 2.0, 1.0, -1.5, 0.6}, 4},
      {"largest exactly -2", {0.1, 0.1, 0.1, -2.0, 0.99}, 4},
      {"largest 3", {3.0, 0, 0, 0.5, 0}, 4},
      {"largest exactly 4", {4.0, 0, 0, 0.5, 0}, 8},
      {"largest rounds up to full scale", {just_below_one, 0.5, 0, 0.25, 0}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const dcservo::BiquadSlot slot = dcservo::QuantizeBiquad(c.c);
    EXPECT_EQ(slot.scale_factor, c.sf);
    const BiquadCoefficients& q = slot.quantised;
    for (double v : {q.b0, q.b1, q.b2, q.a1, q.a2}) {
      EXPECT_EQ(v, std::floor(v));
      EXPECT_LT(std::abs(v), kTwoTo31);
    }
    // Half up: the largest coefficient lands in the upper half of the 32-bit range.
    const double largest = std::max(
        {std::abs(c.c.b0), std::abs(c.c.b1), std::abs(c.c.b2), std::abs(c.c.a1), std::abs(c.c.a2)});
    EXPECT_NEAR(
        largest / c.sf * kTwoTo31,
        std::max({std::abs(q.b0), std::abs(q.b1), std::abs(q.b2), std::abs(q.a1), std::abs(q.a2)}),
        0.5);
  }
}

TEST(QuantizeBiquad, CoefficientsThatAreNotNumbersGiveAnEmptyFilter) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const dcservo::BiquadSlot slot = dcservo::QuantizeBiquad({0.5, nan, 0, 0.1, 0});
  EXPECT_EQ(slot.scale_factor, 1.0);
  const BiquadCoefficients& q = slot.quantised;
  for (double v : {q.b0, q.b1, q.b2, q.a1, q.a2}) EXPECT_EQ(v, 0.0);
}

}  // namespace
