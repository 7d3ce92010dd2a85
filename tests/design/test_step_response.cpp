// Step figures of known curves, and the closed-loop step of a loop whose answer is exact.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "design/step_response.h"

namespace {

using namespace dcservo;

struct Curve {
  std::vector<double> t, reference, y;
};

// A step of `height` at t = 1 ms, sampled every 10 us, answered by `response(t since step)`.
template <class F>
Curve StepCurve(double height, F response) {
  Curve c;
  for (int k = 0; k < 2000; ++k) {
    const double t = k * 1e-5, since = t - 1e-3;
    c.t.push_back(t);
    c.reference.push_back(since >= 0 ? height : 0.0);
    c.y.push_back(since >= 0 ? height * response(since) : 0.0);
  }
  return c;
}

TEST(StepFigures, OfAFirstOrderAndAnUnderdampedSecondOrderResponse) {
  const double tau = 1e-3;
  const Curve first = StepCurve(-2.0, [tau](double t) { return 1.0 - std::exp(-t / tau); });
  auto f = MeasureStep(first.t, first.reference, first.y);
  ASSERT_TRUE(f);
  EXPECT_NEAR(f->rise_time_s, tau * std::log(9.0), 2e-5);  // a falling step too
  EXPECT_NEAR(f->overshoot_pct, 0.0, 1e-3);
  EXPECT_NEAR(f->settling_time_s, tau * std::log(50.0), 5e-5);
  EXPECT_NEAR(f->steady_state_error, 0.0, 1e-6);

  // zeta 0.5: overshoot exp(-pi zeta / sqrt(1 - zeta^2)) = 16.3 %.
  const double wn = 2e4, zeta = 0.5, wd = wn * std::sqrt(1 - zeta * zeta);
  const Curve second = StepCurve(1.0, [&](double t) {
    return 1.0 - std::exp(-zeta * wn * t) * (std::cos(wd * t) + zeta * wn / wd * std::sin(wd * t));
  });
  f = MeasureStep(second.t, second.reference, second.y);
  ASSERT_TRUE(f);
  EXPECT_NEAR(f->overshoot_pct, 16.3, 0.2);
}

TEST(StepFigures, NothingWithoutAStepOrWithoutAResponse) {
  const std::vector<double> t{0, 1, 2, 3}, flat{1, 1, 1, 1}, step{0, 1, 1, 1}, zero{0, 0, 0, 0};
  EXPECT_FALSE(MeasureStep(t, flat, step));
  EXPECT_FALSE(MeasureStep(t, step, zero));
}

TEST(ClosedLoopStep, AnIntegratorClosedAtUnitGainFollowsOneSampleLate) {
  LoopModel loop;
  loop.sampling_period_s = 1e-4;
  loop.open_num = {0.0, 1.0};  // z^-1 / (1 - z^-1)
  loop.open_den = {1.0, -1.0};
  const std::vector<double> y = ClosedLoopStepResponse(loop, 4);
  EXPECT_EQ(y, (std::vector<double>{0.0, 1.0, 1.0, 1.0}));
}

}  // namespace
