// The analysis of a stepped sine's logs: phasors fitted block by block, the loops' ratios and
// their coherence, and margins read off a measured open loop.

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

#include "design/frequency_response.h"
#include "design/two_mass_fit.h"
#include "host/zel_setup.h"

namespace {

using Complex = std::complex<double>;
using dcservo::BodePoint;
constexpr double kPi = std::numbers::pi;

constexpr dcservo::CountScales kScales{3273.6, 318.31};

// A log of a loop whose parts are known: closed loop T from the injection to -c, current loop
// G from c + d to the current, plant P from the current (A) to the speed (rad/s).
struct SyntheticLoop {
  double frequency_hz;
  Complex open_loop;   // L; T = L / (1 + L)
  Complex current_loop;
  Complex plant;
  double drift_counts_per_s = 0.0;  // the shaft creeping under the sine
  double noise_counts = 0.0;        // on the position
  double duration_s = 0.6;
};

dcservo::ExcitationLog MakeLog(const SyntheticLoop& s) {
  dcservo::ExcitationLog log;
  log.frequency_hz = s.frequency_hz;
  log.period_s = 5e-5;
  const double w = 2.0 * kPi * s.frequency_hz;
  const Complex d = 300.0;
  const Complex c = -s.open_loop / (1.0 + s.open_loop) * d;
  const Complex i = s.current_loop * (c + d);
  const Complex position = s.plant * i / kScales.current_counts_per_A / Complex{0.0, w} *
                           kScales.position_counts_per_rad;
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, s.noise_counts > 0.0 ? s.noise_counts : 1.0);
  const auto at = [&](Complex x, double t) { return std::real(x * std::exp(Complex{0.0, w * t})); };
  for (double t = 0.0; t < s.duration_s; t += log.period_s) {
    log.injection.push_back(at(d, t));
    log.current_reference.push_back(at(c, t) + 12.0);
    log.current.push_back(at(i, t) + 12.0);
    log.position.push_back(at(position, t) + 1000.0 + s.drift_counts_per_s * t +
                           (s.noise_counts > 0.0 ? noise(random) : 0.0));
  }
  return log;
}

void ExpectNear(const BodePoint& p, Complex expected, const char* what) {
  EXPECT_NEAR(std::abs(p.response / expected), 1.0, 1e-6) << what;
  EXPECT_NEAR(std::arg(p.response / expected), 0.0, 1e-6) << what;
}

TEST(FrequencyResponse, EveryRatioIsRecoveredWhateverThePeriodsOffsetsAndDrift) {
  const SyntheticLoop cases[] = {
      {10.0, {3.0, -2.0}, {1.0, 0.0}, {0.2, -60.0}},
      // Not a whole number of periods in the log nor in a block, and a creeping shaft.
      {37.3, {0.8, -1.1}, {0.98, -0.1}, {-3.0, -40.0}, 400.0},
      {512.5, {-0.2, -0.3}, {0.7, -0.6}, {-1.0, -0.5}, -50.0},
      {1900.0, {-0.05, -0.01}, {0.2, -0.5}, {0.01, 0.02}},
  };
  for (const SyntheticLoop& s : cases) {
    SCOPED_TRACE(s.frequency_hz);
    const auto point = dcservo::AnalyseExcitation(MakeLog(s), kScales);
    ASSERT_TRUE(point);
    ExpectNear(point->plant, s.plant, "plant");
    ExpectNear(point->open_loop, s.open_loop, "open loop");
    ExpectNear(point->closed_loop, s.open_loop / (1.0 + s.open_loop), "closed loop");
    ExpectNear(point->current_loop, s.current_loop, "current loop");
    for (const BodePoint* p : {&point->plant, &point->open_loop, &point->current_loop})
      EXPECT_NEAR(p->coherence, 1.0, 1e-9);
  }
}

TEST(FrequencyResponse, NoiseLowersThePlantsCoherenceOnlyWhereTheMotionIsSmall) {
  struct Case {
    double frequency_hz;
    double noise_counts;
    bool coherent;
  };
  // The position swings about 3 counts at 20 Hz and a thousandth of a count at 1 kHz.
  const Case cases[] = {{20.0, 0.3, true}, {1000.0, 0.3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frequency_hz);
    SyntheticLoop s{c.frequency_hz, {1.0, -1.0}, {1.0, 0.0}, {0.0, -1.0 / (2e-3 * c.frequency_hz)}};
    s.noise_counts = c.noise_counts;
    const auto point = dcservo::AnalyseExcitation(MakeLog(s), kScales);
    ASSERT_TRUE(point);
    EXPECT_EQ(point->plant.coherence >= dcservo::kLeastCoherence, c.coherent)
        << point->plant.coherence;
    EXPECT_NEAR(point->open_loop.coherence, 1.0, 1e-9);
  }
}

TEST(FrequencyResponse, ALogTooShortOrWithoutExcitationGivesNothing) {
  SyntheticLoop s{10.0, {1.0, 0.0}, {1.0, 0.0}, {1.0, 0.0}};
  s.duration_s = 0.35;  // settling takes 0.2 s, two blocks need two more periods
  EXPECT_FALSE(dcservo::AnalyseExcitation(MakeLog(s), kScales));
  s.duration_s = 1.0;
  dcservo::ExcitationLog silent = MakeLog(s);
  std::fill(silent.injection.begin(), silent.injection.end(), 0.0);
  EXPECT_FALSE(dcservo::AnalyseExcitation(silent, kScales));
  dcservo::ExcitationLog ragged = MakeLog(s);
  ragged.position.pop_back();
  EXPECT_FALSE(dcservo::AnalyseExcitation(ragged, kScales));
}

