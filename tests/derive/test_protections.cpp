#include <cmath>
#include <limits>
#include <string>

#include "derive/protections.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

// The drive of the examples with K_U = 20 counts per volt; thresholds held as doubles so
// that what a step writes is seen before the host's rounding.
std::unique_ptr<CZel_Setup> VoltageSetup() {
  return MakeTimingSetup({{"VdcMaxMeasurable", 65472.0 / 20, "V "},
                          {"UMAXPROT", 0}, {"UMAX_PROT", 0, "V "},
                          {"UMINPROT", 0}, {"UMIN_PROT", 0, "V "},
                          {"BRAKELIM", 0}, {"Vbrake", 0, "V "}});
}

TEST(VoltageThresholds, OnlyTheOverVoltageIsTruncated) {
  struct Case {
    const char *scaled, *chip;
    double written;
  };
  const Case cases[] = {{"UMAX_PROT", "UMAXPROT", 974},
                        {"UMIN_PROT", "UMINPROT", 974.2},
                        {"Vbrake", "BRAKELIM", 974.2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scaled);
    auto s = VoltageSetup();
    Set(*s, c.scaled, 48.71);
    RunOk(*s, c.chip, kChip);
    EXPECT_NEAR(Value(*s, c.chip), c.written, 1e-9);
    RunOk(*s, c.scaled, kScaled);
    EXPECT_NEAR(Value(*s, c.scaled), c.written / 20, 1e-12);
  }
}

TEST(ControlErrorProtections, FullDelaySwitchesOff) {
  struct Case {
    const char *flag, *time, *delay;
  };
  const Case cases[] = {{"isPositionControlError", "time_ERR_pos", "TERRMAX"},
                        {"isSpeedControlError", "time_ERR_spd", "TSERRMAX"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag);
    auto s = LoadBundledSetup();
    Set(*s, c.delay, 65535);
    RunOk(*s, c.flag, kScaled);
    EXPECT_EQ(Value(*s, c.flag), 0);

    Set(*s, c.time, 0.05);
    RunOk(*s, c.delay, kChip);
    EXPECT_EQ(Value(*s, c.delay), 65535);

    Set(*s, c.flag, 1);
    RunOk(*s, c.delay, kChip);
    EXPECT_EQ(Value(*s, c.delay), 100);  // slow-loop samples of 0.5 ms
    RunAllOk(*s, {c.flag, c.time}, kScaled);
    EXPECT_EQ(Value(*s, c.flag), 1);
    EXPECT_DOUBLE_EQ(Value(*s, c.time), 0.05);
  }
}

std::unique_ptr<CZel_Setup> PcrSetup(double pcr) {
  auto s = MakeTimingSetup({Reg("PCR", pcr)});
  for (const dcservo::PcrFlagBit& row : dcservo::PcrFlagBits())
    Put(*s, {{row.flag, 0}});
  return s;
}

struct PcrFlag {
  const char* flag;
  unsigned bit;
};
constexpr PcrFlag kPcrFlags[] = {{"isOverCurrent", 0x0001},  {"isMotorI2t", 0x0002},
                                 {"isMotorOverTemp", 0x0004}, {"isDriveOverTemp", 0x0008},
                                 {"isOverVoltage", 0x0010},  {"isUnderVoltage", 0x0020},
                                 {"isDriveI2t", 0x0080}};

void PcrToFlags(CZel_Setup& s) {
  for (const PcrFlag& row : kPcrFlags) RunOk(s, row.flag, kScaled);
}

TEST(ProtectionControlRegister, RoundTripKeepsTheBitsNoFlagOwns) {
  for (double pcr : {0x0000, 0xFFFF, 0x0040, 0xAB00, 0x00BF, 0x5A21}) {
    SCOPED_TRACE("PCR " + std::to_string(pcr));
    auto s = PcrSetup(pcr);
    PcrToFlags(*s);
    Set(*s, "PCR", static_cast<unsigned>(pcr) & 0xFF40u);  // bit 6 and bits 8-15 kept
    RunOk(*s, "PCR", kChip);
    EXPECT_EQ(Value(*s, "PCR"), pcr);

    Set(*s, "isOverCurrent", Value(*s, "isOverCurrent") == 1 ? 0 : 1);
    RunOk(*s, "PCR", kChip);
    EXPECT_EQ(Value(*s, "PCR"), static_cast<unsigned>(pcr) ^ 0x0001u);
  }
}

TEST(ProtectionControlRegister, EachFlagOwnsOneBit) {
  for (const PcrFlag& c : kPcrFlags) {
    SCOPED_TRACE(c.flag);
    auto s = PcrSetup(0xFF40);
    Set(*s, c.flag, 1);
    RunOk(*s, "PCR", kChip);
    EXPECT_EQ(Value(*s, "PCR"), 0xFF40u | c.bit);
  }
}

TEST(ProtectionControlRegister, MotorOverTempLockedOffWithoutASensorInput) {
  for (const char* option : {"0", "1"}) {
    SCOPED_TRACE(std::string("DisableMotorTemperature ") + option);
    auto s = PcrSetup(0x0004);
    s->SetOption("DisableMotorTemperature", option);
    RunOk(*s, "isMotorOverTemp", kScaled);
    EXPECT_EQ(s->FindParameter("isMotorOverTemp")->GetMaxInBaseUnit(), option[0] == '1' ? 0 : 1);
  }
}

