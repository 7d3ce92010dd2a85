#include "design/bode.h"

#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "derive/biquad_slots.h"
#include "dsp/biquad.h"

namespace dcservo {
namespace {

// Phase in degrees, continued across the ±180° jumps of the principal value.
void Unwrap(std::vector<double>& phase_deg) {
  for (std::size_t i = 1; i < phase_deg.size(); ++i) {
    while (phase_deg[i] - phase_deg[i - 1] > 180) phase_deg[i] -= 360;
    while (phase_deg[i] - phase_deg[i - 1] < -180) phase_deg[i] += 360;
  }
}

BodeCurve CurveOf(std::string name, int filter, int place, const std::vector<double>& freqs,
                  const std::vector<const BiquadSlot*>& slots, double ts) {
  BodeCurve c{std::move(name), filter, place, {}, {}};
  for (double f : freqs) {
    std::complex<double> h = 1.0;
    for (const BiquadSlot* s : slots) h *= FilterResponse(*s, ts, f);
    c.magnitude_db.push_back(20 * std::log10(std::abs(h)));
    c.phase_deg.push_back(std::arg(h) * 180 / std::numbers::pi);
  }
  Unwrap(c.phase_deg);
  return c;
}

// The open speed loop with the designed slots in place, and what the filters cost it.
void AddSpeedLoop(CZel_Setup& setup, BodeData& data) {
  // A setup without the motor's data has no loop to show.
  std::optional<DriveModel> model = DriveModelOf(setup);
  if (!model) return;
  const ModelStructure structure = StructureOfLoop(setup, TunedLoop::Speed);
  data.speed_loop = MarginsOf(*model, structure, TunedLoop::Speed);
  std::vector<double> omega;
  for (double f : data.frequency_hz) omega.push_back(2 * std::numbers::pi * f);
  const auto loop = OpenLoopFrequencyResponse(*model, structure, TunedLoop::Speed, omega);
  BodeCurve curve{"Open speed loop", 0, -1, {}, {}};
  for (const std::complex<double>& l : loop) {
    curve.magnitude_db.push_back(20 * std::log10(std::abs(l)));
    curve.phase_deg.push_back(std::arg(l) * 180 / std::numbers::pi);
  }
  Unwrap(curve.phase_deg);
  data.open_speed_loop = std::move(curve);
  model->speed_reference_filters.clear();
  model->current_reference_filters.clear();
  model->speed_feedback_filters.clear();
  data.speed_loop_unfiltered = MarginsOf(*model, structure, TunedLoop::Speed);
}

// The spectrum that the last speed run measured, where it was logged at the rate that the
// filters run at.
void AddMeasuredSpectrum(const CZel_Setup& setup, BodeData& data) {
  data.measured = LastMeasuredSpectrum(setup);
  if (data.measured && !AtLoopRate(data.measured->current, data.sampling_period_s))
    data.measured.reset();
  if (!data.measured) return;
  data.frequency_hz = WithSpectrumBins(std::move(data.frequency_hz), data.measured->current);
  data.spectrum_db = SpectrumLevelsDb(data.measured->current, data.frequency_hz);
}

}  // namespace

SavedFilterSlots SaveFilterSlots(const CZel_Setup& setup) {
  SavedFilterSlots saved;
  auto keep = [&](const std::string& name) {
    if (const CZel_Parameter* p = setup.FindOptionalParameter(name))
      saved.emplace_back(name, p->GetValueInInternalUnit());
  };
  for (const char* name : kBiquadCountNames) keep(name);
  for (int slot = 1; slot <= kBiquadFilterCount; ++slot)
    for (const std::string& name : SlotParameterNames(slot)) keep(name);
  return saved;
}

void RestoreFilterSlots(CZel_Setup& setup, const SavedFilterSlots& saved) {
  for (const auto& [name, value] : saved) setup.SetParameterValueInInternalUnit(name, value);
}

std::string MeasuredSpectrumText(const BodeData& data) {
  if (!data.measured) return {};
  const std::optional<Resonance>& r = data.measured->resonance;
  // One line under the plots, as short as the margins' lines.
  if (!r) return "Measured spectrum: no resonance stands out";
  char text[200];
  std::snprintf(text, sizeof text, "Measured resonance %.0f Hz (%.1f dB): %s", r->frequency_hz,
                r->peak_db, r->limits_loop ? "limits the loop" : "does not limit the loop");
  return text;
}

std::string SpeedLoopMarginsText(const BodeData& data) {
  // Short enough for two lines under the plots.
  auto brief = [](const LoopMargins& m) {
    char text[120];
    std::snprintf(text, sizeof text, "crossover %.4g rad/s, PM %.1f deg, GM %.1f dB%s",
                  m.crossover_rad_s.value_or(0.0), m.phase_margin_deg.value_or(0.0),
                  m.gain_margin_db.value_or(0.0), m.stable ? "" : " (unstable)");
    return std::string(text);
  };
  if (!data.speed_loop) return {};
  std::string text = "Speed loop: " + brief(*data.speed_loop);
  if (data.speed_loop_unfiltered) text += "\nwithout filters: " + brief(*data.speed_loop_unfiltered);
  return text;
}

BodeData ComputeBodeData(CZel_Setup& setup, int points) {
  BodeData data;
  BiquadReport report;
  const bool drawn = WithFilterSlotsDesigned(setup, report, [&] {
    data.sampling_period_s = report.sampling_period_s;
    const double ts = report.sampling_period_s;
    if (!(ts > 0) || points < 2) return false;
    // From a thousandth of the Nyquist frequency up to just below it, where the response of a
    // prewarped design is still finite.
    const double nyquist = 0.5 / ts;
    const double lo = std::log10(nyquist / 1000), hi = std::log10(nyquist * 0.999);
    for (int i = 0; i < points; ++i)
      data.frequency_hz.push_back(std::pow(10.0, lo + (hi - lo) * i / (points - 1)));
    AddMeasuredSpectrum(setup, data);
    AddSpeedLoop(setup, data);
    return true;
  });
  if (!drawn) return data;
  const double ts = report.sampling_period_s;

  std::vector<const BiquadSlot*> by_place[3];
  for (const FilterReport& f : report.filters) {
    if (f.refused) {
      std::string why = f.warnings.empty() ? "it cannot be designed" : f.warnings.front();
      data.refused.push_back("Filter " + std::to_string(f.filter) + ": " + why);
      continue;
    }
    data.curves.push_back(CurveOf("Filter " + std::to_string(f.filter), f.filter, f.place,
                                  data.frequency_hz, {&f.stored}, ts));
    by_place[f.place].push_back(&f.stored);
  }
  for (int place = 0; place < 3; ++place) {
    if (by_place[place].size() < 2) continue;  // one filter is its own cascade
    data.curves.push_back(CurveOf(std::string(FilterPlaceName(place)) + " (all)", 0, place,
                                  data.frequency_hz, by_place[place], ts));
  }
  return data;
}

}  // namespace dcservo
