#include "design/tune.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "derive/gains.h"
#include "derive/pipelines.h"
#include "derive/step.h"
#include "design/controller_tuning.h"
#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

using GainRow = FixedPointGain;

// What Tune runs for one loop, in the order the tuning tests run it.
struct LoopDefinition {
  TunedLoop loop;
  StepResult (*design)(CZel_Setup&);
  const char* pass_band;
  const char* damping;
  std::span<const GainRow> gains;
  std::span<const char* const> back;
};

constexpr GainRow kCurrentGains[] = {FixedPointGainOf(Gain::Kp_C), FixedPointGainOf(Gain::Ki_C)};
constexpr const char* kCurrentBack[] = {param::Ki_C_scl, param::Kp_C_scl};

constexpr GainRow kSpeedGains[] = {FixedPointGainOf(Gain::Kp_S), FixedPointGainOf(Gain::Ki_S)};
constexpr const char* kSpeedBack[] = {param::Ki_S_scl, param::Kp_S_scl};

constexpr GainRow kPositionGains[] = {FixedPointGainOf(Gain::Kp_P), FixedPointGainOf(Gain::Ki_P),
                                      FixedPointGainOf(Gain::Kd_P)};
constexpr const char* kPositionBack[] = {param::Ki_P_scl, param::Kp_P_scl, param::Kd_P_scl};

const LoopDefinition kLoops[] = {
    {TunedLoop::Current, ComputeCurrentControllerGains, param::PB_C, param::Dump_C, kCurrentGains,
     kCurrentBack},
    {TunedLoop::Speed, ComputeSpeedControllerGains, param::PB_S, param::Dump_S, kSpeedGains,
     kSpeedBack},
    {TunedLoop::Position, ComputePositionControllerGains, param::PB_P, param::Dump_P,
     kPositionGains, kPositionBack},
};

