#pragma once
// Presence probes (optional features of a drive, looked up with error reports off) and the
// option flags that shape the pipelines and the dialogs.

#include "host/zel_setup.h"

namespace dcservo {

int HasAnalogueInput(CZel_Setup& setup);        // variable and parameter CADIN
int HasSoftwareLimitSwitches(CZel_Setup& setup);  // isSWLS
int HasSpeedEstimator(CZel_Setup& setup);       // isSpeedEstimator
int HasCanSettings(CZel_Setup& setup);          // save_CAN_baudrate, save_axis_id
int HasMotorBrake(CZel_Setup& setup);           // BRAKECFG, isMotorBrake
int HasFreezeControl(CZel_Setup& setup);        // POSOKLIM_FC, TONPOSOK_FC
int HasInputsPolarity(CZel_Setup& setup);       // InputsPolarityType
int HasBiquadFilters(CZel_Setup& setup);        // IQREF_BQ_INI
int HasSpeedTestReference(CZel_Setup& setup);   // SpeedTestReferenceType
int HasI2tWarnings(CZel_Setup& setup);          // II2TWARLIM_D, I2TWARLIM_M
int HasSpeedForward(CZel_Setup& setup);         // SpeedForward
int HasReverseCounting(CZel_Setup& setup);      // ReverseCounting
int HasEncoderFilter(CZel_Setup& setup);        // isFilterEnc, FilterEncValue
int HasPosSpdInFastLoop(CZel_Setup& setup);     // PosSpd_in_FastLoop
// isMotorInertiaUnknown set; a setup without it knows its motor's inertia.
int IsMotorInertiaUnknown(CZel_Setup& setup);

// The minimum-period probes (Ts_C_min, Ts_S_min) are in units/timing.h.

int hasNegTransmission(const CZel_Setup& setup);
int hideEnablePolarity(const CZel_Setup& setup);
int NewDeadBand(const CZel_Setup& setup);
int DisableBrake(const CZel_Setup& setup);
int IsInputsTypeProgrammable(const CZel_Setup& setup);

}  // namespace dcservo
