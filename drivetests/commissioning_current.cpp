#include <algorithm>
#include <cmath>
#include <cstdio>

#include "drivetests/commissioning_step_run.h"
#include "drivetests/identification.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo::commissioning {

namespace {

// An identified armature this far from the setup's, and this sure, is worth a second run.
constexpr double kArmatureCorrectionWorth = 0.05;

bool MissedATarget(const StepOutcome& run) {
  return !run.targets.empty() && std::any_of(run.targets.begin(), run.targets.end(),
                                             [](const TargetCheck& t) { return !t.met; });
}

// The value that the run identified for `name`, when it is sure enough and far enough from
// the setup's to change what the tuner makes of it.
std::optional<double> ArmatureToApply(const StepOutcome& run, const CZel_Setup& setup,
                                      const char* name) {
  for (const IdentifiedValue& v : run.run.identified) {
    if (v.name != name || v.confidence < kArmatureTrusted || !(v.value > 0.0)) continue;
    const double now = ZelQuietBaseValue(setup, name);
    if (std::abs(v.value - now) > kArmatureCorrectionWorth * now) return v.value;
  }
  return std::nullopt;
}

}  // namespace

// The current step again, the motor data's R and L taken from what its first run identified
// and the loop tuned afresh from them, as an engineer does by hand when the step misses its
// rise time or overshoot on a motor whose armature is not the one the setup describes.
// Nothing when the first run stands or identified nothing to apply.
std::optional<StepOutcome> RerunCurrentStep(const CommissioningStep& step, CZel_Setup& setup,
                                            ZelHeadlessBackend& ui, const SetupSnapshot& before,
                                            const StepOutcome& first) {
  if (first.succeeded || !MissedATarget(first)) return std::nullopt;
  const std::optional<double> r = ArmatureToApply(first, setup, param::R);
  const std::optional<double> l = ArmatureToApply(first, setup, param::L);
  if (!r && !l) return std::nullopt;
  before.Restore(setup);
  const double old_r = ZelQuietBaseValue(setup, param::R),
               old_l = ZelQuietBaseValue(setup, param::L);
  if (r) setup.SetParameterValueInBaseUnit(param::R, *r);
  if (l) setup.SetParameterValueInBaseUnit(param::L, *l);
  RetuneAndDownload(setup);
  StepOutcome second = RunStep(step, setup, ui);
  char text[240];
  std::snprintf(text, sizeof text,
                " with the setup's armature, R %.4g ohm and L %.4g mH: the motor data took the "
                "identified R %.4g ohm and L %.4g mH, the current loop was tuned again and run a "
                "second time",
                old_r, old_l * 1e3, ZelQuietBaseValue(setup, param::R),
                ZelQuietBaseValue(setup, param::L) * 1e3);
  second.run.warnings.insert(second.run.warnings.begin(),
                             "the first run missed its targets (" + first.failure + ")" + text);
  return second;
}

}  // namespace dcservo::commissioning
