#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "host/zel_errors.h"
#include "tests/support/test_setups.h"
#include "units/parameter_reader.h"
#include "units/timing.h"
#include "units/scales.h"

using dcservo::ScaleFactor;
using dcservo::ScaleOffset;
using testing_support::MakeTimingSetup;

namespace {

constexpr double kPi = std::numbers::pi;
// The example drive: 65472 converter counts, 2000 counts per turn, 500 us slow loop.
constexpr double kAdcMax = 65472;
constexpr double kCountsPerRad = 2000 / (2 * kPi);
constexpr double kTs = 500e-6;

TEST(ScaleFactor, EveryUnitOfTheTableOnTheExampleDrive) {
  struct Case {
    const char* unit;
    const char* name;
    double factor;
  };
  const Case cases[] = {
      {"V ", "AD0", 60 / kAdcMax},
      {"V", "AnalogueInputsRange", 1.0},
      {"V", "DeadBand_Point", 20 / kAdcMax},
      {"V", "ad5", 20 / kAdcMax},
      {"V", "UQREF", 48 / 32767.0},
      {"A", "IQ", 20 / kAdcMax},
      {"s", "TS_C", 50e-6},
      {"s", "time_ERR_pos", kTs},
      {"rad", "APOS", 1 / kCountsPerRad},
      {"m", "APOS_MT", 1 / kCountsPerRad},
      {"RAD/S", "ASPD", 1 / (kTs * kCountsPerRad)},
      {"rad/s", "ERR_speed", 1 / (kTs * kCountsPerRad)},
      {"rad/s^2", "CACC", 1 / (kTs * kTs * kCountsPerRad)},
      {"m/s^3", "JERK", 1 / (kTs * kTs * kTs * kCountsPerRad)},
      {"\xB0" "C", "TEMPS", 3.3 / (kAdcMax * 0.01)},
      {"V/s", "X", 48 / 32767.0 / kTs},
      {"A/s", "X", 20 / kAdcMax / kTs},
      {"N", "X", 1.0},
      {"rpm", "ASPD", 1.0},
  };
  auto setup = MakeTimingSetup();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.unit) + " / " + c.name);
    EXPECT_NEAR(ScaleFactor(*setup, c.unit, c.name), c.factor, std::abs(c.factor) * 1e-12);
  }
}

TEST(ScaleFactor, AbsoluteValueOnlyWhereTheTableTakesIt) {
  auto setup = MakeTimingSetup({{"Motor_transmission", -1}});
  EXPECT_LT(ScaleFactor(*setup, "rad", "APOS"), 0);
  EXPECT_GT(ScaleFactor(*setup, "rad", "ERR_position"), 0);
  EXPECT_GT(ScaleFactor(*setup, "rad", "POS_MIN"), 0);
  EXPECT_LT(ScaleFactor(*setup, "rad/s", "CSPD"), 0);
  EXPECT_GT(ScaleFactor(*setup, "m/s", "TestSpeed"), 0);
  // The position controller's speed limit: motor speed scale times the ratio, always positive.
  testing_support::Put(*setup, {{"Motor_transmission", -3}});
  EXPECT_NEAR(ScaleFactor(*setup, "rad/s", "Limit_Speed"), 1 / (kTs * kCountsPerRad * 3), 1e-12);
}

TEST(ScaleFactor, TachoOnlyDriveKeepsPositionsInCountsAndSpeedsFromTheTacho) {
  auto setup = MakeTimingSetup({{"SensorsConfiguration", 1}});
  const double tacho = 1024 * 0.01 / 20;  // counts per rad/s
  EXPECT_EQ(ScaleFactor(*setup, "rad", "APOS"), 1.0);
  EXPECT_EQ(ScaleFactor(*setup, "rad", "APOS_MT"), 1.0);
  EXPECT_NEAR(ScaleFactor(*setup, "rad/s", "ASPD"), 1 / tacho, 1e-12);
  EXPECT_NEAR(ScaleFactor(*setup, "rad/s", "CSPD"), 1 / tacho, 1e-12);
  EXPECT_NEAR(ScaleFactor(*setup, "rad/s^2", "CACC"), 1 / (tacho * kTs), 1e-9);
}

