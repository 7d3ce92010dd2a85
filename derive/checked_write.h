#pragma once
// The last stage of a conversion step. A zero scale, a limit register at full scale or a
// zero time turns a division into something that is not a number; such a step leaves the
// parameter, range included, as it was and reports it refused rather than storing garbage that the
// next pass would carry on to the drive.

#include <cmath>

#include "derive/set_parameter_range.h"
#include "derive/step.h"
#include "host/zel_setup.h"
#include "units/scales.h"

namespace dcservo {

inline bool AllFinite(double a, double b = 0.0, double c = 0.0) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c);
}

// A scaled value with the range it is allowed in, range first.
inline StepResult WriteScaled(CZel_Parameter& p, double min, double max, double value) {
  if (!AllFinite(min, max, value)) return StepResult::Refused;
  if (!SetParameterRange(p, min, max)) return StepResult::Refused;
  return Stored(p.SetValueInBaseUnit(value));
}

// A chip value, written as computed; the host keeps it in the register's integer type.
inline StepResult WriteChip(CZel_Parameter& p, double value) {
  if (!AllFinite(value)) return StepResult::Refused;
  return Stored(p.SetValueInBaseUnit(value));
}

// The four limit registers get the full fixed-point range before their value.
inline StepResult WriteLimitRegister(CZel_Parameter& p, double value) {
  if (!AllFinite(value)) return StepResult::Refused;
  if (!SetParameterRange(p, 0.0, kFullScale)) return StepResult::Refused;
  return Stored(p.SetValueInBaseUnit(value));
}

// A bit of a packed register read as a flag.
inline double BitOf(double register_value, unsigned mask) {
  return (static_cast<unsigned long long>(Truncated(register_value)) & mask) ? 1.0 : 0.0;
}

}  // namespace dcservo
