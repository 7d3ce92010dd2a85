#include "derive/inputs.h"

#include <cmath>
#include <numbers>

#include "derive/checked_write.h"
#include "derive/drive_symbols.h"
#include "derive/probes.h"
#include "derive/references.h"
#include "derive/set_parameter_range.h"
#include "derive/step.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"
#include "units/scales.h"

namespace dcservo {
namespace {

// The drive's software limits and the user's: with a negative position scale the drive's
// negative limit holds the user's positive one, so that the drive's pair stays ordered.
struct SoftwareLimit {
  const char* scaled;
  const char* own_register;       // with a positive position scale
  const char* mirrored_register;  // with a negative one
};

constexpr SoftwareLimit kNegativeLimit{param::Negative_SWLS, param::SWNEGLS, param::SWPOSLS};
constexpr SoftwareLimit kPositiveLimit{param::Positive_SWLS, param::SWPOSLS, param::SWNEGLS};

const char* RegisterOf(const SoftwareLimit& limit, double position_scale) {
  return position_scale > 0.0 ? limit.own_register : limit.mirrored_register;
}

// Divided by the signed scale, so that a scaled -> chip -> scaled round trip keeps the
// signs of the user's limits whatever the direction of the transmission.
StepResult ComputeSoftwareLimitFromChip(CZel_Setup& setup, const SoftwareLimit& limit) {
  auto p = FindParameters(setup, limit.scaled, param::SWNEGLS, param::SWPOSLS);
  if (!p) return StepResult::Missing;
  CZel_Parameter* scaled = (*p)[0];
  const double k = LoadPositionScale(setup);
  if (!IsUsableDivisor(k)) return StepResult::Refused;
  const double counts = setup.FindParameter(RegisterOf(limit, k))->GetValueInBaseUnit();
  const double k_abs = std::abs(k);
  return WriteScaled(*scaled, -2147483648.0 / k_abs, 2147483647.0 / k_abs, counts / k);
}

StepResult ComputeSoftwareLimitToChip(CZel_Setup& setup, const SoftwareLimit& limit) {
  auto p = FindParameters(setup, limit.scaled, param::SWNEGLS, param::SWPOSLS);
  if (!p) return StepResult::Missing;
  const double k = LoadPositionScale(setup);
  CZel_Parameter* target = setup.FindParameter(RegisterOf(limit, k));
  return WriteChip(*target, (*p)[0]->GetValueInBaseUnit() * k);
}

// A delay or time of the drive counted in slow-loop samples.
StepResult ComputeTimeFromSamples(CZel_Setup& setup, const char* samples, const char* time) {
  auto p = FindParameters(setup, samples, param::Ts_S, time);
  if (!p) return StepResult::Missing;
  auto [count, ts, seconds] = *p;
  return Stored(seconds->SetValueInBaseUnit(ts->GetValueInBaseUnit() * count->GetValueInBaseUnit()));
}

StepResult ComputeSamplesFromTime(CZel_Setup& setup, const char* time, const char* samples) {
  auto p = FindParameters(setup, time, param::Ts_S, samples);
  if (!p) return StepResult::Missing;
  auto [seconds, ts, count] = *p;
  return WriteChip(*count, seconds->GetValueInBaseUnit() / ts->GetValueInBaseUnit());
}

StepResult ComputeFlagFromEquality(CZel_Setup& setup, const char* chip, const char* flag) {
  auto p = FindParameters(setup, chip, flag);
  if (!p) return StepResult::Missing;
  auto [chip_value, scaled] = *p;
  return WriteScaled(*scaled, 0.0, 1.0, chip_value->GetValueInBaseUnit() == 1.0 ? 1.0 : 0.0);
}

StepResult ComputeChipFromFlag(CZel_Setup& setup, const char* flag, const char* chip) {
  auto p = FindParameters(setup, flag, chip);
  if (!p) return StepResult::Missing;
  auto [scaled, chip_value] = *p;
  return Stored(chip_value->SetValueInBaseUnit(IsFlagSet(scaled->GetValueInBaseUnit()) ? 1.0 : 0.0));
}

const SensorCode* SensorCodeOfConfiguration(double configuration) {
  for (const SensorCode& row : kSensorCodes) {
    if (row.configuration == Truncated(configuration)) return &row;
  }
  return nullptr;
}

}  // namespace

EncoderFilterRow EncoderFilterRowOf(double filter_enc_value) {
  const long long row = Truncated(filter_enc_value);
  if (row < 0 || row >= static_cast<long long>(std::size(kEncoderFilterTable))) return {0, 0};
  return kEncoderFilterTable[row];
}

// ---------------------------------------------------------------------------------------
// Chip to scaled.

StepResult ComputeIsMotorTemperatureSensor(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::SCR, kScrMotorTemperatureSensor);
}

