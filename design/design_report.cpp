#include "design/design_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace dcservo {
namespace {

std::string Format(const char* pattern, ...) {
  char text[512];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

std::string ComplexText(std::complex<double> z) {
  if (z.imag() == 0.0) return Format("%.6g", z.real());
  return Format("%.6g %c %.6gj", z.real(), z.imag() < 0.0 ? '-' : '+', std::abs(z.imag()));
}

std::string Poles(const std::vector<std::complex<double>>& poles) {
  std::string text;
  for (const auto& p : poles) {
    // A conjugate pair is shown once.
    if (p.imag() < 0.0) continue;
    if (!text.empty()) text += ", ";
    text += p.imag() > 0.0 ? Format("%.6g +/- %.6gj", p.real(), p.imag()) : ComplexText(p);
  }
  return text;
}

void AppendWarnings(std::string& out, const std::vector<std::string>& warnings,
                    const char* indent) {
  for (const std::string& w : warnings) out += std::string(indent) + "warning: " + w + "\n";
}

std::string Optional(const char* format, const std::optional<double>& v, const char* none) {
  return v ? Format(format, *v) : std::string(none);
}

std::string Loop(const char* label, const std::optional<ClosedLoopSummary>& s) {
  if (!s) return {};
  std::string text = Format("  %s: largest pole radius %.6g", label, s->pole_radius);
  text += s->bandwidth_rad_s ? Format(", -3 dB at %.6g rad/s", *s->bandwidth_rad_s)
                             : std::string(", no -3 dB point below the Nyquist limit");
  return text + "\n    " + MarginsText(*s) + "\n    poles " + Poles(s->poles) + "\n";
}

}  // namespace

std::string MarginsText(const LoopMargins& m) {
  return Optional("crossover %.4g rad/s", m.crossover_rad_s, "no crossover") + ", " +
         Optional("phase margin %.1f deg", m.phase_margin_deg, "no phase margin") + ", " +
         Optional("gain margin %.1f dB", m.gain_margin_db, "gain margin unlimited") +
         (m.stable ? "" : " (unstable)");
}

double Decibels(double gain) {
  return gain > 0.0 ? 20.0 * std::log10(gain) : -std::numeric_limits<double>::infinity();
}

std::string FormatTuneReport(const LoopTuneReport& r) {
  std::string out = Format("%s loop: %s = %.6g rad/s, %s = %.6g, sampling period %.6g s\n",
                           LoopName(r.loop), r.pass_band_name.c_str(), r.pass_band_rad_s,
                           r.damping_name.c_str(), r.damping, r.sampling_period_s);
  out += Format("  %-10s %-14s %-14s %s\n", "gain", "designed", "stored", "chip pair");
  for (const TunedGain& g : r.gains) {
    out += Format("  %-10s %-14.8g %-14.8g %s %.10g, %s %.10g\n", g.name.c_str(), g.designed,
                  g.stored, g.mantissa.c_str(), g.mantissa_value, g.shift.c_str(), g.shift_value);
  }
  out += Loop("closed loop with the stored gains", r.stored_loop);
  if (r.inertia_spread) out += "    " + InertiaSpreadText(*r.inertia_spread) + "\n";
  if (r.ripple)
    out += Format("  one speed count (%.4g rad/s): %.3g A of current reference, target %.3g A "
                  "(%s up to %.4g rad/s)\n",
                  r.ripple->quantum_rad_s, r.ripple->per_count_A, r.ripple->allowed_A,
                  r.pass_band_name.c_str(), r.ripple->highest_pass_band_rad_s);
  // The ripple's warning carries the proposal where it keeps the target.
  const bool warned = r.ripple && !r.ripple->met() && r.proposal && r.proposal->RippleMet();
  if (r.proposal && !warned)
    out += "  proposal: " + DescribeProposal(*r.proposal, r.pass_band_name) + "\n";
  for (const TunedGain& g : r.gains) AppendWarnings(out, g.warnings, "  ");
  AppendWarnings(out, r.warnings, "  ");
  for (const std::string& f : r.loop_failures) out += "  not usable: " + f + "\n";
  return out;
}

std::string FormatBiquadReport(const BiquadReport& r) {
  std::string out = Format("slots (Ts_S = %.6g s): %s %d, %s %d, %s %d\n", r.sampling_period_s,
                           kBiquadCountNames[0], r.counts[0], kBiquadCountNames[1], r.counts[1],
                           kBiquadCountNames[2], r.counts[2]);
  for (int s = 0; s < kBiquadFilterCount; ++s) {
    const BiquadSlot& slot = r.slots[s];
    const BiquadCoefficients& c = slot.quantised;
    out += Format("  slot %d: B0 %.0f  B1 %.0f  B2 %.0f  A1 %.0f  A2 %.0f  SF %.0f\n", s + 1, c.b0,
                  c.b1, c.b2, c.a1, c.a2, slot.scale_factor);
  }
  if (r.filters.empty()) out += "no filter is on\n";
  for (const FilterReport& f : r.filters) {
    out += Format("filter %d -> slot %d, %s: %s, ", f.filter, f.slot, FilterPlaceName(f.place),
                  f.type_name.empty() ? "no type" : f.type_name.c_str());
    const bool lead_lag = IsLeadLag(f.type);
    out += lead_lag ? Format("lead %.6g Hz, lag %.6g Hz\n", f.frequency_hz, f.lag_frequency_hz)
                    : Format("%.6g Hz, Q %.6g\n", f.frequency_hz, f.q);
    if (!f.refused) {
      out += Format("  gain at 0 Hz %.6g (%.3g dB), at %.6g Hz %.6g (%.3g dB)\n", f.dc_gain,
                    Decibels(f.dc_gain), f.frequency_hz, f.corner_gain, Decibels(f.corner_gain));
      out += "  poles " + Poles({f.poles.begin(), f.poles.end()}) +
             Format(" (radius %.6g)\n", f.pole_radius);
    }
    AppendWarnings(out, f.warnings, "  ");
  }
  AppendWarnings(out, r.warnings, "");
  return out;
}

}  // namespace dcservo
