#include "design/speed_ripple.h"

#include <cmath>

namespace dcservo {

std::optional<double> SpeedQuantum_rad_s(const DriveModel& model) {
  // Both sensors count whole steps: encoder counts per sample, or converter levels.
  if (!(model.speed_counts_per_rad_s > 0.0) || !std::isfinite(model.speed_counts_per_rad_s))
    return std::nullopt;
  return 1.0 / model.speed_counts_per_rad_s;
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
