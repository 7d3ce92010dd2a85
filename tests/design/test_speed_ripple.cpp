#include "design/speed_ripple.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using dcservo::SpeedRippleOf;

// Worked by hand for the bundled drive: 500 lines counted four times, a 0.5 ms loop: one count
// is 2 pi / (2000 x 0.5 ms) = 6.2832 rad/s. In 3 A, K 0.06 Nm/A, Jt 4.5e-5 kgm^2, damping 1.
TEST(SpeedRipple, OneCountOfTheEncoderAgainstTenPercentOfIn) {
  const double q = 2.0 * M_PI / (2000 * 0.5e-3);
  struct Case {
    double kp, quantum, rated, damping, J;
    double per_count, allowed, highest_band;
    bool met;
  };
  const Case cases[] = {
      // PB_S 100 rad/s: Kp 2 x 100 x 4.5e-5 / 0.06 = 0.15 A per rad/s, 0.9425 A per count;
      // 0.3 A allows 0.3 x 0.06 / (2 x 4.5e-5 x 6.2832) = 31.83 rad/s.
      {0.15, q, 3.0, 1.0, 4.5e-5, 0.9425, 0.30, 31.83, false},
      // The same pass band on a ten times heavier load: ten times the gain, a tenth the band.
      {1.5, q, 3.0, 1.0, 4.5e-4, 9.425, 0.30, 3.183, false},
      // A 0.7 damping and 2 ms loop (a quarter the quantum) leave room for 181.9 rad/s.
      {0.03, q / 4.0, 3.0, 0.7, 4.5e-5, 0.04712, 0.30, 181.9, true},
  };
  for (const Case& c : cases) {
    const auto rule = SpeedRippleOf(c.kp, c.quantum, c.rated, c.damping, c.J, 0.06);
    ASSERT_TRUE(rule);
    EXPECT_NEAR(rule->per_count_A, c.per_count, 1e-3 * c.per_count);
    EXPECT_NEAR(rule->allowed_A, c.allowed, 1e-12);
    EXPECT_NEAR(rule->highest_pass_band_rad_s, c.highest_band, 1e-3 * c.highest_band);
    EXPECT_EQ(rule->met(), c.met);
  }
}

// Worked by hand: a first-order smoothing y += (1 - a)(x - y) answers a count's jump with
// (1 - a) a^k, whose total variation is 2 (1 - a): it passes 1 - a of the jump. Two in a row
// pass less than either; a filter that passes the signal as it is passes all of it.
TEST(SpeedRipple, AFeedbackFilterPassesItsShareOfACountsJump) {
  using dcservo::BiquadCoefficients;
  auto smoothing = [](double a) { return BiquadCoefficients{1.0 - a, 0.0, 0.0, -a, 0.0}; };
  EXPECT_DOUBLE_EQ(dcservo::FeedbackRippleFactor({}), 1.0);
  EXPECT_NEAR(dcservo::FeedbackRippleFactor({{1.0, 0.0, 0.0, 0.0, 0.0}}), 1.0, 1e-12);
  EXPECT_NEAR(dcservo::FeedbackRippleFactor({smoothing(0.8)}), 0.2, 1e-9);
  EXPECT_NEAR(dcservo::FeedbackRippleFactor({smoothing(0.5)}), 0.5, 1e-9);
  const double both = dcservo::FeedbackRippleFactor({smoothing(0.8), smoothing(0.5)});
  EXPECT_LT(both, 0.2);
  EXPECT_GT(both, 0.0);
  // A filter that does not die away passes no finite share.
  EXPECT_FALSE(std::isfinite(dcservo::FeedbackRippleFactor({smoothing(1.5)})));
}

TEST(SpeedRipple, NoRuleFromDataThatGiveNone) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const double bad : {0.0, -1.0, nan})
    for (int at = 0; at < 5; ++at) {
      double v[5] = {6.28, 3.0, 1.0, 4.5e-5, 0.06};
      v[at] = bad;
      EXPECT_FALSE(SpeedRippleOf(0.15, v[0], v[1], v[2], v[3], v[4])) << at << " " << bad;
    }
  EXPECT_FALSE(SpeedRippleOf(nan, 6.28, 3.0, 1.0, 4.5e-5, 0.06));
}

}  // namespace
