#include "drivetests/commissioning_step_run.h"

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "derive/pipelines.h"
#include "design/drive_model.h"
#include "drivetests/current_test_dlg.h"
#include "drivetests/headless_test_run.h"
#include "drivetests/inertia_test_dlg.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "names/drive_names.h"
#include "names/program_names.h"
#include "units/scales.h"

namespace dcservo::commissioning {

namespace {

// Between steps the engineer waits until the motor that a test spun has coasted to rest: its
// speed reads zero (below one count) at every look over a whole window. One zero reading
// proves nothing: a shaft turning slower than one count per sample reads zero most of the
// time. At most ten minutes.
constexpr double kRestPoll_ms = 20.0;
constexpr double kRestWindow_ms = 500.0;
constexpr double kRestLimit_ms = 600000.0;

// A test that leaves the shaft turning (the inertia test at 80 % of TestMaxSpeed, the
// frequency response's steady turn) is braked as an engineer brakes it, rather than left to the
// motor's friction, which takes half a minute to stop it. The drive's speed program takes the
// speed the shaft turns at as its reference and ramps it to zero at half the deceleration that
// the inertia test's current gives the setup's inertia, then holds zero until the position has
// stood still for a while, and is stopped. Its current is limited to the inertia test's, which
// turned the shaft up without harm; a reference stepped to zero instead leaves the loop at its
// limit, where a heavy load trips the control error and the back EMF at speed drives the
// current past its protection. Held longer than the ramp and this, the brake ends and the wait
// goes on as before; a ramp longer than the longest is no brake worth the name (a setup's
// inertia far from the shaft's), and the shaft coasts as before.
constexpr const char* kBrakeProgram = drive_program::Speed_Controller_Tuning_Test;
constexpr double kBrakeShareOfTestDeceleration = 0.5;
constexpr double kBrakeHold_s = 10.0;
constexpr double kBrakeLongestRamp_s = 30.0;
constexpr double kBrakeStill_ms = 200.0;
// The loop's integral brings the shaft back by what it overran while it braked; its speed
// reads zero long before that creep ends, the position does not.
constexpr double kBrakeStillCounts = 1.0;
constexpr double kBrakeStopLimit_ms = 1000.0;

// The speed program's reference (a0..a5 samples of the increments b0..b5, in its counts per
// sample with 16 fraction bits): one sample that steps to the shaft's speed, a ramp of whole
// equal steps from there to exactly zero, and a hold at zero.
struct BrakeProfile {
  double step = 0.0;  // the ramp's increment; the first sample steps up by ramp_samples of it
  double ramp_samples = 0.0;
  double hold_samples = 0.0;
  double period_s = 0.0;  // of a sample
  double RampMs() const { return ramp_samples * period_s * 1000.0; }
};

std::optional<BrakeProfile> BrakeProfileFor(CZel_Setup& setup, double speed_counts) {
  const std::optional<DriveModel> model = ReportedDriveModelOf(setup);
  const CZel_Parameter* current = setup.FindOptionalParameter(param::TestCurrent);
  if (!model || !current) return std::nullopt;
  // The program counts the load encoder's speed where a tacho closes the loop beside it.
  const double per_program_count =
      model->sensor == SpeedSensor::TachoAndLoadEncoder ? model->tacho_per_encoder : 1.0;
  const double deceleration_rad_s2 =
      kBrakeShareOfTestDeceleration * model->K * current->GetValueInBaseUnit() / model->J;
  const double per_sample = deceleration_rad_s2 * model->SlowPeriod() *
                            model->speed_counts_per_rad_s / per_program_count;
  const double speed = speed_counts / per_program_count;
  if (!(per_sample > 0.0) || !std::isfinite(per_sample) || !std::isfinite(speed)) return std::nullopt;
  BrakeProfile profile;
  profile.ramp_samples = std::max(1.0, std::ceil(std::abs(speed) / per_sample));
  profile.step = std::round(speed / profile.ramp_samples * 65536.0) / 65536.0;
  profile.hold_samples = std::ceil(kBrakeHold_s / model->SlowPeriod());
  profile.period_s = model->SlowPeriod();
  if (profile.RampMs() > kBrakeLongestRamp_s * 1000.0) return std::nullopt;
  return profile;
}

void SetBrakeInput(std::vector<ZelProgramVariable>& vars, std::string_view name, double value) {
  for (ZelProgramVariable& v : vars) {
    if (v.name == name) v.value = value;
  }
}

void SetBrakeProfile(std::vector<ZelProgramVariable>& vars, const BrakeProfile& profile) {
  const double samples[6] = {1.0, profile.ramp_samples, profile.hold_samples, 0.0, 0.0, 0.0};
  const double steps[6] = {profile.step * profile.ramp_samples, -profile.step, 0.0, 0.0, 0.0, 0.0};
  for (int i = 0; i < 6; ++i) {
    SetBrakeInput(vars, "a" + std::to_string(i), samples[i]);
    SetBrakeInput(vars, "b" + std::to_string(i), steps[i]);
  }
}

// Brakes the turning shaft with the drive's speed program. A drive without the program, a
// setup without a model of the motor, or a brake that the drive stopped (a protection, which
// the next run acknowledges) leave the shaft to coast as before: the caller waits for it.
void BrakeTurningShaft(CZel_Setup& setup, ZelHeadlessBackend& ui) {
  CZel_DriveLink* link = CZel_Comm::GetLink();
  std::vector<ZelProgramVariable> vars;
  double speed_counts = 0.0;
  if (!link || !link->DescribeProgram(kBrakeProgram, vars) ||
      !link->ReadVariable(var::Motor_Speed, speed_counts))
    return;
  const std::optional<BrakeProfile> profile = BrakeProfileFor(setup, speed_counts);
  if (!profile) return;
  SetBrakeProfile(vars, *profile);
  SetBrakeInput(vars, program::IlimPS_Test, DriveInternalValue(setup, param::TestCurrent));
  SetBrakeInput(vars, program::Imax_Prot_Test,
                  DriveInternalValue(setup, param::TestProtectionCurrent));
  SetBrakeInput(vars, program::MultiC, 0.0);
  if (link->StartProgram(kBrakeProgram, vars) == 0) return;
  const double ramp_end = ui.NowMs() + profile->RampMs();
  const double hold_end = ramp_end + kBrakeHold_s * 1000.0;
  double still_since = ui.NowMs(), still_at = 0.0, position = 0.0;
  while (link->ProgramRunning() && !link->Lost() && ui.NowMs() < hold_end) {
    ui.Advance(kRestPoll_ms);
    CZel_Comm::Synchronize();
    if (!link->ReadVariable(var::Motor_Position, position)) break;
    if (std::abs(position - still_at) > kBrakeStillCounts || ui.NowMs() < ramp_end) {
      still_since = ui.NowMs();
      still_at = position;
    }
    if (ui.NowMs() - still_since >= kBrakeStill_ms) break;
  }
  if (!link->ProgramRunning()) return;
  link->StopProgram();
  const double stop_end = ui.NowMs() + kBrakeStopLimit_ms;
  while (link->ProgramRunning() && !link->Lost() && ui.NowMs() < stop_end) {
    ui.Advance(kRestPoll_ms);
    CZel_Comm::Synchronize();
  }
}

// A tuning step runs as `dcservo test` does without --online: one cycle through the data
// logger, whatever view the user last chose in the test (a scope view measures sweeps, and
// the friction and ripple come from the logger's upload). The user's choice is put back after.
class LoggedSingleCycle {
 public:
  explicit LoggedSingleCycle(CZel_Setup& setup) {
    // A drive without the choices runs as it is: no report.
    for (const char* name :
         {param::OnlinePlotS, param::MultiCycleS, param::OnlinePlotP, param::MultiCycleP}) {
      if (CZel_Parameter* p = setup.FindOptionalParameter(name); p && p->GetValueInBaseUnit() != 0.0) {
        kept_.push_back({p, p->GetValueInBaseUnit()});
        p->SetValueInBaseUnit(0.0);
      }
    }
  }
  ~LoggedSingleCycle() {
    for (const auto& [p, value] : kept_) p->SetValueInBaseUnit(value);
  }
  LoggedSingleCycle(const LoggedSingleCycle&) = delete;
  LoggedSingleCycle& operator=(const LoggedSingleCycle&) = delete;

