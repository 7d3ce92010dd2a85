#include "drivetests/test_targets.h"

#include <cmath>
#include <cstdio>

namespace dcservo {

namespace {

// The model holds the firmware's timing, so a measured rise far from the predicted one means
// the motor is not the one the setup describes. Tracking carries the load's unknowns
// (friction, a coupling) and the measurement's steps, so it gets more room.
constexpr TestTargets kTable[] = {
    {"vdc", 0.0, 0.0, 0.0, 0.0, true, "the power supply's voltage and its connection to the drive"},
    {"current", 0.30, 20.0, 0.0, 0.0, false,
     "the motor's resistance and inductance, its wiring, and that the shaft is blocked"},
    {"speed", 0.0, 20.0, 0.50, 0.5, false,
     "that the shaft turns freely, the total inertia, the speed sensor and the speed loop's "
     "pass band",
     0.10},
    {"position", 0.0, 20.0, 0.50, 0.5, false,
     "that the shaft turns freely, the speed loop, the position sensor and the position loop's "
     "pass band"},
};

// Sized by the text itself: the tracking target's clause is longer than any fixed line.
std::string Format(const char* format, double a, double b = 0.0) {
  const int length = std::snprintf(nullptr, 0, format, a, b);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  std::snprintf(text.data(), text.size() + 1, format, a, b);
  return text;
}

TargetCheck NotMeasured(const char* figure) {
  return {figure, "measured", "nothing was measured", false};
}

}  // namespace

const TestTargets* TargetsOf(const std::string& test) {
  for (const TestTargets& t : kTable) {
    if (test == t.test) return &t;
  }
  return nullptr;
}

std::vector<std::string> TargetDescriptions() {
  std::vector<std::string> lines;
  for (const TestTargets& t : kTable) {
    std::string line = std::string(t.test) + ": ";
    if (t.supply_in_range) {
      lines.push_back(line + "the supply within the drive's motor supply range");
      continue;
    }
    if (t.rise_tolerance > 0.0)
      line += Format("rise time within %.0f %% of predicted, ", t.rise_tolerance * 100);
    if (t.tracking_tolerance > 0.0)
      line += Format("RMS tracking error at most %.0f %% above predicted plus half a "
                     "measurement step, the response off the prediction by at most %.0f %% of "
                     "the predicted error plus one step, ",
                     t.tracking_tolerance * 100, t.tracking_tolerance * 100);
    if (t.follow_share > 0.0)
      line += Format("RMS tracking error under %.0f %% of the reference's motion, settled "
                     "after each ramp, ",
                     t.follow_share * 100);
    if (t.ripple_share_of_In > 0.0)
      line += Format("current ripple at constant speed against %.0f %% of In peak (a "
                     "commissioning target; a lone test's warning), ",
                     t.ripple_share_of_In * 100);
    lines.push_back(line + Format("overshoot under %.0f %%", t.max_overshoot_pct));
  }
  return lines;
}

std::vector<TargetCheck> CheckStepTargets(const TestTargets& t,
                                          const std::optional<StepFigures>& measured,
                                          const std::optional<StepFigures>& predicted) {
  if (!measured) return {NotMeasured("step response")};
  std::vector<TargetCheck> checks;
  if (t.rise_tolerance > 0.0) {
    if (!predicted) {
      checks.push_back({"rise time", "predicted by the loop model", "no prediction", false});
    } else {
      const double p = predicted->rise_time_s;
      checks.push_back({"rise time",
                        Format("within %.0f %% of predicted %.4g ms", t.rise_tolerance * 100,
                               p * 1e3),
                        Format("%.4g ms", measured->rise_time_s * 1e3),
                        p > 0.0 && std::abs(measured->rise_time_s / p - 1.0) <= t.rise_tolerance});
    }
  }
  if (t.max_overshoot_pct > 0.0)
    checks.push_back({"overshoot", Format("under %.0f %%", t.max_overshoot_pct),
                      Format("%.3g %%", measured->overshoot_pct),
                      measured->overshoot_pct < t.max_overshoot_pct});
  return checks;
}

std::optional<TargetCheck> CheckRippleTarget(const TestTargets& t,
                                             const TuningRunFigures& figures) {
  if (!(t.ripple_share_of_In > 0.0) || !figures.ripple || !(figures.rated_A > 0.0))
    return std::nullopt;
  const double limit = t.ripple_share_of_In * figures.rated_A;
  return TargetCheck{"current ripple at constant speed (peak)",
                     Format("at most %.3g A (%.0f %% of In)", limit, t.ripple_share_of_In * 100),
                     Format("%.3g A", figures.ripple->peak_A) +
                         Format(" (RMS %.3g A)", figures.ripple->rms_A),
                     figures.ripple->peak_A <= limit};
}

std::vector<TargetCheck> CheckTrackingTargets(const TestTargets& t,
                                              const TuningRunFigures& figures) {
  if (figures.cycles.empty()) return {NotMeasured("tracking")};
  const CycleFigures& m = figures.cycles.front();
  const std::string unit = " " + figures.unit;
  std::vector<TargetCheck> checks;
  if (t.follow_share > 0.0) {
    const double limit = t.follow_share * m.reference_rms;
    checks.push_back({kFollowedFigure,
                      Format("RMS tracking error under %.0f %% of the reference's motion, %.4g",
                             t.follow_share * 100, limit) +
                          unit,
                      Format("%.4g", m.rms_error) + unit, m.rms_error < limit});
    const bool settled = !std::isnan(m.settling_s[0]);
    checks.push_back({"settling after the first ramp", "settled before the reference moves on",
                      settled ? Format("%.4g ms", m.settling_s[0] * 1e3) : "not settled",
                      settled});
  }
  if (t.tracking_tolerance > 0.0) {
    if (!figures.predicted) {
      checks.push_back({"tracking error (RMS)", "predicted by the loop model", "no prediction",
                        false});
    } else {
      const CycleFigures& p = *figures.predicted;
      // The measurement's steps add their own error, up to half a step, that no loop removes.
      const double limit = p.rms_error * (1.0 + t.tracking_tolerance) + figures.quantum / 2;
      checks.push_back({"tracking error (RMS)",
                        Format("at most %.4g", limit) + unit +
                            Format(" (predicted %.4g", p.rms_error) + unit +
                            Format(" + %.0f %%", t.tracking_tolerance * 100) +
                            Format(" + half a measurement step of %.4g", figures.quantum) + unit +
                            ")",
                        Format("%.4g", m.rms_error) + unit, m.rms_error <= limit});
      // Below the limit is not enough: a run far better than predicted says that the model's
      // plant is not the drive's (an inertia over-identified, say), and every figure judged
      // against that prediction is loose. Both traces carry the measurement's steps.
      if (m.deviation_rms) {
        const double off = p.rms_error * t.tracking_tolerance + figures.quantum;
        checks.push_back({"response off the prediction (RMS)",
                          Format("at most %.4g", off) + unit +
                              Format(" (%.0f %% of the predicted error", t.tracking_tolerance * 100) +
                              Format(" + one measurement step of %.4g", figures.quantum) + unit +
                              ")",
                          Format("%.4g", *m.deviation_rms) + unit, *m.deviation_rms <= off});
      }
    }
  }
  if (t.max_overshoot_pct > 0.0)
    checks.push_back({"overshoot", Format("under %.0f %%", t.max_overshoot_pct),
                      Format("%.3g %%", m.overshoot_percent),
                      m.overshoot_percent < t.max_overshoot_pct});
  return checks;
}

std::vector<TargetCheck> CheckSupplyTargets(const TestTargets& t, double vdc, double lo,
                                            double hi) {
  if (!t.supply_in_range) return {};
  if (std::isnan(vdc)) return {NotMeasured("supply voltage")};
  return {{"supply voltage", Format("from %.4g V to %.4g V", lo, hi), Format("%.4g V", vdc),
           vdc >= lo && vdc <= hi}};
}

std::string MissedTargetText(const TestTargets& t, const std::vector<TargetCheck>& checks) {
  for (const TargetCheck& c : checks) {
    if (!c.met)
      return "Target missed: " + c.figure + " " + c.measured + ", target " + c.target +
             ". Check " + t.check + ".";
  }
  return {};
}

}  // namespace dcservo
