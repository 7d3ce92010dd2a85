#include "derive/gains.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "derive/checked_write.h"
#include "derive/probes.h"
#include "derive/register_bits.h"
#include "derive/step.h"
#include "host/zel_numeric.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {
namespace {

static_assert([] {
  for (std::size_t i = 0; i < std::size(kFixedPointGains); ++i)
    if (static_cast<std::size_t>(kFixedPointGains[i].gain) != i) return false;
  return true;
}(), "FixedPointGainOf indexes the gains table by the enum");

constexpr Gain kCurrentLoopGains[] = {Gain::Kp_C, Gain::Ki_C};
constexpr Gain kSpeedLoopGains[] = {Gain::Kp_S, Gain::Ki_S};
constexpr Gain kPositionLoopGains[] = {Gain::Kp_P, Gain::Ki_P, Gain::Kd_P};

// The position controller's output is a speed reference only in position mode over the
// speed loop; otherwise it is a current reference.
bool PositionOverSpeedLoop(const CZel_Parameter& mode, const CZel_Parameter& type) {
  return IsCode(type.GetValueInBaseUnit(), PositionControlType::OverSpeedLoop) &&
         IsCode(mode.GetValueInBaseUnit(), ControlMode::Position);
}

// The controllers' current limit as the saturation register in use gives it: SATS while
// the speed controller is in the loop, else SATP.
StepResult CurrentLimitFromSaturation(CZel_Setup& setup, const char* target, double min) {
  auto p = FindParameters(setup, param::ImaxPS, param::ImaxM, param::ACR, param::SATS, param::SATP,
                          target);
  if (!p) return StepResult::Missing;
  auto [imaxps, imaxm, acr, sats, satp, limit] = *p;
  const double sat = BitOf(acr->GetValueInBaseUnit(), kAcrSpeedLoop)
                         ? sats->GetValueInBaseUnit()
                         : satp->GetValueInBaseUnit();
  return WriteScaled(*limit, min,
                     std::min(imaxps->GetValueInBaseUnit(), imaxm->GetValueInBaseUnit()),
                     (kFullScale - sat) / CurrentScale(setup));
}

// An integral limit as a percentage of the output limit it sits under.
StepResult IntegralLimitPercent(CZel_Setup& setup, const char* imax, const char* sat,
                         const char* percent) {
  auto p = FindParameters(setup, imax, sat, percent);
  if (!p) return StepResult::Missing;
  auto [i, s, pct] = *p;
  return WriteScaled(
      *pct, 0.0, 100.0,
      (kFullScale - i->GetValueInBaseUnit()) * 100.0 / (kFullScale - s->GetValueInBaseUnit()));
}

// FeedforwardShift and every gain's shift alike.
int ShiftOf(const CZel_Parameter& scaled) { return FixedPointShift(scaled.GetValueInBaseUnit()); }

constexpr double kFilterQOff = kFullScale;
// What the corner shows while the filter is off, so that switching it on starts somewhere
// sensible.
constexpr double kFilterOffCorner = 5000.0;

}  // namespace

std::span<const Gain> GainsOf(TunedLoop loop) {
  switch (loop) {
    case TunedLoop::Current: return kCurrentLoopGains;
    case TunedLoop::Speed: return kSpeedLoopGains;
    case TunedLoop::Position: return kPositionLoopGains;
  }
  return {};
}

std::vector<const char*> GainWriteOrder(Gain gain) {
  const FixedPointGain& g = FixedPointGainOf(gain);
  if (g.second_shift) return {g.shift, g.second_shift, g.mantissa};
  return {g.shift, g.mantissa};
}

std::vector<const char*> GainWriteOrder(TunedLoop loop) {
  std::vector<const char*> names;
  for (Gain gain : GainsOf(loop)) {
    const std::vector<const char*> pair = GainWriteOrder(gain);
    names.insert(names.end(), pair.begin(), pair.end());
  }
  return names;
}

const char* GainMantissaOf(std::string_view scaled) {
  for (const FixedPointGain& row : kFixedPointGains) {
    if (zel::NamesEqual(row.scaled, scaled)) return row.mantissa;
  }
  return nullptr;
}

