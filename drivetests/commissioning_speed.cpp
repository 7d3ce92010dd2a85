#include <algorithm>
#include <cmath>
#include <cstdio>

#include "derive/pipelines.h"
#include "design/speed_proposal.h"
#include "design/tune.h"
#include "drivetests/commissioning_step_run.h"
#include "drivetests/drive_test_targets.h"
#include "drivetests/identification.h"
#include "host/zel_errors.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo::commissioning {

namespace {

// A friction correction of the inertia smaller than this share is left alone: it changes the
// speed loop's gains by less than the test's own precision.
constexpr double kInertiaCorrectionWorth = 0.02;
constexpr double kFrictionTrusted = 0.5;

bool FollowedItsReference(const StepOutcome& run) {
  return std::any_of(run.targets.begin(), run.targets.end(), [](const TargetCheck& t) {
    return t.figure == kFollowedFigure && t.met;
  });
}

// The inertia that the inertia test found, corrected for the friction that the speed run
// just showed; nothing when there is none to correct or the correction is within the
// inertia test's own precision.
struct InertiaCorrection {
  double inertia = 0.0, friction_Nm = 0.0, confidence = 0.0;
};
std::optional<InertiaCorrection> InertiaToCorrect(const std::vector<StepOutcome>& steps,
                                                  const StepOutcome& speed,
                                                  const CZel_Setup& setup) {
  // A fit too scattered to trust, or from a run whose motor did not follow its reference,
  // corrects nothing: the raw figure at least errs one known way. A run that followed but
  // missed its prediction is what an inflated inertia does to the prediction: that one is
  // corrected.
  if (!speed.friction || speed.friction->coulomb_confidence < kFrictionTrusted ||
      !FollowedItsReference(speed))
    return std::nullopt;
  const InertiaRun* run = nullptr;
  for (const StepOutcome& s : steps) {
    if (s.inertia_run) run = &*s.inertia_run;
  }
  if (!run) return std::nullopt;
  const std::optional<double> j = CorrectedInertia(*run, *speed.friction);
  const double now = setup.GetParameterValueInBaseUnit(param::Jt);
  if (!j || std::abs(*j - now) <= kInertiaCorrectionWorth * now) return std::nullopt;
  return InertiaCorrection{*j, speed.friction->TorqueAt(run->mean_speed_rad_s),
                           std::min(run->Confidence(), speed.friction->coulomb_confidence)};
}

}  // namespace

// The friction that the last speed run showed, if any.
const FrictionFit* LastFriction(const std::vector<StepOutcome>& steps) {
  const FrictionFit* friction = nullptr;
  for (const StepOutcome& s : steps) {
    if (s.friction) friction = &*s.friction;
  }
  return friction;
}

// The speed test's ramps made no steeper than the current limit drives the inertia (and the
// friction, once a speed run has shown it): a ramp that asks for more holds the current at
// its limit and the loop winds up. What was changed, or nothing.
std::optional<std::string> FitRampsToCurrentLimit(CZel_Setup& setup, const FrictionFit* friction) {
  const double to_motor = LoadSpeedScale(setup) / MotorSpeedScale(setup);
  const double top = std::abs(ZelQuietBaseValue(setup, param::TestSpeed) * to_motor);
  const double friction_Nm = friction ? friction->TorqueAt(top) : 0.0;
  const std::optional<double> allowed = AllowedAcceleration(
      ZelQuietBaseValue(setup, param::K), ZelQuietBaseValue(setup, param::TestLimitCurrent),
      ZelQuietBaseValue(setup, param::Jt), friction_Nm);
  if (!allowed || !std::isfinite(top) || !(top > 0.0)) return std::nullopt;
  const double shortest = top / *allowed;
  std::string changed;
  for (const char* ramp : {param::TaPS, param::TaNS}) {
    const double now = ZelQuietBaseValue(setup, ramp);
    if (!(now < shortest)) continue;
    setup.SetParameterValueInBaseUnit(ramp, shortest);
    // The ramp is whole samples: round up so that it is no steeper than allowed.
    if (setup.GetParameterValueInBaseUnit(ramp) < shortest)
      setup.SetParameterValueInBaseUnit(ramp, shortest + SlowLoopPeriod(setup));
    char text[120];
    std::snprintf(text, sizeof text, "%s%s %.4g s -> %.4g s", changed.empty() ? "" : ", ", ramp,
                  now, setup.GetParameterValueInBaseUnit(ramp));
    changed += text;
  }
  if (changed.empty()) return std::nullopt;
  char text[320];
  std::snprintf(text, sizeof text,
                "the profile's ramps were lengthened so that they need at most %.0f %% of the "
                "test's current limit (%.3g A) with Jt %.4g kgm^2 and friction %.3g Nm: %s",
                kProfileCurrentShare * 100.0, ZelQuietBaseValue(setup, param::TestLimitCurrent),
                ZelQuietBaseValue(setup, param::Jt), friction_Nm, changed.c_str());
  return std::string(text);
}

// The speed loop's pass band, feedback low pass and acceleration feedforward as the tuner
// proposes them for the setup as it stands (the inertia the steps so far found): what was
// taken, or nothing when the band asked for needs nothing.
// Only the proposal is asked of the tuner: the margins that its report gives the gains as
// tuned (four sweeps of the loop model), which nothing here reads, are not swept.
std::optional<std::string> TakeSpeedLoopProposal(CZel_Setup& setup) {
  std::optional<SpeedLoopProposal> proposal;
  {
    ZelQuietErrors quiet;
    if (!TuneSpeedController(setup, nullptr)) return std::nullopt;
    proposal = ProposeSpeedLoopFor(setup);
  }
  if (!proposal) return std::nullopt;
  const SpeedLoopProposal& p = *proposal;
  const bool changes = p.feedback_low_pass || p.pass_band_rad_s != p.requested_rad_s ||
                       p.acceleration_feedforward != ZelQuietBaseValue(setup, param::KFFA_scl);
  if (!changes || !ApplySpeedLoopProposal(setup, p)) return std::nullopt;
  return "the speed loop takes the tuner's proposal, " + DescribeProposal(p, param::PB_S);
}

