#include <cstdio>

#include "derive/pipelines.h"
#include "drivetests/commissioning_step_run.h"
#include "drivetests/diagnosis.h"
#include "drivetests/inertia_test_dlg.h"
#include "host/zel_errors.h"
#include "names/drive_names.h"

namespace dcservo::commissioning {

namespace {

// A test current less than this much above the one that ran is no new run's worth.
constexpr double kMoreCurrentWorth = 1.1;

}  // namespace

// The inertia step again at the most test current the setup allows, as an engineer does by
// hand when the motor turned but did not reach the speed to time within the program's time (a
// heavy load, or friction that leaves the test current little torque). Where the current is
// already at its most, or the second run fails alike, the failure says what is left to do.
std::optional<StepOutcome> RerunInertiaStep(const CommissioningStep& step, CZel_Setup& setup,
                                            ZelHeadlessBackend& ui, const StepOutcome& first) {
  // A shaft that stood still under the test current may be held by friction that more
  // current overcomes: the second run tells friction from a brake or a stop.
  const bool stood_still = SaysShaftHeld(first.diagnosis);
  if (!InertiaSpeedNotReached(first.failure) && !stood_still) return std::nullopt;
  CZel_Parameter* current = nullptr;
  {
    current = setup.FindOptionalParameter(param::TestCurrent);
  }
  if (!current) return std::nullopt;
  const double was = current->GetValueInBaseUnit(), most = current->GetMaxInBaseUnit();
  StepOutcome second = first;
  if (most > kMoreCurrentWorth * was) {
    current->SetValueInBaseUnit(most);
    ComputeChipParameters(setup);
    DownloadSetup(setup);
    if (std::string not_at_rest = WaitForRest(setup, ui); !not_at_rest.empty())
      return StepNotRun(step, not_at_rest);
    second = RunStep(step, setup, ui);
    char text[200];
    std::snprintf(text, sizeof text,
                  "at TestCurrent %.3g A the motor %s: the test ran again at %.3g A, the most "
                  "the setup allows",
                  was,
                  stood_still ? "did not turn"
                              : "did not reach the speed to time within the test's time",
                  current->GetValueInBaseUnit());
    second.run.warnings.insert(second.run.warnings.begin(), text);
    if (second.succeeded || !InertiaSpeedNotReached(second.failure)) return second;
  }
  // No more current to try, for a shaft that stood still: the first run's cause stands.
  if (!InertiaSpeedNotReached(second.failure)) return std::nullopt;
  std::string speed_limit = param::TestMaxSpeed;
  if (const CZel_Parameter* limit = setup.FindParameter(param::TestMaxSpeed)) {
    char shown[80];
    std::snprintf(shown, sizeof shown, " (%.4g %s)",
                  limit->GetSelectedUnit().FromBase(limit->GetValueInBaseUnit()),
                  limit->GetSelectedUnit().GetName().c_str());
    speed_limit += shown;
  }
  char text[400];
  std::snprintf(text, sizeof text,
                "\nAt %.3g A, the most test current the setup allows, the load's inertia or "
                "friction leaves too little torque to reach 80 %% of %s within the test's time: "
                "lower TestMaxSpeed, or check the load for friction.",
                current->GetValueInBaseUnit(), speed_limit.c_str());
  second.failure += text;
  return second;
}

}  // namespace dcservo::commissioning
