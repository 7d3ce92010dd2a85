#include "drivetests/commissioning.h"

#include <cmath>
#include <limits>
#include <cstdio>
#include <memory>

#include "derive/pipelines.h"
#include "dialogs/dialog_names.h"
#include "drivetests/headless_test_run.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "host/zel_setup.h"
#include "host/zel_setup_file.h"
#include "host/zel_units.h"

namespace dcservo {

namespace {

namespace names = dialog_names;

// Between steps the engineer waits until the motor that a test spun has coasted to rest,
// looking at its speed every half second, for at most ten minutes.
constexpr double kRestPoll_ms = 500.0;
constexpr double kRestLimit_ms = 600000.0;

constexpr CommissioningStep kSteps[] = {
    {"vdc", names::kVdcTest, "Supply voltage: detect", kLoopsAny, false, false, true, 60.0,
     "the power supply's voltage and its connection to the drive"},
    {"current", names::kCurrentTest, "Current loop: tune and test", kLoopsAny, true, true, false,
     60.0, "the motor's resistance and inductance, its wiring, and that the shaft is blocked"},
    {"inertia", names::kInertiaTest, "Total inertia: identify", kLoopSpeed, false, false, true,
     60.0, "that the shaft turns freely, the load's coupling and the motor's torque constant"},
    {"speed", names::kSpeedTest, "Speed loop: tune and test", kLoopSpeed, false, true, false,
     600.0, "the total inertia, the speed sensor and the speed loop's pass band"},
    {"position", names::kPositionTest, "Position loop: tune and test", kLoopPosition, false, true,
     false, 600.0, "the speed loop, the position sensor and the position loop's pass band"},
};

// What a step's measured response must meet. A step response: the rise time within a
// fraction of the predicted one and the overshoot under a limit. A tracking run: the RMS
// tracking error within a fraction of the predicted one (or of the reference when the
// prediction is smaller than the measurement can tell) and the overshoot under a limit.
struct StepTarget {
  const char* word;
  double rise_tolerance;  // |measured / predicted - 1|; 0: no step response
  double max_overshoot_pct;
  double tracking_tolerance;  // measured RMS <= predicted RMS x (1 + this); 0: no tracking
  bool supply_in_range;       // the detected supply within the drive's motor supply range
};
constexpr StepTarget kTargets[] = {
    {"vdc", 0.0, 0.0, 0.0, true},
    {"current", 0.30, 20.0, 0.0, false},
    {"speed", 0.0, 20.0, 0.50, false},
    {"position", 0.0, 20.0, 0.50, false},
};

const StepTarget* TargetOf(const CommissioningStep& step) {
  for (const StepTarget& t : kTargets) {
    if (std::string_view(t.word) == step.word) return &t;
  }
  return nullptr;
}

std::string Format(const char* format, double a, double b = 0.0) {
  char buf[96];
  std::snprintf(buf, sizeof buf, format, a, b);
  return buf;
}

// The values a step may change, to put back when it fails.
class SetupSnapshot {
 public:
  explicit SetupSnapshot(const CZel_Setup& setup) : options_(setup.GetOptions()) {
    const CZel_Parameters& ps = setup.GetParameters();
    for (int i = 0; i < ps.GetParametersCount(); ++i) values_.push_back(ps[i]->GetValueInInternalUnit());
  }
  void Restore(CZel_Setup& setup) const {
    const CZel_Parameters& ps = setup.GetParameters();
    for (int i = 0; i < ps.GetParametersCount(); ++i) {
      if (ps[i]->GetValueInInternalUnit() != values_[i]) ps[i]->SetValueInInternalUnit(values_[i]);
    }
    for (const auto& [name, text] : setup.GetOptions()) {
      if (!Find(name)) setup.ClearOption(name);
    }
    for (const auto& [name, text] : options_) setup.SetOption(name, text);
  }
  // The parameters whose value differs in `setup`, in the units the user sees.
  std::vector<ParameterChange> ChangesIn(const CZel_Setup& setup) const {
    std::vector<ParameterChange> changes;
    const CZel_Parameters& ps = setup.GetParameters();
    for (int i = 0; i < ps.GetParametersCount(); ++i) {
      const CZel_Parameter& p = *ps[i];
      if (p.GetValueInInternalUnit() == values_[i]) continue;
      const CZel_Unit& unit = p.GetSelectedUnit();
      // The value before, in base units through today's scale: a scale that a step changed
      // (a new supply voltage) would otherwise show a changed value for an unchanged one.
      const double before_base =
          (values_[i] + p.ScaleOffset()) * p.ScaleFactor();
      const double after_base = p.GetValueInBaseUnit();
      // Rounding in the derivation is no change a user made.
      if (std::abs(after_base - before_base) <= 1e-9 * std::abs(before_base)) continue;
      changes.push_back({p.GetName(), unit.GetName(), unit.FromBase(before_base),
                         unit.FromBase(after_base)});
    }
    return changes;
  }

