#include "derive/references.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "derive/checked_write.h"
#include "derive/drive_symbols.h"
#include "derive/parameter_ranges.h"
#include "derive/probes.h"
#include "derive/set_parameter_range.h"
#include "derive/step.h"
#include "host/zel_numeric.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"
#include "units/timing.h"

namespace dcservo {
namespace {

struct ReferencePair {
  int control_mode;
  const char* min;
  const char* max;
};

constexpr ReferencePair kReferencePairs[] = {
    {ControlMode::Position, param::POS_min, param::POS_max},
    {ControlMode::Speed, param::SPD_min, param::SPD_max},
    {ControlMode::Current, param::CRT_min, param::CRT_max},
};

const ReferencePair* PairOfMode(double control_mode) {
  const long long mode = Truncated(control_mode);
  for (const ReferencePair& pair : kReferencePairs) {
    if (pair.control_mode == mode) return &pair;
  }
  return nullptr;
}

// The drive makes its reference AD5OFF + reading x CADIN x 2^SFTADIN / 32768, the reading
// going from 0 to the converter's full scale.
double Span(CZel_Setup& setup, double min_internal, double max_internal) {
  return (max_internal - min_internal) * 0.5 * kQ16One / AdcMax(setup) *
         SignOf(LoadPositionScale(setup));
}

// nullopt when the pair of the mode is missing; 0 for a mode that has no pair.
std::optional<double> SpanOfMode(CZel_Setup& setup, double control_mode) {
  const ReferencePair* pair = PairOfMode(control_mode);
  if (!pair) return 0.0;
  auto p = FindParameters(setup, pair->min, pair->max);
  if (!p) return std::nullopt;
  auto [min, max] = *p;
  return Span(setup, min->GetValueInInternalUnit(), max->GetValueInInternalUnit());
}

std::optional<AnalogueReferenceGain> GainOfMode(CZel_Setup& setup, const CZel_Parameter& mode) {
  const auto span = SpanOfMode(setup, mode.GetValueInBaseUnit());
  if (!span) return std::nullopt;
  return SplitAnalogueReferenceScale(*span);
}

// The upper reference limit that the drive reaches at the top of the converter's range.
double ReferenceTop(CZel_Setup& setup, double ad5off, double cadin, double sftadin) {
  return ad5off + AdcMax(setup) * 2.0 * cadin * SignOf(LoadPositionScale(setup)) / kQ16One *
                      std::pow(2.0, sftadin);
}

using RangeRule = void (*)(CZel_Setup& setup);

bool IsPairOf(const ReferencePair* pair, std::string_view name) {
  return pair && (name == pair->min || name == pair->max);
}

// The analogue-input registers hold the range of the active mode's reference only; read
// into another mode's pair they would turn a position range into a speed or current one.
// That pair keeps what the user stored, held within its range as the range follows the
// setup.
StepResult KeepStoredLimit(CZel_Setup& setup, CZel_Parameter& limit, RangeRule range) {
  if (range) range(setup);
  const double stored = limit.GetValueInBaseUnit();
  const double lo = limit.GetMinInBaseUnit(), hi = limit.GetMaxInBaseUnit();
  if (!(lo <= hi)) return StepResult::Done;  // an inverted range holds nothing to clamp to
  const double held = std::clamp(stored, lo, hi);
  if (held == stored) return StepResult::Done;
  return Stored(limit.SetValueInBaseUnit(held));
}

StepResult ComputeReferenceMin(CZel_Setup& setup, const char* name, RangeRule range) {
  auto p = FindParameters(setup, name, param::AD5OFF, param::ControlMode);
  if (!p) return StepResult::Missing;
  auto [limit, ad5off, mode] = *p;
  if (!IsPairOf(PairOfMode(mode->GetValueInBaseUnit()), name))
    return KeepStoredLimit(setup, *limit, range);
  if (range) range(setup);
  return Stored(limit->SetValueInInternalUnit(ad5off->GetValueInInternalUnit()));
}

StepResult ComputeReferenceMax(CZel_Setup& setup, const char* name, RangeRule range) {
  auto p =
      FindParameters(setup, name, param::AD5OFF, param::CADIN, param::SFTADIN, param::ControlMode);
  if (!p) return StepResult::Missing;
  auto [limit, ad5off, cadin, sftadin, mode] = *p;
  if (!IsPairOf(PairOfMode(mode->GetValueInBaseUnit()), name))
    return KeepStoredLimit(setup, *limit, range);
  range(setup);
  const double top =
      ReferenceTop(setup, ad5off->GetValueInInternalUnit(), cadin->GetValueInInternalUnit(),
                   sftadin->GetValueInInternalUnit());
  if (!AllFinite(top)) return StepResult::Refused;
  return Stored(limit->SetValueInInternalUnit(top));
}

// The bipolar ±10 V input reads 0 counts at -10 V, so its dead band point is shifted by
// 10 V.
bool IsBipolarInput(double inputs_range) {
  return Truncated(inputs_range) == AnalogueInputsRange::Bipolar10V;
}

// Speeds and accelerations of the external reference are magnitudes.
StepResult ComputeLimitFromChip(CZel_Setup& setup, const char* chip, const char* scaled, double scale) {
  auto p = FindParameters(setup, chip, scaled);
  if (!p) return StepResult::Missing;
  auto [counts, limit] = *p;
  const double k = std::abs(scale);
  return WriteScaled(*limit, 0.0, kFullScale / k, counts->GetValueInBaseUnit() / k);
}

StepResult ComputeLimitToChip(CZel_Setup& setup, const char* scaled, const char* chip, double scale) {
  auto p = FindParameters(setup, scaled, chip);
  if (!p) return StepResult::Missing;
  auto [limit, counts] = *p;
  return WriteChip(*counts, limit->GetValueInBaseUnit() * std::abs(scale));
}

// The loop bits of each control mode; in position mode the speed loop is closed only over
// a position controller that drives it.
std::optional<std::uint32_t> WithLoopsOfMode(std::uint32_t bits, double control_mode,
                                             double position_control_type) {
  switch (Truncated(control_mode)) {
    case ControlMode::Position:
      bits |= kAcrCurrentLoop | kAcrPositionLoop;
      return WithBit(bits, kAcrSpeedLoop,
                     Truncated(position_control_type) == PositionControlType::OverSpeedLoop);
    case ControlMode::Speed: return (bits | kAcrCurrentLoop | kAcrSpeedLoop) & ~kAcrPositionLoop;
    case ControlMode::Current: return (bits | kAcrCurrentLoop) & ~(kAcrSpeedLoop | kAcrPositionLoop);
    default: return std::nullopt;
  }
}

}  // namespace

double AnalogueReferenceScale(CZel_Setup& setup) {
  CZel_Parameter* mode = setup.FindParameter(param::ControlMode);
  if (!mode) return 0.0;
  return SpanOfMode(setup, mode->GetValueInBaseUnit()).value_or(0.0);
}

AnalogueReferenceGain SplitAnalogueReferenceScale(double span) {
  if (span <= kFullScale) return {span, 0};
  const int shift = ZelSaturatingCast<int>(std::ceil(std::log2(span / kFullScale)));
  return {span / std::pow(2.0, shift), shift};
}

// ---------------------------------------------------------------------------------------
// Chip to scaled.

StepResult ComputeControlMode(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ACR, param::ControlMode);
  if (!p) return StepResult::Missing;
  auto [acr, mode] = *p;
  const std::uint32_t bits = RegisterBits(*acr);
  const double value = (bits & kAcrPositionLoop) ? 0.0 : (bits & kAcrSpeedLoop) ? 1.0 : 2.0;
  return WriteScaled(*mode, 0.0, 2.0, value);
}

