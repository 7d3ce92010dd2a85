#include "design/design_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "derive/display_step.h"
#include "host/zel_format.h"

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

// A figure at `step`; one that lies within half a step of 0 is 0 (a pole at 2e-13 among
// poles near 1).
std::string TuneFigureAt(double value, double step) {
  if (step > 0.0 && std::abs(value) < step / 2.0) value = 0.0;
  return ZelFormatValue(value + 0.0, step);
}

std::string TuneFigure(double value) { return ZelFormatValue(value, ZelFigureStep(value)); }

// A pole radius keeps four digits of its distance to the unit circle, so that a stable
// 0.99996 does not show as 1.
double TuneRadiusStep(double radius) {
  const double step = ZelFigureStep(radius), margin = ZelFigureStep(1.0 - radius);
  return margin > 0.0 ? std::min(step, margin) : step;
}

// Every pole at the step of the largest radius.
std::string TunePoles(const std::vector<std::complex<double>>& poles, double radius) {
  const double step = TuneRadiusStep(radius);
  std::string text;
  for (const auto& p : poles) {
    // A conjugate pair is shown once.
    if (p.imag() < 0.0) continue;
    if (!text.empty()) text += ", ";
    text += TuneFigureAt(p.real(), step);
    // A pair whose imaginary parts round to 0 is a double pole on the real axis.
    if (p.imag() >= step / 2.0) text += " +/- " + TuneFigureAt(p.imag(), step) + "j";
  }
  return text;
}

// One step of a setup value, four significant digits where the drive's is not known.
double TuneStepOf(CZel_Setup& setup, const std::string& name, double value) {
  CZel_Parameter* p = setup.FindParameter(name.c_str());
  const double step = p ? DisplayStep(setup, *p) : 0.0;
  return step > 0.0 ? step : ZelFigureStep(value);
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
  std::string text = Format("  %s: largest pole radius %s", label,
                            ZelFormatValue(s->pole_radius, TuneRadiusStep(s->pole_radius)).c_str());
  text += s->bandwidth_rad_s ? ", -3 dB at " + TuneFigure(*s->bandwidth_rad_s) + " rad/s"
                             : std::string(", no -3 dB point below the Nyquist limit");
  return text + "\n    " + MarginsText(*s) + "\n    poles " + TunePoles(s->poles, s->pole_radius) +
         "\n";
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

std::string FormatTuneReport(const LoopTuneReport& r, CZel_Setup& setup) {
  const auto shown = [&setup](const std::string& name, double value) {
    return ZelFormatValue(value, TuneStepOf(setup, name, value));
  };
  std::string out = Format("%s loop: %s = %s rad/s, %s = %s, sampling period %s s\n",
                           LoopName(r.loop), r.pass_band_name.c_str(),
                           shown(r.pass_band_name, r.pass_band_rad_s).c_str(),
                           r.damping_name.c_str(), shown(r.damping_name, r.damping).c_str(),
                           TuneFigure(r.sampling_period_s).c_str());
  out += Format("  %-10s %-14s %-14s %s\n", "gain", "designed", "stored", "chip pair");
  for (const TunedGain& g : r.gains) {
    // Both at one count of the chip pair that stores the gain.
    const double step = TuneStepOf(setup, g.name, g.stored);
    out += Format("  %-10s %-14s %-14s %s %.10g, %s %.10g\n", g.name.c_str(),
                  ZelFormatValue(g.designed, step).c_str(), ZelFormatValue(g.stored, step).c_str(),
                  g.mantissa.c_str(), g.mantissa_value, g.shift.c_str(), g.shift_value);
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
