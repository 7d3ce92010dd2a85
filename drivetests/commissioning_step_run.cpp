#include "drivetests/commissioning_step_run.h"

#include <cstdio>
#include <memory>

#include "derive/pipelines.h"
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

namespace dcservo::commissioning {

namespace {

// Between steps the engineer waits until the motor that a test spun has coasted to rest: its
// speed reads zero (below one count) at every look over a whole window. One zero reading
// proves nothing: a shaft turning slower than one count per sample reads zero most of the
// time. At most ten minutes.
constexpr double kRestPoll_ms = 20.0;
constexpr double kRestWindow_ms = 500.0;
constexpr double kRestLimit_ms = 600000.0;

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
        outcome.svg = ZelGraphSvgText(*graph);
        outcome.plot = ZelGraphScene(*graph);
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

// Waits until the motor is at rest; the reason when it is not (or cannot be told), else "".
std::string WaitForRest(const CZel_Setup& setup, ZelHeadlessBackend& ui) {
  CZel_Variable* speed = nullptr;
  {
    // A drive without the speed reading is not waited for: no report.
    speed = setup.FindVariable(var::Motor_Speed, 0);
  }
  if (!speed) return "";
  const double end = ui.NowMs() + kRestLimit_ms;
  double still_since = ui.NowMs();
  for (;;) {
    if (!speed->ReadFromChip())
      return "the motor's speed could not be read before the step: " +
             CZel_Comm::GetLastErrorText();
    if (speed->GetValueInBaseUnit() != 0.0) still_since = ui.NowMs();
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
void DownloadSetup(const CZel_Setup& setup) {
  const CZel_Parameters& ps = setup.GetParameters();
  for (int i = 0; i < ps.GetParametersCount(); ++i) ps[i]->WriteToChip();
}

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