StepResult ComputeExternalReference(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ACR, param::ExternalReference);
  if (!p) return StepResult::Missing;
  auto [acr, external] = *p;
  const bool on = RegisterBits(*acr) & (kAcrAnalogueReference | kAcrDigitalReference);
  return WriteScaled(*external, 0.0, 1.0, on ? 1.0 : 0.0);
}

StepResult ComputeIsAutoActivatedAfterPowerOn(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::ACR, kAcrAutoActivatedFlag);
}

StepResult ComputeIsAnalogueReference(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ACR, param::isAnalogueReference);
  if (!p) return StepResult::Missing;
  auto [acr, analogue] = *p;
  const double max = HasAnalogueInput(setup) ? 1.0 : 0.0;
  return WriteScaled(*analogue, 0.0, max, (RegisterBits(*acr) & kAcrAnalogueReference) ? 1.0 : 0.0);
}

StepResult ComputeDigitalReferenceType(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::ACR, kAcrDigitalReferenceTypeFlag);
}

StepResult ComputeIsLimitMaximum(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::UPGRADE, kUpgradeLimitMaximumFlag);
}

StepResult ComputeErefMaxSpeed(CZel_Setup& setup) {
  return ComputeLimitFromChip(setup, param::CSPD, param::ErefMaxSpeed, LoadSpeedScale(setup));
}

