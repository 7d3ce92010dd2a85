#include "derive/protections.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>

#include "derive/checked_write.h"
#include "derive/probes.h"
#include "derive/step.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {
namespace {

constexpr PcrFlagBit kPcrFlags[] = {
    {0, param::isOverCurrent},   {1, param::isMotorI2t},    {2, param::isMotorOverTemp},
    {3, param::isDriveOverTemp}, {4, param::isOverVoltage}, {5, param::isUnderVoltage},
    {7, param::isDriveI2t},
};

// The dialogs spell the motor I²t flag "isMotori2t"; names fold case, so a lookup by either
// spelling reaches the one parameter and the one row here.
const PcrFlagBit& PcrFlagNamed(const char* flag) {
  return *std::find_if(std::begin(kPcrFlags), std::end(kPcrFlags),
                       [flag](const PcrFlagBit& row) { return zel::NamesEqual(row.flag, flag); });
}

StepResult PcrFlagToScaled(CZel_Setup& setup, const char* flag, double max = 1.0) {
  auto p = FindParameters(setup, param::PCR, flag);
  if (!p) return StepResult::Missing;
  auto [pcr, on] = *p;
  return WriteScaled(*on, 0.0, max, BitOf(pcr->GetValueInBaseUnit(), PcrFlagNamed(flag).mask()));
}

// The time factor is the slow-loop period over the I²t time, in units of 2^-26.
constexpr double kI2tTimeUnits = 67108864.0;
// The chip keeps the I²t integral in sixteenths of a squared current unit.
constexpr double kI2tIntegralScale = 0.0625;
constexpr double kI2tIntegralScaleInverse = 16.0;
// Keeps the time factor within [1, 32768].
constexpr double kI2tShortestTimeSamples = 2048.0;
// At the limit current the warning level is reached this long before the trip.
constexpr double kI2tWarningLeadSeconds = 2.0;

struct I2tProtection {
  const char* current;    // the limit current, A
  const char* time;       // the time at that current, s
  const char* nominal;    // the current that may flow for ever
  const char* peak;       // top of the limit current's range
  double nominal_margin;  // the limit current's range starts at nominal x this
  const char* nominal_register;
  const char* time_factor;
  const char* integral_limit;
  const char* warning_limit;
  // The drive's time is read back over the stored slow-loop period, the motor's over the
  // period the chip timing gives; the two agree whenever the setup is consistent.
  bool time_over_stored_period;
};

constexpr I2tProtection kDriveI2t = {.current = param::I_I2t_D,
                                     .time = param::t_I2t_D,
                                     .nominal = param::InPS,
                                     .peak = param::ImaxPS,
                                     .nominal_margin = 1.0,
                                     .nominal_register = param::II2TPROT_D,
                                     .time_factor = param::SFI2T_D,
                                     .integral_limit = param::I2TINTLIM_D,
                                     .warning_limit = param::II2TWARLIM_D,
                                     .time_over_stored_period = true};
constexpr I2tProtection kMotorI2t = {.current = param::I_I2t_M,
                                     .time = param::t_I2t_M,
                                     .nominal = param::In,
                                     .peak = param::ImaxM,
                                     .nominal_margin = 1.1,
                                     .nominal_register = param::II2TPROT_M,
                                     .time_factor = param::SFI2T_M,
                                     .integral_limit = param::I2TINTLIM_M,
                                     .warning_limit = param::I2TWARLIM_M,
                                     .time_over_stored_period = false};

StepResult I2tCurrentToScaled(CZel_Setup& setup, const I2tProtection& i2t) {
  auto p = FindParameters(setup, i2t.integral_limit, i2t.nominal, i2t.peak, i2t.current);
  if (!p) return StepResult::Missing;
  auto [integral, nominal, peak, current] = *p;
  const double k = CurrentScale(setup);
  const double in = nominal->GetValueInBaseUnit() * k;
  return WriteScaled(
      *current, i2t.nominal_margin * nominal->GetValueInBaseUnit(), peak->GetValueInBaseUnit(),
      std::sqrt(kI2tIntegralScaleInverse * integral->GetValueInInternalUnit() + in * in) / k);
}

StepResult I2tTimeToScaled(CZel_Setup& setup, const I2tProtection& i2t) {
  auto p = FindParameters(setup, i2t.time_factor, i2t.time);
  CZel_Parameter* ts = i2t.time_over_stored_period ? setup.FindParameter(param::Ts_S) : nullptr;
  if (!p || (i2t.time_over_stored_period && !ts)) return StepResult::Missing;
  auto [factor, time] = *p;
  const double t_chip = SlowLoopPeriod(setup);
  const double period = ts ? ts->GetValueInBaseUnit() : t_chip;
  return WriteScaled(*time, kI2tShortestTimeSamples * t_chip, kI2tTimeUnits * t_chip,
                     period * kI2tTimeUnits / factor->GetValueInBaseUnit());
}

StepResult I2tNominalToChip(CZel_Setup& setup, const I2tProtection& i2t) {
  auto p = FindParameters(setup, i2t.nominal, i2t.nominal_register);
  if (!p) return StepResult::Missing;
  auto [nominal, reg] = *p;
  const double value = nominal->GetValueInBaseUnit() * CurrentScale(setup);
  if (!AllFinite(value)) return StepResult::Refused;
  return Stored(reg->SetValueInInternalUnit(value));
}

StepResult I2tTimeFactorToChip(CZel_Setup& setup, const I2tProtection& i2t) {
  auto p = FindParameters(setup, param::Ts_S, i2t.time, i2t.time_factor);
  if (!p) return StepResult::Missing;
  auto [ts, time, factor] = *p;
  const double value = ts->GetValueInBaseUnit() * kI2tTimeUnits / time->GetValueInBaseUnit();
  if (!AllFinite(value)) return StepResult::Refused;
  return Stored(factor->SetValueInInternalUnit(value));
}

// The excess of the squared limit current over the squared nominal one, in squared
// internal units, reduced by `warning` when the warning level is asked for.
StepResult I2tLimitToChip(CZel_Setup& setup, const I2tProtection& i2t, bool warning) {
  const char* target = warning ? i2t.warning_limit : i2t.integral_limit;
  auto p = FindParameters(setup, i2t.current, i2t.nominal, i2t.time, target);
  if (!p) return StepResult::Missing;
  auto [current, nominal, time, limit] = *p;
  const double i = current->GetValueInBaseUnit();
  const double in = nominal->GetValueInBaseUnit();
  const double k = CurrentScale(setup);
  const double excess = i * i - in * in;
  if (!warning) return WriteChip(*limit, excess * (k * k) * kI2tIntegralScale);
  return WriteChip(*limit, excess * (1.0 - kI2tWarningLeadSeconds / time->GetValueInBaseUnit()) *
                               (k * k) * kI2tIntegralScale);
}

// --- thresholds and delays shared by the over-current and control-error protections ----

using ScaleFn = double (*)(CZel_Setup& setup);
double AbsLoadPositionScale(CZel_Setup& setup) { return std::abs(LoadPositionScale(setup)); }
double AbsLoadSpeedScale(CZel_Setup& setup) { return std::abs(LoadSpeedScale(setup)); }

enum class Rounding { AsComputed, TowardZero };

StepResult ScaledTimesScale(CZel_Setup& setup, const char* scaled, const char* chip, ScaleFn scale,
                     Rounding rounding = Rounding::AsComputed) {
  auto p = FindParameters(setup, scaled, chip);
  if (!p) return StepResult::Missing;
  auto [value, reg] = *p;
  const double product = value->GetValueInBaseUnit() * scale(setup);
  return WriteChip(*reg, rounding == Rounding::TowardZero ? std::trunc(product) : product);
}

StepResult OverCurrentToScaled(CZel_Setup& setup, const char* target, double min) {
  auto p = FindParameters(setup, param::IMAXPROT, param::ImaxM, param::ImaxPS, target);
  if (!p) return StepResult::Missing;
  auto [imax, imaxm, imaxps, current] = *p;
  return WriteScaled(*current, min,
                     std::min(imaxm->GetValueInBaseUnit(), imaxps->GetValueInBaseUnit()),
                     imax->GetValueInBaseUnit() / CurrentScale(setup));
}

// A delay counted in slow-loop samples, up to what a signed register holds.
StepResult DelayToScaled(CZel_Setup& setup, const char* reg, const char* time) {
  auto p = FindParameters(setup, reg, time);
  if (!p) return StepResult::Missing;
  auto [samples, seconds] = *p;
  const double t_chip = SlowLoopPeriod(setup);
  return WriteScaled(*seconds, 0.001, kFullScale * t_chip, samples->GetValueInBaseUnit() * t_chip);
}

// With a `flag` that is off, the delay register gets the value that switches the
// protection off instead.
StepResult DelayToChip(CZel_Setup& setup, const char* time, const char* reg, const char* flag = nullptr) {
  auto p = FindParameters(setup, time, param::Ts_S, reg);
  CZel_Parameter* on = flag ? setup.FindParameter(flag) : nullptr;
  if (!p || (flag && !on)) return StepResult::Missing;
  auto [seconds, ts, samples] = *p;
  if (on && !IsFlagSet(on->GetValueInBaseUnit())) return WriteChip(*samples, kProtectionOffDelay);
  return WriteChip(*samples, seconds->GetValueInBaseUnit() / ts->GetValueInBaseUnit());
}

struct ControlError {
  const char* flag;
  const char* band;
  const char* band_register;
  double band_min;
  ScaleFn scale;
  const char* time;
  const char* time_register;
};

constexpr ControlError kPositionError = {.flag = param::isPositionControlError,
                                         .band = param::ERR_position,
                                         .band_register = param::ERRMAX,
                                         .band_min = 0.0,
                                         .scale = AbsLoadPositionScale,
                                         .time = param::time_ERR_pos,
                                         .time_register = param::TERRMAX};
constexpr ControlError kSpeedError = {.flag = param::isSpeedControlError,
                                      .band = param::ERR_speed,
                                      .band_register = param::SERRMAX,
                                      .band_min = 0.001,
                                      .scale = AbsLoadSpeedScale,
                                      .time = param::time_ERR_spd,
                                      .time_register = param::TSERRMAX};

StepResult ControlErrorFlagToScaled(CZel_Setup& setup, const ControlError& e) {
  auto p = FindParameters(setup, e.time_register, e.flag);
  if (!p) return StepResult::Missing;
  auto [delay, on] = *p;
  return WriteScaled(*on, 0.0, 1.0, delay->GetValueInBaseUnit() == kProtectionOffDelay ? 0.0 : 1.0);
}

StepResult ControlErrorBandToScaled(CZel_Setup& setup, const ControlError& e) {
  auto p = FindParameters(setup, e.band_register, e.band);
  if (!p) return StepResult::Missing;
  auto [reg, band] = *p;
  const double scale = e.scale(setup);
  return WriteScaled(*band, e.band_min, kFullScale / scale, reg->GetValueInBaseUnit() / scale);
}

// A DC-link voltage threshold from its converter counts.
StepResult VoltageToScaled(CZel_Setup& setup, const char* reg, const char* volts, double min, double max) {
  auto p = FindParameters(setup, reg, volts);
  if (!p) return StepResult::Missing;
  auto [counts, value] = *p;
  return WriteScaled(*value, min, max, counts->GetValueInBaseUnit() / MeasuredVoltageScale(setup));
}

constexpr double kVoltageThresholdMin = 1.0;
constexpr double kVoltageThresholdMax = 2000.0;

}  // namespace

