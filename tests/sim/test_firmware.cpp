// The firmware against the chip formats: gains as mantissa and shift, limits as distance from
// full scale, first-order filters, biquad slots and the loop structure of ACR.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sim/chip_settings.h"
#include "sim/firmware.h"
#include "sim/fixed_point.h"

namespace {

using dcsim::i64;

TEST(ChipGain, MantissaAndShiftActAsTheirScaledValue) {
  struct Case {
    double mantissa, shift, acts_as;
  };
  const Case cases[] = {{24575, 0, 0.749992}, {24575, 2, 2.99997}, {32767, 0, 1.0},
                        {32767, 14, 16384.0}, {0, 0, 0.0},         {19132, 0, 0.583880},
                        {24682, 12, 3085.34}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mantissa << " << " << c.shift);
    const dcsim::QGain g = dcsim::QGain::FromChip(c.mantissa, c.shift);
    EXPECT_NEAR(g.Value(), c.acts_as, 1e-5 * std::max(1.0, c.acts_as));
    for (i64 x : {i64{10000}, i64{-10000}, i64{7}, i64{-1}}) {
      const double exact = static_cast<double>(x) * c.mantissa * std::ldexp(1.0, int(c.shift)) / 32767;
      EXPECT_NEAR(static_cast<double>(g.Apply(x)), exact, 0.5 + 1e-9 * std::abs(exact)) << x;
    }
  }
}

TEST(ChipLimit, IsTheDistanceFromFullScale) {
  const std::pair<double, i64> cases[] = {
      {32767, 0}, {0, 32767}, {6578, 26189}, {32687, 80}, {40000, 0}, {-5, 32767}, {9197.6, 23570}};
  for (const auto& [chip, limit] : cases) EXPECT_EQ(dcsim::LimitFromChip(chip), limit) << chip;
}

// Full scale as no filter is held through the current loop's FILTERQ below.
TEST(FirstOrderFilter, FollowsItsCoefficient) {
  for (double coefficient : {16384.0, 3277.0, 1.0}) {
    SCOPED_TRACE(coefficient);
    const dcsim::FirstOrder f = dcsim::FirstOrder::FromChip(coefficient);
    const double q = coefficient / 32767;
    i64 y = 0;
    const i64 x = dcsim::ToQ16(10000);
    for (int n = 1; n <= 20; ++n) {
      f.Step(y, x);
      const double expected = 10000 * (1 - std::pow(1 - q, n));
      EXPECT_NEAR(static_cast<double>(y) / 65536.0, expected, 1e-3) << n;
    }
  }
}