StepResult ComputeErefMaxAcceleration(CZel_Setup& setup) {
  return ComputeLimitFromChip(setup, param::CACC, param::ErefMaxAcceleration,
                              AccelerationScale(setup));
}

StepResult ComputeSpeedForward(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ACR, param::SpeedForward);
  if (!p) return StepResult::Missing;
  auto [acr, forward] = *p;
  return Stored(forward->SetValueInInternalUnit((RegisterBits(*acr) & kAcrSpeedForward) ? 1.0 : 0.0));
}

StepResult ComputeDeadBand_Point(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::DeadBand_Point, param::AnalogueInputsRange, param::LEVEL_AD5);
  if (!p) return StepResult::Missing;
  auto [point, span, level] = *p;
  SetDeadBandPointRange(setup);
  const double inputs_range = span->GetValueInBaseUnit();
  const double volts = inputs_range * level->GetValueInBaseUnit() / AdcMax(setup);
  return Stored(point->SetValueInBaseUnit(IsBipolarInput(inputs_range) ? volts - 10.0 : volts));
}

StepResult ComputeDeadBand_Range(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::DeadBand_Range, param::AnalogueInputsRange, param::E_LEVEL_AD5);
  if (!p) return StepResult::Missing;
  auto [width, span, level] = *p;
  SetDeadBandWidthRange(setup);
  return Stored(width->SetValueInBaseUnit(span->GetValueInBaseUnit() * level->GetValueInBaseUnit() /
                                   AdcMax(setup)));
}

// A coefficient of full scale lets the reference through unfiltered.
StepResult ComputeUseFilter(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FILTER1, param::UseFilter);
  if (!p) return StepResult::Missing;
  auto [filter1, use] = *p;
  return WriteScaled(*use, 0.0, 1.0, filter1->GetValueInBaseUnit() == kFullScale ? 0.0 : 1.0);
}

// With the filter off the coefficient holds no bandwidth; 50 1/s is what the user starts
// from on switching it on. A `filter` comes only with its `UseFilter`.
StepResult ComputeFilter(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FILTER1, param::UseFilter, param::filter, param::DSP_freq,
                          param::SLPER, param::PWMPER);
  if (!p) return StepResult::Missing;
  auto [filter1, use, filter, dsp, slper, pwmper] = *p;
  const double ts = LoopPeriodOf(slper->GetValueInBaseUnit(), pwmper->GetValueInBaseUnit(),
                                 dsp->GetValueInBaseUnit());
  const double coefficient = filter1->GetValueInBaseUnit();
  const double bandwidth = coefficient == kFullScale ? 50.0 : FirstOrderCorner(coefficient, ts);
  return WriteScaled(*filter, 0.0, FirstOrderCornerMaximum(ts), bandwidth);
}

