#include "design/notch_proposal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace dcservo {

namespace {

DriveModel WithNotch(const DriveModel& model, const BiquadCoefficients& notch) {
  DriveModel out = model;
  // The speed controller's output: after any filter already there, as the slots run.
  out.current_reference_filters.push_back(notch);
  return out;
}

bool AboveWarnings(const std::optional<LoopMargins>& margins) {
  if (!margins) return false;
  std::vector<std::string> failures, warnings;
  JudgeMargins(*margins, failures, warnings);
  return failures.empty() && warnings.empty();
}

}  // namespace

std::string NotchHzText(double hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", hz);
  return text;
}

std::string NotchFrequencyRefusal(double frequency_hz, double ts) {
  const std::string given = "no notch at " + NotchHzText(frequency_hz) + " Hz: ";
  if (!(frequency_hz > 0.0) || !std::isfinite(frequency_hz))
    return given + "a frequency above 0 Hz is needed";
  const double whole_hz = std::round(frequency_hz);
  const std::string nyquist =
      "the speed loop's Nyquist frequency (" + NotchHzText(0.5 / ts) + " Hz)";
  if (whole_hz < 1.0) return given + "a notch sits at a whole hertz, at least 1 Hz";
  if (whole_hz * ts < 0.5) return {};
  if (frequency_hz * ts < 0.5)
    return given + "a notch sits at a whole hertz, and " + NotchHzText(whole_hz) +
           " Hz is not below " + nyquist;
  return given + "it is not below " + nyquist;
}

std::optional<NotchProposal> ProposeNotch(const DriveModel& model, ModelStructure structure,
                                          double frequency_hz) {
  const double ts = model.OuterPeriod();
  if (!NotchFrequencyRefusal(frequency_hz, ts).empty()) return std::nullopt;
  std::optional<NotchProposal> narrowest;
  for (double q : kNotchQs) {
    // In whole hertz, as a user would type it.
    const FilterDescription notch{kPlaceSpeedControllerOutput, kNotch, std::round(frequency_hz),
                                  q};
    const std::optional<BiquadCoefficients> c = StoredCoefficientsOf(notch, ts);
    if (!c) continue;
    NotchProposal p;
    p.notch = notch;
    p.margins = MarginsOf(WithNotch(model, *c), structure, TunedLoop::Speed);
    p.margins_kept = AboveWarnings(p.margins);
    // Exactly at its frequency a notch passes nothing; past 100 dB the figure says no more.
    p.depth_db =
        std::max(20.0 * std::log10(std::abs(FilterResponse(*c, ts, frequency_hz))), -100.0);
    if (p.margins_kept) return p;
    narrowest = p;
  }
  return narrowest;
}

int ApplyNotch(CZel_Setup& setup, const NotchProposal& p) {
  const int filter = FirstFreeFilter(setup);
  return filter ? PlaceFilter(setup, filter, p.notch) : 0;
}

std::string DescribeNotch(const NotchProposal& p) {
  char text[300];
  int n = std::snprintf(text, sizeof text,
                        "notch at %.0f Hz, Q %.2g, on the speed controller's output (%.0f dB at "
                        "the resonance)",
                        p.notch.frequency_hz, p.notch.q, p.depth_db);
  if (p.margins && p.margins->phase_margin_deg && n > 0 && n < static_cast<int>(sizeof text))
    n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                       ": phase margin %.0f deg", *p.margins->phase_margin_deg);
  if (p.margins && p.margins->gain_margin_db && n > 0 && n < static_cast<int>(sizeof text))
    n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                       ", gain margin %.1f dB", *p.margins->gain_margin_db);
  if (!p.margins_kept && n > 0 && n < static_cast<int>(sizeof text))
    std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                  "; below the warning limits even at its narrowest");
  return text;
}

}  // namespace dcservo