std::span<const PcrFlagBit> PcrFlagBits() { return kPcrFlags; }

// --- Chip to scaled ---------------------------------------------------------------------

StepResult ComputeIsOverVoltage(CZel_Setup& setup) { return PcrFlagToScaled(setup, param::isOverVoltage); }
StepResult ComputeIsUnderVoltage(CZel_Setup& setup) {
  return PcrFlagToScaled(setup, param::isUnderVoltage);
}
StepResult ComputeIsDriveOverTemp(CZel_Setup& setup) {
  return PcrFlagToScaled(setup, param::isDriveOverTemp);
}
StepResult ComputeIsDriveI2t(CZel_Setup& setup) { return PcrFlagToScaled(setup, param::isDriveI2t); }
StepResult ComputeIsOverCurrent(CZel_Setup& setup) { return PcrFlagToScaled(setup, param::isOverCurrent); }
StepResult ComputeIsMotorI2t(CZel_Setup& setup) { return PcrFlagToScaled(setup, "isMotori2t"); }

StepResult ComputeIsMotorOverTemp(CZel_Setup& setup) {
  return PcrFlagToScaled(setup, param::isMotorOverTemp,
                         setup.GetIntOption(option::DisableMotorTemperature) != 0 ? 0.0 : 1.0);
}

