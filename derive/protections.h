#pragma once
// The drive's protections in both directions: thresholds and delays that the firmware
// compares in internal units and slow-loop samples, and the enable bits of `PCR` and `OSR`.

#include <span>

#include "derive/register_bits.h"
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
int ComputeIsOverVoltage(CZel_Setup& setup);
int ComputeIsUnderVoltage(CZel_Setup& setup);
int ComputeIsDriveOverTemp(CZel_Setup& setup);
int ComputeIsDriveI2t(CZel_Setup& setup);
int ComputeIsOverCurrent(CZel_Setup& setup);
// Limited to off when the drive has no motor temperature input (`DisableMotorTemperature`).
int ComputeIsMotorOverTemp(CZel_Setup& setup);
int ComputeIsMotorI2t(CZel_Setup& setup);
int ComputeScaledUMAX_PROT(CZel_Setup& setup);
int ComputeScaledUMIN_PROT(CZel_Setup& setup);
int ComputeTemp_2(CZel_Setup& setup);
int ComputeI_I2t_D(CZel_Setup& setup);
int Computet_I2t_D(CZel_Setup& setup);
int ComputeI_I2t_M(CZel_Setup& setup);
int Computet_I2t_M(CZel_Setup& setup);
int ComputeTestProtectionCurrent(CZel_Setup& setup);
int ComputeScaledImax_Prot(CZel_Setup& setup);
int Computetime_Imax_Prot(CZel_Setup& setup);
int ComputeIsPositionControlError(CZel_Setup& setup);
int ComputeERR_position(CZel_Setup& setup);
int Computetime_ERR_pos(CZel_Setup& setup);
int ComputeIsSpeedControlError(CZel_Setup& setup);
int ComputeERR_speed(CZel_Setup& setup);
int Computetime_ERR_spd(CZel_Setup& setup);
int ComputeMotor_TempSensor_Type(CZel_Setup& setup);
int ComputeIsBrakeResistor(CZel_Setup& setup);
int ComputeVbrake(CZel_Setup& setup);

// Scaled to chip.
int ComputeT2MAXPROT(CZel_Setup& setup);
int ComputeChipUMAXPROT(CZel_Setup& setup);
int ComputeChipUMINPROT(CZel_Setup& setup);
int ComputeII2TPROT_D(CZel_Setup& setup);
int ComputeSFI2T_D(CZel_Setup& setup);
int ComputeI2TINTLIM_D(CZel_Setup& setup);
int ComputeII2TWARLIM_D(CZel_Setup& setup);
int ComputeMTSTYPE(CZel_Setup& setup);
int ComputeOSR(CZel_Setup& setup);
int ComputePCR(CZel_Setup& setup);
int ComputeChipIMAXPROT(CZel_Setup& setup);
int ComputeTIMAXPROT(CZel_Setup& setup);
int ComputeERRMAX(CZel_Setup& setup);
int ComputeTERRMAX(CZel_Setup& setup);
int ComputeSERRMAX(CZel_Setup& setup);
int ComputeTSERRMAX(CZel_Setup& setup);
int ComputeT1MAXPROT(CZel_Setup& setup);  // always full scale
int ComputeII2TPROT_M(CZel_Setup& setup);
int ComputeSFI2T_M(CZel_Setup& setup);
int ComputeI2TINTLIM_M(CZel_Setup& setup);
int ComputeI2TWARLIM_M(CZel_Setup& setup);
int ComputeBRAKELIM(CZel_Setup& setup);

}  // namespace dcservo
