#pragma once
// The power stage, the DC brushed motor with its load and the drive's sensors. Physical
// values in SI units; the converters give what the firmware reads, left-aligned in 16 bits
// as the drive's converters deliver it.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "sim/fixed_point.h"
#include "host/zel_numeric.h"

namespace dcsim {

struct PlantConfig {
  // Drive hardware.
  double dsp_freq_Hz = 40e6;
  double vdc_V = 48.0;                 // the real supply
  double vdc_max_measurable_V = 60.0;  // top of the DC-bus measurement
  double imax_ps_A = 10.0;             // current measurement spans -imax_ps .. +imax_ps
  int adc_resolution = 1024;
  double analogue_range_V = 20.0;      // 20: +-10 V, 5: 0..5 V, otherwise 0..3.3 V
  // Motor and load.
  double R_ohm = 1.2;
  double L_H = 1e-3;
  double K_Nm_per_A = 0.06;
  double J_kgm2 = 4.5e-5;              // total inertia at the motor shaft
  // Bearings, brushes and air: at the no-load speed on 48 V (800 rad/s) 8 mNm, a no-load
  // current of 0.13 A (4 % of the rated 3 A), as a motor of this size draws.
  double viscous_Nm_s = 1e-5;
  double coulomb_Nm = 0.0;
  double transmission = 1.0;           // motor radians per load unit
  // A compliant coupling between the motor and its load, 0 Hz for a rigid one: the free-free
  // resonance (both inertias swinging against the shaft's stiffness), its damping ratio, and
  // the load's share of the total inertia (Jload / (Jm + Jload)).
  double resonance_Hz = 0.0;
  double resonance_damping = 0.05;
  double load_share = 1.0 / 3.0;
  // Sensors.
  int encoder_lines = 500;
  double tacho_V_per_rad_s = 0.00954929;
  // What the armature looks like to the bridge when its leads are shorted together.
  double short_R_ohm = 0.02;
  double short_L_H = 2e-6;
  // The power stage switches itself off above this current.
  double short_circuit_A = 12.5;
};

// The drive's converters: `resolution` levels left-aligned in 16 bits, so the top count is
// 65536 less one step.
class Converter {
 public:
  explicit Converter(int resolution = 1024)
      : step_(65536.0 / std::max(resolution, 2)),
        inv_step_(1.0 / step_),
        top_level_(std::max(resolution, 2) - 1.0),
        step_counts_(static_cast<i64>(step_)) {}
  double Max() const { return top_level_ * step_; }
  double Step() const { return step_; }
  // The nearest level to x (counts of an ideal 16-bit converter), within the range.
  i64 Unipolar(double x_counts) const {
    const double level = x_counts * inv_step_ + 0.5;
    // NaN fails the first comparison and reads as level 0, without a test of its own.
    const double above_floor = level > 0.0 ? level : 0.0;
    const double within = above_floor < top_level_ ? above_floor : top_level_;
    return static_cast<i64>(within) * step_counts_;
  }
  // A quantity centred on mid-scale, signed around zero.
  i64 Bipolar(double x_counts) const { return Unipolar(x_counts + 32768.0) - 32768; }

 private:
  double step_, inv_step_, top_level_;
  i64 step_counts_;  // the step in whole counts
};

struct PlantFaults {
  bool motor_shorted = false;
  bool shaft_blocked = false;
  double load_torque_Nm = 0.0;
};

class Plant {
 public:
  void Configure(const PlantConfig& config, double period_s);
  const PlantConfig& Config() const { return config_; }
  double Period() const { return h_; }

  // One PWM period with the bridge's average voltage in each half (the compare register
  // takes a new command at the top of the up-down count) or the bridge off.
  void Step(double first_half_V, double second_half_V, bool bridge_on) {
    if (bridge_on && plain_) {
      // The common case, decided once per change of the faults and the motor.
      const double mean_current = DrivenMeanCurrent(first_half_V, second_half_V);
      const double before = w_;
      w_ = w_ + (torque_constant_ * mean_current - config_.viscous_Nm_s * w_ -
                 faults_.load_torque_Nm) * h_over_J_;
      theta_ += 0.5 * (before + w_) * h_;
      return;
    }
    // The shaft turns under the period's mean current: the current at its end would move the
    // motor a period early, five degrees of phase at 300 Hz in every loop around it.
    double mean_current = 0.0;
    if (!bridge_on) {
      // Open bridge: below the supply the back EMF drives no current through the diodes.
      i_ = 0.0;
    } else if (!faults_.motor_shorted) {
      mean_current = DrivenMeanCurrent(first_half_V, second_half_V);
    } else {
      i_ = (i_ * short_a_ + first_half_V * short_b_) * short_a_ + second_half_V * short_b_;
    }
    if (compliant_ && !faults_.shaft_blocked && hand_steps_left_ <= 0) {
      StepCompliant(mean_current);
      return;
    }
    if (hand_steps_left_ > 0 || faults_.shaft_blocked) {
      StepHeldShaft();
      theta_ += w_ * h_;
    } else {
      // The speed changes smoothly over a period: the angle moves by its mean.
      const double before = w_;
      w_ = FreeSpeedAfter(mean_current);
      theta_ += 0.5 * (before + w_) * h_;
    }
    // A compliant coupling that a hand or a block holds rigid starts untwisted when let go.
    if (compliant_) Relax();
  }