StepResult ComputeScaledUMAX_PROT(CZel_Setup& setup) {
  return VoltageToScaled(setup, param::UMAXPROT, param::UMAX_PROT, kVoltageThresholdMin,
                         kVoltageThresholdMax);
}

StepResult ComputeScaledUMIN_PROT(CZel_Setup& setup) {
  return VoltageToScaled(setup, param::UMINPROT, param::UMIN_PROT, kVoltageThresholdMin,
                         kVoltageThresholdMax);
}

StepResult ComputeVbrake(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::VdcMaxMeasurable);
  if (!p) return StepResult::Missing;
  return VoltageToScaled(setup, param::BRAKELIM, param::Vbrake, kVoltageThresholdMin,
                         (*p)[0]->GetValueInBaseUnit());
}

StepResult ComputeTemp_2(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ADCrange, param::T2MAXPROT, param::DriveTempOutputAt0oC,
                          param::DriveTempSensorGain, param::Temp_2);
  if (!p) return StepResult::Missing;
  auto [range, counts, at0, gain, temp] = *p;
  return WriteScaled(*temp, -100.0, 1000.0,
                     (range->GetValueInBaseUnit() * counts->GetValueInBaseUnit() / AdcMax(setup) -
                      at0->GetValueInBaseUnit()) /
                         gain->GetValueInBaseUnit());
}

