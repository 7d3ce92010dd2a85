#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "derive/gains.h"
#include "tests/derive/derive_test_helpers.h"

namespace {

using namespace derive_test;

// Chip parameters held as doubles, so that what a step writes is seen before any rounding.
std::unique_ptr<CZel_Setup> GainSetup() {
  auto s = MakeSetup({});
  for (const char* name : {"Kp_C_scl", "KPI", "SFTKPI", "Ki_S_scl", "KIS", "SFTKIS", "Kd_P_scl",
                           "KDP", "SFTKDP", "KFFS_scl", "KFFS", "SFTSFFW", "KFFA_scl", "KFFA",
                           "SFTAFFW", "SFTKFF"})
    Put(*s, {{name, 0}});
  return s;
}

TEST(FixedPointGain, ShiftThenMantissaAndBack) {
  struct Case {
    const char *scaled, *shift, *mantissa;
    double gain, expected_shift, expected_mantissa;
  };
  const Case cases[] = {
      {"Kp_C_scl", "SFTKPI", "KPI", 0.75, 0, 24575.25},
      {"Kp_C_scl", "SFTKPI", "KPI", 3, 2, 24575.25},
      {"Kp_C_scl", "SFTKPI", "KPI", 1, 0, 32767},
      {"Kp_C_scl", "SFTKPI", "KPI", 16384, 14, 32767},
      {"Ki_S_scl", "SFTKIS", "KIS", 0, 0, 0},
      {"Kd_P_scl", "SFTKDP", "KDP", 1.0001, 1, 16385.13835},
      {"KFFS_scl", "SFTSFFW", "KFFS", 100, 7, 25599.21875},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scaled) + " = " + std::to_string(c.gain));
    auto s = GainSetup();
    Set(*s, c.scaled, c.gain);
    RunAllOk(*s, {c.shift, c.mantissa}, kChip);
    EXPECT_EQ(Value(*s, c.shift), c.expected_shift);
    EXPECT_NEAR(Value(*s, c.mantissa), c.expected_mantissa, 1e-5);
    EXPECT_LE(Value(*s, c.mantissa), 32767.0);

    ReadBack(*s, {c.scaled});
    EXPECT_NEAR(Value(*s, c.scaled), c.gain, 1e-12 * (1 + c.gain));
    EXPECT_EQ(s->FindParameter(c.scaled)->GetMaxInBaseUnit(), 16384.0);
  }
}

TEST(FixedPointGain, AccelerationFeedforwardSplitsItsShiftAtEleven) {
  struct Case {
    double gain, sftaffw, sftkff, kffa;
  };
  const Case cases[] = {
      {10000, 11, 3, 19999.38964844},
      {4194304, 11, 11, 32767},
      {0.5, 0, 0, 16383.5},
      {2048, 11, 0, 32767},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("KFFA_scl = " + std::to_string(c.gain));
    auto s = GainSetup();
    Set(*s, "KFFA_scl", c.gain);
    RunAllOk(*s, {"SFTAFFW", "SFTKFF", "KFFA"}, kChip);
    EXPECT_EQ(Value(*s, "SFTAFFW"), c.sftaffw);
    EXPECT_EQ(Value(*s, "SFTKFF"), c.sftkff);
    EXPECT_NEAR(Value(*s, "KFFA"), c.kffa, 1e-6);

    RunOk(*s, "KFFA_scl", kScaled);
    EXPECT_NEAR(Value(*s, "KFFA_scl"), c.gain, 1e-9 * c.gain);
    EXPECT_EQ(s->FindParameter("KFFA_scl")->GetMaxInBaseUnit(), 4194304.0);
  }
}

