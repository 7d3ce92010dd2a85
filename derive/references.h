#pragma once
// Control mode, reference source and the analogue reference chain (span, offset, dead band,
// filter), the external reference's speed and acceleration limits, the gear ratio and the
// `UPGRADE` switches, in both directions.

#include <cstdint>

#include "derive/gains.h"
#include "derive/register_bits.h"
#include "derive/register_flags.h"
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
int ComputeControlMode(CZel_Setup& setup);
int ComputeExternalReference(CZel_Setup& setup);
int ComputeIsAutoActivatedAfterPowerOn(CZel_Setup& setup);
// The range is [0, 0] on a drive without the analogue input.
int ComputeIsAnalogueReference(CZel_Setup& setup);
int ComputeDigitalReferenceType(CZel_Setup& setup);
int ComputeIsLimitMaximum(CZel_Setup& setup);
int ComputeErefMaxSpeed(CZel_Setup& setup);
int ComputeErefMaxAcceleration(CZel_Setup& setup);
int ComputeSpeedForward(CZel_Setup& setup);
// The analogue input group. All three reference pairs follow from the same chip values
// whatever the mode; only the pair of the current mode is the one the drive uses.
int ComputeDeadBand_Point(CZel_Setup& setup);
int ComputeDeadBand_Range(CZel_Setup& setup);
int ComputeUseFilter(CZel_Setup& setup);
int ComputeFilter(CZel_Setup& setup);
int ComputePOS_min(CZel_Setup& setup);
int ComputePOS_max(CZel_Setup& setup);
int ComputeSPD_min(CZel_Setup& setup);
int ComputeSPD_max(CZel_Setup& setup);
// Sets no range: the current limits' ranges come with `CRT_max`.
int CopyAD5OFFToCRT_min(CZel_Setup& setup);
int ComputeCRT_max(CZel_Setup& setup);

// Scaled to chip.
int ComputeACR(CZel_Setup& setup);
int ComputeCADIN(CZel_Setup& setup);
int ComputeSFTADIN(CZel_Setup& setup);
int ComputeAD5OFF(CZel_Setup& setup);
int ComputeFILTER1(CZel_Setup& setup);
int ComputeLEVEL_AD5(CZel_Setup& setup);
int ComputeE_LEVEL_AD5(CZel_Setup& setup);
int ComputeCACC(CZel_Setup& setup);
int ComputeCSPD(CZel_Setup& setup);
int ComputeGEAR(CZel_Setup& setup);
int ComputeUPGRADE(CZel_Setup& setup);

}  // namespace dcservo