 private:
  const std::string* Find(const std::string& name) const {
    for (const auto& [n, text] : options_) {
      if (n == name) return &text;
    }
    return nullptr;
  }
  std::vector<std::pair<std::string, std::string>> options_;
  std::vector<double> values_;
};

// One step through its dialog: the test's run, then OK when it succeeded and met its
// targets (what the test accepts is stored), else Close.
StepOutcome RunStep(const CommissioningStep& step, CZel_Setup& setup, ZelHeadlessBackend& ui) {
  StepOutcome outcome;
  outcome.step = &step;
  std::unique_ptr<CZel_Dialog> dialog = ZelCreateDialog(step.dialog, setup);
  auto* test = dynamic_cast<CMyTestDlg*>(dialog.get());
  if (!test) {
    outcome.failure = std::string("no test \"") + step.dialog + "\" in this build";
    return outcome;
  }
  std::string refusal;
  ui.Then([&](CZel_Dialog&) { refusal = RunTestHeadless(*test, ui, step.tune, step.limit_s); });
  ui.Then([&](CZel_Dialog&) {
    test->DescribeRun(outcome.run);
    if (const CGraphWindow* graph = test->GetRunGraph()) {
      outcome.svg = ZelGraphSvgText(*graph);
      outcome.csv = ZelGraphCsvText(*graph);
    }
    if (const auto* tuning = dynamic_cast<const CTuningTestDlg*>(test)) {
      const TuningRunFigures& f = tuning->GetFigures();
      if (!f.cycles.empty())
        outcome.tracking = TrackingFigures{f.unit, f.quantum, f.cycles.front(), f.predicted};
    }
    outcome.targets = CheckTargets(step, setup, outcome.run, outcome.tracking);
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
    if (step.asks_to_keep) {
      // The answer goes first in line: closing asks at once.
      ui.ThenAnswer(outcome.succeeded ? kIdYes : kIdNo);
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

}  // namespace

std::span<const CommissioningStep> CommissioningSteps() { return kSteps; }

std::vector<const CommissioningStep*> StepsFor(const CZel_Setup& setup) {
  unsigned closed = 0;
  if (setup.GetIntOption("IsClosedSpeed")) closed |= kLoopSpeed;
  if (setup.GetIntOption("IsClosedPosition")) closed |= kLoopPosition;
  std::vector<const CommissioningStep*> steps;
  for (const CommissioningStep& s : kSteps) {
    if ((s.loops & closed) == s.loops) steps.push_back(&s);
  }
  return steps;
}

std::vector<TargetCheck> CheckTargets(const CommissioningStep& step, const CZel_Setup& setup,
                                      const TestRunReport& run,
                                      const std::optional<TrackingFigures>& tracking) {
  const StepTarget* target = TargetOf(step);
  if (!target) return {};
  std::vector<TargetCheck> checks;
  if (target->supply_in_range) {
    const double lo = setup.GetParameterValueInBaseUnit("VMOT_min");
    const double hi = setup.GetParameterValueInBaseUnit("VMOT_max");
    double vdc = std::numeric_limits<double>::quiet_NaN();
    for (const auto& r : run.results) {
      if (r.name == "Vdc") vdc = r.value;
    }
    checks.push_back({"supply voltage", Format("from %.4g V to %.4g V", lo, hi),
                      Format("%.4g V", vdc), vdc >= lo && vdc <= hi});
  }
  if (target->rise_tolerance > 0.0) {
    if (!run.measured || !run.predicted)
      return {{"step response", "measured and predicted", "not measured", false}};
    const StepFigures& m = *run.measured;
    const StepFigures& p = *run.predicted;
    const bool rise_ok = p.rise_time_s > 0.0 &&
                         std::abs(m.rise_time_s / p.rise_time_s - 1.0) <= target->rise_tolerance;
    checks.push_back({"rise time",
                      Format("within %.0f %% of predicted %.4g ms", target->rise_tolerance * 100,
                             p.rise_time_s * 1e3),
                      Format("%.4g ms", m.rise_time_s * 1e3), rise_ok});
    checks.push_back({"overshoot", Format("under %.0f %%", target->max_overshoot_pct),
                      Format("%.3g %%", m.overshoot_pct),
                      m.overshoot_pct < target->max_overshoot_pct});
  }
  if (target->tracking_tolerance > 0.0) {
    if (!tracking || !tracking->predicted)
      return {{"tracking", "measured and predicted", "not measured", false}};
    const CycleFigures& m = tracking->measured;
    const CycleFigures& p = *tracking->predicted;
    // The measurement's steps add their own error, up to half a step, that no loop removes.
    const double limit = p.rms_error * (1.0 + target->tracking_tolerance) + tracking->quantum / 2;
    const std::string unit = " " + tracking->unit;
    checks.push_back({"tracking error (RMS)",
                      Format("at most %.4g", limit) + unit +
                          Format(" (predicted %.4g", p.rms_error) + unit +
                          Format(" + %.0f %%", target->tracking_tolerance * 100) +
                          Format(" + half a measurement step of %.4g", tracking->quantum) + unit + ")",
                      Format("%.4g", m.rms_error) + unit, m.rms_error <= limit});
    checks.push_back({"overshoot", Format("under %.0f %%", target->max_overshoot_pct),
                      Format("%.3g %%", m.overshoot_percent),
                      m.overshoot_percent < target->max_overshoot_pct});
  }
  return checks;
}

std::vector<std::string> TargetDescriptions() {
  std::vector<std::string> lines;
  for (const StepTarget& t : kTargets) {
    std::string line = std::string(t.word) + ": ";
    if (t.supply_in_range) {
      lines.push_back(line + "the supply within the drive's motor supply range");
      continue;
    }
    if (t.rise_tolerance > 0.0)
      line += Format("rise time within %.0f %% of predicted, ", t.rise_tolerance * 100);
    if (t.tracking_tolerance > 0.0)
      line += Format("RMS tracking error at most %.0f %% above predicted plus half a "
                     "measurement step, ",
                     t.tracking_tolerance * 100);
    lines.push_back(line + Format("overshoot under %.0f %%", t.max_overshoot_pct));
  }
  return lines;
}

namespace {

// The notice the step needs, or null when the shaft is already as it needs it.
const char* ShaftNotice(const CommissioningStep& step, std::optional<bool>& blocked) {
  if (blocked == step.blocked_shaft) return nullptr;
  blocked = step.blocked_shaft;
  return step.blocked_shaft ? names::kBlockedShaftNotice : names::kFreeShaftNotice;
}

// Until the drive reads the motor's speed as zero (below one step of its measurement).
void WaitForRest(const CZel_Setup& setup, ZelHeadlessBackend& ui) {
  CZel_Variable* speed = nullptr;
  {
    ZelQuietErrors quiet;  // a drive without the speed reading is not waited for
    speed = setup.FindVariable("Motor_Speed", 0);
  }
  const double end = ui.NowMs() + kRestLimit_ms;
  while (speed && speed->ReadFromChip() && speed->GetValueInBaseUnit() != 0.0 &&
         ui.NowMs() < end)
    ui.Advance(kRestPoll_ms);
}

// The drive runs each test with the setup as it is now: what earlier steps accepted and what
// the derivation made of it.
void DownloadSetup(const CZel_Setup& setup) {
  const CZel_Parameters& ps = setup.GetParameters();
  for (int i = 0; i < ps.GetParametersCount(); ++i) ps[i]->WriteToChip();
}

bool Confirm(const CommissioningHooks& hooks, const char* notice) {
  if (hooks.confirm) return hooks.confirm(notice);
  return ZelMessageBox(notice, "Commissioning", kMbOkCancel | kMbIconInformation) == kIdOk;
}

}  // namespace

CommissioningResult RunCommissioning(CZel_Setup& setup, ZelHeadlessBackend& ui,
                                     const CommissioningHooks& hooks) {
  CommissioningResult result;
  result.planned = StepsFor(setup);
  const SetupSnapshot initial(setup);
  result.succeeded = true;
  std::optional<bool> shaft_blocked;  // not known before the first notice
  for (std::size_t i = 0; i < result.planned.size(); ++i) {
    const CommissioningStep& step = *result.planned[i];
    if (hooks.progress) hooks.progress(i, result.planned.size(), step);
    const SetupSnapshot before(setup);
    if (i > 0) WaitForRest(setup, ui);
    // What the drive setup does before it opens a test.
    ComputeChipParameters(setup);
    ComputeScaledParameters(setup);
    ComputeChipParameters(setup);
    DownloadSetup(setup);
    const char* notice = ShaftNotice(step, shaft_blocked);
    if (notice && !Confirm(hooks, notice)) {
      StepOutcome cancelled;
      cancelled.step = &step;
      cancelled.failure = "cancelled by the user";
      result.steps.push_back(std::move(cancelled));
    } else {
      if (hooks.prepare) hooks.prepare(step);
      result.steps.push_back(RunStep(step, setup, ui));
    }
    if (!result.steps.back().succeeded) {
      before.Restore(setup);
      result.succeeded = false;
      break;
    }
  }
  result.changes = initial.ChangesIn(setup);
  result.setup_text = SetupToText(setup);
  return result;
}

}  // namespace dcservo
