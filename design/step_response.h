#pragma once
// What a step does to a loop: the figures that describe a step response (rise, overshoot,
// settling, what is left at the end), measured from a logged curve or predicted from the
// loop that the drive runs, so that the two can be put side by side.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "design/loop_response.h"

namespace dcservo {

struct StepFigures {
  double rise_time_s = 0.0;         // 10 % to 90 % of the change to the final value
  double overshoot_pct = 0.0;       // beyond the final value, in % of the change; 0 if none
  double settling_time_s = 0.0;     // from the step until it stays within 2 % of the change
  double steady_state_error = 0.0;  // reference minus final value, in the curve's unit
};

// The figures of `response` to a step of `reference` (the same unit, sampled at `time_s`):
// the step is the first sample at which the reference leaves its first value; the final
// value is the mean of the last tenth of the samples after it. Nothing when the reference
// has no step, or the response never gets through 90 % of its change.
std::optional<StepFigures> MeasureStep(std::span<const double> time_s,
                                       std::span<const double> reference,
                                       std::span<const double> response);

// The closed loop's response to a unit step, one value per sample of the loop, from the
// sample of the step on.
std::vector<double> ClosedLoopStepResponse(const LoopModel& loop, int samples);

// Where measured and predicted figures disagree by more than the tolerances below: one line
// per figure; empty when they agree.
inline constexpr double kRiseTimeTolerance = 0.3;        // relative
inline constexpr double kOvershootTolerance_pct = 10.0;  // percentage points
std::vector<std::string> CompareStepFigures(const StepFigures& measured,
                                            const StepFigures& predicted);

}  // namespace dcservo
