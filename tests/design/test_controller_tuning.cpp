#include "design/controller_tuning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <string>

#include "derive/pipelines.h"
#include "design/loop_response.h"
#include "design/tune.h"
#include "tests/design/bundled_with.h"
#include "tests/support/test_setups.h"
#include "units/scales.h"

namespace {

using Complex = std::complex<double>;
using dcservo::TunedLoop;
using design_testing::BundledWith;
using dcservo::StepResult;
using testing_support::BaseValue;
using testing_support::LoadBundledSetup;
using testing_support::MakeTimingSetup;

// The lowest frequency at which |response| falls below -3 dB: a fine logarithmic sweep,
// then bisection.
double Bandwidth(const std::function<Complex(double)>& response, double top) {
  const double limit = std::sqrt(0.5);
  double lo = top * 1e-7;
  for (int i = 1; i <= 20000; ++i) {
    const double w = top * std::pow(1e-7, 1.0 - i / 20000.0);
    if (std::abs(response(w)) >= limit) {
      lo = w;
      continue;
    }
    double hi = w;
    for (int k = 0; k < 100; ++k) {
      const double mid = 0.5 * (lo + hi);
      (std::abs(response(mid)) < limit ? hi : lo) = mid;
    }
    return lo;
  }
  return NAN;
}

// The loops as this test models them, in physical units: the drive's PI controller (gains
// per sample, integral including the present sample) whose output reaches the plant one
// sample after the measurement and is held for a sample.
struct SampledPiLoop {
  double ts;
  double kp, ki;  // per sample, physical units
  std::function<Complex(Complex z)> plant;

