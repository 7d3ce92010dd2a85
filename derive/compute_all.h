#pragma once

#include "host/zel_setup.h"

namespace dcservo {

// Brings a whole setup into a consistent state from its chip parameters: scaled values,
// parameter ranges, control-structure options, unit types, in that order and without
// checking results between the stages. A null setup is left alone.
void ComputeAllOptions(CZel_Setup* setup);

}  // namespace dcservo
