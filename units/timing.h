#pragma once
// Loop timing: the loop periods that everything counted per sample rests on, and the
// minimum-period check of the advanced timing.

#include <string>
#include <vector>

#include "host/zel_setup.h"
#include "units/parameter_reader.h"

namespace dcservo {

// A loop runs once every `divider` PWM periods; PWMPER counts DSP clocks in half of one.
double LoopPeriodOf(double divider, double pwmper, double dsp_freq);
// The loop periods as the chip timing parameters give them.
double SlowLoopPeriod(CZel_Setup& setup);  // 2 SLPER PWMPER / DSP_freq
double FastLoopPeriod(CZel_Setup& setup);  // 2 CLPER PWMPER / DSP_freq
double SlowLoopPeriod(const ParameterReader& in);
double FastLoopPeriod(const ParameterReader& in);

// The firmware's first-order filters, y += c (x - y) once a loop period, hold their corner
// as a Q15 coefficient c = (1 - e^(-corner Ts)) full scale; unrounded both ways, the caller
// rounds as its register or its field needs. The corner tops out at half the loop rate.
double FirstOrderCoefficient(double corner_rad_s, double period_s);
double FirstOrderCorner(double coefficient, double period_s);
inline double FirstOrderCornerMaximum(double period_s) { return 0.5 / period_s; }

// The smallest allowed loop periods in base units (probed), NaN when the setup sets none.
double FastLoopPeriodMinimum(CZel_Setup& setup);  // Ts_C_min
double SlowLoopPeriodMinimum(CZel_Setup& setup);  // Ts_S_min

// The messages that confirming the timing must show, in order; empty when both periods are
// at or above their minimum (or the setup sets none).
std::vector<std::string> CheckMinimumPeriods(CZel_Setup& setup);

}  // namespace dcservo
