#include "derive/references.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

double Internal(CZel_Setup& s, const char* name) { return s.GetParameterValueInInternalUnit(name); }

TEST(ApplicationControlRegister, SettingsWriteTheirBitsAndReadBack) {
  struct Case {
    const char* what;
    double acr_before, mode, position_type, external, analogue, digital_type;
    Outcome result;
    double acr;
  };
  const Case cases[] = {
      {"position over speed loop", 0x0700, 0, 1, 0, 0, 1, kDone, 0x0700},
      {"position over current loop", 0x0700, 0, 0, 0, 0, 1, kDone, 0x0500},
      {"digital type 0", 0x0000, 1, 0, 1, 0, 0, kDone, 0x0384},
      {"digital type 1", 0x0004, 1, 0, 1, 0, 1, kDone, 0x0380},
      {"analogue keeps bit 2; no SpeedForward clears 14", 0x4084, 2, 0, 1, 1, 1, kDone, 0x0144},
      {"mode outside the table", 0x0700, 3, 0, 0, 0, 1, kRefused, 0x0700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = MakeTimingSetup({Reg("ACR", c.acr_before), {"ControlMode", c.mode},
                              {"PositionControlType", c.position_type},
                              {"ExternalReference", c.external},
                              {"isAnalogueReference", c.analogue},
                              {"DigitalReferenceType", c.digital_type},
                              {"IsAutoActivatedAfterPowerOn", 0}});
    ASSERT_EQ(Step(*s, "ACR", kChip), c.result);
    EXPECT_EQ(Value(*s, "ACR"), c.acr);
    if (c.result != kDone) continue;
    ReadBack(*s,
             {"ControlMode", "ExternalReference", "isAnalogueReference", "DigitalReferenceType"});
    EXPECT_EQ(Value(*s, "ControlMode"), c.mode);
    EXPECT_EQ(Value(*s, "ExternalReference"), c.external);
    EXPECT_EQ(Value(*s, "isAnalogueReference"), c.external * c.analogue);
    if (c.external == 1 && c.analogue == 0) {
      EXPECT_EQ(Value(*s, "DigitalReferenceType"), c.digital_type);
    }
  }
}

TEST(AnalogueReference, SpanSplitsIntoMantissaAndShift) {
  struct Case {
    double span, mantissa;
    int shift;
  };
  const Case cases[] = {{40000, 20000, 1},
                        {32767, 32767, 0},
                        {65000, 32500, 1},
                        {65535, 16383.75, 2},
                        {-40000, -40000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.span);
    const auto gain = dcservo::SplitAnalogueReferenceScale(c.span);
    EXPECT_DOUBLE_EQ(gain.mantissa, c.mantissa);
    EXPECT_EQ(gain.shift, c.shift);
  }
}

// The analogue chain of the example drive; the gain registers are doubles so that the
// exact mantissa shows.
std::unique_ptr<CZel_Setup> AnalogueDrive(std::initializer_list<Param> extra) {
  auto s = MakeTimingSetup({{"ControlMode", 1}, {"Ts_S", 500e-6, "s"},
                            {"Limit_Speed", 1000, "rad/s"}, {"ImaxM", 8, "A"},
                            {"SPD_min", 0, "rad/s", true}, {"SPD_max", 0, "rad/s", true},
                            {"CRT_max", 0, "A", true}, {"CRT_min", 0, "A", true},
                            {"CADIN", 0}, {"SFTADIN", 0}, {"AD5OFF", 0}});
  CZel_Setup::QuantityDesc variable;
  variable.name = "CADIN";
  s->AddVariable(variable);
  Put(*s, extra);
  return s;
}

TEST(AnalogueReference, ReferencePairOfTheModeRoundTripsThroughTheGain) {
  struct Case {
    const char* what;
    double motor_transmission, cadin, sftadin;
  };
  // A pair 79921.875 counts wide is a span of 40000.
  const Case cases[] = {{"positive position scale", 1, 20000, 1},
                        {"negative position scale: negative gain, no shift", -1, -40000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = AnalogueDrive({{"Motor_transmission", c.motor_transmission},
                            {"SPD_min", -30000},
                            {"SPD_max", 49921.875}});
    RunAllOk(*s, {"CADIN", "SFTADIN", "AD5OFF"}, kChip);
    EXPECT_DOUBLE_EQ(Internal(*s, "CADIN"), c.cadin);
    EXPECT_EQ(Internal(*s, "SFTADIN"), c.sftadin);
    EXPECT_EQ(Internal(*s, "AD5OFF"), -30000);
    Put(*s, {{"SPD_min", 0}, {"SPD_max", 0}});
    RunAllOk(*s, {"SPD_min", "SPD_max", "CRT_min", "CRT_max"}, kScaled);
    EXPECT_EQ(Internal(*s, "SPD_min"), -30000);
    EXPECT_DOUBLE_EQ(Internal(*s, "SPD_max"), 49921.875);
    // Each limit stops at the other one and at Limit_Speed.
    EXPECT_EQ(s->FindParameter("SPD_min")->GetMinInBaseUnit(), -1000);
    EXPECT_EQ(s->FindParameter("SPD_max")->GetMinInBaseUnit(), Value(*s, "SPD_min"));
    // The registers hold the speed range in speed mode; the current pair keeps its own.
    EXPECT_EQ(Internal(*s, "CRT_min"), 0);
    EXPECT_EQ(Internal(*s, "CRT_max"), 0);
  }
}

TEST(Upgrade, LimitAtMaximumAndFastLoopSwitch) {
  struct Case {
    const char* what;
    double before, limit_maximum, sensors;
    std::initializer_list<Param> fast;
    double upgrade;
  };
  const Case cases[] = {
      {"both on, bit 15 cleared", 0x8001, 1, 1, {{"PosSpd_in_FastLoop", 1}}, 0x0045},
      {"no fast loop with the load encoder", 0x0001, 1, 2, {{"PosSpd_in_FastLoop", 1}}, 0x0005},
      {"drive without the fast-loop switch", 0x0040, 0, 0, {}, 0x0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto s = MakeTimingSetup({Reg("UPGRADE", c.before), {"isLimitMaximum", c.limit_maximum},
                              {"SensorsConfiguration", c.sensors}});
    Put(*s, c.fast);
    ASSERT_EQ(Step(*s, "UPGRADE", kChip), kDone);
    EXPECT_EQ(Value(*s, "UPGRADE"), c.upgrade);
  }
}

}  // namespace
