#pragma once
// The motor's data identified from the logs that the tests take anyway: the armature's R and
// L from the current step, the friction from the speed test's stretches of constant speed,
// and the inertia test's result corrected for the
// friction torque that worked against the test torque.

#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace dcservo {

// One identified quantity in base units. `confidence` is the chance, judged from the fit's
// own scatter, that the value lies within 5 % of the truth (0..1).
struct IdentifiedValue {
  std::string name;  // R, L, Jt, friction_coulomb, friction_viscous
  double value = 0.0;
  std::string unit;
  double confidence = 0.0;
};

// The confidence of an estimate with this relative standard error.
double ConfidenceOf(double relative_std_error);
// An identified R or L at least this sure is taken over the setup's.
inline constexpr double kArmatureTrusted = 0.5;

// R and L from a current step with the shaft held: the voltage reference and the measured
// current of every fast-loop sample. A command takes effect half a sample after the current it
// answers was read, so each sample's interval sees half of the previous command and half of its
// own. Nothing when the log holds no step.
std::vector<IdentifiedValue> IdentifyArmature(std::span<const double> voltage_V,
                                              std::span<const double> current_A,
                                              double period_s);

// A current step applies the voltage reference times the real supply over the setup's Vdc, so
// a supply that is not the setup's scales the R and L that the step reads alike. The factor
// by which the setup's Vdc exceeds the supply when both read off the setup's by one factor;
// nothing when they do not, or were not identified well enough to tell.
std::optional<double> SupplyFactor(const std::vector<IdentifiedValue>& identified,
                                   double setup_R, double setup_L);
// One line for each of R and L that the step reads off the setup's by more than a model
// error (when the two are not off together, which is the supply).
std::vector<std::string> ArmatureMismatches(const std::vector<IdentifiedValue>& identified,
                                            double setup_R, double setup_L);

// A tuning run at the motor shaft: reference and measured speed, measured current and whether
// the current reference sat at its limit, per logged sample.
struct MotionLog {
  std::vector<double> time_s, reference_rad_s, speed_rad_s, current_A;
  std::vector<bool> saturated;
  // How long the loop needs to settle after its reference changes; a short fixed time when 0.
  double settle_s = 0.0;
  // One step of the current converter that the loop holds the current through; 0 unknown.
  double current_step_A = 0.0;
};

struct FrictionFit {
  double coulomb_Nm = 0.0, viscous_Nm_s = 0.0;
  double coulomb_confidence = 0.0;
  std::optional<double> viscous_confidence;  // none when the run held a single speed
  // A run that held a single speed: that speed's magnitude and the standard error of the
  // friction there (0 otherwise).
  double held_speed_rad_s = 0.0, held_std_error_Nm = 0.0;
  // Friction torque at `speed_rad_s` (its magnitude).
  double TorqueAt(double speed_rad_s) const;
};

// The current's departure from its mean over each stretch of constant speed: what the speed
// measurement's counts do to the current. Nothing when the run held no constant speed.
struct CurrentRipple {
  double rms_A = 0.0, peak_A = 0.0;
};
std::optional<CurrentRipple> RippleAtConstantSpeed(const MotionLog& log);
// The current of each stretch of constant speed (those the ripple reads), in log order.
std::vector<std::vector<double>> CurrentAtConstantSpeed(const MotionLog& log);

// Nothing when the run held no constant speed long enough to be read.
std::optional<FrictionFit> IdentifyFriction(const MotionLog& log, double torque_constant);
std::vector<IdentifiedValue> FrictionValues(const FrictionFit& fit);

// Dry and viscous friction from two runs that each held a single speed, at speeds far enough
// apart: the friction's rise between them is the viscous part. Nothing when they are not.
std::optional<FrictionFit> FrictionFromTwoSpeeds(const FrictionFit& a, const FrictionFit& b);

// What the inertia test measured: the torque it applied and the speed it gained in a time,
// around a mean speed.
struct InertiaRun {
  double torque_Nm = 0.0;
  double speed_gain_rad_s = 0.0;
  double time_s = 0.0;
  double mean_speed_rad_s = 0.0;
  double speed_quantum_rad_s = 0.0;  // one step of the speeds it timed
  double timed_from_rad_s = 0.0;     // the speed at which the timing began
  double Raw() const { return torque_Nm * time_s / speed_gain_rad_s; }
  // Two speed readings' steps against the gain.
  double Confidence() const {
    return ConfidenceOf(std::sqrt(2.0) * speed_quantum_rad_s / std::abs(speed_gain_rad_s));
  }
};

// The inertia that only the torque left after friction accelerated; nothing when friction
// takes all of it.
std::optional<double> CorrectedInertia(const InertiaRun& run, const FrictionFit& friction);

// How the shaft slowed while it coasted with the drive switched off: friction (and any load
// torque) alone decelerated it.
struct CoastFit {
  double deceleration_rad_s2 = 0.0;
  double std_error_rad_s2 = 0.0;
};
// From the shaft's position (rad) read at times (s) while it coasted; nothing from fewer than
// four readings.
std::optional<CoastFit> CoastDeceleration(std::span<const double> time_s,
                                          std::span<const double> position_rad);

// The inertia test's torque accelerated the inertia against the friction that alone slowed
// the coast after it, over the same speeds: J (a + d) = T, and the friction torque is J d.
struct InertiaWithFriction {
  double inertia = 0.0, friction_Nm = 0.0, confidence = 0.0;
};
std::optional<InertiaWithFriction> InertiaFromCoast(const InertiaRun& run, const CoastFit& coast);

// The share of a test's current limit that a profile's ramp may ask for: the rest is the
// loop's room to correct.
inline constexpr double kProfileCurrentShare = 0.8;

// The steepest ramp (rad/s^2 at the motor) that the current limit drives through this inertia
// against this friction with the loop's room left; nothing when friction takes it all.
std::optional<double> AllowedAcceleration(double torque_constant, double current_limit_A,
                                          double inertia, double friction_Nm);

nlohmann::ordered_json IdentifiedJson(const std::vector<IdentifiedValue>& values);

}  // namespace dcservo
