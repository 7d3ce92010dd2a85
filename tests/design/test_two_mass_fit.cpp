// The two-mass fit on plants whose coupling is known exactly: the motor-side response of a
// motor and load on a shaft of stiffness k and damping c.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "design/two_mass_fit.h"

namespace {

using Complex = std::complex<double>;
constexpr double kK = 0.06, kJ = 4.5e-5;

struct Coupling {
  double resonance_hz, damping, load_over_motor;
};

// K (Jl s^2 + c s + k) / (s (Jm Jl s^2 + J (c s + k))).
std::vector<dcservo::BodePoint> PlantOf(const Coupling& c) {
  const double jm = kJ / (1.0 + c.load_over_motor), jl = kJ - jm;
  const double wr = 2.0 * std::numbers::pi * c.resonance_hz;
  const double k = wr * wr * jm * jl / kJ;
  const double damper = 2.0 * c.damping * wr * jm * jl / kJ;
  std::vector<dcservo::BodePoint> points;
  for (double f : dcservo::LogSpacedFrequencies(10.0, 1500.0, 60)) {
    const Complex s{0.0, 2.0 * std::numbers::pi * f};
    const Complex h = c.resonance_hz == 0.0
                          ? kK / (kJ * s)
                          : kK * (jl * s * s + damper * s + k) /
                                (s * (jm * jl * s * s + kJ * (damper * s + k)));
    points.push_back({f, h, 0.99});
  }
  return points;
}

TEST(TwoMassFit, TheCouplingAndTheInertiasAreFoundFromTheirResponse) {
  const Coupling cases[] = {{150, 0.01, 0.5}, {300, 0.03, 1.0}, {500, 0.02, 0.5},
                            {800, 0.01, 1.0}, {400, 0.1, 0.5}};
  for (const Coupling& c : cases) {
    SCOPED_TRACE(testing::Message() << c.resonance_hz << " Hz, " << c.damping);
    const auto id = dcservo::IdentifyPlant(PlantOf(c), kK);
    ASSERT_TRUE(id && id->coupling);
    const dcservo::TwoMassPlant& p = *id->coupling;
    const double motor = kJ / (1.0 + c.load_over_motor);
    EXPECT_NEAR(p.resonance_hz / c.resonance_hz, 1.0, 0.01);
    EXPECT_NEAR(p.anti_resonance_hz / (c.resonance_hz * std::sqrt(motor / kJ)), 1.0, 0.01);
    EXPECT_NEAR(p.damping_ratio / c.damping, 1.0, 0.05);
    EXPECT_NEAR(p.motor_inertia_kgm2 / motor, 1.0, 0.02);
    EXPECT_NEAR(p.load_inertia_kgm2 / (kJ - motor), 1.0, 0.03);
    EXPECT_GT(p.confidence, 0.9);
  }
}

TEST(TwoMassFit, ARigidPlantGivesItsInertiaAndNoCoupling) {
  const auto id = dcservo::IdentifyPlant(PlantOf({0.0, 0.0, 0.0}), kK);
  ASSERT_TRUE(id);
  EXPECT_NEAR(id->total_inertia_kgm2 / kJ, 1.0, 1e-6);
  EXPECT_GT(id->inertia_confidence, 0.9);
  EXPECT_FALSE(id->coupling);
  // Nothing to tell from points the measurement could not trust.
  std::vector<dcservo::BodePoint> blurred = PlantOf({0.0, 0.0, 0.0});
  for (dcservo::BodePoint& p : blurred) p.coherence = 0.3;
  EXPECT_FALSE(dcservo::IdentifyPlant(blurred, kK));
}

}  // namespace