int FixedPointShift(double gain) {
  return gain > 1.0 ? ZelSaturatingCast<int>(std::ceil(std::log(gain) / std::log(2.0))) : 0;
}

StepResult ScaledGainFromChip(CZel_Setup& setup, Gain gain) {
  const FixedPointGain& g = FixedPointGainOf(gain);
  auto p = FindParameters(setup, g.mantissa, g.shift, g.scaled);
  CZel_Parameter* second = g.second_shift ? setup.FindParameter(g.second_shift) : nullptr;
  if (!p || (g.second_shift && !second)) return StepResult::Missing;
  auto [m, s, x] = *p;
  const double shift =
      second ? second->GetValueInBaseUnit() + s->GetValueInBaseUnit() : s->GetValueInBaseUnit();
  return WriteScaled(*x, 0.0, g.max, m->GetValueInBaseUnit() * std::pow(2.0, shift) / kFullScale);
}

StepResult GainShiftToChip(CZel_Setup& setup, Gain gain) {
  const FixedPointGain& g = FixedPointGainOf(gain);
  auto p = FindParameters(setup, g.scaled, g.shift);
  if (!p) return StepResult::Missing;
  auto [x, s] = *p;
  const int shift = ShiftOf(*x);
  return WriteChip(*s, g.second_shift ? std::min(shift, g.split_at) : shift);
}

StepResult ComputeSFTKFF(CZel_Setup& setup) {
  const FixedPointGain& g = FixedPointGainOf(Gain::KFFA);
  auto p = FindParameters(setup, g.scaled, g.second_shift);
  if (!p) return StepResult::Missing;
  auto [x, s] = *p;
  const int shift = ShiftOf(*x);
  return WriteChip(*s, shift > g.split_at ? shift - g.split_at : 0);
}

StepResult GainMantissaToChip(CZel_Setup& setup, Gain gain) {
  const FixedPointGain& g = FixedPointGainOf(gain);
  auto p = FindParameters(setup, g.scaled, g.mantissa);
  if (!p) return StepResult::Missing;
  auto [x, m] = *p;
  return WriteChip(*m, x->GetValueInBaseUnit() * kFullScale / std::pow(2.0, ShiftOf(*x)));
}

// --- Chip to scaled ---------------------------------------------------------------------

StepResult ComputeIlimPS(CZel_Setup& setup) {
  return CurrentLimitFromSaturation(setup, param::IlimPS, 0.001);
}

StepResult ComputeTestLimitCurrent(CZel_Setup& setup) {
  return CurrentLimitFromSaturation(setup, param::TestLimitCurrent, 0.0);
}

// With the motor's inertia marked unknown the total may be below it; the load's share is
// then unknown too and shown as none, where a negative one would not load again.
StepResult ComputeJload_over_J(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Jt, param::Jm, param::Jload_over_J);
  if (!p) return StepResult::Missing;
  auto [jt, jm, ratio] = *p;
  double value = jt->GetValueInBaseUnit() / jm->GetValueInBaseUnit() - 1.0;
  if (IsMotorInertiaUnknown(setup)) value = std::max(value, 0.0);
  return WriteScaled(*ratio, 0.0, 100.0, value);
}

StepResult ComputeTestCurrent(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::In, param::InPS, param::TestCurrent);
  if (!p) return StepResult::Missing;
  auto [in, inps, test] = *p;
  const double nominal = std::min(in->GetValueInBaseUnit(), inps->GetValueInBaseUnit());
  return WriteScaled(*test, 0.001, 0.9 * nominal, 0.5 * nominal);
}

StepResult ComputeTestMaxSpeed(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Vdc, param::K, param::TestMaxSpeed);
  if (!p) return StepResult::Missing;
  auto [vdc, k, speed] = *p;
  // Vdc / K is the motor's no-load speed at full voltage.
  const double top = vdc->GetValueInBaseUnit() / k->GetValueInBaseUnit();
  return WriteScaled(*speed, 0.0, top, top / 3.0);
}

StepResult ComputeIsUseFilterOnCrtCtrlOutput(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FILTERQ, param::isUseFilterOnCrtCtrlOutput);
  if (!p) return StepResult::Missing;
  auto [q, on] = *p;
  return WriteScaled(*on, 0.0, 1.0, q->GetValueInBaseUnit() == kFilterQOff ? 0.0 : 1.0);
}

