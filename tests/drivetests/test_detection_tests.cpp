// The supply voltage and total inertia tests: what they read from the drive, their failure
// texts and the closing question that offers to keep the detected value, on a drive whose
// every answer the case sets; then whole runs on the simulated drive.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "drivetests/inertia_test_dlg.h"
#include "drivetests/vdc_test_dlg.h"
#include "names/program_names.h"
#include "tests/support/test_runs.h"
#include "units/scales.h"

namespace {

using namespace dcservo;
using testing_support::FakeDrive;
using testing_support::FakeDriveRun;
using testing_support::SimulatedRun;
using ::testing::StartsWith;

// The question on closing: the "%G" texts of the old and the detected value, Yes keeps the new
// one, No puts the old one back, Cancel stays in the dialog until another answer.
struct ClosingCase {
  const char* name;
  double old_value, detected;
  std::vector<int> answers;  // none: no question is asked
  int result;
  double kept;
};

template <class D>
class DetectionRun : public FakeDriveRun<D> {
 protected:
  using Base = FakeDriveRun<D>;
  using Base::Base;
  // Each case: the setup holds `old_value`, the run detects it as `detected`, then Close.
  void ExpectClosingQuestion(const char* parameter,
                             std::function<void(FakeDrive&, double)> detect,
                             const std::vector<ClosingCase>& cases, const std::string& question) {
    for (const ClosingCase& c : cases) {
      SCOPED_TRACE(c.name);
      this->dlg_.reset();
      this->Set(parameter, c.old_value);
      const std::size_t boxes = this->ui_.Messages().size();
      auto steps = Base::Then(this->RunEndingWith([&](FakeDrive& f) { detect(f, c.detected); }),
                              Base::Close());
      for (std::size_t i = 0; i < c.answers.size(); ++i) {
        if (i > 0) {
          steps.push_back(Base::Check([](D& d) { EXPECT_FALSE(d.HasEnded()); }));
          steps.push_back(Base::Close());
        }
        steps.push_back(Base::Answer(c.answers[i]));
      }
      EXPECT_EQ(this->Run(steps, Base::kStepsClose), c.result);
      EXPECT_NEAR(this->Get(parameter), c.kept, 2e-8 * c.kept);
      const auto& boxes_after = this->ui_.Messages();
      ASSERT_EQ(boxes_after.size(), boxes + c.answers.size());
      for (std::size_t i = boxes; i < boxes_after.size(); ++i)
        EXPECT_EQ(boxes_after[i].text, question);
    }
  }
};

// ---- supply voltage --------------------------------------------------------------------------

class VdcTest : public DetectionRun<CTestVdcDetection> {
 protected:
  VdcTest()
      : DetectionRun(drive_program::VDC_Detection_Test,
                     {{"STARTED", 0.0}, {"test_flag", kUnsetValue}}) {
    Set("VdcMaxMeasurable", 100.0);
    drive_->live["var_u2"] = 32736.0;  // half the converter's 65472: 50 V
  }
};

TEST_F(VdcTest, TheCountsBecomeTheVoltageUnlessAShortCircuitOrNoMeasurementFailsTheRun) {
  struct Case {
    const char* name;
    std::function<void(FakeDrive&)> drive;
    const char* text;  // empty: the run succeeds
  };
  const Case cases[] = {
      {"ENABLE off", [](FakeDrive& f) { f.live["MER"] = 0x8000; }, ""},
      {"short circuit", [](FakeDrive& f) { f.live["MER"] = 0x0002; },
       "Drive / Motor shortcircuit protection triggered."},
      {"no var_u2", [](FakeDrive& f) { f.live.erase("var_u2"); }, "no variable var_u2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dlg_.reset();
    drive_->live["MER"] = 0;
    drive_->live["var_u2"] = 32736.0;
    Set("Vdc", 48.0);
    Run(Then(RunEndingWith(c.drive), Check([&c](CTestVdcDetection& d) {
                    EXPECT_EQ(d.m_nTestResult, *c.text ? -1 : 1);
                    EXPECT_EQ(d.m_strError, c.text);
                    if (!*c.text) {
                      EXPECT_EQ(d.GetChildText(kVdcEdit), "50");
                    }
                  })),
             kStepsClose);
    EXPECT_NEAR(Get("Vdc"), *c.text ? 48.0 : 50.0, 1e-9);
  }
}

TEST_F(VdcTest, TheClosingQuestionKeepsRestoresOrStays) {
  ExpectClosingQuestion(
      "Vdc", [](FakeDrive& f, double volts) { f.live["var_u2"] = volts / 100.0 * 65472.0; },
      {{"same %G text", 50.0000001, 50.0, {}, kIdCancel, 50.0},
       {"Yes", 48.0, 50.0, {kIdYes}, kIdOk, 50.0},
       {"No", 48.0, 50.0, {kIdNo}, kIdCancel, 48.0},
       {"Cancel stays, then Yes", 48.0, 50.0, {kIdCancel, kIdYes}, kIdOk, 50.0}},
      "A different value than specified has been detected for the following parameter(s):\r\n"
      "\r\nPower supply:\tOld = 48\tNew = 50\r\n\r\nDo you want to save the new value(s)? "
      "(Recommended)");
}

// ---- on the simulated drive --------------------------------------------------------------------

using VdcOnSimulatedDrive = SimulatedRun<CTestVdcDetection>;

// The test looks at the short-circuit bit only, so a disabled drive still measures.
TEST_F(VdcOnSimulatedDrive, TheDetectedSupplyIsTheRealOneWithinAConverterStep) {
  const double step = Get("VdcMaxMeasurable") / Get("ADCResolution");
  Fault("vdc", 36.3);
  Fault("enable_off", 1.0);
  EXPECT_EQ(RunToSuccess(), kIdOk);
  EXPECT_NEAR(Get("Vdc"), 36.3, step);
}

// A drive per case: a shaft that a run has left turning would start the next one moving.
// The parameter: the real inertia and resistance over what the setup believes.
class InertiaOnSimulatedDrive : public SimulatedRun<CTotalInertiaTest>,
                                public ::testing::WithParamInterface<std::pair<double, double>> {};

// The truth is the plant's own inertia: the simulated drive takes the setup's, and the
// faults make the real motor other than what the setup believes.
TEST_P(InertiaOnSimulatedDrive, TheIdentifiedInertiaIsThePlantsWithinThreePercent) {
  const auto [inertia, resistance] = GetParam();
  const dcsim::PlantConfig believed = drive_->GetPlant().Config();
  if (inertia != 1.0) Fault("inertia", inertia * believed.J_kgm2);
  if (resistance != 1.0) Fault("resistance", resistance * believed.R_ohm);
  const double real = drive_->GetPlant().Config().J_kgm2;
  RunToSuccess();
  EXPECT_NEAR(Get("Jt") / real, 1.0, 0.03);
}

INSTANTIATE_TEST_SUITE_P(RealToSetupMotor, InertiaOnSimulatedDrive,
                         ::testing::Values(std::pair{1.0, 1.0}, std::pair{2.0, 1.0},
                                           std::pair{2.0 / 3.0, 1.0}, std::pair{1.0, 4.0 / 3.0}));

// ---- total inertia ---------------------------------------------------------------------------

class InertiaTest : public DetectionRun<CTotalInertiaTest> {
 protected:
  InertiaTest()
      : DetectionRun(drive_program::Total_Inertia_Identification_Test,
                     {{"In1", 0.0},
                      {"LimitSpeedMax", 0.0},
                      {"Imax_Prot_Test", 0.0},
                      {"STARTED", 0.0},
                      {"test_flag", kUnsetValue},
                      {"delta_time", kUnsetValue},
                      {"delta_speed", kUnsetValue}}) {}
  static std::function<void(FakeDrive&)> Results(double flag, double time, double speed) {
    return [=](FakeDrive& f) {
      f.vars["test_flag"] = flag;
      f.vars["delta_time"] = time;
      f.vars["delta_speed"] = speed;
    };
  }
  // The inertia that a successful run detects, the test current set in converter counts,
  // when the drive reports the time and the speed gained.
  double Detected(double current_counts, double delta_time, double delta_speed) {
    dlg_.reset();
    Set("TestCurrent", current_counts / CurrentScale(*setup_));
    Set("Jt", 0.001);
    Run(Then(RunEndingWith(Results(1.0, delta_time, delta_speed)), Check([](CTotalInertiaTest& d) {
                    EXPECT_EQ(d.m_nTestResult, 1) << d.m_strError;
                    EXPECT_NE(d.GetChildText(kJtResultEdit), "");
                  })),
             kStepsClose);
    return Get("Jt");
  }
};

TEST_F(InertiaTest, TheFailureTextFollowsTheTestFlagFirstThenTheTimeCode) {
  const std::string negative =
      "When a POSITIVE torque level is applied to the motor, the measured speed is NEGATIVE.\n"
      "Possible causes of failure:\n\t\tThe current controller is not tuned;\n\t\tThe encoder "
      "signals are reversed;\n\t\tCheck the current controller tuning;\n\t\tUse the test "
      "<<Detect number of lines>> to verify the encoder counting direction;\n\t\tCheck if the "
      "motor nominal current was correctly set";
  const std::string no_speed =
      "When trying to apply POSITIVE torque to the motor, the measured speed is ZERO, or the "
      "reference torque cannot be reached!\nPossible causes of failure:\n\t\tThe current "
      "controller is not tuned;\n\t\tThe encoder signals are missing;\n\t\tThe DC voltage level "
      "is not high enough;\n\t\tCheck the current controller tuning;\n\t\tUse the encoder <<Test "
      "connections>> to verify presence of the encoder signals\n\t\tCheck if the motor nominal "
      "current was correctly set.\n\t\tTry to decrease the test current.";
  const std::string not_reached =
      "The motor does not reach the programmed speed level!\nYou may have a problem with the "
      "encoder or the initial positioning is not performed correctly. Check the encoder and "
      "motor connections. If these are OK, try to increase the test current.";
  struct Case {
    double flag, time;
    std::string text;
  };
  const Case cases[] = {
      {0.0, 100.0, negative},   {0.0, -2.0, negative},    {-1.0, -1.0, negative},
      {1.0, -1.0, negative + "."}, {1.0, -2.0, no_speed}, {1.0, -3.0, not_reached},
      {1.0, 0.0, not_reached},  {1.0, 100.0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InertiaFailureText({c.flag, c.time, 50.0}), c.text) << c.flag << " " << c.time;
  }
}

// Torque times time over the speed gained: the inertia follows the current as sent (whole
// counts), the time taken and, inversely, the speed gained. Its size is held to the plant's
// on the simulated drive above.
TEST_F(InertiaTest, ARunSendsTruncatedInputsAndTheInertiaFollowsThem) {
  const double detected = Detected(1.9, 200.0, 40.0);
  ASSERT_EQ(drive_->starts.size(), 1u);
  const auto& sent = drive_->starts[0];
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[0].name, "In1");
  EXPECT_EQ(sent[0].value, 1.0);  // 1.9 counts of the current converter
  EXPECT_EQ(sent[1].name, "LimitSpeedMax");
  EXPECT_EQ(sent[2].name, "Imax_Prot_Test");
  EXPECT_GT(detected, 0.0);

  struct Case {
    double counts, time, speed, times;
  };
  const Case cases[] = {
      {1.0, 200.0, 40.0, 1.0}, {2.0, 200.0, 40.0, 2.0},
      {1.9, 400.0, 40.0, 2.0}, {1.9, 200.0, 80.0, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.counts << " counts, " << c.time << " samples, "
                                      << c.speed << " speed");
    EXPECT_NEAR(Detected(c.counts, c.time, c.speed) / detected, c.times, 1e-9);
  }
}

TEST_F(InertiaTest, AFailedOrUnfinishedRunLeavesTheInertiaAlone) {
  struct Case {
    const char* name;
    std::function<void(FakeDrive&)> results;
    std::string text;
  };
  const Case cases[] = {
      {"time code", Results(1.0, -3.0, kUnsetValue), "The motor does not reach"},
      // A run stopped early: nothing to tell the user but that.
      {"no speed result", Results(1.0, 100.0, kUnsetValue), "The run ended before the speed"},
      {"no speed gained", Results(1.0, 100.0, 0.0), "The run ended before the speed"},
      {"limit switch", [](FakeDrive& f) { f.live["MER"] = 0x0040; },
       "Drive / Motor stopped due to"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dlg_.reset();
    drive_->live["MER"] = 0;
    Set("Jt", 0.001);
    Run(Then(RunEndingWith(c.results), Check([&c](CTotalInertiaTest& d) {
                    EXPECT_EQ(d.m_nTestResult, -1);
                    EXPECT_THAT(d.m_strError, StartsWith(c.text));
                  })));
    EXPECT_EQ(Get("Jt"), 0.001);
  }
}

TEST_F(InertiaTest, TheClosingQuestionKeepsRestoresOrStays) {
  // The inertia falls as the speed gained grows: the speed that gives j in 200 samples.
  const double at_unit_speed = Detected(100.5, 200.0, 1.0);
  auto detect = [at_unit_speed](FakeDrive& f, double j) {
    Results(1.0, 200.0, at_unit_speed / j)(f);
  };
  ExpectClosingQuestion(
      "Jt", detect,
      {{"same %g text", 0.001, 0.001 * (1.0 + 1e-9), {}, kIdCancel, 0.001},
       {"Yes", 0.001, 0.002, {kIdYes}, kIdOk, 0.002},
       {"No", 0.001, 0.002, {kIdNo}, kIdCancel, 0.001},
       {"Cancel stays, then No", 0.001, 0.002, {kIdCancel, kIdNo}, kIdCancel, 0.001}},
      "A different value than specified has been detected for the following parameter(s):\r\n"
      "\r\nTotal inertia:\tOld = 0.001\tNew = 0.002\r\n\r\nDo you want to save the new "
      "value(s)? (Recommended)");
}

}  // namespace
