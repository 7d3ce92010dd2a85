#pragma once
// The two derivation pipelines: the steps of the quantity descriptors (derive/quantities.h)
// in the drive's two documented orders. A step that is not done does not stop the pipeline:
// the next step runs regardless, and the pipeline returns the steps that were not done.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "derive/step.h"

namespace dcservo {

enum class Direction { ToScaled, ToChip };

struct PipelineStep {
  int row;               // position in the drive's documented order
  const char* quantity;  // the scaled quantity, or the register the chip step is known by
  StepFn run;
  GuardFn guard;  // presence probe of the step's group, or null
};

std::span<const PipelineStep> ScaledPipelineSteps();
std::span<const PipelineStep> ChipPipelineSteps();

// A step of a pipeline that was not done. A step whose group the drive lacks (its presence
// probe finds nothing) is no failure and is not listed.
struct StepFailure {
  const char* quantity;
  StepResult result;  // Missing or Refused
};
using StepFailures = std::vector<StepFailure>;

// Each returns the steps that were not done, in the order they ran; most callers need only
// the setup and may drop it.
StepFailures ComputeScaledParameters(CZel_Setup& setup);
StepFailures ComputeChipParameters(CZel_Setup& setup);
// A sync: the chip parameters from the scaled ones, then the scaled ones back from them, so
// that every value shown is one the drive can hold.
StepFailures SynchroniseSetup(CZel_Setup& setup);

// "Kp_S_scl (missing), KPS (refused)", for a command's or a dialog's text.
std::string DescribeFailures(const StepFailures& failures);

// Runs the one step that writes `quantity` in that direction (names without regard to
// case), behind its guard: Missing when the guard finds the group absent, nothing when no
// step writes that quantity.
std::optional<StepResult> RunStep(CZel_Setup& setup, std::string_view quantity,
                                  Direction direction);

}  // namespace dcservo