StepResult ComputeI_I2t_D(CZel_Setup& setup) { return I2tCurrentToScaled(setup, kDriveI2t); }
StepResult Computet_I2t_D(CZel_Setup& setup) { return I2tTimeToScaled(setup, kDriveI2t); }
StepResult ComputeI_I2t_M(CZel_Setup& setup) { return I2tCurrentToScaled(setup, kMotorI2t); }
StepResult Computet_I2t_M(CZel_Setup& setup) { return I2tTimeToScaled(setup, kMotorI2t); }

StepResult ComputeTestProtectionCurrent(CZel_Setup& setup) {
  return OverCurrentToScaled(setup, param::TestProtectionCurrent, 0.0);
}
StepResult ComputeScaledImax_Prot(CZel_Setup& setup) {
  return OverCurrentToScaled(setup, param::Imax_Prot, 0.001);
}
StepResult Computetime_Imax_Prot(CZel_Setup& setup) {
  return DelayToScaled(setup, param::TIMAXPROT, param::time_Imax_Prot);
}

StepResult ComputeIsPositionControlError(CZel_Setup& setup) {
  return ControlErrorFlagToScaled(setup, kPositionError);
}
StepResult ComputeERR_position(CZel_Setup& setup) {
  return ControlErrorBandToScaled(setup, kPositionError);
}
StepResult Computetime_ERR_pos(CZel_Setup& setup) {
  return DelayToScaled(setup, kPositionError.time_register, kPositionError.time);
}
StepResult ComputeIsSpeedControlError(CZel_Setup& setup) {
  return ControlErrorFlagToScaled(setup, kSpeedError);
}
StepResult ComputeERR_speed(CZel_Setup& setup) { return ControlErrorBandToScaled(setup, kSpeedError); }
StepResult Computetime_ERR_spd(CZel_Setup& setup) {
  return DelayToScaled(setup, kSpeedError.time_register, kSpeedError.time);
}

StepResult ComputeMotor_TempSensor_Type(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::MTSTYPE, param::Motor_TempSensor_Type);
  if (!p) return StepResult::Missing;
  auto [reg, type] = *p;
  return WriteScaled(*type, 0.0, 1.0, static_cast<double>(Truncated(reg->GetValueInBaseUnit())));
}

StepResult ComputeIsBrakeResistor(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::OSR, param::isBrakeResistor);
  if (!p) return StepResult::Missing;
  auto [osr, on] = *p;
  return WriteScaled(*on, 0.0, 1.0, BitOf(osr->GetValueInBaseUnit(), kOsrBrakeResistor));
}

// --- Scaled to chip ---------------------------------------------------------------------

StepResult ComputeT2MAXPROT(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::DriveTempOutputAt0oC, param::DriveTempSensorGain,
                          param::Temp_2, param::ADCrange, param::T2MAXPROT);
  if (!p) return StepResult::Missing;
  auto [at0, gain, temp, range, counts] = *p;
  return WriteChip(*counts, AdcMax(setup) *
                                (at0->GetValueInBaseUnit() +
                                 gain->GetValueInBaseUnit() * temp->GetValueInBaseUnit()) /
                                range->GetValueInBaseUnit());
}

StepResult ComputeChipUMAXPROT(CZel_Setup& setup) {
  return ScaledTimesScale(setup, param::UMAX_PROT, param::UMAXPROT, MeasuredVoltageScale,
                          Rounding::TowardZero);
}
// Unlike the over-voltage threshold this one is left to the host's rounding.
StepResult ComputeChipUMINPROT(CZel_Setup& setup) {
  return ScaledTimesScale(setup, param::UMIN_PROT, param::UMINPROT, MeasuredVoltageScale);
}
StepResult ComputeBRAKELIM(CZel_Setup& setup) {
  return ScaledTimesScale(setup, param::Vbrake, param::BRAKELIM, MeasuredVoltageScale);
}

