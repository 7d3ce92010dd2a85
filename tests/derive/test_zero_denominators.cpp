// A zero in a denominator leaves the whole setup as it was, ranges included (no NaN or
// infinity stored, no range widened to infinity), says nothing to the user, and the step
// reports 0.

#include <map>
#include <string>
#include <vector>

#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

TEST(ZeroDenominator, StepChangesNothingAndReportsZero) {
  struct Case {
    std::map<std::string, double> setup;  // base values changed on the bundled drive
    Direction direction;
    std::vector<const char*> quantities;
  };
  const Case cases[] = {
      {{{"SATS", 32767}, {"IMAXS", 100}}, kScaled, {"IPSatS"}},
      {{{"SATS", 32767}, {"IMAXS", 32767}}, kScaled, {"IPSatS"}},
      {{{"SATP", 32767}}, kScaled, {"IPSatP"}},
      {{{"K", 0}}, kScaled, {"TestMaxSpeed", "Limit_Speed"}},
      {{{"No_encoder_lines", 0}},
       kScaled,
       {"Limit_Speed", "ERR_position", "ErefMaxSpeed", "ErefMaxAcceleration"}},
      {{{"No_encoder_lines", 0}}, kChip, {"TRANSMISION"}},
      {{{"Motor_transmission", 0}},
       kScaled,
       {"Negative_SWLS", "Positive_SWLS", "FreezeControl_errband"}},
      {{{"Motor_transmission", 0}}, kChip, {"TRANSMISION"}},
      {{{"Load_transmission", 0}}, kChip, {"SATP", "IMAXP", "ERRMAX", "CSPD", "CACC"}},
      {{{"ImaxPS", 0}}, kChip, {"SATS", "IMAXS", "IMAXPROT"}},
      {{{"ImaxPS", 0}}, kScaled, {"I_I2t_D"}},
      {{{"CLPER", 0}, {"FILTERQ", 1000}}, kScaled, {"FilterOnCurrentControllerOutput"}},
      {{{"SLPER", 0}}, kScaled, {"filter"}},
      {{{"SLPER", 0}}, kChip, {"TRANSMISION"}},
      {{{"SFI2T_D", 0}}, kScaled, {"t_I2t_D"}},
      {{{"SFI2T_M", 0}}, kScaled, {"t_I2t_M"}},
      {{{"t_I2t_D", 0}}, kChip, {"SFI2T_D", "II2TWARLIM_D"}},
      {{{"t_I2t_M", 0}}, kChip, {"SFI2T_M", "I2TWARLIM_M"}},
      {{{"Ts_S", 0}},
       kChip,
       {"TIMAXPROT", "TERRMAX", "TSERRMAX", "BRAKEAPPLYDELAY", "BRAKERELEASEDELAY", "TONPOSOK_FC"}},
      {{{"SensorsConfiguration", 3}}, kScaled, {"ERR_speed"}},  // no load speed scale
      {{{"DriveTempSensorGain", 0}}, kScaled, {"Temp_2"}},
      {{{"ADCrange", 0}}, kChip, {"T2MAXPROT"}},
      {{{"GEARMASTER", 0}}, kChip, {"GEAR"}},
      {{{"AnalogueInputsRange", 0}}, kChip, {"LEVEL_AD5", "E_LEVEL_AD5"}},
  };
  for (const Case& c : cases) {
    for (const char* quantity : c.quantities) {
      SCOPED_TRACE(std::string(quantity) + " with " + c.setup.begin()->first + " of " +
                   std::to_string(c.setup.begin()->second));
      auto s = LoadBundledSetup();
      for (const auto& [name, value] : c.setup) Set(*s, name.c_str(), value);
      const RangedSnapshot before = TakeRanged(*s);
      ZelCollectErrors errors;
      EXPECT_EQ(Step(*s, quantity, c.direction), kRefused);
      ExpectSame(before, TakeRanged(*s), true);
      EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
    }
  }
}

}  // namespace
