#pragma once
// What every conversion step shares: look up all its parameters first, change nothing when
// one is missing, and say what it came to: done, missing or refused.

#include <array>
#include <optional>
#include <string_view>

#include "host/zel_setup.h"
#include "host/zel_numeric.h"

namespace dcservo {

// Missing: a parameter the step needs is not in the setup (the host has reported the name
// unless the caller silenced it), and nothing changed. Refused: the value it computed is not
// a number, or the host refused it or its range; what the setup held stays. Callers that
// only run a step may ignore it; a command or a dialog turns it into an exit code or a text.
enum class StepResult { Done, Missing, Refused };

// A host setter's 1 accepted / 0 refused.
constexpr StepResult Stored(int accepted) {
  return accepted ? StepResult::Done : StepResult::Refused;
}
// Two parts of one step: the first that went wrong.
constexpr StepResult AndThen(StepResult first, StepResult second) {
  return first != StepResult::Done ? first : second;
}
constexpr const char* StepResultName(StepResult r) {
  switch (r) {
    case StepResult::Done: return "done";
    case StepResult::Missing: return "missing";
    case StepResult::Refused: return "refused";
  }
  return "?";
}

using StepFn = StepResult (*)(CZel_Setup& setup);
// A presence probe or condition that guards a step; null means always.
using GuardFn = int (*)(CZel_Setup& setup);

template <std::size_t N>
std::optional<std::array<CZel_Parameter*, N>> AllFound(const std::array<CZel_Parameter*, N>& found) {
  for (CZel_Parameter* p : found) {
    if (!p) return std::nullopt;
  }
  return found;
}

// All the named parameters, or nothing when one is missing. Every missing name is reported
// by the host (unless the caller has silenced it), not only the first.
template <typename... Names>
std::optional<std::array<CZel_Parameter*, sizeof...(Names)>> FindParameters(CZel_Setup& setup,
                                                                            Names... names) {
  return AllFound(std::array<CZel_Parameter*, sizeof...(Names)>{setup.FindParameter(names)...});
}

// The same for names a setup may lack: a missing one is an answer, not reported.
template <typename... Names>
std::optional<std::array<CZel_Parameter*, sizeof...(Names)>> FindOptionalParameters(
    CZel_Setup& setup, Names... names) {
  return AllFound(
      std::array<CZel_Parameter*, sizeof...(Names)>{setup.FindOptionalParameter(names)...});
}

// Flags are tested by truncating to an integer and comparing with 1.
inline bool IsFlagSet(double value) { return ZelSaturatingCast<long long>(value) == 1; }
inline long long Truncated(double value) { return ZelSaturatingCast<long long>(value); }
// A parameter found by FindParameters, read in its base unit (V, A, s, kg m2).
inline double BaseValue(const CZel_Parameter* p) { return p->GetValueInBaseUnit(); }

}  // namespace dcservo
