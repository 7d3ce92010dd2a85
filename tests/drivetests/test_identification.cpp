// Identification from logs made here sample by sample with known motor data: the armature
// under a PI current loop with the drive's half-sample delay and converter steps, and a speed
// run with the current ripple and bursts that a stiff loop shows.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "drivetests/identification.h"

namespace dcservo {
namespace {

constexpr double kFastPeriod = 50e-6;
constexpr double kCurrentStep = 20.0 / 1024.0;  // A per converter count

double Quantised(double value, double step) { return std::round(value / step) * step; }

const IdentifiedValue* Find(const std::vector<IdentifiedValue>& values, const char* name) {
  for (const IdentifiedValue& v : values) {
    if (v.name == name) return &v;
  }
  return nullptr;
}

// A 1.5 A step with the shaft held: each command acts from half a sample after the reading it
// answers, the armature exact over each half.
void LogCurrentStep(double R, double L, std::vector<double>& voltage, std::vector<double>& current) {
  const double a = std::exp(-R * kFastPeriod / 2.0 / L), b = (1.0 - a) / R;
  const double kp = 2.0 * M_PI * 800.0 * L, ki = kp * R / L * kFastPeriod;
  double i = 0.0, integral = 0.0, previous = 0.0;
  for (int k = 0; k < 100; ++k) {
    const double measured = Quantised(i, kCurrentStep);
    const double reference = k < 10 ? 0.0 : 1.5;
    integral += ki * (reference - measured);
    const double u = Quantised(kp * (reference - measured) + integral, 48.0 / 1024.0);
    voltage.push_back(u);
    current.push_back(measured);
    i = (i * a + previous * b) * a + u * b;
    previous = u;
  }
}

TEST(IdentifyArmature, FindsResistanceAndInductanceFromTheStep) {
  struct Case {
    double R, L;
  };
  for (const Case c : {Case{0.6, 1e-3}, Case{1.2, 1e-3}, Case{2.4, 1e-3}, Case{1.2, 0.3e-3},
                       Case{1.2, 5e-3}}) {
    SCOPED_TRACE(testing::Message() << "R " << c.R << " L " << c.L);
    std::vector<double> voltage, current;
    LogCurrentStep(c.R, c.L, voltage, current);
    const std::vector<IdentifiedValue> found = IdentifyArmature(voltage, current, kFastPeriod);
    const IdentifiedValue* R = Find(found, "R");
    const IdentifiedValue* L = Find(found, "L");
    ASSERT_TRUE(R && L);
    EXPECT_NEAR(R->value, c.R, 0.03 * c.R);
    EXPECT_NEAR(L->value, c.L, 0.03 * c.L);
    EXPECT_EQ(R->unit, "ohm");
    EXPECT_GT(R->confidence, 0.9);
  }
}

TEST(IdentifyArmature, NoStepIdentifiesNothing) {
  const std::vector<double> still(100, 0.0), held(100, 2.0), flat(100, 1.0);
  EXPECT_TRUE(IdentifyArmature(still, still, kFastPeriod).empty());
  // The voltage is there from the first sample: no change to read R and L from.
  EXPECT_TRUE(IdentifyArmature(held, flat, kFastPeriod).empty());
  EXPECT_TRUE(IdentifyArmature(std::vector<double>(4, 1.0), still, kFastPeriod).empty());
}

constexpr double kK = 0.06, kJ = 4.5e-5;

// A speed run of 1 ms samples: ramp up in 0.1 s, hold 0.5 s, ramp down, rest; `direction`
// -1 runs it backwards. The current is what the shaft needs plus a flip of +-0.9 A every
// sample, and every 40th held sample a burst to the 8 A limit and its echo the sample after.
MotionLog SpeedRun(double coulomb, double viscous, double load, double direction) {
  MotionLog log;
  const double top = 125.66 * direction, ramp = 0.1, hold = 0.5;
  for (int k = 0; k < 1200; ++k) {
    const double t = k * 1e-3;
    double w = 0.0, a = 0.0;
    if (t < ramp) {
      a = top / ramp;
      w = a * t;
    } else if (t < ramp + hold) {
      w = top;
    } else if (t < 2 * ramp + hold) {
      a = -top / ramp;
      w = top + a * (t - ramp - hold);
    }
    double torque = kJ * a + load + (w != 0.0 ? std::copysign(coulomb, w) + viscous * w : 0.0);
    double current = torque / kK + (k % 2 ? 0.9 : -0.9);
    bool saturated = false;
    if (t > ramp + 0.1 && t < ramp + hold && k % 40 == 0) {
      current = 8.0;
      saturated = true;
    } else if (t > ramp + 0.1 && t < ramp + hold && k % 40 == 1) {
      current = -6.0;
    }
    log.time_s.push_back(t);
    log.reference_rad_s.push_back(w);
    log.speed_rad_s.push_back(w);
    log.current_A.push_back(current);
    log.saturated.push_back(saturated);
  }
  return log;
}

TEST(IdentifyFriction, FrictionAtTheTestSpeedOverAWideRange) {
  // Dry friction from none to half the torque of a 1.5 A test, with a realistic viscous part.
  for (const double coulomb : {0.0, 0.0225, 0.045}) {
    SCOPED_TRACE(coulomb);
    const std::optional<FrictionFit> fit =
        IdentifyFriction(SpeedRun(coulomb, 1e-5, 0.0, 1.0), kK);
    ASSERT_TRUE(fit);
    const double truth = coulomb + 1e-5 * 125.66;
    EXPECT_NEAR(fit->TorqueAt(125.66), truth, 0.05 * truth + 2e-4);
  }
}

TEST(IdentifyFriction, BothDirectionsTellFrictionFromALoadTorque) {
  MotionLog log = SpeedRun(0.02, 0.0, 0.01, 1.0);
  const MotionLog back = SpeedRun(0.02, 0.0, 0.01, -1.0);
  for (std::size_t k = 0; k < back.time_s.size(); ++k) {
    log.time_s.push_back(1.2 + back.time_s[k]);
    log.reference_rad_s.push_back(back.reference_rad_s[k]);
    log.speed_rad_s.push_back(back.speed_rad_s[k]);
    log.current_A.push_back(back.current_A[k]);
    log.saturated.push_back(back.saturated[k]);
  }
  const std::optional<FrictionFit> fit = IdentifyFriction(log, kK);
  ASSERT_TRUE(fit);
  EXPECT_NEAR(fit->coulomb_Nm, 0.02, 0.001);
}

TEST(FrictionFromTwoSpeeds, TheRiseBetweenTwoHeldSpeedsIsTheViscousPart) {
  // 20 mNm dry and 1.8e-4 Nm s/rad read at 126 and 31 rad/s, each within 0.1 mNm.
  const auto held = [](double w, double error) {
    FrictionFit fit;
    fit.coulomb_Nm = 0.02 + 1.8e-4 * w;
    fit.coulomb_confidence = 1.0;
    fit.held_speed_rad_s = w;
    fit.held_std_error_Nm = error;
    return fit;
  };
  const std::optional<FrictionFit> both = FrictionFromTwoSpeeds(held(125.66, 1e-4), held(31.4, 1e-4));
  ASSERT_TRUE(both);
  EXPECT_NEAR(both->coulomb_Nm, 0.02, 1e-9);
  EXPECT_NEAR(both->viscous_Nm_s, 1.8e-4, 1e-12);
  ASSERT_TRUE(both->viscous_confidence);
  EXPECT_GT(*both->viscous_confidence, 0.9);
  // Readings as uncertain as the rise between them tell the viscous part with no confidence.
  EXPECT_LT(*FrictionFromTwoSpeeds(held(125.66, 0.01), held(31.4, 0.01))->viscous_confidence, 0.3);
  // Speeds too close together, or a run that held no single speed, tell nothing.
  EXPECT_FALSE(FrictionFromTwoSpeeds(held(125.66, 1e-4), held(110.0, 1e-4)));
  EXPECT_FALSE(FrictionFromTwoSpeeds(held(125.66, 1e-4), held(0.0, 1e-4)));
}

// A fit that lands below zero (a load helping the shaft, a wrong inertia in the feedforward)
// reports no friction rather than a driving one, and says it is unsure.
TEST(IdentifyFriction, NeverNegative) {
  const std::optional<FrictionFit> helped = IdentifyFriction(SpeedRun(0.0, 0.0, -0.0043, 1.0), kK);
  ASSERT_TRUE(helped);
  EXPECT_EQ(helped->coulomb_Nm, 0.0);
  EXPECT_LT(helped->coulomb_confidence, 0.5);
  const auto at = [](double w, double friction) {
    FrictionFit fit;
    fit.coulomb_Nm = friction;
    fit.held_speed_rad_s = w;
    fit.held_std_error_Nm = 1e-4;
    return fit;
  };
  // Friction that falls as the speed rises would have a dry part above the slow reading and a
  // negative viscous one.
  const std::optional<FrictionFit> two = FrictionFromTwoSpeeds(at(125.66, 0.01), at(31.4, 0.02));
  ASSERT_TRUE(two);
  EXPECT_EQ(two->viscous_Nm_s, 0.0);
  EXPECT_LT(*two->viscous_confidence, 0.5);
  for (const IdentifiedValue& v : FrictionValues(*two)) EXPECT_GE(v.value, 0.0) << v.name;
}

TEST(IdentifyFriction, ARunThatNeverHeldASpeedIdentifiesNothing) {
  MotionLog log = SpeedRun(0.02, 0.0, 0.0, 1.0);
  // The loop never followed: the shaft stood still.
  for (double& w : log.speed_rad_s) w = 0.0;
  EXPECT_FALSE(IdentifyFriction(log, kK));
  EXPECT_FALSE(IdentifyFriction(SpeedRun(0.02, 0.0, 0.0, 1.0), 0.0));
}

TEST(RippleAtConstantSpeed, ThePeakAndRmsAroundEachHeldSpeed) {
  // The +-0.9 A flip, with one burst to 8 A (and its echo to -6 A) every 40 samples of the
  // hold: the flip alone is 0.9 A RMS and peak; the bursts raise both.
  const std::optional<CurrentRipple> quiet = RippleAtConstantSpeed(SpeedRun(0.0, 0.0, 0.0, 1.0));
  ASSERT_TRUE(quiet);
  EXPECT_GT(quiet->peak_A, 7.0);
  EXPECT_GT(quiet->rms_A, 0.9);
  MotionLog flip = SpeedRun(0.02, 0.0, 0.0, 1.0);
  for (std::size_t k = 0; k < flip.current_A.size(); ++k)
    flip.current_A[k] = 0.02 / kK + (k % 2 ? 0.9 : -0.9);
  const std::optional<CurrentRipple> flat = RippleAtConstantSpeed(flip);
  ASSERT_TRUE(flat);
  EXPECT_NEAR(flat->rms_A, 0.9, 0.01);
  EXPECT_NEAR(flat->peak_A, 0.9, 0.01);
  // Standing still is no constant speed.
  for (double& w : flip.reference_rad_s) w = 0.0;
  EXPECT_FALSE(RippleAtConstantSpeed(flip));
}

TEST(CorrectedInertia, TakesTheFrictionOffTheTestTorque) {
  // 1.5 A at 0.06 Nm/A against dry friction of half of it: the raw figure is twice the truth.
  const InertiaRun run{0.09, 80.0, 0.08, 133.0, 0.13};
  FrictionFit friction;
  friction.coulomb_Nm = 0.045;
  EXPECT_NEAR(run.Raw(), 2.0 * kJ, 1e-9);
  ASSERT_TRUE(CorrectedInertia(run, friction));
  EXPECT_NEAR(*CorrectedInertia(run, friction), kJ, 1e-9);
  // Friction that takes the whole torque leaves nothing that the test measured.
  friction.coulomb_Nm = 0.09;
  EXPECT_FALSE(CorrectedInertia(run, friction));
}

}  // namespace
}  // namespace dcservo
