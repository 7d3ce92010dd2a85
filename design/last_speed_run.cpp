#include "design/last_speed_run.h"

#include <algorithm>
#include <cmath>

#include "host/zel_quiet_value.h"
#include "names/drive_names.h"

namespace dcservo {
namespace {

// The plug-in edits one drive at a time, and its dialogs run on one thread.
struct Kept {
  const CZel_Setup* setup = nullptr;
  MeasuredSpectrum measured;
};
std::optional<Kept>& Store() {
  static std::optional<Kept> kept;
  return kept;
}

}  // namespace

bool AtLoopRate(const Spectrum& spectrum, double period_s) {
  if (spectrum.Empty() || !(period_s > 0.0)) return false;
  const double nyquist = 0.5 / period_s;
  return std::abs(spectrum.frequency_hz.back() - nyquist) <= 1e-6 * nyquist;
}

void RememberMeasuredSpectrum(const CZel_Setup& setup, const std::optional<Spectrum>& spectrum,
                              const std::optional<Resonance>& resonance) {
  if (!spectrum || !AtLoopRate(*spectrum, ZelQuietBaseValue(setup, param::Ts_S))) {
    Store().reset();
    return;
  }
  Store() = Kept{&setup, {*spectrum, resonance}};
}

std::optional<MeasuredSpectrum> LastMeasuredSpectrum(const CZel_Setup& setup) {
  const std::optional<Kept>& kept = Store();
  if (!kept || kept->setup != &setup) return std::nullopt;
  return kept->measured;
}

void ForgetMeasuredSpectrum() { Store().reset(); }

std::vector<double> SpectrumLevelsDb(const Spectrum& s, std::span<const double> frequency_hz) {
  std::vector<double> levels;
  if (s.Empty() || !(s.resolution_hz > 0.0)) return levels;
  if (s.amplitude.size() < 2) return levels;
  const double last = static_cast<double>(s.amplitude.size() - 1);
  for (double f : frequency_hz) {
    // From the first bin: each stretch's mean was taken out, so the one at 0 Hz holds nothing.
    const double at = std::clamp(f / s.resolution_hz, 1.0, last);
    const auto k = static_cast<std::size_t>(std::floor(at));
    const std::size_t next = std::min(k + 1, s.amplitude.size() - 1);
    const double share = at - static_cast<double>(k);
    levels.push_back((1.0 - share) * s.LevelDb(k) + share * s.LevelDb(next));
  }
  return levels;
}

std::vector<double> WithSpectrumBins(std::vector<double> grid, const Spectrum& s) {
  if (grid.empty()) return grid;
  const auto [lo, hi] = std::minmax_element(grid.begin(), grid.end());
  const double from = *lo, to = *hi;
  for (double f : s.frequency_hz) {
    if (f > from && f < to) grid.push_back(f);
  }
  std::sort(grid.begin(), grid.end());
  grid.erase(std::unique(grid.begin(), grid.end()), grid.end());
  return grid;
}

double AmplitudeNear(const Spectrum& s, double frequency_hz) {
  double most = 0.0;
  for (std::size_t k = 0; k < s.amplitude.size(); ++k) {
    if (std::abs(s.frequency_hz[k] - frequency_hz) <= s.resolution_hz)
      most = std::max(most, s.amplitude[k]);
  }
  return most;
}

}  // namespace dcservo
