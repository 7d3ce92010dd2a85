#pragma once
// Symbols that the reference, input and range conversions share.

#include <cmath>
#include <optional>

#include "derive/step.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "units/scales.h"

namespace dcservo {

// The analogue chain and the limit switches only follow the sign of the position scale;
// a scale of 0 counts as negative.
inline double SignOf(double scale) { return scale > 0.0 ? 1.0 : -1.0; }

// A scale or a period that may stand in a denominator. A zero transmission side makes a
// scale infinite, which would quietly turn a bound into 0.
inline bool IsUsableDivisor(double x) { return std::isfinite(x) && x != 0.0; }

// T_chip: the slow-loop period as the chip's timing parameters give it now, which may
// differ from the stored `Ts_S` while the user edits the timing. nullopt when a timing
// parameter is missing or the period is 0 or not finite.
inline std::optional<double> ChipSlowLoopPeriod(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SLPER, param::PWMPER, param::DSP_freq);
  if (!p) return std::nullopt;
  auto [slper, pwmper, dsp] = *p;
  const double period =
      2.0 * slper->GetValueInBaseUnit() * pwmper->GetValueInBaseUnit() / dsp->GetValueInBaseUnit();
  if (!IsUsableDivisor(period)) return std::nullopt;
  return period;
}

}  // namespace dcservo