StepResult ComputeFilterOnCurrentControllerOutput(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FILTERQ, param::DSP_freq, param::CLPER, param::PWMPER,
                          param::FilterOnCurrentControllerOutput);
  if (!p) return StepResult::Missing;
  auto [q, dsp, clper, pwmper, corner] = *p;
  const double ts = LoopPeriodOf(clper->GetValueInBaseUnit(), pwmper->GetValueInBaseUnit(),
                                 dsp->GetValueInBaseUnit());
  const double filterq = q->GetValueInBaseUnit();
  const double value = filterq == kFilterQOff
                           ? kFilterOffCorner
                           : RoundDecimalValue(FirstOrderCorner(filterq, ts), 0);
  return WriteScaled(*corner, 0.0, FirstOrderCornerMaximum(ts), value);
}

StepResult ComputeIsCompensateGravitationalLoads(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FFL, param::isCompensateGravitationalLoads);
  if (!p) return StepResult::Missing;
  auto [ffl, on] = *p;
  return WriteScaled(*on, 0.0, 1.0, ffl->GetValueInBaseUnit() == 0.0 ? 0.0 : 1.0);
}

StepResult ComputeOffsetCurrent(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FFL, param::In, param::OffsetCurrent);
  if (!p) return StepResult::Missing;
  auto [ffl, in, offset] = *p;
  const double nominal = in->GetValueInBaseUnit();
  return WriteScaled(*offset, -nominal, nominal, ffl->GetValueInBaseUnit() / CurrentScale(setup));
}

StepResult ComputeIPSatS(CZel_Setup& setup) {
  return IntegralLimitPercent(setup, param::IMAXS, param::SATS, param::IPSatS);
}
StepResult ComputeIPSatP(CZel_Setup& setup) {
  return IntegralLimitPercent(setup, param::IMAXP, param::SATP, param::IPSatP);
}

StepResult Computefilter_D(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::KDFP, param::filter_D);
  if (!p) return StepResult::Missing;
  auto [kdfp, filter] = *p;
  return WriteScaled(*filter, 0.0, 1.0, kdfp->GetValueInBaseUnit() / kFullScale);
}

StepResult ComputeLimit_Speed(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ControlMode, param::PositionControlType, param::SATP,
                          param::Vdc, param::K, param::SensorsConfiguration, param::ADCResolution,
                          param::Motor_transmission, param::Load_transmission, param::Limit_Speed);
  if (!p) return StepResult::Missing;
  auto [mode, type, satp, vdc, k, sensors, adc, motor_side, load_side, limit] = *p;
  if (!PositionOverSpeedLoop(*mode, *type)) return StepResult::Done;
  const double load_per_motor =
      std::abs(load_side->GetValueInBaseUnit() / motor_side->GetValueInBaseUnit());
  const double motor_scale = std::abs(MotorSpeedScale(setup));
  // With an encoder the motor's no-load speed bounds the limit; a tacho is bounded by the
  // converter's span instead.
  const double max = IsCode(sensors->GetValueInBaseUnit(), SensorsConfiguration::EncoderOnMotor)
                         ? (vdc->GetValueInBaseUnit() / k->GetValueInBaseUnit()) * load_per_motor
                         : (adc->GetValueInBaseUnit() * 0.5 - 1.0) * load_per_motor / motor_scale;
  return WriteScaled(*limit, 0.0, max,
                     (kFullScale - satp->GetValueInBaseUnit()) * load_per_motor / motor_scale);
}

// --- Scaled to chip ---------------------------------------------------------------------

StepResult ComputeFILTERQ(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::isUseFilterOnCrtCtrlOutput,
                          param::FilterOnCurrentControllerOutput, param::Ts_C, param::FILTERQ);
  if (!p) return StepResult::Missing;
  auto [on, corner, ts, q] = *p;
  if (on->GetValueInBaseUnit() == 0.0) return WriteChip(*q, kFilterQOff);
  // The register keeps the coefficient truncated, as the firmware's own tuning wrote it.
  return WriteChip(*q, std::trunc(FirstOrderCoefficient(corner->GetValueInBaseUnit(),
                                                        ts->GetValueInBaseUnit())));
}

