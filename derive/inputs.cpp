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
int ComputeSoftwareLimitFromChip(CZel_Setup& setup, const SoftwareLimit& limit) {
  auto p = FindParameters(setup, limit.scaled, param::SWNEGLS, param::SWPOSLS);
  if (!p) return 0;
  CZel_Parameter* scaled = (*p)[0];
  const double k = LoadPositionScale(setup);
  if (!IsUsableDivisor(k)) return 0;
  const double counts = setup.FindParameter(RegisterOf(limit, k))->GetValueInBaseUnit();
  const double k_abs = std::abs(k);
  return WriteScaled(*scaled, -2147483648.0 / k_abs, 2147483647.0 / k_abs, counts / k);
}

int ComputeSoftwareLimitToChip(CZel_Setup& setup, const SoftwareLimit& limit) {
  auto p = FindParameters(setup, limit.scaled, param::SWNEGLS, param::SWPOSLS);
  if (!p) return 0;
  const double k = LoadPositionScale(setup);
  CZel_Parameter* target = setup.FindParameter(RegisterOf(limit, k));
  return WriteChip(*target, (*p)[0]->GetValueInBaseUnit() * k);
}

// A delay or time of the drive counted in slow-loop samples.
int ComputeTimeFromSamples(CZel_Setup& setup, const char* samples, const char* time) {
  auto p = FindParameters(setup, samples, param::Ts_S, time);
  if (!p) return 0;
  auto [count, ts, seconds] = *p;
  return seconds->SetValueInBaseUnit(ts->GetValueInBaseUnit() * count->GetValueInBaseUnit());
}

int ComputeSamplesFromTime(CZel_Setup& setup, const char* time, const char* samples) {
  auto p = FindParameters(setup, time, param::Ts_S, samples);
  if (!p) return 0;
  auto [seconds, ts, count] = *p;
  return WriteChip(*count, seconds->GetValueInBaseUnit() / ts->GetValueInBaseUnit());
}

int ComputeFlagFromEquality(CZel_Setup& setup, const char* chip, const char* flag) {
  auto p = FindParameters(setup, chip, flag);
  if (!p) return 0;
  auto [chip_value, scaled] = *p;
  return WriteScaled(*scaled, 0.0, 1.0, chip_value->GetValueInBaseUnit() == 1.0 ? 1.0 : 0.0);
}

int ComputeChipFromFlag(CZel_Setup& setup, const char* flag, const char* chip) {
  auto p = FindParameters(setup, flag, chip);
  if (!p) return 0;
  auto [scaled, chip_value] = *p;
  return chip_value->SetValueInBaseUnit(IsFlagSet(scaled->GetValueInBaseUnit()) ? 1.0 : 0.0);
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

int ComputeIsMotorTemperatureSensor(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::SCR, kScrMotorTemperatureSensor);
}

int ComputeIsDriveTemperatureSensor(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::SCR, kScrDriveTemperatureSensor);
}

// A drive family member without the load encoder, or without any tacho, offers fewer
// configurations.
int ComputeSensorsConfiguration(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SCR, param::SensorsConfiguration);
  if (!p) return 0;
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

int ComputeIsSpeedEstimator(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SCR, param::isSpeedEstimator);
  if (!p) return 0;
  auto [scr, estimator] = *p;
  const bool on = (RegisterBits(*scr) & kScrEstimatorMask) == kScrEstimatorCode;
  return WriteScaled(*estimator, 0.0, 1.0, on ? 1.0 : 0.0);
}

// The table holds 256 + ID, or 0 for no entry.
int ComputeAxis_ID_list(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::AAR_table, param::Axis_ID_list);
  if (!p) return 0;
  auto [table, id] = *p;
  const double entry = table->GetValueInBaseUnit();
  return WriteScaled(*id, 0.0, 511.0, entry != 0.0 ? entry - 256.0 : 0.0);
}

int ComputeEnablePolarity(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::DIGIN_ACTIVE_LEVEL, kEnablePolarity);
}
int ComputeLSPPolarity(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::DIGIN_ACTIVE_LEVEL, kLSPPolarity);
}
int ComputeLSNPolarity(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::DIGIN_ACTIVE_LEVEL, kLSNPolarity);
}

int ComputeIsSWLS(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::ASR, kAsrSoftwareLimitSwitches);
}
int ComputeNegative_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitFromChip(setup, kNegativeLimit);
}
int ComputePositive_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitFromChip(setup, kPositiveLimit);
}

int ComputeInputsPolarityType(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::ASR, kAsrInputsPolarityType);
}

int ComputeSave_CAN_baudrate(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::LSS_Active, kLssSaveBaudRate);
}
int ComputeSave_axis_id(CZel_Setup& setup) {
  return ComputeFlagFromRegister(setup, param::LSS_Active, kLssSaveAxisId);
}

int ComputeReverseCounting(CZel_Setup& setup) {
  return ComputeFlagFromEquality(setup, param::COUNTINGDIR, param::ReverseCounting);
}
int ComputeIsFilterEnc(CZel_Setup& setup) {
  return ComputeFlagFromEquality(setup, param::QUAL, param::isFilterEnc);
}