// The order in which a running drive is sent each loop's registers, as documented; the chip
// pipeline derives them in the same order.
TEST(FixedPointGain, WriteOrderIsShiftBeforeMantissaLoopByLoop) {
  using dcservo::TunedLoop;
  using ::testing::ElementsAreArray;
  const std::pair<TunedLoop, std::vector<std::string>> cases[] = {
      {TunedLoop::Current, {"SFTKPI", "KPI", "SFTKII", "KII"}},
      {TunedLoop::Speed, {"SFTKPS", "KPS", "SFTKIS", "KIS"}},
      {TunedLoop::Position, {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"}},
  };
  for (const auto& [loop, expected] : cases) {
    SCOPED_TRACE(expected.front());
    EXPECT_THAT(dcservo::GainWriteOrder(loop), ElementsAreArray(expected));
  }
  EXPECT_THAT(dcservo::GainWriteOrder(dcservo::Gain::KFFA),
              ElementsAreArray(std::vector<std::string>{"SFTAFFW", "SFTKFF", "KFFA"}));

  std::vector<std::string> pipeline;
  for (const dcservo::PipelineStep& step : dcservo::ChipPipelineSteps())
    pipeline.push_back(step.quantity);
  for (const dcservo::FixedPointGain& gain : dcservo::kFixedPointGains) {
    SCOPED_TRACE(gain.scaled);
    std::vector<std::size_t> places;
    for (const char* name : dcservo::GainWriteOrder(gain.gain))
      places.push_back(std::find(pipeline.begin(), pipeline.end(), name) - pipeline.begin());
    EXPECT_TRUE(std::is_sorted(places.begin(), places.end()));
    EXPECT_LT(places.back(), pipeline.size());
  }
}

// Once the edits have reached the chip, one pass back and forth brings the setup to what
// its chip values encode, and a further pass changes nothing.
TEST(GainsAndProtections, ChipToScaledToChipIsStableAfterOnePass) {
  struct Case {
    const char* name;
    std::map<std::string, double> scaled;
  };
  const Case cases[] = {
      {"bundled drive", {}},
      {"odd gains and limits",
       {{"Kp_C_scl", 0.123456}, {"Ki_S_scl", 77.77}, {"KFFA_scl", 12345.6}, {"KFFS_scl", 1.5},
        {"IlimPS", 3.3}, {"IPSatS", 42}, {"IPSatP", 12.5}, {"filter_D", 0.3}}},
      {"position over the current loop", {{"PositionControlType", 0}, {"IPSatP", 70}}},
      {"filter and gravity offset on",
       {{"isUseFilterOnCrtCtrlOutput", 1}, {"FilterOnCurrentControllerOutput", 1234},
        {"isCompensateGravitationalLoads", 1}, {"OffsetCurrent", -0.7}}},
      {"protections moved",
       {{"UMAX_PROT", 50.5}, {"UMIN_PROT", 13.3}, {"Temp_2", 65}, {"I_I2t_D", 7.7},
        {"t_I2t_D", 2.5}, {"I_I2t_M", 4.4}, {"t_I2t_M", 30}, {"Imax_Prot", 6.1},
        {"time_ERR_pos", 0.02}, {"isSpeedControlError", 0}, {"Vbrake", 51}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = LoadBundledSetup();
    for (const auto& [name, value] : c.scaled) Set(*s, name.c_str(), value);
    dcservo::ComputeChipParameters(*s);
    dcservo::ComputeScaledParameters(*s);
    dcservo::ComputeChipParameters(*s);
    const auto once = Snapshot(*s);
    dcservo::ComputeScaledParameters(*s);
    dcservo::ComputeChipParameters(*s);
    for (const auto& [name, value] : Snapshot(*s)) EXPECT_EQ(value, once.at(name)) << name;
  }
}

TEST(OutputLimits, SATPFollowsTheSpeedLimitOnlyOverTheSpeedLoop) {
  auto s = LoadBundledSetup();  // position mode over the speed loop, encoder on the motor
  s->FindParameter("Limit_Speed")->SetValueInInternalUnit(500);
  ASSERT_EQ(Step(*s, "SATP", kChip), kDone);
  EXPECT_EQ(Value(*s, "SATP"), 32767 - 500);

  Set(*s, "PositionControlType", 0);
  ASSERT_EQ(Step(*s, "SATP", kChip), kDone);
  // IlimPS came from SATS, so over the current loop SATP carries the same current limit.
  EXPECT_EQ(Value(*s, "SATP"), Value(*s, "SATS"));

  Set(*s, "Limit_Speed", 1.0);
  RunOk(*s, "Limit_Speed", kScaled);
  EXPECT_EQ(Value(*s, "Limit_Speed"), 1.0);
}

TEST(OutputLimits, CurrentLimitReadsTheSaturationOfTheLoopInUse) {
  for (double acr : {0x0700, 0x0500}) {
    SCOPED_TRACE("ACR " + std::to_string(acr));
    auto s = LoadBundledSetup();
    Set(*s, "ACR", acr);
    Set(*s, "PositionControlType", 0);
    const double sats = Value(*s, "SATS"), satp = Value(*s, "SATP");
    RunAllOk(*s, {"IlimPS", "TestLimitCurrent"}, kScaled);
    EXPECT_EQ(Value(*s, "TestLimitCurrent"), Value(*s, "IlimPS"));
    RunAllOk(*s, {"SATS", "SATP"}, kChip);
    const bool speed_loop = static_cast<int>(acr) & 0x0200;
    EXPECT_EQ(Value(*s, speed_loop ? "SATS" : "SATP"), speed_loop ? sats : satp);
    EXPECT_EQ(Value(*s, "SATS"), Value(*s, "SATP"));
  }
}

TEST(OutputLimits, FullIntegralPercentageMeetsTheOutputLimit) {
  auto s = LoadBundledSetup();
  Set(*s, "IPSatS", 100);
  RunAllOk(*s, {"IMAXS", "SATS"}, kChip);
  EXPECT_EQ(Value(*s, "IMAXS"), Value(*s, "SATS"));
  EXPECT_EQ(s->FindParameter("IMAXS")->GetMinInBaseUnit(), 0.0);
  EXPECT_EQ(s->FindParameter("IMAXS")->GetMaxInBaseUnit(), 32767.0);
}

TEST(CurrentControllerFilter, OffAndOn) {
  auto s = LoadBundledSetup();
  Set(*s, "FILTERQ", 32767);
  RunAllOk(*s, {"isUseFilterOnCrtCtrlOutput", "FilterOnCurrentControllerOutput"}, kScaled);
  EXPECT_EQ(Value(*s, "isUseFilterOnCrtCtrlOutput"), 0);
  EXPECT_EQ(Value(*s, "FilterOnCurrentControllerOutput"), 5000);
  EXPECT_EQ(s->FindParameter("FilterOnCurrentControllerOutput")->GetMaxInBaseUnit(), 10000);

  Set(*s, "isUseFilterOnCrtCtrlOutput", 1);
  Set(*s, "FilterOnCurrentControllerOutput", 914);
  RunOk(*s, "FILTERQ", kChip);
  EXPECT_EQ(Value(*s, "FILTERQ"), 1463);  // truncated, not rounded: 1463.75
  RunOk(*s, "FilterOnCurrentControllerOutput", kScaled);
  EXPECT_EQ(Value(*s, "FilterOnCurrentControllerOutput"), 914);

  Set(*s, "isUseFilterOnCrtCtrlOutput", 0);
  RunOk(*s, "FILTERQ", kChip);
  EXPECT_EQ(Value(*s, "FILTERQ"), 32767);
}

TEST(GravityOffset, WrittenOnlyWhileCompensating) {
  auto s = LoadBundledSetup();
  Set(*s, "OffsetCurrent", 1.25);
  Set(*s, "isCompensateGravitationalLoads", 0);
  RunOk(*s, "FFL", kChip);
  EXPECT_EQ(Value(*s, "FFL"), 0);

  Set(*s, "isCompensateGravitationalLoads", 1);
  RunOk(*s, "FFL", kChip);
  Set(*s, "isCompensateGravitationalLoads", 0);
  RunAllOk(*s, {"isCompensateGravitationalLoads", "OffsetCurrent"}, kScaled);
  EXPECT_EQ(Value(*s, "isCompensateGravitationalLoads"), 1);
  EXPECT_NEAR(Value(*s, "OffsetCurrent"), 1.25, 1.0 / 3273.6);
  EXPECT_EQ(s->FindParameter("OffsetCurrent")->GetMinInBaseUnit(), -Value(*s, "In"));
}

TEST(SpeedForwardRule, ChoiceStandsOnlyForPositionOverSpeedLoopWithMotorEncoder) {
  struct Case {
    double control_mode, position_control_type, sensors;
    bool forced;
  };
  const Case cases[] = {
      {0, 1, 0, false}, {0, 1, 2, true}, {0, 0, 0, true}, {1, 1, 0, true}, {2, 0, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.control_mode << ", type "
                                    << c.position_control_type << ", sensors " << c.sensors);
    auto s = LoadBundledSetup();
    Set(*s, "ControlMode", c.control_mode);
    Set(*s, "PositionControlType", c.position_control_type);
    Set(*s, "SensorsConfiguration", c.sensors);
    Set(*s, "SpeedForward", 0);
    Set(*s, "ACR", 0x0300);
    EXPECT_EQ(dcservo::ApplySpeedForwardRule(*s), dcservo::StepResult::Done);
    EXPECT_EQ(Value(*s, "SpeedForward"), c.forced ? 1 : 0);
    EXPECT_EQ(Value(*s, "ACR"), c.forced ? 0x4300 : 0x0300);
  }
}

TEST(InertiaRatio, LoadOverMotorFromTheTotalInertia) {
  struct Case {
    double jt, jm;
    Outcome result;
    double ratio;
  };
  const Case cases[] = {{4.5e-5, 3e-5, kDone, 0.5}, {3e-5, 3e-5, kDone, 0.0},
                        {1e-3, 1e-5, kDone, 99.0}, {4.5e-5, 0.0, kRefused, 7.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("Jt " + std::to_string(c.jt) + ", Jm " + std::to_string(c.jm));
    auto s = MakeSetup({{"Jt", c.jt}, {"Jm", c.jm}, {"Jload_over_J", 7.0}});
    EXPECT_EQ(Step(*s, "Jload_over_J", kScaled), c.result);
    EXPECT_NEAR(Value(*s, "Jload_over_J"), c.ratio, 1e-12);
    if (c.result == kDone) {
      EXPECT_EQ(s->FindParameter("Jload_over_J")->GetMaxInBaseUnit(), 100.0);
    }
  }
}

}  // namespace
