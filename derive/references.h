#pragma once
// Control mode, reference source and the analogue reference chain (span, offset, dead band,
// filter), the external reference's speed and acceleration limits, the gear ratio and the
// `UPGRADE` switches, in both directions.

#include <cstdint>

#include "derive/gains.h"
#include "derive/register_bits.h"
#include "derive/register_flags.h"
#include "derive/step.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace dcservo {

// The flags that `ACR` and `UPGRADE` carry (their bits: derive/register_bits.h).
inline constexpr RegisterFlag kAcrAutoActivatedFlag{param::IsAutoActivatedAfterPowerOn,
                                                    kAcrAutoActivated};
// Type 1 is the firmware's default, so the bit marks type 0.
inline constexpr RegisterFlag kAcrDigitalReferenceTypeFlag{param::DigitalReferenceType,
                                                           kAcrDigitalReferenceType0, true};

inline constexpr RegisterFlag kUpgradeLimitMaximumFlag{param::isLimitMaximum, kUpgradeLimitMaximum};

// The analogue reference gain: a mantissa (`CADIN`) and a power-of-two shift (`SFTADIN`).
struct AnalogueReferenceGain {
  double mantissa;
  int shift;
};

// The gain that maps the converter's range onto the reference pair of the current control
// mode, signed like the position scale; 0 for a mode outside 0-2 or a setup without the
// pair.
double AnalogueReferenceScale(CZel_Setup& setup);
// A span up to 32767 is the mantissa itself; above, the smallest shift that brings it
// under. A negative span never gets a shift.
AnalogueReferenceGain SplitAnalogueReferenceScale(double span);

// Chip to scaled.
StepResult ComputeControlMode(CZel_Setup& setup);
StepResult ComputeExternalReference(CZel_Setup& setup);
StepResult ComputeIsAutoActivatedAfterPowerOn(CZel_Setup& setup);
// The range is [0, 0] on a drive without the analogue input.
StepResult ComputeIsAnalogueReference(CZel_Setup& setup);
StepResult ComputeDigitalReferenceType(CZel_Setup& setup);
StepResult ComputeIsLimitMaximum(CZel_Setup& setup);
StepResult ComputeErefMaxSpeed(CZel_Setup& setup);
StepResult ComputeErefMaxAcceleration(CZel_Setup& setup);
StepResult ComputeSpeedForward(CZel_Setup& setup);
// The analogue input group. All three reference pairs follow from the same chip values
// whatever the mode; only the pair of the current mode is the one the drive uses.
StepResult ComputeDeadBand_Point(CZel_Setup& setup);
StepResult ComputeDeadBand_Range(CZel_Setup& setup);
StepResult ComputeUseFilter(CZel_Setup& setup);
StepResult ComputeFilter(CZel_Setup& setup);
StepResult ComputePOS_min(CZel_Setup& setup);
StepResult ComputePOS_max(CZel_Setup& setup);
StepResult ComputeSPD_min(CZel_Setup& setup);
StepResult ComputeSPD_max(CZel_Setup& setup);
// Sets no range: the current limits' ranges come with `CRT_max`.
StepResult CopyAD5OFFToCRT_min(CZel_Setup& setup);
StepResult ComputeCRT_max(CZel_Setup& setup);

// Scaled to chip.
StepResult ComputeACR(CZel_Setup& setup);
StepResult ComputeCADIN(CZel_Setup& setup);
StepResult ComputeSFTADIN(CZel_Setup& setup);
StepResult ComputeAD5OFF(CZel_Setup& setup);
StepResult ComputeFILTER1(CZel_Setup& setup);
StepResult ComputeLEVEL_AD5(CZel_Setup& setup);
StepResult ComputeE_LEVEL_AD5(CZel_Setup& setup);
StepResult ComputeCACC(CZel_Setup& setup);
StepResult ComputeCSPD(CZel_Setup& setup);
StepResult ComputeGEAR(CZel_Setup& setup);
StepResult ComputeUPGRADE(CZel_Setup& setup);

}  // namespace dcservo
