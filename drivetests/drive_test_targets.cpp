#include "drivetests/drive_test_targets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "design/drive_model.h"
#include "design/inertia_spread.h"
#include "design/resonance.h"
#include "host/zel_format.h"
#include "names/drive_names.h"

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

const char* kRippleRemedy =
    "Cause: one count of the speed measurement moves the current reference by more than the "
    "target. Fix: take the tuner's proposal (dcservo tune speed --apply-proposal): a lower "
    "Passband with a low pass on the speed feedback.";

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
      line += Format("current ripple at constant speed at most %.0f %% of In peak, ",
                     t.ripple_share_of_In * 100);
    if (t.tracking_tolerance > 0.0)
      line += Format("the loop model's margins of the gains that ran at least %.0f deg", 
                     kPhaseMarginFail_deg) +
              Format(" and %.0f dB (with any resonance found), no oscillation that grows or goes "
                     "on at standstill, RMS current within In, time at the current limit within "
                     "the prediction's, ",
                     kGainMarginFail_dB);
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
                     figures.ripple->peak_A <= limit, kRippleRemedy};
}

namespace {

bool IsSpeedTest(const TestTargets& t) { return std::string_view(t.test) == "speed"; }

std::string MarginsMeasured(const LoopMargins& m) {
  std::string text = m.phase_margin_deg ? Format("phase margin %.1f deg", *m.phase_margin_deg)
                                        : std::string("no phase margin");
  text += m.gain_margin_db ? Format(", gain margin %.1f dB", *m.gain_margin_db)
                           : std::string(", gain margin unlimited");
  if (!m.stable) text += Format(", unstable (|z| = %.4g)", m.pole_radius);
  return text;
}

bool MarginsKept(const LoopMargins& m) {
  return m.stable && (!m.phase_margin_deg || *m.phase_margin_deg >= kPhaseMarginFail_deg) &&
         (!m.gain_margin_db || *m.gain_margin_db >= kGainMarginFail_dB);
}

std::string MarginsRemedy(const TestTargets& t, const TuningRunFigures& f) {
  if (!f.slow_inner_loop.empty()) return "Cause: " + f.slow_inner_loop + ".";
  if (IsSpeedTest(t))
    return "Cause: the speed loop's gains leave this plant too little margin. Fix: take the "
           "tuner's proposal (dcservo tune speed --apply-proposal), or a lower Passband and "
           "Tune in the test.";
  return "Cause: the position loop's gains leave this plant too little margin. Fix: a lower "
         "Passband (PB_P) and Tune in the test (dcservo tune position).";
}

TargetCheck MarginsCheck(const TestTargets& t, const TuningRunFigures& f) {
  return {"stability margins of the gains that ran (loop model)",
          Format("stable, phase margin at least %.0f deg", kPhaseMarginFail_deg) +
              Format(" and gain margin at least %.0f dB", kGainMarginFail_dB),
          MarginsMeasured(*f.margins) +
              (f.inertia_spread ? "; " + InertiaSpreadText(*f.inertia_spread) : std::string()),
          MarginsKept(*f.margins), MarginsRemedy(t, f)};
}

TargetCheck ResonanceCheck(const Resonance& r) {
  return {Format("resonance at %.4g Hz", r.frequency_hz),
          Format("leaves the speed loop its margins (loop gain there under %.0f dB", 
                 kLimitingLoopGain_dB) +
              Format(", a ring under %.0f converter steps)", kLimitingRing_steps),
          Format("loop gain %.1f dB", r.loop_gain_db) + Format(", ring %.3g A RMS", r.ring_A),
          !r.limits_loop,
          Format("Cause: a mechanical resonance of the coupling at %.4g Hz takes the speed "
                 "loop's margins. Fix: a notch for it (dcservo tune speed --notch %.4g "
                 "--apply-notch, or the Filters button in the test), or a lower Passband.",
                 r.frequency_hz, r.frequency_hz)};
}

TargetCheck OscillationCheck(const TestTargets& t, const TuningRunFigures& f) {
  const char* band = IsSpeedTest(t) ? param::PB_S : param::PB_P;
  return {kOscillationFigure, "none that grows, none at standstill",
          f.oscillation.empty() ? std::string("none") : f.oscillation, f.oscillation.empty(),
          std::string("Cause: the loop on the drive is less stable than the setup's plant "
                      "lets the model see: a coupling's resonance, or a load unlike the "
                      "setup's. Fix: a lower Passband (") +
              band +
              ") and Tune, the total inertia identified again (dcservo test inertia, the "
              "Identify button), and a notch where a resonance shows (dcservo tune speed "
              "--notch HZ)."};
}

std::string ProfileRamps(const TestTargets& t) {
  return IsSpeedTest(t) ? "TaPS, TaNS" : "TaPP, TaNP";
}

std::string LoadRemedy(const TestTargets& t) {
  return "Cause: the load takes more current than the motor carries continuously (friction, or "
         "a load heavier than the motor is rated for), and the motor heats. Fix: free the load "
         "and check its friction, or a gentler profile: a lower final value, longer ramps (" +
         ProfileRamps(t) + ").";
}

TargetCheck RmsCurrentCheck(const TestTargets& t, const RunCurrent& c) {
  return {"RMS current over the run", Format("at most In, %.3g A", c.rated_A),
          Format("%.3g A", c.rms_A) + Format(" (%.0f %% of In)", 100.0 * c.rms_A / c.rated_A),
          c.rms_A <= c.rated_A, LoadRemedy(t)};
}

TargetCheck HeldCurrentCheck(const TestTargets& t, const RunCurrent& c) {
  return {"current held at constant speed", Format("at most In, %.3g A", c.rated_A),
          Format("%.3g A", c.held_A) + Format(" (%.0f %% of In)", 100.0 * c.held_A / c.rated_A),
          c.held_A <= c.rated_A, LoadRemedy(t)};
}

// A few log samples and a tenth of what the prediction holds there: the measured log and the
// model sample the ramps' ends differently.
constexpr double kAtLimitSlackShare = 0.1;
constexpr double kAtLimitSlackSamples = 2.0;

TargetCheck AtLimitCheck(const TestTargets& t, const TuningRunFigures& f, const RunCurrent& c) {
  const double period = f.prediction.time.size() > 1 ? f.prediction.time[1] - f.prediction.time[0]
                                                      : 0.0;
  const double planned = f.predicted_saturation_s * (1.0 + kAtLimitSlackShare) +
                         kAtLimitSlackSamples * period;
  const double allowed = std::min(planned, kMostShareAtLimit * c.run_s);
  return {"time at the current limit",
          Format("at most %.4g ms", allowed * 1e3) +
              Format(" (the profile's prediction holds it %.4g ms", f.predicted_saturation_s * 1e3) +
              Format(" at %.3g A", c.limit_A) +
              Format(", and no run more than %.0f %% of its time)", kMostShareAtLimit * 100),
          Format("%.4g ms", c.at_limit_s * 1e3) + Format(", peak current %.3g A", c.peak_A),
          c.at_limit_s <= allowed,
          "Cause: the ramps need more current than the test's limit gives: a load heavier than "
          "Jt says, or friction. Fix: identify the total inertia (dcservo test inertia, the "
          "Identify button), longer ramps (" +
              ProfileRamps(t) + ") or a higher TestLimitCurrent."};
}

}  // namespace

