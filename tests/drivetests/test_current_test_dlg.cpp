// The current controller test on the bundled drive: its bindings and page rule, Tune, OK,
// and whole runs on the simulated drive with the shaft blocked, faults included.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "drivetests/current_test_dlg.h"
#include "names/program_names.h"
#include "tests/drivetests/written_names.h"
#include "tests/support/test_runs.h"

namespace {

using namespace dcservo;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing_support::WrittenNames;

class CurrentTest : public testing_support::SimulatedRun<CTestCurrent> {
 protected:
  CurrentTest() { Fault("shaft_blocked", 1.0); }
  static Step ToTestPage() { return Select(kCtTab, kTestPage); }
};

// The slider's ends are fixed when the dialog is built: half and one and a half times the
// value, within the parameter's range; a gain of 0 gives a slider that stays at 0.
TEST_F(CurrentTest, SliderEndsAreFixedFromTheValueAtBuild) {
  struct Case {
    const char* name;
    int slider;
    double value;
    double lo, hi;
  };
  const Case cases[] = {{"Kp_C_scl", kCtKpSlider, 0.6, 0.3, 0.9},
                        {"Ki_C_scl", kCtKiSlider, 0.0, 0.0, 0.0},
                        {"PB_C", kCtPassBandSlider, 150.0, 100.0, 225.0},  // min 100
                        {"PB_C", kCtPassBandSlider, 16000.0, 8000.0, 20000.0}};  // max 20000
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + std::string(" ") + std::to_string(c.value));
    setup_->SetParameterValueInBaseUnit(c.name, c.value);
    dlg_.reset();
    Run({ToTestPage(), Check([&](CTestCurrent& d) {
           setup_->SetParameterValueInBaseUnit(c.name, c.value * 3.0 + 1.0);  // not the range
           ASSERT_TRUE(d.UserSlide(c.slider, 0));
           EXPECT_NEAR(Get(c.name), c.lo, 1e-3 * (c.hi + 1.0));
           ASSERT_TRUE(d.UserSlide(c.slider, kSliderSteps));
           EXPECT_NEAR(Get(c.name), c.hi, 1e-3 * (c.hi + 1.0));
         })});
  }
}

TEST_F(CurrentTest, TheTestPageNeedsAProtectionAtLeastTheTestCurrent) {
  Run({Type(kCtTestCurrentEdit, "2"), Type(kCtProtectionEdit, "1.9"), ToTestPage(),
       Check([](CTestCurrent& d) { EXPECT_EQ(d.GetTabSelection(kCtTab), kTestParametersPage); }),
       Type(kCtProtectionEdit, "2"), ToTestPage(),
       Check([](CTestCurrent& d) { EXPECT_EQ(d.GetTabSelection(kCtTab), kTestPage); })});
  // Opened on its own, the test first asks for the shaft to be blocked.
  ASSERT_EQ(ui_.Messages().size(), 2u);
  EXPECT_EQ(ui_.Messages()[0].text, "The test must be performed with motor shaft blocked.");
  EXPECT_EQ(ui_.Messages()[1].text,
            "Over current protection must be greater or equal to Test current.");
}

TEST_F(CurrentTest, OkMakesTheTestProtectionTheDrives) {
  EXPECT_EQ(Run({Type(kCtProtectionEdit, "5")}, kIdOk), kIdOk);
  EXPECT_NEAR(Get("Imax_Prot"), 5.0, 1e-3);
  setup_->SetParameterValueInBaseUnit("Imax_Prot", 7.0);
  dlg_.reset();
  EXPECT_EQ(Run({Type(kCtProtectionEdit, "4")}, kIdCancel), kIdCancel);
  EXPECT_NEAR(Get("Imax_Prot"), 7.0, 1e-3);
}

TEST_F(CurrentTest, TypedGainsGoIntoTheirChipPairsAtOnce) {
  Run({ToTestPage(), Type(kCtKpEdit, "0.75"), Type(kCtKiEdit, "0.05")});
  EXPECT_NEAR(setup_->GetParameterValueInInternalUnit("KPI") *
                  std::ldexp(1.0, static_cast<int>(setup_->GetParameterValueInInternalUnit(
                                      "SFTKPI"))) / 32767.0,
              0.75, 1e-4);
  EXPECT_NEAR(setup_->GetParameterValueInInternalUnit("KII") / 32767.0, 0.05, 1e-4);
}

