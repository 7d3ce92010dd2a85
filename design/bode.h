#pragma once
// The frequency response of the speed loop's biquad filters as the drive runs them, and of the
// open speed loop with them, beside the spectrum that the last speed run measured: the
// arithmetic that the filters dialog draws and `dcservo filters --bode` writes.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "design/biquad_designer.h"
#include "design/drive_model.h"
#include "design/last_speed_run.h"
#include "host/zel_setup.h"

namespace dcservo {

// The frequency response of the filters as the drive runs them: from the coefficient slots
// that the designer writes (quantised, scaled, unity-gain corrected), at `points`
// frequencies spaced evenly on a log axis up to the Nyquist frequency of the slow loop.
struct BodeCurve {
  std::string name;  // "Filter 1", or the place for a cascade
  int filter = 0;    // 1..3; 0 for a cascade
  int place = 0;
  std::vector<double> magnitude_db;
  std::vector<double> phase_deg;  // unwrapped along the frequency axis
};
struct BodeData {
  double sampling_period_s = 0.0;
  std::vector<double> frequency_hz;
  std::vector<BodeCurve> curves;  // the designed filters in slot order, then the cascades
  // Filters that are on but could not be designed: "Filter 2: why".
  std::vector<std::string> refused;
  // The speed loop's margins with the filters as set and without any, from the loop model;
  // absent when the setup lacks what the model needs.
  std::optional<LoopMargins> speed_loop, speed_loop_unfiltered;
  // The open speed loop with the filters, from the loop model, drawn after the filters.
  std::optional<BodeCurve> open_speed_loop;
  // What the last speed run measured at this sampling period, if any, and its spectrum's
  // level at each frequency above (dB of 1 A); the frequencies then include its bins.
  std::optional<MeasuredSpectrum> measured;
  std::vector<double> spectrum_db;
};
// "Speed loop with these filters: crossover ..., phase margin ...; without filters: ..."
std::string SpeedLoopMarginsText(const BodeData& data);
// "Measured resonance 799 Hz (24.7 dB): limits the loop", the last speed run's; empty
// without a spectrum.
std::string MeasuredSpectrumText(const BodeData& data);
// The designer runs on the setup's filter description; the slots it holds are restored.
BodeData ComputeBodeData(CZel_Setup& setup, int points = 400);

// The coefficient slots and counts that the designer writes, as the setup holds them.
using SavedFilterSlots = std::vector<std::pair<std::string, double>>;
SavedFilterSlots SaveFilterSlots(const CZel_Setup& setup);
void RestoreFilterSlots(CZel_Setup& setup, const SavedFilterSlots& saved);

// The loop model reads the slots: `work` sees them designed from the filters as the setup
// describes them, and the setup keeps the slots it held, which follow at OK.
template <class Work>
auto WithFilterSlotsDesigned(CZel_Setup& setup, BiquadReport& report, Work work) {
  const SavedFilterSlots saved = SaveFilterSlots(setup);
  CBiquadDesigner().DesignAllFilters(setup, &report);
  auto result = work();
  RestoreFilterSlots(setup, saved);
  return result;
}

}  // namespace dcservo
