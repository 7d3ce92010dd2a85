#include "design/speed_ripple.h"

#include <cmath>
#include <limits>

namespace dcservo {

std::optional<double> SpeedQuantum_rad_s(const DriveModel& model) {
  // Both sensors count whole steps: encoder counts per sample, or converter levels.
  if (!(model.speed_counts_per_rad_s > 0.0) || !std::isfinite(model.speed_counts_per_rad_s))
    return std::nullopt;
  return 1.0 / model.speed_counts_per_rad_s;
}

double FeedbackRippleFactor(const std::vector<BiquadCoefficients>& chain) {
  if (chain.empty()) return 1.0;
  // Long enough for the slowest corner the filters take (a few hundredths of the sampling
  // rate) to die away. A lead or a peak may pass more than the count itself.
  constexpr int kSamples = 20000;
  std::vector<double> state(2 * chain.size(), 0.0);
  double previous = 0.0, variation = 0.0;
  for (int k = 0; k < kSamples; ++k) {
    double x = k == 0 ? 1.0 : 0.0;
    for (std::size_t f = 0; f < chain.size(); ++f) {
      // Transposed direct form II.
      const BiquadCoefficients& c = chain[f];
      double& s1 = state[2 * f];
      double& s2 = state[2 * f + 1];
      const double y = c.b0 * x + s1;
      s1 = c.b1 * x - c.a1 * y + s2;
      s2 = c.b2 * x - c.a2 * y;
      x = y;
    }
    variation += std::abs(x - previous);
    previous = x;
    if (!std::isfinite(variation)) return std::numeric_limits<double>::infinity();
  }
  return 0.5 * (variation + std::abs(previous));
}

double CountJump_A(const DriveModel& model) {
  if (!(model.current_counts_per_A > 0.0)) return 0.0;
  return model.kps / model.current_counts_per_A *
         FeedbackRippleFactor(model.speed_feedback_filters);
}

std::optional<SpeedRippleRule> SpeedRippleOf(double kp_A_per_rad_s, double quantum_rad_s,
                                             double rated_A, double damping, double J_kgm2,
                                             double K_Nm_per_A) {
  for (double v : {quantum_rad_s, rated_A, damping, J_kgm2, K_Nm_per_A}) {
    if (!(v > 0.0) || !std::isfinite(v)) return std::nullopt;
  }
  if (!(kp_A_per_rad_s >= 0.0) || !std::isfinite(kp_A_per_rad_s)) return std::nullopt;
  SpeedRippleRule rule;
  rule.quantum_rad_s = quantum_rad_s;
  rule.per_count_A = kp_A_per_rad_s * quantum_rad_s;
  rule.allowed_A = kSpeedRippleShareOfIn * rated_A;
  // Kp = 2 zeta w J / K, so Kp x quantum = allowed at this w.
  rule.highest_pass_band_rad_s =
      rule.allowed_A * K_Nm_per_A / (2.0 * damping * J_kgm2 * quantum_rad_s);
  return rule;
}

}  // namespace dcservo
