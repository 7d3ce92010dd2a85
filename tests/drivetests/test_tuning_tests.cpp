// The speed and position tuning tests through the headless front end: the page check, the
// inertia coupling, the modes of a run on the simulated drive, the failures with their texts,
// the write-through of gains during a run, the scope's frames, trigger and scales, and the
// figures that set a run against the designed loop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "drivetests/online_view.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_coff.h"
#include "tests/drivetests/written_names.h"
#include "tests/support/test_runs.h"
#include "tests/support/tuning_run.h"

namespace {

using namespace dcservo;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::WrittenNames;

class SpeedTuning : public testing_support::TuningRunHarness<CTestSpeedTuning> {
 protected:
  bool HasScope() { return Build().HasScopeLogger(); }
  const CycleFigures& OnlyCycle() {
    EXPECT_EQ(dlg_->GetFigures().cycles.size(), 1u);
    return dlg_->GetFigures().cycles.at(0);
  }
  // Lets a repeating run go on until it has listed `n` cycles.
  Step UntilCycles(std::size_t n) {
    return UntilRunEnds(20000.0,
                        [n](CTestSpeedTuning& d) { return d.GetFigures().cycles.size() >= n; });
  }
};
class PositionTuning : public testing_support::TuningRunHarness<CTestPositionTuning> {};

// ---- the page check and the inertia ---------------------------------------------------------

TEST_F(SpeedTuning, ALimitAboveTheProtectionKeepsTheParametersPage) {
  const struct {
    double limit, protection;
    bool opens;
  } cases[] = {{8.0, 9.0, true}, {9.0, 9.0, true}, {9.0, 8.5, false}};
  for (const auto& c : cases) {
    dlg_.reset();
    Set("TestLimitCurrent", c.limit);
    Set("TestProtectionCurrent", c.protection);
    CTestSpeedTuning& d = Build();
    d.ModalInit();
    const std::size_t boxes = ui_.Messages().size();
    d.UserSelect(kTuningTab, kTestPage);
    EXPECT_EQ(d.GetTabSelection(kTuningTab), c.opens ? kTestPage : kTestParametersPage);
    if (!c.opens) {
      ASSERT_EQ(ui_.Messages().size(), boxes + 1);
      EXPECT_EQ(ui_.Messages().back().text,
                "Over current protection must be greater than Drive current limit. Recommended "
                "value for Drive current limit is maximum 90% of Over current protection.");
    }
  }
}

TEST_F(SpeedTuning, TotalInertiaAndTheRatioFollowEachOtherUntilJtFallsBelowTheMotor) {
  CTestSpeedTuning& d = Build();
  d.ModalInit();
  d.UserSelect(kTuningTab, kTestPage);
  const double jm = setup_->GetParameterValueInBaseUnit("Jm");
  d.UserSelect(kTuningTab, kTestParametersPage);
  ASSERT_TRUE(d.UserEdit(kInertiaEdit, "6e-05"));
  d.UserSelect(kTuningTab, kTestPage);
  EXPECT_NEAR(setup_->GetParameterValueInBaseUnit("Jload_over_J"), (6e-5 - jm) / jm, 1e-9);
  ASSERT_TRUE(d.UserEdit(kRatioEdit, "2"));
  EXPECT_NEAR(setup_->GetParameterValueInBaseUnit("Jt"), 3.0 * jm, 1e-12);
  EXPECT_TRUE(ui_.Messages().empty());

  d.UserSelect(kTuningTab, kTestParametersPage);
  ASSERT_TRUE(d.UserEdit(kInertiaEdit, "1e-05"));
  ASSERT_EQ(ui_.Messages().size(), 1u);
  EXPECT_THAT(ui_.Messages()[0].text, HasSubstr("lower than the value of the motor inertia"));
  EXPECT_EQ(setup_->GetParameterValueInBaseUnit("isMotorInertiaUnknown"), 1.0);
  EXPECT_FALSE(d.GetControlState(kRatioEdit).enabled);
  ASSERT_TRUE(d.UserEdit(kInertiaEdit, "2e-05"));
  EXPECT_EQ(ui_.Messages().size(), 1u);  // once
}

TEST_F(SpeedTuning, WithoutAScopeOnlinePlotNeedsMultipleCycles) {
  setup_->SetOption("hasOscilloscope", "0");
  Set("MultiCycleS", 1);
  Set("OnlinePlotS", 1);
  CTestSpeedTuning& d = Build();
  d.ModalInit();
  d.UserSelect(kTuningTab, kTestPage);
  EXPECT_FALSE(d.HasScopeLogger());
  EXPECT_TRUE(d.GetControlState(kOnlinePlot).enabled);
  ASSERT_TRUE(d.UserClick(kMultiCycle));
  EXPECT_EQ(setup_->GetParameterValueInBaseUnit("OnlinePlotS"), 0.0);
  EXPECT_FALSE(d.GetControlState(kOnlinePlot).enabled);
  EXPECT_TRUE(d.GetControlState(kPause).shown);
}

// ---- runs on the simulated drive -------------------------------------------------------------

TEST_F(SpeedTuning, ATunedCycleAgreesWithThePredictedLoopUntilTheLoadIsTwiceAsHeavy) {
  // The bundled drive's own band ripples the current beyond its target (the tuner's proposal
  // mends it): the run fails on that alone, and its figures are those of the loop that ran.
  RunToVerdict({Click(kTune)});
  EXPECT_THAT(dlg_->m_strError, HasSubstr("Target missed: current ripple at constant speed"));
  EXPECT_GT(dlg_->GetLoggerGraph().GetDrawnPointCount(), 1000);
  const TuningRunFigures& f = dlg_->GetFigures();
  ASSERT_TRUE(f.predicted.has_value());
  const CycleFigures& measured = OnlyCycle();
  ASSERT_TRUE(measured.deviation_rms.has_value());
  // The drive's speed is counted in whole encoder steps per sample (f.quantum): the run
  // stays within 3 % of the final speed of the prediction, and its peak error within two
  // steps of the predicted one.
  EXPECT_LT(*measured.deviation_rms, 0.03 * std::fabs(f.final_value));
  EXPECT_LT(measured.peak_error, f.predicted->peak_error + 2.0 * f.quantum);
  EXPECT_THAT(dlg_->GetChildText(kFiguresText), HasSubstr("Cycle 1: error peak"));

  const CycleFigures as_set = measured;
  dlg_.reset();
  Fault("inertia", 2.0 * setup_->GetParameterValueInBaseUnit("Jt"));
  RunToVerdict({Click(kTune)});
  EXPECT_THAT(dlg_->m_strError, HasSubstr("Target missed: current ripple at constant speed"));
  const CycleFigures heavy = OnlyCycle();
  // The loop tuned for half the inertia overshoots more, tracks no better and strays from
  // the prediction that the setup's inertia gives. (Errors of whole speed counts give an RMS
  // that moves in steps; the motor's friction damps the heavier load's extra error.)
  EXPECT_GT(heavy.overshoot_percent, as_set.overshoot_percent + 3.0);
  EXPECT_GE(heavy.rms_error, as_set.rms_error);
  EXPECT_GT(*heavy.deviation_rms, *as_set.deviation_rms);
}

struct RunFailure {
  const char* fault;
  const char* text;
};

TEST_F(SpeedTuning, DriveConditionsEndTheRunWithTheirTexts) {
  const RunFailure cases[] = {
      {"enable_off", "Drive / Motor ENABLE input is in DISABLED state."},
      {"limit_positive", "Drive / Motor stopped due to positive limit switch input triggered."},
      {"short_circuit", "Drive / Motor shortcircuit protection triggered."},
  };
  for (const RunFailure& c : cases) {
    SCOPED_TRACE(c.fault);
    dlg_.reset();
    Fault(c.fault, 1);
    EXPECT_EQ(RunToVerdict(), -1);
    EXPECT_EQ(dlg_->m_strError, c.text);
    EXPECT_EQ(dlg_->GetChildText(kIdcTestResult), "Test failed");
    Fault(c.fault, 0);
  }
}

TEST_F(SpeedTuning, AProfileTheProgramCannotTakeFailsBeforeTheProgramStarts) {
  const struct {
    double speed, ramp;
    int segment;
    const char* text;
  } cases[] = {
      {3e5, 0.0005, 0, kProfileSlopeText},
      {100.0, 32.0, 0, kProfileCountText},
  };
  for (const auto& c : cases) {
    dlg_.reset();
    Set("TestSpeed", c.speed);
    Set("TaPS", c.ramp);
    Set("Ts_S", 0.0005);
    EXPECT_EQ(RunToVerdict(), -1);
    EXPECT_EQ(dlg_->m_strError, c.text);
    EXPECT_EQ(dlg_->GetFaultySegment(), c.segment);
    EXPECT_FALSE(CZel_Comm::GetLink()->ProgramRunning());
  }
}

// ---- the scope: frames, trigger, scales ---------------------------------------------------

TEST_F(SpeedTuning, TheFrameHandlerTakesOnlyWholeLoggerFrames) {
  Set("OnlinePlotS", 1);
  Run({Start(), [](CTestSpeedTuning& d) {
         ASSERT_TRUE(d.GetScopeLogger()->UploadInProgress());
         // sequence, one point, period 500 us, then 4 channels of 32 bits
         std::vector<std::uint16_t> words = {0, 1, 41248, 7, 10, 0, 20, 0, 30, 0, 40, 0};
         const auto good = zel_msg::Build(zel_msg::kLoggerFrame, 1, words);
         auto other = zel_msg::Build(0xE901, 1, words);
         auto shorter = zel_msg::Build(zel_msg::kLoggerFrame, 1, {0, 2, 41248, 7, 10, 0, 20, 0});
         EXPECT_EQ(d.OnUnsolicitedMessage(other.data(), other.size()), 0);
         EXPECT_EQ(d.OnUnsolicitedMessage(shorter.data(), shorter.size()), 0);
         // A word count that the bytes do not hold is not read past its end.
         EXPECT_EQ(d.OnUnsolicitedMessage(good.data(), good.size() - 2), 0);
         EXPECT_EQ(d.OnUnsolicitedMessage(good.data(), good.size()), 1);
       }});
}

TEST(ScopeScale, StepsOfTheOneTwoFiveSeries) {
  const struct {
    double q, step;
  } cases[] = {{30, 50}, {0.3, 0.5}, {1, 1}, {0.11, 0.2}, {200, 200}, {201, 500}, {0, 0.2}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ScopeScaleStep(c.q), c.step) << c.q;
}

TEST_F(SpeedTuning, TheTriggerFollowsTheReferenceTypeAndSign) {
  struct Case {
    const char* what;
    bool speed;
    double final_value;
    int type;
    bool multi;
    int mode, slope;
    double level_share;
    double start;  // where a position run starts; its level is a share of the move from there
  };
  const Case cases[] = {
      {"speed rising", true, 100, 0, false, 4, 1, 1.0, 0},
      {"speed falling", true, -100, 0, true, 2, 0, 1.0, 0},
      {"position positive", false, 50, 0, false, 4, 1, 0.95, 0},
      {"position positive, from below 0", false, 50, 0, false, 4, 1, 0.95, -300},
      {"position negative, below 0", false, -50, 1, false, 4, 1, -0.95, 0},
      {"position negative, above 0", false, 50, 1, false, 4, 0, -0.95, 0},
      {"position negative, from above 0", false, 50, 1, true, 2, 0, -0.95, 300},
      {"position both ways", false, 50, 2, true, 2, 1, 0.9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const char* final_name = c.speed ? "TestSpeed" : "TestPosition";
    Set(final_name, c.final_value);
    Set(c.speed ? "SpeedTestReferenceType" : "PositionTestReferenceType", c.type);
    const ScopeTriggerSettings s = c.speed ? SpeedScopeTrigger(*setup_, c.multi)
                                           : PositionScopeTrigger(*setup_, c.multi, c.start);
    EXPECT_EQ(s.mode, c.mode);
    EXPECT_EQ(s.slope, c.slope);
    EXPECT_NEAR(s.level,
                c.start + c.level_share * setup_->GetParameterValueInBaseUnit(final_name), 1e-9);
    EXPECT_EQ(s.variable, c.speed ? "Speed_Reference" : "Target_Position");
  }
}

TEST_F(SpeedTuning, ANegativeFinalSpeedMovesTheSpeedChannelsDownFourSteps) {
  Set("TestSpeed", -125.66370614359172);  // -1200 rpm
  CTestSpeedTuning& d = Build();
  d.ModalInit();
  CZel_ScopeLogger* scope = d.GetScopeLogger();
  ASSERT_NE(scope, nullptr);
  ASSERT_FALSE(d.HasCustomScopeSettings());
  // q = 300 rpm gives 500 rpm a division.
  const double rpm = 2.0 * 3.141592653589793 / 60.0;
  EXPECT_NEAR(scope->GetChannelScale(1), 500 * rpm, 1e-9);
  EXPECT_NEAR(scope->GetChannelScale(2), 500 * rpm, 1e-9);
}

// ---- gains during a run ----------------------------------------------------------------------

std::vector<ZelProgramVariable> SpeedProgramVariables() {
  std::vector<ZelProgramVariable> v = {{"IlimPS_Test", 0}, {"Imax_Prot_Test", 0}, {"MultiC", 0},
                                       {"STARTED", 0},     {"test_flag", 1.2345e100}};
  for (int i = 0; i < 6; ++i)
    v.insert(v.end(), {{"a" + std::to_string(i), 0}, {"b" + std::to_string(i), 0}});
  return v;
}

// A drive that runs the speed program for as long as the test lets it.
class SpeedTuningOnAFakeDrive : public testing_support::FakeDriveRun<CTestSpeedTuning> {
 protected:
  SpeedTuningOnAFakeDrive()
      : FakeDriveRun("Speed_Controller_Tuning_Test", SpeedProgramVariables()) {}
};

TEST_F(SpeedTuningOnAFakeDrive, GainsAndTuneGoToTheDriveWhileItRunsShiftFirst) {
  // The gains are open to the user during an on-line run.
  setup_->SetOption("hasOscilloscope", "0");
  Set("MultiCycleS", 1);
  Set("OnlinePlotS", 1);
  Run({Select(kTuningTab, kTestPage), Click(kIdcTestStartStop), [this](CTestSpeedTuning& d) {
         ASSERT_EQ(d.m_bTestRunning, 1);
         EXPECT_TRUE(d.GetControlState(kKpEdit).enabled);
         drive_->parameters_written.clear();
         ASSERT_TRUE(d.UserEdit(kKpEdit, "3000"));
         EXPECT_THAT(WrittenNames(*drive_), ElementsAre("SFTKPS", "KPS"));
         drive_->parameters_written.clear();
         ASSERT_TRUE(d.UserClick(kTune));
         EXPECT_THAT(WrittenNames(*drive_), ElementsAre("SFTKPS", "KPS", "SFTKIS", "KIS"));
         drive_->parameters_written.clear();
         drive_->refuse_parameters = true;
         ASSERT_TRUE(d.UserEdit(kKiEdit, "70"));
         EXPECT_TRUE(WrittenNames(*drive_).empty());  // the shift was refused: no mantissa after it
       }});
  ASSERT_EQ(drive_->starts.size(), 1u);
  const auto& inputs = drive_->starts[0];
  auto value = [&inputs](const char* name) {
    for (const auto& v : inputs)
      if (v.name == name) return v.value;
    return -1.0;
  };
  EXPECT_EQ(value("MultiC"), 1.0);
  EXPECT_GT(value("Imax_Prot_Test"), value("IlimPS_Test"));
  EXPECT_GT(value("a2"), 0.0);
}

// ---- the position test's differences ----------------------------------------------------

TEST_F(PositionTuning, TheStructureChoosesTheProgramTheLimitAndTheChannels) {
  const struct {
    int type;
    const char* program;
    const char* third;
  } cases[] = {
      {1, "Position_Controller_Tuning_Test_with_SpdCtrl", "Speed_Reference"},
      {0, "Position_Controller_Tuning_Test_without_SpdCtrl", "Current_Reference"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    dlg_.reset();
    Set("PositionControlType", c.type);
    RunToVerdict({Click(kTune)});
    EXPECT_EQ(dlg_->m_nTestResult, 1) << dlg_->m_strError;
    EXPECT_STREQ(dlg_->Program(), c.program);
    EXPECT_EQ(dlg_->GetDataLogger().GetChannelName(3), c.third);
    const TuningRunFigures& f = dlg_->GetFigures();
    ASSERT_EQ(f.cycles.size(), 1u);
    // The logger's first sample is already a step into the move: the settling after the move
    // and after the return is still measured, near what the designed loop predicts.
    ASSERT_TRUE(f.predicted.has_value());
    for (int end : {0, 1})
      EXPECT_NEAR(f.cycles[0].settling_s[end], f.predicted->settling_s[end],
                  0.3 * f.predicted->settling_s[end]);
  }
}

TEST_F(SpeedTuning, ScopeScalesTheUserChoseAreKeptInTheOptionOnOkAndClearedWhenNot) {
  CTestSpeedTuning& d = Build();
  d.ModalInit();
  ASSERT_TRUE(d.OnChannelScaleChange(1, 1));
  EXPECT_TRUE(d.HasCustomScopeSettings());
  d.UserClick(kIdOk);
  const std::string saved = setup_->GetOptionNoError("SpeedTuningOscSettings");
  EXPECT_THAT(saved, HasSubstr("Speed_Reference"));

  dlg_.reset();
  CTestSpeedTuning& again = Build();
  again.ModalInit();
  EXPECT_TRUE(again.HasCustomScopeSettings());
  EXPECT_EQ(again.OnChannelScaleChange(9, 1), 0);  // no such channel
  again.OnCommand(kCmdDefaultScope, ZelNotify::Clicked);
  EXPECT_FALSE(again.HasCustomScopeSettings());
  again.UserClick(kIdOk);
  EXPECT_EQ(setup_->GetOptionNoError("SpeedTuningOscSettings"), "");
}

// Save Plots has something to save once a run has drawn its plot, and from then on Escape
// asks before closing would lose it: No stays, Yes closes.
TEST_F(SpeedTuning, SavePlotsWaitsForARunAndEscapeAsksBeforeLosingIt) {
  auto escape = [](CTestSpeedTuning& d) { EXPECT_TRUE(d.UserKey(kKeyEscape, 0)); };
  auto save_enabled = [](bool enabled) {
    return [enabled](CTestSpeedTuning& d) {
      EXPECT_EQ(d.GetControlState(kSavePlots).enabled, enabled);
    };
  };
  const int result =
      Run({TestPage(), save_enabled(false), Start(), UntilRunEnds(), save_enabled(true),
           escape, Answer(kIdNo), Check([this](CTestSpeedTuning& d) {
             EXPECT_FALSE(d.HasEnded());
             ASSERT_EQ(ui_.Messages().size(), 1u);
             EXPECT_EQ(ui_.Messages()[0].text, kDiscardRunQuestion);
           }),
           escape, Answer(kIdYes)},
          kStepsClose);
  EXPECT_EQ(result, kIdCancel);
  EXPECT_EQ(ui_.Messages().size(), 2u);
}

// One cycle on line with the scope: its trigger comes at the end of the first ramp, before a
// whole pre-trigger part, so the single sweep ends before the ring is full; it is measured all
// the same, and set against the targets.
TEST_F(SpeedTuning, ASingleOnlineRunMeasuresItsCycle) {
  Set("OnlinePlotS", 1);
  ASSERT_TRUE(HasScope());
  EXPECT_EQ(RunToVerdict(), 1) << dlg_->m_strError;
  const CycleFigures& cycle = OnlyCycle();
  EXPECT_GT(cycle.rms_error, 0.0);
  EXPECT_LT(dlg_->GetScopeLogger()->GetPointsFilled(), dlg_->GetScopeLogger()->GetPointsNo());
}

// A logger run draws the points the drive has logged while it runs, and the status counts
// them, a repeating run after its instruction to stop (the plot stayed empty until the
// upload, a repeating run's status counted nothing).
TEST_F(SpeedTuning, ALoggerRunDrawsAndCountsThePointsLoggedWhileItRuns) {
  const struct {
    bool repeating;
    const char* status;
  } cases[] = {
      {false, "Running test: [0-9]+ of 2000 points logged \\([0-9]+ %\\)"},
      {true, "Test running\\. Press \"Stop\" to end the test: [0-9]+ of 2000 points logged "
             "\\([0-9]+ %\\)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    dlg_.reset();
    Set("MultiCycleS", c.repeating ? 1 : 0);
    std::vector<std::string> counts;
    std::vector<int> drawn;
    Run({Start(), [&](CTestSpeedTuning& d) {
           for (int k = 0; k < 1000 && d.m_bTestRunning && d.m_nPhase < kPhaseUpload; ++k) {
             const std::string status = d.GetControlState(kIdcTestStatus).text;
             if (status.find("logged") != std::string::npos &&
                 (counts.empty() || counts.back() != status)) {
               counts.push_back(status);
               drawn.push_back(d.GetLoggerGraph().GetDrawnPointCount());
             }
             // Four seconds of a repeating run: three cycles and more.
             if (c.repeating && k == 200) ASSERT_TRUE(d.UserClick(kIdcTestStartStop));
             ui_.Advance(20.0);
           }
         },
         UntilRunEnds()});
    ASSERT_GT(counts.size(), 10u);
    for (const std::string& text : counts) EXPECT_THAT(text, ::testing::MatchesRegex(c.status));
    std::vector<int> logged;
    for (const std::string& text : counts) logged.push_back(std::stoi(text.substr(text.rfind(": ") + 2)));
    EXPECT_TRUE(std::is_sorted(logged.begin(), logged.end()));
    // What was counted was drawn.
    EXPECT_EQ(drawn, logged);
    // The 1.2 s profile is logged every other sample of the slow loop: 1200 points.
    EXPECT_GT(logged.back(), 1100);
    EXPECT_EQ(dlg_->GetLoggerGraph().GetDrawnPointCount(),
              static_cast<int>(dlg_->GetDataLogger().GetPointsUploaded()));
  }
}

// What the on-line plot showed during a run, looked at every 20 ms: the longest stretch of
// drawn points and the first time of each sweep.
struct ScopeSeen {
  double longest_ms = 0.0;
  std::vector<double> sweep_starts_ms;
};

// One look: the points with values come first, in time order and one stream period apart (a
// straight line over time that nobody recorded would be a longer step); the slots after them,
// which still held an earlier sweep, are a gap.
void LookAtOnlinePlot(CTuningRunDlg& d, ScopeSeen& seen) {
  const CGraphDocument* doc = d.GetOnlineGraph().GetDocument();
  std::vector<double> times;
  bool gap = false;
  for (int i = 0; doc && i < doc->GetPointCount(); ++i) {
    const double t = doc->GetValue(0, i);
    if (!std::isfinite(t)) {
      gap = true;
    } else if (gap) {
      ADD_FAILURE() << "a point drawn after the gap, at " << t << " ms";
      return;
    } else {
      times.push_back(t);
    }
  }
  if (times.size() < 2) return;
  std::vector<double> steps(times.size());
  std::adjacent_difference(times.begin(), times.end(), steps.begin());
  const auto [shortest, longest] = std::minmax_element(steps.begin() + 1, steps.end());
  EXPECT_GT(*shortest, 0.0) << "drawn back in time";
  EXPECT_LT(*longest, 1.5 * *shortest) << "a line over time that was not recorded";
  seen.longest_ms = std::max(seen.longest_ms, times.back() - times.front());
  if (seen.sweep_starts_ms.empty() || seen.sweep_starts_ms.back() != times.front())
    seen.sweep_starts_ms.push_back(times.front());
}

template <class D>
struct OnlineNames;
template <>
struct OnlineNames<CTestSpeedTuning> {
  static constexpr const char* online = "OnlinePlotS";
  static constexpr const char* multi = "MultiCycleS";
  static constexpr const ProfileNames& profile = kSpeedProfileNames;
  // A cycle of 1.005 s asks for a point every 2.01 ms, which the drive streams every 2.5 ms.
  static constexpr std::array<double, 4> coarse_stream = {0.1, 0.5, 0.1, 0.305};
};
template <>
struct OnlineNames<CTestPositionTuning> {
  static constexpr const char* online = "OnlinePlotP";
  static constexpr const char* multi = "MultiCycleP";
  static constexpr const ProfileNames& profile = kPositionProfileNames;
  static constexpr std::array<double, 4> coarse_stream = {};
};

template <class D>
class OnlineScope : public testing_support::TuningRunHarness<D> {
 protected:
  using Names = OnlineNames<D>;
  // The profile's times: first ramp, hold, second ramp, closing hold.
  void SetTimes(const std::array<double, 4>& t) {
    const ProfileNames& n = Names::profile;
    this->Set(n.first_ramp, t[0]), this->Set(n.hold, t[1]);
    this->Set(n.second_ramp, t[2]), this->Set(n.end, t[3]);
  }
  double CycleMs() {
    const ProfileNames& n = Names::profile;
    double s = 0.0;
    for (const char* time : {n.first_ramp, n.hold, n.second_ramp, n.end}) s += this->Get(time);
    return 1000.0 * s;
  }
  // A run on line, watched until it ends or, repeating, until four sweeps were seen.
  ScopeSeen Watch(bool multi) {
    this->Set(Names::online, 1);
    this->Set(Names::multi, multi ? 1 : 0);
    ScopeSeen seen;
    std::vector<typename OnlineScope::RunStep> steps = {
        this->Start(), [this, &seen](D& d) {
          for (int k = 0; k < 1000 && d.m_bTestRunning && seen.sweep_starts_ms.size() < 4; ++k) {
            this->ui_.Advance(20.0);
            LookAtOnlinePlot(d, seen);
          }
        }};
    if (multi) steps.push_back(this->Click(kIdcTestStartStop));
    steps.push_back(this->UntilRunEnds());
    steps.push_back([&seen](D& d) { LookAtOnlinePlot(d, seen); });
    this->Run(steps);
    return seen;
  }
};
using OnlineScopeKinds = ::testing::Types<CTestSpeedTuning, CTestPositionTuning>;
TYPED_TEST_SUITE(OnlineScope, OnlineScopeKinds);

// Every sweep shows the whole cycle, holds included, and each repeated cycle has its sweep.
// Where the drive streams more coarsely than asked, a sweep that ran until its ring was full
// swallowed the next trigger and showed every other cycle.
TYPED_TEST(OnlineScope, EverySweepShowsTheWholeCycleAndNothingThatWasNotRecorded) {
  using Kind = OnlineNames<TypeParam>;
  struct Case {
    bool multi;
    std::array<double, 4> times;  // none: the bundled profile
    double turned_rad;            // a hand turned the shaft before the run
  };
  // Runs also start where the one before left the shaft: after a stopped repeating one, and
  // after a hand turned it several turns away from zero, where a position run's reference
  // moves from, not from zero.
  std::vector<Case> cases = {{false, {}, 0.0}, {true, {}, 0.0}, {false, {}, 0.0},
                             {true, {}, -40.0}, {false, {}, 75.0}};
  if (Kind::coarse_stream[3] > 0.0) {
    cases.push_back({false, Kind::coarse_stream, 0.0});
    cases.push_back({true, Kind::coarse_stream, 0.0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.multi ? "repeating, " : "single, ") << c.times[3]
                                      << ", turned " << c.turned_rad);
    this->dlg_.reset();
    if (c.times[3] > 0.0) this->SetTimes(c.times);
    if (c.turned_rad != 0.0) {
      this->Fault("turn", c.turned_rad);
      this->drive_->RunFor(1.0);
    }
    const ScopeSeen seen = this->Watch(c.multi);
    EXPECT_EQ(this->dlg_->m_nTestResult, 1) << this->dlg_->m_strError;
    const double cycle_ms = this->CycleMs();
    EXPECT_GT(seen.longest_ms, 0.95 * cycle_ms);
    const auto& starts = seen.sweep_starts_ms;
    if (!c.multi) {
      EXPECT_EQ(starts.size(), 1u);
      continue;
    }
    ASSERT_EQ(starts.size(), 4u);
    // The first sweep's part before its trigger is what the run had shown so far.
    for (std::size_t i = 2; i < starts.size(); ++i)
      EXPECT_NEAR(starts[i] - starts[i - 1], cycle_ms, 0.02 * cycle_ms);
    EXPECT_GE(this->dlg_->GetFigures().cycles.size(), 3u);
  }
}

// On line with the scope: the run streams, lists each cycle and, with half the gains typed in
// after the second, shows them in the cycles that follow.
TEST_F(SpeedTuning, AGainChangedDuringARepeatingRunShowsInTheFiguresOfTheNextCycles) {
  Set("OnlinePlotS", 1);
  Set("MultiCycleS", 1);
  Run({Start(), UntilCycles(2), Type(kKpEdit, "1550"), Type(kKiEdit, "39"), UntilCycles(4),
       Click(kIdcTestStartStop), UntilRunEnds()});
  ASSERT_EQ(dlg_->m_nTestResult, 1) << dlg_->m_strError;
  EXPECT_GT(dlg_->GetOnlineGraph().GetDrawnPointCount(), 0);
  EXPECT_EQ(dlg_->GetScopeLogger()->GetFramesLost(), 0);
  const auto& cycles = dlg_->GetFigures().cycles;
  ASSERT_GE(cycles.size(), 4u);
  // Half the gains from cycle 3 on: those cycles track worse and overshoot more.
  EXPECT_GT(cycles[3].rms_error, 1.2 * cycles[1].rms_error);
  EXPECT_GT(cycles[3].overshoot_percent, cycles[1].overshoot_percent + 3.0);
}

}  // namespace