StepResult ComputeII2TPROT_D(CZel_Setup& setup) { return I2tNominalToChip(setup, kDriveI2t); }
StepResult ComputeSFI2T_D(CZel_Setup& setup) { return I2tTimeFactorToChip(setup, kDriveI2t); }
StepResult ComputeI2TINTLIM_D(CZel_Setup& setup) { return I2tLimitToChip(setup, kDriveI2t, false); }
StepResult ComputeII2TWARLIM_D(CZel_Setup& setup) { return I2tLimitToChip(setup, kDriveI2t, true); }
StepResult ComputeII2TPROT_M(CZel_Setup& setup) { return I2tNominalToChip(setup, kMotorI2t); }
StepResult ComputeSFI2T_M(CZel_Setup& setup) { return I2tTimeFactorToChip(setup, kMotorI2t); }
StepResult ComputeI2TINTLIM_M(CZel_Setup& setup) { return I2tLimitToChip(setup, kMotorI2t, false); }
StepResult ComputeI2TWARLIM_M(CZel_Setup& setup) { return I2tLimitToChip(setup, kMotorI2t, true); }

StepResult ComputeMTSTYPE(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Motor_TempSensor_Type, param::MTSTYPE);
  if (!p) return StepResult::Missing;
  auto [type, reg] = *p;
  return WriteChip(*reg, IsFlagSet(type->GetValueInBaseUnit()) ? 1.0 : 0.0);
}

StepResult ComputeOSR(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::OSR, param::isBrakeResistor, param::SensorsConfiguration);
  if (!p) return StepResult::Missing;
  auto [osr, brake, sensors] = *p;
  auto bits = static_cast<unsigned long long>(Truncated(osr->GetValueInBaseUnit()));
  bits &= ~static_cast<unsigned long long>(kOsrBrakeResistor | kOsrEncoderOnLoad);
  // DisableBrake() is 1 while the drive's brake output is usable.
  if (IsFlagSet(brake->GetValueInBaseUnit()) && DisableBrake(setup) == 1) bits |= kOsrBrakeResistor;
  if (IsCode(sensors->GetValueInBaseUnit(), SensorsConfiguration::TachoAndEncoderOnLoad))
    bits |= kOsrEncoderOnLoad;
  return WriteChip(*osr, static_cast<double>(bits));
}

StepResult ComputePCR(CZel_Setup& setup) {
  CZel_Parameter* pcr = setup.FindParameter(param::PCR);
  std::array<CZel_Parameter*, std::size(kPcrFlags)> flags{};
  bool all_found = pcr != nullptr;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    flags[i] = setup.FindParameter(kPcrFlags[i].flag);
    all_found = all_found && flags[i];
  }
  if (!all_found) return StepResult::Missing;
  auto bits = static_cast<unsigned long long>(Truncated(pcr->GetValueInBaseUnit())) & kPcrKeptBits;
  for (std::size_t i = 0; i < flags.size(); ++i) {
    if (IsFlagSet(flags[i]->GetValueInBaseUnit())) bits |= kPcrFlags[i].mask();
  }
  return WriteChip(*pcr, static_cast<double>(bits));
}

StepResult ComputeChipIMAXPROT(CZel_Setup& setup) {
  return ScaledTimesScale(setup, param::Imax_Prot, param::IMAXPROT, CurrentScale);
}
StepResult ComputeTIMAXPROT(CZel_Setup& setup) {
  return DelayToChip(setup, param::time_Imax_Prot, param::TIMAXPROT);
}
StepResult ComputeERRMAX(CZel_Setup& setup) {
  return ScaledTimesScale(setup, kPositionError.band, kPositionError.band_register,
                          kPositionError.scale);
}
StepResult ComputeTERRMAX(CZel_Setup& setup) {
  return DelayToChip(setup, kPositionError.time, kPositionError.time_register, kPositionError.flag);
}
StepResult ComputeSERRMAX(CZel_Setup& setup) {
  return ScaledTimesScale(setup, kSpeedError.band, kSpeedError.band_register, kSpeedError.scale);
}
StepResult ComputeTSERRMAX(CZel_Setup& setup) {
  return DelayToChip(setup, kSpeedError.time, kSpeedError.time_register, kSpeedError.flag);
}

StepResult ComputeT1MAXPROT(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::T1MAXPROT);
  if (!p) return StepResult::Missing;
  return WriteChip(*(*p)[0], kFullScale);
}

}  // namespace dcservo
