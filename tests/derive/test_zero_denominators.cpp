// A zero in a denominator leaves the whole setup as it was, ranges included (no NaN or
// infinity stored, no range widened to infinity), says nothing to the user, and the step
// reports 0.

#include <map>
#include <string>

#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

TEST(ZeroDenominator, StepChangesNothingAndReportsZero) {
  struct Case {
    std::map<std::string, double> setup;  // base values changed on the bundled drive
    const char* quantity;
    Direction direction;
  };
  const Case cases[] = {
      {{{"SATS", 32767}, {"IMAXS", 100}}, "IPSatS", kScaled},
      {{{"SATS", 32767}, {"IMAXS", 32767}}, "IPSatS", kScaled},
      {{{"SATP", 32767}}, "IPSatP", kScaled},
      {{{"K", 0}}, "TestMaxSpeed", kScaled},
      {{{"K", 0}}, "Limit_Speed", kScaled},  // in the speed limit's range
      {{{"No_encoder_lines", 0}}, "Limit_Speed", kScaled},
      {{{"No_encoder_lines", 0}}, "ERR_position", kScaled},
      {{{"No_encoder_lines", 0}}, "ErefMaxSpeed", kScaled},
      {{{"No_encoder_lines", 0}}, "ErefMaxAcceleration", kScaled},
      {{{"No_encoder_lines", 0}}, "TRANSMISION", kChip},
      {{{"Motor_transmission", 0}}, "Negative_SWLS", kScaled},
      {{{"Motor_transmission", 0}}, "Positive_SWLS", kScaled},
      {{{"Motor_transmission", 0}}, "FreezeControl_errband", kScaled},
      {{{"Motor_transmission", 0}}, "TRANSMISION", kChip},
      {{{"Load_transmission", 0}}, "SATP", kChip},
      {{{"Load_transmission", 0}}, "IMAXP", kChip},
      {{{"Load_transmission", 0}}, "ERRMAX", kChip},
      {{{"Load_transmission", 0}}, "CSPD", kChip},
      {{{"Load_transmission", 0}}, "CACC", kChip},
      {{{"ImaxPS", 0}}, "SATS", kChip},
      {{{"ImaxPS", 0}}, "IMAXS", kChip},
      {{{"ImaxPS", 0}}, "IMAXPROT", kChip},
      {{{"ImaxPS", 0}}, "I_I2t_D", kScaled},
      {{{"CLPER", 0}, {"FILTERQ", 1000}}, "FilterOnCurrentControllerOutput", kScaled},
      {{{"SLPER", 0}}, "filter", kScaled},
      {{{"SLPER", 0}}, "TRANSMISION", kChip},
      {{{"SFI2T_D", 0}}, "t_I2t_D", kScaled},
      {{{"SFI2T_M", 0}}, "t_I2t_M", kScaled},
      {{{"t_I2t_D", 0}}, "SFI2T_D", kChip},
      {{{"t_I2t_D", 0}}, "II2TWARLIM_D", kChip},
      {{{"t_I2t_M", 0}}, "SFI2T_M", kChip},
      {{{"t_I2t_M", 0}}, "I2TWARLIM_M", kChip},
      {{{"Ts_S", 0}}, "TIMAXPROT", kChip},
      {{{"Ts_S", 0}}, "TERRMAX", kChip},
      {{{"Ts_S", 0}}, "TSERRMAX", kChip},
      {{{"Ts_S", 0}}, "BRAKEAPPLYDELAY", kChip},
      {{{"Ts_S", 0}}, "BRAKERELEASEDELAY", kChip},
      {{{"Ts_S", 0}}, "TONPOSOK_FC", kChip},
      {{{"SensorsConfiguration", 3}}, "ERR_speed", kScaled},  // no load speed scale
      {{{"DriveTempSensorGain", 0}}, "Temp_2", kScaled},
      {{{"ADCrange", 0}}, "T2MAXPROT", kChip},
      {{{"GEARMASTER", 0}}, "GEAR", kChip},
      {{{"AnalogueInputsRange", 0}}, "LEVEL_AD5", kChip},
      {{{"AnalogueInputsRange", 0}}, "E_LEVEL_AD5", kChip},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.quantity) + " with " + c.setup.begin()->first + " of " +
                 std::to_string(c.setup.begin()->second));
    auto s = LoadBundledSetup();
    for (const auto& [name, value] : c.setup) Set(*s, name.c_str(), value);
    const RangedSnapshot before = TakeRanged(*s);
    ZelCollectErrors errors;
    EXPECT_EQ(Step(*s, c.quantity, c.direction), 0);
    ExpectSame(before, TakeRanged(*s), true);
    EXPECT_TRUE(errors.Messages().empty()) << ::testing::PrintToString(errors.Messages());
  }
}

}  // namespace