StepResult ComputeFFL(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::isCompensateGravitationalLoads, param::OffsetCurrent,
                          param::FFL);
  if (!p) return StepResult::Missing;
  auto [on, offset, ffl] = *p;
  if (Truncated(on->GetValueInBaseUnit()) == 0) return WriteChip(*ffl, 0.0);
  return WriteChip(*ffl, offset->GetValueInBaseUnit() * CurrentScale(setup));
}

// The gravity offset is applied at full gain; its size lives in FFL alone.
StepResult ComputeKFFL(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::KFFL);
  if (!p) return StepResult::Missing;
  return WriteChip(*(*p)[0], kFullScale);
}

StepResult ComputeIMAXS(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::IlimPS, param::IPSatS, param::IMAXS);
  if (!p) return StepResult::Missing;
  auto [ilim, pct, imax] = *p;
  return WriteLimitRegister(*imax, kFullScale - ilim->GetValueInBaseUnit() *
                                                    (pct->GetValueInBaseUnit() / 100.0) *
                                                    CurrentScale(setup));
}

StepResult ComputeSATS(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::IlimPS, param::SATS);
  if (!p) return StepResult::Missing;
  auto [ilim, sat] = *p;
  return WriteLimitRegister(*sat, kFullScale - ilim->GetValueInBaseUnit() * CurrentScale(setup));
}

StepResult ComputeKDFP(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::filter_D, param::KDFP);
  if (!p) return StepResult::Missing;
  auto [filter, kdfp] = *p;
  return WriteChip(*kdfp, filter->GetValueInBaseUnit() * kFullScale);
}

StepResult ComputeIMAXP(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ControlMode, param::PositionControlType, param::Limit_Speed,
                          param::IlimPS, param::IPSatP, param::Motor_transmission,
                          param::Load_transmission, param::IMAXP);
  if (!p) return StepResult::Missing;
  auto [mode, type, speed, ilim, pct, motor_side, load_side, imax] = *p;
  const double fraction = pct->GetValueInBaseUnit() / 100.0;
  if (PositionOverSpeedLoop(*mode, *type)) {
    return WriteLimitRegister(*imax, kFullScale - speed->GetValueInBaseUnit() * fraction *
                                                      std::abs(MotorSpeedScale(setup)) *
                                                      std::abs(motor_side->GetValueInBaseUnit() /
                                                               load_side->GetValueInBaseUnit()));
  }
  return WriteLimitRegister(
      *imax, kFullScale - ilim->GetValueInBaseUnit() * fraction * std::abs(CurrentScale(setup)));
}

StepResult ComputeSATP(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ControlMode, param::PositionControlType, param::Limit_Speed,
                          param::IlimPS, param::Motor_transmission, param::Load_transmission,
                          param::SATP);
  if (!p) return StepResult::Missing;
  auto [mode, type, speed, ilim, motor_side, load_side, sat] = *p;
  if (PositionOverSpeedLoop(*mode, *type)) {
    return WriteLimitRegister(
        *sat, kFullScale -
                  speed->GetValueInBaseUnit() * std::abs(MotorSpeedScale(setup)) *
                      std::abs(motor_side->GetValueInBaseUnit() / load_side->GetValueInBaseUnit()));
  }
  return WriteLimitRegister(*sat, kFullScale - ilim->GetValueInBaseUnit() * CurrentScale(setup));
}

StepResult ApplySpeedForwardRule(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SpeedForward, param::ControlMode,
                          param::PositionControlType, param::ACR, param::SensorsConfiguration);
  if (!p) return StepResult::Missing;
  auto [forward, mode, type, acr, sensors] = *p;
  if (PositionOverSpeedLoop(*mode, *type) &&
      IsCode(sensors->GetValueInBaseUnit(), SensorsConfiguration::EncoderOnMotor))
    return StepResult::Done;
  const auto bits = static_cast<unsigned long long>(Truncated(acr->GetValueInBaseUnit()));
  return Stored(forward->SetValueInInternalUnit(1.0) &
                acr->SetValueInBaseUnit(static_cast<double>(bits | kAcrSpeedForward)));
}

}  // namespace dcservo
