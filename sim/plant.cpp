#include "sim/plant.h"

#include <array>
#include <numbers>

namespace dcsim {

void Plant::Configure(const PlantConfig& config, double period_s) {
  config_ = config;
  h_ = period_s;
  Discretize();
}

// The armature's exact response over half a period to a voltage held constant: the period
// is short against L/R but a shorted armature is far faster, and the exact form stays
// stable.
namespace {

// exp(M h) of a 3x3 matrix by scaling and squaring a Taylor series: exact to rounding for the
// small oscillator it serves.
using Matrix3 = std::array<std::array<double, 3>, 3>;
Matrix3 Multiply(const Matrix3& a, const Matrix3& b) {
  Matrix3 c{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) c[i][j] += a[i][k] * b[k][j];
  return c;
}
Matrix3 Exponential(Matrix3 m) {
  double norm = 0.0;
  for (const auto& row : m)
    for (double v : row) norm = std::max(norm, std::abs(v));
  int squarings = 0;
  while (norm > 0.5) {
    norm *= 0.5;
    ++squarings;
  }
  const double scale = std::ldexp(1.0, -squarings);
  for (auto& row : m)
    for (double& v : row) v *= scale;
  Matrix3 sum{}, term{};
  for (int i = 0; i < 3; ++i) sum[i][i] = term[i][i] = 1.0;
  for (int n = 1; n <= 16; ++n) {
    term = Multiply(term, m);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) term[i][j] /= n;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) sum[i][j] += term[i][j];
  }
  for (int s = 0; s < squarings; ++s) sum = Multiply(sum, sum);
  return sum;
}

}  // namespace

void Plant::Discretize() {
  const double half = 0.5 * h_;
  a_ = std::exp(-config_.R_ohm * half / config_.L_H);
  mean_share_ = (1.0 - a_) * config_.L_H / (config_.R_ohm * half);
  short_a_ = std::exp(-config_.short_R_ohm * half / config_.short_L_H);
  short_b_ = (1.0 - short_a_) / config_.short_R_ohm;
  h_over_J_ = h_ / config_.J_kgm2;
  torque_constant_ = faults_.motor_shorted ? 0.0 : config_.K_Nm_per_A;
  DiscretizeCoupling();
  plain_ = !faults_.motor_shorted && !faults_.shaft_blocked && !compliant_ &&
           hand_steps_left_ <= 0 && config_.coulomb_Nm <= 0.0;
}

// Twist'' = -w^2 twist - 2 zeta w twist' + u, where w is the free-free resonance
// (k (1/Jm + 1/Jload) = w^2) and u the torques' share that twists the shaft.
void Plant::DiscretizeCoupling() {
  const double share = config_.load_share;
  const bool was_compliant = compliant_;
  compliant_ = config_.resonance_Hz > 0.0 && share > 0.0 && share < 1.0;
  if (!compliant_) return;
  // The coupling starts untwisted, at the speed the rigid shaft had.
  if (!was_compliant) Relax();
  motor_share_ = 1.0 - share;
  const double w = 2.0 * std::numbers::pi * config_.resonance_Hz;
  const Matrix3 m = Exponential({{{0.0, h_, 0.0},
                                  {-w * w * h_, -2.0 * config_.resonance_damping * w * h_, h_},
                                  {0.0, 0.0, 0.0}}});
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) twist_step_[i][j] = m[i][j];
}

// The motor and its load through the compliant coupling: their common motion driven by the net
// torque, and the twist by what the motor's and the load's torques do to it.
void Plant::StepCompliant(double mean_current) {
  const double J = config_.J_kgm2;
  const double jm = motor_share_ * J, jl = J - jm;
  double motor = torque_constant_ * mean_current - config_.viscous_Nm_s * w_;
  const double dry = config_.coulomb_Nm;
  if (dry > 0.0) motor -= (w_ != 0.0 || std::abs(motor) > dry) ? std::copysign(dry, w_ != 0.0 ? w_ : motor) : motor;
  const double load = faults_.load_torque_Nm;
  const double before = common_speed_;
  common_speed_ += (motor - load) * h_over_J_;
  common_angle_ += 0.5 * (before + common_speed_) * h_;
  const double u = motor / jm + load / jl;
  const double twist = twist_step_[0][0] * twist_ + twist_step_[0][1] * twist_rate_ + twist_step_[0][2] * u;
  twist_rate_ = twist_step_[1][0] * twist_ + twist_step_[1][1] * twist_rate_ + twist_step_[1][2] * u;
  twist_ = twist;
  // The motor leads the centre of momentum by the load's share of the twist.
  w_ = common_speed_ + (jl / J) * twist_rate_;
  theta_ = common_angle_ + (jl / J) * twist_;
}

void Plant::TurnByHand(double radians, double seconds) {
  hand_steps_left_ = std::max(1L, std::lround(seconds / h_));
  hand_speed_ = radians / (static_cast<double>(hand_steps_left_) * h_);
  Discretize();
}

void Plant::StepHeldShaft() {
  if (hand_steps_left_ > 0) {
    w_ = hand_speed_;
    if (--hand_steps_left_ == 0) {
      // The hand lets go of a shaft that it brings to rest with this step.
      theta_ += w_ * h_;
      hand_speed_ = 0.0;
      w_ = 0.0;
      Discretize();
    }
    return;
  }
  w_ = 0.0;  // blocked
}

double Plant::FreeSpeedAfter(double mean_current) const {
  double net = torque_constant_ * mean_current - config_.viscous_Nm_s * w_ - faults_.load_torque_Nm;
  const double dry = config_.coulomb_Nm;
  if (dry <= 0.0) return w_ + net * h_over_J_;
  if (w_ == 0.0 && std::abs(net) <= dry) return 0.0;
  net -= std::copysign(dry, w_ != 0.0 ? w_ : net);
  const double w_next = w_ + net * h_over_J_;
  // Friction stops the shaft; it never turns it back.
  return (w_ != 0.0 && (w_next > 0) != (w_ > 0)) ? 0.0 : w_next;
}

}  // namespace dcsim