// An integrator with a dead time, L = wc / s e^(-s tau): crossover wc, phase margin
// 90 - wc tau, and -180 degrees at pi / (2 tau) where the gain margin is 20 log(pi / (2 wc tau)).
TEST(FrequencyResponse, MarginsReadOffACurveAreThoseOfTheLoop) {
  struct Case {
    double crossover_rad_s, dead_time_s;
  };
  const Case cases[] = {{300.0, 1e-3}, {1000.0, 2.5e-4}, {2000.0, 3e-4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.crossover_rad_s);
    std::vector<BodePoint> curve;
    for (double f : dcservo::LogSpacedFrequencies(5.0, 3000.0, 120)) {
      const Complex s{0.0, 2.0 * kPi * f};
      curve.push_back({f, c.crossover_rad_s / s * std::exp(-s * c.dead_time_s), 0.99});
    }
    const dcservo::CurveMargins m = dcservo::MarginsOfCurve(curve);
    ASSERT_TRUE(m.crossover_rad_s && m.phase_margin_deg && m.gain_margin_db);
    EXPECT_NEAR(*m.crossover_rad_s / c.crossover_rad_s, 1.0, 0.01);
    EXPECT_NEAR(*m.phase_margin_deg, 90.0 - c.crossover_rad_s * c.dead_time_s * 180.0 / kPi, 0.5);
    EXPECT_NEAR(*m.gain_margin_db,
                20.0 * std::log10(kPi / (2.0 * c.crossover_rad_s * c.dead_time_s)), 0.1);
    // Points the measurement could not trust do not count.
    for (BodePoint& p : curve) p.coherence = 0.5;
    EXPECT_FALSE(dcservo::MarginsOfCurve(curve).phase_margin_deg);
  }
}

TEST(FrequencyResponse, MarginsThatDifferFromTheModelsAreNamedWithBothValues) {
  struct Case {
    double measured_pm, measured_gm;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {57.0, 10.5, {}},
      {53.5, 10.0, {"the model does not hold for this drive: phase margin measured 53.5 deg, the "
                    "model's 57.0 deg"}},
      {58.0, 8.5, {"the model does not hold for this drive: gain margin measured 8.5 dB, the "
                   "model's 10.0 dB"}},
  };
  const dcservo::CurveMargins model{1000.0, 57.0, 10.0};
  for (const Case& c : cases) {
    const dcservo::CurveMargins measured{1000.0, c.measured_pm, c.measured_gm};
    EXPECT_EQ(dcservo::CompareMargins(measured, model), c.expected);
  }
}

// The model's plant with a coupling, from the shaft's spring and damper, against the fit's
// normalised shape written from the resonance and anti-resonance: two ways to the same curve.
TEST(FrequencyResponse, TheModelsCoupledPlantIsTheFittedShape) {
  struct Case {
    double resonance_hz, load_share, damping_ratio;
  };
  const Case cases[] = {{150, 0.5, 0.01}, {400, 1.0 / 3.0, 0.03}, {800, 0.2, 0.1}};
  dcservo::DriveModel model;
  model.K = 0.05;
  model.J = 4.5e-5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resonance_hz);
    model.coupling = dcservo::ShaftCoupling{c.load_share, c.resonance_hz, c.damping_ratio};
    dcservo::TwoMassPlant plant;
    plant.resonance_hz = c.resonance_hz;
    plant.anti_resonance_hz = c.resonance_hz * std::sqrt(1.0 - c.load_share);
    plant.damping_ratio = c.damping_ratio;
    plant.load_inertia_kgm2 = c.load_share * model.J;
    plant.stiffness_Nm_per_rad = plant.load_inertia_kgm2 * std::pow(2.0 * std::numbers::pi * plant.anti_resonance_hz, 2);
    plant.damping_Nm_s_per_rad = 2.0 * c.damping_ratio / (2.0 * std::numbers::pi * c.resonance_hz) * plant.stiffness_Nm_per_rad;
    for (double f : {0.3 * c.resonance_hz, plant.anti_resonance_hz, c.resonance_hz, 2.0 * c.resonance_hz}) {
      const double w = 2.0 * std::numbers::pi * f;
      const Complex rigid = model.K / (model.J * Complex{0.0, w});
      const Complex expected = rigid * dcservo::TwoMassShape(plant, f);
      EXPECT_LT(std::abs(dcservo::PlantResponse(model, w) / expected - 1.0), 1e-9) << f;
    }
  }
}

// A measured coupling holds for its setup while its scope lives, the inner of two scopes
// first, and never for another setup.
TEST(FrequencyResponse, AMeasuredCouplingHoldsForItsSetupWhileItsScopeLives) {
  CZel_Setup one, other;
  const dcservo::ShaftCoupling outer{0.5, 300.0, 0.01}, inner{0.3, 500.0, 0.02};
  {
    dcservo::MeasuredCouplingScope a(one, outer);
    {
      dcservo::MeasuredCouplingScope b(one, inner);
      EXPECT_EQ(dcservo::MeasuredCouplingOf(one), inner);
      EXPECT_EQ(dcservo::MeasuredCouplingOf(other), std::nullopt);
    }
    EXPECT_EQ(dcservo::MeasuredCouplingOf(one), outer);
  }
  EXPECT_EQ(dcservo::MeasuredCouplingOf(one), std::nullopt);
}

}  // namespace