StepResult ComputePOS_min(CZel_Setup& setup) {
  return ComputeReferenceMin(setup, param::POS_min, SetPOS_minRange);
}
StepResult ComputePOS_max(CZel_Setup& setup) {
  return ComputeReferenceMax(setup, param::POS_max, SetPOS_maxRange);
}
StepResult ComputeSPD_min(CZel_Setup& setup) {
  return ComputeReferenceMin(setup, param::SPD_min, SetSPD_minRange);
}
StepResult ComputeSPD_max(CZel_Setup& setup) {
  return ComputeReferenceMax(setup, param::SPD_max, SetSPD_maxRange);
}
StepResult CopyAD5OFFToCRT_min(CZel_Setup& setup) {
  return ComputeReferenceMin(setup, param::CRT_min, nullptr);
}
StepResult ComputeCRT_max(CZel_Setup& setup) {
  return ComputeReferenceMax(setup, param::CRT_max, SetCRT_maxRange);
}

// ---------------------------------------------------------------------------------------
// Scaled to chip.

StepResult ComputeACR(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::ACR, param::IsAutoActivatedAfterPowerOn,
                     param::ExternalReference, param::isAnalogueReference,
                     param::DigitalReferenceType, param::ControlMode, param::PositionControlType);
  if (!p) return StepResult::Missing;
  auto [acr, auto_activated, external, analogue, digital_type, mode, position_type] = *p;
  const CZel_Parameter* forward = nullptr;
  if (HasSpeedForward(setup)) forward = setup.FindParameter(param::SpeedForward);
  const CZel_Parameter* freeze = nullptr;
  if (HasFreezeControl(setup)) {
    freeze = setup.FindParameter(param::isFreezeControl);
    if (!freeze) return StepResult::Missing;
  }

  std::uint32_t bits =
      WithFlag(RegisterBits(*acr), kAcrAutoActivatedFlag, auto_activated->GetValueInBaseUnit());
  // The firmware's register is 16 bits wide; the reference source is written with 16-bit
  // masks, which drop anything above.
  bits &= kRegister16Bits;
  if (!IsFlagSet(external->GetValueInBaseUnit())) {
    bits &= ~(kAcrAnalogueReference | kAcrDigitalReference);
  } else if (IsFlagSet(analogue->GetValueInBaseUnit())) {
    bits = (bits | kAcrAnalogueReference) & ~kAcrDigitalReference;
  } else {
    bits = (bits | kAcrDigitalReference) & ~kAcrAnalogueReference;
    bits = WithBit(bits, kAcrDigitalReferenceType0,
                   Truncated(digital_type->GetValueInBaseUnit()) == 0);
  }
  const auto with_loops =
      WithLoopsOfMode(bits, mode->GetValueInBaseUnit(), position_type->GetValueInBaseUnit());
  if (!with_loops) return StepResult::Refused;
  bits = *with_loops;
  bits = WithBit(bits, kAcrSpeedForward, forward && IsFlagSet(forward->GetValueInInternalUnit()));
  if (freeze) bits = WithBit(bits, kAcrFreezeControl, IsFlagSet(freeze->GetValueInInternalUnit()));
  return Stored(acr->SetValueInBaseUnit(bits));
}

StepResult ComputeCADIN(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::CADIN, param::ControlMode);
  if (!p) return StepResult::Missing;
  auto [cadin, mode] = *p;
  const auto gain = GainOfMode(setup, *mode);
  if (!gain) return StepResult::Refused;
  return Stored(cadin->SetValueInInternalUnit(gain->mantissa));
}

