#pragma once
// The drive's protections in both directions: thresholds and delays that the firmware
// compares in internal units and slow-loop samples, and the enable bits of `PCR` and `OSR`.

#include <span>

#include "derive/register_bits.h"
#include "derive/step.h"
#include "host/zel_setup.h"
#include "units/scales.h"

namespace dcservo {

// A step is named after the parameter it writes. Where a scaled parameter and its register
// differ only by underscores or case (`UMAX_PROT` and `UMAXPROT`), the step also names the
// layer it writes, as the two pipelines are named: ComputeScaled... and ComputeChip....

// `PCR`: one enable bit per protection. The bits that no flag owns belong to the firmware
// and survive every write.
struct PcrFlagBit {
  int bit;
  const char* flag;
  constexpr unsigned mask() const { return 1u << bit; }
};
inline constexpr unsigned kPcrKeptBits = 0xFF40;  // bit 6 and bits 8-15
std::span<const PcrFlagBit> PcrFlagBits();

// Delay registers hold this to switch a control-error protection off.
inline constexpr double kProtectionOffDelay = kUnsigned16Max;

// Chip to scaled.
StepResult ComputeIsOverVoltage(CZel_Setup& setup);
StepResult ComputeIsUnderVoltage(CZel_Setup& setup);
StepResult ComputeIsDriveOverTemp(CZel_Setup& setup);
StepResult ComputeIsDriveI2t(CZel_Setup& setup);
StepResult ComputeIsOverCurrent(CZel_Setup& setup);
// Limited to off when the drive has no motor temperature input (`DisableMotorTemperature`).
StepResult ComputeIsMotorOverTemp(CZel_Setup& setup);
StepResult ComputeIsMotorI2t(CZel_Setup& setup);
StepResult ComputeScaledUMAX_PROT(CZel_Setup& setup);
StepResult ComputeScaledUMIN_PROT(CZel_Setup& setup);
StepResult ComputeTemp_2(CZel_Setup& setup);
StepResult ComputeI_I2t_D(CZel_Setup& setup);
StepResult Computet_I2t_D(CZel_Setup& setup);
StepResult ComputeI_I2t_M(CZel_Setup& setup);
StepResult Computet_I2t_M(CZel_Setup& setup);
StepResult ComputeTestProtectionCurrent(CZel_Setup& setup);
StepResult ComputeScaledImax_Prot(CZel_Setup& setup);
StepResult Computetime_Imax_Prot(CZel_Setup& setup);
StepResult ComputeIsPositionControlError(CZel_Setup& setup);
StepResult ComputeERR_position(CZel_Setup& setup);
StepResult Computetime_ERR_pos(CZel_Setup& setup);
StepResult ComputeIsSpeedControlError(CZel_Setup& setup);
StepResult ComputeERR_speed(CZel_Setup& setup);
StepResult Computetime_ERR_spd(CZel_Setup& setup);
StepResult ComputeMotor_TempSensor_Type(CZel_Setup& setup);
StepResult ComputeIsBrakeResistor(CZel_Setup& setup);
StepResult ComputeVbrake(CZel_Setup& setup);

// Scaled to chip.
StepResult ComputeT2MAXPROT(CZel_Setup& setup);
StepResult ComputeChipUMAXPROT(CZel_Setup& setup);
StepResult ComputeChipUMINPROT(CZel_Setup& setup);
StepResult ComputeII2TPROT_D(CZel_Setup& setup);
StepResult ComputeSFI2T_D(CZel_Setup& setup);
StepResult ComputeI2TINTLIM_D(CZel_Setup& setup);
StepResult ComputeII2TWARLIM_D(CZel_Setup& setup);
StepResult ComputeMTSTYPE(CZel_Setup& setup);
StepResult ComputeOSR(CZel_Setup& setup);
StepResult ComputePCR(CZel_Setup& setup);
StepResult ComputeChipIMAXPROT(CZel_Setup& setup);
StepResult ComputeTIMAXPROT(CZel_Setup& setup);
StepResult ComputeERRMAX(CZel_Setup& setup);
StepResult ComputeTERRMAX(CZel_Setup& setup);
StepResult ComputeSERRMAX(CZel_Setup& setup);
StepResult ComputeTSERRMAX(CZel_Setup& setup);
StepResult ComputeT1MAXPROT(CZel_Setup& setup);  // always full scale
StepResult ComputeII2TPROT_M(CZel_Setup& setup);
StepResult ComputeSFI2T_M(CZel_Setup& setup);
StepResult ComputeI2TINTLIM_M(CZel_Setup& setup);
StepResult ComputeI2TWARLIM_M(CZel_Setup& setup);
StepResult ComputeBRAKELIM(CZel_Setup& setup);

}  // namespace dcservo