const LoopDefinition& Definition(TunedLoop loop) {
  for (const LoopDefinition& d : kLoops) {
    if (d.loop == loop) return d;
  }
  return kLoops[0];
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

bool OutsideRange(const CZel_Parameter& p) {
  const double v = p.GetValueInBaseUnit();
  return v < p.GetMinInBaseUnit() || v > p.GetMaxInBaseUnit();
}

void JudgeGain(CZel_Setup& setup, const GainRow& row, TunedGain& g) {
  const std::string shown = g.name + " = " + Number(g.designed);
  if (g.designed < 0.0) {
    g.warnings.push_back(shown + " is negative: the controller would push the wrong way");
    g.unusable = true;
    return;
  }
  if (g.designed > 0.0 && g.stored == 0.0) {
    g.warnings.push_back("the fixed-point encoding turns " + shown + " into 0");
    g.unusable = true;
    return;
  }
  const CZel_Parameter* scaled = setup.FindParameter(row.scaled);
  const CZel_Parameter* mantissa = setup.FindParameter(row.mantissa);
  const CZel_Parameter* shift = setup.FindParameter(row.shift);
  if (g.designed > scaled->GetMaxInBaseUnit() || OutsideRange(*mantissa) || OutsideRange(*shift)) {
    g.warnings.push_back(shown + " saturates: above the largest gain the drive holds (" +
                         Number(scaled->GetMaxInBaseUnit()) + ", " + g.mantissa + " " +
                         Number(g.mantissa_value) + ", " + g.shift + " " +
                         Number(g.shift_value) + ")");
    g.unusable = true;
    return;
  }
  if (g.designed > 0.0) {
    const double change = std::abs(g.stored - g.designed) / g.designed;
    if (change > kCoarseGainTolerance)
      g.warnings.push_back("the fixed-point encoding stores " + shown + " as " +
                           Number(g.stored) + " (" + Number(change * 100.0) + "% off)");
  }
}

// The loop model with these gains in place of the stored ones.
DriveModel WithGains(DriveModel model, TunedLoop loop, const std::vector<double>& g) {
  auto at = [&g](std::size_t i) { return i < g.size() ? g[i] : 0.0; };
  switch (loop) {
    case TunedLoop::Current:
      model.kpi = at(0);
      model.kii = at(1);
      break;
    case TunedLoop::Speed:
      model.kps = at(0);
      model.kis = at(1);
      break;
    case TunedLoop::Position:
      model.kpp = at(0);
      model.kip = at(1);
      model.kdp = at(2);
      break;
  }
  return model;
}

std::vector<double> GainValues(const LoopTuneReport& report, bool stored) {
  std::vector<double> values;
  for (const TunedGain& g : report.gains) values.push_back(stored ? g.stored : g.designed);
  return values;
}

// With the filters on the speed feedback as they are: they pass their share of a count's jump,
// and the band that keeps the target grows by as much as they take off.
std::optional<SpeedRippleRule> RippleOf(const DriveModel& model, double rated_A, double damping) {
  const std::optional<double> quantum = SpeedQuantum_rad_s(model);
  const double jump_A = CountJump_A(model);
  const double share = FeedbackRippleFactor(model.speed_feedback_filters);
  if (!quantum || !(jump_A > 0.0) || !std::isfinite(jump_A)) return std::nullopt;
  std::optional<SpeedRippleRule> rule =
      SpeedRippleOf(jump_A / share / *quantum, *quantum, rated_A, damping, model.J, model.K);
  if (rule) {
    rule->per_count_A = jump_A;
    rule->highest_pass_band_rad_s /= share;
  }
  return rule;
}

void AnalyseLoop(CZel_Setup& setup, LoopTuneReport& r) {
  const std::optional<DriveModel> model = DriveModelOf(setup);
  if (!model) return;
  const ModelStructure structure = StructureOfLoop(setup, r.loop);
  r.stored_loop = MarginsOf(WithGains(*model, r.loop, GainValues(r, true)), structure, r.loop);
  r.designed_loop = MarginsOf(WithGains(*model, r.loop, GainValues(r, false)), structure, r.loop);
  DriveModel unfiltered = WithGains(*model, r.loop, GainValues(r, true));
  unfiltered.speed_reference_filters.clear();
  unfiltered.current_reference_filters.clear();
  unfiltered.speed_feedback_filters.clear();
  r.unfiltered_loop = MarginsOf(unfiltered, structure, r.loop);
  const DriveModel stored = WithGains(*model, r.loop, GainValues(r, true));
  r.inertia_spread = MarginsOverInertia(stored, structure, r.loop);
  if (structure == ModelStructure::PositionOverSpeed)
    r.inner_loop = MarginsOf(stored, ModelStructure::Speed, TunedLoop::Speed);
  if (r.loop != TunedLoop::Speed) return;
  r.ripple = RippleOf(WithGains(*model, r.loop, GainValues(r, true)),
                      ZelQuietBaseValue(setup, param::In), r.damping);
  r.proposal = ProposeSpeedLoopFor(setup);
}

// The pass band that the speed sensor's quantum leaves, when the one asked for costs more
// current ripple than the target.
void JudgeRipple(const LoopTuneReport& r, std::vector<std::string>& warnings) {
  if (!r.ripple || r.ripple->met()) return;
  if (r.proposal && r.proposal->RippleMet()) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "the speed sensor limits the pass band: one count of speed measurement moves "
                  "the current reference by %.3g A, above the target %.3g A; proposed: ",
                  r.ripple->per_count_A, r.ripple->allowed_A);
    warnings.push_back(text + DescribeProposal(*r.proposal, r.pass_band_name));
    return;
  }
  const SpeedRippleRule& q = *r.ripple;
  char text[400];
  std::snprintf(text, sizeof text,
                "the speed sensor limits the pass band: one count of speed measurement "
                "(%.4g rad/s) moves the current reference by %.3g A, above the target %.3g A "
                "(%.0f %% of In); with the speed feedback's filters as they are %s = %.4g "
                "rad/s keeps it",
                q.quantum_rad_s, q.per_count_A, q.allowed_A, kSpeedRippleShareOfIn * 100.0,
                r.pass_band_name.c_str(), q.highest_pass_band_rad_s);
  warnings.push_back(text);
}

}  // namespace

std::string SlowInnerLoopText(const LoopMargins& inner_loop, const LoopMargins& outer_loop,
                              double pass_band_rad_s, const std::string& pass_band_name) {
  const std::optional<double> inner = inner_loop.crossover_rad_s;
  // A position loop can only be as quick as the speed loop that carries out its commands:
  // its crossover, or the band asked of it, beyond the speed loop's band takes its phase.
  const double outer = std::max(outer_loop.crossover_rad_s.value_or(0.0), pass_band_rad_s);
  if (inner_loop.stable && inner && *inner >= outer) return {};
  char text[320];
  if (!inner_loop.stable)
    std::snprintf(text, sizeof text,
                  "the speed loop under it is unstable (|z| = %.4g): tune the speed loop first "
                  "(tune speed, the Speed test's Tune) with the inertia as it is",
                  inner_loop.pole_radius);
  else
    std::snprintf(text, sizeof text,
                  "the speed loop under it (%.3g rad/s) is slower than the position loop "
                  "(%.3g rad/s): tune the speed loop again for Jt as it is (tune speed), or lower "
                  "%s",
                  *inner, outer, pass_band_name.c_str());
  return text;
}