StepResult ComputeSFTADIN(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SFTADIN, param::ControlMode);
  if (!p) return StepResult::Missing;
  auto [sftadin, mode] = *p;
  const auto gain = GainOfMode(setup, *mode);
  if (!gain) return StepResult::Refused;
  return Stored(sftadin->SetValueInInternalUnit(gain->shift));
}

StepResult ComputeAD5OFF(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::AD5OFF, param::ControlMode);
  if (!p) return StepResult::Missing;
  auto [ad5off, mode] = *p;
  const ReferencePair* pair = PairOfMode(mode->GetValueInBaseUnit());
  if (!pair) return StepResult::Refused;
  CZel_Parameter* min = setup.FindParameter(pair->min);
  if (!min) return StepResult::Missing;
  return Stored(ad5off->SetValueInInternalUnit(min->GetValueInInternalUnit()));
}

StepResult ComputeFILTER1(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FILTER1, param::UseFilter, param::filter, param::Ts_S);
  if (!p) return StepResult::Missing;
  auto [filter1, use, filter, ts] = *p;
  if (use->GetValueInBaseUnit() == 0.0) return WriteChip(*filter1, kFullScale);
  return WriteChip(*filter1,
                   FirstOrderCoefficient(filter->GetValueInBaseUnit(), ts->GetValueInBaseUnit()));
}

StepResult ComputeLEVEL_AD5(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::LEVEL_AD5, param::DeadBand_Point, param::AnalogueInputsRange);
  if (!p) return StepResult::Missing;
  auto [level, point, span] = *p;
  const double inputs_range = span->GetValueInBaseUnit();
  const double volts = point->GetValueInBaseUnit() + (IsBipolarInput(inputs_range) ? 10.0 : 0.0);
  return WriteChip(*level, AdcMax(setup) * volts / inputs_range);
}

StepResult ComputeE_LEVEL_AD5(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::E_LEVEL_AD5, param::DeadBand_Range, param::AnalogueInputsRange);
  if (!p) return StepResult::Missing;
  auto [level, width, span] = *p;
  return WriteChip(*level,
                   width->GetValueInBaseUnit() * AdcMax(setup) / span->GetValueInBaseUnit());
}

StepResult ComputeCACC(CZel_Setup& setup) {
  return ComputeLimitToChip(setup, param::ErefMaxAcceleration, param::CACC,
                            AccelerationScale(setup));
}

StepResult ComputeCSPD(CZel_Setup& setup) {
  return ComputeLimitToChip(setup, param::ErefMaxSpeed, param::CSPD, LoadSpeedScale(setup));
}

StepResult ComputeGEAR(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::GEAR, param::GEARSLAVE, param::GEARMASTER);
  if (!p) return StepResult::Missing;
  auto [gear, slave, master] = *p;
  return WriteChip(*gear, slave->GetValueInBaseUnit() / master->GetValueInBaseUnit());
}

// With the load encoder (sensor configuration 2) the drive cannot run position and speed
// in the fast loop, whatever the switch says.
StepResult ComputeUPGRADE(CZel_Setup& setup) {
  auto p =
      FindParameters(setup, param::UPGRADE, param::isLimitMaximum, param::SensorsConfiguration);
  if (!p) return StepResult::Missing;
  auto [upgrade, limit_maximum, sensors] = *p;
  const CZel_Parameter* fast = nullptr;
  if (HasPosSpdInFastLoop(setup)) fast = setup.FindParameter(param::PosSpd_in_FastLoop);
  std::uint32_t bits = RegisterBits(*upgrade) & kUpgradeKeptBits;
  bits = WithFlag(bits, kUpgradeLimitMaximumFlag, limit_maximum->GetValueInBaseUnit());
  const bool in_fast_loop =
      fast && IsFlagSet(fast->GetValueInBaseUnit()) && sensors->GetValueInBaseUnit() < 2.0;
  bits = WithBit(bits, kUpgradePosSpdInFastLoop, in_fast_loop);
  return Stored(upgrade->SetValueInBaseUnit(bits));
}

}  // namespace dcservo
