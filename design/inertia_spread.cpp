#include "design/inertia_spread.h"

#include <cstdio>

namespace dcservo {

std::optional<InertiaSpreadMargins> MarginsOverInertia(const DriveModel& model,
                                                       ModelStructure structure, TunedLoop loop) {
  if (loop == TunedLoop::Current || structure == ModelStructure::Current) return std::nullopt;
  InertiaSpreadMargins spread;
  for (double factor : kInertiaSpreadFactors) {
    DriveModel changed = model;
    changed.J *= factor;
    const std::optional<LoopMargins> m = MarginsOf(changed, structure, loop);
    if (!m) return std::nullopt;
    spread.cases.push_back({factor, *m});
    if (m->pole_radius > spread.pole_radius) {
      spread.pole_radius = m->pole_radius;
      spread.pole_factor = factor;
    }
    spread.stable = spread.stable && m->stable;
    if (m->phase_margin_deg &&
        (!spread.phase_margin_deg || *m->phase_margin_deg < *spread.phase_margin_deg)) {
      spread.phase_margin_deg = m->phase_margin_deg;
      spread.phase_factor = factor;
    }
    if (m->gain_margin_db &&
        (!spread.gain_margin_db || *m->gain_margin_db < *spread.gain_margin_db)) {
      spread.gain_margin_db = m->gain_margin_db;
      spread.gain_factor = factor;
    }
  }
  return spread;
}

std::string InertiaSpreadText(const InertiaSpreadMargins& s) {
  char text[240];
  std::snprintf(text, sizeof text, "at %.3g to %.3g x Jt: ", kInertiaSpreadFactors[0],
                kInertiaSpreadFactors[1]);
  std::string out = text;
  if (s.phase_margin_deg) {
    std::snprintf(text, sizeof text, "phase margin %.1f deg (at %.3g x Jt)", *s.phase_margin_deg,
                  s.phase_factor);
    out += text;
  } else {
    out += "no phase margin";
  }
  if (s.gain_margin_db) {
    std::snprintf(text, sizeof text, ", gain margin %.1f dB (at %.3g x Jt)", *s.gain_margin_db,
                  s.gain_factor);
    out += text;
  } else {
    out += ", gain margin unlimited";
  }
  if (!s.stable) {
    std::snprintf(text, sizeof text, " (unstable at %.3g x Jt, |z| = %.4g)", s.pole_factor,
                  s.pole_radius);
    out += text;
  }
  return out;
}

std::string InertiaSpreadWarning(const InertiaSpreadMargins& s) {
  const bool low_phase = s.phase_margin_deg && *s.phase_margin_deg < kPhaseMarginFail_deg;
  const bool low_gain = s.gain_margin_db && *s.gain_margin_db < kGainMarginFail_dB;
  if (s.stable && !low_phase && !low_gain) return {};
  char limits[80];
  std::snprintf(limits, sizeof limits, " (under %.0f deg or %.0f dB refuses a tuning)",
                kPhaseMarginFail_deg, kGainMarginFail_dB);
  return "with the inertia off by a factor of two the loop loses its margins: " +
         InertiaSpreadText(s) + limits + "; identify Jt again (test inertia) before relying on it";
}

}  // namespace dcservo
