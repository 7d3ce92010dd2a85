#pragma once
// The three cascaded controllers as the drive stores them: gains as a Q15 mantissa and a
// shift, output and integral limits as their distance from full scale, first-order filters
// as coefficients; and the defaults of the tuning tests that are derived from them.

#include <string_view>

#include "host/zel_setup.h"

namespace dcservo {

// The gains kept as mantissa M and shift S, X = M x 2^S / 32767.
enum class Gain { Kp_C, Ki_C, Kp_S, Ki_S, Kp_P, Ki_P, Kd_P, KFFS, KFFA };

// The mantissa register of a scaled gain ("KPI" for "Kp_C_scl"), or null for a name that
// is not a fixed-point gain.
const char* GainMantissaOf(std::string_view scaled);

// The shift that brings a gain's mantissa to at most full scale; 0 for gains up to 1.
int FixedPointShift(double gain);

int ScaledGainFromChip(CZel_Setup& setup, Gain gain);
// The acceleration feedforward's first shift register holds at most 11; SFTKFF the rest.
int GainShiftToChip(CZel_Setup& setup, Gain gain);
int GainMantissaToChip(CZel_Setup& setup, Gain gain);

// One step per gain and direction, by the gain's table row.
template <Gain gain>
int ComputeScaledGain(CZel_Setup& setup) {
  return ScaledGainFromChip(setup, gain);
}
template <Gain gain>
int ComputeGainShift(CZel_Setup& setup) {
  return GainShiftToChip(setup, gain);
}
template <Gain gain>
int ComputeGainMantissa(CZel_Setup& setup) {
  return GainMantissaToChip(setup, gain);
}

// Chip to scaled.
int ComputeIlimPS(CZel_Setup& setup);
int ComputeTestCurrent(CZel_Setup& setup);
int ComputeisUseFilterOnCrtCtrlOutput(CZel_Setup& setup);
int ComputeFilterOnCurrentControllerOutput(CZel_Setup& setup);
int ComputeisCompensateGravitationalLoads(CZel_Setup& setup);
int ComputeOffsetCurrent(CZel_Setup& setup);
int ComputeIPSatS(CZel_Setup& setup);
int ComputeTestLimitCurrent(CZel_Setup& setup);
// Jload_over_J = Jt / Jm - 1, range [0, 100].
int ComputeJload_over_J(CZel_Setup& setup);
int Computefilter_D(CZel_Setup& setup);
int ComputeIPSatP(CZel_Setup& setup);
// Only a position controller that drives the speed loop has a speed limit; in every other
// structure the step leaves it alone and counts as done.
int ComputeLimit_Speed(CZel_Setup& setup);
int ComputeTestMaxSpeed(CZel_Setup& setup);

// Scaled to chip.
int ComputeFILTERQ(CZel_Setup& setup);
int ComputeFFL(CZel_Setup& setup);
int ComputeKFFL(CZel_Setup& setup);  // always full scale
int ComputeIMAXS(CZel_Setup& setup);
int ComputeSATS(CZel_Setup& setup);
int ComputeKDFP(CZel_Setup& setup);
int ComputeIMAXP(CZel_Setup& setup);
int ComputeSATP(CZel_Setup& setup);
int ComputeSFTKFF(CZel_Setup& setup);

// Speed feedforward is the user's choice only for a position loop over the speed loop with
// the encoder on the motor; every other structure forces it on, in `SpeedForward` and in
// the `ACR` bit. Nothing changes when a parameter is missing (0).
int ApplySpeedForwardRule(CZel_Setup& setup);

}  // namespace dcservo
