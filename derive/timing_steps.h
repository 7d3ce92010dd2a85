#pragma once
// The timing steps of both pipelines, and the PWM-frequency change of the advanced dialog,
// which is built from them.

#include "derive/step.h"
#include "host/zel_setup.h"

namespace dcservo {

// Chip to scaled.
StepResult ComputePWM_freq(CZel_Setup& setup);
StepResult ComputePWMperiod(CZel_Setup& setup);
StepResult ComputeTs_C(CZel_Setup& setup);
StepResult ComputeTs_S(CZel_Setup& setup);
// A setup without `PosSpd_in_FastLoop` skips it and counts as done.
StepResult ComputePosSpd_in_FastLoop(CZel_Setup& setup);

// Scaled to chip.
StepResult ComputePWMPER(CZel_Setup& setup);
StepResult ComputeSATPWM(CZel_Setup& setup);
// The current controller's two saturations follow the PWM saturation.
StepResult CopySATPWMToCurrentSaturations(CZel_Setup& setup);

// A new PWM frequency keeps the loop periods as close as it can: the dividers are rounded
// to the nearest whole number of new PWM periods of the remembered periods.
StepResult ApplyPwmFrequencyChange(CZel_Setup& setup, double remembered_Ts_C, double remembered_Ts_S);

}  // namespace dcservo