std::vector<TargetCheck> CheckRunHealthTargets(const TestTargets& t, const TuningRunFigures& f) {
  std::vector<TargetCheck> checks;
  // A resonance that limits the loop is the cause of the rest: its check goes first.
  if (f.resonance) checks.push_back(ResonanceCheck(*f.resonance));
  if (f.margins) checks.push_back(MarginsCheck(t, f));
  // A load beyond the motor's current, or ramps beyond its limit, make the current swing
  // and ripple: they go before the oscillation and the ripple.
  if (f.current) {
    if (f.current->rated_A > 0.0) {
      checks.push_back(RmsCurrentCheck(t, *f.current));
      if (f.current->held_A > 0.0) checks.push_back(HeldCurrentCheck(t, *f.current));
    }
    if (f.current->limit_A > 0.0) checks.push_back(AtLimitCheck(t, f, *f.current));
  }
  // An on-line run has no log to look into: it names no oscillation it did not look for.
  if (!f.on_line) checks.push_back(OscillationCheck(t, f));
  if (auto ripple = CheckRippleTarget(t, f)) checks.push_back(std::move(*ripple));
  return checks;
}

std::vector<std::string> RunWarnings(const TuningRunFigures& f) {
  std::vector<std::string> warnings;
  if (f.margins && MarginsKept(*f.margins)) {
    std::vector<std::string> failures;
    JudgeMargins(*f.margins, failures, warnings);
  }
  if (f.inertia_spread) {
    if (std::string w = InertiaSpreadWarning(*f.inertia_spread); !w.empty())
      warnings.push_back(std::move(w));
  }
  return warnings;
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
    checks.push_back({"settling after the first ramp",
                      Format("settled within %.4g", m.settling_band) + unit +
                          (m.settling_average > 1
                               ? Format(" (the response averaged over %.0f samples)",
                                        m.settling_average)
                               : std::string()) +
                          " before the reference moves on",
                      !settled                 ? std::string("not settled")
                      : SettlingBound(m, 0)    ? Format("under %.4g ms", *SettlingBound(m, 0) * 1e3)
                                               : Format("%.4g ms", m.settling_s[0] * 1e3),
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
  // What makes a run unsafe to walk away from goes before how well it tracked: its miss is
  // the cause the failure names.
  std::vector<TargetCheck> health = CheckRunHealthTargets(t, figures);
  health.insert(health.end(), checks.begin(), checks.end());
  return health;
}

std::vector<TargetCheck> CheckSupplyTargets(const TestTargets& t, double vdc, double lo,
                                            double hi, double level) {
  if (!t.supply_in_range) return {};
  if (std::isnan(vdc)) return {NotMeasured("supply voltage")};
  // The same reading as the result row beside it: 48 V there, not 47.98 V here.
  const std::string measured =
      level > 0.0 ? ZelFormatValue(vdc, level) + " V" : Format("%.4g V", vdc);
  return {{"supply voltage", Format("from %.4g V to %.4g V", lo, hi), measured,
           vdc >= lo && vdc <= hi}};
}

std::string MissedTargetText(const TestTargets& t, const std::vector<TargetCheck>& checks) {
  for (const TargetCheck& c : checks) {
    if (!c.met)
      return "Target missed: " + c.figure + " " + c.measured + ", target " + c.target + ". " +
             (c.remedy.empty() ? "Check " + std::string(t.check) + "." : c.remedy);
  }
  return {};
}

}  // namespace dcservo
