// A zero in a denominator must leave the setup as it was: no NaN or infinity stored, no
// range widened to infinity, and the step reports 0.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "derive/pipelines.h"
#include "tests/support/test_setups.h"

namespace {

using dcservo::Direction;

struct Case {
  const char* why;
  std::map<std::string, double> setup;  // base values changed on the bundled drive
  const char* quantity;
  Direction direction;
};

TEST(ZeroDenominator, StepChangesNothingAndReportsZero) {
  constexpr Direction kScaled = Direction::ToScaled, kChip = Direction::ToChip;
  const Case cases[] = {
      {"SATS at full scale, IMAXS below", {{"SATS", 32767}, {"IMAXS", 100}}, "IPSatS", kScaled},
      {"SATS and IMAXS at full scale", {{"SATS", 32767}, {"IMAXS", 32767}}, "IPSatS", kScaled},
      {"SATP at full scale", {{"SATP", 32767}}, "IPSatP", kScaled},
      {"K of 0", {{"K", 0}}, "TestMaxSpeed", kScaled},
      {"K of 0 in the speed limit's range", {{"K", 0}}, "Limit_Speed", kScaled},
      {"no encoder lines", {{"No_encoder_lines", 0}}, "Limit_Speed", kScaled},
      {"load side of 0", {{"Load_transmission", 0}}, "SATP", kChip},
      {"load side of 0", {{"Load_transmission", 0}}, "IMAXP", kChip},
      {"load side of 0", {{"Load_transmission", 0}}, "ERRMAX", kChip},
      {"ImaxPS of 0", {{"ImaxPS", 0}}, "SATS", kChip},
      {"ImaxPS of 0", {{"ImaxPS", 0}}, "IMAXS", kChip},
      {"ImaxPS of 0", {{"ImaxPS", 0}}, "IMAXPROT", kChip},
      {"ImaxPS of 0", {{"ImaxPS", 0}}, "I_I2t_D", kScaled},
      {"CLPER of 0", {{"CLPER", 0}, {"FILTERQ", 1000}}, "FilterOnCurrentControllerOutput", kScaled},
      {"SFI2T_D of 0", {{"SFI2T_D", 0}}, "t_I2t_D", kScaled},
      {"SFI2T_M of 0", {{"SFI2T_M", 0}}, "t_I2t_M", kScaled},
      {"t_I2t_D of 0", {{"t_I2t_D", 0}}, "SFI2T_D", kChip},
      {"t_I2t_D of 0", {{"t_I2t_D", 0}}, "II2TWARLIM_D", kChip},
      {"t_I2t_M of 0", {{"t_I2t_M", 0}}, "SFI2T_M", kChip},
      {"t_I2t_M of 0", {{"t_I2t_M", 0}}, "I2TWARLIM_M", kChip},
      {"Ts_S of 0", {{"Ts_S", 0}}, "TIMAXPROT", kChip},
      {"Ts_S of 0", {{"Ts_S", 0}}, "TERRMAX", kChip},
      {"Ts_S of 0", {{"Ts_S", 0}}, "TSERRMAX", kChip},
      {"no encoder lines", {{"No_encoder_lines", 0}}, "ERR_position", kScaled},
      {"no load speed scale", {{"SensorsConfiguration", 3}}, "ERR_speed", kScaled},
      {"sensor gain of 0", {{"DriveTempSensorGain", 0}}, "Temp_2", kScaled},
      {"ADC range of 0", {{"ADCrange", 0}}, "T2MAXPROT", kChip},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.quantity) + " with " + c.why);
    auto s = testing_support::LoadBundledSetup();
    for (const auto& [name, value] : c.setup)
      ASSERT_TRUE(s->SetParameterValueInBaseUnit(name, value)) << name;
    const CZel_Parameter& target = *s->FindParameter(c.quantity);
    const double value = target.GetValueInInternalUnit();
    const double min = target.GetMinInBaseUnit(), max = target.GetMaxInBaseUnit();

    ZelCollectErrors errors;
    EXPECT_EQ(dcservo::RunStep(*s, c.quantity, c.direction), 0);
    EXPECT_EQ(target.GetValueInInternalUnit(), value);
    EXPECT_EQ(target.GetMinInBaseUnit(), min);
    EXPECT_EQ(target.GetMaxInBaseUnit(), max);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Messages().front();
  }
}

}  // namespace