TEST(Biquad, QuantisedSlotsMatchTheirRealFilterAndPassZeroFrequency) {
  // Designed for a 0.5 ms sample: a first-order low pass at 100 Hz (SF 1) and a second-order
  // one at 200 Hz, Q 0.707 (SF 2).
  struct Case {
    const char* what;
    dcsim::BiquadSlot slot;
  };
  const Case cases[] = {
      {"low pass 1st order", {293622725, 293622725, 0, -1560238198, 0, 1}},
      {"low pass 2nd order", {72426337, 144852674, 72426337, -1227211551, 443175075, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const double s = static_cast<double>(c.slot.sf) / 2147483648.0;
    auto real = [s](i64 coefficient) { return static_cast<double>(coefficient) * s; };
    const double b0 = real(c.slot.b0), b1 = real(c.slot.b1), b2 = real(c.slot.b2);
    const double a1 = real(c.slot.a1), a2 = real(c.slot.a2);
    dcsim::BiquadState state;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double last = 0;
    for (int n = 0; n < 400; ++n) {
      const double x = n < 200 ? 1000.0 : -250.0;
      const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
      x2 = x1, x1 = x, y2 = y1, y1 = y;
      last = static_cast<double>(dcsim::BiquadStep(c.slot, state, dcsim::ToQ16(static_cast<i64>(x)))) /
             65536.0;
      ASSERT_NEAR(last, y, 0.02) << n;
    }
    EXPECT_NEAR(last, -250.0, 0.01);
  }
}

using Chip = std::vector<std::pair<const char*, double>>;

dcsim::ChipSettings Compile(const Chip& chip) {
  dcsim::ChipMemory memory;
  for (const auto& [name, value] : chip) memory.Write(name, value);
  return memory.Compile();
}

TEST(ChipSettings, RegistersSelectStructureSensorsAndBiquadPlaces) {
  using enum dcsim::Structure;
  const std::pair<unsigned, dcsim::Structure> structures[] = {
      {0x0100, Current}, {0x0300, Speed}, {0x0700, PositionOverSpeed},
      {0x0500, PositionOverCurrent}, {0x4700, PositionOverSpeed}};
  for (const auto& [acr, structure] : structures) EXPECT_EQ(dcsim::StructureOfAcr(acr), structure) << acr;
  using enum dcsim::Sensors;
  const std::pair<double, dcsim::Sensors> sensors[] = {{0x100, MotorEncoder}, {0x130, MotorEncoder},
                                                       {0x10F, Tacho}, {0x008, TachoAndLoadEncoder},
                                                       {0x03F, MotorEncoder}};
  for (const auto& [scr, kind] : sensors) EXPECT_EQ(Compile({{"SCR", scr}}).sensors, kind) << scr;
  EXPECT_TRUE(Compile({{"UPGRADE", 0x0044}}).loops_in_fast_loop);
  EXPECT_FALSE(Compile({{"UPGRADE", 0x0004}}).loops_in_fast_loop);

  // Three slots shared by the places in order; a count beyond what is left is cut.
  const dcsim::ChipSettings places =
      Compile({{"SPDREF_BQ_INI", 1}, {"IQREF_BQ_INI", 3}, {"ASPD_BQ_INI", 2}});
  EXPECT_EQ(places.spdref_biquads, 1);
  EXPECT_EQ(places.iqref_biquads, 2);
  EXPECT_EQ(places.aspd_biquads, 0);
  // The acceleration feedforward's shift is the sum of its two registers.
  EXPECT_NEAR(Compile({{"KFFA", 19999.39}, {"SFTAFFW", 11}, {"SFTKFF", 3}}).kffa.Value(), 10000, 0.5);
}

// Freshly reset loops of one structure on the given chip parameters.
dcsim::Firmware Loops(const Chip& chip,
                      dcsim::Structure structure = dcsim::Structure::Current) {
  dcsim::Firmware f;
  f.Configure(Compile(chip));
  f.Reset();
  f.structure = structure;
  return f;
}

// The output filter of full scale is no filter; below it the output moves towards the
// proportional share by that fraction a sample.
TEST(CurrentLoop, TheOutputIsTheProportionalShareOfTheErrorPlusTheWeightedLoadFeedforward) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, double>> chip;
    double error, volts;
    double second = NAN;  // the next sample's output; NAN: the same
    double within = 1.0;
  };
  const Case cases[] = {
      {"Kp 3/4", {{"KPI", 24575}}, 10000, 7500},
      {"Kp 3/4, negative", {{"KPI", 24575}}, -10000, -7500},
      {"Kp 3/4 << 1", {{"KPI", 24575}, {"SFTKPI", 1}}, 10000, 15000},
      {"Kp 1", {{"KPI", 32767}}, 321, 321},
      {"FFL at full KFFL", {{"KPI", 32767}, {"FFL", 1000}, {"KFFL", 32767}}, 0, 1000},
      {"FFL at half KFFL", {{"KPI", 32767}, {"FFL", 1000}, {"KFFL", 16384}}, 0, 500},
      {"FFL without KFFL", {{"KPI", 32767}, {"FFL", 1000}, {"KFFL", 0}}, 0, 0},
      {"FILTERQ at full scale", {{"KPI", 32767}, {"FILTERQ", 32767}}, 8000, 8000, NAN, 0},
      {"FILTERQ at half scale", {{"KPI", 32767}, {"FILTERQ", 16384}}, 8000, 4000, 6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dcsim::Firmware f = Loops(c.chip);
    f.current_command = static_cast<i64>(c.error);
    EXPECT_NEAR(static_cast<double>(f.FastLoop(0)), c.volts, c.within);
    EXPECT_NEAR(static_cast<double>(f.FastLoop(0)), std::isnan(c.second) ? c.volts : c.second, c.within);
  }
}

TEST(CurrentLoop, IntegralGainAddsItsShareOfTheErrorEverySample) {
  dcsim::Firmware f = Loops({{"KII", 3277}});  // 0.1 per sample
  f.current_command = 1000;
  for (int n = 1; n <= 50; ++n) EXPECT_NEAR(static_cast<double>(f.FastLoop(0)), 100.0 * n, 1.0) << n;
}

TEST(CurrentLoop, OutputAndIntegralStopAtSatiq) {
  for (double sign : {1.0, -1.0}) {
    SCOPED_TRACE(sign);
    dcsim::Firmware f = Loops({{"KPI", 32767}, {"KII", 32767}, {"SATIQ", 32767 - 10000}});
    f.current_command = static_cast<i64>(sign * 30000);
    for (int n = 0; n < 20; ++n) EXPECT_EQ(f.FastLoop(0), static_cast<i64>(sign * 10000));
    // The integral stopped at the limit, so a small reversed error pulls the output off it
    // at once instead of after it has unwound twenty samples of excess.
    f.current_command = static_cast<i64>(-sign * 100);
    EXPECT_EQ(f.FastLoop(0) * static_cast<i64>(sign), 10000 - 200);
  }
}

// The integrators sum in 64 bits; what they hold must be the wide sum limited, including
// where the product or the sum leaves 64 bits and where an overflowing product comes back
// within the limit with the sum.
TEST(Integrator, SumsAsTheWideSumLimited) {
  const i64 limit = i64{32767} << 48, big = i64{1} << 62;
  struct Case {
    i64 acc, x, mult, limit;
  };
  const Case cases[] = {
      {0, 1000, 1 << 20, limit},         {limit, 1, 1, limit},
      {-limit, -1, 1, limit},            {5, -5, 1, 0},
      {limit - 7, 1 << 20, big, limit},  {-limit, i64{1} << 20, -big, limit},
      {-limit, 2, big, limit},           {limit, -2, big, limit},
      {limit, 3, big / 3 * 2, limit},    {-limit, -3, big / 3 * 2, limit},
      {123456789, -987654321, 4096, limit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.acc << " + " << c.x << " * " << c.mult);
    const dcsim::QGain gain{c.mult};
    const dcsim::i128 wide = dcsim::Clamp(static_cast<dcsim::i128>(c.acc) + gain.Wide(c.x),
                                          static_cast<dcsim::i128>(c.limit));
    EXPECT_EQ(gain.Integrate(c.acc, c.x, c.limit), static_cast<i64>(wide));
  }
}

TEST(SpeedLoop, IntegralLimitAndOutputLimitActAsDistancesFromFullScale) {
  // Kp 0.5, Ki 1 per sample; output within 20000, integral within 5000.
  dcsim::Firmware f = Loops(
      {{"KPS", 16384}, {"KIS", 32767}, {"SATS", 32767 - 20000}, {"IMAXS", 32767 - 5000}},
      dcsim::Structure::Speed);
  f.speed_command_q16 = dcsim::ToQ16(1000);
  for (int n = 0; n < 20; ++n) f.SlowLoop(0, 0);
  EXPECT_EQ(f.CurrentReference(), 500 + 5000);
  f.speed_command_q16 = dcsim::ToQ16(100000);
  f.SlowLoop(0, 0);
  EXPECT_EQ(f.CurrentReference(), 20000);
  // A test's current limit takes the place of the chip's, and caps the integral with it.
  f.current_limit_override = 3000;
  f.SlowLoop(0, 0);
  EXPECT_EQ(f.CurrentReference(), 3000);
}

TEST(PositionLoop, DerivativeActsPerSampleThroughItsFilter) {
  struct Case {
    double kdfp;
    double first, second;  // of a position error step of 1000 counts, Kd = 1
  };
  const Case cases[] = {{32767, 1000, 0}, {16384, 500, 250}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kdfp);
    dcsim::Firmware f =
        Loops({{"KDP", 32767}, {"KDFP", c.kdfp}}, dcsim::Structure::PositionOverCurrent);
    f.SlowLoop(0, 0);
    f.target_q16 = dcsim::ToQ16(1000);
    f.SlowLoop(0, 0);
    EXPECT_NEAR(static_cast<double>(f.CurrentReference()), c.first, 1);
    f.SlowLoop(0, 0);
    EXPECT_NEAR(static_cast<double>(f.CurrentReference()), c.second, 1);
  }
}

