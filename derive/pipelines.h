#pragma once
// The two derivation pipelines: the steps of the quantity descriptors (derive/quantities.h)
// in the drive's two documented orders. Each step's result is ignored by the pipeline; the
// next step runs regardless.

#include <span>
#include <string_view>

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

void ComputeScaledParameters(CZel_Setup& setup);
void ComputeChipParameters(CZel_Setup& setup);
// A sync: the chip parameters from the scaled ones, then the scaled ones back from them, so
// that every value shown is one the drive can hold.
void SynchroniseSetup(CZel_Setup& setup);

// What running one step came to; the numbers are the steps' own 1 and 0.
enum class StepResult { Done = 1, NotDone = 0 /* missing, refused or guarded off */, NoSuchStep = -1 };

// Runs the one step that writes `quantity` in that direction (names without regard to
// case), behind its guard.
StepResult RunStep(CZel_Setup& setup, std::string_view quantity, Direction direction);

}  // namespace dcservo
