#include "design/tune.h"

#include <cmath>
#include <cstdio>

#include "derive/pipelines.h"
#include "derive/step.h"
#include "design/controller_tuning.h"

namespace dcservo {
namespace {

struct GainRow {
  const char* scaled;
  const char* mantissa;
  const char* shift;
};

// What Tune runs for one loop, in the order the tuning tests run it.
struct LoopDefinition {
  TunedLoop loop;
  int (*design)(CZel_Setup&);
  const char* pass_band;
  const char* damping;
  std::span<const GainRow> gains;
  std::span<const char* const> to_chip;
  std::span<const char* const> back;
  std::span<const char* const> writes;
};

constexpr GainRow kCurrentGains[] = {{"Kp_C_scl", "KPI", "SFTKPI"}, {"Ki_C_scl", "KII", "SFTKII"}};
constexpr const char* kCurrentToChip[] = {"KPI", "KII", "SFTKPI", "SFTKII"};
constexpr const char* kCurrentBack[] = {"Ki_C_scl", "Kp_C_scl"};
constexpr const char* kCurrentWrites[] = {"SFTKPI", "KPI", "SFTKII", "KII"};

constexpr GainRow kSpeedGains[] = {{"Kp_S_scl", "KPS", "SFTKPS"}, {"Ki_S_scl", "KIS", "SFTKIS"}};
constexpr const char* kSpeedToChip[] = {"KPS", "KIS", "SFTKPS", "SFTKIS"};
constexpr const char* kSpeedBack[] = {"Ki_S_scl", "Kp_S_scl"};
constexpr const char* kSpeedWrites[] = {"SFTKPS", "KPS", "SFTKIS", "KIS"};

constexpr GainRow kPositionGains[] = {
    {"Kp_P_scl", "KPP", "SFTKPP"}, {"Ki_P_scl", "KIP", "SFTKIP"}, {"Kd_P_scl", "KDP", "SFTKDP"}};
constexpr const char* kPositionToChip[] = {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"};
constexpr const char* kPositionBack[] = {"Ki_P_scl", "Kp_P_scl", "Kd_P_scl"};
constexpr const char* kPositionWrites[] = {"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"};

const LoopDefinition kLoops[] = {
    {TunedLoop::Current, ComputeCurrentControllerGains, "PB_C", "Dump_C", kCurrentGains,
     kCurrentToChip, kCurrentBack, kCurrentWrites},
    {TunedLoop::Speed, ComputeSpeedControllerGains, "PB_S", "Dump_S", kSpeedGains, kSpeedToChip,
     kSpeedBack, kSpeedWrites},
    {TunedLoop::Position, ComputePositionControllerGains, "PB_P", "Dump_P", kPositionGains,
     kPositionToChip, kPositionBack, kPositionWrites},
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

double Value(CZel_Setup& setup, const char* name) {
  ZelQuietErrors quiet;
  const CZel_Parameter* p = setup.FindParameter(name);
  return p ? p->GetValueInBaseUnit() : 0.0;
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

std::optional<ClosedLoopSummary> Summarise(const std::optional<LoopPlant>& plant,
                                           const std::optional<ControllerGains>& gains) {
  if (!plant || !gains) return std::nullopt;
  const LoopModel model = CloseLoop(*plant, *gains);
  ClosedLoopSummary s;
  s.poles = ClosedLoopPoles(model);
  s.pole_radius = LargestMagnitude(s.poles);
  s.bandwidth_rad_s = ClosedLoopBandwidth(model);
  return s;
}

ControllerGains GainsFrom(const LoopTuneReport& report, double derivative_filter, bool stored) {
  ControllerGains g;
  double* slots[] = {&g.kp, &g.ki, &g.kd};
  for (std::size_t i = 0; i < report.gains.size() && i < 3; ++i)
    *slots[i] = stored ? report.gains[i].stored : report.gains[i].designed;
  g.derivative_filter = derivative_filter;
  return g;
}

bool Stable(const ClosedLoopSummary& s) { return s.pole_radius < 1.0; }

void JudgeLoop(CZel_Setup& setup, LoopTuneReport& r) {
  if (r.loop == TunedLoop::Current) {
    const double tau = Value(setup, "L") / Value(setup, "R");
    if (!(tau > 4.0 * r.sampling_period_s))
      r.warnings.push_back("L/R = " + Number(tau) + " s is not above 4 x Ts_C = " +
                           Number(4.0 * r.sampling_period_s) + " s: " + r.damping_name +
                           " is not used");
  }
  if (!r.stored_loop) {
    r.warnings.push_back("the closed loop was not analysed: the setup lacks the data of its plant");
    return;
  }
  if (Stable(*r.stored_loop)) return;
  std::string text = "the loop is unstable at its sampling period of " +
                     Number(r.sampling_period_s) + " s (closed-loop pole at radius " +
                     Number(r.stored_loop->pole_radius) + ")";
  if (r.designed_loop && Stable(*r.designed_loop))
    text += ": the fixed-point encoding of the gains makes it so";
  else
    text += ": the pass band is too high for this sampling period";
  r.warnings.push_back(text);
}

LoopTuneReport Report(CZel_Setup& setup, const LoopDefinition& d,
                      const std::vector<double>& designed) {
  LoopTuneReport r;
  r.loop = d.loop;
  r.pass_band_name = d.pass_band;
  r.damping_name = d.damping;
  r.pass_band_rad_s = Value(setup, d.pass_band);
  r.damping = Value(setup, d.damping);
  r.sampling_period_s =
      d.loop == TunedLoop::Current ? Value(setup, "Ts_C") : SpeedPositionLoopPeriod(setup);
  for (std::size_t i = 0; i < d.gains.size(); ++i) {
    const GainRow& row = d.gains[i];
    TunedGain g;
    g.name = row.scaled;
    g.mantissa = row.mantissa;
    g.shift = row.shift;
    g.designed = designed[i];
    g.stored = Value(setup, row.scaled);
    g.mantissa_value = Value(setup, row.mantissa);
    g.shift_value = Value(setup, row.shift);
    JudgeGain(setup, row, g);
    r.gains.push_back(std::move(g));
  }
  std::optional<LoopPlant> plant;
  double derivative_filter = 1.0;
  {
    ZelQuietErrors quiet;
    plant = TunedLoopPlant(setup, d.loop);
    if (const auto gains = StoredControllerGains(setup, d.loop))
      derivative_filter = gains->derivative_filter;
  }
  r.stored_loop = Summarise(plant, GainsFrom(r, derivative_filter, true));
  r.designed_loop = Summarise(plant, GainsFrom(r, derivative_filter, false));
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
  if (!complete || !d.design(setup)) return 0;
  std::vector<double> designed;
  for (const GainRow& row : d.gains) designed.push_back(Value(setup, row.scaled));

  int done = 1;
  for (const char* name : d.to_chip) {
    if (RunStep(setup, name, Direction::ToChip) != 1) done = 0;
  }
  for (const char* name : d.back) {
    if (RunStep(setup, name, Direction::ToScaled) != 1) done = 0;
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

std::span<const char* const> TunedChipWriteOrder(TunedLoop loop) { return Definition(loop).writes; }

std::vector<std::string> TuneFailures(const LoopTuneReport& report) {
  std::vector<std::string> failures;
  for (const TunedGain& g : report.gains) {
    if (g.unusable) failures.push_back(g.warnings.empty() ? g.name : g.warnings.front());
  }
  if (report.stored_loop && !Stable(*report.stored_loop))
    failures.push_back("the loop is unstable (pole radius " +
                       Number(report.stored_loop->pole_radius) + ")");
  return failures;
}

}  // namespace dcservo