  // A hand turns the shaft by `radians` over `seconds`; the motor follows whatever it does.
  void TurnByHand(double radians, double seconds);
  bool Moving() const { return w_ != 0.0 || i_ != 0.0 || hand_steps_left_ > 0; }
  // A period with the bridge off leaves every state as it is: nothing turns, nothing twists,
  // and no load torque pulls at a free shaft.
  bool StillWithBridgeOff() const {
    if (Moving()) return false;
    if (compliant_ && (twist_ != 0.0 || twist_rate_ != 0.0 || common_speed_ != 0.0 ||
                       common_angle_ != theta_))
      return false;
    return faults_.shaft_blocked || faults_.load_torque_Nm == 0.0;
  }

  const PlantFaults& Faults() const { return faults_; }
  void SetShorted(bool shorted) {
    faults_.motor_shorted = shorted;
    Discretize();
  }
  void SetBlocked(bool blocked) {
    faults_.shaft_blocked = blocked;
    Discretize();
  }
  void SetLoadTorque(double torque_Nm) { faults_.load_torque_Nm = torque_Nm; }
  void SetSupply(double volts) { config_.vdc_V = volts; }
  void SetInertia(double J) {
    config_.J_kgm2 = J;
    Discretize();
  }
  void SetResistance(double R) {
    config_.R_ohm = R;
    Discretize();
  }
  // hz 0 makes the coupling rigid again.
  void SetResonance(double hz) {
    config_.resonance_Hz = std::max(0.0, hz);
    Discretize();
  }
  void SetResonanceDamping(double zeta) {
    config_.resonance_damping = std::max(0.0, zeta);
    Discretize();
  }
  void SetCoulombFriction(double torque_Nm) {
    config_.coulomb_Nm = std::max(0.0, torque_Nm);
    Discretize();
  }
  void SetViscousFriction(double torque_per_speed) {
    config_.viscous_Nm_s = std::max(0.0, torque_per_speed);
    Discretize();
  }
  void SetPeriod(double period_s) {
    h_ = period_s;
    Discretize();
  }
  // Below this speed a free shaft counts as standing.
  void SettleIfSlow(double speed) {
    if (std::abs(w_) < speed && std::abs(w_ - twist_rate_) < speed && hand_steps_left_ <= 0) {
      w_ = 0.0;
      Relax();
    }
  }

  double Current() const { return i_; }
  double Speed() const { return w_; }
  double Angle() const { return theta_; }
  // The load position as the drive sees it, through the motor's encoder and the transmission
  // (load units: rad or m); a compliant load lags it by the shaft's twist.
  double LoadPosition() const { return theta_ / config_.transmission; }
  // The load's own speed at the motor side of the transmission.
  double LoadSpeed() const { return w_ - twist_rate_; }
  double Supply() const { return config_.vdc_V; }
  void SetState(double current, double speed, double angle) {
    i_ = current;
    w_ = speed;
    theta_ = angle;
    Relax();
  }

 private:
  void Discretize();
  // The armature driven through both halves of a period; their mean current.
  double DrivenMeanCurrent(double first_half_V, double second_half_V) {
    const double emf = config_.K_Nm_per_A * w_;
    const double first = ArmatureHalf((first_half_V - emf) / config_.R_ohm);
    const double second = ArmatureHalf((second_half_V - emf) / config_.R_ohm);
    return 0.5 * (first + second);
  }
  // Half a period of the armature under a held voltage, exactly: the current tends to
  // `settled` with the time constant L / R. The half's mean current.
  double ArmatureHalf(double settled) {
    const double start = i_;
    i_ = settled + (start - settled) * a_;
    return settled + (start - settled) * mean_share_;
  }
  void StepHeldShaft();
  double FreeSpeedAfter(double mean_current) const;
  void StepCompliant(double mean_current);
  void DiscretizeCoupling();
  // The coupling untwisted, both inertias at the motor's speed.
  void Relax() {
    twist_ = twist_rate_ = 0.0;
    common_speed_ = w_;
    common_angle_ = theta_;
  }

  PlantConfig config_;
  PlantFaults faults_;
  double h_ = 50e-6;
  // mean_share_: the mean over a half period of what decays by a_ over it.
  double a_ = 0.0, mean_share_ = 0.0, short_a_ = 0.0, short_b_ = 0.0, h_over_J_ = 0.0;
  double torque_constant_ = 0.0;  // none while the leads are shorted
  // A free, rigid shaft without dry friction on a motor whose leads are whole: a driven period
  // is the armature and FreeSpeedAfter's viscous step, without the checks of the rest.
  bool plain_ = false;
  double i_ = 0.0, w_ = 0.0, theta_ = 0.0;
  // The compliant coupling: the twist (motor angle less load angle) and its rate evolve as a
  // damped oscillator, integrated exactly over a period by `twist_step_`; the inertias' common
  // motion (their centre of momentum) as the rigid shaft does.
  bool compliant_ = false;
  double motor_share_ = 1.0;  // Jm / J
  double twist_ = 0.0, twist_rate_ = 0.0, common_speed_ = 0.0, common_angle_ = 0.0;
  // [twist, rate] <- m [twist, rate] + g x (motor torque / Jm + load torque / Jload).
  double twist_step_[2][3] = {};
  double hand_speed_ = 0.0;
  long hand_steps_left_ = 0;
};

}  // namespace dcsim