int ComputeIsMotorBrake(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::BRAKECFG, param::isMotorBrake);
  if (!p) return 0;
  auto [brakecfg, brake] = *p;
  if (!SetParameterRange(*brake, 0.0, 1.0)) return 0;
  return brake->SetValueInInternalUnit((RegisterBits(*brakecfg) & kBrakePresent) ? 1.0 : 0.0);
}

int ComputeMotorBrake_output(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::BRAKECFG, param::MotorBrake_output);
  if (!p) return 0;
  auto [brakecfg, output] = *p;
  const auto pin = static_cast<int>((RegisterBits(*brakecfg) >> kBrakePinShift) & kBrakePinField);
  return output->SetValueInInternalUnit(GetIOPortFromPin(&setup, pin));
}

int ComputeMotorBrake_releasetime(CZel_Setup& setup) {
  return ComputeTimeFromSamples(setup, param::BRAKERELEASEDELAY, param::MotorBrake_releasetime);
}
int ComputeMotorBrake_applytime(CZel_Setup& setup) {
  return ComputeTimeFromSamples(setup, param::BRAKEAPPLYDELAY, param::MotorBrake_applytime);
}

int ComputeIsFreezeControl(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::ACR, param::ControlMode, param::isFreezeControl);
  if (!p) return 0;
  auto [acr, mode, freeze] = *p;
  if (!SetParameterRange(*freeze, 0.0, 1.0)) return 0;
  const bool on = (RegisterBits(*acr) & kAcrFreezeControl) &&
                  Truncated(mode->GetValueInInternalUnit()) == ControlMode::Position;
  return freeze->SetValueInInternalUnit(on ? 1.0 : 0.0);
}

int ComputeFreezeControl_errband(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::POSOKLIM_FC, param::FreezeControl_errband);
  if (!p) return 0;
  auto [counts, band] = *p;
  const double k = std::abs(LoadPositionScale(setup));
  return WriteScaled(*band, 0.0, kFullScale / k, counts->GetValueInBaseUnit() / k);
}

int ComputeFreezeControl_time(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::TONPOSOK_FC, param::Ts_S, param::FreezeControl_time);
  if (!p) return 0;
  auto [samples, ts, time] = *p;
  const double period = ts->GetValueInBaseUnit();
  return WriteScaled(*time, 0.0, kUnsigned16Max * period, period * samples->GetValueInBaseUnit());
}

// ---------------------------------------------------------------------------------------
// Scaled to chip.

int ComputeAAR_table(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::Axis_ID_list, param::AAR_table);
  if (!p) return 0;
  auto [id, table] = *p;
  const double value = id->GetValueInBaseUnit();
  return table->SetValueInBaseUnit(Truncated(value) != 0 ? value + 256.0 : 0.0);
}

int ComputeSCR(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::SCR, param::isMotorTemperatureSensor,
                          param::isDriveTemperatureSensor, param::SensorsConfiguration);
  if (!p) return 0;
  auto [scr, motor_sensor, drive_sensor, sensors] = *p;
  const CZel_Parameter* estimator = nullptr;
  if (HasSpeedEstimator(setup)) {
    estimator = setup.FindParameter(param::isSpeedEstimator);
    if (!estimator) return 0;
  }
  const SensorCode* row = SensorCodeOfConfiguration(sensors->GetValueInBaseUnit());
  if (!row) return 0;
  std::uint32_t bits = RegisterBits(*scr);
  bits = WithFlag(bits, kScrMotorTemperatureSensor, motor_sensor->GetValueInBaseUnit());
  bits = WithFlag(bits, kScrDriveTemperatureSensor, drive_sensor->GetValueInBaseUnit());
  // The firmware's register is 16 bits wide; the sensor code is written with a 16-bit
  // mask, which drops anything above.
  bits &= kRegister16Bits & ~kScrSensorMask;
  const bool estimated = row->configuration == SensorsConfiguration::EncoderOnMotor && estimator &&
                         IsFlagSet(estimator->GetValueInBaseUnit());
  bits |= estimated ? kScrEstimatorCode : row->code;
  return scr->SetValueInBaseUnit(bits);
}

int ComputeASR(CZel_Setup& setup) {
  CZel_Parameter* asr = setup.FindParameter(param::ASR);
  if (!asr) return 0;
  const CZel_Parameter* swls = nullptr;
  if (HasSoftwareLimitSwitches(setup)) swls = setup.FindParameter(param::isSWLS);
  const CZel_Parameter* polarity = nullptr;
  if (HasInputsPolarity(setup)) polarity = setup.FindParameter(param::InputsPolarityType);
  bool negative_transmission = false;
  if (hasNegTransmission(setup)) {
    auto sides = FindParameters(setup, param::Motor_transmission, param::Load_transmission);
    if (!sides) return 0;
    auto [motor, load] = *sides;
    if (load->GetValueInBaseUnit() == 0.0) return 0;
    negative_transmission = motor->GetValueInBaseUnit() / load->GetValueInBaseUnit() < 0.0;
  }
  std::uint32_t bits = RegisterBits(*asr);
  if (swls) bits = WithFlag(bits, kAsrSoftwareLimitSwitches, swls->GetValueInBaseUnit());
  if (polarity) bits = WithFlag(bits, kAsrInputsPolarityType, polarity->GetValueInBaseUnit());
  bits = WithBit(bits, kAsrNegativeTransmission, negative_transmission);
  return asr->SetValueInBaseUnit(bits);
}

