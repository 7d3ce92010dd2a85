#include <cmath>

#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

TEST(SensorConfiguration, SensorCodesAndTemperatureBitsBothWays) {
  struct Case {
    const char* what;
    double scr_before, sensors, estimator, motor_temp;
    Outcome result;
    double scr;
  };
  const Case cases[] = {
      {"motor encoder clears an unknown code", 0x003F, 0, 0, 0, kDone, 0x0100},
      {"speed estimator", 0x0100, 0, 1, 1, kDone, 0x01B0},
      {"tacho only, estimator ignored", 0x0000, 1, 1, 0, kDone, 0x010F},
      {"tacho and load encoder", 0x8000, 2, 0, 1, kDone, 0x8188},
      {"no such configuration", 0x1234, 3, 0, 0, kRefused, 0x1234},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = MakeTimingSetup({Reg("SCR", c.scr_before), {"SensorsConfiguration", c.sensors},
                              {"isSpeedEstimator", c.estimator},
                              {"isMotorTemperatureSensor", c.motor_temp},
                              {"isDriveTemperatureSensor", 1}});
    ASSERT_EQ(Step(*s, "SCR", kChip), c.result);
    EXPECT_EQ(Value(*s, "SCR"), c.scr);
    if (c.result != kDone) continue;
    ReadBack(*s, {"SensorsConfiguration", "isSpeedEstimator", "isMotorTemperatureSensor"});
    EXPECT_EQ(Value(*s, "SensorsConfiguration"), c.sensors);
    EXPECT_EQ(Value(*s, "isSpeedEstimator"), c.sensors == 0 ? c.estimator : 0);
    EXPECT_EQ(Value(*s, "isMotorTemperatureSensor"), c.motor_temp);
  }
  auto s = MakeTimingSetup({{"SCR", 0x3F}, {"SensorsConfiguration", 2}});
  ASSERT_EQ(Step(*s, "SensorsConfiguration", kScaled), kDone);
  EXPECT_EQ(Value(*s, "SensorsConfiguration"), 0);
}

TEST(AxisSettings, LimitSwitchesPolarityTypeAndNegativeTransmission) {
  struct Case {
    const char* what;
    double swls, polarity_type;
    const char* neg_transmission;
    double motor_side, asr_before, asr;
  };
  const Case cases[] = {
      {"limit switches on, polarity type 0", 1, 0, "0", 1, 0x0000, 0x1004},
      {"limit switches off, polarity type 1", 0, 1, "0", 1, 0x1004, 0x0000},
      {"negative ratio without the option", 0, 1, "0", -1, 0x0080, 0x0000},
      {"negative ratio with the option", 0, 1, "1", -1, 0x0000, 0x0080},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = MakeTimingSetup({Reg("ASR", c.asr_before), {"Motor_transmission", c.motor_side},
                              {"isSWLS", c.swls}, {"InputsPolarityType", c.polarity_type}});
    s->SetOption("hasNegTransmission", c.neg_transmission);
    ASSERT_EQ(Step(*s, "ASR", kChip), kDone);
    EXPECT_EQ(Value(*s, "ASR"), c.asr);
    ReadBack(*s, {"InputsPolarityType"});
    EXPECT_EQ(Value(*s, "InputsPolarityType"), c.polarity_type);
  }
}

