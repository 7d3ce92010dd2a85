#pragma once
// A current spectrum as a speed run logs it at constant speed: 256-sample segments, a flat
// floor and one bin standing out, for the views that show a measured spectrum.

#include <cmath>

#include "design/resonance.h"

namespace testing_support {

inline constexpr double kSpectrumFloor_A = 0.003;

// Bins from 0 Hz to half the log's rate (`period_s` a sample); the bin nearest `peak_hz`
// reads `peak_A`.
inline dcservo::Spectrum LoggedSpectrum(double period_s, double peak_hz, double peak_A) {
  dcservo::Spectrum s;
  s.resolution_hz = 1.0 / (period_s * 256);
  const long peak = std::lround(peak_hz / s.resolution_hz);
  for (long k = 0; k <= 128; ++k) {
    s.frequency_hz.push_back(static_cast<double>(k) * s.resolution_hz);
    s.amplitude.push_back(k == peak ? peak_A : kSpectrumFloor_A);
  }
  return s;
}

}  // namespace testing_support