TEST(OptionRegister, BrakeAndLoadEncoderBitsOnly) {
  struct Case {
    double osr, brake_resistor;
    const char* disable_brake;
    double sensors, expected;
  };
  const Case cases[] = {
      {0x0000, 1, "0", 0, 0x0200}, {0x0000, 1, "1", 0, 0x0000}, {0xFFFF, 0, "0", 1, 0xEDFF},
      {0x0001, 0, "0", 2, 0x1001}, {0x1200, 1, "0", 0, 0x0200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "OSR " << c.osr << ", brake " << c.brake_resistor
                                    << ", DisableBrake " << c.disable_brake << ", sensors " << c.sensors);
    auto s =
        MakeTimingSetup({Reg("OSR", c.osr), {"isBrakeResistor", c.brake_resistor}});
    Set(*s, "SensorsConfiguration", c.sensors);
    s->SetOption("DisableBrake", c.disable_brake);
    RunOk(*s, "OSR", kChip);
    EXPECT_EQ(Value(*s, "OSR"), c.expected);
  }
}

TEST(I2tProtections, NominalCurrentAndTwoSecondsGiveZeroLimits) {
  struct Case {
    const char *current, *time, *nominal, *limit, *warning;
  };
  const Case cases[] = {{"I_I2t_D", "t_I2t_D", "InPS", "I2TINTLIM_D", "II2TWARLIM_D"},
                        {"I_I2t_M", "t_I2t_M", "In", "I2TINTLIM_M", "I2TWARLIM_M"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.current);
    auto s = LoadBundledSetup();
    // The motor's range starts above its nominal current; the drive's at it.
    const double nominal = Value(*s, c.nominal);
    Set(*s, c.current, nominal);
    RunOk(*s, c.limit, kChip);
    EXPECT_EQ(Value(*s, c.limit), 0);
    RunOk(*s, c.current, kScaled);
    EXPECT_DOUBLE_EQ(Value(*s, c.current), nominal);

    Set(*s, c.current, 8);
    Set(*s, c.time, 2);
    RunOk(*s, c.warning, kChip);
    EXPECT_EQ(Value(*s, c.warning), 0);
  }
}

TEST(I2tProtections, DriveTimeReadsOverTheStoredPeriodMotorTimeOverTheChipPeriod) {
  auto s = LoadBundledSetup();
  const double drive = Value(*s, "t_I2t_D"), motor = Value(*s, "t_I2t_M");
  RunAllOk(*s, {"t_I2t_D", "t_I2t_M"}, kScaled);
  EXPECT_DOUBLE_EQ(Value(*s, "t_I2t_D"), drive);
  EXPECT_DOUBLE_EQ(Value(*s, "t_I2t_M"), motor);

  Set(*s, "Ts_S", 2 * Value(*s, "Ts_S"));
  RunAllOk(*s, {"t_I2t_D", "t_I2t_M"}, kScaled);
  EXPECT_DOUBLE_EQ(Value(*s, "t_I2t_D"), 2 * drive);
  EXPECT_DOUBLE_EQ(Value(*s, "t_I2t_M"), motor);
}

TEST(I2tProtections, WarningLevelsNeedBothWarningRegisters) {
  ZelCollectErrors quiet;  // the small setup lacks most of what the other steps need
  auto s = MakeTimingSetup({{"Ts_S", 5e-4, "s"}, {"InPS", 5, "A"}, {"I_I2t_D", 8, "A"},
                            {"t_I2t_D", 4, "s"}, {"I2TINTLIM_D", 0}, {"II2TWARLIM_D", 0}});
  EXPECT_EQ(Step(*s, "II2TWARLIM_D", kChip), kMissing);
  dcservo::ComputeChipParameters(*s);
  EXPECT_GT(Value(*s, "I2TINTLIM_D"), 0);
  EXPECT_EQ(Value(*s, "II2TWARLIM_D"), 0);

  Put(*s, {{"I2TWARLIM_M", 0}});
  dcservo::ComputeChipParameters(*s);
  EXPECT_DOUBLE_EQ(Value(*s, "II2TWARLIM_D"), Value(*s, "I2TINTLIM_D") * 0.5);
}

TEST(Protections, ChipPassAlwaysWritesFullScaleT1MAXPROT) {
  auto s = LoadBundledSetup();
  Set(*s, "T1MAXPROT", 0);
  dcservo::ComputeChipParameters(*s);
  EXPECT_EQ(Value(*s, "T1MAXPROT"), 32767);
}

// What the bundled drive's chip values read back as; a NaN maximum is not checked.
TEST(BundledDrive, ReadsBackItsEngineeringValues) {
  constexpr double kAny = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    double expected, tolerance, max;
  };
  const Case cases[] = {
      {"Temp_2", 80, 1e-9, kAny},
      {"UMAX_PROT", 56, 0.01, kAny},
      {"I_I2t_D", 10, 1e-4, kAny},
      {"I_I2t_M", 6, 1e-4, kAny},
      {"Imax_Prot", 9, 0.001, kAny},
      {"time_Imax_Prot", 0.01, 1e-12, kAny},
      {"ERR_position", 2 * 3.141592653589793, 1e-9, kAny},  // 2000 counts: one turn of 500 lines
      {"Motor_TempSensor_Type", 0, 0, kAny},
      {"TestCurrent", 1.5, 0, 2.7},  // half the smaller nominal current
      {"TestMaxSpeed", 800.0 / 3, 0, 800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = LoadBundledSetup();
    ReadBack(*s, {c.name});
    EXPECT_NEAR(Value(*s, c.name), c.expected, c.tolerance);
    if (!std::isnan(c.max)) {
      EXPECT_DOUBLE_EQ(s->FindParameter(c.name)->GetMaxInBaseUnit(), c.max);
    }
  }
}

}  // namespace