TEST(SoftwareLimitSwitches, UserLimitsKeepTheirSignsThroughTheDrive) {
  for (double motor_side : {1.0, -1.0}) {
    SCOPED_TRACE(motor_side);
    auto s = MakeTimingSetup({{"Motor_transmission", motor_side}, {"isSWLS", 1},
                              {"Negative_SWLS", -3, "rad"}, {"Positive_SWLS", 5, "rad"},
                              Reg("SWNEGLS", 0, ZelStorageType::Int32),
                              Reg("SWPOSLS", 0, ZelStorageType::Int32)});
    RunAllOk(*s, {"SWNEGLS", "SWPOSLS"}, kChip);
    // The drive's pair stays ordered: with a negative scale the user's positive limit is
    // the drive's negative one.
    EXPECT_EQ(Value(*s, "SWNEGLS"), std::round((motor_side > 0 ? -3 : -5) * kCountsPerRad));
    EXPECT_EQ(Value(*s, "SWPOSLS"), std::round((motor_side > 0 ? 5 : 3) * kCountsPerRad));
    Put(*s, {{"Negative_SWLS", 0}, {"Positive_SWLS", 0}});
    RunAllOk(*s, {"Negative_SWLS", "Positive_SWLS"}, kScaled);
    EXPECT_NEAR(Value(*s, "Negative_SWLS"), -3, 1 / kCountsPerRad);
    EXPECT_NEAR(Value(*s, "Positive_SWLS"), 5, 1 / kCountsPerRad);
  }
}

TEST(CommunicationSettings, AxisTableEntryAndCanSaving) {
  struct Case {
    double id, table, save_axis_id, save_baud_rate, lss;
  };
  for (const Case& c : {Case{0, 0, 1, 1, 0}, Case{44, 300, 1, 0, 2}, Case{1, 257, 0, 0, 3}}) {
    SCOPED_TRACE(c.table);
    auto s = MakeTimingSetup({{"Axis_ID_list", c.id}, Reg("AAR_table", 0),
                              {"save_axis_id", c.save_axis_id},
                              {"save_CAN_baudrate", c.save_baud_rate}, Reg("LSS_Active", 0xF0)});
    RunAllOk(*s, {"AAR_table", "LSS_Active"}, kChip);
    EXPECT_EQ(Value(*s, "AAR_table"), c.table);
    EXPECT_EQ(Value(*s, "LSS_Active"), c.lss);
    ReadBack(*s, {"Axis_ID_list", "save_axis_id", "save_CAN_baudrate"});
    EXPECT_EQ(Value(*s, "Axis_ID_list"), c.id);
    EXPECT_EQ(Value(*s, "save_axis_id"), c.save_axis_id);
    EXPECT_EQ(Value(*s, "save_CAN_baudrate"), c.save_baud_rate);
  }
}

TEST(EncoderFilter, TableRowsGoIntoTheirFieldsAndKeepTheOtherBits) {
  struct Case {
    double on, value, qual, qual_act, qual_aq2;
  };
  const Case cases[] = {
      {1, 7, 1, 0xFF07FFFF, 0xFFFF75FF},
      {1, 12, 1, 0xFF06FFFF, 0xFFFFBAFF},
      {1, 13, 1, 0xFF00FFFF, 0xFFFF30FF},  // outside the table: every field off
      {0, 7, 0, 0xFFFFFFFF, 0xFFFFFFFF},   // filter off: neither register touched
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "on " << c.on << ", value " << c.value);
    auto s = MakeTimingSetup({{"isFilterEnc", c.on}, {"FilterEncValue", c.value}, Reg("QUAL", 7),
                              Reg("QUAL_ACT", 0xFFFFFFFF, kU32),
                              Reg("QUAL_AQ2", 0xFFFFFFFF, kU32)});
    ASSERT_EQ(Step(*s, "QUAL", kChip), kDone);
    EXPECT_EQ(Value(*s, "QUAL"), c.qual);
    EXPECT_EQ(Value(*s, "QUAL_ACT"), c.qual_act);
    EXPECT_EQ(Value(*s, "QUAL_AQ2"), c.qual_aq2);
  }
}

TEST(FreezeControl, OnlyInPositionMode) {
  for (double mode : {0.0, 1.0, 2.0}) {
    SCOPED_TRACE(mode);
    auto s = MakeTimingSetup({Reg("ACR", 0x0010), {"ControlMode", mode}, {"isFreezeControl", -1},
                              {"POSOKLIM_FC", 0}, {"TONPOSOK_FC", 0}});
    ASSERT_EQ(Step(*s, "isFreezeControl", kScaled), kDone);
    EXPECT_EQ(Value(*s, "isFreezeControl"), mode == 0 ? 1 : 0);
  }
}

}  // namespace
