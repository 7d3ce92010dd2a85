#include "design/notch_proposal.h"
#include "design/resonance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/support/test_setups.h"

namespace {

using dcservo::AverageSpectrum;

std::vector<double> Sine(std::size_t n, double period_s, double hz, double rms, double offset) {
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i)
    x[i] = offset + rms * std::sqrt(2.0) *
                        std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) * period_s);
  return x;
}

// A tone centred on a bin reads its RMS value there, whatever each stretch's mean; bins are
// 1 / (256 x 0.5 ms) = 7.8125 Hz apart, so 312.5 Hz is bin 40.
TEST(ResonanceSpectrum, ToneReadsItsRmsAtItsFrequency) {
  const double ts = 0.5e-3;
  const std::vector<std::vector<double>> stretches = {Sine(800, ts, 312.5, 0.2, 1.5),
                                                      Sine(600, ts, 312.5, 0.2, -3.0),
                                                      Sine(100, ts, 100.0, 5.0, 0.0)};
  const auto s = AverageSpectrum(stretches, ts);
  ASSERT_TRUE(s);
  EXPECT_DOUBLE_EQ(s->resolution_hz, 7.8125);
  ASSERT_EQ(s->amplitude.size(), 129u);
  std::size_t peak = 0;
  for (std::size_t k = 1; k < s->amplitude.size(); ++k)
    if (s->amplitude[k] > s->amplitude[peak]) peak = k;
  EXPECT_EQ(peak, 40u);  // the short 100 Hz stretch is left out
  EXPECT_NEAR(s->amplitude[40], 0.2, 0.002);
  EXPECT_LT(s->amplitude[0], 1e-3);  // the means are removed

  // Nothing long enough to read.
  const std::vector<std::vector<double>> short_only = {Sine(100, ts, 312.5, 1.0, 0.0)};
  EXPECT_FALSE(AverageSpectrum(short_only, ts));
}

// A spectrum of 7.8125 Hz bins up to 1 kHz (256 samples at 2 kHz) on a floor of 1, with tones
// standing `db` over it at the bins nearest their frequencies.
struct Tone {
  double hz, db;
};
dcservo::Spectrum FlatSpectrumWith(std::initializer_list<Tone> tones) {
  dcservo::Spectrum s;
  s.resolution_hz = 2000.0 / 256.0;
  for (int k = 0; k <= 128; ++k) {
    s.frequency_hz.push_back(k * s.resolution_hz);
    s.amplitude.push_back(1.0);
  }
  for (const Tone& t : tones)
    s.amplitude[static_cast<std::size_t>(std::lround(t.hz / s.resolution_hz))] = std::pow(10.0, t.db / 20.0);
  return s;
}

// The loop with its phase crossover at 313 Hz hunts at 289 Hz (7 samples), and behind a low pass
// with it at 72 Hz near 65 Hz; 0 Hz expects nothing named.
TEST(ResonanceSpectrum, TheLoopsOwnHuntingIsSetAsideAndACouplingIsNamed) {
  const struct {
    const char* what;
    double crossover_hz;
    std::initializer_list<Tone> tones;
    double named_hz;
  } cases[] = {
      {"a hunting tone as high as a coupling", 313, {{289, 30}}, 0},
      {"its harmonic, no higher", 313, {{289, 24}, {578, 25}}, 0},
      {"its 4th harmonic, folded about 1 kHz", 313, {{289, 24}, {2000.0 - 4 * 289.0, 25}}, 0},
      {"a harmonic far higher than the tone", 313, {{289, 18}, {578, 30}}, 578},
      {"a coupling beside the hunting", 313, {{289, 18}, {578, 18}, {703, 25}}, 703},
      {"a coupling too quiet to tell", 313, {{289, 18}, {703, 21}}, 0},
      {"behind a low pass: the tone below 100 Hz, its harmonics", 72, {{62.5, 47}, {133, 41}, {195, 30}}, 0},
      {"a ring whose harmonic stands higher: which is it", 313, {{414, 20}, {828, 25}}, 0},
      {"near 1 kHz, its folded harmonic too quiet to confuse", 313, {{797, 24}, {406, 15}}, 797},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = dcservo::FindResonance(FlatSpectrumWith(c.tones), c.crossover_hz);
    EXPECT_EQ(r.has_value(), c.named_hz > 0.0);
    if (r) {
      EXPECT_NEAR(r->frequency_hz, c.named_hz, 4.0);
    }
  }
  // Without the crossover the hunting tone is named as before: the caller must know the loop.
  const auto blind = dcservo::FindResonance(FlatSpectrumWith({{289, 30}}));
  ASSERT_TRUE(blind);
  EXPECT_NEAR(blind->frequency_hz, 289.0, 4.0);
}