  Complex Closed(double w) const {
    const Complex z = std::polar(1.0, w * ts);
    const Complex open = (kp + ki * z / (z - 1.0)) * plant(z) / z;
    return open / (1.0 + open);
  }
};

// Step response of the same loop through its difference equations: stable when it settles
// on the reference. `step` advances the plant by one sample under the held output.
bool SettlesOnStep(const SampledPiLoop& loop, const std::function<void(double&, double)>& step,
                   int samples) {
  double y = 0.0, integral = 0.0, held = 0.0;
  for (int k = 0; k < samples; ++k) {
    const double e = 1.0 - y;
    integral += e;
    const double u = loop.kp * e + loop.ki * integral;
    step(y, held);
    held = u;
    if (!std::isfinite(y) || std::abs(y) > 1e6) return false;
  }
  return std::abs(y - 1.0) < 1e-6;
}

// The sampled loop against the continuous one that the design equations describe, a PI whose
// zero cancels the plant's pole at `pole` rad/s (R/L of the R-L circuit, 0 of the inertia):
// ((2 zeta w - pole) s + w^2) / (s^2 + 2 zeta w s + w^2); and the plug-in's own model of the
// loop against this test's.
//
// Tolerance: the sampled loop carries an effective dead time of 1.5 samples (half a sample
// of the held output, one of computation); its phase lag lifts the closed-loop gain, a
// first-order effect in w Ts that these loops show at 1.1 to 1.5 times w_c Ts. Twice w_c Ts
// covers it; 0.5 % more covers the quantised gains.
void ExpectDesignedBandwidth(CZel_Setup& s, TunedLoop which, const SampledPiLoop& loop,
                             const std::function<void(double&, double)>& step, double w,
                             double zeta, double pole) {
  EXPECT_TRUE(SettlesOnStep(loop, step, 200000));
  const double nyquist = std::numbers::pi / loop.ts;
  const double wc = Bandwidth(
      [&](double x) {
        const Complex sj(0.0, x);
        return ((2.0 * zeta * w - pole) * sj + w * w) / (sj * sj + 2.0 * zeta * w * sj + w * w);
      },
      nyquist);
  const double wd = Bandwidth([&](double x) { return loop.Closed(x); }, nyquist);
  EXPECT_NEAR(wd / wc, 1.0, 2.0 * wc * loop.ts + 0.005) << "continuous " << wc << ", sampled " << wd;

  const auto model = dcservo::DesignedLoop(s, which);
  ASSERT_TRUE(model);
  EXPECT_NEAR(dcservo::ClosedLoopBandwidth(*model).value_or(0), wd, 1e-6 * wd);
  for (double x : {0.3 * wd, wd, 5.0 * wd})
    EXPECT_LT(std::abs(dcservo::ClosedLoopResponse(*model, x) - loop.Closed(x)), 1e-9);
  EXPECT_LT(dcservo::LargestMagnitude(dcservo::ClosedLoopPoles(*model)), 1.0);
}

TEST(ControllerTuning, CurrentLoopAroundTheSampledRlCircuitHasTheDesignedBandwidth) {
  struct Case {
    double l_h, pb_c, dump_c;
  };
  // PB_C x Ts_C from 0.005 to 0.01, with integral gains of several hundred mantissa steps.
  const Case cases[] = {{0.05, 200, 1.0}, {0.1, 150, 0.7}, {0.5, 100, 2.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "L " << c.l_h << ", PB_C " << c.pb_c << ", Dump_C " << c.dump_c);
    auto s = BundledWith({{"L", c.l_h}, {"PB_C", c.pb_c}, {"Dump_C", c.dump_c}});
    ASSERT_EQ(dcservo::TuneCurrentController(*s), 1);

    const double r = BaseValue(*s, "R"), l = c.l_h, ts = BaseValue(*s, "Ts_C");
    const double ohm_internal = dcservo::CurrentScale(*s) / dcservo::VoltageScale(*s);
    const double a = std::exp(-r * ts / l);
    const SampledPiLoop loop{ts, BaseValue(*s, "Kp_C_scl") * ohm_internal,
                             BaseValue(*s, "Ki_C_scl") * ohm_internal,
                             [&](Complex z) { return (1.0 - a) / r / (z - a); }};
    ExpectDesignedBandwidth(
        *s, TunedLoop::Current, loop, [&](double& i, double u) { i = a * i + (1.0 - a) / r * u; },
        c.pb_c, c.dump_c, r / l);
  }
}

TEST(ControllerTuning, SpeedLoopAroundTheInertiaHasTheDesignedBandwidth) {
  struct Case {
    double pb_s, dump_s, jt;
  };
  const Case cases[] = {{20, 1.0, 4.5e-5}, {10, 0.7, 4.5e-5}, {15, 2.0, 2e-4}};
  for (const Case& c : cases) {
    SCOPED_TRACE("PB_S " + std::to_string(c.pb_s) + ", Dump_S " + std::to_string(c.dump_s));
    auto s = BundledWith({{"PB_S", c.pb_s}, {"Dump_S", c.dump_s}, {"Jt", c.jt}});
    ASSERT_EQ(dcservo::TuneSpeedController(*s), 1);

    const double ts = BaseValue(*s, "Ts_S");
    // Amperes per rad/s, from the internal units of current and speed.
    const double per_speed = dcservo::MotorSpeedScale(*s) / dcservo::CurrentScale(*s);
    const double gain = BaseValue(*s, "K") * ts / c.jt;  // rad/s gained per ampere-sample
    const SampledPiLoop loop{ts, BaseValue(*s, "Kp_S_scl") * per_speed,
                             BaseValue(*s, "Ki_S_scl") * per_speed,
                             [&](Complex z) { return gain / (z - 1.0); }};
    ExpectDesignedBandwidth(*s, TunedLoop::Speed, loop,
                            [&](double& speed, double i) { speed += gain * i; }, c.pb_s, c.dump_s,
                            0.0);
  }
}

// Each design places continuous poles p; sampled at the loop's period they sit near
// exp(p Ts). The dead time of 1.5 samples changes the characteristic polynomial's
// coefficients by about 1.5 a Ts relative, a = (2 zeta + 1) w being the largest; with
// distinct poles (zeta below 1) each then moves by about a w Ts in the s plane: allowed
// twice that. The designed gains are checked here, the stored ones for stability: this
// drive's Ki_P_scl is only a few mantissa steps (the tuning report says so).
TEST(ControllerTuning, PositionLoopsHaveTheDesignedPoles) {
  struct Case {
    int position_control_type;
    double pb_p, dump_p;
  };
  const Case cases[] = {{1, 30, 0.7}, {1, 10, 0.5}, {0, 30, 0.7}, {0, 10, 0.5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "PositionControlType " << c.position_control_type
                                    << ", PB_P " << c.pb_p << ", Dump_P " << c.dump_p);
    // The design leaves the derivative unsmoothed.
    auto s = BundledWith({{"PositionControlType", c.position_control_type},
                          {"PB_P", c.pb_p},
                          {"Dump_P", c.dump_p},
                          {"filter_D", 1.0}});
    ASSERT_EQ(dcservo::ComputePositionControllerGains(*s), StepResult::Done);
    const double ts = BaseValue(*s, "Ts_S"), w = c.pb_p, zeta = c.dump_p;

    std::vector<Complex> designed;
    const Complex root = w * std::sqrt(Complex(zeta * zeta - 1.0));
    designed.push_back(-zeta * w + root);
    designed.push_back(-zeta * w - root);
    if (c.position_control_type == 0) designed.push_back(-w);

    const auto model = dcservo::DesignedLoop(*s, TunedLoop::Position);
    ASSERT_TRUE(model);
    const auto poles = dcservo::ClosedLoopPoles(*model);
    const double tolerance = 2.0 * 1.5 * (2.0 * zeta + 1.0) * w * (w * ts);
    for (const Complex& p : designed) {
      double nearest = INFINITY;
      for (const Complex& q : poles) nearest = std::min(nearest, std::abs(std::log(q) / ts - p));
      EXPECT_LT(nearest, tolerance) << "pole " << p;
    }

    ASSERT_EQ(dcservo::TunePositionController(*s), 1);
    const auto stored = dcservo::DesignedLoop(*s, TunedLoop::Position);
    ASSERT_TRUE(stored);
    EXPECT_LT(dcservo::LargestMagnitude(dcservo::ClosedLoopPoles(*stored)), 1.0);
  }
}

// L/R against 4 Ts_C: strictly above uses the damping; at or below it does not.
TEST(ControllerTuning, CurrentDesignBranchesStrictlyAboveFourSamples) {
  auto base = LoadBundledSetup();
  const double tc = BaseValue(*base, "Ts_C");
  const double r = 1.0;
  const double ohm_internal = dcservo::VoltageScale(*base) / dcservo::CurrentScale(*base);
  struct Case {
    const char* name;
    double l_h;
    bool uses_damping;
  };
  const Case cases[] = {
      {"exactly 4 Ts_C", 4.0 * tc, false},
      {"just above", std::nextafter(4.0 * tc, 1.0), true},
      {"below", 2.0 * tc, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double kp[2], ki[2];
    for (int i = 0; i < 2; ++i) {
      auto s = BundledWith({{"R", r}, {"L", c.l_h}, {"PB_C", 3000}, {"Dump_C", i == 0 ? 0.7 : 1.4}});
      ASSERT_EQ(dcservo::ComputeCurrentControllerGains(*s), StepResult::Done);
      kp[i] = BaseValue(*s, "Kp_C_scl");
      ki[i] = BaseValue(*s, "Ki_C_scl");
    }
    EXPECT_EQ(kp[0] != kp[1], c.uses_damping);
    EXPECT_EQ(ki[0], ki[1]);
    if (c.l_h == 4.0 * tc) {
      // tau / (2 sqrt2 Tc) - 1 = sqrt2 - 1 at tau = 4 Tc; the integral gain is R w Tc.
      EXPECT_NEAR(kp[0], (std::numbers::sqrt2 - 1.0) * ohm_internal, 1e-12);
      EXPECT_NEAR(ki[0], 3000 * tc * ohm_internal, 1e-12);
    }
  }
}

// Tsp: Ts_C when the speed and position loops run in the fast loop, else Ts_S. Only the
// integral gains carry the period.
TEST(ControllerTuning, SpeedAndPositionIntegralsUseTheirLoopPeriod) {
  struct Case {
    const char* name;
    double flag;    // -1: the setup has no PosSpd_in_FastLoop
    double period;  // the one the integral gains must carry
  };
  const Case cases[] = {{"absent", -1, 5e-4}, {"0", 0, 5e-4}, {"1", 1, 5e-5}};
  double per_period[4] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("PosSpd_in_FastLoop ") + c.name);
    auto s = MakeTimingSetup({{"Ts_C", 5e-5}, {"Ts_S", 5e-4}, {"Jt", 4.5e-5}, {"K", 0.06},
                              {"PB_S", 100}, {"Dump_S", 1}, {"Kp_S_scl", 0}, {"Ki_S_scl", 0},
                              {"PB_P", 30}, {"Dump_P", 1}, {"PositionControlType", 1},
                              {"Kp_P_scl", 0}, {"Ki_P_scl", 0}, {"Kd_P_scl", 0}});
    if (c.flag >= 0) testing_support::Put(*s, {{"PosSpd_in_FastLoop", c.flag}});
    ASSERT_EQ(dcservo::ComputeSpeedControllerGains(*s), StepResult::Done);
    ASSERT_EQ(dcservo::ComputePositionControllerGains(*s), StepResult::Done);
    EXPECT_EQ(dcservo::SpeedPositionLoopPeriod(*s), c.period);
    const double gains[4] = {BaseValue(*s, "Ki_S_scl") / c.period, BaseValue(*s, "Kp_S_scl"),
                             BaseValue(*s, "Ki_P_scl") / c.period, BaseValue(*s, "Kp_P_scl")};
    for (int k = 0; k < 4; ++k) {
      if (per_period[k] == 0.0) per_period[k] = gains[k];
      EXPECT_NEAR(gains[k], per_period[k], 1e-12 * per_period[k]) << "gain " << k;
    }
  }
}

