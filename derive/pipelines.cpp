#include "derive/pipelines.h"

#include "derive/probes.h"
#include "derive/timing_steps.h"

namespace dcservo {
namespace {

// Chip to scaled. Rows that are not listed belong to quantities whose conversions are not
// part of this build yet.
constexpr PipelineStep kScaledSteps[] = {
    {4, "PWM_freq", ComputePWM_freq, nullptr},
    {5, "PWMperiod", ComputePWMperiod, nullptr},
    {6, "Ts_C", ComputeTs_C, nullptr},
    {7, "Ts_S", ComputeTs_S, nullptr},
    {8, "PosSpd_in_FastLoop", ComputePosSpd_in_FastLoop, nullptr},
};

// Scaled to chip.
constexpr PipelineStep kChipSteps[] = {
    {1, "PWMPER", ComputePWMPER, nullptr},
    {9, "SATPWM", ComputeSATPWM, nullptr},
    {18, "SATID", CopySATPWMToCurrentSaturations, nullptr},
};

void RunAll(CZel_Setup& setup, std::span<const PipelineStep> steps) {
  for (const PipelineStep& step : steps) {
    if (step.guard && !step.guard(setup)) continue;
    step.run(setup);
  }
}

}  // namespace

std::span<const PipelineStep> ScaledPipelineSteps() { return kScaledSteps; }
std::span<const PipelineStep> ChipPipelineSteps() { return kChipSteps; }

void ComputeScaledParameters(CZel_Setup& setup) { RunAll(setup, kScaledSteps); }
void ComputeChipParameters(CZel_Setup& setup) { RunAll(setup, kChipSteps); }

int RunStep(CZel_Setup& setup, std::string_view quantity, Direction direction) {
  const auto steps = direction == Direction::ToScaled ? ScaledPipelineSteps() : ChipPipelineSteps();
  for (const PipelineStep& step : steps) {
    if (!zel::NamesEqual(step.quantity, quantity)) continue;
    if (step.guard && !step.guard(setup)) return 0;
    return step.run(setup);
  }
  return -1;
}

}  // namespace dcservo
