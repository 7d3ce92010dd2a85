#pragma once
// Loop timing: the loop periods that everything counted per sample rests on, and the
// minimum-period check of the advanced timing.

#include <string>
#include <vector>

#include "host/zel_setup.h"

namespace dcservo {

// The loop periods as the chip timing parameters give them.
double SlowLoopPeriod(CZel_Setup& setup);  // 2 SLPER PWMPER / DSP_freq
double FastLoopPeriod(CZel_Setup& setup);  // 2 CLPER PWMPER / DSP_freq

// `UPGRADE` bit that carries `PosSpd_in_FastLoop` to the drive.
inline constexpr unsigned kUpgradePosSpdInFastLoop = 0x0040;

// The smallest allowed loop periods in base units (probed), 0.0 when the setup sets none.
double FastLoopPeriodMinimum(CZel_Setup& setup);  // Ts_C_min
double SlowLoopPeriodMinimum(CZel_Setup& setup);  // Ts_S_min

// The messages that confirming the timing must show, in order; empty when both periods are
// at or above their minimum (or the setup sets none).
std::vector<std::string> CheckMinimumPeriods(CZel_Setup& setup);

}  // namespace dcservo