TEST(ControllerTuning, InertiaScalesTheSpeedGainsButNotThePositionGainsOverTheSpeedLoop) {
  auto gains = [](double jt, double k) {
    auto s = BundledWith({{"Jt", jt}, {"K", k}, {"PositionControlType", 1}});
    EXPECT_EQ(dcservo::ComputeSpeedControllerGains(*s), StepResult::Done);
    EXPECT_EQ(dcservo::ComputePositionControllerGains(*s), StepResult::Done);
    return std::array<double, 5>{BaseValue(*s, "Kp_S_scl"), BaseValue(*s, "Ki_S_scl"),
                                 BaseValue(*s, "Kp_P_scl"), BaseValue(*s, "Ki_P_scl"),
                                 BaseValue(*s, "Kd_P_scl")};
  };
  const auto base = gains(4.5e-5, 0.06);
  const auto heavy = gains(9e-5, 0.06);
  const auto strong = gains(4.5e-5, 0.12);
  EXPECT_DOUBLE_EQ(heavy[0], 2 * base[0]);
  EXPECT_DOUBLE_EQ(heavy[1], 2 * base[1]);
  for (int i = 2; i < 5; ++i) {
    EXPECT_EQ(heavy[i], base[i]);
    EXPECT_EQ(strong[i], base[i]);
  }
  EXPECT_EQ(base[4], 0.0);
  EXPECT_GT(base[2], 0.0);
}