int ComputeSWLimitFromNegative_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitToChip(setup, kNegativeLimit);
}
int ComputeSWLimitFromPositive_SWLS(CZel_Setup& setup) {
  return ComputeSoftwareLimitToChip(setup, kPositiveLimit);
}

int ComputeDIGIN_ACTIVE_LEVEL(CZel_Setup& setup) {
  return ComputeRegisterFromFlags(setup, param::DIGIN_ACTIVE_LEVEL, kDiginActiveLevel);
}

// The tacho's speed count per the encoder's count per slow-loop sample at the same motor
// speed.
int ComputeTRANSMISION(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::TRANSMISION, param::Tacho_gain, param::ADCResolution,
                          param::No_encoder_lines, param::AnalogueInputsRange,
                          param::Load_transmission, param::Motor_transmission);
  const auto period = ChipSlowLoopPeriod(setup);
  if (!p || !period) return 0;
  auto [ratio, tacho_gain, resolution, lines, inputs_range, load, motor] = *p;
  const double lines_v = lines->GetValueInBaseUnit();
  const double range_v = inputs_range->GetValueInBaseUnit();
  const double load_v = load->GetValueInBaseUnit();
  const double motor_v = motor->GetValueInBaseUnit();
  if (lines_v == 0.0 || range_v == 0.0 || load_v == 0.0 || motor_v == 0.0) return 0;
  return WriteChip(*ratio, tacho_gain->GetValueInBaseUnit() * resolution->GetValueInBaseUnit() *
                               2.0 * std::numbers::pi /
                               (lines_v * 4.0 * range_v * *period * load_v / motor_v));
}

int ComputeLSS_Active(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::save_CAN_baudrate, param::save_axis_id, param::LSS_Active);
  if (!p) return 0;
  auto [baud_rate, axis_id, lss] = *p;
  std::uint32_t bits = WithFlag(0, kLssSaveAxisId, axis_id->GetValueInBaseUnit());
  bits = WithFlag(bits, kLssSaveBaudRate, baud_rate->GetValueInBaseUnit());
  return lss->SetValueInBaseUnit(bits);
}

int ComputeCOUNTINGDIR(CZel_Setup& setup) {
  return ComputeChipFromFlag(setup, param::ReverseCounting, param::COUNTINGDIR);
}

int ComputeQUAL(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::isFilterEnc, param::FilterEncValue, param::QUAL,
                          param::QUAL_ACT, param::QUAL_AQ2);
  if (!p) return 0;
  auto [on, value, qual, act, aq2] = *p;
  if (!IsFlagSet(on->GetValueInBaseUnit())) return qual->SetValueInBaseUnit(0.0);
  const EncoderFilterRow row = EncoderFilterRowOf(value->GetValueInBaseUnit());
  const std::uint32_t act_bits =
      (RegisterBits(*act) & ~kQualActField) | (row.period_code << kQualActShift);
  const std::uint32_t aq2_bits = (RegisterBits(*aq2) & ~kQualAq2Fields) | row.selectors;
  return qual->SetValueInBaseUnit(1.0) & act->SetValueInBaseUnit(act_bits) &
         aq2->SetValueInBaseUnit(aq2_bits);
}

int ComputeBRAKECFG(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::MotorBrake_output, param::isMotorBrake, param::BRAKECFG);
  if (!p) return 0;
  auto [output, brake, brakecfg] = *p;
  const int pin =
      GetIOPinFromPort(&setup, static_cast<int>(Truncated(output->GetValueInBaseUnit())));
  const double present = brake->GetValueInBaseUnit() != 0.0 ? 1.0 : 0.0;
  return brakecfg->SetValueInInternalUnit(pin * 256.0 + present);
}

int ComputeBRAKEAPPLYDELAY(CZel_Setup& setup) {
  return ComputeSamplesFromTime(setup, param::MotorBrake_applytime, param::BRAKEAPPLYDELAY);
}
int ComputeBRAKERELEASEDELAY(CZel_Setup& setup) {
  return ComputeSamplesFromTime(setup, param::MotorBrake_releasetime, param::BRAKERELEASEDELAY);
}

int ComputePOSOKLIM_FC(CZel_Setup& setup) {
  auto p = FindParameters(setup, param::FreezeControl_errband, param::POSOKLIM_FC);
  if (!p) return 0;
  auto [band, counts] = *p;
  return WriteChip(*counts, band->GetValueInBaseUnit() * std::abs(LoadPositionScale(setup)));
}

int ComputeTONPOSOK_FC(CZel_Setup& setup) {
  return ComputeSamplesFromTime(setup, param::FreezeControl_time, param::TONPOSOK_FC);
}

}  // namespace dcservo