namespace {

// The share of the test speed that a run to tell viscous friction from dry holds.
constexpr double kSecondSpeedShare = 0.25;

}  // namespace

// A run that holds one speed cannot tell a viscous friction from a dry one: the speed run
// once more at a lower speed, all else alike, reads the friction at a second speed, and the
// two give both (the run's own verdict is no part of the step's). The first run's friction
// stands where the second tells nothing new. The note for the step, or nothing.
std::optional<std::string> FrictionAtASecondSpeed(const CommissioningStep& step,
                                                  CZel_Setup& setup, ZelHeadlessBackend& ui,
                                                  StepOutcome& first) {
  if (!first.friction || first.friction->viscous_confidence ||
      !(first.friction->held_speed_rad_s > 0.0))
    return std::nullopt;
  CZel_Parameter* speed = nullptr;
  {
    speed = setup.FindOptionalParameter(param::TestSpeed);
  }
  if (!speed) return std::nullopt;
  const SetupSnapshot ran(setup);
  speed->SetValueInBaseUnit(kSecondSpeedShare * speed->GetValueInBaseUnit());
  ComputeChipParameters(setup);
  DownloadSetup(setup);
  std::optional<FrictionFit> both;
  if (WaitForRest(setup, ui).empty()) {
    const StepOutcome slower = RunStep(step, setup, ui);
    if (slower.friction) both = FrictionFromTwoSpeeds(*first.friction, *slower.friction);
  }
  ran.Restore(setup);
  ComputeChipParameters(setup);
  DownloadSetup(setup);
  if (!both)
    return "no friction_viscous: the run at a second speed read no friction to tell it from "
           "the dry part; friction_coulomb is the whole friction at the test speed";
  char text[200];
  std::snprintf(text, sizeof text,
                "the speed test ran once more at %.0f %% of its speed to tell viscous friction from "
                "dry: %.3g Nm + %.3g Nm s/rad x speed",
                kSecondSpeedShare * 100.0, both->coulomb_Nm, both->viscous_Nm_s);
  first.friction = both;
  std::erase_if(first.run.identified, [](const IdentifiedValue& v) {
    return v.name.rfind("friction_", 0) == 0;
  });
  for (const IdentifiedValue& v : FrictionValues(*both)) first.run.identified.push_back(v);
  return std::string(text);
}

SecondRun RetuneAndRunAgain(const CommissioningStep& step, CZel_Setup& setup,
                            ZelHeadlessBackend& ui) {
  SecondRun again;
  SynchroniseSetup(setup);
  again.proposal = TakeSpeedLoopProposal(setup);
  RetuneAndDownload(setup);
  if (std::string not_at_rest = WaitForRest(setup, ui); !not_at_rest.empty()) {
    again.outcome = StepNotRun(step, not_at_rest);
    return again;
  }
  again.outcome = RunStep(step, setup, ui);
  again.ran = true;
  return again;
}

// The speed step again, tuned afresh, when its first run showed what the inertia test could
// not: friction that inflated the inertia (corrected here), or ramps steeper than the current
// limit drives the load through against that friction (lengthened here). Nothing when the
// first run stands.
std::optional<StepOutcome> RerunSpeedStep(const CommissioningStep& step, CZel_Setup& setup,
                                          ZelHeadlessBackend& ui, const SetupSnapshot& before,
                                          const std::vector<StepOutcome>& steps) {
  const StepOutcome& first = steps.back();
  if (!first.friction) return std::nullopt;
  const std::optional<InertiaCorrection> c = InertiaToCorrect(steps, first, setup);
  const SetupSnapshot accepted(setup);
  before.Restore(setup);
  const double old_j = setup.GetParameterValueInBaseUnit(param::Jt);
  if (c) setup.SetParameterValueInBaseUnit(param::Jt, c->inertia);
  const std::optional<std::string> ramps = FitRampsToCurrentLimit(setup, &*first.friction);
  if (!c && !ramps) {
    accepted.Restore(setup);
    return std::nullopt;
  }
  SecondRun again = RetuneAndRunAgain(step, setup, ui);
  if (!again.ran) return std::move(again.outcome);
  StepOutcome second = std::move(again.outcome);
  const std::optional<std::string>& proposal = again.proposal;
  std::vector<std::string> notes;
  if (c) {
    char text[240];
    std::snprintf(text, sizeof text,
                  "the inertia test's Jt %.4g kgm^2 held the friction's share of the test torque "
                  "(friction %.3g Nm at the test speed): Jt corrected to %.4g kgm^2",
                  old_j, c->friction_Nm, c->inertia);
    notes.push_back(text);
  }
  if (ramps) notes.push_back(*ramps);
  if (proposal) notes.push_back(*proposal);
  notes.push_back("the speed loop was tuned again and run a second time");
  second.run.warnings.insert(second.run.warnings.begin(), notes.begin(), notes.end());
  second.friction = first.friction;
  second.run.identified = first.run.identified;
  if (c) second.run.identified.push_back({param::Jt, c->inertia, "kgm^2", c->confidence});
  return second;
}

}  // namespace dcservo::commissioning