StepResult ComputeIsDriveTemperatureSensor(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::SCR, kScrDriveTemperatureSensor);
}

// A drive family member without the load encoder, or without any tacho, offers fewer
// configurations.
StepResult ComputeSensorsConfiguration(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SCR, param::SensorsConfiguration);
  if (!p) return StepResult::Missing;
  auto [scr, sensors] = *p;
  double max = 2.0;
  if (setup.GetIntOption(option::DisableTachoAndEncoder) != 0) {
    max = 1.0;
    if (setup.GetIntOption(option::DisableTacho) != 0) max = 0.0;
  }
  const std::uint32_t code = RegisterBits(*scr) & kScrSensorMask;
  double configuration = 0.0;
  for (const SensorCode& row : kSensorCodes) {
    if (row.code == code) configuration = row.configuration;
  }
  return WriteScaled(*sensors, 0.0, max, configuration);
}

StepResult ComputeIsSpeedEstimator(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SCR, param::isSpeedEstimator);
  if (!p) return StepResult::Missing;
  auto [scr, estimator] = *p;
  const bool on = (RegisterBits(*scr) & kScrEstimatorMask) == kScrEstimatorCode;
  return WriteScaled(*estimator, 0.0, 1.0, on ? 1.0 : 0.0);
}

// The table holds 256 + ID, or 0 for no entry.
StepResult ComputeAxis_ID_list(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::AAR_table, param::Axis_ID_list);
  if (!p) return StepResult::Missing;
  auto [table, id] = *p;
  const double entry = table->GetValueInBaseUnit();
  return WriteScaled(*id, 0.0, 511.0, entry != 0.0 ? entry - 256.0 : 0.0);
}

StepResult ComputeEnablePolarity(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::DIGIN_ACTIVE_LEVEL, kEnablePolarity);
}
StepResult ComputeLSPPolarity(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::DIGIN_ACTIVE_LEVEL, kLSPPolarity);
}
StepResult ComputeLSNPolarity(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::DIGIN_ACTIVE_LEVEL, kLSNPolarity);
}

StepResult ComputeIsSWLS(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::ASR, kAsrSoftwareLimitSwitches);
}
StepResult ComputeNegative_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitFromChip(setup, kNegativeLimit);
}
StepResult ComputePositive_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitFromChip(setup, kPositiveLimit);
}

StepResult ComputeInputsPolarityType(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::ASR, kAsrInputsPolarityType);
}

StepResult ComputeSave_CAN_baudrate(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::LSS_Active, kLssSaveBaudRate);
}
StepResult ComputeSave_axis_id(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::LSS_Active, kLssSaveAxisId);
}

StepResult ComputeReverseCounting(CZel_Setup& setup) {
  return ComputeFlagFromEquality(setup, param::COUNTINGDIR, param::ReverseCounting);
}
StepResult ComputeIsFilterEnc(CZel_Setup& setup) {
  return ComputeFlagFromEquality(setup, param::QUAL, param::isFilterEnc);
}

StepResult ComputeIsMotorBrake(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::BRAKECFG, param::isMotorBrake);
  if (!p) return StepResult::Missing;
  auto [brakecfg, brake] = *p;
  if (!SetParameterRange(*brake, 0.0, 1.0)) return StepResult::Refused;
  return Stored(brake->SetValueInInternalUnit((RegisterBits(*brakecfg) & kBrakePresent) ? 1.0 : 0.0));
}

StepResult ComputeMotorBrake_output(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::BRAKECFG, param::MotorBrake_output);
  if (!p) return StepResult::Missing;
  auto [brakecfg, output] = *p;
  const auto pin = static_cast<int>((RegisterBits(*brakecfg) >> kBrakePinShift) & kBrakePinField);
  return Stored(output->SetValueInInternalUnit(GetIOPortFromPin(&setup, pin)));
}

StepResult ComputeMotorBrake_releasetime(CZel_Setup& setup) {
  return ComputeTimeFromSamples(setup, param::BRAKERELEASEDELAY, param::MotorBrake_releasetime);
}
StepResult ComputeMotorBrake_applytime(CZel_Setup& setup) {
  return ComputeTimeFromSamples(setup, param::BRAKEAPPLYDELAY, param::MotorBrake_applytime);
}