// A design, the input it is given without (or with a value it cannot take) and a gain it writes.
struct DesignCase {
  const char* input;
  dcservo::StepResult (*design)(CZel_Setup&);
  const char* output;
};

TEST(ControllerTuning, MissingInputWritesNothing) {
  const DesignCase cases[] = {
      {"L", dcservo::ComputeCurrentControllerGains, "Kp_C_scl"},
      {"Ki_C_scl", dcservo::ComputeCurrentControllerGains, "Kp_C_scl"},
      {"Ts_S", dcservo::ComputeSpeedControllerGains, "Kp_S_scl"},
      {"Kd_P_scl", dcservo::ComputePositionControllerGains, "Kp_P_scl"},
  };
  for (const DesignCase& c : cases) {
    SCOPED_TRACE(std::string("without ") + c.input);
    auto s = BundledWith({{c.output, 7}});
    auto full = LoadBundledSetup();
    EXPECT_EQ(c.design(*full), StepResult::Done);
    // The same drive without the one parameter.
    auto partial = testing_support::MakeSetup({});
    const CZel_Parameters& all = s->GetParameters();
    for (int i = 0; i < all.GetParametersCount(); ++i) {
      const CZel_Parameter& p = *all[i];
      if (p.GetName() == c.input) continue;
      testing_support::Put(*partial, {{p.GetName().c_str(), p.GetValueInInternalUnit(), p.GetUnitName(),
                                       !p.IsStoredInBaseUnit(), p.GetType()}});
    }
    ZelCollectErrors errors;
    EXPECT_EQ(c.design(*partial), StepResult::Missing);
    EXPECT_EQ(BaseValue(*partial, c.output), 7);
    ASSERT_FALSE(errors.Messages().empty());
    EXPECT_NE(errors.Messages()[0].find(c.input), std::string::npos) << errors.Messages()[0];
  }
}

// A motor without torque constant has no finite gains: the design is refused and the gains
// stay as they were, rather than turning into infinities the drive would be sent.
TEST(ControllerTuning, AGainThatIsNoNumberIsRefusedAndWritesNothing) {
  const DesignCase cases[] = {
      {"K", dcservo::ComputeSpeedControllerGains, "Ki_S_scl"},
      {"K", dcservo::ComputePositionControllerGains, "Kd_P_scl"},
  };
  for (const DesignCase& c : cases) {
    SCOPED_TRACE(c.output);
    auto s = BundledWith({{c.input, 0.0}, {c.output, 7}, {"PositionControlType", 0}});
    ASSERT_EQ(BaseValue(*s, c.input), 0.0);
    EXPECT_EQ(c.design(*s), StepResult::Refused);
    EXPECT_EQ(BaseValue(*s, c.output), 7);
  }
}

}  // namespace
