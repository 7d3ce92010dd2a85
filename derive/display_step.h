#pragma once
// The resolution at which the drive holds a value, so that a value is shown no longer than
// the drive can tell apart (host/zel_format.h does the showing).

#include "host/zel_setup.h"

namespace dcservo {

// One step of the drive's value, in the quantity's base unit: one count of a value kept in
// internal units (the drive holds whole counts of it), one count of the chip register a
// scaled value is derived from (found
// by moving that register by one count through the value's own derivation step, then put
// back), 1 for a whole number kept as such. 0 when the value has no known step.
double DisplayStep(CZel_Setup& setup, const CZel_Quantity& quantity);

}  // namespace dcservo
