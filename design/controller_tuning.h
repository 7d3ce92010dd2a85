#pragma once
// Automatic tuning of the three cascaded controllers: gains placed from the motor's model,
// a pass band (an angular frequency, rad/s) and a damping factor, written as the scaled
// gains that the drive's fixed-point encoding then stores. None of them clamps: a gain out
// of range is written as computed and the tuning report says so. Each says what it came to:
// Missing (an input or a gain is not in the setup) and Refused (a gain that is not a number)
// leave the gains as they were.

#include "derive/step.h"
#include "host/zel_setup.h"

namespace dcservo {

// Kp_C_scl, Ki_C_scl from R, L, PB_C, Dump_C at Ts_C.
StepResult ComputeCurrentControllerGains(CZel_Setup& setup);
// Ki_S_scl, then Kp_S_scl, from Jt, K, PB_S, Dump_S.
StepResult ComputeSpeedControllerGains(CZel_Setup& setup);
// Ki_P_scl, Kp_P_scl, Kd_P_scl from PB_P, Dump_P and, without the speed loop underneath,
// Jt and K.
StepResult ComputePositionControllerGains(CZel_Setup& setup);

// The period at which the speed and position loops run: Ts_C when the drive runs them in
// the fast loop (PosSpd_in_FastLoop, probed, nonzero), else Ts_S. 0 when a period is missing.
double SpeedPositionLoopPeriod(CZel_Setup& setup);

}  // namespace dcservo