StepResult ComputeIsFreezeControl(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ACR, param::ControlMode, param::isFreezeControl);
  if (!p) return StepResult::Missing;
  auto [acr, mode, freeze] = *p;
  if (!SetParameterRange(*freeze, 0.0, 1.0)) return StepResult::Refused;
  const bool on = (RegisterBits(*acr) & kAcrFreezeControl) &&
                  Truncated(mode->GetValueInInternalUnit()) == ControlMode::Position;
  return Stored(freeze->SetValueInInternalUnit(on ? 1.0 : 0.0));
}

StepResult ComputeFreezeControl_errband(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::POSOKLIM_FC, param::FreezeControl_errband);
  if (!p) return StepResult::Missing;
  auto [counts, band] = *p;
  const double k = std::abs(LoadPositionScale(setup));
  return WriteScaled(*band, 0.0, kFullScale / k, counts->GetValueInBaseUnit() / k);
}

StepResult ComputeFreezeControl_time(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::TONPOSOK_FC, param::Ts_S, param::FreezeControl_time);
  if (!p) return StepResult::Missing;
  auto [samples, ts, time] = *p;
  const double period = ts->GetValueInBaseUnit();
  return WriteScaled(*time, 0.0, kUnsigned16Max * period, period * samples->GetValueInBaseUnit());
}

// ---------------------------------------------------------------------------------------
// Scaled to chip.

StepResult ComputeAAR_table(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Axis_ID_list, param::AAR_table);
  if (!p) return StepResult::Missing;
  auto [id, table] = *p;
  const double value = id->GetValueInBaseUnit();
  return Stored(table->SetValueInBaseUnit(Truncated(value) != 0 ? value + 256.0 : 0.0));
}

StepResult ComputeSCR(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SCR, param::isMotorTemperatureSensor,
                          param::isDriveTemperatureSensor, param::SensorsConfiguration);
  if (!p) return StepResult::Missing;
  auto [scr, motor_sensor, drive_sensor, sensors] = *p;
  const CZel_Parameter* estimator = nullptr;
  if (HasSpeedEstimator(setup)) {
    estimator = setup.FindParameter(param::isSpeedEstimator);
    if (!estimator) return StepResult::Missing;
  }
  const SensorCode* row = SensorCodeOfConfiguration(sensors->GetValueInBaseUnit());
  if (!row) return StepResult::Refused;
  std::uint32_t bits = RegisterBits(*scr);
  bits = WithFlag(bits, kScrMotorTemperatureSensor, motor_sensor->GetValueInBaseUnit());
  bits = WithFlag(bits, kScrDriveTemperatureSensor, drive_sensor->GetValueInBaseUnit());
  // The firmware's register is 16 bits wide; the sensor code is written with a 16-bit
  // mask, which drops anything above.
  bits &= kRegister16Bits & ~kScrSensorMask;
  const bool estimated = row->configuration == SensorsConfiguration::EncoderOnMotor && estimator &&
                         IsFlagSet(estimator->GetValueInBaseUnit());
  bits |= estimated ? kScrEstimatorCode : row->code;
  return Stored(scr->SetValueInBaseUnit(bits));
}

StepResult ComputeASR(CZel_Setup& setup) {
  CZel_Parameter* asr = setup.FindParameter(param::ASR);
  if (!asr) return StepResult::Missing;
  const CZel_Parameter* swls = nullptr;
  if (HasSoftwareLimitSwitches(setup)) swls = setup.FindParameter(param::isSWLS);
  const CZel_Parameter* polarity = nullptr;
  if (HasInputsPolarity(setup)) polarity = setup.FindParameter(param::InputsPolarityType);
  bool negative_transmission = false;
  if (hasNegTransmission(setup)) {
    auto sides = FindParameters(setup, param::Motor_transmission, param::Load_transmission);
    if (!sides) return StepResult::Missing;
    auto [motor, load] = *sides;
    if (load->GetValueInBaseUnit() == 0.0) return StepResult::Refused;
    negative_transmission = motor->GetValueInBaseUnit() / load->GetValueInBaseUnit() < 0.0;
  }
  std::uint32_t bits = RegisterBits(*asr);
  if (swls) bits = WithFlag(bits, kAsrSoftwareLimitSwitches, swls->GetValueInBaseUnit());
  if (polarity) bits = WithFlag(bits, kAsrInputsPolarityType, polarity->GetValueInBaseUnit());
  bits = WithBit(bits, kAsrNegativeTransmission, negative_transmission);
  return Stored(asr->SetValueInBaseUnit(bits));
}

StepResult ComputeSWLimitFromNegative_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitToChip(setup, kNegativeLimit);
}
StepResult ComputeSWLimitFromPositive_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitToChip(setup, kPositiveLimit);
}

