#pragma once
// Feedback sensors and temperature sensors, input polarities and type, software limit
// switches, encoder counting direction and input filter, CAN saving, the axis ID, the
// motor brake and its delays, freeze control and the tacho-to-encoder ratio, in both
// directions.

#include <cstdint>

#include "derive/register_flags.h"
#include "derive/step.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"
#include "units/drive_modes.h"

namespace dcservo {

// `SCR`, the sensor configuration register.
inline constexpr std::uint32_t kScrSensorMask = 0x003F;
// Bits 3-5 at 110 mean that speed comes from the estimator.
inline constexpr std::uint32_t kScrEstimatorMask = 0x0038;
inline constexpr std::uint32_t kScrEstimatorCode = 0x0030;
inline constexpr RegisterFlag kScrMotorTemperatureSensor{param::isMotorTemperatureSensor, 0x0080};
inline constexpr RegisterFlag kScrDriveTemperatureSensor{param::isDriveTemperatureSensor, 0x0100};

struct SensorCode {
  int configuration;   // `SensorsConfiguration`
  std::uint32_t code;  // `SCR` bits 0-5
};
// Codes the firmware does not know read back as the encoder on the motor.
inline constexpr SensorCode kSensorCodes[] = {{SensorsConfiguration::EncoderOnMotor, 0x00},
                                              {SensorsConfiguration::TachoOnMotor, 0x0F},
                                              {SensorsConfiguration::TachoAndEncoderOnLoad, 0x08}};

// `DIGIN_ACTIVE_LEVEL`: the active level of the enable and limit-switch inputs.
inline constexpr RegisterFlag kEnablePolarity{param::EnablePolarity, 0x8000};
inline constexpr RegisterFlag kLSNPolarity{param::LSNPolarity, 0x4000};
inline constexpr RegisterFlag kLSPPolarity{param::LSPPolarity, 0x2000};
inline constexpr RegisterFlag kDiginActiveLevel[] = {kEnablePolarity, kLSNPolarity, kLSPPolarity};

// `ASR`, the axis settings register.
inline constexpr RegisterFlag kAsrSoftwareLimitSwitches{param::isSWLS, 0x1000};
inline constexpr RegisterFlag kAsrInputsPolarityType{param::InputsPolarityType, 0x0004, true};
inline constexpr std::uint32_t kAsrNegativeTransmission = 0x0080;

// `LSS_Active`: a set bit keeps the drive from saving that CAN setting.
inline constexpr RegisterFlag kLssSaveAxisId{param::save_axis_id, 0x0001, true};
inline constexpr RegisterFlag kLssSaveBaudRate{param::save_CAN_baudrate, 0x0002, true};

// `BRAKECFG`: brake present, and the I/O pin of its output.
inline constexpr std::uint32_t kBrakePresent = 0x0001;
inline constexpr int kBrakePinShift = 8;
inline constexpr std::uint32_t kBrakePinField = 0xFF;

// The encoder input filter: sampling-period code in `QUAL_ACT` bits 16-23 and the three
// 2-bit qualifier selectors of `QUAL_AQ2`, by `FilterEncValue`.
inline constexpr std::uint32_t kQualActField = 0x00FF0000;
inline constexpr int kQualActShift = 16;
inline constexpr std::uint32_t kQualAq2Fields = 0xCF00;
inline constexpr std::uint32_t kQualifierCode01 = 0x4500;  // 01 in each of the three fields
inline constexpr std::uint32_t kQualifierCode10 = 0x8A00;  // 10 in each
struct EncoderFilterRow {
  std::uint32_t period_code;
  std::uint32_t selectors;
};
// Row i is `FilterEncValue` i.
inline constexpr EncoderFilterRow kEncoderFilterTable[] = {
    {0x00, kQualifierCode01}, {0x00, kQualifierCode10}, {0x01, kQualifierCode10},
    {0x03, kQualifierCode01}, {0x02, kQualifierCode10}, {0x05, kQualifierCode01},
    {0x03, kQualifierCode10}, {0x07, kQualifierCode01}, {0x04, kQualifierCode10},
    {0x09, kQualifierCode01}, {0x05, kQualifierCode10}, {0x0B, kQualifierCode01},
    {0x06, kQualifierCode10},
};
// A value outside the table switches every field off.
EncoderFilterRow EncoderFilterRowOf(double filter_enc_value);

// Chip to scaled.
StepResult ComputeIsMotorTemperatureSensor(CZel_Setup& setup);
StepResult ComputeSensorsConfiguration(CZel_Setup& setup);
StepResult ComputeIsDriveTemperatureSensor(CZel_Setup& setup);
StepResult ComputeAxis_ID_list(CZel_Setup& setup);
StepResult ComputeEnablePolarity(CZel_Setup& setup);
StepResult ComputeLSPPolarity(CZel_Setup& setup);
StepResult ComputeLSNPolarity(CZel_Setup& setup);
StepResult ComputeIsSWLS(CZel_Setup& setup);
// With a negative position scale the drive's negative limit is the user's positive one.
StepResult ComputeNegative_SWLS(CZel_Setup& setup);
StepResult ComputePositive_SWLS(CZel_Setup& setup);
StepResult ComputeIsSpeedEstimator(CZel_Setup& setup);
StepResult ComputeSave_CAN_baudrate(CZel_Setup& setup);
StepResult ComputeSave_axis_id(CZel_Setup& setup);
StepResult ComputeReverseCounting(CZel_Setup& setup);
StepResult ComputeIsFilterEnc(CZel_Setup& setup);
StepResult ComputeIsMotorBrake(CZel_Setup& setup);
StepResult ComputeMotorBrake_output(CZel_Setup& setup);
StepResult ComputeMotorBrake_releasetime(CZel_Setup& setup);
StepResult ComputeMotorBrake_applytime(CZel_Setup& setup);
// Freeze control only acts in position mode.
StepResult ComputeIsFreezeControl(CZel_Setup& setup);
StepResult ComputeFreezeControl_errband(CZel_Setup& setup);
StepResult ComputeFreezeControl_time(CZel_Setup& setup);
StepResult ComputeInputsPolarityType(CZel_Setup& setup);

// Scaled to chip.
StepResult ComputeAAR_table(CZel_Setup& setup);
StepResult ComputeSCR(CZel_Setup& setup);
StepResult ComputeASR(CZel_Setup& setup);
// The user's negative limit, into `SWNEGLS` or, with a negative position scale, `SWPOSLS`.
StepResult ComputeSWLimitFromNegative_SWLS(CZel_Setup& setup);
StepResult ComputeSWLimitFromPositive_SWLS(CZel_Setup& setup);
StepResult ComputeDIGIN_ACTIVE_LEVEL(CZel_Setup& setup);
StepResult ComputeTRANSMISION(CZel_Setup& setup);
StepResult ComputeLSS_Active(CZel_Setup& setup);
StepResult ComputeCOUNTINGDIR(CZel_Setup& setup);
// The filter registers change only while the filter is on.
StepResult ComputeQUAL(CZel_Setup& setup);
StepResult ComputeBRAKECFG(CZel_Setup& setup);
StepResult ComputeBRAKEAPPLYDELAY(CZel_Setup& setup);
StepResult ComputeBRAKERELEASEDELAY(CZel_Setup& setup);
StepResult ComputePOSOKLIM_FC(CZel_Setup& setup);
StepResult ComputeTONPOSOK_FC(CZel_Setup& setup);

}  // namespace dcservo
