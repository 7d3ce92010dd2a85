#pragma once
// Motor data that each value's own range lets through but that no drive can serve together:
// checked where motor data is stored and before a drive is commissioned.

#include <string>

#include "host/zel_setup.h"

namespace dcservo {

// What is implausible, naming both values of each pair and what to change ("; " between
// pairs); empty when the setup is plausible or lacks the values to judge.
std::string ImplausibleMotorData(CZel_Setup& setup);

}  // namespace dcservo