TEST(PositionLoop, OverTheSpeedLoopItsOutputIsASpeedLimitedBySatp) {
  dcsim::Firmware f =
      Loops({{"KPP", 32767}, {"SATP", 32767 - 80}, {"KPS", 0}}, dcsim::Structure::PositionOverSpeed);
  f.target_q16 = dcsim::ToQ16(50);
  f.SlowLoop(0, 0);
  EXPECT_EQ(f.SpeedReference(), 50);
  f.target_q16 = dcsim::ToQ16(5000);
  f.SlowLoop(0, 0);
  EXPECT_EQ(f.SpeedReference(), 80);
  f.speed_limit_override = 20;
  f.SlowLoop(0, 0);
  EXPECT_EQ(f.SpeedReference(), 20);
}

TEST(ControlError, TripsAfterTheDelayUnlessSwitchedOff) {
  struct Case {
    double terrmax;
    int samples_to_trip;  // 0: never
  };
  const Case cases[] = {{0, 1}, {5, 6}, {65535, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.terrmax);
    dcsim::Firmware f =
        Loops({{"ERRMAX", 100}, {"TERRMAX", c.terrmax}}, dcsim::Structure::PositionOverCurrent);
    f.target_q16 = dcsim::ToQ16(100);  // at the band: no error
    f.SlowLoop(0, 0);
    EXPECT_FALSE(f.ControlErrorTripped());
    f.target_q16 = dcsim::ToQ16(101);
    int tripped_at = 0;
    for (int n = 1; n <= 10 && !tripped_at; ++n) {
      f.SlowLoop(0, 0);
      if (f.ControlErrorTripped()) tripped_at = n;
    }
    EXPECT_EQ(tripped_at, c.samples_to_trip);
  }
}

TEST(Feedforward, SpeedAndAccelerationOfTheTrajectoryReachTheirLoops) {
  // On the trajectory with no error only the feedforward acts: a speed of 5 counts per sample
  // and an acceleration of a quarter count per sample per sample.
  auto on_trajectory = [](dcsim::Firmware f) {
    f.trajectory_speed_q16 = dcsim::ToQ16(5);
    f.trajectory_accel_q16 = dcsim::kOne / 4;
    f.SlowLoop(0, 0);
    return f;
  };
  // The speed feedforward at a gain of 1 into the speed reference.
  const dcsim::Firmware speed = on_trajectory(
      Loops({{"KFFS", 32767}, {"SFTSFFW", 0}}, dcsim::Structure::PositionOverSpeed));
  EXPECT_EQ(speed.SpeedReference(), 5);
  // The acceleration feedforward at a gain of 400 (a mantissa shifted by 9) into the current
  // reference.
  const dcsim::Firmware accel = on_trajectory(
      Loops({{"KFFA", 400.0 * 32767 / 512}, {"SFTAFFW", 9}}, dcsim::Structure::Speed));
  EXPECT_NEAR(static_cast<double>(accel.CurrentReference()), 100, 1);
}

}  // namespace