 private:
  std::vector<std::pair<CZel_Parameter*, double>> kept_;
};

}  // namespace

// One step through its dialog: the test's run, then OK when it succeeded and met its
// targets (what the test accepts is stored), else Close.
StepOutcome RunStep(const CommissioningStep& step, CZel_Setup& setup, ZelHeadlessBackend& ui) {
  StepOutcome outcome;
  outcome.step = &step;
  const LoggedSingleCycle logged(setup);
  std::unique_ptr<CZel_Dialog> dialog = ZelCreateDialog(step.dialog, setup);
  auto* test = dynamic_cast<CMyTestDlg*>(dialog.get());
  if (!test) {
    outcome.failure = std::string("no test \"") + step.dialog + "\" in this build";
    return outcome;
  }
  // Commissioning asks for the shaft as its steps need it.
  if (auto* current = dynamic_cast<CTestCurrent*>(test)) current->ShaftBlockedByOpener();
  std::string refusal;
  ui.Then([&](CZel_Dialog&) { refusal = RunTestHeadless(*test, ui, step.tune, step.limit_s); });
  ui.Then([&](CZel_Dialog&) {
    test->DescribeRun(outcome.run);
    if (const auto* tuning = dynamic_cast<const CTuningTestDlg*>(test)) {
      const TuningRunFigures& f = tuning->GetFigures();
      if (!f.cycles.empty())
        outcome.tracking = TrackingFigures{f.unit, f.quantum, f.cycles.front(), f.predicted};
      outcome.friction = tuning->GetFriction();
      outcome.current_spectrum = f.current_spectrum;
      outcome.resonance = f.resonance;
    }
    if (const auto* inertia = dynamic_cast<const CTotalInertiaTest*>(test))
      outcome.inertia_run = inertia->GetRun();
    outcome.targets = CheckTargets(step, setup, outcome.run);
    if (!refusal.empty()) {
      outcome.failure = refusal;
    } else if (test->m_nTestResult != 1) {
      outcome.failure = test->m_strError.empty() ? "the test did not end" : test->m_strError;
    } else {
      for (const TargetCheck& t : outcome.targets) {
        if (!t.met) outcome.failure += (outcome.failure.empty() ? "" : "; ") + t.figure + " " +
                                       t.measured + ", target " + t.target;
      }
    }
    outcome.succeeded = outcome.failure.empty();
    if (!outcome.succeeded) {
      outcome.diagnosis = DiagnoseRun(*test, outcome.failure);
      // A run that a protection ended is not uploaded by its test; the record of the failure
      // shows it up to the end all the same.
      test->UploadWhatWasLogged();
    }
    if (const CGraphWindow* graph = test->GetRunGraph()) {
      // One sample is a value, which the step's results give; as a plot it is one dot on an
      // axis made up around it.
      if (graph->GetDrawnPointCount() >= 2) {
        outcome.plot = ZelGraphScene(*graph);
        outcome.svg = ZelPlotSceneSvgText(outcome.plot);
      }
      outcome.csv = ZelGraphCsvText(*graph);
    }
    if (step.asks_to_keep) {
      // The answer goes first in line: closing asks at once. A run that failed asks nothing,
      // and an answer left in line would meet the next step's first question.
      if (test->m_nTestResult == 1) ui.ThenAnswer(outcome.succeeded ? kIdYes : kIdNo);
      test->UserClose();
    } else if (outcome.succeeded) {
      test->UserClick(kIdOk);
    } else {
      test->UserClose();
    }
  });
  test->DoModal();
  return outcome;
}

// Brings the motor to rest (a turning shaft braked) and waits until it is; the reason when it
// is not (or cannot be told), else "".
std::string WaitForRest(CZel_Setup& setup, ZelHeadlessBackend& ui) {
  CZel_Variable* speed = nullptr;
  {
    // A drive without the speed reading is not waited for: no report.
    speed = setup.FindVariable(var::Motor_Speed, 0);
  }
  if (!speed) return "";
  const double end = ui.NowMs() + kRestLimit_ms;
  double still_since = ui.NowMs();
  bool braked = false;
  for (;;) {
    if (!speed->ReadFromChip())
      return "the motor's speed could not be read before the step: " +
             CZel_Comm::GetLastErrorText();
    if (speed->GetValueInBaseUnit() != 0.0) {
      still_since = ui.NowMs();
      if (!braked) {
        braked = true;
        BrakeTurningShaft(setup, ui);
        // The rest is proved after the brake, not across it.
        still_since = ui.NowMs();
        continue;
      }
    }
    if (ui.NowMs() - still_since >= kRestWindow_ms) return "";
    if (ui.NowMs() >= end) break;
    ui.Advance(kRestPoll_ms);
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "the motor did not come to rest before the step: after %.0f s its speed still "
                "read above zero within every %.1f s",
                kRestLimit_ms / 1000.0, kRestWindow_ms / 1000.0);
  return text;
}

// The drive runs each test with the setup as it is now: what earlier steps accepted and what
// the derivation made of it.
void DownloadSetup(const CZel_Setup& setup) { CZel_Comm::WriteParameters(setup); }

// After motor data or gains changed by hand: the scaled layer derived from the chip layer,
// the gains the tuner makes of it written back to the chip layer, and all of it to the drive.
void RetuneAndDownload(CZel_Setup& setup) {
  SynchroniseSetup(setup);
  ComputeChipParameters(setup);
  DownloadSetup(setup);
}

StepOutcome StepNotRun(const CommissioningStep& step, std::string why) {
  StepOutcome outcome;
  outcome.step = &step;
  outcome.failure = std::move(why);
  // Why a step could not start (a lost link) is what to check, not the step's own advice.
  outcome.diagnosis = DiagnoseFailure(0, outcome.failure);
  return outcome;
}

}  // namespace dcservo::commissioning