StepResult ComputeDIGIN_ACTIVE_LEVEL(CZel_Setup& setup) {
  return ComputeRegisterFromFlags(setup, param::DIGIN_ACTIVE_LEVEL, kDiginActiveLevel);
}

// The tacho's speed count per the encoder's count per slow-loop sample at the same motor
// speed.
StepResult ComputeTRANSMISION(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::TRANSMISION, param::Tacho_gain, param::ADCResolution,
                          param::No_encoder_lines, param::AnalogueInputsRange,
                          param::Load_transmission, param::Motor_transmission);
  if (!p) return StepResult::Missing;
  // A timing register that is missing has been reported by the lookup; one at 0 is refused.
  const auto period = ChipSlowLoopPeriod(setup);
  if (!period) return StepResult::Refused;
  auto [ratio, tacho_gain, resolution, lines, inputs_range, load, motor] = *p;
  const double lines_v = lines->GetValueInBaseUnit();
  const double range_v = inputs_range->GetValueInBaseUnit();
  const double load_v = load->GetValueInBaseUnit();
  const double motor_v = motor->GetValueInBaseUnit();
  if (lines_v == 0.0 || range_v == 0.0 || load_v == 0.0 || motor_v == 0.0) return StepResult::Refused;
  return WriteChip(*ratio, tacho_gain->GetValueInBaseUnit() * resolution->GetValueInBaseUnit() *
                               2.0 * std::numbers::pi /
                               (lines_v * 4.0 * range_v * *period * load_v / motor_v));
}

StepResult ComputeLSS_Active(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::save_CAN_baudrate, param::save_axis_id, param::LSS_Active);
  if (!p) return StepResult::Missing;
  auto [baud_rate, axis_id, lss] = *p;
  std::uint32_t bits = WithFlag(0, kLssSaveAxisId, axis_id->GetValueInBaseUnit());
  bits = WithFlag(bits, kLssSaveBaudRate, baud_rate->GetValueInBaseUnit());
  return Stored(lss->SetValueInBaseUnit(bits));
}

StepResult ComputeCOUNTINGDIR(CZel_Setup& setup) {
  return ComputeChipFromFlag(setup, param::ReverseCounting, param::COUNTINGDIR);
}

StepResult ComputeQUAL(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::isFilterEnc, param::FilterEncValue, param::QUAL,
                          param::QUAL_ACT, param::QUAL_AQ2);
  if (!p) return StepResult::Missing;
  auto [on, value, qual, act, aq2] = *p;
  if (!IsFlagSet(on->GetValueInBaseUnit())) return Stored(qual->SetValueInBaseUnit(0.0));
  const EncoderFilterRow row = EncoderFilterRowOf(value->GetValueInBaseUnit());
  const std::uint32_t act_bits =
      (RegisterBits(*act) & ~kQualActField) | (row.period_code << kQualActShift);
  const std::uint32_t aq2_bits = (RegisterBits(*aq2) & ~kQualAq2Fields) | row.selectors;
  return Stored(qual->SetValueInBaseUnit(1.0) & act->SetValueInBaseUnit(act_bits) &
                aq2->SetValueInBaseUnit(aq2_bits));
}

StepResult ComputeBRAKECFG(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::MotorBrake_output, param::isMotorBrake, param::BRAKECFG);
  if (!p) return StepResult::Missing;
  auto [output, brake, brakecfg] = *p;
  const int pin =
      GetIOPinFromPort(&setup, static_cast<int>(Truncated(output->GetValueInBaseUnit())));
  const double present = brake->GetValueInBaseUnit() != 0.0 ? 1.0 : 0.0;
  return Stored(brakecfg->SetValueInInternalUnit(pin * 256.0 + present));
}

StepResult ComputeBRAKEAPPLYDELAY(CZel_Setup& setup) {
  return ComputeSamplesFromTime(setup, param::MotorBrake_applytime, param::BRAKEAPPLYDELAY);
}
StepResult ComputeBRAKERELEASEDELAY(CZel_Setup& setup) {
  return ComputeSamplesFromTime(setup, param::MotorBrake_releasetime, param::BRAKERELEASEDELAY);
}

StepResult ComputePOSOKLIM_FC(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FreezeControl_errband, param::POSOKLIM_FC);
  if (!p) return StepResult::Missing;
  auto [band, counts] = *p;
  return WriteChip(*counts, band->GetValueInBaseUnit() * std::abs(LoadPositionScale(setup)));
}

StepResult ComputeTONPOSOK_FC(CZel_Setup& setup) {
  return ComputeSamplesFromTime(setup, param::FreezeControl_time, param::TONPOSOK_FC);
}

}  // namespace dcservo
