#pragma once
// What the speed sensor's quantum does to the current: the speed loop's proportional gain
// turns one count of speed measurement (an encoder count per sample, or one step of the
// tacho's converter) into a jump of the current reference. At constant speed the reading
// flips between neighbouring counts, and the current follows: the pass band of the speed
// loop is worth only as much as the current ripple it costs.

#include <optional>
#include <vector>

#include "design/drive_model.h"

namespace dcservo {

// The ripple that a run may show, as a share of the rated current `In`, peak.
inline constexpr double kSpeedRippleShareOfIn = 0.10;

// One count of the speed measurement in rad/s at the motor; nothing without a speed scale.
std::optional<double> SpeedQuantum_rad_s(const DriveModel& model);

// How much of one count's jump a chain of filters on the speed feedback passes on to the
// proportional gain. The reading's error is the difference of the position's rounding error,
// which stays within one count, so its worst swing through the chain is half the total
// variation of the chain's impulse response: 1 without filters, 1 - a for a first-order
// smoothing y += (1 - a)(x - y).
double FeedbackRippleFactor(const std::vector<BiquadCoefficients>& chain);

// The current-reference jump (A) of one speed count through the model's speed feedback filters
// and its proportional gain, which acts on counts; 0 without a current scale.
double CountJump_A(const DriveModel& model);

struct SpeedRippleRule {
  double quantum_rad_s = 0.0;      // one count of the speed measurement
  double per_count_A = 0.0;        // the current-reference jump of one count, Kp_S x quantum
  double allowed_A = 0.0;          // the target: kSpeedRippleShareOfIn x In
  // The highest pass band whose proportional gain keeps one count within the target, for
  // this damping and inertia, without a low pass on the speed feedback.
  double highest_pass_band_rad_s = 0.0;
  bool met() const { return per_count_A <= allowed_A; }
};

// The rule for a speed loop designed as 2 zeta w J / K amperes per rad/s: `kp_A_per_rad_s`
// the gain in place, `rated_A` the motor's In. Nothing when an input is not positive.
std::optional<SpeedRippleRule> SpeedRippleOf(double kp_A_per_rad_s, double quantum_rad_s,
                                             double rated_A, double damping, double J_kgm2,
                                             double K_Nm_per_A);

}  // namespace dcservo
