#pragma once

#include "host/zel_setup.h"

namespace dcservo {

// Sets [min, max] in an order that never shows the host an inverted range, even when the
// stored range is inverted already. 0 and nothing changed when min > max.
int SetParameterRange(CZel_Parameter& parameter, double min, double max);

}  // namespace dcservo
