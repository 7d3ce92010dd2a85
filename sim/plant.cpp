#include "sim/plant.h"

namespace dcsim {

void Plant::Configure(const PlantConfig& config, double period_s) {
  config_ = config;
  h_ = period_s;
  Discretize();
}

// The armature's exact response over half a period to a voltage held constant: the period
// is short against L/R but a shorted armature is far faster, and the exact form stays
// stable.
void Plant::Discretize() {
  const double half = 0.5 * h_;
  a_ = std::exp(-config_.R_ohm * half / config_.L_H);
  b_ = (1.0 - a_) / config_.R_ohm;
  short_a_ = std::exp(-config_.short_R_ohm * half / config_.short_L_H);
  short_b_ = (1.0 - short_a_) / config_.short_R_ohm;
  h_over_J_ = h_ / config_.J_kgm2;
  torque_constant_ = faults_.motor_shorted ? 0.0 : config_.K_Nm_per_A;
  free_ = hand_steps_left_ <= 0 && !faults_.shaft_blocked && config_.coulomb_Nm <= 0.0;
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
  if (faults_.shaft_blocked) {
    w_ = 0.0;
    return;
  }
  double net = torque_constant_ * i_ - config_.viscous_Nm_s * w_ - faults_.load_torque_Nm;
  const double dry = config_.coulomb_Nm;
  if (w_ == 0.0 && std::abs(net) <= dry) return;
  net -= std::copysign(dry, w_ != 0.0 ? w_ : net);
  const double w_next = w_ + net * h_over_J_;
  // Friction stops the shaft; it never turns it back.
  w_ = (w_ != 0.0 && (w_next > 0) != (w_ > 0)) ? 0.0 : w_next;
}

}  // namespace dcsim
