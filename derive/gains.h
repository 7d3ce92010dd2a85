#pragma once
// The three cascaded controllers as the drive stores them: gains as a Q15 mantissa and a
// shift, output and integral limits as their distance from full scale, first-order filters
// as coefficients; and the defaults of the tuning tests that are derived from them.

#include <span>
#include <string_view>
#include <vector>

#include "derive/step.h"
#include "host/zel_setup.h"
#include "names/drive_names.h"

namespace dcservo {

// The gains kept as mantissa M and shift S, X = M x 2^S / 32767.
enum class Gain { Kp_C, Ki_C, Kp_S, Ki_S, Kp_P, Ki_P, Kd_P, KFFS, KFFA };

// The three cascaded loops, each with the gains of its own controller.
enum class TunedLoop { Current, Speed, Position };

// The one table of which registers hold each gain, in the enum's order.
struct FixedPointGain {
  Gain gain;
  const char* scaled;
  const char* mantissa;
  const char* shift;
  double max;
  // The acceleration feedforward needs more shift than one register holds: the first
  // register takes up to `split_at`, this one the rest.
  const char* second_shift = nullptr;
  int split_at = 0;

  constexpr bool HasSecondShift() const { return second_shift != nullptr; }
};

inline constexpr FixedPointGain kFixedPointGains[] = {
    {Gain::Kp_C, param::Kp_C_scl, param::KPI, param::SFTKPI, 16384},
    {Gain::Ki_C, param::Ki_C_scl, param::KII, param::SFTKII, 16384},
    {Gain::Kp_S, param::Kp_S_scl, param::KPS, param::SFTKPS, 16384},
    {Gain::Ki_S, param::Ki_S_scl, param::KIS, param::SFTKIS, 16384},
    {Gain::Kp_P, param::Kp_P_scl, param::KPP, param::SFTKPP, 16384},
    {Gain::Ki_P, param::Ki_P_scl, param::KIP, param::SFTKIP, 16384},
    {Gain::Kd_P, param::Kd_P_scl, param::KDP, param::SFTKDP, 16384},
    {Gain::KFFS, param::KFFS_scl, param::KFFS, param::SFTSFFW, 16384},
    {Gain::KFFA, param::KFFA_scl, param::KFFA, param::SFTAFFW, 4194304, param::SFTKFF, 11},
};

constexpr const FixedPointGain& FixedPointGainOf(Gain gain) {
  return kFixedPointGains[static_cast<int>(gain)];
}

// A loop's gains: Kp, Ki[, Kd].
std::span<const Gain> GainsOf(TunedLoop loop);

// The chip registers of a gain, or of every gain of a loop, in the order they are derived
// and written to a running drive: each gain's shift (both registers of a split one) before
// its mantissa, one gain after the other. The drive runs its loops while the registers
// reach it one message at a time, so for a moment it runs on a gain that is half new; the
// mantissa is the write that completes a gain, and a writer that stops at its first failure
// leaves at most that one gain half-written.
std::vector<const char*> GainWriteOrder(Gain gain);
std::vector<const char*> GainWriteOrder(TunedLoop loop);

// The mantissa register of a scaled gain ("KPI" for "Kp_C_scl"), or null for a name that
// is not a fixed-point gain.
const char* GainMantissaOf(std::string_view scaled);

// The shift that brings a gain's mantissa to at most full scale; 0 for gains up to 1.
int FixedPointShift(double gain);

StepResult ScaledGainFromChip(CZel_Setup& setup, Gain gain);
// The acceleration feedforward's first shift register holds at most 11; SFTKFF the rest.
StepResult GainShiftToChip(CZel_Setup& setup, Gain gain);
StepResult GainMantissaToChip(CZel_Setup& setup, Gain gain);

// One step per gain and direction, by the gain's table row.
template <Gain gain>
StepResult ComputeScaledGain(CZel_Setup& setup) {
  return ScaledGainFromChip(setup, gain);
}
template <Gain gain>
StepResult ComputeGainShift(CZel_Setup& setup) {
  return GainShiftToChip(setup, gain);
}
template <Gain gain>
StepResult ComputeGainMantissa(CZel_Setup& setup) {
  return GainMantissaToChip(setup, gain);
}

// Chip to scaled.
StepResult ComputeIlimPS(CZel_Setup& setup);
StepResult ComputeTestCurrent(CZel_Setup& setup);
StepResult ComputeIsUseFilterOnCrtCtrlOutput(CZel_Setup& setup);
StepResult ComputeFilterOnCurrentControllerOutput(CZel_Setup& setup);
StepResult ComputeIsCompensateGravitationalLoads(CZel_Setup& setup);
StepResult ComputeOffsetCurrent(CZel_Setup& setup);
StepResult ComputeIPSatS(CZel_Setup& setup);
StepResult ComputeTestLimitCurrent(CZel_Setup& setup);
// Jload_over_J = Jt / Jm - 1, range [0, 100].
StepResult ComputeJload_over_J(CZel_Setup& setup);
StepResult Computefilter_D(CZel_Setup& setup);
StepResult ComputeIPSatP(CZel_Setup& setup);
// Only a position controller that drives the speed loop has a speed limit; in every other
// structure the step leaves it alone and counts as done.
StepResult ComputeLimit_Speed(CZel_Setup& setup);
StepResult ComputeTestMaxSpeed(CZel_Setup& setup);

// Scaled to chip.
StepResult ComputeFILTERQ(CZel_Setup& setup);
StepResult ComputeFFL(CZel_Setup& setup);
StepResult ComputeKFFL(CZel_Setup& setup);  // always full scale
StepResult ComputeIMAXS(CZel_Setup& setup);
StepResult ComputeSATS(CZel_Setup& setup);
StepResult ComputeKDFP(CZel_Setup& setup);
StepResult ComputeIMAXP(CZel_Setup& setup);
StepResult ComputeSATP(CZel_Setup& setup);
StepResult ComputeSFTKFF(CZel_Setup& setup);

// Speed feedforward is the user's choice only for a position loop over the speed loop with
// the encoder on the motor; every other structure forces it on, in `SpeedForward` and in
// the `ACR` bit. Nothing changes when a parameter is missing (0).
StepResult ApplySpeedForwardRule(CZel_Setup& setup);

}  // namespace dcservo
