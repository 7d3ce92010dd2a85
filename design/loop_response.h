#pragma once
// A tuned loop as the drive runs it: its discrete controller closed around a discrete model
// of what it controls, in the drive's internal units, so that the stored (quantised) gains
// can be judged at the loop's own sampling period.
//
// The models: the current loop drives the motor's R-L circuit through the PWM stage (held
// for a sample); the speed loop drives Jt through K with an ideal current loop; the position
// loop drives an integrator (over an ideal speed loop) or Jt through K (straight onto the
// current loop). Every loop applies its output one sample after it measured, the time the
// firmware takes to compute it.

#include <complex>
#include <optional>
#include <vector>

#include "derive/gains.h"
#include "design/polynomial.h"
#include "host/zel_setup.h"

namespace dcservo {

// "current", "speed", "position".
const char* LoopName(TunedLoop loop);

// Scaled gains per sample, as the firmware applies them: u = kp e + ki sum(e) + kd D, with
// D the difference of the error smoothed by derivative_filter (1: not smoothed).
struct ControllerGains {
  double kp = 0.0;
  double ki = 0.0;
  double kd = 0.0;
  double derivative_filter = 1.0;
};

// Transfer functions in powers of z^-1 (element k multiplies z^-k).
struct LoopPlant {
  double sampling_period_s = 0.0;
  Polynomial num, den;
};

struct LoopModel {
  double sampling_period_s = 0.0;
  Polynomial open_num, open_den;  // controller x plant
};

// The plant of one loop from the setup's motor and drive data; nothing when a parameter is
// missing or the data give no finite model.
std::optional<LoopPlant> TunedLoopPlant(CZel_Setup& setup, TunedLoop loop);

// The loop's gains as the setup holds them now.
std::optional<ControllerGains> StoredControllerGains(CZel_Setup& setup, TunedLoop loop);

LoopModel CloseLoop(const LoopPlant& plant, const ControllerGains& gains);

// The setup's loop with its stored gains.
std::optional<LoopModel> DesignedLoop(CZel_Setup& setup, TunedLoop loop);

std::complex<double> OpenLoopResponse(const LoopModel& loop, double omega_rad_s);
// Reference to feedback.
std::complex<double> ClosedLoopResponse(const LoopModel& loop, double omega_rad_s);
std::vector<std::complex<double>> ClosedLoopPoles(const LoopModel& loop);

// The lowest angular frequency at which the closed loop's gain falls below -3 dB; nothing
// when it stays above up to the Nyquist limit.
std::optional<double> ClosedLoopBandwidth(const LoopModel& loop);

}  // namespace dcservo
