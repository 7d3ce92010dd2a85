#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_setups.h"
#include "units/control_structure.h"

using testing_support::MakeSetup;

namespace {

// The options' texts joined with '|', '-' for an option not written.
std::string Options(const CZel_Setup& s, std::initializer_list<const char*> names) {
  std::string text;
  for (const char* name : names) text += (s.HasOption(name) ? s.GetOptionNoError(name) : "-") + "|";
  return text;
}

TEST(ControlStructure, ClosedLoopsByModeAndPositionControlType) {
  struct Case {
    double mode, position_type;
    int result;
    const char* loops;  // position|speed|current
  };
  const Case cases[] = {
      {0, 0, 1, "1|0|1|"}, {0, 1, 1, "1|1|1|"}, {0.9, 1, 1, "1|1|1|"}, {1, 7, 1, "0|1|1|"},
      {2, 7, 1, "0|0|1|"}, {0, 2, 0, "-|-|-|"}, {3, 0, 0, "-|-|-|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << ", type " << c.position_type);
    auto s = MakeSetup({{"ControlMode", c.mode},
                        {"PositionControlType", c.position_type},
                        {"SensorsConfiguration", 0}});
    EXPECT_EQ(dcservo::ComputeControlStructureOptions(*s), c.result);
    EXPECT_EQ(Options(*s, {"IsClosedPosition", "IsClosedSpeed", "IsClosedCurrent"}), c.loops);
    if (c.result == 0) {
      EXPECT_TRUE(s->GetOptions().empty());
    }
  }
}

TEST(ControlStructure, SensorsAndFeedbackFlags) {
  struct Case {
    double sensors;
    const char* sensor_names;    // LoadPosition|MotorPosition|MotorSpeed
    const char* feedback_flags;  // on load|on motor|speed
  };
  const Case cases[] = {
      {0, "|Incremental Encoder||", "0|1|0|"},
      {1, "||Tacho|", "0|0|1|"},
      {2, "Incremental Encoder||Tacho|", "1|0|1|"},
      {3, "old|old|old|", "0|0|1|"},                   // names left as they were
      {2.5, "Incremental Encoder||Tacho|", "0|0|1|"},  // flags compare the untruncated value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sensors);
    auto s = MakeSetup({{"ControlMode", 1}, {"SensorsConfiguration", c.sensors}});
    for (const char* name : {"LoadPosition", "MotorPosition", "MotorSpeed"})
      s->SetOption(name, "old");
    ASSERT_EQ(dcservo::ComputeControlStructureOptions(*s), 1);
    EXPECT_EQ(Options(*s, {"LoadPosition", "MotorPosition", "MotorSpeed"}), c.sensor_names);
    EXPECT_EQ(
        Options(*s, {"isPositionFeedbackOnLoad", "isPositionFeedbackOnMotor", "isSpeedFeedback"}),
        c.feedback_flags);
  }
}

TEST(ControlStructure, AMissingInputWritesNothing) {
  for (const char* missing : {"ControlMode", "SensorsConfiguration", "PositionControlType"}) {
    SCOPED_TRACE(missing);
    auto s = MakeSetup({});
    for (const char* name : {"ControlMode", "SensorsConfiguration", "PositionControlType"}) {
      if (name != std::string(missing)) testing_support::Put(*s, {{name, 0}});
    }
    ZelCollectErrors errors;
    EXPECT_EQ(dcservo::ComputeControlStructureOptions(*s), 0);
    EXPECT_TRUE(s->GetOptions().empty());
    EXPECT_EQ(errors.Messages().size(), 1u);
  }
}

TEST(UnitTypes, RotaryAndLinearUnitsOfTheLoadSide) {
  struct Case {
    const char* name;
    const char* rotary;
    const char* linear;
  };
  const Case parameters[] = {{"TestSpeed", "rpm", "m/s"},
                             {"Limit_Speed", "rad/s", "m/s"},
                             {"ERR_position", "rot", "mm"},
                             {"POS_min", "rot", "mm"},
                             {"ErefMaxAcceleration", "rad/s^2", "m/s^2"}};
  const Case variables[] = {{"CSPD", "rpm", "m/s"}, {"JERK", "rad/s^3", "m/s^3"}};
  for (double transmission : {0.0, 1.0}) {
    auto s = MakeSetup({{"TransmissionType", transmission}, {"CADIN", 0}});
    for (const Case& c : parameters) testing_support::Put(*s, {{c.name, 0}});
    for (const char* name : {"CADIN", "CSPD", "JERK"}) {
      CZel_Setup::QuantityDesc d;
      d.name = name;
      ASSERT_EQ(s->AddVariable(d), "");
    }
    ZelCollectErrors missing;  // the rest of a full drive's list
    EXPECT_EQ(dcservo::AssignUnitTypes(*s), 1);
    for (const Case& c : parameters) {
      SCOPED_TRACE(::testing::Message() << c.name << ", transmission type " << transmission);
      EXPECT_EQ(s->FindParameter(c.name)->GetSelectedUnit().GetName(),
                transmission == 0 ? c.rotary : c.linear);
    }
    for (const Case& c : variables) {
      SCOPED_TRACE(::testing::Message() << c.name << ", transmission type " << transmission);
      EXPECT_EQ(s->FindVariable(c.name)->GetSelectedUnit().GetName(),
                transmission == 0 ? c.rotary : c.linear);
    }
  }
}

}  // namespace
