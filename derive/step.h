#pragma once
// What every conversion step shares: look up all its parameters first, change nothing when
// one is missing, and report 1 done / 0 missing or refused.

#include <array>
#include <optional>
#include <string_view>

#include "host/zel_setup.h"
#include "host/zel_numeric.h"

namespace dcservo {

using StepFn = int (*)(CZel_Setup& setup);
// A presence probe or condition that guards a step; null means always.
using GuardFn = int (*)(CZel_Setup& setup);

// All the named parameters, or nothing when one is missing. Every missing name is reported
// by the host (unless the caller has silenced it), not only the first.
template <typename... Names>
std::optional<std::array<CZel_Parameter*, sizeof...(Names)>> FindParameters(CZel_Setup& setup,
                                                                            Names... names) {
  std::array<CZel_Parameter*, sizeof...(Names)> found{setup.FindParameter(names)...};
  for (CZel_Parameter* p : found) {
    if (!p) return std::nullopt;
  }
  return found;
}

// Flags are tested by truncating to an integer and comparing with 1.
inline bool IsFlagSet(double value) { return ZelSaturatingCast<long long>(value) == 1; }
inline long long Truncated(double value) { return ZelSaturatingCast<long long>(value); }
// A parameter found by FindParameters, read in its base unit (V, A, s, kg m2).
inline double BaseValue(const CZel_Parameter* p) { return p->GetValueInBaseUnit(); }

}  // namespace dcservo
