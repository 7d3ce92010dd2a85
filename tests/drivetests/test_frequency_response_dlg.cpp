// The frequency response dialog run as a user runs it, headless on the simulated drive: the
// fit's findings, Apply Notch into the setup's filters, the refusal of a drive without the
// program, and the two dialogs that open it by name.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "dialogs/filters_dlg.h"
#include "drivetests/frequency_response_dlg.h"
#include "drivetests/tuning_template.h"
#include "drivetests/tuning_test_dlg.h"
#include "names/dialog_names.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/test_runs.h"
#include "tests/support/tuning_run.h"

namespace {

using namespace dcservo;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class FrequencyResponseDialog : public testing_support::SimulatedRun<CFrequencyResponseDlg> {
 protected:
  // Measure with the fields as they open, then `check`.
  void MeasureThen(const std::vector<RunStep>& after) {
    std::vector<RunStep> steps = {Click(kFreqMeasure)};
    steps.insert(steps.end(), after.begin(), after.end());
    Run(steps);
  }
  std::vector<double> FirstSlot() const {
    std::vector<double> slot;
    for (const char* name : {"BQ1B0", "BQ1B1", "BQ1B2", "BQ1A1", "BQ1A2"})
      slot.push_back(setup_->GetParameterValueInInternalUnit(name));
    return slot;
  }
  // The filter that is on as a notch, 0 when none.
  int NotchFilter() const {
    for (int i = 1; i <= 3; ++i) {
      if (Get(("BQFilter" + std::to_string(i)).c_str()) != 0.0) return i;
    }
    return 0;
  }
};

// The rigid bundled drive shows nothing to notch; a coupling of the simulated load at 300 Hz
// with damping 0.01 is found within 3 %, and Apply Notch switches a filter on at it.
TEST_F(FrequencyResponseDialog, ARigidDriveShowsNoResonanceAndACouplingIsFoundAndNotched) {
  const struct Case {
    double resonance_hz;
  } cases[] = {{0.0}, {300.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resonance_hz);
    dlg_.reset();
    Fault("resonance", c.resonance_hz);
    Fault("resonance_damping", 0.01);
    const double filter_before = Get("BQFilter1") + Get("BQFilter2") + Get("BQFilter3");
    const std::vector<double> slot_before = FirstSlot();
    MeasureThen({Check([&](CFrequencyResponseDlg& d) {
      EXPECT_THAT(d.GetChildText(kFreqProgress), StartsWith("Measured 30 frequencies"));
      ASSERT_TRUE(d.Identified());
      if (c.resonance_hz == 0.0) {
        EXPECT_FALSE(d.Identified()->coupling);
        EXPECT_THAT(d.GetChildText(kFreqResults), StartsWith("no resonance found"));
        EXPECT_FALSE(d.GetControlState(kFreqApplyNotch).enabled);
        return;
      }
      ASSERT_TRUE(d.Identified()->coupling);
      EXPECT_NEAR(d.Identified()->coupling->resonance_hz / c.resonance_hz, 1.0, 0.03);
      EXPECT_THAT(d.GetChildText(kFreqResults), HasSubstr("Resonance: "));
      EXPECT_THAT(d.GetChildText(kFreqResults), HasSubstr(" Hz (confidence "));
      ASSERT_TRUE(d.GetControlState(kFreqApplyNotch).enabled);
      ASSERT_TRUE(d.UserClick(kFreqApplyNotch)) << d.LastRefusal();
      EXPECT_THAT(d.GetChildText(kFreqResults), HasSubstr("Apply Notch wrote filter 1: notch at"));
      // Once written, not twice.
      EXPECT_FALSE(d.GetControlState(kFreqApplyNotch).enabled);
    })});
    if (c.resonance_hz == 0.0) {
      EXPECT_EQ(Get("BQFilter1") + Get("BQFilter2") + Get("BQFilter3"), filter_before);
      continue;
    }
    ASSERT_EQ(NotchFilter(), 1);
    EXPECT_NEAR(Get("BQFilterF11") / c.resonance_hz, 1.0, 0.03);
    // The chip parameters followed: the first slot holds the notch's coefficients.
    EXPECT_NE(FirstSlot(), slot_before);
  }
}

// The speed loop measured as tuned gives its margins beside the model's; switching the loop
// on show redraws from the same run. The progress counts the frequencies done.
TEST_F(FrequencyResponseDialog, TheSpeedLoopsRunShowsItsMarginsBesideTheModels) {
  std::vector<std::string> progress;
  ui_.on_control_changed = [&progress](CZel_Dialog& d, int id) {
    const std::string text = d.GetChildText(id);
    if (id == kFreqProgress && text.rfind("Measuring", 0) == 0 &&
        (progress.empty() || progress.back() != text))
      progress.push_back(text);
  };
  Run({Select(kFreqLoop, 1), Click(kFreqMeasure), Check([](CFrequencyResponseDlg& d) {
         EXPECT_THAT(d.GetChildText(kFreqMargins),
                     StartsWith("Speed loop margins (phase, gain, crossover)\r\nmeasured: "));
         EXPECT_THAT(d.GetChildText(kFreqMargins), HasSubstr("\r\nmodel: "));
         // The rigid drive has no coupling for the model to take.
         EXPECT_THAT(d.GetChildText(kFreqMargins), Not(HasSubstr("coupled model")));
         ASSERT_TRUE(d.UserSelect(kFreqLoop, 2));
         EXPECT_THAT(d.GetChildText(kFreqMargins), StartsWith("Speed loop margins"));
       })});
  ASSERT_EQ(progress.size(), 31u);
  EXPECT_EQ(progress.front(), "Measuring: 0 of 30 frequencies");
  EXPECT_EQ(progress.back(), "Measuring: 30 of 30 frequencies");
}

// On a load coupled at 300 Hz the rigid model's gain margin is far from the measured one; the
// model with the coupling the fit found agrees with the measurement.
TEST_F(FrequencyResponseDialog, TheModelWithTheFittedCouplingHasTheMeasuredMargins) {
  Fault("resonance", 300.0);
  Fault("resonance_damping", 0.01);
  Run({Select(kFreqLoop, 1), Click(kFreqMeasure), Check([](CFrequencyResponseDlg& d) {
         EXPECT_THAT(d.GetChildText(kFreqMargins), HasSubstr("\r\ncoupled model: "));
         const CurveMargins measured = MarginsOfCurve(d.Measurement().measured.open_loop);
         const CurveMargins rigid = MarginsOfCurve(d.Measurement().model.open_loop);
         ASSERT_TRUE(d.CoupledModelMargins() && d.CoupledModelMargins()->gain_margin_db &&
                     measured.gain_margin_db && rigid.gain_margin_db);
         EXPECT_NEAR(*d.CoupledModelMargins()->gain_margin_db, *measured.gain_margin_db,
                     kMarginAgreement_dB);
         EXPECT_GT(*rigid.gain_margin_db - *measured.gain_margin_db, 5.0);
       })});
}

// A load four times the setup's inertia, coupled at 120 Hz: the model, from the setup, keeps
// its margins with the notch, the measured speed loop does not. A run of the speed loop
// refuses the notch in the words of `tune speed --from-measurement --apply-notch` and writes
// nothing; a plant run, measured with the loop softened, is judged on the model and places it.
TEST_F(FrequencyResponseDialog, ANotchTheMeasuredLoopCannotAffordIsRefused) {
  const struct Case {
    int loop;
    bool placed;
  } cases[] = {{1, false}, {0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.loop);
    dlg_.reset();
    Fault("inertia", 1.8e-4);
    Fault("resonance", 120.0);
    Fault("resonance_damping", 0.01);
    Run({Select(kFreqLoop, c.loop), Type(kFreqAmplitude, "3"), Type(kFreqPoints, "40"),
         Click(kFreqMeasure), Check([&](CFrequencyResponseDlg& d) {
           ASSERT_TRUE(d.Identified() && d.Identified()->coupling);
           ASSERT_TRUE(d.UserClick(kFreqApplyNotch)) << d.LastRefusal();
           if (c.placed) {
             EXPECT_THAT(d.GetChildText(kFreqProgress), StartsWith("Notch written into filter 1"));
             return;
           }
           EXPECT_THAT(d.GetChildText(kFreqProgress),
                       StartsWith("with the notch the measured open loop keeps too little "
                                  "margin: phase margin 4"));
           EXPECT_TRUE(d.GetControlState(kFreqApplyNotch).enabled);
         })});
    EXPECT_EQ(NotchFilter(), c.placed ? 1 : 0);
  }
}

// Stop, or Cancel, while the sweep runs: the drive's program is stopped, the frequencies that
// ran to their end stay measured and drawn, the status says the sweep was stopped, and the
// dialog stays open. Stopped inside the first frequency, nothing is measured.
TEST_F(FrequencyResponseDialog, StopOrCancelEndsTheSweepAndKeepsWhatWasMeasured) {
  const auto stopped = [this](std::size_t done, const char* status) {
    return Check([=, this](CFrequencyResponseDlg& d) {
      EXPECT_THAT(d.GetChildText(kFreqProgress), StartsWith(status));
      EXPECT_EQ(d.Measurement().frequency_hz.size(), done);
      EXPECT_EQ(d.Measurement().measured.open_loop.size(), done);
      EXPECT_EQ(d.Measurement().model.open_loop.size(), done);
      EXPECT_FALSE(drive_->ProgramRunning());
      EXPECT_TRUE(d.GetControlState(kFreqMeasure).enabled);
      EXPECT_FALSE(d.GetControlState(kFreqStop).enabled);
    });
  };
  // The first pump shows "0 of 30"; the second comes while the first frequency runs.
  Run({Click(kFreqMeasure), DuringPump([](CFrequencyResponseDlg&) {}),
       DuringPump([this](CFrequencyResponseDlg& d) {
         ASSERT_TRUE(drive_->ProgramRunning());
         ASSERT_TRUE(d.UserClick(kFreqStop)) << d.LastRefusal();
       }),
       stopped(0, "Stopped before the first frequency was measured")});
  dlg_.reset();
  ui_.on_control_changed = [](CZel_Dialog& d, int id) {
    if (id == kFreqProgress && d.GetChildText(id) == "Measuring: 3 of 30 frequencies")
      EXPECT_TRUE(d.UserClick(kIdCancel));
  };
  Run({Click(kFreqMeasure), stopped(3, "Stopped: measured 3 of 30 frequencies from 10 to ")});
}

// Fields the drive cannot run refuse the measurement before anything reaches the drive.
TEST_F(FrequencyResponseDialog, FieldsOutsideWhatTheDriveRunsAreRefused) {
  const struct {
    int field;
    const char* text;
    const char* refusal;
  } cases[] = {
      {kFreqFrom, "0", "From and To need 0 < From < To (Hz)"},
      {kFreqTo, "5", "From and To need 0 < From < To (Hz)"},
      {kFreqTo, "nan", "From and To need 0 < From < To (Hz)"},
      {kFreqTo, "100000", "To: the drive's fast loop measures up to"},
      {kFreqPoints, "2.5", "Points takes a whole number from 2 to 200"},
      {kFreqPoints, "201", "Points takes a whole number from 2 to 200"},
      {kFreqAmplitude, "-1", "Amplitude takes a current above 0 A, at most"},
      {kFreqAmplitude, "1e9", "Amplitude takes a current above 0 A, at most"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dlg_.reset();
    Run({Type(c.field, c.text), Click(kFreqMeasure), Check([&](CFrequencyResponseDlg& d) {
           EXPECT_THAT(d.GetChildText(kFreqProgress), StartsWith(c.refusal));
           EXPECT_TRUE(d.Measurement().frequency_hz.empty());
         })});
  }
}

class FrequencyResponseWithoutProgram
    : public testing_support::FakeDriveRun<CFrequencyResponseDlg> {
 protected:
  FrequencyResponseWithoutProgram() : FakeDriveRun("Current_Test", {}) {}
};

// The drive's refusal, word for word, and nothing sent to the drive nor changed on screen.
TEST_F(FrequencyResponseWithoutProgram, MeasureSaysTheFirmwareHasNoProgram) {
  Run({Click(kFreqMeasure), Check([this](CFrequencyResponseDlg& d) {
         EXPECT_EQ(d.GetChildText(kFreqProgress),
                   "this drive's firmware has no frequency response program");
         EXPECT_EQ(d.GetChildText(kFreqResults), "");
         EXPECT_FALSE(d.GetControlState(kFreqApplyNotch).enabled);
         EXPECT_TRUE(drive_->starts.empty());
         EXPECT_TRUE(drive_->parameters_written.empty());
       })});
}

// The filters and the speed test open the dialog by name; the filters not while a test runs.
class FiltersOpensFrequencyResponse : public testing_support::DialogHarness<CFiltersDialog> {};

TEST_F(FiltersOpensFrequencyResponse, ByNameAndNotWhileATestRuns) {
  int opened = 0;
  testing_support::ScopedDialogOverride child(dialog_names::kFrequencyResponse,
                                              [&opened](CZel_Setup&, CZel_Dialog*) {
                                                ++opened;
                                                return nullptr;
                                              });
  for (int lock : {0, 1}) {
    SCOPED_TRACE(lock);
    Open(lock);
    EXPECT_EQ(Enabled(kFrequencyResponseButton), lock == 0);
    if (lock == 0) Click(kFrequencyResponseButton);
  }
  EXPECT_EQ(opened, 1);
}

class SpeedTestOpensFrequencyResponse
    : public testing_support::TuningRunHarness<CTestSpeedTuning> {};

TEST_F(SpeedTestOpensFrequencyResponse, FromItsTestPage) {
  int opened = 0;
  testing_support::ScopedDialogOverride child(dialog_names::kFrequencyResponse,
                                              [&opened](CZel_Setup&, CZel_Dialog* parent) {
                                                ++opened;
                                                EXPECT_NE(parent, nullptr);
                                                return nullptr;
                                              });
  Run({Check([](CTestSpeedTuning& d) { EXPECT_FALSE(d.GetControlState(kFrequencyResponse).shown); }),
       TestPage(), Click(kFrequencyResponse)});
  EXPECT_EQ(opened, 1);
}

}  // namespace