TEST_F(CurrentTest, ATunedStepOnTheBlockedShaftIsWhatTheDesignedLoopPredicts) {
  Run({ToTestPage(), Click(kCtTune), Click(kIdcTestStartStop), UntilRunEnds(),
       Check([](CTestCurrent& d) {
         EXPECT_EQ(d.m_nTestResult, 1) << d.m_strError;
         EXPECT_EQ(d.GetChildText(kIdcTestResult), "Test successful");
         EXPECT_EQ(d.GetGraph().GetDrawnPointCount(), 100);
         const CurrentStepEvaluation& e = d.GetEvaluation();
         ASSERT_TRUE(e.measured && e.predicted);
         EXPECT_NEAR(e.measured->rise_time_s / e.predicted->rise_time_s, 1.0, 0.15)
             << e.measured->rise_time_s << " " << e.predicted->rise_time_s;
         EXPECT_NEAR(e.measured->overshoot_pct, e.predicted->overshoot_pct, 5.0);
         EXPECT_NEAR(e.measured->steady_state_error, 0.0, 0.02);
         EXPECT_THAT(e.warnings, IsEmpty());
         EXPECT_THAT(d.GetChildText(kCtFigures), AllOf(HasSubstr("Measured"), HasSubstr("Predicted")));
       })});
  // The plot reads in the user's units.
  const CGraphDocument& doc = *dlg_->GetGraph().GetDocument();
  EXPECT_EQ(doc.GetChannelUnit(0), "ms");
  EXPECT_EQ(doc.GetChannelUnit(2), "A");
  EXPECT_EQ(doc.GetChannelUnit(3), "V");
  EXPECT_NEAR(doc.GetValue(1, doc.GetPointCount() - 1), Get("TestCurrent"), 1e-3);
}

// The rise is the loop model's own figure: a motor that is not the setup's misses it, and the
// run fails with the target it missed.
TEST_F(CurrentTest, AMotorWhoseResistanceIsTwiceTheSetupsFailsTheRiseTarget) {
  Fault("resistance", 2.0 * Get("R"));
  Run({ToTestPage(), Click(kCtTune), Click(kIdcTestStartStop), UntilRunEnds(),
       Check([](CTestCurrent& d) {
         EXPECT_NE(d.m_nTestResult, 1);
         EXPECT_THAT(d.m_strError, HasSubstr("Target missed: rise time"));
         EXPECT_THAT(d.GetEvaluation().warnings, Contains(HasSubstr("R or L")));
         EXPECT_THAT(d.GetChildText(kCtFigures), HasSubstr("Warning"));
       })});
}

// Tune during a run: the four chip values go to the drive at once, shift before mantissa.
class CurrentTestOnFakeDrive : public testing_support::FakeDriveRun<CTestCurrent> {
 protected:
  CurrentTestOnFakeDrive()
      : FakeDriveRun(drive_program::Current_Controller_Tuning_Test,
                     {{"In1", 0}, {"Imax_Prot_Test", 0}, {"STARTED", 0}, {"test_flag", 1}}) {}
};

TEST_F(CurrentTestOnFakeDrive, TuneDuringARunWritesTheFourChipValuesInOrder) {
  Run({Select(kCtTab, kTestPage), Click(kIdcTestStartStop), Wait(20), Check([this](CTestCurrent& d) {
         ASSERT_EQ(d.m_bTestRunning, 1);
         drive_->parameters_written.clear();
         // The gains are locked while the run goes on; only Tune changes them.
         EXPECT_FALSE(d.GetControlState(kCtKpEdit).enabled);
         EXPECT_FALSE(d.GetControlState(kIdOk).enabled);
         ASSERT_TRUE(d.UserClick(kCtTune));
         EXPECT_THAT(WrittenNames(*drive_), ElementsAre("SFTKPI", "KPI", "SFTKII", "KII"));
       })});
  // The inputs went in as 16-bit counts of the current converter, in order.
  ASSERT_EQ(drive_->starts.size(), 1u);
  EXPECT_EQ(drive_->starts[0][0].name, "In1");
  EXPECT_EQ(drive_->starts[0][0].value, dlg_->LastInputs()[0].value);
  EXPECT_GT(drive_->starts[0][0].value, 1000);
  EXPECT_LT(drive_->starts[0][1].value, 32768);
}

}  // namespace
