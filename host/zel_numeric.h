#pragma once
// Doubles into integers. Converting a double that the integer type cannot hold is undefined
// behaviour, and the values here come from files, typed numbers and a simulated motor, so
// none is converted unchecked: a quantity that saturates in the drive (a register, a count,
// a flag) saturates here too; one that must be exact (a pin, a size) is refused instead.
// Header only: the host, the plug-in and the simulated drive share it.

#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

// Truncated toward zero and held within T's range; NaN gives 0.
template <std::integral T>
T ZelSaturatingCast(double value) {
  if (std::isnan(value)) return 0;
  // 2^digits is the first double above the type's range; the lowest value is exact.
  const double above = std::ldexp(1.0, std::numeric_limits<T>::digits);
  if (value >= above) return std::numeric_limits<T>::max();
  if (value <= static_cast<double>(std::numeric_limits<T>::lowest()))
    return std::numeric_limits<T>::lowest();
  return static_cast<T>(value);
}

// Rounded to nearest (halves away from zero), then as ZelSaturatingCast.
template <std::integral T>
T ZelSaturatingRound(double value) {
  return ZelSaturatingCast<T>(std::round(value));
}

// The value when it is a whole number that T holds, else nothing.
template <std::integral T>
std::optional<T> ZelExactInteger(double value) {
  if (!std::isfinite(value) || value != std::trunc(value)) return std::nullopt;
  if (value >= std::ldexp(1.0, std::numeric_limits<T>::digits) ||
      value < static_cast<double>(std::numeric_limits<T>::lowest()))
    return std::nullopt;
  return static_cast<T>(value);
}