TEST(ScaleFactor, EncoderOnTheLoadStillTakesMotorSpeedFromTheTacho) {
  auto setup = MakeTimingSetup({{"SensorsConfiguration", 2}});
  EXPECT_NEAR(ScaleFactor(*setup, "rad/s", "ASPD"), 1 / (1024 * 0.01 / 20), 1e-12);
  EXPECT_NEAR(ScaleFactor(*setup, "rad/s", "CSPD"), 1 / (kTs * kCountsPerRad), 1e-12);
}

TEST(ScaleFactor, UnknownSensorConfigurationHasNoFiniteSpeedFactor) {
  auto setup = MakeTimingSetup({{"SensorsConfiguration", 3}});
  EXPECT_TRUE(std::isinf(ScaleFactor(*setup, "rad/s", "CSPD")));
  EXPECT_EQ(ScaleFactor(*setup, "rad", "APOS"), 1.0);
}

TEST(ScaleOffset, OnlyDegreesCelsiusHaveOne) {
  auto setup = MakeTimingSetup();
  EXPECT_NEAR(ScaleOffset(*setup, "°C"), -kAdcMax * 0.5 / 3.3, 1e-9);
  EXPECT_EQ(ScaleOffset(*setup, "°C"), ScaleOffset(*setup, "\xB0" "C"));
  EXPECT_EQ(ScaleOffset(*setup, "V"), 0.0);
  EXPECT_EQ(ScaleOffset(*setup, "A"), 0.0);
  testing_support::Put(*setup, {{"DriveTempOutputAt0oC", 0}});
  EXPECT_EQ(ScaleOffset(*setup, "°C"), 0.0);
}

TEST(ScaleOffset, DriveTemperatureConvertsFromCounts) {
  // 1.3 V at the converter is 80 degrees with 0.5 V at 0 and 10 mV per degree.
  auto setup = MakeTimingSetup();
  const double counts = 1.3 / 3.3 * kAdcMax;
  const double celsius = (counts + ScaleOffset(*setup, "°C")) * ScaleFactor(*setup, "°C", "T");
  EXPECT_NEAR(celsius, 80.0, 1e-9);
}

}  // namespace

namespace {

struct ReadingCase {
  const char* without;
  double (*scale)(const dcservo::ParameterReader& in);
};

}  // namespace

// Read through the setup, a scale tells the host what is missing; read through a quiet reader,
// it tells nobody and its caller learns the name. Either way the missing value reads 0.
TEST(ScaleReading, TheQuietReaderKeepsWhatTheReportingOneTells) {
  using dcservo::ParameterReader;
  const ReadingCase cases[] = {
      {"Vdc", dcservo::VoltageScale},
      {"ImaxPS", dcservo::CurrentScale},
      {"No_encoder_lines", dcservo::MotorPositionScale},
      {"SLPER", dcservo::MotorSpeedScale},
      {"PWMPER", dcservo::FastLoopPeriod},
  };
  for (const ReadingCase& c : cases) {
    SCOPED_TRACE(c.without);
    auto full = MakeTimingSetup();
    auto setup = testing_support::MakeSetup({});
    const CZel_Parameters& all = full->GetParameters();
    for (int i = 0; i < all.GetParametersCount(); ++i) {
      const CZel_Parameter& p = *all[i];
      if (p.GetName() == c.without) continue;
      testing_support::Put(*setup, {{p.GetName().c_str(), p.GetValueInInternalUnit(),
                                     p.GetUnitName(), !p.IsStoredInBaseUnit(), p.GetType()}});
    }
    double quiet_value = 0.0, told_value = 0.0;
    const ParameterReader quiet = ParameterReader::Quiet(*setup);
    {
      ZelCollectErrors errors;
      quiet_value = c.scale(quiet);
      EXPECT_TRUE(errors.Messages().empty());
    }
    ASSERT_EQ(quiet.Missing().size(), 1u);
    EXPECT_EQ(quiet.Missing()[0], c.without);
    ZelCollectErrors errors;
    told_value = c.scale(ParameterReader::Reporting(*setup));
    ASSERT_FALSE(errors.Messages().empty());
    EXPECT_EQ(errors.Messages()[0], std::string("parameter \"") + c.without + "\" is not in the setup");
    EXPECT_TRUE(quiet_value == told_value || (std::isnan(quiet_value) && std::isnan(told_value)));
  }
}
