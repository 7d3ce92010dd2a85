// The faults and actions of the simulated drive: the table of conditions that `--fault` and
// `--act` name, and their injection, at once or at a time of the run.

#include "sim/simulated_drive.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/zel_names.h"
#include "names/drive_names.h"

namespace dcsim {

namespace {

enum class Condition {
  ShortCircuit,
  EncoderAMissing,
  EncoderBMissing,
  EncoderSwapped,
  EnableOff,
  LimitPositive,
  LimitNegative,
  ShaftBlocked,
  Vdc,
  Inertia,
  Resistance,
  LoadTorque,
  Friction,
  Viscous,
  Resonance,
  ResonanceDamping,
  Pot,
  Turn,
  Stop,
  VarI2,
};

// In the order of the Condition enumeration.
// The ranges keep the motor model within what a drive of this family can meet, so that
// no count that the firmware derives from it leaves its register.
const std::vector<ConditionInfo> kConditions = {
    {"short_circuit", "0|1", "the motor leads are shorted together", true, 0, 1, true},
    {"encoder_a_missing", "0|1", "encoder channel A does not reach the drive", true, 0, 1, true},
    {"encoder_b_missing", "0|1", "encoder channel B does not reach the drive", true, 0, 1, true},
    {"encoder_swapped", "0|1", "encoder channels A and B are swapped", true, 0, 1, true},
    {"enable_off", "0|1", "the ENABLE input is in its disabled state", true, 0, 1, true},
    {"limit_positive", "0|1", "the positive limit switch is active", true, 0, 1, true},
    {"limit_negative", "0|1", "the negative limit switch is active", true, 0, 1, true},
    {"shaft_blocked", "0|1", "the motor shaft is blocked", true, 0, 1, true},
    {"vdc", "V", "the real supply voltage", false, 0.001, 1000, false},
    {"inertia", "kg m^2", "the real total inertia at the motor shaft", false, 1e-9, 10, false},
    {"resistance", "ohm", "the real armature resistance", false, 1e-3, 1e3, false},
    {"load_torque", "Nm", "a constant load torque against the motor", false, -100, 100, false},
    {"friction", "Nm", "dry friction of the shaft", false, 0, 100, false},
    {"viscous", "Nm s/rad",
     "the viscous friction of the shaft, in place of the motor's own 1e-5 Nm s/rad", false, 0, 1,
     false},
    {"resonance", "Hz",
     "a compliant coupling to the load: its free-free resonance (0: rigid), the load's share of "
     "the inertia from the setup's Jload_over_J",
     false, 0, 20000, false},
    {"resonance_damping", "1", "the compliant coupling's damping ratio", false, 0, 1, false},
    {"pot", "V", "potentiometer voltage on the analogue input", false, -30, 30, false},
    {"turn", "rad", "a hand turns the motor shaft by this angle over 0.5 s", false, -1e4, 1e4,
     false},
    {"stop", "1", "the user presses Stop (the running program ends)", true, 1, 1, true},
    {dcservo::var::var_i2, "value", "the host writes the live variable var_i2", false, -32768, 32767, true},
};

constexpr double kHandTurn_s = 0.5;

}  // namespace

const std::vector<ConditionInfo>& Conditions() { return kConditions; }

const ConditionInfo* FindCondition(std::string_view name) {
  for (const ConditionInfo& c : kConditions) {
    if (zel::NamesEqual(c.name, name)) return &c;
  }
  return nullptr;
}

std::string CheckConditionValue(const ConditionInfo& c, double value) {
  char range[96];
  if (c.lowest == c.highest)
    std::snprintf(range, sizeof range, "%g", c.lowest);
  else if (c.flag)
    std::snprintf(range, sizeof range, "0 or 1");
  else
    std::snprintf(range, sizeof range, "%s from %g to %g", c.whole ? "a whole number" : "a value",
                  c.lowest, c.highest);
  if (std::isfinite(value) && value >= c.lowest && value <= c.highest &&
      (!c.whole || value == std::floor(value)))
    return {};
  return "\"" + std::string(c.name) + "\" takes " + range;
}

// ---- faults and actions --------------------------------------------------------------------

bool SimulatedDrive::Inject(std::string_view name, double value, std::string& error) {
  const ConditionInfo* info = FindCondition(name);
  if (!info) {
    error = "no fault or action is called \"" + std::string(name) + "\"";
    return false;
  }
  error = CheckConditionValue(*info, value);
  if (!error.empty()) return false;
  const auto c = static_cast<Condition>(info - kConditions.data());
  const bool on = value != 0.0;
  switch (c) {
    case Condition::ShortCircuit: plant_.SetShorted(on); break;
    case Condition::EncoderAMissing: encoder_a_missing_ = on; break;
    case Condition::EncoderBMissing: encoder_b_missing_ = on; break;
    case Condition::EncoderSwapped: encoder_swapped_ = on; break;
    case Condition::EnableOff: enable_off_ = on; break;
    case Condition::LimitPositive: limit_positive_ = on; break;
    case Condition::LimitNegative: limit_negative_ = on; break;
    case Condition::ShaftBlocked: plant_.SetBlocked(on); break;
    case Condition::Vdc: plant_.SetSupply(value); break;
    case Condition::Inertia: plant_.SetInertia(value); break;
    case Condition::Resistance: plant_.SetResistance(value); break;
    case Condition::LoadTorque: plant_.SetLoadTorque(value); break;
    case Condition::Friction: plant_.SetCoulombFriction(value); break;
    case Condition::Viscous: plant_.SetViscousFriction(value); break;
    case Condition::Resonance: plant_.SetResonance(value); break;
    case Condition::ResonanceDamping: plant_.SetResonanceDamping(value); break;
    case Condition::Pot: pot_V_ = value; break;
    case Condition::Turn: plant_.TurnByHand(value, kHandTurn_s); break;
    case Condition::Stop:
      if (on) StopProgram();
      break;
    case Condition::VarI2: var_i2_ = value; break;
  }
  // A decoder that misses a channel sees no quadrature sequence and does not count.
  encoder_sign_ = encoder_a_missing_ || encoder_b_missing_ ? 0 : (encoder_swapped_ ? -1 : 1);
  SampleSlowSensors();
  return true;
}

bool SimulatedDrive::Schedule(double time_s, std::string_view name, double value,
                              std::string& error) {
  const ConditionInfo* info = FindCondition(name);
  if (!info) {
    error = "no fault or action is called \"" + std::string(name) + "\"";
    return false;
  }
  if (!(time_s >= 0.0) || !std::isfinite(time_s)) {
    error = "\"" + std::string(name) + "\" needs a time of 0 s or more";
    return false;
  }
  error = CheckConditionValue(*info, value);
  if (!error.empty()) return false;
  if (time_s <= time_) return Inject(name, value, error);
  Pending p{time_s, std::string(name), value};
  auto at = std::upper_bound(actions_.begin(), actions_.end(), time_s,
                             [](double t, const Pending& a) { return t < a.time; });
  actions_.insert(at, std::move(p));
  return true;
}

}  // namespace dcsim
