#include "design/controller_tuning.h"

#include <cmath>
#include <numbers>
#include <optional>

#include "derive/step.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/parameter_reader.h"
#include "units/scales.h"

namespace dcservo {
namespace {

bool PosSpdInFastLoop(CZel_Setup& setup) {
  const CZel_Parameter* p = setup.FindOptionalParameter(param::PosSpd_in_FastLoop);
  return p && BaseValue(p) != 0.0;
}

// Tsp; a design reads it with the host reporting a missing period, as the period is as much
// an input of the design as the motor data.
std::optional<double> OuterLoopPeriod(const ParameterReader& in) {
  const char* name = PosSpdInFastLoop(in.Setup()) ? param::Ts_C : param::Ts_S;
  const CZel_Parameter* p = in.Find(name);
  if (!p) return std::nullopt;
  return BaseValue(p);
}

// All gains or none: a design that would store a non-number leaves the old gains in place.
template <std::size_t N>
StepResult WriteGains(CZel_Parameter* const (&params)[N], const double (&values)[N]) {
  for (double v : values) {
    if (!std::isfinite(v)) return StepResult::Refused;
  }
  for (std::size_t i = 0; i < N; ++i) params[i]->SetValueInBaseUnit(values[i]);
  return StepResult::Done;
}

}  // namespace

double SpeedPositionLoopPeriod(CZel_Setup& setup) {
  return OuterLoopPeriod(ParameterReader::Quiet(setup)).value_or(0.0);
}

StepResult ComputeCurrentControllerGains(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::L, param::R, param::Kp_C_scl, param::Ki_C_scl, param::PB_C,
                          param::Dump_C, param::Ts_C);
  if (!p) return StepResult::Missing;
  auto [l, r, kp, ki, pb, damping, ts] = *p;
  const double R = BaseValue(r);
  const double tau = BaseValue(l) / R;
  const double w = BaseValue(pb);
  const double tc = BaseValue(ts);
  // Volts per ampere in the drive's internal units.
  const double ohm = R * VoltageScale(setup) / CurrentScale(setup);
  double kp_value, ki_value;
  if (tau > 4.0 * tc) {
    // PI zero and plant pole together give s^2 + 2 zeta w s + w^2 as the closed loop.
    kp_value = ohm * (2.0 * BaseValue(damping) * w * tau - 1.0);
    ki_value = ohm * w * w * tau * tc;
  } else {
    // An electrical time constant within four samples is too short to place two poles
    // through sampled feedback: the proportional part is set from tau and Tc alone and the
    // integral part sets the pass band; the damping does not enter.
    kp_value = ohm * (tau * 0.5 / std::numbers::sqrt2 / tc - 1.0);
    ki_value = ohm * w * tc;
  }
  return WriteGains({kp, ki}, {kp_value, ki_value});
}

StepResult ComputeSpeedControllerGains(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Ki_S_scl, param::Kp_S_scl, param::Jt, param::K, param::PB_S,
                          param::Dump_S);
  if (!p) return StepResult::Missing;
  auto [ki, kp, jt, k, pb, damping] = *p;
  const auto tsp = OuterLoopPeriod(ParameterReader::Reporting(setup));
  if (!tsp) return StepResult::Missing;
  const double w = BaseValue(pb);
  // Amperes of reference per rad/s of error, in internal units, for the inertia Jt.
  const double inertia =
      CurrentScale(setup) * BaseValue(jt) / (BaseValue(k) * MotorSpeedScale(setup));
  return WriteGains({ki, kp}, {w * w * *tsp * inertia, 2.0 * w * BaseValue(damping) * inertia});
}

StepResult ComputePositionControllerGains(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::Ki_P_scl, param::Kp_P_scl, param::Kd_P_scl,
                     param::PositionControlType, param::Jt, param::PB_P, param::K, param::Dump_P);
  if (!p) return StepResult::Missing;
  auto [ki, kp, kd, type, jt, pb, k, damping] = *p;
  const auto tsp = OuterLoopPeriod(ParameterReader::Reporting(setup));
  if (!tsp) return StepResult::Missing;
  const double w = BaseValue(pb);
  const double zeta = BaseValue(damping);
  if (IsCode(BaseValue(type), PositionControlType::OverSpeedLoop)) {
    // Over a (fast) speed loop the plant is an integrator: PI places s^2 + 2 zeta w s + w^2
    // whatever the inertia.
    const double speed_per_count = MotorSpeedScale(setup) / MotorPositionScale(setup);
    return WriteGains({ki, kp, kd},
                      {w * w * *tsp * speed_per_count, 2.0 * w * zeta * speed_per_count, 0.0});
  }
  // Straight onto the current loop the plant is K / (Jt s^2): PID places
  // (s + w)(s^2 + 2 zeta w s + w^2).
  const double a = (2.0 * zeta + 1.0) * w;
  const double inertia =
      BaseValue(jt) * CurrentScale(setup) / (BaseValue(k) * MotorPositionScale(setup));
  return WriteGains({ki, kp, kd}, {w * w * w * *tsp * inertia, a * w * inertia, a * inertia / *tsp});
}

}  // namespace dcservo
