#include "drivetests/commissioning.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <span>
#include <string_view>

#include "derive/display_step.h"
#include "derive/pipelines.h"
#include "drivetests/commissioning_step_run.h"
#include "host/zel_headless.h"
#include "host/zel_names.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "host/zel_setup_file.h"
#include "names/dialog_names.h"
#include "names/drive_names.h"
#include "units/control_structure.h"

namespace dcservo {

namespace {

namespace names = dialog_names;

// What means something only where its step's loop is closed: the derivation moves the open
// loops' limits with the current limit (the position loop's SATP in a speed drive), which is
// no change to the drive as it is commissioned.
struct LoopParameters {
  const char* step;
  std::initializer_list<const char*> names;
};
const LoopParameters kLoopParameters[] = {
    {"inertia", {param::TestMaxSpeed}},
    {"speed",
     {param::Kp_S_scl, param::KPS, param::SFTKPS, param::Ki_S_scl, param::KIS, param::SFTKIS,
      param::IPSatS, param::IMAXS, param::SATS, param::KFFA_scl, param::KFFA, param::SFTAFFW,
      param::SFTKFF, param::PB_S, param::Dump_S}},
    {"position",
     {param::Kp_P_scl, param::KPP,      param::SFTKPP, param::Ki_P_scl, param::KIP,
      param::SFTKIP,   param::Kd_P_scl, param::KDP,    param::SFTKDP,   param::filter_D,
      param::KDFP,     param::IPSatP,   param::IMAXP,  param::SATP,     param::KFFS_scl,
      param::KFFS,     param::SFTSFFW,  param::PB_P,   param::Dump_P,   param::Limit_Speed}},
};

// The changes less those of the loops that the control mode leaves open.
std::vector<ParameterChange> ChangesOfClosedLoops(std::vector<ParameterChange> changes,
                                                  std::span<const CommissioningStep* const> planned) {
  for (const LoopParameters& loop : kLoopParameters) {
    if (std::any_of(planned.begin(), planned.end(),
                    [&](const CommissioningStep* s) { return std::string_view(s->word) == loop.step; }))
      continue;
    std::erase_if(changes, [&](const ParameterChange& c) {
      return std::any_of(loop.names.begin(), loop.names.end(),
                         [&](const char* n) { return zel::NamesEqual(n, c.name); });
    });
  }
  return changes;
}

constexpr CommissioningStep kSteps[] = {
    {"vdc", names::kVdcTest, "Supply voltage: detect", kLoopsAny, false, false, true, 60.0,
     "the power supply's voltage and its connection to the drive"},
    {"current", names::kCurrentTest, "Current loop: tune and test", kLoopsAny, true, true, false,
     60.0, "the motor's resistance and inductance, its wiring, and that the shaft is blocked"},
    {"inertia", names::kInertiaTest, "Total inertia: identify", kLoopSpeed, false, false, true,
     60.0, "that the shaft turns freely, the load's coupling and the motor's torque constant"},
    // Before the speed loop is tuned: a coupling found here is what its tuner must see.
    {"frequency", "", "Frequency response: measure the plant", kLoopSpeed, false, false, false,
     120.0, "that the shaft turns freely and the load's coupling"},
    {"speed", names::kSpeedTest, "Speed loop: tune and test", kLoopSpeed, false, true, false,
     600.0, "the total inertia, the speed sensor and the speed loop's pass band"},
    {"position", names::kPositionTest, "Position loop: tune and test", kLoopPosition, false, true,
     false, 600.0, "the speed loop, the position sensor and the position loop's pass band"},
};

}  // namespace

std::span<const CommissioningStep> CommissioningSteps() { return kSteps; }

const char* CheckOf(const StepOutcome& outcome) {
  return outcome.diagnosis ? outcome.diagnosis->advice : outcome.step->advice;
}

std::vector<const CommissioningStep*> StepsFor(const CZel_Setup& setup) {
  unsigned closed = 0;
  if (setup.GetIntOption(option::IsClosedSpeed)) closed |= kLoopSpeed;
  if (setup.GetIntOption(option::IsClosedPosition)) closed |= kLoopPosition;
  std::vector<const CommissioningStep*> steps;
  for (const CommissioningStep& s : kSteps) {
    if ((s.loops & closed) == s.loops) steps.push_back(&s);
  }
  return steps;
}

std::vector<TargetCheck> CheckTargets(const CommissioningStep& step, CZel_Setup& setup,
                                      const TestRunReport& run) {
  const TestTargets* targets = TargetsOf(step.word);
  if (!targets || !targets->supply_in_range) return run.targets;
  double vdc = std::numeric_limits<double>::quiet_NaN();
  for (const auto& r : run.results) {
    if (r.name == param::Vdc) vdc = r.value;
  }
  const CZel_Parameter* measured = setup.FindOptionalParameter(param::Vdc);
  const double level = measured ? DisplayStep(setup, *measured) : 0.0;
  return CheckSupplyTargets(*targets, vdc, setup.GetParameterValueInBaseUnit(param::VMOT_min),
                            setup.GetParameterValueInBaseUnit(param::VMOT_max), level);
}

namespace {

struct ShaftNotice {
  const char* text;
  ZelAskedAction asks;
};

// The notice the step needs, or none when the shaft is already as it needs it.
std::optional<ShaftNotice> ShaftNoticeFor(const CommissioningStep& step,
                                          std::optional<bool>& blocked) {
  if (blocked == step.blocked_shaft) return std::nullopt;
  blocked = step.blocked_shaft;
  if (step.blocked_shaft) return ShaftNotice{names::kBlockedShaftNotice, ZelAskedAction::BlockShaft};
  return ShaftNotice{names::kFreeShaftNotice, ZelAskedAction::FreeShaft};
}


bool Confirm(const CommissioningHooks& hooks, const ShaftNotice& notice) {
  if (hooks.confirm) return hooks.confirm(notice.text, notice.asks);
  return ZelMessageBox(notice.text, "Commissioning", kMbOkCancel | kMbIconInformation,
                       notice.asks) == kIdOk;
}

}  // namespace

CommissioningResult RunCommissioning(CZel_Setup& setup, ZelHeadlessBackend& ui,
                                     const CommissioningHooks& hooks) {
  CommissioningResult result;
  // The loops to tune follow the control mode as it is now, not as the options were last
  // The steps' own work.
  using namespace commissioning;
  // derived: a mode changed since (`--set ControlMode=speed`) must not tune a position loop.
  ComputeControlStructureOptions(setup);
  result.planned = StepsFor(setup);
  const SetupSnapshot initial(setup);
  result.succeeded = true;
  std::optional<bool> shaft_blocked;  // not known before the first notice
  // The coupling the frequency response step measured, for every step after it.
  std::optional<MeasuredCouplingScope> measured_coupling;
  for (std::size_t i = 0; i < result.planned.size(); ++i) {
    const CommissioningStep& step = *result.planned[i];
    if (hooks.progress) hooks.progress(i, result.planned.size(), step);
    const bool speed_step = std::string_view(step.word) == "speed";
    // Before the snapshot: a second speed run starts again from it, and keeps the notch.
    const std::optional<std::string> measured_notch =
        speed_step ? NotchTheMeasuredCoupling(setup) : std::nullopt;
    const SetupSnapshot before(setup);
    // The first speed run's ramps too: one that holds the current at its limit overshoots
    // into the stretch of constant speed, whose current then shows no friction. The inertia
    // test's figure still holds the friction's share, which errs on the gentle side.
    const FrictionFit* friction = LastFriction(result.steps);
    const std::optional<std::string> ramps =
        speed_step ? FitRampsToCurrentLimit(setup, friction) : std::nullopt;
    if (speed_step) SynchroniseSetup(setup);
    // The band asked for, before the tuner's proposal lowers it for its low pass: the look for
    // a resonance runs the loop at it.
    const double asked_band = speed_step ? ZelQuietBaseValue(setup, param::PB_S) : 0.0;
    const bool position_step = std::string_view(step.word) == "position";
    const std::optional<std::string> proposal =
        speed_step ? TakeSpeedLoopProposal(setup)
                   : (position_step ? KeepPositionBelowSpeedLoop(setup) : std::nullopt);
    // What the drive setup does before it opens a test.
    ComputeChipParameters(setup);
    ComputeScaledParameters(setup);
    ComputeChipParameters(setup);
    DownloadSetup(setup);
    const std::optional<ShaftNotice> notice = ShaftNoticeFor(step, shaft_blocked);
    std::string not_at_rest;
    if (notice && !Confirm(hooks, *notice)) {
      result.steps.push_back(StepNotRun(step, kCancelledByUser));
    } else if (i > 0 && !step.blocked_shaft &&
               !(not_at_rest = WaitForRest(setup, ui)).empty()) {
      result.steps.push_back(StepNotRun(step, not_at_rest));
    } else {
      if (hooks.prepare) hooks.prepare(step);
      const ResonanceRun look =
          speed_step ? LookForResonance(step, setup, ui, asked_band) : ResonanceRun{};
      if (std::string_view(step.word) == "frequency")
        result.steps.push_back(
            MeasureFrequencyStep(step, setup, ui, measured_coupling, hooks.status));
      else
        result.steps.push_back(look.not_at_rest.empty() ? RunStep(step, setup, ui)
                                                        : StepNotRun(step, look.not_at_rest));
      std::vector<std::string>& notes = result.steps.back().run.warnings;
      if (proposal) notes.insert(notes.begin(), *proposal);
      if (ramps) notes.insert(notes.begin(), *ramps);
      if (speed_step && look.not_at_rest.empty()) {
        const std::optional<std::string> friction_note =
            FrictionAtASecondSpeed(step, setup, ui, result.steps.back());
        if (auto second = RerunSpeedStep(step, setup, ui, before, result.steps))
          result.steps.back() = std::move(*second);
        result.steps.back().resonance_run = look;
        if (auto notched = NotchTheResonance(step, setup, ui, result.steps.back()))
          result.steps.back() = std::move(*notched);
        std::vector<std::string>& last = result.steps.back().run.warnings;
        last.insert(last.begin(), LookNote(look));
        if (friction_note) last.push_back(*friction_note);
      }
      if (std::string_view(step.word) == "current") {
        if (auto second = RerunCurrentStep(step, setup, ui, before, result.steps.back()))
          result.steps.back() = std::move(*second);
      }
      if (std::string_view(step.word) == "inertia") {
        if (auto second = RerunInertiaStep(step, setup, ui, result.steps.back()))
          result.steps.back() = std::move(*second);
      }
    }
    // Whichever run of the step stands ran with it.
    if (measured_notch) {
      std::vector<std::string>& notes = result.steps.back().run.warnings;
      notes.insert(notes.begin(), *measured_notch);
    }
    if (!result.steps.back().succeeded) {
      before.Restore(setup);
      result.succeeded = false;
      break;
    }
  }
  result.changes = ChangesOfClosedLoops(initial.ChangesIn(setup), result.planned);
  result.setup_text = SetupToText(setup);
  return result;
}

}  // namespace dcservo
