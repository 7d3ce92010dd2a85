// The spectrum that a speed run leaves for the filters: which runs' spectra are kept, and how
// a spectrum reads on another frequency axis than its bins.

#include <gtest/gtest.h>

#include <cmath>

#include "design/last_speed_run.h"
#include "tests/support/test_setups.h"
#include "tests/support/test_tones.h"

namespace {

using namespace dcservo;

// Bins of 10 Hz: 0.1 A at 0 Hz (a mean left in), then 1 A, 0.01 A, 0.1 A.
Spectrum FourBins() { return {10.0, {0.0, 10.0, 20.0, 30.0}, {0.1, 1.0, 0.01, 0.1}}; }

TEST(MeasuredSpectrum, ReadsBetweenItsBinsAsAPlotJoinsThemInDecibels) {
  const struct {
    double hz, db;
  } cases[] = {
      {10.0, 0.0},   {20.0, -40.0}, {15.0, -20.0},  // halfway in dB, not in amperes
      {25.0, -30.0}, {2.0, 0.0},                    // below the first bin above 0 Hz
      {45.0, -20.0},                                // past the last
  };
  const Spectrum s = FourBins();
  for (const auto& c : cases) {
    const double f[] = {c.hz};
    EXPECT_NEAR(SpectrumLevelsDb(s, f).at(0), c.db, 1e-9) << c.hz << " Hz";
  }
  // A coarse grid takes the bins between its ends, each once.
  EXPECT_EQ(WithSpectrumBins({5.0, 20.0, 28.0}, s), (std::vector<double>{5.0, 10.0, 20.0, 28.0}));
  // A tone between two bins reads the larger of them.
  EXPECT_EQ(AmplitudeNear(s, 14.0), 1.0);
  EXPECT_EQ(AmplitudeNear(s, 26.0), 0.1);
}

TEST(MeasuredSpectrum, OnlyTheNewestRunAtTheSpeedLoopsRateIsKeptAndOnlyForItsSetup) {
  const auto setup = testing_support::LoadBundledSetup();  // Ts_S 0.5 ms
  const auto other = testing_support::LoadBundledSetup();
  const Resonance r{800.0, 40.0, 0.0, true};
  RememberMeasuredSpectrum(*setup, testing_support::LoggedSpectrum(0.0005, 800, 0.4), r);
  ASSERT_TRUE(LastMeasuredSpectrum(*setup));
  EXPECT_EQ(LastMeasuredSpectrum(*setup)->resonance->frequency_hz, 800.0);
  EXPECT_FALSE(LastMeasuredSpectrum(*other));
  // A newer run logged at 1 kHz folds what rings above 500 Hz: it forgets the older one.
  RememberMeasuredSpectrum(*setup, testing_support::LoggedSpectrum(0.001, 400, 0.4), r);
  EXPECT_FALSE(LastMeasuredSpectrum(*setup));
  RememberMeasuredSpectrum(*setup, testing_support::LoggedSpectrum(0.0005, 800, 0.4), r);
  RememberMeasuredSpectrum(*setup, std::nullopt, std::nullopt);
  EXPECT_FALSE(LastMeasuredSpectrum(*setup));
  ForgetMeasuredSpectrum();
}

}  // namespace
