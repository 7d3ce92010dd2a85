#include "drivetests/commissioning.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "derive/pipelines.h"
#include "dialogs/dialog_names.h"
#include "drivetests/headless_test_run.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "host/zel_setup.h"
#include "host/zel_setup_file.h"
#include "host/zel_units.h"

namespace dcservo {

namespace {

namespace names = dialog_names;

constexpr CommissioningStep kSteps[] = {
    {"current", names::kCurrentTest, "Current loop: tune and test", kLoopsAny, true, true,
     "the motor's resistance and inductance, its wiring, and that the shaft is blocked"},
};

// What a step's measured step response must meet: the rise time within a fraction of the
// predicted one, and an overshoot below a limit (in points of %).
struct StepTarget {
  const char* word;
  double rise_tolerance;  // |measured / predicted - 1|
  double max_overshoot_pct;
};
constexpr StepTarget kTargets[] = {
    {"current", 0.30, 20.0},
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
  ui.Then([&](CZel_Dialog&) { refusal = RunTestHeadless(*test, ui, step.tune); });
  ui.Then([&](CZel_Dialog&) {
    test->DescribeRun(outcome.run);
    if (const CGraphWindow* graph = test->GetRunGraph()) {
      outcome.svg = ZelGraphSvgText(*graph);
      outcome.csv = ZelGraphCsvText(*graph);
    }
    outcome.targets = CheckTargets(step, outcome.run);
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
    if (outcome.succeeded)
      test->UserClick(kIdOk);
    else
      test->UserClose();
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

std::vector<TargetCheck> CheckTargets(const CommissioningStep& step, const TestRunReport& run) {
  const StepTarget* target = TargetOf(step);
  if (!target) return {};
  std::vector<TargetCheck> checks;
  if (!run.measured || !run.predicted) {
    checks.push_back({"step response", "measured and predicted", "not measured", false});
    return checks;
  }
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
  return checks;
}

std::vector<std::string> TargetDescriptions() {
  std::vector<std::string> lines;
  for (const StepTarget& t : kTargets) {
    lines.push_back(std::string(t.word) + ": rise time within " +
                    Format("%.0f %% of predicted, overshoot under %.0f %%", t.rise_tolerance * 100,
                           t.max_overshoot_pct));
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
    // What the drive setup does before it opens a test.
    ComputeChipParameters(setup);
    ComputeScaledParameters(setup);
    const char* notice = ShaftNotice(step, shaft_blocked);
    if (notice && !Confirm(hooks, notice)) {
      result.steps.push_back({&step, false, "cancelled by the user", {}, {}, {}, {}});
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
