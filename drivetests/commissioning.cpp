#include "drivetests/commissioning.h"

#include <algorithm>
#include <initializer_list>
#include <cmath>
#include <limits>
#include <cstdio>
#include <memory>
#include <span>
#include <string_view>

#include "derive/biquad_slots.h"
#include "derive/pipelines.h"
#include "design/last_speed_run.h"
#include "design/notch_placement.h"
#include "design/tune.h"
#include "design/dialog_names.h"
#include "drivetests/headless_test_run.h"
#include "drivetests/identification.h"
#include "drivetests/notch_plot.h"
#include "drivetests/reference_profile.h"
#include "drivetests/current_test_dlg.h"
#include "drivetests/inertia_test_dlg.h"
#include "drivetests/tuning_test_dlg.h"
#include "host/zel_comm.h"
#include "host/zel_dialog_registry.h"
#include "host/zel_errors.h"
#include "host/zel_graph.h"
#include "host/zel_headless.h"
#include "host/zel_names.h"
#include "host/zel_quiet_value.h"
#include "host/zel_setup.h"
#include "host/zel_setup_file.h"
#include "host/zel_units.h"
#include "units/control_structure.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {

namespace {

namespace names = dialog_names;

// Between steps the engineer waits until the motor that a test spun has coasted to rest: its
// speed reads zero (below one count) at every look over a whole window. One zero reading
// proves nothing: a shaft turning slower than one count per sample reads zero most of the
// time. At most ten minutes.
constexpr double kRestPoll_ms = 20.0;
constexpr double kRestWindow_ms = 500.0;
constexpr double kRestLimit_ms = 600000.0;

// A friction correction of the inertia smaller than this share is left alone: it changes the
// speed loop's gains by less than the test's own precision.
constexpr double kInertiaCorrectionWorth = 0.02;
constexpr double kFrictionTrusted = 0.5;
// What means something only where its step's loop is closed: the derivation moves the open
// loops' limits with the current limit (the position loop's SATP in a speed drive), which is
// no change to the drive as it is commissioned.
struct LoopParameters {
  const char* step;
  std::initializer_list<const char*> names;
};
const LoopParameters kLoopParameters[] = {
    {"inertia", {"TestMaxSpeed"}},
    {"speed", {"Kp_S_scl", "KPS", "SFTKPS", "Ki_S_scl", "KIS", "SFTKIS", "IPSatS", "IMAXS",
               "SATS", "KFFA_scl", "KFFA", "SFTAFFW", "SFTKFF", "PB_S", "Dump_S"}},
    {"position", {"Kp_P_scl", "KPP", "SFTKPP", "Ki_P_scl", "KIP", "SFTKIP", "Kd_P_scl", "KDP",
                  "SFTKDP", "filter_D", "KDFP", "IPSatP", "IMAXP", "SATP", "KFFS_scl", "KFFS",
                  "SFTSFFW", "PB_P", "Dump_P", "Limit_Speed"}},
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
    {"speed", names::kSpeedTest, "Speed loop: tune and test", kLoopSpeed, false, true, false,
     600.0, "the total inertia, the speed sensor and the speed loop's pass band"},
    {"position", names::kPositionTest, "Position loop: tune and test", kLoopPosition, false, true,
     false, 600.0, "the speed loop, the position sensor and the position loop's pass band"},
};

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

// A tuning step runs as `dcservo test` does without --online: one cycle through the data
// logger, whatever view the user last chose in the test (a scope view measures sweeps, and
// the friction and ripple come from the logger's upload). The user's choice is put back after.
class LoggedSingleCycle {
 public:
  explicit LoggedSingleCycle(CZel_Setup& setup) {
    ZelQuietErrors quiet;  // a drive without the choices runs as it is
    for (const char* name : {"OnlinePlotS", "MultiCycleS", "OnlinePlotP", "MultiCycleP"}) {
      if (CZel_Parameter* p = setup.FindParameter(name); p && p->GetValueInBaseUnit() != 0.0) {
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

}  // namespace

std::span<const CommissioningStep> CommissioningSteps() { return kSteps; }

const char* CheckOf(const StepOutcome& outcome) {
  return outcome.diagnosis ? outcome.diagnosis->advice : outcome.step->advice;
}

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
                                      const TestRunReport& run) {
  const TestTargets* targets = TargetsOf(step.word);
  if (!targets || !targets->supply_in_range) return run.targets;
  double vdc = std::numeric_limits<double>::quiet_NaN();
  for (const auto& r : run.results) {
    if (r.name == "Vdc") vdc = r.value;
  }
  return CheckSupplyTargets(*targets, vdc, setup.GetParameterValueInBaseUnit("VMOT_min"),
                            setup.GetParameterValueInBaseUnit("VMOT_max"));
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

// Waits until the motor is at rest; the reason when it is not (or cannot be told), else "".
std::string WaitForRest(const CZel_Setup& setup, ZelHeadlessBackend& ui) {
  CZel_Variable* speed = nullptr;
  {
    ZelQuietErrors quiet;  // a drive without the speed reading is not waited for
    speed = setup.FindVariable("Motor_Speed", 0);
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
  const double now = setup.GetParameterValueInBaseUnit("Jt");
  if (!j || std::abs(*j - now) <= kInertiaCorrectionWorth * now) return std::nullopt;
  return InertiaCorrection{*j, speed.friction->TorqueAt(run->mean_speed_rad_s),
                           std::min(run->Confidence(), speed.friction->coulomb_confidence)};
}

bool Confirm(const CommissioningHooks& hooks, const ShaftNotice& notice) {
  if (hooks.confirm) return hooks.confirm(notice.text, notice.asks);
  return ZelMessageBox(notice.text, "Commissioning", kMbOkCancel | kMbIconInformation,
                       notice.asks) == kIdOk;
}

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
  const double top = std::abs(ZelQuietBaseValue(setup, "TestSpeed") * to_motor);
  const double friction_Nm = friction ? friction->TorqueAt(top) : 0.0;
  const std::optional<double> allowed = AllowedAcceleration(
      ZelQuietBaseValue(setup, "K"), ZelQuietBaseValue(setup, "TestLimitCurrent"),
      ZelQuietBaseValue(setup, "Jt"), friction_Nm);
  if (!allowed || !std::isfinite(top) || !(top > 0.0)) return std::nullopt;
  const double shortest = top / *allowed;
  std::string changed;
  for (const char* ramp : {"TaPS", "TaNS"}) {
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
                kProfileCurrentShare * 100.0, ZelQuietBaseValue(setup, "TestLimitCurrent"),
                ZelQuietBaseValue(setup, "Jt"), friction_Nm, changed.c_str());
  return std::string(text);
}

// The speed loop's pass band, feedback low pass and acceleration feedforward as the tuner
// proposes them for the setup as it stands (the inertia the steps so far found): what was
// taken, or nothing when the band asked for needs nothing.
std::optional<std::string> TakeSpeedLoopProposal(CZel_Setup& setup) {
  LoopTuneReport report;
  {
    ZelQuietErrors quiet;
    if (!TuneSpeedController(setup, &report) || !report.proposal) return std::nullopt;
  }
  const SpeedLoopProposal& p = *report.proposal;
  const bool changes = p.feedback_low_pass || p.pass_band_rad_s != p.requested_rad_s ||
                       p.acceleration_feedforward != ZelQuietBaseValue(setup, "KFFA_scl");
  if (!changes || !ApplySpeedLoopProposal(setup, p)) return std::nullopt;
  return "the speed loop takes the tuner's proposal, " + DescribeProposal(p, "PB_S");
}

// The position loop's band kept below the speed loop's that the steps so far chose: what was
// changed, or nothing.
std::optional<std::string> KeepPositionBelowSpeedLoop(CZel_Setup& setup) {
  ModelStructure structure;
  {
    ZelQuietErrors quiet;
    structure = StructureOfLoop(setup, TunedLoop::Position);
  }
  const double speed = ZelQuietBaseValue(setup, "PB_S"),
               position = ZelQuietBaseValue(setup, "PB_P");
  const double most = speed / kCascadeSeparation;
  // A band a rounding above the limit is no band the loops would feel.
  if (structure != ModelStructure::PositionOverSpeed || !(position > most * 1.01))
    return std::nullopt;
  setup.SetParameterValueInBaseUnit("PB_P", most);
  char text[200];
  std::snprintf(text, sizeof text,
                "the position loop's pass band was lowered to a third of the speed loop's "
                "(PB_S %.3g rad/s): PB_P %.3g -> %.3g rad/s",
                speed, position, setup.GetParameterValueInBaseUnit("PB_P"));
  return std::string(text);
}

// The share of the test speed that a run to tell viscous friction from dry holds.
constexpr double kSecondSpeedShare = 0.25;

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
    ZelQuietErrors quiet;
    speed = setup.FindParameter("TestSpeed");
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

// "a resonance at 803 Hz (34.2 dB over the spectrum's floor, ringing at 0.46 A RMS, loop
// gain 2.1 dB)"
std::string ResonanceText(const Resonance& r) {
  char text[200];
  std::snprintf(text, sizeof text,
                "a resonance at %.0f Hz (%.1f dB over the spectrum's floor, ringing at %.3g A "
                "RMS, loop gain %.1f dB)",
                r.frequency_hz, r.peak_db, r.ring_A, r.loop_gain_db);
  return text;
}

// A hold that gives the spectrum fewer than this many samples leaves it a segment or two
// once the loop has settled from the ramp: too few to average.
constexpr long long kShortestLookHold = 3 * static_cast<long long>(kSpectrumSegment);

// TPS and TNS, alike and no longer than the setup's, for a speed profile whose every sample
// the tuning test's log holds; nothing when the ramps leave too short a hold.
std::optional<double> HoldAtLoopRate(CZel_Setup& setup) {
  const std::optional<ProfileInputs> in = ProfileInputsOf(setup, kSpeedProfileNames);
  if (!in) return std::nullopt;
  auto samples = [&](double hold_s) {
    ProfileInputs p = *in;
    p.hold_s = p.end_s = hold_s;
    long long n = 0;
    for (const ProfileSegment& segment : BuildReferenceProfile(p)) n += segment.count;
    return n;
  };
  // Both holds count once a way, twice in a profile that runs both ways.
  const long long ramps = samples(0.0);
  const double per_second = static_cast<double>(samples(1.0) - ramps);
  if (!(per_second > 0.0)) return std::nullopt;
  const double fits = static_cast<double>(kTuningLogPoints - ramps) / per_second;
  double hold = std::floor(std::min({in->hold_s, in->end_s, fits}) / in->period_s) * in->period_s;
  while (hold > 0.0 && samples(hold) > kTuningLogPoints) hold -= in->period_s;
  if (hold < static_cast<double>(kShortestLookHold) * in->period_s) return std::nullopt;
  return hold;
}

void SwitchOffSpeedFeedbackFilters(CZel_Setup& setup) {
  ZelQuietErrors quiet;  // a drive without the filters has none to switch off
  for (int i = 1; i <= kBiquadFilterCount; ++i) {
    CZel_Parameter* on = setup.FindParameter("BQFilter" + std::to_string(i));
    const CZel_Parameter* place = setup.FindParameter("BQFilterLocation" + std::to_string(i));
    if (on && place && place->GetValueInBaseUnit() == kPlaceSpeedFeedback) on->SetValueInBaseUnit(0.0);
  }
}

// The look for a resonance (ResonanceRun) on the setup as it stands, a notch included, at the
// pass band `asked_rad_s`; the setup is put back after and the motor left at rest.
ResonanceRun LookForResonance(const CommissioningStep& step, CZel_Setup& setup,
                              ZelHeadlessBackend& ui, double asked_rad_s) {
  ResonanceRun look;
  const std::optional<double> hold = HoldAtLoopRate(setup);
  if (!hold) return look;
  look.hold_s = *hold;
  look.pass_band_rad_s = asked_rad_s;
  const SetupSnapshot kept(setup);
  SwitchOffSpeedFeedbackFilters(setup);
  {
    ZelQuietErrors quiet;  // a band outside the setup's range keeps the one there
    if (CZel_Parameter* band = setup.FindParameter("PB_S")) band->SetValueInBaseUnit(asked_rad_s);
  }
  setup.SetParameterValueInBaseUnit("TPS", *hold);
  setup.SetParameterValueInBaseUnit("TNS", *hold);
  RetuneAndDownload(setup);
  const StepOutcome run = RunStep(step, setup, ui);
  look.current_spectrum = run.current_spectrum;
  look.resonance = run.resonance;
  kept.Restore(setup);
  ComputeChipParameters(setup);
  DownloadSetup(setup);
  look.not_at_rest = WaitForRest(setup, ui);
  return look;
}

// "to look for a resonance the speed test ran once more before the step, ...: none stood out"
std::string LookNote(const ResonanceRun& look) {
  if (look.hold_s == 0.0)
    return "no look for a resonance: the profile's ramps leave too short a hold in the "
           "tuning test's log at the speed loop's rate";
  char text[320];
  std::snprintf(text, sizeof text,
                "to look for a resonance the speed test ran once more before the step, logged "
                "at the speed loop's rate with TPS and TNS %.3g s, no low pass on the speed "
                "feedback and PB_S %.3g rad/s: ",
                look.hold_s, look.pass_band_rad_s);
  if (!look.resonance) return text + std::string("none stood out");
  return text + std::string("it showed ") + ResonanceText(*look.resonance) +
         (look.resonance->limits_loop ? ", which limits the speed loop"
                                      : ", which does not limit the speed loop");
}

// The speed loop tuned afresh from the setup as it now stands (the tuner's proposal taken
// first) and the step run again once the shaft is at rest.
struct SecondRun {
  StepOutcome outcome;
  bool ran = false;  // false: the shaft did not come to rest, and `outcome` says so
  std::optional<std::string> proposal;
};

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
  const double old_j = setup.GetParameterValueInBaseUnit("Jt");
  if (c) setup.SetParameterValueInBaseUnit("Jt", c->inertia);
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
  if (c) second.run.identified.push_back({"Jt", c->inertia, "kgm^2", c->confidence});
  return second;
}

NotchRun NotchRunOf(const StepOutcome& without, const NotchPlacement& placed,
                    const ResonanceRun& look_with, const CZel_Setup& setup) {
  const ResonanceRun& look = *without.resonance_run;
  NotchRun n;
  n.resonance = *look.resonance;
  n.proposal = *placed.proposal;
  n.filter = placed.filter;
  n.spectrum_before = *look.current_spectrum;
  n.spectrum_with = look_with.current_spectrum;
  const double hz = n.resonance.frequency_hz;
  n.ripple_before_A = AmplitudeNear(n.spectrum_before, hz);
  n.ripple_after_A = n.spectrum_with ? AmplitudeNear(*n.spectrum_with, hz)
                                     : std::numeric_limits<double>::quiet_NaN();
  n.succeeded_before = without.succeeded;
  n.failure_before = without.failure;
  n.tracking_before = without.tracking;
  if (n.spectrum_with) {
    NotchPlot plot = DrawNotchPlot(n.spectrum_before, *n.spectrum_with, n.proposal.notch,
                                   ZelQuietBaseValue(setup, "Ts_S"));
    n.svg = std::move(plot.svg);
    n.plot = std::move(plot.scene);
  }
  return n;
}

// The speed step again with a notch, as an engineer does by hand when the current at constant
// speed rings at a resonance that limits the loop: the notch proposed on the loop model and
// placed where it keeps the margins (design/notch_placement.h), the loop tuned again and run a
// second time, and the look for a resonance once more with the notch, for the ripple it left.
// The run with the notch stands unless it failed where the run without it succeeded. Nothing
// when the look named no resonance that limits the loop, or the notch could not be placed (the
// run without it says why).
std::optional<StepOutcome> NotchTheResonance(const CommissioningStep& step, CZel_Setup& setup,
                                             ZelHeadlessBackend& ui, StepOutcome& without) {
  const std::optional<ResonanceRun>& look = without.resonance_run;
  if (!look || !look->resonance || !look->resonance->limits_loop || !look->current_spectrum)
    return std::nullopt;
  char found[80];
  std::snprintf(found, sizeof found, "for the resonance at %.0f Hz",
                look->resonance->frequency_hz);
  const SetupSnapshot unnotched(setup);
  const NotchPlacement placed = PlaceNotch(setup, look->resonance->frequency_hz);
  if (!placed.filter) {
    without.run.warnings.push_back(std::string("no notch ") + found + ": " + placed.refusal);
    return std::nullopt;
  }
  SecondRun again = RetuneAndRunAgain(step, setup, ui);
  if (!again.ran) return std::move(again.outcome);
  StepOutcome with = std::move(again.outcome);
  const std::optional<std::string>& proposal = again.proposal;
  const ResonanceRun look_with = LookForResonance(step, setup, ui, look->pass_band_rad_s);
  const NotchRun notch = NotchRunOf(without, placed, look_with, setup);
  char ripple[200];
  std::snprintf(ripple, sizeof ripple,
                "; the speed loop was tuned again and run a second time, and the look for a "
                "resonance once more: the ripple at the resonance %.3g A -> %.3g A RMS",
                notch.ripple_before_A, notch.ripple_after_A);
  const std::string note = found + std::string(", the ") + DescribeNotch(*placed.proposal) +
                           ", was placed in filter " + std::to_string(placed.filter) + ripple;
  if (!with.succeeded && without.succeeded) {
    unnotched.Restore(setup);
    RetuneAndDownload(setup);
    without.run.warnings.push_back(note + "; the run with it failed (" + with.failure +
                                   "), so the notch was taken out again");
    return std::nullopt;
  }
  std::vector<std::string> notes{note};
  if (proposal) notes.push_back(*proposal);
  with.run.warnings.insert(with.run.warnings.begin(), notes.begin(), notes.end());
  with.friction = without.friction;
  with.run.identified = without.run.identified;
  with.resonance_run = look;
  with.notch = notch;
  return with;
}

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

// The current step again, the motor data's R and L taken from what its first run identified
// and the loop tuned afresh from them, as an engineer does by hand when the step misses its
// rise time or overshoot on a motor whose armature is not the one the setup describes.
// Nothing when the first run stands or identified nothing to apply.
std::optional<StepOutcome> RerunCurrentStep(const CommissioningStep& step, CZel_Setup& setup,
                                            ZelHeadlessBackend& ui, const SetupSnapshot& before,
                                            const StepOutcome& first) {
  if (first.succeeded || !MissedATarget(first)) return std::nullopt;
  const std::optional<double> r = ArmatureToApply(first, setup, "R");
  const std::optional<double> l = ArmatureToApply(first, setup, "L");
  if (!r && !l) return std::nullopt;
  before.Restore(setup);
  const double old_r = ZelQuietBaseValue(setup, "R"), old_l = ZelQuietBaseValue(setup, "L");
  if (r) setup.SetParameterValueInBaseUnit("R", *r);
  if (l) setup.SetParameterValueInBaseUnit("L", *l);
  RetuneAndDownload(setup);
  StepOutcome second = RunStep(step, setup, ui);
  char text[240];
  std::snprintf(text, sizeof text,
                " with the setup's armature, R %.4g ohm and L %.4g mH: the motor data took the "
                "identified R %.4g ohm and L %.4g mH, the current loop was tuned again and run a "
                "second time",
                old_r, old_l * 1e3, ZelQuietBaseValue(setup, "R"), ZelQuietBaseValue(setup, "L") * 1e3);
  second.run.warnings.insert(second.run.warnings.begin(),
                             "the first run missed its targets (" + first.failure + ")" + text);
  return second;
}

// A test current less than this much above the one that ran is no new run's worth.
constexpr double kMoreCurrentWorth = 1.1;

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
    ZelQuietErrors quiet;
    current = setup.FindParameter("TestCurrent");
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
  std::string speed_limit = "TestMaxSpeed";
  if (const CZel_Parameter* limit = setup.FindParameter("TestMaxSpeed")) {
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

}  // namespace

CommissioningResult RunCommissioning(CZel_Setup& setup, ZelHeadlessBackend& ui,
                                     const CommissioningHooks& hooks) {
  CommissioningResult result;
  // The loops to tune follow the control mode as it is now, not as the options were last
  // derived: a mode changed since (`--set ControlMode=speed`) must not tune a position loop.
  ComputeControlStructureOptions(setup);
  result.planned = StepsFor(setup);
  const SetupSnapshot initial(setup);
  result.succeeded = true;
  std::optional<bool> shaft_blocked;  // not known before the first notice
  for (std::size_t i = 0; i < result.planned.size(); ++i) {
    const CommissioningStep& step = *result.planned[i];
    if (hooks.progress) hooks.progress(i, result.planned.size(), step);
    const SetupSnapshot before(setup);
    const bool speed_step = std::string_view(step.word) == "speed";
    // The first speed run's ramps too: one that holds the current at its limit overshoots
    // into the stretch of constant speed, whose current then shows no friction. The inertia
    // test's figure still holds the friction's share, which errs on the gentle side.
    const FrictionFit* friction = LastFriction(result.steps);
    const std::optional<std::string> ramps =
        speed_step ? FitRampsToCurrentLimit(setup, friction) : std::nullopt;
    if (speed_step) SynchroniseSetup(setup);
    // The band asked for, before the tuner's proposal lowers it for its low pass: the look for
    // a resonance runs the loop at it.
    const double asked_band = speed_step ? ZelQuietBaseValue(setup, "PB_S") : 0.0;
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