// A coupling limits the loop when the rigid loop's gain with the peak reaches the gain margin's
// warning limit (-6 dB), or when it rings ten converter steps or more whatever that gain says:
// the 800 Hz coupling that rang at 0.46 A (24 steps of 20 mA) with a loop gain of -11 dB.
TEST(ResonanceJudgement, ARingOfTenConverterStepsLimitsTheLoopWhateverTheRigidGainSays) {
  const struct {
    double converter_step, rigid_gain_db;
    bool limits;
  } cases[] = {
      {1.0, -36.0, true},   // 15.8 steps, loop gain -12 dB
      {2.0, -36.0, false},  // 7.9 steps
      {2.0, -27.0, true},   // loop gain -3 dB
      {0.0, -36.0, false},  // the converter unknown: the gain alone judges
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.converter_step << " A a step, " << c.rigid_gain_db << " dB");
    // 24 dB over a floor of 1 A: a ring of 15.8 A RMS.
    auto r = dcservo::FindResonance(FlatSpectrumWith({{797, 24}}), 313.0);
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->ring_A, 15.85, 0.01);
    dcservo::JudgeResonance(*r, std::pow(10.0, c.rigid_gain_db / 20.0), c.converter_step);
    EXPECT_NEAR(r->loop_gain_db, c.rigid_gain_db + 24.0, 1e-9);
    EXPECT_EQ(r->limits_loop, c.limits);
  }
}

// The notch on the bundled drive's speed loop (PB_S 100 rad/s, crossover near 30 Hz): far
// enough above the crossover, the widest notch keeps the margins; near it none does.
TEST(ResonanceNotch, WidestNotchThatKeepsTheMargins) {
  auto setup = testing_support::LoadBundledSetup();
  dcservo::SynchroniseSetup(*setup);
  const auto model = dcservo::DriveModelOf(*setup);
  ASSERT_TRUE(model);
  const auto structure = dcservo::StructureOfLoop(*setup, dcservo::TunedLoop::Speed);

  const auto far = dcservo::ProposeNotch(*model, structure, 400.0);
  ASSERT_TRUE(far);
  EXPECT_TRUE(far->margins_kept);
  EXPECT_EQ(far->notch.place, dcservo::kPlaceSpeedControllerOutput);
  EXPECT_EQ(far->notch.type, dcservo::kNotch);
  EXPECT_DOUBLE_EQ(far->notch.frequency_hz, 400.0);
  EXPECT_DOUBLE_EQ(far->notch.q, 0.7);
  EXPECT_LT(far->depth_db, -40.0);  // a notch blocks its own frequency
  ASSERT_TRUE(far->margins && far->margins->phase_margin_deg && far->margins->gain_margin_db);
  EXPECT_GE(*far->margins->phase_margin_deg, dcservo::kPhaseMarginWarn_deg);
  EXPECT_GE(*far->margins->gain_margin_db, dcservo::kGainMarginWarn_dB);

  // At the crossover a notch takes the loop's gain where it needs it.
  const auto near = dcservo::ProposeNotch(*model, structure, 32.0);
  ASSERT_TRUE(near);
  EXPECT_FALSE(near->margins_kept);
  EXPECT_DOUBLE_EQ(near->notch.q, 3.0);

  // At or above the Nyquist frequency (1 kHz) there is nothing to notch.
  EXPECT_FALSE(dcservo::ProposeNotch(*model, structure, 1000.0));
}

}  // namespace