namespace {

void JudgeLoop(CZel_Setup& setup, LoopTuneReport& r) {
  if (r.loop == TunedLoop::Current) {
    const double tau = ZelQuietBaseValue(setup, param::L) / ZelQuietBaseValue(setup, param::R);
    if (!(tau > 4.0 * r.sampling_period_s))
      r.warnings.push_back("L/R = " + Number(tau) + " s is not above 4 x Ts_C = " +
                           Number(4.0 * r.sampling_period_s) + " s: " + r.damping_name +
                           " is not used");
  }
  if (!r.stored_loop) {
    r.warnings.push_back("the closed loop was not analysed: the setup lacks the data of its plant");
    return;
  }
  JudgeMargins(*r.stored_loop, r.loop_failures, r.warnings);
  JudgeRipple(r, r.warnings);
  if (r.inertia_spread) {
    if (std::string w = InertiaSpreadWarning(*r.inertia_spread); !w.empty())
      r.warnings.push_back(std::move(w));
  }
  if (r.loop_failures.empty()) return;
  const std::string slow =
      r.inner_loop ? SlowInnerLoopText(*r.inner_loop, *r.stored_loop, r.pass_band_rad_s,
                                       r.pass_band_name)
                   : "";
  if (!slow.empty()) {
    r.loop_failures.front() += ": " + slow;
    return;
  }
  if (r.stored_loop->stable) return;
  if (r.designed_loop && r.designed_loop->stable)
    r.loop_failures.front() += ": the fixed-point encoding of the gains makes it so";
  else if (r.unfiltered_loop && r.unfiltered_loop->stable)
    r.loop_failures.front() += ": the biquad filters on the loop make it so";
  else
    r.loop_failures.front() += ": the pass band is too high for this sampling period";
}

LoopTuneReport Report(CZel_Setup& setup, const LoopDefinition& d,
                      const std::vector<double>& designed) {
  LoopTuneReport r;
  r.loop = d.loop;
  r.pass_band_name = d.pass_band;
  r.damping_name = d.damping;
  r.pass_band_rad_s = ZelQuietBaseValue(setup, d.pass_band);
  r.damping = ZelQuietBaseValue(setup, d.damping);
  r.sampling_period_s = d.loop == TunedLoop::Current ? ZelQuietBaseValue(setup, param::Ts_C)
                                                     : SpeedPositionLoopPeriod(setup);
  for (std::size_t i = 0; i < d.gains.size(); ++i) {
    const GainRow& row = d.gains[i];
    TunedGain g;
    g.name = row.scaled;
    g.mantissa = row.mantissa;
    g.shift = row.shift;
    g.designed = designed[i];
    g.stored = ZelQuietBaseValue(setup, row.scaled);
    g.mantissa_value = ZelQuietBaseValue(setup, row.mantissa);
    g.shift_value = ZelQuietBaseValue(setup, row.shift);
    JudgeGain(setup, row, g);
    r.gains.push_back(std::move(g));
  }
  AnalyseLoop(setup, r);
  JudgeLoop(setup, r);
  return r;
}

}  // namespace

int TuneController(CZel_Setup& setup, TunedLoop loop, LoopTuneReport* report) {
  const LoopDefinition& d = Definition(loop);
  // Every chip pair is looked up before the design writes anything.
  bool complete = true;
  for (const GainRow& row : d.gains) {
    if (!FindParameters(setup, row.scaled, row.mantissa, row.shift)) complete = false;
  }
  if (!complete || d.design(setup) != StepResult::Done) return 0;
  std::vector<double> designed;
  for (const GainRow& row : d.gains) designed.push_back(ZelQuietBaseValue(setup, row.scaled));

  int done = 1;
  for (const char* name : GainWriteOrder(loop)) {
    if (RunStep(setup, name, Direction::ToChip) != StepResult::Done) done = 0;
  }
  for (const char* name : d.back) {
    if (RunStep(setup, name, Direction::ToScaled) != StepResult::Done) done = 0;
  }
  if (report) *report = Report(setup, d, designed);
  return done;
}

int TuneCurrentController(CZel_Setup& setup, LoopTuneReport* report) {
  return TuneController(setup, TunedLoop::Current, report);
}
int TuneSpeedController(CZel_Setup& setup, LoopTuneReport* report) {
  return TuneController(setup, TunedLoop::Speed, report);
}
int TunePositionController(CZel_Setup& setup, LoopTuneReport* report) {
  return TuneController(setup, TunedLoop::Position, report);
}

std::vector<std::string> TuneFailures(const LoopTuneReport& report) {
  std::vector<std::string> failures;
  for (const TunedGain& g : report.gains) {
    if (g.unusable) failures.push_back(g.warnings.empty() ? g.name : g.warnings.front());
  }
  failures.insert(failures.end(), report.loop_failures.begin(), report.loop_failures.end());
  return failures;
}

}  // namespace dcservo
