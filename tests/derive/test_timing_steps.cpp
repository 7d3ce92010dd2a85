#include "derive/timing_steps.h"
#include "units/timing.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

constexpr auto kI16 = ZelStorageType::Int16;

std::unique_ptr<CZel_Setup> TimingDrive(std::initializer_list<Param> extra = {}) {
  auto setup = MakeTimingSetup({{"PWM_freq", 20000, "kHz"}, {"PWMperiod", 0, "s"},
                                {"Ts_C", 0, "s"}, {"Ts_S", 0, "s"}, {"CurrentMeasurementType", 1},
                                Reg("SATPWM", 0, kI16), Reg("SATID", 0, kI16),
                                Reg("SATIQ", 0, kI16), Reg("UPGRADE", 0)});
  Put(*setup, extra);
  return setup;
}

TEST(Timing, PeriodsFollowTheDividersOfTheExampleDrive) {
  auto setup = TimingDrive();
  dcservo::ComputeChipParameters(*setup);
  dcservo::ComputeScaledParameters(*setup);
  EXPECT_EQ(Value(*setup, "PWMPER"), 1000);
  EXPECT_DOUBLE_EQ(Value(*setup, "PWM_freq"), 20000);
  EXPECT_DOUBLE_EQ(Value(*setup, "PWMperiod"), 50e-6);
  EXPECT_DOUBLE_EQ(Value(*setup, "Ts_C"), 50e-6);
  EXPECT_DOUBLE_EQ(Value(*setup, "Ts_S"), 500e-6);
}

TEST(Timing, PwmSaturationFollowsTheMeasurementType) {
  struct Case {
    double type, freq, satpwm;
  };
  // 0.13107 x 20 kHz = 2621.4, which the chip stores as 2621.
  const Case cases[] = {{0, 20000, 0}, {0, 5000, 0}, {1, 20000, 2621}, {2, 25000, 3277}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " at " << c.freq << " Hz");
    auto setup = TimingDrive({{"CurrentMeasurementType", c.type}, {"PWM_freq", c.freq}});
    dcservo::ComputeChipParameters(*setup);
    EXPECT_EQ(Value(*setup, "SATPWM"), c.satpwm);
    EXPECT_EQ(Value(*setup, "SATID"), c.satpwm);
    EXPECT_EQ(Value(*setup, "SATIQ"), c.satpwm);
  }
}

TEST(Timing, NewPwmFrequencyKeepsTheLoopPeriodsClose) {
  auto setup = TimingDrive({{"PWM_freq", 25000}});
  ASSERT_EQ(dcservo::ApplyPwmFrequencyChange(*setup, 50e-6, 500e-6), dcservo::StepResult::Done);
  EXPECT_EQ(Value(*setup, "PWMPER"), 800);
  EXPECT_EQ(Value(*setup, "CLPER"), 1);
  EXPECT_EQ(Value(*setup, "SLPER"), 13);
  EXPECT_DOUBLE_EQ(Value(*setup, "Ts_C"), 40e-6);
  EXPECT_DOUBLE_EQ(Value(*setup, "Ts_S"), 520e-6);
  EXPECT_DOUBLE_EQ(Value(*setup, "PWMperiod"), 40e-6);
  EXPECT_EQ(Value(*setup, "SATPWM"), 3277);
}

TEST(Timing, FastLoopFlagComesFromUpgradeBit6WhenTheDriveHasIt) {
  struct Case {
    double upgrade, flag;
  };
  for (const Case& c : {Case{0x0040, 1}, Case{0xFFBF, 0}, Case{0x0041, 1}}) {
    SCOPED_TRACE(c.upgrade);
    auto setup = TimingDrive({{"UPGRADE", c.upgrade}, {"PosSpd_in_FastLoop", 0.5}});
    EXPECT_EQ(dcservo::ComputePosSpd_in_FastLoop(*setup), dcservo::StepResult::Done);
    EXPECT_EQ(Value(*setup, "PosSpd_in_FastLoop"), c.flag);
    EXPECT_EQ(setup->FindParameter("PosSpd_in_FastLoop")->GetMaxInBaseUnit(), 1);
  }
  auto without = TimingDrive();
  ZelCollectErrors errors;
  EXPECT_EQ(dcservo::ComputePosSpd_in_FastLoop(*without), dcservo::StepResult::Done);
  EXPECT_TRUE(errors.Messages().empty());
  EXPECT_EQ(g_bShowErrors, 1);
}

// The refusals below a minimum, and their texts, are held where the advanced dialog's OK
// shows them (test_advanced_dlg.cpp); a drive without a minimum, or with a negative one, has
// none.
TEST(Timing, NoMinimumPeriodOrANegativeOneRefusesNothing) {
  auto setup = TimingDrive({{"Ts_C", 50e-6}, {"Ts_S", 500e-6}});
  EXPECT_TRUE(dcservo::CheckMinimumPeriods(*setup).empty());
  Put(*setup, {{"Ts_C_min", -1}, {"Ts_S_min", -1}});
  EXPECT_TRUE(dcservo::CheckMinimumPeriods(*setup).empty());
}

}  // namespace
