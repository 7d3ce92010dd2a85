#pragma once
// The ranges of the editable parameters whose bounds depend on other parameters. The
// single rules are also run on their own: by the dialogs when a bound moves, and by the
// analogue-reference steps just before they set a value.

#include "host/zel_setup.h"

namespace dcservo {

// Every rule, in order. A missing parameter skips only its rule.
void ComputeParameterRanges(CZel_Setup& setup);

// `In` up to the motor's peak current `ImaxM`.
void SetMotorNominalCurrentMaximum(CZel_Setup& setup);

// D1: `DeadBand_Point` within the analogue input's span.
void SetDeadBandPointRange(CZel_Setup& setup);
// D2: `DeadBand_Range` from 0 to the room around the dead band point, or the whole span
// with the option `NewDeadBand`.
void SetDeadBandWidthRange(CZel_Setup& setup);

// R1 to R6: each reference limit between the fixed-point full scale (or the current and
// speed limits) and the other limit of its pair, read at the time of the call.
void SetPOS_minRange(CZel_Setup& setup);
void SetPOS_maxRange(CZel_Setup& setup);
void SetSPD_minRange(CZel_Setup& setup);
void SetSPD_maxRange(CZel_Setup& setup);
void SetCRT_minRange(CZel_Setup& setup);
void SetCRT_maxRange(CZel_Setup& setup);

}  // namespace dcservo
